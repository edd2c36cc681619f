// SerialDevice on a POSIX tty: opening (exclusive against every other program) and
// closing. Every system call goes through sys::Call so that EINTR is retried in one
// place and tests can inject failures.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/port_probe.h"
#include "platform/serial_device_impl.h"

namespace hydrix::platform {

int SerialDevice::Impl::OpenFailed(int fd, int err, int code, bool exclusive, const std::string& path,
                                   const std::string& what, std::optional<PortHolder> found) {
    struct stat info {};
    const bool device = (fd >= 0 ? ::fstat(fd, &info) : ::stat(path.c_str(), &info)) == 0 && S_ISCHR(info.st_mode);
    if (exclusive) {
        ::ioctl(fd, TIOCNXCL);
    }
    if (fd >= 0) {
        sys::Close(fd);
    }
    lock.Release();
    // In use, yet no holder named: look for one, so the operator knows whom to ask. Only
    // now that this open has let the device go, so that the holder's own look does not
    // meet this process for longer than the contention lasted.
    if (code == kOpenInUse && !found && device) {
        found = FindOtherOpener(info.st_rdev);
    }
    const std::string notSerial = code == kOpenInUse ? std::string() : NotASerialDevice(path, err);
    if (!notSerial.empty()) {
        lastError = "Cannot open " + what + ": " + notSerial;
        return code;
    }
    switch (code) {
    case kOpenNoDevice:
        lastError = "Cannot open " + what + ": the device does not exist";
        break;
    case kOpenInUse:
        holder = found ? found->Describe() : std::string();
        lastError = "Cannot open " + what + ": the device is in use by another program" +
                    (found ? ", " + holder : std::string());
        break;
    case kOpenNoAccess:
        lastError = "Cannot open " + what + ": permission denied; the user needs read and write access to " + path +
                    " (membership of the dialout group)";
        break;
    default:
        lastError = "Cannot open " + what + ": " + std::strerror(err);
        break;
    }
    return code;
}

void SerialDevice::Impl::StartFresh(int fd, const termios& t) {
    {
        std::lock_guard stateLock(stateMutex);
        state = DeviceState{};
        TermiosToState(t, state);
    }
    {
        std::lock_guard rxLock(rxMutex);
        rxSeen = 0;
    }
    hungUp = false;
    hangupReported = false;
    parkedOnOld = false;
    rs485 = Rs485Kind::Off;
    writeBlocked = false;
    mask = 0;
    Drain(wakeFd);
    Drain(writeCancelFd);
    StartModemState(fd);
}

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
        return d.OpenFailed(fd, err, code, exclusive, path, what, std::move(holder));
    };

    if (d.eventFdError) {
        return fail(-1, d.eventFdError, -d.eventFdError);
    }

    // The lock first: a station started at the same moment then stops at the lock and
    // never opens the device, where this one's look for other users would meet it. Only
    // a device gets one: what is none fails below without leaving a lock about.
    struct stat named {};
    if (::stat(path.c_str(), &named) == 0 && S_ISCHR(named.st_mode)) {
        if (auto holder = d.lock.Acquire(LockFileName(path))) {
            return fail(-1, EBUSY, kOpenInUse, holder);
        }
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
    // A real tty opens in its driver's defaults (canonical, echo on): raw at once, so that
    // what the far end sends while the port is claimed below is neither echoed back to it
    // nor edited. A holder found below gets its settings back.
    const termios driverSettings = t;
    MakeRaw(t);
    if (sys::Call(Op::TcSetAttr, [&] { return ::tcsetattr(fd, TCSANOW, &t); }) < 0) {
        return fail(fd, errno, OpenErrorCode(errno));
    }
    auto failHeld = [&](int err, int code, std::optional<PortHolder> holder = std::nullopt) {
        ::tcsetattr(fd, TCSANOW, &driverSettings);
        return fail(fd, err, code, std::move(holder));
    };

    // flock keeps out a second opener that checks it (this program's other ports, root,
    // a station where no lock folder is writable); programs that take no lock are found
    // through /proc, once a contender that lost the flock has had a moment to let go.
    if (sys::Call(Op::Flock, [&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) < 0) {
        return failHeld(errno, OpenErrorCode(errno));
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode)) {
        if (auto holder = FindLastingOpener(info.st_rdev)) {
            return failHeld(EBUSY, kOpenInUse, holder);
        }
    }
    if (sys::Call(Op::Ioctl, [&] { return ::ioctl(fd, TIOCEXCL); }) < 0) {
        return failHeld(errno, OpenErrorCode(errno));
    }
    exclusive = true;
    // The port is ours: what arrived before it was is not for this run.
    if (sys::Call(Op::TcFlush, [&] { return ::tcflush(fd, TCIFLUSH); }) < 0) {
        return fail(fd, errno, OpenErrorCode(errno));
    }

    d.StartFresh(fd, t);
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
    d.modemWatch.Stop();
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

}  // namespace hydrix::platform
