#include "platform/clock.h"

#include <algorithm>
#include <chrono>

namespace hydrix::platform {

namespace {

class SteadyClock final : public Clock {
public:
    uint32_t NowMs() const override {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<uint32_t>(ms.count());
    }
};

}  // namespace

Clock& SystemClock() {
    static SteadyClock clock;
    return clock;
}

void NewTimer(const Clock& clock, EventTimer& timer, int32_t ticks) {
    timer.StartTicks = TicksNow(clock);
    timer.ExpireTicks = timer.StartTicks + std::min(ticks, kMaxTimerTicks);
}

bool TimerExpired(const Clock& clock, const EventTimer& timer) {
    const int32_t now = TicksNow(clock);
    if (timer.ExpireTicks < now) {
        return true;
    }
    // After the millisecond clock wrapped the tick count restarts at 0; count the ticks
    // of the whole lap so that a timer running across the wrap still expires on time.
    return now < timer.StartTicks && timer.ExpireTicks < now + kTicksPerClockWrap;
}

}  // namespace hydrix::platform
