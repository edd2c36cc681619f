#include "platform/termios2_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "platform/sys_call.h"

namespace hydrix::platform {

int SetCustomBaud(int fd, uint32_t baud) {
    termios2 t{};
    if (sys::Call(sys::Op::TcGetAttr, [&] { return ::ioctl(fd, TCGETS2, &t); }) < 0) {
        return -errno;
    }
    t.c_cflag = (t.c_cflag & ~CBAUD) | BOTHER;
    t.c_cflag = (t.c_cflag & ~(CBAUD << IBSHIFT)) | (BOTHER << IBSHIFT);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    if (sys::Call(sys::Op::TcSetAttr, [&] { return ::ioctl(fd, TCSETS2, &t); }) < 0) {
        return -errno;
    }
    return 0;
}

int GetActualBaud(int fd, uint32_t& baud) {
    termios2 t{};
    if (sys::Call(sys::Op::TcGetAttr, [&] { return ::ioctl(fd, TCGETS2, &t); }) < 0) {
        return -errno;
    }
    baud = t.c_ospeed;
    return 0;
}

}  // namespace hydrix::platform
