// The port's device over a pseudo-terminal: the time-out of a device wait, which the
// dispatcher thread relies on when it waits on the device itself.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "comm/posix_port_device.h"
#include "pty_helper.h"

namespace hydrix::comm {
namespace {

using Clock = std::chrono::steady_clock;

class TimedDeviceWait : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(device_.Open(pty_.SlavePath()), 0); }
    void TearDown() override { device_.Close(); }

    // WaitEvent(timeoutMs) run on a thread: true when it returned within a generous deadline.
    // A wait that does not is ended through the event mask, so that the test fails, not hangs.
    bool WaitReturns(uint32_t timeoutMs, int& result, uint32_t& events) {
        std::atomic<bool> done{false};
        std::thread waiter([&] {
            result = device_.WaitEvent(events, timeoutMs);
            done = true;
        });
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!done && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const bool returned = done;
        if (!returned) {
            device_.SetEventMask(0);
        }
        waiter.join();
        return returned;
    }

    hydrix::test::PtyPair pty_;
    PosixPortDevice device_;
};

TEST_F(TimedDeviceWait, OnAQuietLineEndsWithNoEventsWhenItsTimeIsUp) {
    device_.SetEventMask(platform::kEvRxChar | platform::kEvErr);
    int result = -1;
    uint32_t events = 0;
    ASSERT_TRUE(WaitReturns(30, result, events));
    EXPECT_EQ(result, 0);
}

TEST_F(TimedDeviceWait, ReportsBytesThatCameBeforeItsTimeIsUp) {
    device_.SetEventMask(platform::kEvRxChar | platform::kEvErr);
    ASSERT_TRUE(pty_.WriteMaster("x"));
    int result = -1;
    uint32_t events = 0;
    ASSERT_TRUE(WaitReturns(5000, result, events));
    EXPECT_EQ(events, platform::kEvRxChar);
}

TEST_F(TimedDeviceWait, OnAHungUpLineReportsOnceThenEndsWhenItsTimeIsUp) {
    device_.SetEventMask(platform::kEvRxChar | platform::kEvErr);
    pty_.CloseMaster();
    int result = -1;
    uint32_t events = 0;
    ASSERT_TRUE(WaitReturns(5000, result, events));
    ASSERT_EQ(events, platform::kEvErr);
    ASSERT_TRUE(WaitReturns(30, result, events));
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace hydrix::comm
