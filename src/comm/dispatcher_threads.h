// The three worker threads of an open port: the com thread waits for device events,
// the dispatcher thread moves received bytes into the input ring and runs the
// triggers, the output thread writes the output ring to the device.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/event.h"

namespace hydrix::comm {

// Waits until done() holds or timeoutMs passed (platform::kInfinite: no limit); on the
// GUI thread the message loop keeps running meanwhile, so that a notification or a
// synchronise call of the thread being waited for still gets through.
bool WaitProcessingMessages(const std::function<bool()>& done, uint32_t timeoutMs);

// Shows an exception that ended a worker thread.
void ReportThreadException(const std::string& text);

// What the dispatcher and its threads share: the flags that stop them, the events they
// hand work over with, what the com thread's device waits saw, and how many threads live.
struct WorkerSignals {
    std::atomic<bool> StopThreads{false};
    // A close came during a delivery: the dispatcher thread ends itself and frees the rings.
    std::atomic<bool> ClosePending{false};
    std::atomic<bool> ThreadsRunning{false};
    std::atomic<int> RunningThreads{0};
    platform::Event DeviceEventReady{false};
    platform::Event CycleDone{false};
    platform::Event ThreadAck{false};
    platform::Event OutputReady{false};
    platform::Event FlushRequest{false};
    // Device events since the last dispatcher cycle, and a ring indication among them.
    std::atomic<uint32_t> EventMask{0};
    std::atomic<bool> RingSeen{false};
    // Dispatcher cycles run to their end since the threads started.
    std::atomic<uint64_t> CyclesDone{0};

    bool Stopping() const { return StopThreads.load() || ClosePending.load(); }
    // Keeps what a device wait reported for the next dispatcher cycle.
    void NoteEvents(uint32_t events);
    // The hand-off events back to unsignalled (the thread acknowledge too, with ack).
    void ResetEvents(bool ack);
};

// The side of the dispatcher its threads see: the work each one does.
class WorkerHost {
public:
    // Com thread: asks the device for the events it waits on, then waits for them (the
    // dispatcher thread too, while it has the device; see DispThread).
    virtual void StartDeviceWaits() = 0;
    virtual int WaitDeviceEvent(uint32_t& events, uint32_t timeoutMs) = 0;
    // Dispatcher thread: one cycle after a device event (or the 50 ms time-out), true when
    // it read bytes; the timer pass; and the release of the rings when it leaves after a close.
    virtual bool RunDeviceCycle() = 0;
    virtual void RunTimerCycle() = 0;
    virtual void ReleaseBuffers() = 0;
    // Output thread: writes the output ring until it is empty or a flush is requested.
    virtual void DrainOutput() = 0;

protected:
    ~WorkerHost() = default;
};

class DispatcherThread {
public:
    DispatcherThread(WorkerHost& host, WorkerSignals& shared);
    virtual ~DispatcherThread();
    DispatcherThread(const DispatcherThread&) = delete;
    DispatcherThread& operator=(const DispatcherThread&) = delete;

    // Counts the thread as running and starts it.
    void Start();
    // Waits for the thread to return; never from the thread itself.
    void Join();
    // Past its exit step: it touches the dispatcher no more.
    bool Finished() const { return finished_.load(); }
    // Tells the threads of one dispatcher from another's.
    const WorkerSignals& Signals() const { return signals_; }

    // The worker thread the caller runs on, or nullptr on any other thread.
    static DispatcherThread* Current();

protected:
    virtual void Execute() = 0;
    // Run after Execute, before the thread counts as finished.
    virtual void ExitStep() {}

    WorkerHost& host_;
    WorkerSignals& signals_;

private:
    void Main();

    std::thread thread_;
    std::atomic<bool> finished_{false};
};

class ComThread final : public DispatcherThread {
public:
    using DispatcherThread::DispatcherThread;

protected:
    void Execute() override;
};

// While cycles started by device events keep finding bytes, this thread waits on the device
// itself (at most one cycle's time) instead of handing back to the com thread after each,
// so that a stream costs no thread switches; the com thread stays parked meanwhile, and
// only one of the two ever waits on the device. A quiet wait gives the device back.
class DispThread final : public DispatcherThread {
public:
    using DispatcherThread::DispatcherThread;

protected:
    void Execute() override;
    void ExitStep() override;

private:
    bool releaseOnExit_ = false;
};

class OutThread final : public DispatcherThread {
public:
    using DispatcherThread::DispatcherThread;

protected:
    void Execute() override;
};

// The three threads as the dispatcher holds them. The references are guarded, but the
// guard is never held while a thread is waited for or joined.
class WorkerThreads {
public:
    enum Role : uint8_t { kCom, kDispatcher, kOutput };

    // Keeps the thread in its role's place and starts it.
    void Start(Role role, std::unique_ptr<DispatcherThread> thread);
    DispatcherThread* Get(Role role) const;
    // Lives, and is not the caller's own thread.
    bool OtherAlive(Role role) const;
    // Waits (serving the GUI thread's messages) until each thread has finished, then
    // joins and frees it: none may outlive the dispatcher. Never on a worker thread.
    void JoinAll();

private:
    mutable std::mutex mutex_;
    std::unique_ptr<DispatcherThread> threads_[3];
};

}  // namespace hydrix::comm
