// Helpers for the Qt tests: the Qt loop driver installed for one test, and answering a
// modal dialog from inside its own event loop.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>

#include "gui/qt_loop_driver.h"
#include "platform/message_loop.h"

namespace hydrix::test {

class InstalledQtDriver {
public:
    InstalledQtDriver() {
        platform::MessageLoop::Instance().ResetQuit();
        driver.Install();
    }
    ~InstalledQtDriver() {
        driver.Uninstall();
        platform::MessageLoop::Instance().ResetQuit();
    }
    gui::QtLoopDriver driver;
};

// Calls fn with the modal dialog once one is shown (polling from Qt's event loop, so
// also from inside the dialog's exec); gives up after timeoutMs.
inline void WhenModalShown(std::function<void(QDialog*)> fn, int timeoutMs = 5000) {
    auto* timer = new QTimer;
    auto started = std::chrono::steady_clock::now();
    QObject::connect(timer, &QTimer::timeout, [timer, fn, started, timeoutMs] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        const bool late = std::chrono::steady_clock::now() - started >
                          std::chrono::milliseconds(timeoutMs);
        if (dialog == nullptr && !late) return;
        timer->stop();
        timer->deleteLater();
        if (dialog != nullptr) fn(dialog);
    });
    timer->start(5);
}

}  // namespace hydrix::test
