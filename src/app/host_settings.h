// The host software's settings key as the station reads it at start-up: through the
// settings store (Wine's user.reg), string values only, a missing value reading as "".
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "comm/exceptions.h"
#include "platform/settings_store.h"

namespace hydrix::app {

constexpr std::string_view kSettingsKey = "\\Software\\Velmar Sensors\\Tidewise\\Settings";

// A value of a type other than string or expandable string: "Invalid data type for '%s'".
class ERegistryException : public comm::Exception {
public:
    using comm::Exception::Exception;
};

class HostSettings {
public:
    // An empty prefix means the default one ($WINEPREFIX or ~/.wine).
    explicit HostSettings(const std::filesystem::path& prefix);

    // Opens the key without creating it; false when it (or the file) is missing.
    bool OpenKey();
    void CloseKey() { store_.CloseKey(); }
    bool ValueExists(std::string_view name) const { return store_.ValueExists(name); }
    // The text of a string value, "" when missing; other types raise ERegistryException.
    std::string ReadString(std::string_view name) const;
    // A directory from the settings as a path on this machine, ending in "/". Empty means
    // the root directory; a Windows path resolves through the prefix's drive links.
    std::string OutputDirectory(const std::string& configured) const;

private:
    platform::SettingsStore store_;
};

}  // namespace hydrix::app
