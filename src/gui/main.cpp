// hydrix: the station. By default its window; with --headless the same run without one.
// In both SIGINT, SIGTERM, SIGHUP and SIGQUIT act as the operator's Cancel, from the
// first moment of the process.
#include <QApplication>
#include <QPushButton>
#include <QStringList>

#include <cstdio>
#include <memory>

#include "app/headless_runner.h"
#include "app/report.h"
#include "app/run_session.h"
#include "app/station_check.h"
#include "comm/port_chooser.h"
#include "gui/cli.h"
#include "gui/main_window.h"
#include "gui/port_select_dialog.h"
#include "gui/qt_loop_driver.h"
#include "gui/qt_user_interface.h"
#include "gui/signal_watcher.h"

namespace {

using hydrix::gui::SignalWatcher;

int RunHeadless(const hydrix::gui::CommandLine& cl, SignalWatcher& watcher) {
    hydrix::app::HeadlessRunner runner(hydrix::app::RunOptions{{}, cl.reportFile, cl.deadlineSeconds});
    watcher.SetCancel([&runner] { runner.RequestCancel(); });
    const int status = runner.Run();
    watcher.SetCancel(nullptr);
    return status;
}

// Cancel in the window: a box the station is showing waits for an OK that nobody will
// give, so it is closed first; then the button is pressed, as Escape would.
void CancelWindow(hydrix::gui::MainWindow& window) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget != &window && widget->isVisible() && widget->isModal()) {
            widget->close();
        }
    }
    if (!window.Station().Closed()) {
        window.Button1()->click();
    }
}

// The station in its window on Qt's event loop, which also drives the station's own
// message loop; message boxes and reports are kept for the run's report.
int RunWindow(int& argc, char** argv, const hydrix::gui::CommandLine& cl, SignalWatcher& watcher) {
    using namespace hydrix;
    QApplication application(argc, argv);
    gui::QtLoopDriver driver;
    driver.Install();
    auto qtInterface = std::make_shared<gui::QtUserInterface>();
    app::RunSession session(app::SessionOptions{cl.reportFile}, qtInterface);
    if (const int status = session.Prepare()) {
        driver.Uninstall();
        return status;
    }
    const auto previousChooser = comm::SetPortChooser(std::make_shared<gui::DialogPortChooser>());
    {
        gui::MainWindow window({}, &session);
        qtInterface->SetParentWindow(&window);
        // Queued to the window's thread; a message box of the start-up serves it too.
        watcher.SetCancel([&window] {
            QMetaObject::invokeMethod(
                &window, [&window] { CancelWindow(window); }, Qt::QueuedConnection);
        });
        window.FormCreate();
        window.show();
        application.exec();
        watcher.SetCancel(nullptr);
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
    // Before anything else: a signal at any moment ends the run as Cancel does.
    SignalWatcher watcher;
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
    if (cl.check) {
        const hydrix::app::StationCheck check = hydrix::app::CheckStation({});
        std::fputs(check.Text().c_str(), stdout);
        return check.status;
    }
    if (cl.headless) {
        return RunHeadless(cl, watcher);
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
    return RunWindow(argc, argv, cl, watcher);
}
