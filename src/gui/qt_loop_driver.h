// Drives the platform message loop from Qt's event loop: a wake-up from any thread
// signals an eventfd that Qt's loop watches, which drains the queue on the GUI thread,
// and a single-shot timer follows the earliest window timer. Nested Qt loops (modal
// dialogs) watch both too, so they keep serving the queue.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>

#include "platform/message_loop.h"

namespace hydrix::gui {

class QtLoopDriver : public QObject, public platform::LoopDriver {
    Q_OBJECT

public:
    // Create on the GUI thread (the thread of the Qt application). Install makes that
    // thread the loop's owner and this the loop's driver; the destructor uninstalls it.
    explicit QtLoopDriver(platform::MessageLoop& loop = platform::MessageLoop::Instance(), QObject* parent = nullptr);
    ~QtLoopDriver() override;

    void Install();
    void Uninstall();

    // Any thread. Coalesced: a flood of posts signals the GUI thread once until it drains.
    void Wake() override;

signals:
    // Emitted once when a quit request is seen (MessageLoop::Quit); the program decides
    // what ends (usually the Qt application).
    void QuitRequested();

private:
    void Woken();
    void Drain();
    void ArmTimer();

    platform::MessageLoop& loop_;
    // Qt's own cross-thread posting would work as well, but this way the only state
    // shared with the waking threads is the flag and the descriptor.
    int wakeFd_;
    QSocketNotifier notifier_;
    QTimer timer_;
    std::atomic<bool> wakePending_{false};
    bool installed_ = false;
    bool quitSeen_ = false;
};

}  // namespace hydrix::gui
