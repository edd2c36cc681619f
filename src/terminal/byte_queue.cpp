#include "terminal/byte_queue.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "comm/exceptions.h"

namespace hydrix::terminal {

namespace {

void CheckCount(int n, const char* what) {
    if (n < 0) {
        throw std::invalid_argument(std::string("ByteQueue.") + what + ": negative byte count");
    }
}

}  // namespace

ByteQueue::ByteQueue() {
    SetCapacity(64);
}

void ByteQueue::SetCapacity(int n) {
    const int count = Count();
    int64_t want = n > count ? n : count;
    want = (want + 63) / 64 * 64;
    if (want > kMaxCapacity) {
        want = kMaxCapacity;
    }
    if (want <= 0) {
        want = 64;
    }
    // Allocate and copy before releasing the old block, so an allocation failure leaves
    // the queue as it was.
    auto block = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(want) * 2);
    if (count > 0) {
        std::memcpy(block.get(), head_, static_cast<size_t>(count));
    }
    block_ = std::move(block);
    capacity_ = static_cast<int>(want);
    head_ = block_.get();
    tail_ = head_ + count;
}

void ByteQueue::Grow(int n) {
    const int64_t needed = static_cast<int64_t>(Count()) + n;
    if (needed > kMaxCapacity) {
        throw std::length_error("ByteQueue: queue would exceed its largest capacity");
    }
    while (capacity_ < needed) {
        SetCapacity(capacity_ > kMaxCapacity / 2 ? kMaxCapacity : capacity_ * 2);
    }
}

void ByteQueue::Put(const void* data, int n) {
    CheckCount(n, "Put");
    if (n == 0) {
        return;
    }
    Grow(n);
    std::memcpy(tail_, data, static_cast<size_t>(n));
    tail_ += n;
}

uint8_t* ByteQueue::Reserve(int n) {
    CheckCount(n, "Reserve");
    Grow(n);
    return tail_;
}

void ByteQueue::Commit(int n) {
    CheckCount(n, "Commit");
    if (n > capacity_ - Count()) {
        throw std::out_of_range("ByteQueue.Commit: more bytes than were reserved");
    }
    tail_ += n;
}

void ByteQueue::CheckRead(int n) const {
    CheckCount(n, "read");
    if (n > Count()) {
        throw comm::Exception("Not enough data in queue (" + std::to_string(Count()) +
                              " bytes) to satisfy read request (" + std::to_string(n) + " bytes)");
    }
}

const uint8_t* ByteQueue::Peek(int n) const {
    CheckRead(n);
    return head_;
}

void ByteQueue::Remove(int n) {
    CheckRead(n);
    std::memmove(head_, head_ + n, static_cast<size_t>(Count() - n));
    tail_ -= n;
}

}  // namespace hydrix::terminal
