#include "comm/posix_port_device.h"

#include <cerrno>

namespace hydrix::comm {

int PosixPortDevice::Escape(int code) {
    int result = 0;
    switch (code) {
    case kSetBreak:
        result = device_.SetBreak(true);
        break;
    case kClrBreak:
        result = device_.SetBreak(false);
        break;
    case kGetBaseIrq:
        return 0;
    default:
        result = device_.EscapeFunction(code);
        break;
    }
    // Pseudo-terminals and some adapters have no modem lines or break: not an error.
    if (result == -EINVAL || result == -ENOTTY || result == -ENOTSUP) {
        return 0;
    }
    return result;
}

DriverStatus PosixPortDevice::ReadStatus() {
    DriverStatus status;
    status.Errors = device_.TakeLineErrors();
    const int waiting = device_.InQueue();
    status.InQueue = waiting > 0 ? static_cast<uint32_t>(waiting) : 0;
    return status;
}

uint32_t PosixPortDevice::OutQueue() {
    const int sending = device_.OutQueue();
    return sending > 0 ? static_cast<uint32_t>(sending) : 0;
}

}  // namespace hydrix::comm
