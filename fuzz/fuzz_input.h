// Reads a fuzzer's input as a stream of small decisions and byte runs, so that every
// target takes its settings, splits and data from the same bytes it is handed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace hydrix::fuzz {

// A broken invariant: reported and aborted, so libFuzzer keeps the input.
inline void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return at_ >= size_; }
    size_t Left() const { return size_ - at_; }

    // The next byte, 0 once the input is used up.
    uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }
    // A number in 0..limit-1 from the next byte (limit <= 256).
    int Pick(int limit) { return limit <= 1 ? 0 : Byte() % limit; }
    uint32_t Word() {
        uint32_t w = 0;
        for (int i = 0; i < 4; ++i) {
            w = (w << 8) | Byte();
        }
        return w;
    }
    // Up to count bytes (fewer at the end of the input).
    std::string Bytes(size_t count) {
        const size_t n = std::min(count, Left());
        std::string out(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return out;
    }
    // A run whose length (0..maxLength) is the next byte.
    std::string Run(size_t maxLength) { return Bytes(Byte() % (maxLength + 1)); }
    std::string Rest() { return Bytes(Left()); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace hydrix::fuzz
