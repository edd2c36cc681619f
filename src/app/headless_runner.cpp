#include "app/headless_runner.h"

#include <cstdio>

#include "app/message_recorder.h"
#include "platform/dialogs.h"

namespace hydrix::app {

namespace {
constexpr uint32_t kCancelMsg = platform::WM_USER + 1;
constexpr uint32_t kPressCloseMsg = platform::WM_USER + 2;
constexpr uint32_t kStepFailedMsg = platform::WM_USER + 3;

// Puts the recorder in front of the installed interface for the run.
class RecorderScope {
public:
    RecorderScope()
        : recorder_(std::make_shared<MessageRecorder>(platform::CurrentUserInterface())),
          previous_(platform::SetUserInterface(recorder_)) {}
    ~RecorderScope() { platform::SetUserInterface(previous_); }
    MessageRecorder& Recorder() { return *recorder_; }

private:
    std::shared_ptr<MessageRecorder> recorder_;
    std::shared_ptr<platform::UserInterface> previous_;
};
}  // namespace

HeadlessRunner::HeadlessRunner(RunOptions options) : options_(std::move(options)) {}

HeadlessRunner::~HeadlessRunner() {
    if (const platform::WindowHandle w = window_.exchange(0)) platform::MessageLoop::Instance().DestroyWindow(w);
}

void HeadlessRunner::RequestCancel() {
    cancelRequested_ = true;
    if (const platform::WindowHandle w = window_.load()) platform::PostMessage(w, kCancelMsg, 0, 0);
}

int HeadlessRunner::Run() {
    auto& loop = platform::MessageLoop::Instance();
    loop.AttachToCurrentThread();
    loop.ResetQuit();
    RecorderScope recorder;
    window_ = loop.CreateWindow([this](uint32_t msg, platform::WParam w, platform::LParam l) {
        return WndProc(msg, w, l);
    });
    // A request that came before the window existed.
    if (cancelRequested_) loop.PostMessage(window_, kCancelMsg, 0, 0);

    RunOutcome outcome;
    {
        Station station(this, StationOptions{options_.prefix});
        station_ = &station;
        bool started = true;
        try {
            station.FormCreate();
        } catch (const std::exception& e) {
            // Nobody is there to close the window: the run ends here.
            platform::ShowExceptionReport(e.what());
            started = false;
        }
        if (started) loop.Run();

        outcome = station.Outcome();
        if (outcome == RunOutcome::Running) {
            outcome = cancelled_ && !stepFailed_ ? RunOutcome::Cancelled : RunOutcome::Error;
        }
        station.FormDestroy();
        // Bytes and notices still queued reach the terminal before its rows are read.
        loop.ProcessMessages();
        report_ = MakeReport(station, outcome, recorder.Recorder().Messages());
        station_ = nullptr;
    }
    // Components free themselves through messages posted while they went away.
    loop.ProcessMessages();
    if (const platform::WindowHandle w = window_.exchange(0)) loop.DestroyWindow(w);
    loop.ResetQuit();

    // The operator's list of what failed, after everything else the run printed.
    for (const ReportResult& result : report_.results) {
        if (result.Outcome == "FAIL") std::fprintf(stderr, "FAIL: %s\n", result.Line.c_str());
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

void HeadlessRunner::CloseWindow() { EndLoop(); }

void HeadlessRunner::RunFinished() {
    // Pressed once the trigger event that finished the run has returned.
    platform::PostMessage(window_, kPressCloseMsg, 0, 0);
}

void HeadlessRunner::StepFailed(const std::string&) {
    stepFailed_ = true;
    // Posted: the port reports the exception first.
    platform::PostMessage(window_, kStepFailedMsg, 0, 0);
}

platform::LResult HeadlessRunner::WndProc(uint32_t msg, platform::WParam, platform::LParam) {
    if (station_ == nullptr) return 0;
    switch (msg) {
    case kCancelMsg:
        if (cancelled_ || station_->Closed()) break;
        cancelled_ = true;
        PressButton();
        break;
    case kPressCloseMsg: PressButton(); break;
    case kStepFailedMsg:
        // The failed step skipped sending the next command: nothing would move on.
        if (!station_->Closed()) EndLoop();
        break;
    default: break;
    }
    return 0;
}

void HeadlessRunner::PressButton() {
    try {
        station_->Button1Click();
    } catch (const std::exception& e) {
        platform::ShowExceptionReport(e.what());
    }
    if (!station_->Closed()) EndLoop();
}

void HeadlessRunner::EndLoop() { platform::MessageLoop::Instance().Quit(0); }

}  // namespace hydrix::app
