// The report of one station run (JSON, written with --report): how it ended, the
// captions, the counts, the capture file, every message shown and what the terminal
// showed at the end. Also the process exit status each ending maps to.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/station.h"

namespace hydrix::app {

// Exit statuses of the station.
constexpr int kExitFinished = 0;
constexpr int kExitFailReports = 1;
constexpr int kExitCommunications = 2;
constexpr int kExitConfiguration = 3;
constexpr int kExitPort = 4;
constexpr int kExitCancelled = 5;
constexpr int kExitError = 6;
constexpr int kExitIncomplete = 7;

struct RunReport {
    RunOutcome outcome = RunOutcome::Error;
    std::string serial;
    std::string datetime;
    int pass = 0;
    int fail = 0;
    std::optional<std::string> captureFile;
    // False when bytes are missing from the capture file.
    bool captureComplete = true;
    std::string title;
    std::optional<int> step;
    std::vector<std::string> messages;
    std::vector<std::string> screen;
    std::vector<std::string> scrollback;
    std::vector<ReportResult> results;
};

// "finished", "communications-error", ...; a run still going reads as "error".
std::string OutcomeName(RunOutcome outcome);
int ExitStatus(RunOutcome outcome, int failCount);

// The report from the station as it is now.
RunReport MakeReport(Station& station, RunOutcome outcome, std::vector<std::string> messages);
// The terminal's screen rows with trailing blanks trimmed and trailing empty rows
// dropped, and the scrollback from its oldest non-blank row, oldest first.
std::vector<std::string> ScreenRows(terminal::Terminal& terminal);
std::vector<std::string> ScrollbackRows(terminal::Terminal& terminal);

nlohmann::json ReportJson(const RunReport& report);
// Writes the report whole or not at all (a new file renamed over path); the system's
// error text on failure, else empty.
std::string WriteReportFile(const std::string& path, const RunReport& report);
// Before the run: whether the report can be written to path (the system's error text,
// else empty). An earlier report there is removed, so that a run that cannot write its
// own never leaves another run's verdict in its place.
std::string PrepareReportFile(const std::string& path);

}  // namespace hydrix::app
