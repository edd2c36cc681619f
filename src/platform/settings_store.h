// The host software's per-user settings, read where Wine keeps them: $WINEPREFIX/user.reg
// (WINEPREFIX defaults to ~/.wine). The station reads the serial settings and the output
// directory through here at start-up; nothing is ever written back.
//
// A missing file, an unreadable or rejected file and a missing key all read as a missing
// key (OpenKey false; Error() says which). Malformed lines inside the file are skipped as
// RegFile describes and listed in Diagnostics().
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/reg_file.h"

namespace hydrix::platform {

struct SettingValue {
    uint32_t type = kRegNone;  // kRegSz, kRegExpandSz, kRegDword, ...
    // For the two string types the text up to its first NUL (an expandable string is not
    // expanded); empty for every other type.
    std::string text;

    bool IsString() const { return type == kRegSz || type == kRegExpandSz; }
};

class SettingsStore {
public:
    // $WINEPREFIX when set and not empty, else ~/.wine.
    static std::filesystem::path DefaultPrefix();

    SettingsStore();
    // An empty prefix means the default one.
    explicit SettingsStore(std::filesystem::path prefix);

    const std::filesystem::path& Prefix() const { return prefix_; }
    std::filesystem::path RegistryFile() const { return prefix_ / "user.reg"; }

    // Opens a key of the current user without creating it, reading the file afresh. The
    // path is backslash-separated; a leading backslash is allowed. False when the file or
    // the key is missing.
    bool OpenKey(std::string_view key);
    void CloseKey();
    bool KeyOpen() const { return key_ != nullptr; }

    // False when no key is open.
    bool ValueExists(std::string_view name) const;
    // The value with its type; nullopt when it or the key is missing.
    std::optional<SettingValue> ReadValue(std::string_view name) const;

    // Why the last OpenKey failed, naming the file: "<file>: <what was wrong>" (the file or
    // the whole prefix missing, unreadable, too large, not Wine's format, no such key);
    // empty after a successful one.
    const std::string& Error() const { return error_; }
    // Lines of the file that were skipped during the last OpenKey.
    const std::vector<RegDiagnostic>& Diagnostics() const { return file_.Diagnostics(); }
    // Those of them that stood in the key the last OpenKey looked for.
    std::vector<RegDiagnostic> KeyDiagnostics() const { return file_.KeyDiagnostics(keyPath_); }

    // A path from a setting as a path on this machine (see ResolveWinePath).
    std::filesystem::path ResolvePath(std::string_view path) const;

private:
    std::filesystem::path prefix_;
    RegFile file_;
    const RegKey* key_ = nullptr;
    std::string keyPath_;
    std::string error_;
};

// Maps a Windows path to the Linux path Wine would use in the given prefix:
// "C:\Data" -> <prefix>/dosdevices/c:/Data (through the prefix's drive link),
// "\Data" (root of the current drive) -> the same on drive C:, "\\server\share\x" ->
// <prefix>/dosdevices/unc/server/share/x, and "\\?\" or "\??\" prefixes are dropped.
// Components that do not exist with the given spelling are matched without regard to
// ASCII case against the directory's entries, as Wine looks them up; what is not found
// keeps its spelling. A path starting with "/" is a POSIX path and is returned as it is;
// any other relative path only has its backslashes turned into slashes.
std::filesystem::path ResolveWinePath(const std::filesystem::path& prefix, std::string_view path);

}  // namespace hydrix::platform
