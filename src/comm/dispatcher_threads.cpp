#include "comm/dispatcher_threads.h"

#include <chrono>
#include <exception>

#include "platform/dialogs.h"
#include "platform/message_loop.h"
#include "platform/serial_device.h"

namespace hydrix::comm {

namespace {

thread_local DispatcherThread* currentWorker = nullptr;

constexpr uint32_t kCycleTimeoutMs = 50;

}  // namespace

bool WaitProcessingMessages(const std::function<bool()>& done, uint32_t timeoutMs) {
    auto& loop = platform::MessageLoop::Instance();
    if (loop.IsOwnerThread()) {
        return loop.ProcessUntil(done, timeoutMs);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (timeoutMs != platform::kInfinite && std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void ReportThreadException(const std::string& text) {
    platform::ShowMessageBox(text, "Error", platform::MessageIcon::Error);
}

void WorkerSignals::ResetEvents(bool ack) {
    DeviceEventReady.Reset();
    CycleDone.Reset();
    if (ack) {
        ThreadAck.Reset();
    }
    OutputReady.Reset();
    FlushRequest.Reset();
}

void WorkerSignals::NoteEvents(uint32_t events) {
    if (events & platform::kEvRing) {
        RingSeen = true;
    }
    EventMask.fetch_or(events);
}

// DispatcherThread ------------------------------------------------------------------

DispatcherThread::DispatcherThread(WorkerHost& host, WorkerSignals& shared) : host_(host), signals_(shared) {}

DispatcherThread::~DispatcherThread() {
    Join();
}

void DispatcherThread::Start() {
    // Counted here rather than in the new thread, so that the count never reads 0
    // while a started thread has not yet begun to run.
    signals_.RunningThreads.fetch_add(1);
    try {
        thread_ = std::thread([this] { Main(); });
    } catch (...) {
        finished_ = true;
        if (signals_.RunningThreads.fetch_sub(1) == 1) {
            signals_.ThreadsRunning = false;
        }
        throw;
    }
}

void DispatcherThread::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

DispatcherThread* DispatcherThread::Current() {
    return currentWorker;
}

void DispatcherThread::Main() {
    currentWorker = this;
    try {
        Execute();
    } catch (const std::exception& e) {
        ReportThreadException(e.what());
    } catch (...) {
        ReportThreadException("Unknown exception in a dispatcher thread");
    }
    ExitStep();
    finished_ = true;
    if (signals_.RunningThreads.fetch_sub(1) == 1) {
        signals_.ThreadsRunning = false;
    }
    currentWorker = nullptr;
}

// Com thread: one device wait at a time, in lockstep with the dispatcher thread ----------

void ComThread::Execute() {
    WorkerSignals& s = signals_;
    host_.StartDeviceWaits();
    s.ThreadAck.Set();
    while (!s.StopThreads) {
        uint32_t events = 0;
        if (host_.WaitDeviceEvent(events, platform::kInfinite) < 0) {
            break;
        }
        if (s.StopThreads) {
            break;
        }
        s.NoteEvents(events);
        // Parked until the dispatcher thread gives the device back.
        s.DeviceEventReady.Set();
        s.CycleDone.Wait();
    }
    s.ThreadAck.Set();
}

// Dispatcher thread: a cycle on every device event and at least every 50 ms ------------

void DispThread::Execute() {
    WorkerSignals& s = signals_;
    s.ThreadAck.Set();
    // The com thread is parked and this thread waits on the device in its stead.
    bool holdingDevice = false;
    do {
        bool event;
        if (holdingDevice) {
            uint32_t events = 0;
            event = host_.WaitDeviceEvent(events, kCycleTimeoutMs) > 0;
            s.NoteEvents(events);
        } else {
            event = s.DeviceEventReady.Wait(kCycleTimeoutMs);
        }
        if (s.StopThreads) {
            break;
        }
        // The com thread is parked from the event it handed over until cycle done is set; a
        // time-out while it waits on the device leaves the device with it.
        const bool hadDevice = holdingDevice || event;
        const bool found = host_.RunDeviceCycle();
        host_.RunTimerCycle();
        s.CyclesDone.fetch_add(1);
        // The device is kept while its events bring bytes.
        holdingDevice = event && found && !s.Stopping();
        if (hadDevice && !holdingDevice) {
            s.CycleDone.Set();
        }
    } while (!s.Stopping());
    if (holdingDevice) {
        s.CycleDone.Set();
    }
    s.ThreadAck.Set();
    releaseOnExit_ = s.Stopping();
}

void DispThread::ExitStep() {
    if (releaseOnExit_) {
        host_.ReleaseBuffers();
    }
}

// Output thread ----------------------------------------------------------------------

void OutThread::Execute() {
    WorkerSignals& s = signals_;
    s.ThreadAck.Set();
    do {
        const int which = platform::Event::WaitAny({&s.OutputReady, &s.FlushRequest});
        if (which == 0) {
            if (s.StopThreads) {
                break;
            }
            host_.DrainOutput();
        } else if (which == 1) {
            s.ThreadAck.Set();
        }
    } while (!s.Stopping());
}

// The dispatcher's hold on its threads -------------------------------------------------

void WorkerThreads::Start(Role role, std::unique_ptr<DispatcherThread> thread) {
    DispatcherThread* raw = thread.get();
    {
        std::lock_guard guard(mutex_);
        threads_[role] = std::move(thread);
    }
    raw->Start();
}

DispatcherThread* WorkerThreads::Get(Role role) const {
    std::lock_guard guard(mutex_);
    return threads_[role].get();
}

bool WorkerThreads::OtherAlive(Role role) const {
    std::lock_guard guard(mutex_);
    const DispatcherThread* thread = threads_[role].get();
    return thread != nullptr && !thread->Finished() && thread != DispatcherThread::Current();
}

void WorkerThreads::JoinAll() {
    std::unique_ptr<DispatcherThread> threads[3];
    {
        std::lock_guard guard(mutex_);
        for (int i = 0; i < 3; ++i) {
            threads[i] = std::move(threads_[i]);
        }
    }
    for (auto& thread : threads) {
        if (!thread) {
            continue;
        }
        // A thread still running here would use freed memory later: wait for it.
        WaitProcessingMessages([&] { return thread->Finished(); }, platform::kInfinite);
        thread->Join();
    }
}

}  // namespace hydrix::comm
