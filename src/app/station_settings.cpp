#include "app/station_settings.h"

#include <algorithm>
#include <optional>

#include "app/host_settings.h"
#include "app/str_util.h"
#include "platform/settings_store.h"

namespace hydrix::app {

namespace {

constexpr const char* kPortValue = "ADCP COM Port";
constexpr const char* kBaudValue = "ADCP Baud Rate";
// Lines named when the key or its port value is missing, as hints to why.
constexpr size_t kHintLines = 3;

std::string LineText(const platform::RegDiagnostic& d) {
    return "line " + std::to_string(d.line) + ": " + d.message;
}

// The skipped lines that may explain what is missing: the one of the value itself when
// there is one, else the first few.
std::string Hints(const std::vector<platform::RegDiagnostic>& lines, const std::string& value) {
    const auto own = std::find_if(lines.begin(), lines.end(), [&](const auto& d) { return d.value == value; });
    if (own != lines.end()) {
        return " (" + LineText(*own) + ")";
    }
    std::string text;
    for (size_t i = 0; i < lines.size() && i < kHintLines; ++i) {
        text += (i == 0 ? " (" : "; ") + LineText(lines[i]);
    }
    return text.empty() ? text : text + ")";
}

class Reader {
public:
    Reader(const std::filesystem::path& prefix, StationSettings& out) : store_(prefix), out_(out) {
        out_.file = store_.RegistryFile();
    }

    void Run() {
        if (!store_.OpenKey(kSettingsKey)) {
            Add(SettingsProblemKind::HostSoftwareMissing, "",
                "Settings file " + store_.Error() + Hints(store_.Diagnostics(), kPortValue));
            return;
        }
        const std::vector<platform::RegDiagnostic> skipped = store_.KeyDiagnostics();
        const bool portThere = store_.ValueExists(kPortValue);
        if (!portThere) {
            Add(SettingsProblemKind::HostSoftwareMissing, kPortValue,
                "Settings file " + out_.file.string() + ": no value \"" + kPortValue + "\" in the key \"" +
                    std::string(kSettingsKey) + "\"" + Hints(skipped, kPortValue));
        }
        const std::optional<std::string> port = Text(kPortValue, skipped);
        const std::optional<std::string> baud = Text(kBaudValue, skipped);
        out_.useSoftwareBreak = Text("Use Software Break", skipped).value_or("");
        out_.filenamePrefix = Text("Current Filename Prefix", skipped).value_or("");
        out_.outputDirectory = Text("Current Output Directory", skipped).value_or("");
        out_.port = port.value_or("");
        out_.port.erase(0, 3);
        out_.baud = baud.value_or("");
        if (port && portThere) {
            CheckPort();
        }
        // Without the port the host software is not set up: a baud rate it never wrote is
        // no problem of its own.
        if (baud && (portThere || store_.ValueExists(kBaudValue))) {
            CheckBaud();
        }
    }

private:
    void Add(SettingsProblemKind kind, const std::string& value, std::string message) {
        out_.problems.push_back({kind, value, std::move(message)});
    }

    // A string value's text ("" when missing); nothing when it cannot be used.
    std::optional<std::string> Text(const std::string& name, const std::vector<platform::RegDiagnostic>& skipped) {
        const auto value = store_.ReadValue(name);
        if (!value) {
            const auto line =
                std::find_if(skipped.begin(), skipped.end(), [&](const auto& d) { return d.value == name; });
            if (line != skipped.end() && name != kPortValue) {
                Add(SettingsProblemKind::Unreadable, name,
                    "Cannot read '" + name + "': " + out_.file.string() + " " + LineText(*line));
                return std::nullopt;
            }
            return std::string();
        }
        if (!value->IsString()) {
            Add(SettingsProblemKind::WrongType, name, "Invalid data type for '" + name + "'");
            return std::nullopt;
        }
        return value->text;
    }

    // A number past the port range would wrap onto another, existing port.
    void CheckPort() {
        try {
            const int32_t number = StrToInt(out_.port);
            if (number < 0 || number > 0xFFFF) {
                Add(SettingsProblemKind::BadPortNumber, kPortValue, "'" + out_.port + "' is not a valid port number");
                return;
            }
            out_.comNumber = static_cast<uint16_t>(number);
        } catch (const EConvertError& e) {
            Add(SettingsProblemKind::NotAnInteger, kPortValue, e.Message());
        }
    }

    // Zero would fail only at the device, and a negative rate would reach it as a huge one.
    void CheckBaud() {
        try {
            const int32_t rate = StrToInt(out_.baud);
            if (rate > 0) {
                out_.baudRate = rate;
            } else {
                Add(SettingsProblemKind::BadBaudRate, kBaudValue,
                    "'" + out_.baud + "' is not a valid baud rate ('" + kBaudValue +
                        "' must be a positive whole number)");
            }
        } catch (const EConvertError& e) {
            Add(SettingsProblemKind::NotAnInteger, kBaudValue, e.Message());
        }
    }

    platform::SettingsStore store_;
    StationSettings& out_;
};

}  // namespace

bool StationSettings::HostSoftwareMissing() const {
    return std::any_of(problems.begin(), problems.end(),
                       [](const auto& p) { return p.kind == SettingsProblemKind::HostSoftwareMissing; });
}

bool StationSettings::TextsRead() const {
    return std::none_of(problems.begin(), problems.end(), [](const auto& p) {
        return p.kind == SettingsProblemKind::HostSoftwareMissing || p.kind == SettingsProblemKind::Unreadable ||
               p.kind == SettingsProblemKind::WrongType;
    });
}

std::string StationSettings::ProblemText() const {
    std::string text;
    for (const SettingsProblem& p : problems) {
        text += (text.empty() ? "" : "\r") + p.message;
    }
    return text;
}

void StationSettings::RaiseProblems() const {
    if (problems.empty()) {
        return;
    }
    const SettingsProblemKind first = problems.front().kind;
    if (first == SettingsProblemKind::Unreadable || first == SettingsProblemKind::WrongType) {
        throw ERegistryException(ProblemText());
    }
    throw EConvertError(ProblemText());
}

StationSettings ReadStationSettings(const std::filesystem::path& prefix) {
    StationSettings settings;
    Reader(prefix, settings).Run();
    return settings;
}

}  // namespace hydrix::app
