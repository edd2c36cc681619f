// Drives the platform message loop from Qt's event loop: a wake-up from any thread
// queues one drain on the GUI thread, and a single-shot timer follows the earliest window
// timer. Nested Qt loops (modal dialogs) deliver both, so they keep serving the queue.
#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>

#include "platform/message_loop.h"

namespace hydrix::gui {

class QtLoopDriver : public QObject, public platform::LoopDriver {
    Q_OBJECT

public:
    // Create on the GUI thread (the thread of the Qt application). Install makes that
    // thread the loop's owner and this the loop's driver; the destructor uninstalls it.
    explicit QtLoopDriver(platform::MessageLoop& loop = platform::MessageLoop::Instance(),
                          QObject* parent = nullptr);
    ~QtLoopDriver() override;

    void Install();
    void Uninstall();

    // Any thread. Coalesced: at most one drain waits in Qt's queue at a time.
    void Wake() override;

signals:
    // Emitted once when a quit request is seen (MessageLoop::Quit); the program decides
    // what ends (usually the Qt application).
    void QuitRequested();

private:
    void Drain();
    void ArmTimer();

    platform::MessageLoop& loop_;
    QTimer timer_;
    std::atomic<bool> drainQueued_{false};
    bool installed_ = false;
    bool quitSeen_ = false;
};

}  // namespace hydrix::gui
