// Trigger bookkeeping and notification delivery of the dispatcher: the lists change
// only under the dispatcher lock; a delivery runs without it, so that handlers on the
// GUI thread may call back into the dispatcher while the dispatcher thread waits.
#include <algorithm>
#include <cstring>

#include "comm/dispatcher.h"

namespace hydrix::comm {

namespace {

constexpr int32_t kHandleCounterLimit = 4096;
constexpr int kHighestSearchedHandle = 4096;

bool HandleHeld(int handle, const std::vector<TimerTrigger>& timers,
                const std::vector<DataTrigger>& datas, const std::vector<StatusTrigger>& statuses) {
    for (const auto& t : timers) {
        if (t.Handle == handle) return true;
    }
    for (const auto& t : datas) {
        if (t.Handle == handle) return true;
    }
    for (const auto& t : statuses) {
        if ((t.Handle & ~7) == handle) return true;
    }
    return false;
}

template <typename Rec>
void RemoveDeleted(std::vector<std::shared_ptr<Rec>>& list) {
    list.erase(std::remove_if(list.begin(), list.end(), [](const auto& r) { return r->Deleted; }),
               list.end());
}

template <typename Rec, typename Pred>
bool DetachRecords(std::vector<std::shared_ptr<Rec>>& list, bool deferred, Pred matches) {
    bool found = false;
    for (auto& rec : list) {
        if (!rec->Deleted && matches(*rec)) {
            rec->Deleted = true;
            found = true;
        }
    }
    if (!deferred) RemoveDeleted(list);
    return found;
}

}  // namespace

int IssueTriggerHandle(int32_t& counter, const std::vector<TimerTrigger>& timers,
                       const std::vector<DataTrigger>& datas,
                       const std::vector<StatusTrigger>& statuses) {
    if (counter < kHandleCounterLimit) return (counter++) * 8;
    for (int handle = 8; handle <= kHighestSearchedHandle; handle += 8) {
        if (!HandleHeld(handle, timers, datas, statuses)) return handle;
    }
    return 0;
}

int32_t CounterPastHandles(int32_t counter, const std::vector<TimerTrigger>& timers,
                           const std::vector<DataTrigger>& datas,
                           const std::vector<StatusTrigger>& statuses) {
    int32_t highest = 0;
    for (const auto& t : timers) highest = std::max(highest, t.Handle);
    for (const auto& t : datas) highest = std::max(highest, t.Handle);
    for (const auto& t : statuses) highest = std::max(highest, t.Handle & ~7);
    return std::max(counter, highest / 8 + 1);
}

// Triggers --------------------------------------------------------------------------

void BaseDispatcher::SetAvailThreshold(int count) {
    std::lock_guard guard(dispatcherLock_);
    availThreshold_ = count > 0 ? static_cast<uint32_t>(count) : 0;
    Log(LogKind::TrDatChg, LogSubKind::AvailTrigger, availThreshold_);
}

int BaseDispatcher::AvailThreshold() {
    std::lock_guard guard(dispatcherLock_);
    return static_cast<int>(availThreshold_);
}

int BaseDispatcher::NewTimerTrigger() {
    std::lock_guard guard(dispatcherLock_);
    const int handle = IssueTriggerHandle(handleCounter_, timerTriggers_, dataTriggers_, statusTriggers_);
    if (handle == 0) return ecNoMoreTriggers;
    TimerTrigger trigger;
    trigger.Handle = handle;
    timerTriggers_.push_back(trigger);
    Log(LogKind::TrigAllc, LogSubKind::TimerTrigger, static_cast<uint32_t>(handle));
    return handle;
}

int BaseDispatcher::NewDataTrigger(const void* data, bool ignoreCase, int length) {
    if (length > kMaxTriggerLength) return ecTriggerTooLong;
    if (length < 0 || (length > 0 && data == nullptr)) return ecBadArgument;
    std::lock_guard guard(dispatcherLock_);
    const int handle = IssueTriggerHandle(handleCounter_, timerTriggers_, dataTriggers_, statusTriggers_);
    if (handle == 0) return ecNoMoreTriggers;
    DataTrigger trigger;
    trigger.Handle = handle;
    InitDataTrigger(trigger, static_cast<const uint8_t*>(data), length, ignoreCase);
    dataTriggers_.push_back(trigger);
    Log(LogKind::TrigAllc, LogSubKind::DataTrigger, static_cast<uint32_t>(handle), data,
        static_cast<uint32_t>(length));
    return handle;
}

int BaseDispatcher::ArmTimerTrigger(int handle, int32_t ticks, bool activate) {
    std::lock_guard guard(dispatcherLock_);
    auto it = std::find_if(timerTriggers_.begin(), timerTriggers_.end(),
                           [handle](const TimerTrigger& t) { return t.Handle == handle; });
    if (it == timerTriggers_.end()) return ecBadTriggerHandle;
    if (activate) {
        if (ticks != 0) it->Ticks = ticks;
        platform::NewTimer(clock_, it->Timer, it->Ticks);
        it->Active = 1;
        const int32_t interval = it->Ticks;
        Log(LogKind::TrDatChg, LogSubKind::TimerTrigger, static_cast<uint32_t>(handle), &interval,
            sizeof interval);
    } else {
        it->Active = 0;
        static constexpr char kDeactivated[] = "Deactivated";
        Log(LogKind::TrDatChg, LogSubKind::TimerTrigger, static_cast<uint32_t>(handle),
            kDeactivated, sizeof kDeactivated - 1);
    }
    return 0;
}

int BaseDispatcher::DeleteTrigger(int handle) {
    if (handle == kAvailTriggerHandle) {
        SetAvailThreshold(0);
        return 0;
    }
    if (handle < 2) return ecBadTriggerHandle;
    std::lock_guard guard(dispatcherLock_);
    const auto h = static_cast<uint32_t>(handle);
    for (auto it = timerTriggers_.begin(); it != timerTriggers_.end(); ++it) {
        if (it->Handle == handle) {
            timerTriggers_.erase(it);
            Log(LogKind::TrigDisp, LogSubKind::Timer, h);
            return 0;
        }
    }
    for (auto it = statusTriggers_.begin(); it != statusTriggers_.end(); ++it) {
        if (it->Handle == handle) {
            const auto type = static_cast<uint8_t>(it->Handle & 7);
            statusTriggers_.erase(it);
            Log(LogKind::TrigDisp, LogSubKind::StatusTrigger, h, &type, 1);
            return 0;
        }
    }
    for (auto it = dataTriggers_.begin(); it != dataTriggers_.end(); ++it) {
        if (it->Handle == handle) {
            dataTriggers_.erase(it);
            Log(LogKind::TrigDisp, LogSubKind::Data, h);
            return 0;
        }
    }
    return ecBadTriggerHandle;
}

void BaseDispatcher::RemoveAllTriggers() {
    std::lock_guard guard(dispatcherLock_);
    availThreshold_ = 0;
    timerTriggers_.clear();
    dataTriggers_.clear();
    statusTriggers_.clear();
    handleCounter_ = 1;
}

void BaseDispatcher::SnapshotTriggers(TriggerSnapshot& snapshot) {
    std::lock_guard guard(dispatcherLock_);
    snapshot.AvailThreshold = static_cast<int32_t>(availThreshold_);
    snapshot.Timers = timerTriggers_;
    snapshot.Datas = dataTriggers_;
    snapshot.Statuses = statusTriggers_;
}

void BaseDispatcher::ReinstateTriggers(const TriggerSnapshot& snapshot) {
    std::lock_guard guard(dispatcherLock_);
    availThreshold_ = snapshot.AvailThreshold > 0 ? static_cast<uint32_t>(snapshot.AvailThreshold) : 0;
    timerTriggers_ = snapshot.Timers;
    dataTriggers_ = snapshot.Datas;
    statusTriggers_ = snapshot.Statuses;
    // The counter restarted at open; new handles must not repeat reinstated ones.
    handleCounter_ = CounterPastHandles(handleCounter_, timerTriggers_, dataTriggers_, statusTriggers_);
}

// Handlers --------------------------------------------------------------------------

void BaseDispatcher::AttachWindowHandler(platform::WindowHandle window) {
    std::lock_guard guard(dispatcherLock_);
    windowHandlers_.push_back(std::make_shared<WindowHandlerRec>(WindowHandlerRec{window}));
    handlersNeedService_ = true;
    Log(LogKind::TrgHdAlc, LogSubKind::Window, window);
}

void BaseDispatcher::DetachWindowHandler(platform::WindowHandle window) {
    std::lock_guard guard(dispatcherLock_);
    const bool deferred = inDispatch_;
    if (DetachRecords(windowHandlers_, deferred, [window](auto& r) { return r.Window == window; })) {
        if (deferred) deletionsPending_ = true;
        Log(LogKind::TrgHdDsp, LogSubKind::Window, window);
    }
    SetHandlerFlags(0);
}

void BaseDispatcher::AttachProcHandler(TriggerProc proc) {
    std::lock_guard guard(dispatcherLock_);
    procHandlers_.push_back(std::make_shared<ProcHandlerRec>(ProcHandlerRec{proc}));
    handlersNeedService_ = true;
    Log(LogKind::TrgHdAlc, LogSubKind::Procedure, 0);
}

void BaseDispatcher::DetachProcHandler(TriggerProc proc) {
    std::lock_guard guard(dispatcherLock_);
    const bool deferred = inDispatch_;
    if (DetachRecords(procHandlers_, deferred, [proc](auto& r) { return r.Proc == proc; })) {
        if (deferred) deletionsPending_ = true;
        Log(LogKind::TrgHdDsp, LogSubKind::Procedure, 0);
    }
    SetHandlerFlags(0);
}

void BaseDispatcher::AttachMethodHandler(const void* object, TriggerMethod method, HandlerStart start) {
    // The input lock keeps bytes out of the ring until the handler is in the list, so
    // nothing received after it joined can be offered to the others only.
    std::lock_guard input(inputLock_);
    std::lock_guard guard(dispatcherLock_);
    const uint64_t from = start == HandlerStart::kFromNow ? inRing_.Received() : 0;
    methodHandlers_.push_back(
        std::make_shared<MethodHandlerRec>(MethodHandlerRec{object, std::move(method), from}));
    handlersNeedService_ = true;
    Log(LogKind::TrgHdAlc, LogSubKind::Method, 0);
}

void BaseDispatcher::DetachMethodHandler(const void* object) {
    std::lock_guard guard(dispatcherLock_);
    const bool deferred = inDispatch_;
    if (DetachRecords(methodHandlers_, deferred, [object](auto& r) { return r.Object == object; })) {
        if (deferred) deletionsPending_ = true;
        Log(LogKind::TrgHdDsp, LogSubKind::Method, 0);
    }
    SetHandlerFlags(0);
}

void BaseDispatcher::SetHandlerFlags(int mode) {
    std::lock_guard guard(dispatcherLock_);
    auto live = [](const auto& list) {
        return std::count_if(list.begin(), list.end(), [](const auto& r) { return !r->Deleted; });
    };
    const bool others = live(windowHandlers_) > 1 || live(procHandlers_) > 0 || live(methodHandlers_) > 0;
    switch (mode) {
        case 1:
            portEventsAssigned_ = true;
            handlersNeedService_ = true;
            break;
        case 2:
            portEventsAssigned_ = false;
            handlersNeedService_ = others;
            break;
        default:
            handlersNeedService_ = others || portEventsAssigned_;
            break;
    }
}

bool BaseDispatcher::HandlersNeedService() {
    std::lock_guard guard(dispatcherLock_);
    return handlersNeedService_;
}

// Delivery --------------------------------------------------------------------------

bool BaseDispatcher::NotifyHandlers(uint32_t msg, uint32_t triggerHandle, uint32_t data) {
    {
        std::lock_guard guard(dispatcherLock_);
        if (!handlersNeedService_) return false;
        inDispatch_ = true;
    }
    const bool reading = msg == kTriggerAvailMsg || msg == kTriggerDataMsg;
    {
        std::lock_guard guard(inputLock_);
        inRing_.BeginOffer(reading);
    }
    const int32_t param = NotifyParam(data, registryIndex_);
    bool aborted = false;
    bool consumed = true;

    auto beforeHandler = [this, triggerHandle] {
        std::lock_guard guard(inputLock_);
        inRing_.StartHandler(0, false, triggerHandle);
    };
    // A handler that joined after some of the offered bytes arrived has those counted
    // as read and is offered the rest.
    auto beforeMethod = [this, msg, triggerHandle](const MethodHandlerRec& rec) {
        std::lock_guard guard(inputLock_);
        return inRing_.StartHandler(rec.From, msg == kTriggerAvailMsg, triggerHandle);
    };
    auto afterHandler = [this, &aborted] {
        if (closePending_) {
            aborted = true;
            return false;
        }
        std::lock_guard guard(inputLock_);
        inRing_.EndHandler();
        return true;
    };
    // Runs the end of the delivery whether it completed, was aborted or a handler threw.
    auto finish = [this, reading, msg, triggerHandle, &aborted, &consumed] {
        {
            std::lock_guard guard(inputLock_);
            const uint32_t largest = inRing_.EndOffer(!aborted);
            if (reading && msg == kTriggerAvailMsg) consumed = largest >= triggerHandle;
        }
        std::lock_guard guard(dispatcherLock_);
        inDispatch_ = false;
        if (deletionsPending_) {
            RemoveDeleted(windowHandlers_);
            RemoveDeleted(procHandlers_);
            RemoveDeleted(methodHandlers_);
            deletionsPending_ = false;
            SetHandlerFlags(0);
        }
    };

    try {
        for (size_t i = 0; !aborted; ++i) {
            std::shared_ptr<MethodHandlerRec> rec;
            bool deleted;
            {
                std::lock_guard guard(dispatcherLock_);
                if (i >= methodHandlers_.size()) break;
                rec = methodHandlers_[i];
                deleted = rec->Deleted;
            }
            const uint32_t offer = beforeMethod(*rec);
            if (!deleted && (msg != kTriggerAvailMsg || offer > 0)) rec->Method(msg, offer, param);
            if (!afterHandler()) break;
        }
        for (size_t i = 0; !aborted; ++i) {
            std::shared_ptr<ProcHandlerRec> rec;
            bool deleted;
            {
                std::lock_guard guard(dispatcherLock_);
                if (i >= procHandlers_.size()) break;
                rec = procHandlers_[i];
                deleted = rec->Deleted;
            }
            beforeHandler();
            if (!deleted) rec->Proc(msg, triggerHandle, param);
            if (!afterHandler()) break;
        }
        bool toWindows;
        {
            std::lock_guard guard(dispatcherLock_);
            toWindows = windowHandlers_.size() > 1 || portEventsAssigned_;
        }
        for (size_t i = 0; toWindows && !aborted; ++i) {
            std::shared_ptr<WindowHandlerRec> rec;
            bool deleted;
            {
                std::lock_guard guard(dispatcherLock_);
                if (i >= windowHandlers_.size()) break;
                rec = windowHandlers_[i];
                deleted = rec->Deleted;
            }
            beforeHandler();
            if (!deleted) {
                platform::MessageLoop::Instance().SendMessageTimeout(
                    rec->Window, msg, triggerHandle, param, kWindowNotifyTimeoutMs);
            }
            if (!afterHandler()) break;
        }
    } catch (...) {
        aborted = true;
        finish();
        throw;
    }
    finish();
    return !aborted && consumed;
}

}  // namespace hydrix::comm
