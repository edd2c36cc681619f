#include "platform/sys_call.h"

#include <unistd.h>

#include <atomic>
#include <chrono>

namespace hydrix::platform::sys {

namespace {
std::atomic<FaultHook> g_hook{nullptr};
}

FaultHook SetFaultHook(FaultHook hook) {
    return g_hook.exchange(hook, std::memory_order_acq_rel);
}

int InjectedFault(Op op) {
    FaultHook hook = g_hook.load(std::memory_order_acquire);
    return hook ? hook(op) : 0;
}

int Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int left = timeoutMs;
    for (;;) {
        int result;
        if (int err = InjectedFault(Op::Poll)) {
            errno = err;
            result = -1;
        } else {
            result = ::poll(fds, count, left);
        }
        if (result != -1 || errno != EINTR) {
            return result;
        }
        if (timeoutMs >= 0) {
            auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            left = remaining > 0 ? static_cast<int>(remaining) : 0;
        }
    }
}

int Close(int fd) {
    return ::close(fd);
}

}  // namespace hydrix::platform::sys
