#include "comm/dispatcher_threads.h"

#include <chrono>
#include <exception>

#include "comm/dispatcher.h"
#include "comm/posix_dispatcher.h"
#include "platform/dialogs.h"
#include "platform/event.h"
#include "platform/message_loop.h"

namespace hydrix::comm {

namespace {

thread_local DispatcherThread* currentWorker = nullptr;

constexpr uint32_t kComEventMask = platform::kEvRxChar | platform::kEvCts | platform::kEvDsr |
                                   platform::kEvRlsd | platform::kEvBreak | platform::kEvErr |
                                   platform::kEvRing;
constexpr uint32_t kCycleTimeoutMs = 50;

}  // namespace

bool WaitProcessingMessages(const std::function<bool()>& done, uint32_t timeoutMs) {
    auto& loop = platform::MessageLoop::Instance();
    if (loop.IsOwnerThread()) return loop.ProcessUntil(done, timeoutMs);
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

// DispatcherThread ------------------------------------------------------------------

DispatcherThread::DispatcherThread(BaseDispatcher& dispatcher) : dispatcher_(dispatcher) {}

DispatcherThread::~DispatcherThread() { Join(); }

void DispatcherThread::Start() {
    // Counted here rather than in the new thread, so that the count never reads 0
    // while a started thread has not yet begun to run.
    dispatcher_.runningThreads_.fetch_add(1);
    try {
        thread_ = std::thread([this] { Main(); });
    } catch (...) {
        finished_ = true;
        if (dispatcher_.runningThreads_.fetch_sub(1) == 1) dispatcher_.threadsRunning_ = false;
        throw;
    }
}

void DispatcherThread::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

DispatcherThread* DispatcherThread::Current() { return currentWorker; }

void DispatcherThread::Main() {
    currentWorker = this;
    try {
        Execute();
    } catch (const std::exception& e) {
        ReportThreadException(e.what());
    } catch (...) {
        ReportThreadException("Unknown exception in a dispatcher thread");
    }
    dispatcher_.ThreadExitStep(*this);
    currentWorker = nullptr;
}

void DispatcherThread::DeliverOnGuiThread(uint32_t msg, uint32_t handle,
                                          const TriggerMethod& method, int32_t data) {
    pendingMsg_ = msg;
    pendingHandle_ = handle;
    pendingData_ = data;
    platform::MessageLoop::Instance().RunOnOwnerThread(
        [&] { method(pendingMsg_, pendingHandle_, pendingData_); });
}

void DispatcherThread::RunOnGuiThread(const std::function<void()>& method) {
    platform::MessageLoop::Instance().RunOnOwnerThread(method);
}

// Com thread: one device wait at a time, in lockstep with the dispatcher thread ----------

ComThread::ComThread(PosixDispatcher& dispatcher) : DispatcherThread(dispatcher), port_(dispatcher) {}

void ComThread::Execute() {
    PosixDispatcher& d = port_;
    d.device_.SetEventMask(kComEventMask);
    d.threadAck_.Set();
    while (!d.stopThreads_) {
        uint32_t events = 0;
        if (d.WaitDeviceEvent(events) < 0) break;
        if (events & platform::kEvRing) d.ringSeen_ = true;
        if (d.stopThreads_) break;
        d.lastEventMask_.fetch_or(events);
        // A time-out cycle that ran while this thread was in its wait has left cycle
        // done set; only the cycle this event starts may release the next wait.
        d.cycleDone_.Reset();
        d.deviceEventReady_.Set();
        d.cycleDone_.Wait();
    }
    d.threadAck_.Set();
}

// Dispatcher thread: a cycle on every device event and at least every 50 ms ------------

void DispThread::Execute() {
    BaseDispatcher& d = Dispatcher();
    d.threadAck_.Set();
    do {
        d.deviceEventReady_.Wait(kCycleTimeoutMs);
        if (d.stopThreads_) break;
        d.RunDeviceCycle();
        d.RunTimerCycle();
    } while (!d.stopThreads_ && !d.closePending_);
    d.threadAck_.Set();
    releaseOnExit_ = d.closePending_ || d.stopThreads_;
}

// Output thread ----------------------------------------------------------------------

OutThread::OutThread(PosixDispatcher& dispatcher) : DispatcherThread(dispatcher), port_(dispatcher) {}

void OutThread::Execute() {
    PosixDispatcher& d = port_;
    d.threadAck_.Set();
    do {
        const int which = platform::Event::WaitAny({&d.outputReady_, &d.flushRequest_});
        if (which == 0) {
            if (d.stopThreads_) break;
            d.DrainOutput();
        } else if (which == 1) {
            d.threadAck_.Set();
        }
    } while (!d.stopThreads_ && !d.closePending_);
}

// Thread bookkeeping of the dispatcher ------------------------------------------------

void BaseDispatcher::ThreadExitStep(DispatcherThread& thread) {
    auto* disp = dynamic_cast<DispThread*>(&thread);
    if (disp != nullptr && disp->ReleaseOnExit()) ReleaseBuffers();
    thread.MarkFinished();
    if (runningThreads_.fetch_sub(1) == 1) threadsRunning_ = false;
}

bool BaseDispatcher::IsWorkerThread() const {
    DispatcherThread* current = DispatcherThread::Current();
    return current != nullptr && &current->Dispatcher() == this;
}

DispatcherThread* BaseDispatcher::DispThreadObject() {
    std::lock_guard guard(threadsMutex_);
    return dispThread_.get();
}

void BaseDispatcher::RunOnGuiThread(const std::function<void()>& fn) {
    platform::MessageLoop::Instance().RunOnOwnerThread(fn);
}

void BaseDispatcher::JoinFinishedThreads() {
    if (IsWorkerThread()) return;
    std::unique_ptr<DispatcherThread> threads[3];
    {
        std::lock_guard guard(threadsMutex_);
        threads[0] = std::move(comThread_);
        threads[1] = std::move(dispThread_);
        threads[2] = std::move(outThread_);
    }
    for (auto& thread : threads) {
        if (!thread) continue;
        // A thread still running here would use freed memory later: wait for it.
        WaitProcessingMessages([&] { return thread->Finished(); }, platform::kInfinite);
        thread->Join();
    }
}

}  // namespace hydrix::comm
