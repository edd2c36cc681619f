#include "app/report.h"

#include <cstring>

#include "platform/file_system.h"
#include "terminal/terminal_buffer.h"
#include "terminal/terminal_capture.h"

namespace hydrix::app {

std::string OutcomeName(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Finished:
        return "finished";
    case RunOutcome::CommunicationsError:
        return "communications-error";
    case RunOutcome::ConfigurationError:
        return "configuration-error";
    case RunOutcome::OutputDirectoryMissing:
        return "output-directory-missing";
    case RunOutcome::PortError:
        return "port-error";
    case RunOutcome::Cancelled:
        return "cancelled";
    case RunOutcome::Incomplete:
        return "incomplete";
    case RunOutcome::Running:
    case RunOutcome::Error:
        break;
    }
    return "error";
}

int ExitStatus(RunOutcome outcome, int failCount) {
    switch (outcome) {
    case RunOutcome::Finished:
        return failCount > 0 ? kExitFailReports : kExitFinished;
    case RunOutcome::CommunicationsError:
        return kExitCommunications;
    case RunOutcome::ConfigurationError:
    case RunOutcome::OutputDirectoryMissing:
        return kExitConfiguration;
    case RunOutcome::PortError:
        return kExitPort;
    case RunOutcome::Cancelled:
        return kExitCancelled;
    case RunOutcome::Incomplete:
        return failCount > 0 ? kExitFailReports : kExitIncomplete;
    case RunOutcome::Running:
    case RunOutcome::Error:
        break;
    }
    return kExitError;
}

namespace {

std::string RowText(terminal::TerminalBuffer& buffer, int row) {
    const uint8_t* chars = buffer.RowChars(row);
    if (chars == nullptr) {
        return "";
    }
    std::string text(reinterpret_cast<const char*>(chars), static_cast<size_t>(buffer.ColCount()));
    const size_t end = text.find_last_not_of(std::string(" \0", 2));
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

}  // namespace

std::vector<std::string> ScreenRows(terminal::Terminal& terminal) {
    std::vector<std::string> rows;
    terminal::TerminalBuffer* buffer = terminal.Buffer();
    if (buffer == nullptr || buffer->WideChars()) {
        return rows;
    }
    for (int row = 1; row <= buffer->RowCount(); ++row) {
        rows.push_back(RowText(*buffer, row));
    }
    while (!rows.empty() && rows.back().empty()) {
        rows.pop_back();
    }
    return rows;
}

std::vector<std::string> ScrollbackRows(terminal::Terminal& terminal) {
    std::vector<std::string> rows;
    terminal::TerminalBuffer* buffer = terminal.Buffer();
    if (buffer == nullptr || buffer->WideChars()) {
        return rows;
    }
    const int oldest = 1 - (buffer->SVRowCount() - buffer->RowCount());
    bool seen = false;
    for (int row = oldest; row <= 0; ++row) {
        std::string text = RowText(*buffer, row);
        seen = seen || !text.empty();
        if (seen) {
            rows.push_back(std::move(text));
        }
    }
    return rows;
}

RunReport MakeReport(Station& station, RunOutcome outcome, std::vector<std::string> messages) {
    RunReport r;
    r.outcome = outcome;
    const StationForm& form = station.Form();
    r.serial = form.lblSerial;
    r.datetime = form.lblDateTime;
    r.pass = station.PassCount();
    r.fail = station.FailCount();
    if (!station.CaptureFileName().empty()) {
        r.captureFile = station.CaptureFileName();
    }
    r.captureComplete = !station.CaptureIncomplete() && !station.Terminal1().Capturing().Incomplete();
    r.title = form.Caption;
    if (!form.Label5.empty()) {
        r.step = std::stoi(form.Label5);
    }
    r.messages = std::move(messages);
    r.screen = ScreenRows(station.Terminal1());
    r.scrollback = ScrollbackRows(station.Terminal1());
    r.results = station.Results();
    return r;
}

nlohmann::json ReportJson(const RunReport& r) {
    nlohmann::json j;
    j["outcome"] = OutcomeName(r.outcome);
    j["serial"] = r.serial;
    j["datetime"] = r.datetime;
    j["pass"] = r.pass;
    j["fail"] = r.fail;
    j["capture_file"] = r.captureFile ? nlohmann::json(*r.captureFile) : nlohmann::json(nullptr);
    j["capture_complete"] = r.captureFile ? nlohmann::json(r.captureComplete) : nlohmann::json(nullptr);
    j["title"] = r.title;
    j["step"] = r.step ? nlohmann::json(*r.step) : nlohmann::json(nullptr);
    j["messages"] = r.messages;
    j["screen"] = r.screen;
    j["scrollback"] = r.scrollback;
    j["results"] = nlohmann::json::array();
    for (const ReportResult& result : r.results) {
        j["results"].push_back({{"outcome", result.Outcome}, {"line", result.Line}});
    }
    return j;
}

std::string WriteReportFile(const std::string& path, const RunReport& report) {
    // Instrument text need not be UTF-8: such bytes become U+FFFD rather than failing.
    const std::string text = ReportJson(report).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const int rc = platform::ReplaceFile(path, text);
    return rc < 0 ? platform::ErrorTextForErrno(rc) : std::string();
}

std::string PrepareReportFile(const std::string& path) {
    int rc = platform::CheckReplaceable(path);
    if (rc == 0) {
        rc = platform::RemoveFile(path);
    }
    return rc < 0 ? platform::ErrorTextForErrno(rc) : std::string();
}

}  // namespace hydrix::app
