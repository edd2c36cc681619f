// claim_port DEVICE [LOCK-FOLDER...]: one contender for a serial device in a process of
// its own, for the race tests. It opens the device through the platform layer when a
// byte arrives on standard input, prints the result ("<code> <holder>\n") and keeps the
// port until standard input closes. No lock folder given: no lock files at all.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/port_claim.h"
#include "platform/serial_device.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: claim_port DEVICE [LOCK-FOLDER...]\n");
        return 2;
    }
    // Whatever the test process had open (its pty master above all) is not this
    // contender's: holding the master would make it the far end of the line.
    ::close_range(3, ~0U, 0);
    hydrix::platform::SetLockFolders(std::vector<std::string>(argv + 2, argv + argc));
    char go = 0;
    if (::read(STDIN_FILENO, &go, 1) != 1) {
        return 2;
    }
    hydrix::platform::SerialDevice device;
    const int code = device.Open(argv[1]);
    std::printf("%d %s\n", code, device.LastHolder().c_str());
    std::fflush(stdout);
    while (::read(STDIN_FILENO, &go, 1) > 0) {
    }
    return 0;
}
