// The three worker threads of an open port: the com thread waits for device events,
// the dispatcher thread moves received bytes into the input ring and runs the
// triggers, the output thread writes the output ring to the device.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "comm/triggers.h"

namespace hydrix::comm {

class BaseDispatcher;
class PosixDispatcher;

// Waits until done() holds or timeoutMs passed (platform::kInfinite: no limit); on the
// GUI thread the message loop keeps running meanwhile, so that a notification or a
// synchronise call of the thread being waited for still gets through.
bool WaitProcessingMessages(const std::function<bool()>& done, uint32_t timeoutMs);

// Shows an exception that ended a worker thread.
void ReportThreadException(const std::string& text);

class DispatcherThread {
public:
    explicit DispatcherThread(BaseDispatcher& dispatcher);
    virtual ~DispatcherThread();
    DispatcherThread(const DispatcherThread&) = delete;
    DispatcherThread& operator=(const DispatcherThread&) = delete;

    // Counts the thread as running and starts it.
    void Start();
    // Waits for the thread to return; never from the thread itself.
    void Join();
    // Past its exit step: it touches the dispatcher no more.
    bool Finished() const { return finished_.load(); }
    BaseDispatcher& Dispatcher() const { return dispatcher_; }

    // The worker thread the caller runs on, or nullptr on any other thread.
    static DispatcherThread* Current();

    // Runs method(msg, handle, data) on the GUI thread and returns when it has run.
    void DeliverOnGuiThread(uint32_t msg, uint32_t handle, const TriggerMethod& method,
                            int32_t data);
    // Runs method on the GUI thread and returns when it has run.
    void RunOnGuiThread(const std::function<void()>& method);

protected:
    virtual void Execute() = 0;

private:
    friend class BaseDispatcher;
    void Main();
    void MarkFinished() { finished_ = true; }

    BaseDispatcher& dispatcher_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    uint32_t pendingMsg_ = 0;
    uint32_t pendingHandle_ = 0;
    int32_t pendingData_ = 0;
};

class ComThread final : public DispatcherThread {
public:
    explicit ComThread(PosixDispatcher& dispatcher);

protected:
    void Execute() override;

private:
    PosixDispatcher& port_;
};

class DispThread final : public DispatcherThread {
public:
    explicit DispThread(BaseDispatcher& dispatcher) : DispatcherThread(dispatcher) {}
    bool ReleaseOnExit() const { return releaseOnExit_; }

protected:
    void Execute() override;

private:
    bool releaseOnExit_ = false;
};

class OutThread final : public DispatcherThread {
public:
    explicit OutThread(PosixDispatcher& dispatcher);

protected:
    void Execute() override;

private:
    PosixDispatcher& port_;
};

}  // namespace hydrix::comm
