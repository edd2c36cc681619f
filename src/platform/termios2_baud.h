// Baud rates that no B-constant names reach the tty through termios2 (BOTHER). Kept apart
// because <asm/termbits.h> cannot share a translation unit with <termios.h>.
#pragma once

#include <cstdint>

namespace hydrix::platform {

// Sets input and output speed of the open tty fd to baud, leaving every other setting.
// 0 or -errno.
int SetCustomBaud(int fd, uint32_t baud);
// The output speed the driver holds, whatever way it was set. 0 or -errno.
int GetActualBaud(int fd, uint32_t& baud);

}  // namespace hydrix::platform
