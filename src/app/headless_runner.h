// The station without a window: the same start-up, sequence and handlers on the
// standalone message loop, message boxes as lines on standard error, Close pressed by
// itself after the finish, and the operator's Cancel arriving from a signal watcher.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "app/report.h"
#include "app/run_session.h"
#include "app/station.h"
#include "app/station_view.h"
#include "platform/message_loop.h"

namespace hydrix::app {

// Nobody watches a headless run: one that has not ended by then ends as a communications
// error (an instrument quiet where the watchdog does not guard would hold it forever).
constexpr int kDefaultDeadlineSeconds = 600;

struct RunOptions {
    // The Wine prefix with the host software's settings; empty: the default one.
    std::filesystem::path prefix;
    // Where the JSON report goes when the run ends; empty: no report.
    std::string reportFile;
    // Seconds from the start to the overall deadline; 0: none.
    int deadlineSeconds = kDefaultDeadlineSeconds;
};

class HeadlessRunner : public StationView {
public:
    explicit HeadlessRunner(RunOptions options);
    ~HeadlessRunner() override;
    HeadlessRunner(const HeadlessRunner&) = delete;
    HeadlessRunner& operator=(const HeadlessRunner&) = delete;

    // Runs the station to its end on the calling thread (which becomes the GUI thread)
    // and returns the exit status.
    int Run();
    // The operator's Cancel; any thread (not a signal handler). Before Run starts the
    // request waits for it.
    void RequestCancel();

    const RunReport& Report() const { return report_; }

    // StationView.
    void FormChanged(FormItem) override {}
    void SetFocus(FocusTarget) override {}
    void CloseWindow() override;
    void RunFinished() override;
    void StepFailed(const std::string& what) override;

private:
    platform::LResult WndProc(uint32_t msg, platform::WParam w, platform::LParam l);
    // Button1Click with its failure reported; the run ends even if the window stays.
    void PressButton();
    void EndLoop();

    RunOptions options_;
    // Both set while Run runs; station_ only until the run is over.
    RunSession* session_ = nullptr;
    Station* station_ = nullptr;
    std::atomic<platform::WindowHandle> window_{0};
    std::atomic<bool> cancelRequested_{false};
    RunReport report_;
};

}  // namespace hydrix::app
