// SerialDevice on a POSIX tty (termios, ioctl, poll). Every system call goes through
// sys::Call so that EINTR is retried in one place and tests can inject failures.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <shared_mutex>

#include "platform/port_claim.h"
#include "platform/serial_device.h"
#include "platform/sys_call.h"
#include "platform/termios2_baud.h"
#include "platform/termios_map.h"

namespace hydrix::platform {

namespace {

using sys::Op;

// While unread bytes sit in the driver, POLLIN stays set; the wait then re-checks the
// driver's count at this interval instead of polling for input. Also the pause before a
// doubtful "writable" (see WaitWritable).
constexpr int kRecheckMs = 20;

// The open path's errno as the port's codes expect it: -2 does not exist, -5 in use,
// -13 no permission. A device file with no hardware behind it (most PCs have ttyS0-3
// whether or not a UART is there) fails with EIO: it does not exist either, and nothing
// else may read as -5 (EIO is 5).
int OpenErrorCode(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return -EACCES;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
        return -2;
    case EBUSY:
    case EWOULDBLOCK:
        return -5;
    default:
        return -err;
    }
}

// An open device's failure: one that went away under the port (a pulled adapter) reads
// as "does not exist", never as -5.
int DeviceErrorCode(int err) {
    return err == EIO || err == ENXIO || err == ENODEV ? -2 : -err;
}

// ioctls a driver does not have (modem lines on a pseudo-terminal) fail with these.
bool NotSupported(int err) {
    return err == ENOTTY || err == EINVAL;
}

// A failed ioctl's code: 0 for one the driver does not have, which is no failure.
int IoctlFailure(int err) {
    return NotSupported(err) ? 0 : DeviceErrorCode(err);
}

void Signal(int eventFd) {
    if (eventFd < 0) {
        return;
    }
    const uint64_t one = 1;
    // EAGAIN means the counter is already set, which is all a signal needs.
    sys::Call(Op::EventFd, [&] { return ::write(eventFd, &one, sizeof one); });
}

bool Drain(int eventFd) {
    uint64_t value;
    return sys::Call(Op::EventFd, [&] { return ::read(eventFd, &value, sizeof value); }) > 0;
}

// The kernel's RS-485 mode as this port left it.
enum class Rs485Kind : uint8_t { Off, On, Unsupported };

int NewEventFd() {
    return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

}  // namespace

struct SerialDevice::Impl {
    // Shared by every operation on the descriptor, exclusive for open and close, so that
    // no thread ever uses a descriptor number that close has released.
    std::shared_mutex fdLock;
    std::atomic<int> fd{-1};
    const int wakeFd = NewEventFd();         // ends WaitEvent
    const int writeCancelFd = NewEventFd();  // ends WaitWritable
    const int eventFdError = wakeFd < 0 || writeCancelFd < 0 ? errno : 0;
    std::string lastError;
    std::string holder;  // who held the port when the last open found it in use
    PortLock lock;

    std::atomic<uint32_t> mask{0};
    std::atomic<uint64_t> generation{0};  // moved by SetEventMask and Close
    std::atomic<bool> closing{false};
    std::atomic<bool> writeBlocked{false};  // the last write found the driver full
    std::atomic<bool> hungUp{false};
    std::atomic<bool> hangupReported{false};
    std::atomic<int> blockedWaits{0};

    // Bytes in the driver that WaitEvent has already noticed; reads subtract what they
    // take. Held across the read or FIONREAD so that both see the same driver count.
    std::mutex rxMutex;
    int rxSeen = 0;
    // A wait is parked on bytes it counts as old (polling only the wake descriptor);
    // a read that takes them wakes it, so that it goes back to polling for input.
    std::atomic<bool> parkedOnOld{false};
    // TIOCMGET failed with ENOTTY (a pseudo-terminal): the driver has no modem lines.
    std::atomic<bool> noModemLines{false};
    // The RTS-toggle mode through the driver's RS-485 support (state mutex; Close and Open
    // hold the descriptor lock alone).
    Rs485Kind rs485 = Rs485Kind::Off;

    // Driver counters (TIOCGICOUNT) at the last event check and the last TakeLineErrors.
    std::mutex countMutex;
    bool haveCounters = false;
    serial_icounter_struct eventCounts{};
    serial_icounter_struct errorCounts{};

    // The last state written: the fields termios cannot hold are read back from here.
    std::mutex stateMutex;
    DeviceState state;

    // Runs op(fd) with the descriptor held open against Close; closed when there is none.
    template <typename Op, typename Result = int>
    Result WithFd(Op op, Result closed = -EBADF) {
        std::shared_lock lock(fdLock);
        const int fdNow = fd.load();
        return fdNow < 0 ? closed : op(fdNow);
    }

    // The polls that block a wait, counted while they run.
    int BlockingPoll(pollfd* fds, nfds_t count, int timeoutMs) {
        blockedWaits.fetch_add(1);
        const int r = sys::Poll(fds, count, timeoutMs);
        blockedWaits.fetch_sub(1);
        return r;
    }

    void MarkHungUp(bool wakeWaiter) {
        if (!hungUp.exchange(true) && wakeWaiter) {
            Signal(wakeFd);
        }
    }

    int ModemBits(int fdNow, unsigned long request, int bits) {
        if (sys::Call(Op::Ioctl, [&] { return ::ioctl(fdNow, request, &bits); }) < 0) {
            return IoctlFailure(errno);
        }
        return 0;
    }

    // 0, or the error of a driver that has RS-485 and refused the change. A driver without
    // it (ENOTTY or EINVAL: pseudo-terminals, most USB adapters) is noted and left alone:
    // the mode is then recorded and ignored.
    int ApplyRs485(int fdNow, bool on) {
        if (rs485 == Rs485Kind::Unsupported) {
            return 0;
        }
        serial_rs485 config{};
        if (sys::Call(Op::Ioctl, [&] { return ::ioctl(fdNow, TIOCGRS485, &config); }) == 0) {
            config = Rs485Config(on, config);
            if (sys::Call(Op::Ioctl, [&] { return ::ioctl(fdNow, TIOCSRS485, &config); }) == 0) {
                rs485 = on ? Rs485Kind::On : Rs485Kind::Off;
                return 0;
            }
        }
        if (NotSupported(errno)) {
            rs485 = Rs485Kind::Unsupported;
            return 0;
        }
        return DeviceErrorCode(errno);
    }

    bool ReadCounters(int fdNow, serial_icounter_struct& counts) {
        return sys::Call(Op::Ioctl, [&] { return ::ioctl(fdNow, TIOCGICOUNT, &counts); }) == 0;
    }

    // Events the driver's counters show since the last check (none without counters).
    uint32_t CounterEvents(int fdNow) {
        std::lock_guard lock(countMutex);
        serial_icounter_struct now{};
        if (!haveCounters || !ReadCounters(fdNow, now)) {
            return 0;
        }
        const serial_icounter_struct& was = eventCounts;
        uint32_t events = 0;
        if (now.cts != was.cts) {
            events |= kEvCts;
        }
        if (now.dsr != was.dsr) {
            events |= kEvDsr;
        }
        if (now.dcd != was.dcd) {
            events |= kEvRlsd;
        }
        if (now.rng != was.rng) {
            events |= kEvRing;
        }
        if (now.brk != was.brk) {
            events |= kEvBreak;
        }
        if (now.frame != was.frame || now.parity != was.parity || now.overrun != was.overrun ||
            now.buf_overrun != was.buf_overrun) {
            events |= kEvErr;
        }
        eventCounts = now;
        return events;
    }

    // Blocks until the wake descriptor is signalled; 0 or -errno.
    int WaitForWake() {
        pollfd p{wakeFd, POLLIN, 0};
        if (BlockingPoll(&p, 1, -1) < 0) {
            return -errno;
        }
        Drain(wakeFd);
        return 0;
    }
};

SerialDevice::SerialDevice() : impl_(new Impl) {}

SerialDevice::~SerialDevice() {
    Close();
    if (impl_->wakeFd >= 0) {
        sys::Close(impl_->wakeFd);
    }
    if (impl_->writeCancelFd >= 0) {
        sys::Close(impl_->writeCancelFd);
    }
    delete impl_;
}

int SerialDevice::Open(const std::string& name) {
    Close();
    Impl& d = *impl_;
    std::unique_lock lock(d.fdLock);
    const std::string path = ResolveDeviceName(name);
    const std::string what = path == name ? path : name + " (" + path + ")";
    d.holder.clear();
    bool exclusive = false;

    auto fail = [&](int fd, int err, int code, std::optional<PortHolder> holder = std::nullopt) {
        // In use, yet no holder named: look for one, so the operator knows whom to ask.
        if (code == -5 && !holder) {
            struct stat info {};
            if ((fd >= 0 ? ::fstat(fd, &info) : ::stat(path.c_str(), &info)) == 0 && S_ISCHR(info.st_mode)) {
                holder = FindOtherOpener(info.st_rdev);
            }
        }
        if (exclusive) {
            ::ioctl(fd, TIOCNXCL);
        }
        if (fd >= 0) {
            sys::Close(fd);
        }
        d.lock.Release();
        switch (code) {
        case -2:
            d.lastError = "Cannot open " + what + ": the device does not exist";
            break;
        case -5:
            d.holder = holder ? holder->Describe() : std::string();
            d.lastError = "Cannot open " + what + ": the device is in use by another program" +
                          (holder ? ", " + d.holder : std::string());
            break;
        case -EACCES:
            d.lastError = "Cannot open " + what + ": permission denied; the user needs read and write access to " +
                          path + " (membership of the dialout group)";
            break;
        default:
            d.lastError = "Cannot open " + what + ": " + std::strerror(err);
            break;
        }
        return code;
    };

    if (d.eventFdError) {
        return fail(-1, d.eventFdError, -d.eventFdError);
    }

    const int fd =
        sys::Call(Op::Open, [&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) {
        return fail(-1, errno, OpenErrorCode(errno));
    }
    termios t{};
    if (sys::Call(Op::TcGetAttr, [&] { return ::tcgetattr(fd, &t); }) < 0) {
        return fail(fd, errno, OpenErrorCode(errno));
    }

    // flock keeps out a second opener that checks it (this program's other ports, root);
    // programs that take no lock are found through /proc and their lock files.
    if (sys::Call(Op::Flock, [&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) < 0) {
        return fail(fd, errno, OpenErrorCode(errno));
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode)) {
        if (auto holder = FindOtherOpener(info.st_rdev)) {
            return fail(fd, EBUSY, -5, holder);
        }
    }
    if (auto holder = d.lock.Acquire(LockFileName(path))) {
        return fail(fd, EBUSY, -5, holder);
    }
    if (sys::Call(Op::Ioctl, [&] { return ::ioctl(fd, TIOCEXCL); }) < 0) {
        return fail(fd, errno, OpenErrorCode(errno));
    }
    exclusive = true;

    MakeRaw(t);
    if (sys::Call(Op::TcSetAttr, [&] { return ::tcsetattr(fd, TCSANOW, &t); }) < 0) {
        return fail(fd, errno, OpenErrorCode(errno));
    }

    {
        std::lock_guard stateLock(d.stateMutex);
        d.state = DeviceState{};
        TermiosToState(t, d.state);
    }
    {
        std::lock_guard rxLock(d.rxMutex);
        d.rxSeen = 0;
    }
    {
        std::lock_guard countLock(d.countMutex);
        d.haveCounters = d.ReadCounters(fd, d.eventCounts);
        d.errorCounts = d.eventCounts;
    }
    d.hungUp = false;
    d.hangupReported = false;
    d.parkedOnOld = false;
    d.noModemLines = false;
    d.rs485 = Rs485Kind::Off;
    d.writeBlocked = false;
    d.mask = 0;
    Drain(d.wakeFd);
    Drain(d.writeCancelFd);
    d.lastError.clear();
    d.fd = fd;
    return 0;
}

int SerialDevice::Close() {
    Impl& d = *impl_;
    if (d.fd.load() < 0) {
        return 0;
    }
    // Release the waits before taking the descriptor away from under them.
    d.closing = true;
    d.generation.fetch_add(1);
    Signal(d.wakeFd);
    Signal(d.writeCancelFd);
    std::unique_lock lock(d.fdLock);
    const int fd = d.fd.exchange(-1);
    int result = 0;
    // The exclusive mode belongs to the tty, not to this descriptor: lift it so that the
    // next opener is not refused while some other descriptor still holds the tty.
    if (fd >= 0) {
        ::ioctl(fd, TIOCNXCL);
        // RS-485 that this port turned on is turned off again for the next program.
        if (d.rs485 == Rs485Kind::On) {
            d.ApplyRs485(fd, false);
        }
        if (sys::Close(fd) < 0) {
            result = -errno;
        }
    }
    d.lock.Release();
    Drain(d.wakeFd);
    Drain(d.writeCancelFd);
    d.mask = 0;
    d.closing = false;
    return result;
}

bool SerialDevice::IsOpen() const {
    return impl_->fd.load() >= 0;
}

const std::string& SerialDevice::LastErrorText() const {
    return impl_->lastError;
}

const std::string& SerialDevice::LastHolder() const {
    return impl_->holder;
}

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
        // Asked on every dispatcher cycle: a driver without modem lines is not asked again.
        if (d.noModemLines) {
            return 0;
        }
        int bits = 0;
        if (sys::Call(Op::Ioctl, [&] { return ::ioctl(fd, TIOCMGET, &bits); }) < 0) {
            if (errno == ENOTTY) {
                d.noModemLines = true;
            }
            return IoctlFailure(errno);
        }
        int status = 0;
        if (bits & TIOCM_CTS) {
            status |= kModemCts;
        }
        if (bits & TIOCM_DSR) {
            status |= kModemDsr;
        }
        if (bits & TIOCM_RI) {
            status |= kModemRing;
        }
        if (bits & TIOCM_CD) {
            status |= kModemDcd;
        }
        return status;
    });
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
            serial_icounter_struct now{};
            if (!d.haveCounters || !d.ReadCounters(fd, now)) {
                return 0;
            }
            const serial_icounter_struct& was = d.errorCounts;
            uint32_t errors = 0;
            if (now.buf_overrun != was.buf_overrun) {
                errors |= kCeRxOver;
            }
            if (now.overrun != was.overrun) {
                errors |= kCeOverrun;
            }
            if (now.parity != was.parity) {
                errors |= kCeRxParity;
            }
            if (now.frame != was.frame) {
                errors |= kCeFrame;
            }
            if (now.brk != was.brk) {
                errors |= kCeBreak;
            }
            d.errorCounts = now;
            return errors;
        },
        0u);
}

void SerialDevice::SetEventMask(uint32_t mask) {
    Impl& d = *impl_;
    d.mask = mask;
    d.generation.fetch_add(1);
    Signal(d.wakeFd);
}

int SerialDevice::WaitEvent(uint32_t& events) {
    events = 0;
    Impl& d = *impl_;
    return d.WithFd([&](int fd) {
        // Mask changes from here on count. A stale signal left by an earlier wait costs one
        // more pass of the loop, so the wake descriptor is drained only when poll reports it.
        const uint64_t generation = d.generation.load();
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
                if (int r = d.WaitForWake(); r < 0) {
                    return r;
                }
                continue;
            }

            uint32_t found = 0;
            bool oldBytesWaiting = false;
            {
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
                }
                d.rxSeen = count;
                oldBytesWaiting = count > 0 && !(found & kEvRxChar);
                d.parkedOnOld = oldBytesWaiting;
            }
            found |= d.CounterEvents(fd);
            found &= mask;
            if (found) {
                d.parkedOnOld = false;
                events = found;
                return static_cast<int>(events);
            }

            // Unread bytes keep POLLIN set, so then only hang-ups are polled for (they are
            // reported whatever the requested events) and the count is re-checked shortly.
            pollfd p[2] = {{d.wakeFd, POLLIN, 0}, {fd, static_cast<short>(oldBytesWaiting ? 0 : POLLIN), 0}};
            if (d.BlockingPoll(p, 2, oldBytesWaiting ? kRecheckMs : -1) < 0) {
                return -errno;
            }
            if (p[0].revents & POLLIN) {
                Drain(d.wakeFd);
            }
            if (p[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                d.MarkHungUp(false);
            }
        }
    });
}

}  // namespace hydrix::platform
