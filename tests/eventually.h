// Waits in tests: polls a condition until it holds, failing after a deadline, for state that
// another thread or the kernel's queues change.
//
//   ASSERT_TRUE(test::Eventually([&] { return device.InQueue() == 4; }));
#pragma once

#include <chrono>
#include <thread>

namespace hydrix::test {

template <typename Pred>
bool Eventually(Pred pred, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace hydrix::test
