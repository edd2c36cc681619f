// The GUI thread's short slices are not passed on to the threads it starts afterwards
// (the port's, Qt's pools). Skipped where the kernel takes no such request.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#include "gui/gui_thread.h"

namespace hydrix::gui {
namespace {

// Runs fn on a thread of its own, so the test's thread keeps its slice.
template <typename Fn>
void OnFreshThread(Fn fn) {
    std::thread thread(fn);
    thread.join();
}

TEST(GuiThread, ThreadsStartedAfterwardsKeepTheDefaultSlice) {
    bool taken = false;
    uint64_t before = 0;
    uint64_t started = 0;
    OnFreshThread([&] {
        before = CurrentSliceUs();
        taken = RequestShortSlices();
        OnFreshThread([&] { started = CurrentSliceUs(); });
    });
    if (!taken) {
        GTEST_SKIP() << "the kernel takes no slice request";
    }
    EXPECT_EQ(started, before);
}

}  // namespace
}  // namespace hydrix::gui
