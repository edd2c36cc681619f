// The signals that end a run the way the operator's Cancel does (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT), caught from the first moment of the process: the handler only writes a byte
// to a pipe, a thread of the watcher reads it and asks the run in progress to cancel. A
// signal that comes before there is a run to ask is kept and passed on when one comes.
#pragma once

#include <functional>
#include <mutex>
#include <thread>

namespace hydrix::gui {

class SignalWatcher {
public:
    SignalWatcher();
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // Who is asked to cancel from now on (called on the watcher's thread, so it must be
    // safe from any thread, and quick); nullptr: nobody, signals are kept. A signal kept
    // so far is passed on at once. Once this returns, the previous one is not called.
    void SetCancel(std::function<void()> cancel);

private:
    void Watch();
    void Signalled();

    std::mutex lock_;
    std::function<void()> cancel_;
    bool kept_ = false;
    std::thread thread_;
};

}  // namespace hydrix::gui
