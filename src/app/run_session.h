// One run of the station as its front end (the window or the headless runner) sees it:
// what the sequence and the operator did beside the station's own outcome, how the run
// therefore ends, and what is left of it: the report, its file and the exit status.
#pragma once

#include <memory>
#include <string>

#include "app/message_recorder.h"
#include "app/report.h"
#include "app/station.h"
#include "platform/dialogs.h"

namespace hydrix::app {

struct SessionOptions {
    // Where the JSON report goes when the run ends; empty: no report.
    std::string reportFile;
    // Nobody watches a headless run: a failed step ends it at once, and the FAIL lines
    // are named on standard error at its end.
    bool headless = false;
};

class RunSession {
public:
    // Every message shown from now on is kept for the report and passed on to ui (the
    // installed interface when null); the previous interface returns with the session.
    explicit RunSession(SessionOptions options, std::shared_ptr<platform::UserInterface> ui = nullptr);
    ~RunSession();
    RunSession(const RunSession&) = delete;
    RunSession& operator=(const RunSession&) = delete;

    // Before the station starts: a report that cannot be written ends the run as a
    // configuration error, said on standard error, before the port is touched. Returns
    // that exit status, else 0.
    int Prepare();

    // An exception left a step of the sequence, which cannot go on by itself.
    void NoteStepFailed() { stepFailed_ = true; }
    // The operator asked to end the run: Cancel from a signal, the window's title bar.
    void NoteOperatorEnd() { operatorEnded_ = true; }
    bool OperatorEnded() const { return operatorEnded_; }

    // How the run ends, given the station's own outcome.
    RunOutcome Outcome(RunOutcome station) const;

    // The run is over: decides how it ended, tears the station down and takes the report.
    void End(Station& station);
    const RunReport& Report() const { return report_; }
    // Once the station is gone: names the FAIL lines (headless), writes the report file
    // and returns the exit status.
    int Conclude();

private:
    SessionOptions options_;
    std::shared_ptr<MessageRecorder> recorder_;
    std::shared_ptr<platform::UserInterface> previous_;
    bool stepFailed_ = false;
    bool operatorEnded_ = false;
    RunReport report_;
};

}  // namespace hydrix::app
