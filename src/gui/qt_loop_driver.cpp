#include "gui/qt_loop_driver.h"

#include <QMetaObject>

#include <algorithm>

namespace hydrix::gui {

QtLoopDriver::QtLoopDriver(platform::MessageLoop& loop, QObject* parent)
    : QObject(parent), loop_(loop) {
    timer_.setSingleShot(true);
    // Window timers of 55 and 100 ms: Qt's coarse timers may be 5% late, which the tick
    // arithmetic would notice.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &QtLoopDriver::Drain);
}

QtLoopDriver::~QtLoopDriver() { Uninstall(); }

void QtLoopDriver::Install() {
    if (installed_) return;
    loop_.AttachToCurrentThread();
    installed_ = true;
    loop_.SetDriver(this);  // wakes at once, so anything queued before is served
}

void QtLoopDriver::Uninstall() {
    if (!installed_) return;
    // After SetDriver returns no thread is inside Wake any more; drains already queued
    // die with this object.
    loop_.SetDriver(nullptr);
    installed_ = false;
    timer_.stop();
}

void QtLoopDriver::Wake() {
    if (drainQueued_.exchange(true)) return;
    QMetaObject::invokeMethod(this, &QtLoopDriver::Drain, Qt::QueuedConnection);
}

void QtLoopDriver::Drain() {
    // Cleared before processing: a message posted by a handler (or by a handler's modal
    // dialog) queues the next drain.
    drainQueued_.store(false);
    if (!installed_) return;
    const bool running = loop_.ProcessMessages();
    if (!running && !quitSeen_) {
        quitSeen_ = true;
        emit QuitRequested();
    } else if (running) {
        quitSeen_ = false;
    }
    ArmTimer();
}

void QtLoopDriver::ArmTimer() {
    if (!installed_) return;
    const int64_t delay = loop_.NextTimerDelayMs();
    if (delay < 0) {
        timer_.stop();
        return;
    }
    timer_.start(static_cast<int>(std::min<int64_t>(delay, 24 * 3600 * 1000)));
}

}  // namespace hydrix::gui
