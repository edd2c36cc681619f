// The dispatcher thread's passes over the triggers: after each fill of the input
// ring the status and data triggers, and on every cycle the status and timer
// triggers. Each pass delivers at most one firing (a data match may bring an
// availability offer and several data triggers completing on the same byte).
#include <vector>

#include "comm/dispatcher.h"

namespace hydrix::comm {

namespace {

// Bounds one device cycle under a steady stream, so that timer triggers keep their pace.
constexpr int kFillRoundsPerCycle = 16;

}  // namespace

uint32_t BaseDispatcher::UnreadCountThrough(uint64_t at) {
    std::lock_guard guard(inputLock_);
    const uint64_t tailAt = inRing_.TailAt();
    // A byte a reader already took is no longer unread.
    return at >= tailAt && at < inRing_.Received() ? static_cast<uint32_t>(at - tailAt + 1) : 0;
}

bool BaseDispatcher::OfferAvailable(uint64_t at, uint32_t count) {
    recorders_.Log(LogKind::Trigger, LogSubKind::Avail, count);
    {
        std::lock_guard guard(dispatcherLock_);
        triggers_.SetLastAvailAt(at);
    }
    return NotifyHandlers(kTriggerAvailMsg, count, 0);
}

bool BaseDispatcher::ScanDataTriggers() {
    if (inDispatch_) {
        return false;
    }
    uint32_t head;
    uint64_t received;
    const uint8_t* ring;
    {
        std::lock_guard guard(inputLock_);
        if (!inRing_.Allocated()) {
            return false;
        }
        head = inRing_.Head();
        received = inRing_.Received();
        // Only this thread writes ring bytes or reallocates the ring while it runs.
        ring = inRing_.Data();
    }
    std::vector<FiredData> fired;
    // Positions are counted in the received stream, not the ring: a full ring has its
    // head on its tail, and a whole ring's worth may arrive between two offers.
    uint64_t at;
    uint32_t longest = 0;
    uint32_t threshold;
    uint64_t lastAvail;
    {
        std::lock_guard guard(dispatcherLock_);
        at = triggers_.ScanData(ring, head, received, longest, fired);
        threshold = triggers_.AvailThreshold();
        lastAvail = triggers_.LastAvailAt();
    }

    if (!fired.empty()) {
        // at is the matched byte's place; the offer holds what precedes the string.
        if (threshold != 0 && at != lastAvail) {
            const uint32_t count = UnreadCountThrough(at);
            if (count >= longest && count - longest >= threshold) {
                OfferAvailable(at, count - longest);
            }
        }
        bool result = false;
        for (const auto& [handle, length] : fired) {
            if (signals_.ClosePending) {
                return false;
            }
            recorders_.Log(LogKind::Trigger, LogSubKind::Data, static_cast<uint32_t>(handle));
            result = NotifyHandlers(kTriggerDataMsg, static_cast<uint32_t>(handle), static_cast<uint32_t>(length));
        }
        return result;
    }

    if (threshold != 0 && at != lastAvail) {
        const auto unread = static_cast<uint32_t>(BytesAvailable());
        if (unread >= threshold) {
            return OfferAvailable(at, unread);
        }
    }
    return false;
}

bool BaseDispatcher::ScanTimerTriggers() {
    int handle;
    {
        std::lock_guard guard(dispatcherLock_);
        handle = triggers_.TakeExpiredTimer(clock_);
    }
    if (handle == 0) {
        return false;
    }
    recorders_.Log(LogKind::Trigger, LogSubKind::Timer, static_cast<uint32_t>(handle));
    return NotifyHandlers(kTriggerTimerMsg, static_cast<uint32_t>(handle), 0);
}

bool BaseDispatcher::ScanStatusTriggers() {
    {
        std::lock_guard guard(dispatcherLock_);
        if (!triggers_.HasStatusTriggers()) {
            return false;
        }
    }
    // The output lock may not be taken under the dispatcher lock: measure first.
    StatusInputs inputs;
    inputs.OutputPending = OutputPending();
    inputs.OutputRoom = outQueueSize_ - inputs.OutputPending;
    inputs.ErrorBits = errorBits_.load();
    int handle;
    uint32_t data = 0;
    {
        std::lock_guard guard(dispatcherLock_);
        inputs.ModemStatus = modemStatus_;
        handle = triggers_.FireStatus(inputs, outputSent_, data);
    }
    if (handle == 0) {
        return false;
    }
    recorders_.Log(LogKind::Trigger, LogSubKind::Status, static_cast<uint32_t>(handle));
    return NotifyHandlers(kTriggerStatusMsg, static_cast<uint32_t>(handle), data);
}

void BaseDispatcher::ClearStatusFired() {
    std::lock_guard guard(dispatcherLock_);
    triggers_.ClearStatusFired();
}

bool BaseDispatcher::RunDeviceCycle() {
    auto stopping = [this] { return signals_.Stopping(); };
    const uint32_t mask = signals_.EventMask.exchange(0) | device_->ModemChanges();
    constexpr uint32_t kModemEvents =
        platform::kEvCts | platform::kEvDsr | platform::kEvRlsd | platform::kEvRing | platform::kEvRingTrailingEdge;
    if ((mask & kModemEvents) && !stopping()) {
        RefreshModemStatus();
        if (!inDispatch_) {
            while (!stopping() && ScanStatusTriggers()) {
            }
        }
    }
    if ((mask & (platform::kEvBreak | platform::kEvErr)) && !stopping()) {
        RefreshDriverStatus();
        ReportDeviceLoss();
        if (!inDispatch_) {
            while (!stopping() && ScanStatusTriggers()) {
            }
        }
    }
    // While handlers make room and the driver has more, fill and scan again.
    bool found = false;
    for (int round = 0; round < kFillRoundsPerCycle && !stopping(); ++round) {
        bool driverHasMore;
        const uint32_t moved = FillInputRing(driverHasMore);
        found = found || moved > 0;
        if (!inDispatch_) {
            while (!stopping() && ScanStatusTriggers()) {
            }
            while (!stopping() && ScanDataTriggers()) {
            }
        }
        if (moved == 0 || !driverHasMore || InputRingFull()) {
            break;
        }
    }
    ClearStatusFired();
    return found;
}

void BaseDispatcher::RunTimerCycle() {
    if (signals_.ClosePending || inDispatch_) {
        return;
    }
    {
        std::lock_guard guard(dispatcherLock_);
        triggers_.ClearStatusHit();
    }
    auto stopping = [this] { return signals_.Stopping(); };
    bool fired;
    do {
        fired = false;
        if (!stopping() && ScanStatusTriggers()) {
            fired = true;
        }
        if (!stopping() && ScanTimerTriggers()) {
            fired = true;
        }
    } while (fired && !stopping());
    ClearStatusFired();
}

}  // namespace hydrix::comm
