// Ring arithmetic shared by the dispatcher's input ring (device -> readers) and
// output ring (writers -> output thread): counts, wrapping and copies in at most
// two moves. Pure functions; the dispatcher guards the positions with its locks.
#pragma once

#include <cstdint>
#include <cstring>

namespace hydrix::comm {

// The input ring is fixed, whatever queue size the port asks for.
constexpr uint32_t kInputRingSize = 8192;

// Bytes held: head is the next write, tail the next read; head == tail is empty
// unless the full flag says the writer caught up with the reader.
constexpr uint32_t RingCount(uint32_t head, uint32_t tail, uint32_t size, bool full) {
    if (head > tail) return head - tail;
    if (head < tail) return head + size - tail;
    return full ? size : 0;
}

constexpr uint32_t RingFree(uint32_t head, uint32_t tail, uint32_t size, bool full) {
    return size - RingCount(head, tail, size, full);
}

constexpr uint32_t RingAdvance(uint32_t pos, uint32_t n, uint32_t size) {
    pos += n;
    return pos >= size ? pos - size : pos;
}

// Copies count bytes from the ring starting at pos, across the end when needed.
inline void RingCopyOut(const uint8_t* ring, uint32_t size, uint32_t pos, uint8_t* dst,
                        uint32_t count) {
    const uint32_t first = count < size - pos ? count : size - pos;
    std::memcpy(dst, ring + pos, first);
    if (count > first) std::memcpy(dst + first, ring, count - first);
}

// Copies count bytes into the ring starting at pos, across the end when needed.
inline void RingCopyIn(uint8_t* ring, uint32_t size, uint32_t pos, const uint8_t* src,
                       uint32_t count) {
    const uint32_t first = count < size - pos ? count : size - pos;
    std::memcpy(ring + pos, src, first);
    if (count > first) std::memcpy(ring, src + first, count - first);
}

}  // namespace hydrix::comm
