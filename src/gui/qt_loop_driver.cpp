#include "gui/qt_loop_driver.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace hydrix::gui {

namespace {

int MakeWakeFd() {
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    return fd;
}

}  // namespace

QtLoopDriver::QtLoopDriver(platform::MessageLoop& loop, QObject* parent)
    : QObject(parent), loop_(loop), wakeFd_(MakeWakeFd()), notifier_(wakeFd_, QSocketNotifier::Read, this) {
    connect(&notifier_, &QSocketNotifier::activated, this, &QtLoopDriver::Woken);
    timer_.setSingleShot(true);
    // Window timers of 55 and 100 ms: Qt's coarse timers may be 5% late, which the tick
    // arithmetic would notice.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &QtLoopDriver::Drain);
}

QtLoopDriver::~QtLoopDriver() {
    Uninstall();
    notifier_.setEnabled(false);
    ::close(wakeFd_);
}

void QtLoopDriver::Install() {
    if (installed_) {
        return;
    }
    loop_.AttachToCurrentThread();
    installed_ = true;
    loop_.SetDriver(this);  // wakes at once, so anything queued before is served
}

void QtLoopDriver::Uninstall() {
    if (!installed_) {
        return;
    }
    // After SetDriver returns no thread is inside Wake any more; drains already queued
    // die with this object.
    loop_.SetDriver(nullptr);
    installed_ = false;
    timer_.stop();
}

void QtLoopDriver::Wake() {
    if (wakePending_.exchange(true)) {
        return;
    }
    const uint64_t one = 1;
    while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void QtLoopDriver::Woken() {
    uint64_t count = 0;
    while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    // Cleared before processing: a message posted by a handler (or from inside a
    // handler's modal dialog) signals the next drain.
    wakePending_.store(false);
    Drain();
}

void QtLoopDriver::Drain() {
    if (!installed_) {
        return;
    }
    // Armed before processing as well: a handler may open a modal dialog and not return
    // for a long time, and the timers must go on firing inside the dialog's loop.
    ArmTimer();
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
    if (!installed_) {
        return;
    }
    const int64_t delay = loop_.NextTimerDelayMs();
    if (delay < 0) {
        timer_.stop();
        return;
    }
    timer_.start(static_cast<int>(std::min<int64_t>(delay, 24 * 3600 * 1000)));
}

}  // namespace hydrix::gui
