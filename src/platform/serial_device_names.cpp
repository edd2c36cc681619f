// How the port names a device: "COMn" through the Wine prefix's dosdevices links, else
// the /dev/ttyS device of that number. The serial device opens what these resolve to.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/serial_device.h"

namespace hydrix::platform {

namespace {

bool ComNumber(const std::string& name, int& number) {
    std::string rest = name;
    if (rest.rfind("\\\\.\\", 0) == 0) {
        rest.erase(0, 4);
    }
    if (rest.size() < 4 || (rest[0] != 'C' && rest[0] != 'c') || (rest[1] != 'O' && rest[1] != 'o') ||
        (rest[2] != 'M' && rest[2] != 'm')) {
        return false;
    }
    number = 0;
    for (size_t i = 3; i < rest.size(); ++i) {
        if (rest[i] < '0' || rest[i] > '9' || number > 100000) {
            return false;
        }
        number = number * 10 + (rest[i] - '0');
    }
    return true;
}

std::string WinePrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) {
        return prefix;
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        return std::string(home) + "/.wine";
    }
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) {
        return std::string(found->pw_dir) + "/.wine";
    }
    return ".wine";
}

}  // namespace

std::string SerialDevice::ComPortPath(int comNumber) {
    if (comNumber < 1) {
        return {};
    }
    const std::string link = WinePrefix() + "/dosdevices/com" + std::to_string(comNumber);
    // lstat: a configured link whose target is missing (an unplugged adapter) must fail as
    // "does not exist" rather than fall back to some other port.
    struct stat info {};
    if (::lstat(link.c_str(), &info) == 0) {
        return link;
    }
    return "/dev/ttyS" + std::to_string(comNumber - 1);
}

std::string SerialDevice::ResolveDeviceName(const std::string& name) {
    int number = 0;
    return ComNumber(name, number) ? ComPortPath(number) : name;
}

}  // namespace hydrix::platform
