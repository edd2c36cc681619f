// Helpers for the Qt tests: the Qt loop driver installed for one test, and answering a
// modal dialog or a popup menu from inside its own event loop.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMenu>
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

// Calls fn with the widget find gives once it gives one (polling from Qt's event loop,
// so also from inside a dialog's or a menu's own loop); gives up after timeoutMs.
inline void WhenShown(std::function<QWidget*()> find, std::function<void(QWidget*)> fn, int timeoutMs) {
    auto* timer = new QTimer;
    auto started = std::chrono::steady_clock::now();
    QObject::connect(timer, &QTimer::timeout, [timer, find, fn, started, timeoutMs] {
        QWidget* widget = find();
        const bool late = std::chrono::steady_clock::now() - started > std::chrono::milliseconds(timeoutMs);
        if (widget == nullptr && !late) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        if (widget != nullptr) {
            fn(widget);
        }
    });
    timer->start(5);
}

// Calls fn with the modal dialog once one is shown.
inline void WhenModalShown(std::function<void(QDialog*)> fn, int timeoutMs = 5000) {
    WhenShown([] { return qobject_cast<QDialog*>(QApplication::activeModalWidget()); },
              [fn](QWidget* w) { fn(static_cast<QDialog*>(w)); }, timeoutMs);
}

// Calls fn with the popup menu once one is shown.
inline void WhenMenuShown(std::function<void(QMenu*)> fn, int timeoutMs = 5000) {
    WhenShown([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); },
              [fn](QWidget* w) { fn(static_cast<QMenu*>(w)); }, timeoutMs);
}

}  // namespace hydrix::test
