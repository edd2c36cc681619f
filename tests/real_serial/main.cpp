// The real-driver checks: GoogleTest, and two tools for the tier's other checks.
// "--try-open PATH" opens PATH as the station does and prints the result code and the holder
// it names (the in-use check needs a second process). "--pull-adapter PATH" asks the host
// to pull the USB adapter behind PATH out and returns once the kernel has hung the tty up,
// printing that moment as bash's EPOCHREALTIME would (the unplug is timed from it).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/serial_device.h"

namespace {

int PullAdapter(const char* path) {
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::perror(path);
        return 1;
    }
    if (FILE* console = std::fopen("/dev/console", "w")) {
        std::fputs("hydrix-guest: pull the adapter\n", console);
        std::fclose(console);
    }
    // A USB adapter's driver ends this wait with EIO when the adapter goes; on a tty
    // already hung up it fails with EIO at once.
    int r;
    do {
        r = ::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG);
    } while (r == 0 || errno == EINTR);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const long long us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    std::printf("%lld.%06lld\n", us / 1000000, us % 1000000);
    ::close(fd);
    return errno == EIO ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--try-open") {
        hydrix::platform::SerialDevice device;
        const int rc = device.Open(argv[2]);
        std::printf("%d %s\n", rc, device.LastHolder().c_str());
        return 0;
    }
    if (argc == 3 && std::string(argv[1]) == "--pull-adapter") {
        return PullAdapter(argv[2]);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
