// A clock for code that waits by looking at the clock in a loop: once started, every look
// moves it on by a step and is counted, so that a bounded wait runs out after a known
// number of looks, without the test sleeping or racing the waiter.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace hydrix::test {

class SteppingClock final : public platform::Clock {
public:
    explicit SteppingClock(uint32_t startMs) : now_(startMs) {}
    uint32_t NowMs() const override {
        const uint32_t step = stepMs_.load();
        if (step == 0) {
            return now_;
        }
        ++looks_;
        return now_ += step;
    }
    void Start(uint32_t stepMs) { stepMs_ = stepMs; }
    int Looks() const { return looks_; }

private:
    mutable std::atomic<uint32_t> now_;
    mutable std::atomic<int> looks_{0};
    std::atomic<uint32_t> stepMs_{0};
};

}  // namespace hydrix::test
