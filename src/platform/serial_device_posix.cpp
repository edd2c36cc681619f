// SerialDevice on a POSIX tty (termios, ioctl, poll): line state, data, modem lines and
// device events. Every system call goes through sys::Call so that EINTR is retried in
// one place and tests can inject failures.
#include <fcntl.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/serial_device_impl.h"
#include "platform/termios2_baud.h"

namespace hydrix::platform {

int SerialDevice::GetState(DeviceState& state) const {
    Impl& d = *impl_;
    return d.WithFd([&](int fd) {
        termios t{};
        if (sys::Call(Op::TcGetAttr, [&] { return ::tcgetattr(fd, &t); }) < 0) {
            return DeviceErrorCode(errno);
        }
        DeviceState result;
        {
            std::lock_guard stateLock(d.stateMutex);
            result = d.state;
        }
        TermiosToState(t, result);
        if (SpeedToBaud(cfgetospeed(&t)) == 0) {
            uint32_t baud = 0;
            if (int r = GetActualBaud(fd, baud); r < 0) {
                return DeviceErrorCode(-r);
            }
            if (baud) {
                result.BaudRate = baud;
            }
        }
        state = result;
        return 0;
    });
}

int SerialDevice::SetState(const DeviceState& state) {
    Impl& d = *impl_;
    return d.WithFd([&](int fd) {
        std::lock_guard stateLock(d.stateMutex);
        termios t{};
        if (sys::Call(Op::TcGetAttr, [&] { return ::tcgetattr(fd, &t); }) < 0) {
            return DeviceErrorCode(errno);
        }
        const int baudKind = StateToTermios(state, t);
        if (baudKind < 0) {
            return baudKind;
        }
        if (sys::Call(Op::TcSetAttr, [&] { return ::tcsetattr(fd, TCSANOW, &t); }) < 0) {
            return DeviceErrorCode(errno);
        }
        if (baudKind == kCustomBaud) {
            if (int r = SetCustomBaud(fd, state.BaudRate); r < 0) {
                return DeviceErrorCode(-r);
            }
        }
        d.state = state;
        d.modemWatch.Rearm();
        const bool rtsToggle = state.RtsControl == DeviceState::RtsToggle;
        if (rtsToggle || d.rs485 == Rs485Kind::On) {
            if (int r = d.ApplyRs485(fd, rtsToggle); r < 0) {
                return r;
            }
        }

        // Enabled or disabled lines take their level now; handshake and toggle modes are the
        // driver's.
        int r = 0;
        if (state.DtrControl == DeviceState::DtrEnable) {
            r = d.ModemBits(fd, TIOCMBIS, TIOCM_DTR);
        }
        if (state.DtrControl == DeviceState::DtrDisable) {
            r = d.ModemBits(fd, TIOCMBIC, TIOCM_DTR);
        }
        if (r < 0) {
            return r;
        }
        if (state.RtsControl == DeviceState::RtsEnable) {
            r = d.ModemBits(fd, TIOCMBIS, TIOCM_RTS);
        }
        if (state.RtsControl == DeviceState::RtsDisable) {
            r = d.ModemBits(fd, TIOCMBIC, TIOCM_RTS);
        }
        return r;
    });
}

int SerialDevice::Read(void* buffer, size_t count) {
    Impl& d = *impl_;
    return d.WithFd([&](int fd) {
        if (count == 0) {
            return 0;
        }
        if (count > INT_MAX) {
            count = INT_MAX;
        }
        std::lock_guard rxLock(d.rxMutex);
        const ssize_t n = sys::Call(Op::Read, [&] { return ::read(fd, buffer, count); });
        if (n > 0) {
            // Bytes no event check has seen: the counters may have moved with them.
            if (n > d.rxSeen) {
                d.MarkCountersStale();
            }
            const bool tookOld = d.rxSeen > 0;
            d.rxSeen = n >= d.rxSeen ? 0 : d.rxSeen - static_cast<int>(n);
            if (tookOld && d.parkedOnOld.exchange(false)) {
                Signal(d.wakeFd);
            }
            return static_cast<int>(n);
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return 0;
        }
        // A tty reads end-of-file only after a hang-up (pseudo-terminal master closed).
        if (n == 0 || errno == EIO) {
            d.MarkHungUp(true);
            return -EIO;
        }
        return -errno;
    });
}

int SerialDevice::Write(const void* buffer, size_t count) {
    Impl& d = *impl_;
    return d.WithFd([&](int fd) {
        if (count == 0) {
            return 0;
        }
        if (count > INT_MAX) {
            count = INT_MAX;
        }
        const ssize_t n = sys::Call(Op::Write, [&] { return ::write(fd, buffer, count); });
        if (n >= 0) {
            d.writeBlocked = false;
            return static_cast<int>(n);
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            d.writeBlocked = true;
            return 0;
        }
        if (errno == EIO) {
            d.MarkHungUp(true);
        }
        return -errno;
    });
}

int SerialDevice::WaitWritable(uint32_t timeoutMs) {
    Impl& d = *impl_;
    return d.WithFd([&](int fd) {
        if (d.closing) {
            return 0;
        }
        pollfd p[2] = {{d.writeCancelFd, POLLIN, 0}, {fd, POLLOUT, 0}};
        const int timeout = timeoutMs > static_cast<uint32_t>(INT_MAX) ? -1 : static_cast<int>(timeoutMs);
        int r = sys::Poll(p, 2, 0);
        const bool atOnce = r > 0;
        if (r == 0) {
            r = d.BlockingPoll(p, 2, timeout);
        }
        if (r < 0) {
            return -errno;
        }
        if (p[0].revents & POLLIN) {
            Drain(d.writeCancelFd);
            return 0;
        }
        if (p[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            d.MarkHungUp(true);
            return -EIO;
        }
        if (!(p[1].revents & POLLOUT)) {
            return 0;
        }
        // A pseudo-terminal reports POLLOUT while its writes still fail with EAGAIN. Writable
        // at once right after a refused write is taken as that, and answered only after a short
        // pause, so that a writer whose far end reads nothing does not spin.
        if (atOnce && d.writeBlocked) {
            pollfd cancel{d.writeCancelFd, POLLIN, 0};
            const int pause = timeout < 0 ? kRecheckMs : std::min(timeout, kRecheckMs);
            if (sys::Poll(&cancel, 1, pause) < 0) {
                return -errno;
            }
            if (cancel.revents & POLLIN) {
                Drain(d.writeCancelFd);
                return 0;
            }
        }
        return 1;
    });
}

void SerialDevice::CancelWriteWait() {
    Signal(impl_->writeCancelFd);
}

int SerialDevice::EscapeFunction(int code) {
    Impl& d = *impl_;
    return d.WithFd([&](int fd) {
        switch (code) {
        case kSetRts:
            return d.ModemBits(fd, TIOCMBIS, TIOCM_RTS);
        case kClrRts:
            return d.ModemBits(fd, TIOCMBIC, TIOCM_RTS);
        case kSetDtr:
            return d.ModemBits(fd, TIOCMBIS, TIOCM_DTR);
        case kClrDtr:
            return d.ModemBits(fd, TIOCMBIC, TIOCM_DTR);
        default:
            return -EINVAL;
        }
    });
}

int SerialDevice::ModemStatus() const {
    Impl& d = *impl_;
    return d.WithFd([&](int fd) {
        // A driver without modem lines is not asked again.
        return d.noModemLines ? 0 : d.ReadSignals(fd);
    });
}

uint32_t SerialDevice::ModemChanges() {
    Impl& d = *impl_;
    return d.WithFd(
        [&](int fd) -> uint32_t {
            constexpr uint32_t kModemEvents = kEvCts | kEvDsr | kEvRlsd | kEvRing;
            const uint32_t events = d.pendingModem.fetch_and(~kModemEvents) & kModemEvents;
            // A line hung up has no more modem changes to tell.
            if (d.noModemLines || d.hungUp) {
                return events;
            }
            // Watched lines are still sampled now and then: a driver may take the wait and yet
            // never end it (a 16550 without modem-status interrupts; QEMU's in loopback).
            if (d.modemWatch.Active() && d.callsSinceSample.fetch_add(1) + 1 < kWatchedSampleCalls) {
                return events;
            }
            d.callsSinceSample = 0;
            const int signals = d.ReadSignals(fd);
            if (signals < 0) {
                return events;
            }
            const int changed = signals ^ d.sampledSignals.exchange(signals);
            return events | MapBits(static_cast<uint32_t>(changed), kLineChangeEvents);
        },
        0u);
}

void SerialDevice::Impl::StartModemState(int fd) {
    {
        std::lock_guard countLock(countMutex);
        haveCounters = ReadCounters(fd, counts);
        countersStale = false;
        pendingErrorEvents = 0;
        pendingErrors = 0;
        pendingModem = 0;
    }
    noModemLines = false;
    const int signals = ReadSignals(fd);
    sampledSignals = signals < 0 ? 0 : signals;
    callsSinceSample = 0;
    if (!noModemLines && haveCounters) {
        // Not through sys::Call: EINTR is how the watch's signal ends this wait.
        auto wait = [fd] { return ::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG); };
        modemWatch.Start(
            wait,
            [this] {
                MarkCountersStale();
                Signal(wakeFd);
            },
            [this] { MarkHungUp(true); });
    }
}

int SerialDevice::SetBreak(bool on) {
    return impl_->WithFd([&](int fd) {
        if (sys::Call(Op::Ioctl, [&] { return ::ioctl(fd, on ? TIOCSBRK : TIOCCBRK); }) < 0) {
            return IoctlFailure(errno);
        }
        return 0;
    });
}

int SerialDevice::Purge(bool input, bool output) {
    Impl& d = *impl_;
    return d.WithFd([&](int fd) {
        if (!input && !output) {
            return 0;
        }
        const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
        std::lock_guard rxLock(d.rxMutex);
        if (sys::Call(Op::TcFlush, [&] { return ::tcflush(fd, which); }) < 0) {
            return DeviceErrorCode(errno);
        }
        if (input) {
            d.rxSeen = 0;
        }
        return 0;
    });
}

int SerialDevice::QueueCount(unsigned long request) const {
    return impl_->WithFd([&](int fd) {
        int count = 0;
        if (sys::Call(Op::Ioctl, [&] { return ::ioctl(fd, request, &count); }) < 0) {
            return DeviceErrorCode(errno);
        }
        return count;
    });
}

int SerialDevice::InQueue() const {
    return QueueCount(FIONREAD);
}

int SerialDevice::OutQueue() const {
    return QueueCount(TIOCOUTQ);
}

bool SerialDevice::HungUp() const {
    return impl_->hungUp.load();
}

int SerialDevice::BlockedWaits() const {
    return impl_->blockedWaits.load();
}

uint32_t SerialDevice::TakeLineErrors() {
    Impl& d = *impl_;
    return d.WithFd(
        [&](int fd) -> uint32_t {
            std::lock_guard countLock(d.countMutex);
            d.RefreshCounters(fd);
            return std::exchange(d.pendingErrors, 0u);
        },
        0u);
}

void SerialDevice::SetEventMask(uint32_t mask) {
    Impl& d = *impl_;
    d.mask = mask;
    d.generation.fetch_add(1);
    Signal(d.wakeFd);
}

int SerialDevice::WaitEvent(uint32_t& events, uint32_t timeoutMs) {
    events = 0;
    Impl& d = *impl_;
    WaitDeadline deadline(timeoutMs);
    return d.WithFd([&](int fd) {
        // Mask changes from here on count. A stale signal left by an earlier wait costs one
        // more pass of the loop, so the wake descriptor is drained only when poll reports it.
        const uint64_t generation = d.generation.load();
        // With no bytes counted as seen, whatever the driver holds is new and shows as POLLIN:
        // the count is then first asked for once poll reports input.
        bool askCount;
        {
            std::lock_guard rxLock(d.rxMutex);
            askCount = d.rxSeen > 0;
        }
        for (;;) {
            if (d.closing || d.generation.load() != generation) {
                return 0;
            }
            const uint32_t mask = d.mask.load();
            if (mask == 0) {
                return 0;
            }

            if (d.hungUp) {
                if (!d.hangupReported.exchange(true) && (mask & kEvErr)) {
                    events = kEvErr;
                    return static_cast<int>(events);
                }
                // Nothing more will come from this line: sleep until the wait is ended.
                const int left = deadline.LeftMs();
                if (left == 0) {
                    return 0;
                }
                if (int r = d.WaitForWake(left); r < 0) {
                    return r;
                }
                continue;
            }

            uint32_t found = 0;
            bool oldBytesWaiting = false;
            if (askCount) {
                std::lock_guard rxLock(d.rxMutex);
                int count = 0;
                if (sys::Call(Op::Ioctl, [&] { return ::ioctl(fd, FIONREAD, &count); }) < 0) {
                    if (errno != EIO) {
                        return -errno;
                    }
                    d.MarkHungUp(false);
                    continue;
                }
                if (count > d.rxSeen) {
                    found |= kEvRxChar;
                    d.MarkCountersStale();
                }
                d.rxSeen = count;
                oldBytesWaiting = count > 0 && !(found & kEvRxChar);
                d.parkedOnOld = oldBytesWaiting;
            }
            found &= mask;
            found |= d.CounterEvents(fd, mask);
            if (found) {
                d.parkedOnOld = false;
                events = found;
                return static_cast<int>(events);
            }
            const int left = deadline.LeftMs();
            if (left == 0) {
                d.parkedOnOld = false;
                return 0;
            }

            // Unread bytes keep POLLIN set, so then only hang-ups are polled for (they are
            // reported whatever the requested events) and the count is re-checked shortly.
            pollfd p[2] = {{d.wakeFd, POLLIN, 0}, {fd, static_cast<short>(oldBytesWaiting ? 0 : POLLIN), 0}};
            const int pollMs = !oldBytesWaiting ? left : left < 0 ? kRecheckMs : std::min(left, kRecheckMs);
            if (d.BlockingPoll(p, 2, pollMs) < 0) {
                return -errno;
            }
            if (p[0].revents & POLLIN) {
                Drain(d.wakeFd);
            }
            if (p[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                d.MarkHungUp(false);
            }
            askCount = true;
        }
    });
}

}  // namespace hydrix::platform
