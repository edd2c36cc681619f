// The inside of SerialDevice on a POSIX tty, shared by the files that implement it:
// the descriptor and its lock, the wake-up descriptors that end the waits, the driver
// counters and the last state written. Not for use outside the serial device.
#pragma once

#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>

#include "platform/port_claim.h"
#include "platform/serial_device.h"
#include "platform/serial_modem_watch.h"
#include "platform/sys_call.h"
#include "platform/termios_map.h"

namespace hydrix::platform {

namespace tty_detail {

using sys::Op;

// ModemChanges samples lines that the modem watch waits on at every this many calls
// (about a second at the dispatcher's cycle).
inline constexpr int kWatchedSampleCalls = 20;

// While unread bytes sit in the driver, POLLIN stays set; the wait then re-checks the
// driver's count at this interval instead of polling for input. Also the pause before a
// doubtful "writable" (see WaitWritable).
inline constexpr int kRecheckMs = 20;

// The open path's errno as the port's codes expect it. A device file with no hardware
// behind it (most PCs have ttyS0-3 whether or not a UART is there) fails with EIO: it
// does not exist either, and nothing else may read as kOpenInUse (EIO is 5).
static_assert(kOpenNoAccess == -EACCES);

inline int OpenErrorCode(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return kOpenNoAccess;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
        return kOpenNoDevice;
    case EBUSY:
    case EWOULDBLOCK:
        return kOpenInUse;
    default:
        return -err;
    }
}

// An open device's failure: one that went away under the port (a pulled adapter) reads
// as "does not exist", never as kOpenInUse.
inline int DeviceErrorCode(int err) {
    return err == EIO || err == ENXIO || err == ENODEV ? kOpenNoDevice : -err;
}

// ioctls a driver does not have (modem lines on a pseudo-terminal) fail with these.
inline bool NotSupported(int err) {
    return err == ENOTTY || err == EINVAL;
}

// A failed ioctl's code: 0 for one the driver does not have, which is no failure.
inline int IoctlFailure(int err) {
    return NotSupported(err) ? 0 : DeviceErrorCode(err);
}

inline void Signal(int eventFd) {
    if (eventFd < 0) {
        return;
    }
    const uint64_t one = 1;
    // EAGAIN means the counter is already set, which is all a signal needs.
    sys::Call(Op::EventFd, [&] { return ::write(eventFd, &one, sizeof one); });
}

inline bool Drain(int eventFd) {
    uint64_t value;
    return sys::Call(Op::EventFd, [&] { return ::read(eventFd, &value, sizeof value); }) > 0;
}

// The kernel's RS-485 mode as this port left it.
enum class Rs485Kind : uint8_t { Off, On, Unsupported };

inline int NewEventFd() {
    return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

// What is left of a wait's time-out, in poll's terms: -1 when it has no limit. The clock
// starts at the first look, when the wait is about to block: a wait that finds its event
// at once never reads it.
class WaitDeadline {
public:
    explicit WaitDeadline(uint32_t timeoutMs) : timeoutMs_(timeoutMs) {}
    int LeftMs() {
        if (timeoutMs_ == kInfinite) {
            return -1;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!started_) {
            started_ = true;
            end_ = now + std::chrono::milliseconds(timeoutMs_);
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - now).count();
        return static_cast<int>(std::clamp<int64_t>(left, 0, INT_MAX));
    }

private:
    uint32_t timeoutMs_;
    bool started_ = false;
    std::chrono::steady_clock::time_point end_;
};

// Bits that stand for other bits (TIOCMGET's lines as kModem* bits, those as events).
struct BitPair {
    uint32_t from;
    uint32_t to;
};
inline constexpr BitPair kLineBits[] = {
    {TIOCM_CTS, kModemCts}, {TIOCM_DSR, kModemDsr}, {TIOCM_RI, kModemRing}, {TIOCM_CD, kModemDcd}};
inline constexpr BitPair kLineChangeEvents[] = {
    {kModemCts, kEvCts}, {kModemDsr, kEvDsr}, {kModemRing, kEvRing}, {kModemDcd, kEvRlsd}};

template <size_t N>
uint32_t MapBits(uint32_t bits, const BitPair (&pairs)[N]) {
    uint32_t out = 0;
    for (const BitPair& pair : pairs) {
        if (bits & pair.from) {
            out |= pair.to;
        }
    }
    return out;
}

// The bit a driver counter stands for when it moved: modem lines and line errors as
// event bits, line errors as the kCe* flags.
struct CounterBit {
    int serial_icounter_struct::*counter;
    uint32_t bit;
};
using Icount = serial_icounter_struct;
inline constexpr CounterBit kModemCounters[] = {
    {&Icount::cts, kEvCts}, {&Icount::dsr, kEvDsr}, {&Icount::dcd, kEvRlsd}, {&Icount::rng, kEvRing}};
inline constexpr CounterBit kErrorEventCounters[] = {{&Icount::brk, kEvBreak},
                                                     {&Icount::frame, kEvErr},
                                                     {&Icount::parity, kEvErr},
                                                     {&Icount::overrun, kEvErr},
                                                     {&Icount::buf_overrun, kEvErr}};
inline constexpr CounterBit kErrorFlagCounters[] = {{&Icount::buf_overrun, kCeRxOver},
                                                    {&Icount::overrun, kCeOverrun},
                                                    {&Icount::parity, kCeRxParity},
                                                    {&Icount::frame, kCeFrame},
                                                    {&Icount::brk, kCeBreak}};

// The bits of the counters that moved between was and now.
template <size_t N>
uint32_t MovedCounters(const Icount& was, const Icount& now, const CounterBit (&counters)[N]) {
    uint32_t out = 0;
    for (const CounterBit& c : counters) {
        if (now.*c.counter != was.*c.counter) {
            out |= c.bit;
        }
    }
    return out;
}

}  // namespace tty_detail

using namespace tty_detail;

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

    // Driver counters (TIOCGICOUNT) at the last read, and what moved since, until WaitEvent
    // (events), TakeLineErrors (error flags) or ModemChanges (modem lines) reports it. The
    // counters are read only once bytes came that no read has covered, or the watch saw a
    // modem change: a driver counts errors and breaks as it receives, so an idle line is
    // not asked at every dispatcher cycle.
    std::mutex countMutex;
    bool haveCounters = false;
    bool countersStale = false;
    serial_icounter_struct counts{};
    uint32_t pendingErrorEvents = 0;
    uint32_t pendingErrors = 0;
    std::atomic<uint32_t> pendingModem{0};
    // Where the driver waits for modem changes itself, the watch wakes WaitEvent; where it
    // does not, ModemChanges samples the lines and compares them with the last sample.
    ModemWatch modemWatch;
    std::atomic<int> sampledSignals{0};
    std::atomic<int> callsSinceSample{0};

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

    void MarkCountersStale() {
        std::lock_guard lock(countMutex);
        countersStale = true;
    }

    // Reads the counters if they may have moved and adds what moved to the pending sets.
    // countMutex held.
    void RefreshCounters(int fdNow) {
        serial_icounter_struct now{};
        if (!haveCounters || !std::exchange(countersStale, false) || !ReadCounters(fdNow, now)) {
            return;
        }
        pendingModem.fetch_or(MovedCounters(counts, now, kModemCounters));
        pendingErrorEvents |= MovedCounters(counts, now, kErrorEventCounters);
        pendingErrors |= MovedCounters(counts, now, kErrorFlagCounters);
        counts = now;
    }

    // Events of mask the driver's counters show and nobody has reported yet (none without
    // counters): line errors, breaks and modem changes.
    uint32_t CounterEvents(int fdNow, uint32_t mask) {
        std::lock_guard lock(countMutex);
        RefreshCounters(fdNow);
        const uint32_t events = pendingErrorEvents & mask;
        pendingErrorEvents &= ~mask;
        return events | (pendingModem.fetch_and(~mask) & mask);
    }

    // kModem* bits of the current signals, or -errno (0 without modem lines).
    int ReadSignals(int fdNow) {
        int bits = 0;
        if (sys::Call(Op::Ioctl, [&] { return ::ioctl(fdNow, TIOCMGET, &bits); }) < 0) {
            if (errno == ENOTTY) {
                noModemLines = true;
            }
            return IoctlFailure(errno);
        }
        return static_cast<int>(MapBits(static_cast<uint32_t>(bits), kLineBits));
    }

    // The modem bookkeeping of a fresh open of fd; starts the watch where the driver can
    // wait for modem changes and keeps counters (the watch reports through them).
    void StartModemState(int fd);

    // The open failed: undoes what it had done, says why in lastError and returns code.
    int OpenFailed(int fd, int err, int code, bool exclusive, const std::string& path, const std::string& what,
                   std::optional<PortHolder> found = std::nullopt);
    // The state of a fresh open of fd, whose termios is t.
    void StartFresh(int fd, const termios& t);

    // Blocks until the wake descriptor is signalled or timeoutMs (-1: no limit) passed;
    // 0 or -errno.
    int WaitForWake(int timeoutMs) {
        pollfd p{wakeFd, POLLIN, 0};
        if (BlockingPoll(&p, 1, timeoutMs) < 0) {
            return -errno;
        }
        Drain(wakeFd);
        return 0;
    }
};

}  // namespace hydrix::platform
