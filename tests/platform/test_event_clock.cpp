#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"

namespace hydrix::platform {
namespace {

constexpr uint32_t kLong = 20000;  // generous: only a fault reaches it

TEST(EventTest, AutoResetIsConsumedByOneWait) {
    Event e;
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
}

TEST(EventTest, ManualResetStaysSetUntilReset) {
    Event e(true, true);
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(5));
    e.Reset();
    EXPECT_FALSE(e.Wait(5));
}

TEST(EventTest, WaitAnyPrefersListOrderAndConsumesOnlyTheWinner) {
    Event a, b, manual(true);
    b.Set();
    a.Set();
    manual.Set();
    EXPECT_EQ(Event::WaitAny({&a, &b, &manual}, 0), 0);
    EXPECT_EQ(Event::WaitAny({&a, &b, &manual}, 0), 1);
    EXPECT_EQ(Event::WaitAny({&a, &b, &manual}, 0), 2);
    EXPECT_EQ(Event::WaitAny({&a, &b, &manual}, 0), 2);
    manual.Reset();
    EXPECT_EQ(Event::WaitAny({&a, &b, &manual}, 10), kWaitTimeout);
}

TEST(EventTest, WaitAnyWakesOnASetFromAnotherThread) {
    Event a, b;
    std::thread setter([&] { b.Set(); });
    EXPECT_EQ(Event::WaitAny({&a, &b}), 1);
    setter.join();
    EXPECT_FALSE(b.Wait(0));
}

// Two threads in lockstep through a pair of auto-reset events, as the com thread and
// the dispatcher thread run: no set may be lost and none counted twice.
TEST(EventTest, LockstepHandOverLosesNothing) {
    Event ready, done, stop(true);
    constexpr int kRounds = 2000;
    std::atomic<int> served{0};
    std::thread worker([&] {
        for (;;) {
            if (Event::WaitAny({&stop, &ready}, kLong) != 1) {
                return;
            }
            ++served;
            done.Set();
        }
    });
    int acknowledged = 0;
    for (int i = 0; i < kRounds; ++i) {
        ready.Set();
        acknowledged += done.Wait(kLong);
    }
    stop.Set();
    worker.join();
    EXPECT_EQ(acknowledged, kRounds);
    EXPECT_EQ(served.load(), kRounds);
}

TEST(TickTimerTest, StartAndExpiryTicks) {
    ManualClock clock(55 * 1000 + 54);
    EventTimer timer;
    NewTimer(clock, timer, 36);
    EXPECT_EQ(timer.StartTicks, 1000);
    EXPECT_EQ(timer.ExpireTicks, 1036);
    NewTimer(clock, timer, kMaxTimerTicks + 100);
    EXPECT_EQ(timer.ExpireTicks, 1000 + kMaxTimerTicks);
}

struct ExpiryCase {
    const char* name;
    uint32_t startMs;
    int32_t ticks;
    uint32_t nowMs;
    bool expired;
};

constexpr uint32_t kWrapMs = 0xFFFFFFFFu;
constexpr uint32_t kLastTickMs = (kWrapMs / kMsPerTick) * kMsPerTick;  // start of the last tick

class TimerExpiryTest : public ::testing::TestWithParam<ExpiryCase> {};

TEST_P(TimerExpiryTest, Expiry) {
    const ExpiryCase& c = GetParam();
    ManualClock clock(c.startMs);
    EventTimer timer;
    NewTimer(clock, timer, c.ticks);
    clock.Set(c.nowMs);
    EXPECT_EQ(TimerExpired(clock, timer), c.expired);
}

INSTANTIATE_TEST_SUITE_P(TickTimer, TimerExpiryTest,
                         ::testing::Values(ExpiryCase{"AtStart", 5500, 36, 5500, false},
                                           ExpiryCase{"OnTheExpiryTick", 5500, 36, 5500 + 36 * 55, false},
                                           ExpiryCase{"OneTickLater", 5500, 36, 5500 + 37 * 55, true},
                                           ExpiryCase{"ZeroTicksNextTick", 5500, 0, 5555, true},
                                           ExpiryCase{"NegativeTicks", 5500, -3, 5500, true},
                                           // Started in the last ticks of the clock's lap, expiry beyond the wrap.
                                           ExpiryCase{"WrapNotYetDue", kLastTickMs - 10 * 55, 36, 20 * 55, false},
                                           ExpiryCase{"WrapDue", kLastTickMs - 10 * 55, 36, 30 * 55, true},
                                           // Expiry tick still inside the old lap, clock wrapped before anyone looked.
                                           ExpiryCase{"WrapExpiryBeforeWrap", kLastTickMs - 40 * 55, 36, 0, true},
                                           ExpiryCase{"WrapRightAfter", kLastTickMs - 10 * 55, 10, 0, true},
                                           ExpiryCase{"WrapJustBefore", kLastTickMs - 10 * 55, 10, kLastTickMs, false}),
                         [](const ::testing::TestParamInfo<ExpiryCase>& info) { return info.param.name; });

TEST(TickTimerTest, ExpiresAcrossTheWrapWhileTheClockRuns) {
    ManualClock clock(kLastTickMs - 5 * 55);
    EventTimer timer;
    NewTimer(clock, timer, 36);
    int ticksUntilExpired = 0;
    while (!TimerExpired(clock, timer) && ticksUntilExpired < 1000) {
        clock.Advance(55);
        ++ticksUntilExpired;
    }
    // 36 whole ticks, give or take the short last tick of the lap.
    EXPECT_GE(ticksUntilExpired, 36);
    EXPECT_LE(ticksUntilExpired, 38);
}

}  // namespace
}  // namespace hydrix::platform
