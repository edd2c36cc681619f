#include "app/station_check.h"

#include "app/host_settings.h"
#include "app/report.h"
#include "app/station_settings.h"
#include "platform/file_system.h"
#include "platform/port_probe.h"
#include "platform/settings_store.h"

namespace hydrix::app {

namespace {

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string BreakText(const std::string& useSoftwareBreak) {
    return useSoftwareBreak == "0" ? "a break held on the line for 5 ticks" : "the text \"=====\" and a return";
}

void CheckPort(const StationSettings& settings, StationCheck& check) {
    const std::string name = "COM" + std::to_string(*settings.comNumber);
    const platform::PortProbe probe = platform::ProbePort(name);
    std::string where = name + " is " + probe.path;
    if (!probe.device.empty() && probe.device != probe.path) {
        where += ", which leads to " + probe.device;
    }
    check.lines.push_back("Port:      " + where);
    if (probe.exists) {
        check.lines.push_back("Device:    " + std::string(probe.serial ? "a serial device" : "not a serial device") +
                              (probe.holder            ? ", held by " + probe.holder->Describe()
                               : probe.problem.empty() ? ", free, and it can be opened"
                                                       : ""));
        check.lines.push_back("Group:     the device belongs to the group " + probe.group + "; the user " + probe.user +
                              (probe.userInGroup ? " may use it" : " is not a member"));
    }
    if (!probe.problem.empty()) {
        check.problems.push_back("Cannot open " + probe.problem);
        if (check.status == 0) {
            check.status = kExitPort;
        }
    }
}

void CheckOutputFolder(const std::filesystem::path& prefix, const StationSettings& settings, StationCheck& check) {
    const std::string dir = HostSettings(prefix).OutputDirectory(settings.outputDirectory);
    check.lines.push_back("Output:    " + dir);
    if (!platform::DirectoryExists(dir)) {
        check.problems.push_back("The output folder " + dir + " does not exist (\"Output directory does not exist.\")");
    } else if (const int rc = platform::CheckReplaceable(dir + "capture.txt"); rc < 0) {
        check.problems.push_back("No file can be created in the output folder " + dir + ": " +
                                 platform::ErrorTextForErrno(rc));
    } else {
        check.lines.back() += " (a file can be created there)";
        return;
    }
    if (check.status == 0) {
        check.status = kExitConfiguration;
    }
}

}  // namespace

std::string StationCheck::Text() const {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    if (problems.empty()) {
        return text + "A run can start.\n";
    }
    text += std::to_string(problems.size()) + (problems.size() == 1 ? " problem" : " problems") +
            ", a run would end with exit status " + std::to_string(status) + ":\n";
    for (const std::string& problem : problems) {
        text += "  - " + problem + "\n";
    }
    return text;
}

StationCheck CheckStation(const std::filesystem::path& prefix) {
    StationCheck check;
    const StationSettings settings = ReadStationSettings(prefix);
    check.lines.push_back("Settings:  " + settings.file.string() + ", key " + std::string(kSettingsKey));
    for (const SettingsProblem& p : settings.problems) {
        // Line breaks of the station's own message box become line ends of their own.
        std::string message = p.message;
        for (char& c : message) {
            c = c == '\r' ? ' ' : c;
        }
        check.problems.push_back(message);
    }
    if (settings.TextsRead() && !settings.HostSoftwareMissing()) {
        check.lines.push_back("  ADCP COM Port            port " +
                              (settings.comNumber ? std::to_string(*settings.comNumber) : Quoted(settings.port) + "?"));
        check.lines.push_back("  ADCP Baud Rate           " + Quoted(settings.baud));
        check.lines.push_back("  Use Software Break       " + Quoted(settings.useSoftwareBreak) + " -> wakes with " +
                              BreakText(settings.useSoftwareBreak));
        check.lines.push_back("  Current Filename Prefix  " + Quoted(settings.filenamePrefix) + " (not used)");
        check.lines.push_back("  Current Output Directory " + Quoted(settings.outputDirectory));
    }
    if (!check.problems.empty()) {
        check.status = kExitConfiguration;
    }
    if (settings.comNumber && !settings.HostSoftwareMissing()) {
        CheckPort(settings, check);
    }
    if (settings.TextsRead() && !settings.HostSoftwareMissing()) {
        CheckOutputFolder(prefix, settings, check);
    }
    return check;
}

}  // namespace hydrix::app
