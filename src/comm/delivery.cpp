// Notification handlers of the dispatcher and the delivery of one notification to them.
// The lists change only under the dispatcher lock; a delivery runs without it, so that
// handlers on the GUI thread may call back into the dispatcher while the dispatcher
// thread waits.
#include "comm/dispatcher.h"
#include "platform/scope_exit.h"

namespace hydrix::comm {

// Attaching and detaching ------------------------------------------------------------------

void BaseDispatcher::AttachWindowHandler(platform::WindowHandle window) {
    HandlerRec rec;
    rec.Window = window;
    AttachHandler(HandlerKind::kWindow, std::move(rec), LogSubKind::Window, window);
}

void BaseDispatcher::DetachWindowHandler(platform::WindowHandle window) {
    DetachHandler(HandlerKind::kWindow, LogSubKind::Window, window,
                  [window](const HandlerRec& r) { return r.Window == window; });
}

void BaseDispatcher::AttachProcHandler(TriggerProc proc) {
    HandlerRec rec;
    rec.Proc = proc;
    AttachHandler(HandlerKind::kProcedure, std::move(rec), LogSubKind::Procedure, 0);
}

void BaseDispatcher::DetachProcHandler(TriggerProc proc) {
    DetachHandler(HandlerKind::kProcedure, LogSubKind::Procedure, 0,
                  [proc](const HandlerRec& r) { return r.Proc == proc; });
}

void BaseDispatcher::AttachMethodHandler(const void* object, TriggerMethod method, HandlerStart start) {
    // The input lock keeps bytes out of the ring until the handler is in the list, so
    // nothing received after it joined can be offered to the others only.
    std::lock_guard input(inputLock_);
    HandlerRec rec;
    rec.Object = object;
    rec.Method = std::move(method);
    rec.From = start == HandlerStart::kFromNow ? inRing_.Received() : 0;
    AttachHandler(HandlerKind::kMethod, std::move(rec), LogSubKind::Method, 0);
}

void BaseDispatcher::DetachMethodHandler(const void* object) {
    DetachHandler(HandlerKind::kMethod, LogSubKind::Method, 0,
                  [object](const HandlerRec& r) { return r.Object == object; });
}

void BaseDispatcher::AttachHandler(HandlerKind kind, HandlerRec rec, LogSubKind subKind, uint32_t logData) {
    std::lock_guard guard(dispatcherLock_);
    handlers_.Add(kind, std::move(rec));
    recorders_.Log(LogKind::TrgHdAlc, subKind, logData);
}

void BaseDispatcher::DetachHandler(HandlerKind kind, LogSubKind subKind, uint32_t logData,
                                   const std::function<bool(const HandlerRec&)>& matches) {
    std::lock_guard guard(dispatcherLock_);
    // During a delivery the record is only marked: the delivery may be walking its list.
    if (handlers_.Remove(kind, inDispatch_, matches)) {
        recorders_.Log(LogKind::TrgHdDsp, subKind, logData);
    }
    SetHandlerFlags(HandlerFlagsMode::kRecompute);
}

void BaseDispatcher::SetHandlerFlags(HandlerFlagsMode mode) {
    std::lock_guard guard(dispatcherLock_);
    handlers_.SetFlags(mode);
}

bool BaseDispatcher::HandlersNeedService() {
    std::lock_guard guard(dispatcherLock_);
    return handlers_.NeedService();
}

// Delivery -----------------------------------------------------------------------------------

bool BaseDispatcher::NotifyHandlers(uint32_t msg, uint32_t triggerHandle, uint32_t data) {
    {
        std::lock_guard guard(dispatcherLock_);
        if (!handlers_.NeedService()) {
            return false;
        }
        inDispatch_ = true;
    }
    {
        std::lock_guard guard(inputLock_);
        inRing_.BeginOffer(msg == kTriggerAvailMsg || msg == kTriggerDataMsg);
    }
    bool completed = false;
    uint32_t largestRead = 0;
    {
        // Also when a handler throws: the offer ends and deferred detaches are done.
        ScopeExit finish([&] { largestRead = EndDelivery(completed); });
        completed = DeliverToHandlers(msg, triggerHandle, NotifyParam(data, registryIndex_));
    }
    // An availability offer counts as delivered only when some handler read all of it.
    return completed && (msg != kTriggerAvailMsg || largestRead >= triggerHandle);
}

bool BaseDispatcher::DeliverToHandlers(uint32_t msg, uint32_t triggerHandle, int32_t param) {
    for (const HandlerKind kind : kDeliveryOrder) {
        if (kind == HandlerKind::kWindow) {
            std::lock_guard guard(dispatcherLock_);
            if (!handlers_.ServesWindows()) {
                break;
            }
        }
        for (size_t i = 0;; ++i) {
            std::shared_ptr<HandlerRec> rec;
            bool deleted = false;
            {
                std::lock_guard guard(dispatcherLock_);
                rec = handlers_.At(kind, i, deleted);
            }
            if (!rec) {
                break;
            }
            uint32_t offer;
            {
                std::lock_guard guard(inputLock_);
                offer = inRing_.StartHandler(rec->From, msg == kTriggerAvailMsg, triggerHandle);
            }
            if (!deleted) {
                CallHandler(kind, *rec, msg, offer, param);
            }
            if (signals_.ClosePending) {
                return false;
            }
            std::lock_guard guard(inputLock_);
            inRing_.EndHandler();
        }
    }
    return true;
}

void BaseDispatcher::CallHandler(HandlerKind kind, const HandlerRec& rec, uint32_t msg, uint32_t offer, int32_t param) {
    switch (kind) {
    case HandlerKind::kMethod:
        // Nothing is left to offer one that joined after all these bytes came.
        if (msg != kTriggerAvailMsg || offer > 0) {
            rec.Method(msg, offer, param);
        }
        break;
    case HandlerKind::kProcedure:
        rec.Proc(msg, offer, param);
        break;
    case HandlerKind::kWindow:
        platform::MessageLoop::Instance().SendMessageTimeout(rec.Window, msg, offer, param, kWindowNotifyTimeoutMs);
        break;
    }
}

uint32_t BaseDispatcher::EndDelivery(bool completed) {
    uint32_t largestRead;
    {
        std::lock_guard guard(inputLock_);
        largestRead = inRing_.EndOffer(completed);
    }
    std::lock_guard guard(dispatcherLock_);
    inDispatch_ = false;
    if (handlers_.RemoveDeferred()) {
        SetHandlerFlags(HandlerFlagsMode::kRecompute);
    }
    return largestRead;
}

}  // namespace hydrix::comm
