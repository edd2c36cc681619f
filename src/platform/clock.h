// Time for the serial layer: a monotonic millisecond clock and 55 ms ticks.
// Components take a Clock& so that tests can drive time by hand instead of sleeping.
#pragma once

#include <atomic>
#include <cstdint>

namespace hydrix::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds of a monotonic clock; wraps at 2^32.
    virtual uint32_t NowMs() const = 0;
};

// The process's steady clock.
Clock& SystemClock();

// A clock that moves only when told to (tests).
class ManualClock final : public Clock {
public:
    explicit ManualClock(uint32_t startMs = 0) : now_(startMs) {}
    uint32_t NowMs() const override { return now_.load(std::memory_order_acquire); }
    void Advance(uint32_t ms) { now_.fetch_add(ms, std::memory_order_acq_rel); }
    void Set(uint32_t ms) { now_.store(ms, std::memory_order_release); }

private:
    std::atomic<uint32_t> now_;
};

constexpr uint32_t kMsPerTick = 55;
// Largest interval a tick timer holds.
constexpr int32_t kMaxTimerTicks = 39045157;
// Tick numbers in one lap of the 32-bit millisecond clock (the last tick of a lap is short).
constexpr int32_t kTicksPerClockWrap = static_cast<int32_t>(0xFFFFFFFFu / kMsPerTick) + 1;

inline int32_t TicksNow(const Clock& clock) {
    return static_cast<int32_t>(clock.NowMs() / kMsPerTick);
}

// A tick timer: start tick and expiry tick.
struct EventTimer {
    int32_t StartTicks = 0;
    int32_t ExpireTicks = 0;
};

// Starts the timer at the current tick for ticks (at most kMaxTimerTicks).
void NewTimer(const Clock& clock, EventTimer& timer, int32_t ticks);
// True once the current tick is past the expiry tick, also after the clock wrapped.
bool TimerExpired(const Clock& clock, const EventTimer& timer);

}  // namespace hydrix::platform
