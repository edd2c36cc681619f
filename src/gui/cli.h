// The hydrix command line: which mode the station runs in (window or headless) and
// where the run's report goes.
#pragma once

#include <QStringList>

#include <string>

namespace hydrix::gui {

struct CommandLine {
    bool headless = false;
    bool help = false;
    bool version = false;
    std::string reportFile;
    std::string error;  // empty when the command line was good
    std::string helpText;
};

constexpr const char* kVersionText = "HYDRIX 1.01";

// args as the process got them, the program name first.
CommandLine ParseCommandLine(const QStringList& args);

}  // namespace hydrix::gui
