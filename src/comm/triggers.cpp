// The dispatcher's trigger operations: the lists change only under the dispatcher lock,
// and each change goes to the dispatch log.
#include "comm/dispatcher.h"

namespace hydrix::comm {

void BaseDispatcher::SetAvailThreshold(int count) {
    std::lock_guard guard(dispatcherLock_);
    triggers_.SetAvailThreshold(count > 0 ? static_cast<uint32_t>(count) : 0);
    recorders_.Log(LogKind::TrDatChg, LogSubKind::AvailTrigger, triggers_.AvailThreshold());
}

int BaseDispatcher::AvailThreshold() {
    std::lock_guard guard(dispatcherLock_);
    return static_cast<int>(triggers_.AvailThreshold());
}

int BaseDispatcher::NewTimerTrigger() {
    std::lock_guard guard(dispatcherLock_);
    const int handle = triggers_.AddTimer();
    if (handle == 0) {
        return ecNoMoreTriggers;
    }
    recorders_.Log(LogKind::TrigAllc, LogSubKind::TimerTrigger, static_cast<uint32_t>(handle));
    return handle;
}

int BaseDispatcher::NewDataTrigger(const void* data, bool ignoreCase, int length) {
    if (length > kMaxTriggerLength) {
        return ecTriggerTooLong;
    }
    if (length < 0 || (length > 0 && data == nullptr)) {
        return ecBadArgument;
    }
    std::lock_guard guard(dispatcherLock_);
    const int handle = triggers_.AddData(static_cast<const uint8_t*>(data), length, ignoreCase);
    if (handle == 0) {
        return ecNoMoreTriggers;
    }
    recorders_.Log(LogKind::TrigAllc, LogSubKind::DataTrigger, static_cast<uint32_t>(handle), data,
                   static_cast<uint32_t>(length));
    return handle;
}

int BaseDispatcher::ArmTimerTrigger(int handle, int32_t ticks, bool activate) {
    std::lock_guard guard(dispatcherLock_);
    TimerTrigger* timer = triggers_.FindTimer(handle);
    if (timer == nullptr) {
        return ecBadTriggerHandle;
    }
    if (activate) {
        if (ticks != 0) {
            timer->Ticks = ticks;
        }
        platform::NewTimer(clock_, timer->Timer, timer->Ticks);
        timer->Active = 1;
        const int32_t interval = timer->Ticks;
        recorders_.Log(LogKind::TrDatChg, LogSubKind::TimerTrigger, static_cast<uint32_t>(handle), &interval,
                       sizeof interval);
    } else {
        timer->Active = 0;
        static constexpr char kDeactivated[] = "Deactivated";
        recorders_.Log(LogKind::TrDatChg, LogSubKind::TimerTrigger, static_cast<uint32_t>(handle), kDeactivated,
                       sizeof kDeactivated - 1);
    }
    return 0;
}

int BaseDispatcher::DeleteTrigger(int handle) {
    if (handle == kAvailTriggerHandle) {
        SetAvailThreshold(0);
        return 0;
    }
    if (handle < 2) {
        return ecBadTriggerHandle;
    }
    std::lock_guard guard(dispatcherLock_);
    const auto h = static_cast<uint32_t>(handle);
    switch (triggers_.Remove(handle)) {
    case TriggerKind::kTimer:
        recorders_.Log(LogKind::TrigDisp, LogSubKind::Timer, h);
        return 0;
    case TriggerKind::kStatus: {
        const auto type = static_cast<uint8_t>(handle & 7);
        recorders_.Log(LogKind::TrigDisp, LogSubKind::StatusTrigger, h, &type, 1);
        return 0;
    }
    case TriggerKind::kData:
        recorders_.Log(LogKind::TrigDisp, LogSubKind::Data, h);
        return 0;
    case TriggerKind::kNone:
        break;
    }
    return ecBadTriggerHandle;
}

void BaseDispatcher::RemoveAllTriggers() {
    std::lock_guard guard(dispatcherLock_);
    triggers_.Clear();
}

void BaseDispatcher::SnapshotTriggers(TriggerSnapshot& snapshot) {
    std::lock_guard guard(dispatcherLock_);
    triggers_.SnapshotInto(snapshot);
}

void BaseDispatcher::ReinstateTriggers(const TriggerSnapshot& snapshot) {
    std::lock_guard guard(dispatcherLock_);
    triggers_.Reinstate(snapshot);
}

}  // namespace hydrix::comm
