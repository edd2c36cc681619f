// The byte ring under the dispatcher's input ring (device -> readers) and output ring
// (writers -> output thread): head is the next write, tail the next read, and copies
// cross the end in at most two moves. Not locked: the dispatcher guards each ring.
#pragma once

#include <cstdint>
#include <vector>

namespace hydrix::comm {

// The input ring is fixed, whatever queue size the port asks for.
constexpr uint32_t kInputRingSize = 8192;

// Bytes held: head == tail is empty unless the full flag says the writer caught up
// with the reader.
constexpr uint32_t RingCount(uint32_t head, uint32_t tail, uint32_t size, bool full) {
    if (head > tail) {
        return head - tail;
    }
    if (head < tail) {
        return head + size - tail;
    }
    return full ? size : 0;
}

constexpr uint32_t RingAdvance(uint32_t pos, uint32_t n, uint32_t size) {
    pos += n;
    return pos >= size ? pos - size : pos;
}

class Ring {
public:
    // Storage of size zeroed bytes, empty.
    void Allocate(uint32_t size);
    // Frees the storage; a released ring holds nothing and has size 0.
    void Release();
    // Empty, both positions at 0.
    void Clear() {
        head_ = tail_ = 0;
        full_ = false;
    }

    bool Allocated() const { return !bytes_.empty(); }
    uint32_t Size() const { return static_cast<uint32_t>(bytes_.size()); }
    uint32_t Count() const { return RingCount(head_, tail_, Size(), full_); }
    uint32_t Free() const { return Size() - Count(); }
    bool Full() const { return full_; }
    // Set ahead of a write that takes all the room, and cleared by a purge during an offer.
    void SetFull(bool full) { full_ = full; }
    uint32_t Head() const { return head_; }
    const uint8_t* Data() const { return bytes_.data(); }

    // Room from the head to the tail, or to the end when the tail is not ahead.
    uint32_t ContiguousRoom() const { return tail_ > head_ ? tail_ - head_ : Size() - head_; }
    uint8_t* HeadPtr() { return bytes_.data() + head_; }
    // n bytes were written at the head; the ring is full when the head meets the tail.
    void Commit(uint32_t n) {
        head_ = RingAdvance(head_, n, Size());
        if (n > 0 && head_ == tail_) {
            full_ = true;
        }
    }
    // Copies n bytes in at the head and commits them; the caller has checked the room.
    void Put(const uint8_t* src, uint32_t n);

    // Copies n bytes out, starting offset bytes past the tail; the ring keeps them.
    void Peek(uint32_t offset, uint8_t* dst, uint32_t n) const;
    // The oldest n bytes are gone: the tail moves on and the ring is no longer full.
    void Consume(uint32_t n) {
        tail_ = RingAdvance(tail_, n, Size());
        full_ = false;
    }
    // The bytes held, from the tail, in one piece for one device write: bytes that wrap
    // are first rotated to the front of the ring. nullptr when nothing is held.
    const uint8_t* OldestBlock(uint32_t& length);

private:
    std::vector<uint8_t> bytes_;
    std::vector<uint8_t> rotateScratch_;
    uint32_t head_ = 0;
    uint32_t tail_ = 0;
    bool full_ = false;
};

}  // namespace hydrix::comm
