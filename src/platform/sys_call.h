// The serial device's system calls go through here: EINTR is retried in this one place,
// and tests can make a chosen kind of call fail the way the kernel would (EINTR, EAGAIN,
// EIO) without a mock device.
#pragma once

#include <poll.h>

#include <cerrno>
#include <cstdint>

namespace hydrix::platform::sys {

enum class Op : uint8_t { Open, Read, Write, Ioctl, Poll, Flock, TcGetAttr, TcSetAttr, TcFlush, EventFd, LockFile };

// Test hook: returns the errno the call should fail with, or 0 to let it run. Called
// before every attempt, so a hook that returns EINTR a few times tests the retry.
using FaultHook = int (*)(Op op);

// Installs hook (nullptr removes it); returns the previous one.
FaultHook SetFaultHook(FaultHook hook);
// The errno the installed hook asks for, or 0.
int InjectedFault(Op op);

// Runs call(), which returns -1 and sets errno on failure, until it does not fail with EINTR.
template <typename F>
auto Call(Op op, F&& call) -> decltype(call()) {
    for (;;) {
        if (int err = InjectedFault(op)) {
            errno = err;
            if (err == EINTR) {
                continue;
            }
            return -1;
        }
        auto result = call();
        if (result == -1 && errno == EINTR) {
            continue;
        }
        return result;
    }
}

// poll() retried on EINTR with the time that is left (timeoutMs < 0: no limit).
int Poll(pollfd* fds, nfds_t count, int timeoutMs);

// close() is never retried: Linux has released the descriptor even when it reports EINTR.
int Close(int fd);

// Installs a hook for the lifetime of a test scope.
class ScopedFaultHook {
public:
    explicit ScopedFaultHook(FaultHook hook) : previous_(SetFaultHook(hook)) {}
    ~ScopedFaultHook() { SetFaultHook(previous_); }
    ScopedFaultHook(const ScopedFaultHook&) = delete;
    ScopedFaultHook& operator=(const ScopedFaultHook&) = delete;

private:
    FaultHook previous_;
};

}  // namespace hydrix::platform::sys
