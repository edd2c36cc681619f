// The host software's settings key as the station uses it: the key's path, the error a
// value of the wrong type raises, and the output directory resolved through the Wine
// prefix (read at step 3). The start-up reads the values through station_settings.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "comm/exceptions.h"
#include "platform/settings_store.h"

namespace hydrix::app {

constexpr std::string_view kSettingsKey = "\\Software\\Velmar Sensors\\Tidewise\\Settings";

// A value of a type other than string or expandable string: "Invalid data type for '%s'";
// also a value whose line in the file cannot be read.
class ERegistryException : public comm::Exception {
public:
    using comm::Exception::Exception;
};

class HostSettings {
public:
    // An empty prefix means the default one ($WINEPREFIX or ~/.wine).
    explicit HostSettings(const std::filesystem::path& prefix);

    // A directory from the settings as a path on this machine, ending in "/". Empty means
    // the root directory; a Windows path resolves through the prefix's drive links.
    std::string OutputDirectory(const std::string& configured) const;

private:
    platform::SettingsStore store_;
};

}  // namespace hydrix::app
