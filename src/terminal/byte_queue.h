// Growable first-in first-out byte buffer. The terminal control keeps the bytes taken
// from its com port (and text written by the program) here until its emulator has
// interpreted them; the port reader writes straight into the block via Reserve/Commit.
#pragma once

#include <cstdint>
#include <memory>

namespace hydrix::terminal {

class ByteQueue {
public:
    ByteQueue();

    int Count() const { return static_cast<int>(tail_ - head_); }
    int Capacity() const { return capacity_; }

    // Appends n bytes, growing as needed.
    void Put(const void* data, int n);
    // Grows until n more bytes fit and returns where they go; Commit makes them count.
    uint8_t* Reserve(int n);
    // Accounts n bytes written at the reserved address; n may not exceed the free room.
    void Commit(int n);
    // The first queued byte, when at least n bytes are queued; else the short-read error
    // (comm::Exception).
    const uint8_t* Peek(int n) const;
    // Drops n bytes from the front; the short-read error when fewer are queued.
    void Remove(int n);
    void Clear() { tail_ = head_; }
    // Reallocates to max(n, Count) rounded up to a multiple of 64; content is kept.
    void SetCapacity(int n);

    // Largest capacity the queue grows to (a multiple of 64 in the positive 32-bit range).
    static constexpr int kMaxCapacity = 0x7FFFFFC0;

private:
    void Grow(int n);
    void CheckRead(int n) const;

    std::unique_ptr<uint8_t[]> block_;  // 2 x capacity bytes; head_ is always its start
    uint8_t* head_ = nullptr;
    uint8_t* tail_ = nullptr;
    int capacity_ = 0;
};

}  // namespace hydrix::terminal
