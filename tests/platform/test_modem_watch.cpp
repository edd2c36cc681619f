// The modem watch on waits that stand in for the driver's TIOCMIWAIT (pseudo-terminals have
// none): a wait only a signal ends, one that reports a change, one that finds the device
// gone and one the driver does not have.
#include <poll.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <thread>

#include "eventually.h"
#include "platform/serial_modem_watch.h"

namespace hydrix::platform {
namespace {

using namespace std::chrono_literals;
using test::Eventually;

// Blocks until a signal comes, as TIOCMIWAIT does on a quiet line; counts its entries.
struct QuietLine {
    std::atomic<int> entered{0};
    ModemWatch::DriverWait Wait() {
        return [this] {
            ++entered;
            return ::poll(nullptr, 0, -1);
        };
    }
};

TEST(ModemWatch, StopEndsAWaitThatOnlyASignalEnds) {
    QuietLine line;
    ModemWatch watch;
    watch.Start(
        line.Wait(), [] {}, [] {});
    ASSERT_TRUE(watch.Active());
    ASSERT_TRUE(Eventually([&] { return line.entered > 0; }));
    auto stopped = std::async(std::launch::async, [&] { watch.Stop(); });
    EXPECT_EQ(stopped.wait_for(5s), std::future_status::ready) << "Stop never got the thread out of its wait";
    EXPECT_FALSE(watch.Active());
}

TEST(ModemWatch, RearmEntersTheWaitAnew) {
    QuietLine line;
    ModemWatch watch;
    watch.Start(
        line.Wait(), [] {}, [] {});
    ASSERT_TRUE(Eventually([&] { return line.entered == 1; }));
    watch.Rearm();
    EXPECT_TRUE(Eventually([&] { return line.entered == 2; }));
    EXPECT_TRUE(watch.Active());
}

TEST(ModemWatch, EachChangeIsReportedAndAGoneDeviceEndsTheWatch) {
    std::atomic<int> calls{0};
    std::atomic<int> changes{0};
    std::atomic<int> gone{0};
    ModemWatch watch;
    watch.Start(
        [&] {
            if (++calls <= 2) {
                return 0;
            }
            errno = EIO;
            return -1;
        },
        [&] { ++changes; }, [&] { ++gone; });
    ASSERT_TRUE(Eventually([&] { return !watch.Active(); }));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(gone, 1);
    EXPECT_EQ(calls, 3) << "no wait after the device went";
}

TEST(ModemWatch, ADriverWithoutTheWaitLeavesTheWatchInactive) {
    std::atomic<int> gone{0};
    ModemWatch watch;
    watch.Start(
        [] {
            errno = ENOTTY;
            return -1;
        },
        [] {}, [&] { ++gone; });
    ASSERT_TRUE(Eventually([&] { return !watch.Active(); }));
    EXPECT_EQ(gone, 0) << "no such wait is not a device gone";
}

}  // namespace
}  // namespace hydrix::platform
