// hydrix --check: the settings read exactly as a run reads them, and what the run would do
// with them (the port and the device it leads to, who holds it, the output folder), told
// line by line with every problem found, touching nothing on the line.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace hydrix::app {

struct StationCheck {
    // What a run would use, a line each.
    std::vector<std::string> lines;
    // Every problem found, in the order a run would meet them.
    std::vector<std::string> problems;
    // The exit status a run would end with: 0 it could start, 3 configuration, 4 the port.
    int status = 0;

    // The lines, then the problems (or that a run can start).
    std::string Text() const;
};

// The check of the settings in the Wine prefix (empty: the default one).
StationCheck CheckStation(const std::filesystem::path& prefix);

}  // namespace hydrix::app
