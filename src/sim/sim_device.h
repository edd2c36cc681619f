// The simulator's end of a real line: an existing serial device (the far side of a wired
// UART pair, or the serial port a USB adapter is wired to) in raw mode at a given rate,
// where a pseudo-terminal's master would otherwise be. The line driver plays on it alike.
#pragma once

#include <string>

namespace hydrix::sim {

class SimDevice {
public:
    SimDevice() = default;
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    // Opens path raw at baud, dropping whatever the driver held from before. 0 or -errno
    // (Error() says what); -EINVAL for a rate without a standard speed.
    int Open(const std::string& path, int baud);
    int Fd() const { return fd_; }
    const std::string& Error() const { return error_; }

private:
    int fd_ = -1;
    std::string error_;
};

}  // namespace hydrix::sim
