#include "app/headless_runner.h"

#include "app/window_timer.h"
#include "platform/dialogs.h"

namespace hydrix::app {

namespace {
constexpr uint32_t kCancelMsg = platform::WM_USER + 1;
constexpr uint32_t kPressCloseMsg = platform::WM_USER + 2;
constexpr uint32_t kStepFailedMsg = platform::WM_USER + 3;
}  // namespace

HeadlessRunner::HeadlessRunner(RunOptions options) : options_(std::move(options)) {}

HeadlessRunner::~HeadlessRunner() {
    if (const platform::WindowHandle w = window_.exchange(0)) {
        platform::MessageLoop::Instance().DestroyWindow(w);
    }
}

void HeadlessRunner::RequestCancel() {
    cancelRequested_ = true;
    if (const platform::WindowHandle w = window_.load()) {
        platform::PostMessage(w, kCancelMsg, 0, 0);
    }
}

int HeadlessRunner::Run() {
    auto& loop = platform::MessageLoop::Instance();
    loop.AttachToCurrentThread();
    loop.ResetQuit();
    RunSession session(SessionOptions{options_.reportFile, true});
    if (const int status = session.Prepare()) {
        loop.ResetQuit();
        return status;
    }
    session_ = &session;
    window_ =
        loop.CreateWindow([this](uint32_t msg, platform::WParam w, platform::LParam l) { return WndProc(msg, w, l); });
    // A request that came before the window existed.
    if (cancelRequested_) {
        loop.PostMessage(window_, kCancelMsg, 0, 0);
    }
    {
        Station station(this, StationOptions{options_.prefix});
        station_ = &station;
        WindowTimer deadline(static_cast<uint32_t>(options_.deadlineSeconds) * 1000u);
        deadline.OnTimer = [this, &deadline] {
            deadline.SetEnabled(false);
            if (station_ != nullptr) {
                station_->DeadlinePassed(options_.deadlineSeconds);
            }
        };
        deadline.SetEnabled(options_.deadlineSeconds > 0);
        bool started = true;
        try {
            station.FormCreate();
        } catch (const std::exception& e) {
            // Nobody is there to close the window: the run ends here.
            platform::ShowExceptionReport(e.what());
            started = false;
        }
        if (started) {
            loop.Run();
        }
        // Whatever still comes to the runner's window finds the run over: the tear-down
        // serves messages and must not press the button again.
        station_ = nullptr;
        session.End(station);
    }
    const int status = session.Conclude();
    report_ = session.Report();
    if (const platform::WindowHandle w = window_.exchange(0)) {
        loop.DestroyWindow(w);
    }
    loop.ResetQuit();
    session_ = nullptr;
    return status;
}

void HeadlessRunner::CloseWindow() {
    EndLoop();
}

void HeadlessRunner::RunFinished() {
    // Pressed once the trigger event that finished the run has returned.
    platform::PostMessage(window_, kPressCloseMsg, 0, 0);
}

void HeadlessRunner::StepFailed(const std::string&) {
    session_->NoteStepFailed();
    // Posted: the port reports the exception first.
    platform::PostMessage(window_, kStepFailedMsg, 0, 0);
}

platform::LResult HeadlessRunner::WndProc(uint32_t msg, platform::WParam, platform::LParam) {
    if (station_ == nullptr) {
        return 0;
    }
    switch (msg) {
    case kCancelMsg:
        if (session_->OperatorEnded() || station_->Closed()) {
            break;
        }
        session_->NoteOperatorEnd();
        PressButton();
        break;
    case kPressCloseMsg:
        // Nobody presses Close faster than the instrument's last bytes arrive: its final
        // prompt is on the screen in the report, every time.
        station_->DeliverWaitingInput();
        if (station_ != nullptr && !station_->Closed()) {
            PressButton();
        }
        break;
    case kStepFailedMsg:
        // The failed step skipped sending the next command: nothing would move on.
        if (!station_->Closed()) {
            EndLoop();
        }
        break;
    default:
        break;
    }
    return 0;
}

void HeadlessRunner::PressButton() {
    try {
        station_->Button1Click();
    } catch (const std::exception& e) {
        platform::ShowExceptionReport(e.what());
    }
    if (!station_->Closed()) {
        EndLoop();
    }
}

void HeadlessRunner::EndLoop() {
    platform::MessageLoop::Instance().Quit(0);
}

}  // namespace hydrix::app
