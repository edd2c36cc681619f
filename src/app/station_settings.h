// The host software's five settings as the station starts with them: read from its
// settings key (Wine's user.reg) and checked, every problem found and not only the first.
// The station's start-up takes the port number and baud rate from here; a check that
// runs nothing can report the same problems.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace hydrix::app {

enum class SettingsProblemKind : uint8_t {
    HostSoftwareMissing,  // no settings file, no key, or no "ADCP COM Port" in it
    Unreadable,           // the value's line in the file cannot be read
    WrongType,            // neither a string nor an expandable string
    NotAnInteger,         // a port or baud text that is not a whole number
    BadPortNumber,        // a port number past 0..65535
    BadBaudRate,          // a baud rate that is not positive
};

struct SettingsProblem {
    SettingsProblemKind kind;
    std::string value;    // the setting's name; empty for the file or the key as a whole
    std::string message;  // what the operator is told
};

struct StationSettings {
    std::filesystem::path file;  // the user.reg looked at
    // The five texts as read, "" where missing; the port text without its first three
    // characters ("COM12" gives "12").
    std::string port;
    std::string baud;
    std::string useSoftwareBreak;
    std::string filenamePrefix;
    std::string outputDirectory;
    // The port number and baud rate, where their texts hold valid ones.
    std::optional<uint16_t> comNumber;
    std::optional<int32_t> baudRate;
    // In the order the start-up meets them: the key, each value as read, then the port
    // number and the baud rate.
    std::vector<SettingsProblem> problems;

    // The host software's settings are not there at all.
    bool HostSoftwareMissing() const;
    // The five texts were read, whatever the numbers in them.
    bool TextsRead() const;
    // Every problem's message, one a line ("\r" between them).
    std::string ProblemText() const;
    // Raises the first problem's exception (ERegistryException for a value that cannot be
    // read or has the wrong type, EConvertError for a number) with ProblemText; returns
    // when there is no problem.
    void RaiseProblems() const;
};

// Reads and checks the settings in the Wine prefix (empty: the default one).
StationSettings ReadStationSettings(const std::filesystem::path& prefix);

}  // namespace hydrix::app
