#include "comm/ring.h"

#include <algorithm>
#include <cstring>

namespace hydrix::comm {

void Ring::Allocate(uint32_t size) {
    bytes_.assign(size, 0);
    Clear();
}

void Ring::Release() {
    bytes_.clear();
    bytes_.shrink_to_fit();
    Clear();
}

void Ring::Put(const uint8_t* src, uint32_t n) {
    const uint32_t first = std::min(n, Size() - head_);
    std::memcpy(bytes_.data() + head_, src, first);
    if (n > first) {
        std::memcpy(bytes_.data(), src + first, n - first);
    }
    Commit(n);
}

void Ring::Peek(uint32_t offset, uint8_t* dst, uint32_t n) const {
    const uint32_t from = RingAdvance(tail_, offset, Size());
    const uint32_t first = std::min(n, Size() - from);
    std::memcpy(dst, bytes_.data() + from, first);
    if (n > first) {
        std::memcpy(dst + first, bytes_.data(), n - first);
    }
}

const uint8_t* Ring::OldestBlock(uint32_t& length) {
    const uint32_t size = Size();
    if (size == 0 || (!full_ && head_ == tail_)) {
        return nullptr;
    }
    if (tail_ < head_) {
        length = head_ - tail_;
        return bytes_.data() + tail_;
    }
    if (head_ == 0) {
        length = size - tail_;
        return bytes_.data() + tail_;
    }
    // The bytes wrap: the part before the head goes behind the part from the tail.
    const uint32_t count = Count();
    rotateScratch_.assign(bytes_.begin(), bytes_.begin() + head_);
    std::memmove(bytes_.data(), bytes_.data() + tail_, size - tail_);
    std::memcpy(bytes_.data() + (size - tail_), rotateScratch_.data(), head_);
    tail_ = 0;
    head_ = count == size ? 0 : count;
    length = count;
    return bytes_.data();
}

}  // namespace hydrix::comm
