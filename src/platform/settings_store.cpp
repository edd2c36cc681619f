#include "platform/settings_store.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace hydrix::platform {
namespace {

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) {
        return home;
    }
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        return pw->pw_dir;
    }
    return "/";
}

std::vector<std::string> SplitComponents(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("\\/", start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end > start) {
            parts.emplace_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

// Appends the components to base, taking for each one an existing entry that differs
// only in ASCII case when the exact spelling is not there.
std::filesystem::path AppendMatching(std::filesystem::path base, const std::vector<std::string>& parts) {
    bool searching = true;
    for (const std::string& part : parts) {
        std::filesystem::path next = base / part;
        std::error_code ec;
        if (searching && part != "." && part != ".." && !std::filesystem::exists(next, ec)) {
            searching = false;
            const std::string folded = FoldRegName(part);
            for (std::filesystem::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
                if (FoldRegName(it->path().filename().string()) == folded) {
                    next = it->path();
                    searching = true;
                    break;
                }
            }
        }
        base = std::move(next);
    }
    return base;
}

}  // namespace

std::filesystem::path SettingsStore::DefaultPrefix() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) {
        return prefix;
    }
    return std::filesystem::path(HomeDirectory()) / ".wine";
}

SettingsStore::SettingsStore() : SettingsStore(DefaultPrefix()) {}

SettingsStore::SettingsStore(std::filesystem::path prefix)
    : prefix_(prefix.empty() ? DefaultPrefix() : std::move(prefix)) {}

bool SettingsStore::OpenKey(std::string_view key) {
    CloseKey();
    keyPath_ = key;
    if (file_.Load(RegistryFile().string()) != 0) {
        // The file missing because the whole prefix is (WINEPREFIX pointing at nothing)
        // is said as such: there is no point looking for the file.
        std::error_code ec;
        if (!std::filesystem::is_directory(prefix_, ec)) {
            error_ = RegistryFile().string() + ": the Wine prefix " + prefix_.string() +
                     (std::filesystem::exists(prefix_, ec) ? " is not a folder" : " does not exist");
        } else {
            error_ = file_.Error();
        }
        return false;
    }
    key_ = file_.FindKey(key);
    if (!key_) {
        error_ = RegistryFile().string() + ": no key \"" + std::string(key) + "\"";
        return false;
    }
    error_.clear();
    return true;
}

void SettingsStore::CloseKey() {
    key_ = nullptr;
}

bool SettingsStore::ValueExists(std::string_view name) const {
    return key_ && key_->Find(name);
}

std::optional<SettingValue> SettingsStore::ReadValue(std::string_view name) const {
    const RegValue* value = key_ ? key_->Find(name) : nullptr;
    if (!value) {
        return std::nullopt;
    }
    SettingValue out;
    out.type = value->type;
    if (out.IsString()) {
        out.text = RegValueText(*value);
    }
    return out;
}

std::filesystem::path SettingsStore::ResolvePath(std::string_view path) const {
    return ResolveWinePath(prefix_, path);
}

std::filesystem::path ResolveWinePath(const std::filesystem::path& prefix, std::string_view path) {
    if (path.starts_with("/")) {
        return std::filesystem::path(path);
    }
    if (path.starts_with("\\\\?\\") || path.starts_with("\\??\\")) {
        path.remove_prefix(4);
    }
    const std::filesystem::path devices = prefix / "dosdevices";

    if (path.starts_with("\\\\")) {
        return AppendMatching(devices / "unc", SplitComponents(path.substr(2)));
    }
    const bool hasDrive = path.size() >= 2 && path[1] == ':' &&
                          ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (hasDrive) {
        const char letter = static_cast<char>(path[0] | 0x20);
        // "C:Data" is relative to the drive's current directory, which for this program
        // is the drive's root.
        return AppendMatching(devices / (std::string(1, letter) + ":"), SplitComponents(path.substr(2)));
    }
    if (path.starts_with("\\")) {
        return AppendMatching(devices / "c:", SplitComponents(path));
    }

    std::string relative(path);
    for (char& c : relative) {
        if (c == '\\') {
            c = '/';
        }
    }
    return std::filesystem::path(relative);
}

}  // namespace hydrix::platform
