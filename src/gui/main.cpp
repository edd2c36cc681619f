// hydrix: the station. By default its window; with --headless the same run without one.
// In both SIGINT and SIGTERM act as the operator's Cancel.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include "app/headless_runner.h"
#include "app/report.h"
#include "app/run_session.h"
#include "comm/port_chooser.h"
#include "gui/cli.h"
#include "gui/main_window.h"
#include "gui/port_select_dialog.h"
#include "gui/qt_loop_driver.h"
#include "gui/qt_user_interface.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

// Turns SIGINT/SIGTERM into the operator's Cancel: the handler only writes a byte to a
// pipe; this thread reads it and makes the request, which must be safe from any thread.
class SignalWatcher {
public:
    explicit SignalWatcher(std::function<void()> cancel) : cancel_(std::move(cancel)) {
        if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            std::perror("hydrix: pipe");
            return;
        }
        thread_ = std::thread([this] { Watch(); });
        struct sigaction action {};
        action.sa_handler = OnTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    }
    ~SignalWatcher() {
        if (!thread_.joinable()) {
            return;
        }
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        const char stop = 0;
        ssize_t n;
        do {
            n = ::write(g_signalPipe[1], &stop, 1);
        } while (n < 0 && errno == EINTR);
        thread_.join();
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
    }
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    void Watch() {
        for (;;) {
            pollfd p{g_signalPipe[0], POLLIN, 0};
            if (::poll(&p, 1, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            char bytes[16];
            const ssize_t n = ::read(g_signalPipe[0], bytes, sizeof bytes);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            if (n <= 0) {
                return;
            }
            for (ssize_t i = 0; i < n; ++i) {
                if (bytes[i] == 0) {
                    return;
                }
                cancel_();
            }
        }
    }

    std::function<void()> cancel_;
    std::thread thread_;
};

int RunHeadless(const hydrix::gui::CommandLine& cl) {
    hydrix::app::HeadlessRunner runner(hydrix::app::RunOptions{{}, cl.reportFile});
    SignalWatcher watcher([&runner] { runner.RequestCancel(); });
    return runner.Run();
}

// The station in its window on Qt's event loop, which also drives the station's own
// message loop; message boxes and reports are kept for the run's report.
int RunWindow(int& argc, char** argv, const hydrix::gui::CommandLine& cl) {
    using namespace hydrix;
    QApplication application(argc, argv);
    gui::QtLoopDriver driver;
    driver.Install();
    auto qtInterface = std::make_shared<gui::QtUserInterface>();
    app::RunSession session(app::SessionOptions{cl.reportFile}, qtInterface);
    const auto previousChooser = comm::SetPortChooser(std::make_shared<gui::DialogPortChooser>());
    {
        gui::MainWindow window({}, &session);
        window.FormCreate();
        window.show();
        qtInterface->SetParentWindow(&window);
        // Pressing Cancel from the watcher's thread: queued to the window's thread.
        SignalWatcher watcher([&window] {
            QMetaObject::invokeMethod(
                &window,
                [&window] {
                    if (!window.Station().Closed()) {
                        window.Button1()->click();
                    }
                },
                Qt::QueuedConnection);
        });
        application.exec();
        session.End(window.Station());
        qtInterface->SetParentWindow(nullptr);
    }
    const int status = session.Conclude();
    comm::SetPortChooser(previousChooser);
    driver.Uninstall();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i) {
        args << QString::fromLocal8Bit(argv[i]);
    }
    const hydrix::gui::CommandLine cl = hydrix::gui::ParseCommandLine(args);
    if (!cl.error.empty()) {
        std::fprintf(stderr, "hydrix: %s\n\n%s", cl.error.c_str(), cl.helpText.c_str());
        return hydrix::app::kExitError;
    }
    if (cl.help) {
        std::fputs(cl.helpText.c_str(), stdout);
        return 0;
    }
    if (cl.version) {
        std::printf("%s\n", hydrix::gui::kVersionText);
        return 0;
    }
    if (cl.headless) {
        return RunHeadless(cl);
    }
    // Qt would abort without a display; say what to do instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs(
            "hydrix: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are unset); "
            "use --headless\n",
            stderr);
        return hydrix::app::kExitError;
    }
    return RunWindow(argc, argv, cl);
}
