#include "comm/trigger_lists.h"

#include <algorithm>

#include "comm/ring.h"

namespace hydrix::comm {

namespace {

constexpr int32_t kHandleCounterLimit = 4096;
constexpr int kHighestSearchedHandle = 4096;

bool HandleHeld(int handle, const std::vector<TimerTrigger>& timers, const std::vector<DataTrigger>& datas,
                const std::vector<StatusTrigger>& statuses) {
    for (const auto& t : timers) {
        if (t.Handle == handle) {
            return true;
        }
    }
    for (const auto& t : datas) {
        if (t.Handle == handle) {
            return true;
        }
    }
    for (const auto& t : statuses) {
        if ((t.Handle & ~7) == handle) {
            return true;
        }
    }
    return false;
}

template <typename Records>
bool EraseHandle(Records& list, int handle) {
    auto it = std::find_if(list.begin(), list.end(), [handle](const auto& t) { return t.Handle == handle; });
    if (it == list.end()) {
        return false;
    }
    list.erase(it);
    return true;
}

}  // namespace

int IssueTriggerHandle(int32_t& counter, const std::vector<TimerTrigger>& timers, const std::vector<DataTrigger>& datas,
                       const std::vector<StatusTrigger>& statuses) {
    if (counter < kHandleCounterLimit) {
        return (counter++) * 8;
    }
    for (int handle = 8; handle <= kHighestSearchedHandle; handle += 8) {
        if (!HandleHeld(handle, timers, datas, statuses)) {
            return handle;
        }
    }
    return 0;
}

int32_t CounterPastHandles(int32_t counter, const std::vector<TimerTrigger>& timers,
                           const std::vector<DataTrigger>& datas, const std::vector<StatusTrigger>& statuses) {
    int32_t highest = 0;
    for (const auto& t : timers) {
        highest = std::max(highest, t.Handle);
    }
    for (const auto& t : datas) {
        highest = std::max(highest, t.Handle);
    }
    for (const auto& t : statuses) {
        highest = std::max(highest, t.Handle & ~7);
    }
    return std::max(counter, highest / 8 + 1);
}

// Lists ----------------------------------------------------------------------------------

int TriggerLists::AddTimer() {
    const int handle = IssueTriggerHandle(handleCounter_, timers_, datas_, statuses_);
    if (handle == 0) {
        return 0;
    }
    TimerTrigger trigger;
    trigger.Handle = handle;
    timers_.push_back(trigger);
    return handle;
}

int TriggerLists::AddData(const uint8_t* data, int length, bool ignoreCase) {
    const int handle = IssueTriggerHandle(handleCounter_, timers_, datas_, statuses_);
    if (handle == 0) {
        return 0;
    }
    DataTrigger trigger;
    trigger.Handle = handle;
    InitDataTrigger(trigger, data, length, ignoreCase);
    datas_.push_back(trigger);
    return handle;
}

TimerTrigger* TriggerLists::FindTimer(int handle) {
    auto it =
        std::find_if(timers_.begin(), timers_.end(), [handle](const TimerTrigger& t) { return t.Handle == handle; });
    return it == timers_.end() ? nullptr : &*it;
}

TriggerKind TriggerLists::Remove(int handle) {
    if (EraseHandle(timers_, handle)) {
        return TriggerKind::kTimer;
    }
    if (EraseHandle(statuses_, handle)) {
        return TriggerKind::kStatus;
    }
    if (EraseHandle(datas_, handle)) {
        return TriggerKind::kData;
    }
    return TriggerKind::kNone;
}

void TriggerLists::Clear() {
    availThreshold_ = 0;
    timers_.clear();
    datas_.clear();
    statuses_.clear();
    handleCounter_ = 1;
}

void TriggerLists::SnapshotInto(TriggerSnapshot& snapshot) const {
    snapshot.AvailThreshold = static_cast<int32_t>(availThreshold_);
    snapshot.Timers = timers_;
    snapshot.Datas = datas_;
    snapshot.Statuses = statuses_;
}

void TriggerLists::Reinstate(const TriggerSnapshot& snapshot) {
    availThreshold_ = snapshot.AvailThreshold > 0 ? static_cast<uint32_t>(snapshot.AvailThreshold) : 0;
    timers_ = snapshot.Timers;
    datas_ = snapshot.Datas;
    statuses_ = snapshot.Statuses;
    // The counter restarted at open; new handles must not repeat reinstated ones.
    handleCounter_ = CounterPastHandles(handleCounter_, timers_, datas_, statuses_);
}

// Scans ----------------------------------------------------------------------------------

uint64_t TriggerLists::ScanData(const uint8_t* ring, uint32_t head, uint64_t received, uint32_t& longest,
                                std::vector<FiredData>& fired) {
    uint64_t at = scanned_;
    if (datas_.empty()) {
        at = received;
        scanPos_ = head;
    }
    uint32_t pos = scanPos_;
    for (; at < received; ++at) {
        const uint8_t c = ring[pos];
        for (auto& trigger : datas_) {
            if (trigger.Length > 0 && !trigger.Matched && MatchTriggerByte(trigger, c)) {
                trigger.Matched = 1;
                longest = std::max(longest, static_cast<uint32_t>(trigger.Length));
            }
        }
        pos = RingAdvance(pos, 1, kInputRingSize);
        if (longest > 0) {
            // Delivered last-registered first.
            for (auto it = datas_.rbegin(); it != datas_.rend(); ++it) {
                if (it->Matched) {
                    it->Matched = 0;
                    fired.emplace_back(it->Handle, it->Length);
                }
            }
            break;
        }
    }
    scanPos_ = pos;
    scanned_ = fired.empty() ? at : at + 1;
    return at;
}

void TriggerLists::ResetPartialMatches() {
    for (auto& trigger : datas_) {
        ResetPartialMatch(trigger);
    }
}

int TriggerLists::TakeExpiredTimer(const platform::Clock& clock) {
    for (auto& trigger : timers_) {
        if (trigger.Active && platform::TimerExpired(clock, trigger.Timer)) {
            trigger.Active = 0;
            return trigger.Handle;
        }
    }
    return 0;
}

int TriggerLists::FireStatus(const StatusInputs& inputs, std::atomic<bool>& outputSent, uint32_t& data) {
    for (auto& trigger : statuses_) {
        if (!trigger.Armed || trigger.Fired) {
            continue;
        }
        bool fire = false;
        switch (trigger.Handle & 7) {
        case kStatusModem: {
            const auto expected = static_cast<uint8_t>(trigger.Value & 0xFF);
            const auto mask = static_cast<uint8_t>(trigger.Value >> 8);
            fire = ((inputs.ModemStatus ^ expected) & mask) != 0;
            break;
        }
        case kStatusLine:
            if (inputs.ErrorBits & trigger.Value) {
                trigger.Value = static_cast<uint16_t>(inputs.ErrorBits);
                fire = true;
            }
            break;
        case kStatusOutBuffFree:
            if (inputs.OutputRoom >= trigger.Value) {
                fire = true;
                data = static_cast<uint32_t>(inputs.OutputRoom);
            }
            break;
        case kStatusOutBuffUsed:
            if (inputs.OutputPending <= trigger.Value) {
                fire = true;
                data = static_cast<uint32_t>(inputs.OutputPending);
            }
            break;
        case kStatusOutSent:
            fire = outputSent.exchange(false);
            break;
        default:
            break;
        }
        if (fire) {
            trigger.Armed = false;
            trigger.Fired = true;
            statusHit_ = true;
            return trigger.Handle;
        }
    }
    return 0;
}

void TriggerLists::ClearStatusFired() {
    if (!statusHit_) {
        return;
    }
    for (auto& trigger : statuses_) {
        trigger.Fired = false;
    }
    statusHit_ = false;
}

}  // namespace hydrix::comm
