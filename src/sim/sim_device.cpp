#include "sim/sim_device.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/termios_map.h"

namespace hydrix::sim {

SimDevice::~SimDevice() {
    if (fd_ >= 0) {
        // Output the far end no longer takes (its adapter pulled out) would hold up the
        // close for the driver's closing wait, half a minute.
        ::tcflush(fd_, TCOFLUSH);
        ::close(fd_);
    }
}

int SimDevice::Open(const std::string& path, int baud) {
    speed_t speed;
    if (!platform::BaudToSpeed(static_cast<uint32_t>(baud), speed)) {
        error_ = path + ": no standard speed for " + std::to_string(baud) + " baud";
        return -EINVAL;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        error_ = path + ": " + std::strerror(err);
        return -err;
    }
    termios t{};
    int rc = ::tcgetattr(fd, &t);
    if (rc == 0) {
        platform::MakeRaw(t);
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        rc = ::tcsetattr(fd, TCSANOW, &t);
    }
    if (rc == 0) {
        rc = ::tcflush(fd, TCIOFLUSH);
    }
    if (rc != 0) {
        const int err = errno;
        error_ = path + ": raw mode: " + std::strerror(err);
        ::close(fd);
        return -err;
    }
    fd_ = fd;
    return 0;
}

}  // namespace hydrix::sim
