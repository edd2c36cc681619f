#include "comm/posix_dispatcher.h"

#include <cerrno>
#include <cstring>

#include "comm/dispatcher_threads.h"
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

PosixDispatcher::PosixDispatcher(CustomComPort* owner, platform::Clock& clock) : BaseDispatcher(owner, clock) {}

PosixDispatcher::~PosixDispatcher() {
    ShutdownDispatcher();
}

int PosixDispatcher::DeviceOpen(const std::string& name, int /*inSize*/, int /*outSize*/) {
    return device_.Open(name);
}

bool PosixDispatcher::SizeDeviceQueues(int /*inSize*/, int /*outSize*/) {
    // The tty driver's queues have a fixed size.
    return true;
}

int PosixDispatcher::DeviceClose() {
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
    const int result = device_.Close();
    return result < 0 ? -1 : 0;
}

int PosixDispatcher::EscapeLineFunction(int code) {
    int result = 0;
    switch (code) {
    case kSetBreak:
        result = device_.SetBreak(true);
        break;
    case kClrBreak:
        result = device_.SetBreak(false);
        break;
    case kGetBaseIrq:
        return 0;
    default:
        result = device_.EscapeFunction(code);
        break;
    }
    // Pseudo-terminals and some adapters have no modem lines or break: not an error.
    if (result == -EINVAL || result == -ENOTTY || result == -ENOTSUP) {
        return 0;
    }
    return result;
}

int PosixDispatcher::PurgeDeviceQueue(int which) {
    if (which == 1) {
        return device_.Purge(true, false);
    }
    if (threads_.OtherAlive(WorkerThreads::kOutput)) {
        signals_.ThreadAck.Reset();
        signals_.FlushRequest.Set();
        device_.CancelWriteWait();
        signals_.ThreadAck.Wait(kFlushAckTimeoutMs);
        std::lock_guard guard(outputLock_);
        outRing_.Clear();
        ++purgeGeneration_;
    }
    return device_.Purge(false, true);
}

uint32_t PosixDispatcher::ReadDeviceErrors(DeviceStatus& status) {
    status.Flags = device_.TakeLineErrors();
    const int waiting = device_.InQueue();
    status.InQueue = waiting > 0 ? static_cast<uint32_t>(waiting) : 0;
    const int sending = device_.OutQueue();
    status.DriverOutQueue = sending > 0 ? static_cast<uint32_t>(sending) : 0;
    std::lock_guard guard(outputLock_);
    status.OutQueue = outRing_.Count();
    return status.Flags;
}

void PosixDispatcher::NoteReadFailure(int /*code*/) {}

int PosixDispatcher::ReadDeviceState(platform::DeviceState& state) {
    return device_.GetState(state) < 0 ? -1 : 0;
}

int PosixDispatcher::DeviceRead(void* buffer, int count) {
    return device_.Read(buffer, static_cast<size_t>(count));
}

int PosixDispatcher::WriteDeviceState(const platform::DeviceState& state) {
    return device_.SetState(state);
}

int PosixDispatcher::DeviceWrite(const void* buffer, int count) {
    std::lock_guard guard(outputLock_);
    outRing_.Put(static_cast<const uint8_t*>(buffer), static_cast<uint32_t>(count));
    signals_.OutputReady.Set();
    return count;
}

void PosixDispatcher::StartDeviceWaits() {
    device_.SetEventMask(kComEventMask);
}

int PosixDispatcher::WaitDeviceEvent(uint32_t& mask) {
    return device_.WaitEvent(mask);
}

int PosixDispatcher::ReadModemStatus() {
    return device_.ModemStatus();
}

uint32_t PosixDispatcher::PollDeviceEvents() {
    return device_.ModemChanges();
}

// Threads ------------------------------------------------------------------------------

void PosixDispatcher::StartThreads() {
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

void PosixDispatcher::StopIoThreads() {
    DispatcherThread* out = threads_.Get(WorkerThreads::kOutput);
    DispatcherThread* com = threads_.Get(WorkerThreads::kCom);
    signals_.StopThreads = true;
    if (out != nullptr && !out->Finished()) {
        auto gone = [out] { return out->Finished(); };
        while (!gone()) {
            signals_.FlushRequest.Set();
            device_.CancelWriteWait();
            WaitProcessingMessages(gone, kStopPokeMs);
        }
    }
    if (com != nullptr && !com->Finished()) {
        signals_.ThreadAck.Reset();
        auto gone = [com] { return com->Finished(); };
        while (!gone()) {
            device_.SetEventMask(0);
            signals_.CycleDone.Set();
            WaitProcessingMessages(gone, kStopPokeMs);
        }
    }
}

void PosixDispatcher::StopThreads() {
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
    if (!IsWorkerThread()) {
        JoinFinishedThreads();
    }
}

// Output draining (output thread) ----------------------------------------------------------

void PosixDispatcher::AdvanceOutTail(uint32_t count, uint32_t generation) {
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

void PosixDispatcher::DrainOutput() {
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

        const int written = device_.Write(block, length);
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
            const int ready = device_.WaitWritable(kWritableSliceMs);
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
