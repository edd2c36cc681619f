// Inside the serial device: a thread that sleeps in the driver's own wait for a modem-line
// change (TIOCMIWAIT) and wakes the device's event wait when one comes, so that the lines
// need not be sampled at every dispatcher cycle (on a USB adapter each sample is a request
// over the bus). A signal sent to the thread ends the driver's wait; nothing else can.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace hydrix::platform {

class ModemWatch {
public:
    ModemWatch() = default;
    ~ModemWatch() { Stop(); }
    ModemWatch(const ModemWatch&) = delete;
    ModemWatch& operator=(const ModemWatch&) = delete;

    // The driver's wait: 0 after a change, else -1 with errno (EINTR when the watch's signal
    // ended it, EIO when the device went away, ENOTTY or EINVAL when there is no such wait).
    using DriverWait = std::function<int()>;

    // Calls wait again and again until Stop. onChange runs on the watch's thread after each
    // change; onGone when the driver says the device went away. Not started (Active() stays
    // false) when the process has the wake-up signal in use.
    void Start(DriverWait wait, std::function<void()> onChange, std::function<void()> onGone);
    // Ends the wait and joins the thread; fd may be closed afterwards.
    void Stop();
    // Makes the thread enter the driver's wait anew. A 16550's driver turns its modem-status
    // interrupt off at every line-settings change unless the settings need it, and on again
    // only when a wait begins: without this, later changes would go unseen and uncounted.
    void Rearm();
    // The driver is being waited on. False before Start, after Stop, and once the driver
    // turned out to have no such wait (the caller then samples the lines instead).
    bool Active() const { return active_.load(); }

private:
    void Run();
    void Kick();

    DriverWait wait_;
    std::function<void()> onChange_;
    std::function<void()> onGone_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> active_{false};
    std::mutex endMutex_;
    std::condition_variable endChanged_;
    bool ended_ = false;
};

}  // namespace hydrix::platform
