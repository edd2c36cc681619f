#include "app/run_session.h"

#include <cstdio>

#include "platform/message_loop.h"

namespace hydrix::app {

RunSession::RunSession(SessionOptions options, std::shared_ptr<platform::UserInterface> ui)
    : options_(std::move(options)),
      recorder_(std::make_shared<MessageRecorder>(ui ? std::move(ui) : platform::CurrentUserInterface())),
      previous_(platform::SetUserInterface(recorder_)) {}

RunSession::~RunSession() {
    platform::SetUserInterface(previous_);
}

int RunSession::Prepare() {
    if (options_.reportFile.empty()) {
        return 0;
    }
    const std::string error = PrepareReportFile(options_.reportFile);
    if (error.empty()) {
        return 0;
    }
    std::fprintf(stderr, "hydrix: cannot write the report %s: %s\n", options_.reportFile.c_str(), error.c_str());
    return kExitConfiguration;
}

RunOutcome RunSession::Outcome(RunOutcome station) const {
    if (station != RunOutcome::Running && station != RunOutcome::Cancelled) {
        return station;
    }
    // After a failed step the sequence stands still, so whatever ends the run then, it
    // did not get through. Headless the failed step ends the run itself: a Cancel the
    // station carried out before that came first and stands.
    if (stepFailed_ && !(options_.headless && station == RunOutcome::Cancelled)) {
        return RunOutcome::Error;
    }
    if (station == RunOutcome::Cancelled || operatorEnded_) {
        return RunOutcome::Cancelled;
    }
    // Still going, and nobody ended it.
    return RunOutcome::Error;
}

void RunSession::End(Station& station) {
    const RunOutcome outcome = Outcome(station.Outcome());
    station.FormDestroy();
    // Bytes and notices still queued reach the terminal before its rows are read.
    platform::MessageLoop::Instance().ProcessMessages();
    report_ = MakeReport(station, outcome, recorder_->Messages());
}

int RunSession::Conclude() {
    // Components free themselves through messages posted while they went away.
    platform::MessageLoop::Instance().ProcessMessages();
    if (options_.headless) {
        // The operator's list of what failed, after everything else the run printed.
        for (const ReportResult& result : report_.results) {
            if (result.Outcome == "FAIL") {
                std::fprintf(stderr, "FAIL: %s\n", result.Line.c_str());
            }
        }
    }
    if (!options_.reportFile.empty()) {
        const std::string error = WriteReportFile(options_.reportFile, report_);
        if (!error.empty()) {
            std::fprintf(stderr, "hydrix: cannot write the report %s: %s\n", options_.reportFile.c_str(),
                         error.c_str());
        }
    }
    return ExitStatus(report_.outcome, report_.fail);
}

}  // namespace hydrix::app
