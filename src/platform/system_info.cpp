#include "platform/system_info.h"

#include <sys/utsname.h>

namespace hydrix::platform {

std::string OperatingSystemDescription() {
    utsname name{};
    if (uname(&name) != 0) {
        return "Linux";
    }
    return std::string("Linux ") + name.release;
}

std::string LocalTimeText(std::time_t when) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        return {};
    }
    char text[32];
    std::strftime(text, sizeof text, "%d/%m/%y, %H:%M:%S", &local);
    return text;
}

std::string LocalTimeText() {
    return LocalTimeText(std::time(nullptr));
}

}  // namespace hydrix::platform
