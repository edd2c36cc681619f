// The dispatcher's hold on its three worker threads: starting and stopping them, the
// com thread's waits on the device and the output thread's writes of the output ring.
#include "comm/dispatcher.h"
#include "comm/exceptions.h"
#include "platform/event.h"

namespace hydrix::comm {

namespace {

constexpr uint32_t kStartAckTimeoutMs = 3000;
constexpr uint32_t kFlushAckTimeoutMs = 5000;
constexpr int32_t kDispatcherStopTicks = 36;
// How often a stopping wait repeats its wake-ups, in case one came before the wait.
constexpr uint32_t kStopPokeMs = 10;
constexpr uint32_t kWritableSliceMs = 50;
constexpr uint32_t kComEventMask = platform::kEvRxChar | platform::kEvCts | platform::kEvDsr | platform::kEvRlsd |
                                   platform::kEvBreak | platform::kEvErr | platform::kEvRing;

}  // namespace

// Starting and stopping -------------------------------------------------------------------

void BaseDispatcher::StartThreads() {
    if (workerMode_ == WorkerMode::kCallerDriven) {
        return;
    }
    {
        std::lock_guard guard(dispatcherLock_);
        if (signals_.ThreadsRunning) {
            throw ECommException("Dispatcher already started");
        }
        signals_.ThreadsRunning = true;
        signals_.StopThreads = false;
    }
    JoinFinishedThreads();

    WorkerHost& host = *this;
    auto start = [this](WorkerThreads::Role role, std::unique_ptr<DispatcherThread> thread) {
        threads_.Start(role, std::move(thread));
        // A thread slow to confirm does not stop the open.
        signals_.ThreadAck.Wait(kStartAckTimeoutMs);
    };
    start(WorkerThreads::kCom, std::make_unique<ComThread>(host, signals_));
    start(WorkerThreads::kDispatcher, std::make_unique<DispThread>(host, signals_));
    start(WorkerThreads::kOutput, std::make_unique<OutThread>(host, signals_));
}

void BaseDispatcher::StopIoThreads() {
    DispatcherThread* out = threads_.Get(WorkerThreads::kOutput);
    DispatcherThread* com = threads_.Get(WorkerThreads::kCom);
    signals_.StopThreads = true;
    if (out != nullptr && !out->Finished()) {
        auto gone = [out] { return out->Finished(); };
        while (!gone()) {
            signals_.FlushRequest.Set();
            device_->CancelWriteWait();
            WaitProcessingMessages(gone, kStopPokeMs);
        }
    }
    if (com != nullptr && !com->Finished()) {
        signals_.ThreadAck.Reset();
        auto gone = [com] { return com->Finished(); };
        while (!gone()) {
            device_->SetEventMask(0);
            signals_.CycleDone.Set();
            WaitProcessingMessages(gone, kStopPokeMs);
        }
    }
}

void BaseDispatcher::StopThreads() {
    // No lock is held while waiting: the dispatcher thread may need the dispatcher
    // lock to finish its cycle, and it is always waited for to the end.
    {
        std::lock_guard guard(dispatcherLock_);
        if (!signals_.ThreadsRunning) {
            return;
        }
        signals_.StopThreads = true;
    }
    StopIoThreads();

    DispatcherThread* disp = threads_.Get(WorkerThreads::kDispatcher);
    if (disp != nullptr && disp != DispatcherThread::Current() && !disp->Finished()) {
        auto gone = [disp] { return disp->Finished(); };
        auto waitTicks = [&](int32_t ticks) {
            const int32_t start = platform::TicksNow(Clock());
            while (!gone()) {
                if (platform::TicksNow(Clock()) - start > ticks) {
                    return false;
                }
                WaitProcessingMessages(gone, kStopPokeMs);
            }
            return true;
        };
        if (!waitTicks(kDispatcherStopTicks)) {
            signals_.DeviceEventReady.Set();
            waitTicks(kDispatcherStopTicks);
        }
        // Still there: it is stuck in a handler. It is waited for all the same (with the
        // GUI thread's messages served), never left running over a freed dispatcher.
        WaitProcessingMessages(gone, platform::kInfinite);
    }

    signals_.ResetEvents(false);
    JoinFinishedThreads();
}

int BaseDispatcher::CloseDeviceAndThreads() {
    if (signals_.ThreadsRunning) {
        signals_.StopThreads = true;
        // The dispatcher thread is stopped here too unless it is delivering a
        // notification (then it ends by itself once the delivery returns); either way
        // no thread uses the device any more once it is closed below.
        if (!inDispatch_ && !IsWorkerThread()) {
            StopThreads();
        } else {
            StopIoThreads();
        }
    }
    return device_->Close();
}

void BaseDispatcher::ReleaseBuffers() {
    if (signals_.ThreadsRunning) {
        StopThreads();
    }
    {
        std::lock_guard guard(inputLock_);
        inRing_.Release();
    }
    {
        std::lock_guard guard(outputLock_);
        outRing_.Release();
    }
}

bool BaseDispatcher::IsWorkerThread() const {
    DispatcherThread* current = DispatcherThread::Current();
    return current != nullptr && &current->Signals() == &signals_;
}

void BaseDispatcher::JoinFinishedThreads() {
    if (!IsWorkerThread()) {
        threads_.JoinAll();
    }
}

// Com thread ---------------------------------------------------------------------------------

void BaseDispatcher::StartDeviceWaits() {
    device_->SetEventMask(kComEventMask);
}

int BaseDispatcher::WaitDeviceEvent(uint32_t& events, uint32_t timeoutMs) {
    return device_->WaitEvent(events, timeoutMs);
}

// Output thread ------------------------------------------------------------------------------

void BaseDispatcher::FlushOutputThread() {
    signals_.ThreadAck.Reset();
    signals_.FlushRequest.Set();
    device_->CancelWriteWait();
    signals_.ThreadAck.Wait(kFlushAckTimeoutMs);
    std::lock_guard guard(outputLock_);
    outRing_.Clear();
    ++purgeGeneration_;
}

void BaseDispatcher::AdvanceOutTail(uint32_t count, uint32_t generation) {
    std::lock_guard guard(outputLock_);
    if (generation != purgeGeneration_ || !outRing_.Allocated()) {
        return;
    }
    outRing_.Consume(count);
    // Once empty the ring starts again at 0, so that the next block is one piece.
    if (outRing_.Count() == 0) {
        outRing_.Clear();
    }
}

void BaseDispatcher::DrainOutput() {
    for (;;) {
        const uint8_t* block;
        uint32_t length = 0;
        uint32_t generation;
        {
            // Writers only add behind the head, so the block stays put while written.
            std::lock_guard guard(outputLock_);
            block = outRing_.OldestBlock(length);
            if (block == nullptr) {
                return;
            }
            generation = purgeGeneration_;
        }

        const int written = device_->Write(block, static_cast<int>(length));
        if (written > 0) {
            AdvanceOutTail(static_cast<uint32_t>(written), generation);
            continue;
        }
        if (written < 0) {
            // A failed write drops the block; the ring keeps working.
            AdvanceOutTail(length, generation);
            continue;
        }
        // The driver is full: wait until it takes more, or until a flush is asked for.
        for (;;) {
            if (signals_.FlushRequest.Wait(0)) {
                signals_.ThreadAck.Set();
                return;
            }
            const int ready = device_->WaitWritable(kWritableSliceMs);
            if (ready > 0) {
                break;
            }
            if (ready < 0) {
                AdvanceOutTail(length, generation);
                break;
            }
        }
    }
}

}  // namespace hydrix::comm
