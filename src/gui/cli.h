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
    bool check = false;
    std::string reportFile;
    // Headless runs: seconds to the overall deadline, 0 for none.
    int deadlineSeconds = 600;
    std::string error;  // empty when the command line was good
    std::string helpText;
};

constexpr const char* kVersionText = "HYDRIX 1.01";
// A deadline's milliseconds must fit a window timer's interval.
constexpr int kMaxDeadlineSeconds = 1000000;

// args as the process got them, the program name first.
CommandLine ParseCommandLine(const QStringList& args);

}  // namespace hydrix::gui
