#include "app/host_settings.h"

namespace hydrix::app {

HostSettings::HostSettings(const std::filesystem::path& prefix) : store_(prefix) {}

std::string HostSettings::OutputDirectory(const std::string& configured) const {
    // Empty is "\", the root of the current drive, which for a program started normally
    // is C: (the prefix's drive link), as for every Windows path without a drive letter.
    std::string dir = store_.ResolvePath(configured.empty() ? std::string("\\") : configured).string();
    if (dir.empty() || dir.back() != '/') {
        dir.push_back('/');
    }
    return dir;
}

}  // namespace hydrix::app
