#include "app/host_settings.h"

namespace hydrix::app {

namespace {
platform::SettingsStore MakeStore(const std::filesystem::path& prefix) {
    return prefix.empty() ? platform::SettingsStore() : platform::SettingsStore(prefix);
}
}  // namespace

HostSettings::HostSettings(const std::filesystem::path& prefix) : store_(MakeStore(prefix)) {}

bool HostSettings::OpenKey() {
    return store_.OpenKey(kSettingsKey);
}

std::string HostSettings::ReadString(std::string_view name) const {
    const auto value = store_.ReadValue(name);
    if (!value) {
        return "";
    }
    if (!value->IsString()) {
        throw ERegistryException("Invalid data type for '" + std::string(name) + "'");
    }
    return value->text;
}

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
