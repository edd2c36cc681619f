// The port's side of the GUI thread: its hidden window, the events raised from the
// dispatcher's notifications, the deferred close, and the notices to registered users.
#include <algorithm>
#include <thread>

#include "comm/com_port.h"
#include "comm/dispatcher_registry.h"
#include "platform/dialogs.h"

namespace hydrix::comm {

// Port window ---------------------------------------------------------------------------------

void CustomComPort::SetupPortWindow(bool create) {
    auto& loop = platform::MessageLoop::Instance();
    if (create) {
        if (portWindow_ == 0) {
            portWindow_ = loop.CreateWindow(&CustomComPort::PortWindowProc);
        }
        dispatcher_->AttachWindowHandler(portWindow_);
        return;
    }
    if (dispatcher_) {
        dispatcher_->DetachWindowHandler(portWindow_);
    }
    loop.DestroyWindow(portWindow_);
    portWindow_ = 0;
}

platform::LResult CustomComPort::PortWindowProc(uint32_t msg, platform::WParam w, platform::LParam l) {
    const bool trigger = msg >= kTriggerAvailMsg && msg <= kTriggerStatusMsg;
    if (!trigger && msg != kDeferredCloseMsg && msg != kDeviceLostMsg) {
        return 0;
    }
    // The lock guards the list only. Ports and their dispatchers are made and freed on
    // this thread, so the port found stays while its handlers run; they may pump a modal
    // dialog, and must not hold the list from other threads meanwhile.
    CustomComPort* port = nullptr;
    {
        std::lock_guard guard(DispatcherRegistry::Lock());
        BaseDispatcher* dispatcher = DispatcherRegistry::At(RegistryIndexOf(l));
        port = dispatcher != nullptr ? dispatcher->Owner() : nullptr;
    }
    if (port == nullptr) {
        return 0;
    }
    try {
        port->HandleNotification(msg, w, l);
    } catch (const std::exception& e) {
        if (platform::MessageLoop::Instance().IsOwnerThread()) {
            platform::ShowExceptionReport(e.what());
        }
    } catch (...) {
        if (platform::MessageLoop::Instance().IsOwnerThread()) {
            platform::ShowExceptionReport("Unknown exception");
        }
    }
    return 0;
}

void CustomComPort::HandleNotification(uint32_t msg, platform::WParam w, platform::LParam l) {
    if (msg == kDeferredCloseMsg) {
        DeferredClose(l);
        return;
    }
    // A notification handled while the port is being destroyed (its close pumps
    // messages) raises no events: the handlers may belong to objects already gone.
    if (destroying_) {
        return;
    }
    if (msg == kDeviceLostMsg) {
        if (auto handler = onDeviceLost_) {
            handler(*this);
        }
        return;
    }
    const auto handle = static_cast<uint16_t>(w);
    const auto data = msg == kTriggerAvailMsg ? handle : static_cast<uint16_t>(NotifyDataOf(l));
    DoTrigger(msg, handle, data);
    switch (msg) {
    case kTriggerAvailMsg:
        DoTriggerAvail(handle);
        break;
    case kTriggerDataMsg:
        DoTriggerData(handle);
        break;
    case kTriggerTimerMsg:
        DoTriggerTimer(handle);
        break;
    case kTriggerStatusMsg:
        DoTriggerStatus(handle);
        switch (handle & 7) {
        case kStatusModem:
            DoTriggerModemStatus();
            break;
        case kStatusLine: {
            const bool lineBreak = LineBreakSeen();
            DoTriggerLineError(LineError(), lineBreak);
            break;
        }
        case kStatusOutBuffFree:
            DoTriggerOutbuffFree();
            break;
        case kStatusOutBuffUsed:
            DoTriggerOutbuffUsed();
            break;
        case kStatusOutSent:
            DoTriggerOutSent();
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
}

void CustomComPort::DeferredClose(platform::LParam param) {
    // Only a close that is still pending; a stale notice after a reopen is ignored.
    if (!ShuttingDown() || !dispatcher_) {
        return;
    }
    if (dispatcher_->ThreadsRunning()) {
        std::this_thread::yield();
        platform::PostMessage(portWindow_, kDeferredCloseMsg, 0, param);
        return;
    }
    FinishClose();
    if (reopenPending_) {
        reopenPending_ = false;
        OpenPort();
    }
}

// Events -----------------------------------------------------------------------------------------

bool CustomComPort::AnyTriggerEvent() const {
    return onTrigger_ || onTriggerAvail_ || onTriggerData_ || onTriggerStatus_ || onTriggerTimer_ ||
           onTriggerLineError_ || onTriggerModemStatus_ || onTriggerOutbuffFree_ || onTriggerOutbuffUsed_ ||
           onTriggerOutSent_;
}

void CustomComPort::UpdateHandlerFlags() {
    if (!IsOpenState()) {
        return;
    }
    dispatcher_->SetHandlerFlags(AnyTriggerEvent() ? HandlerFlagsMode::kPortEvents : HandlerFlagsMode::kNoPortEvents);
}

// Registered users -------------------------------------------------------------------------------

void CustomComPort::RegisterWindowUser(platform::WindowHandle window) {
    auto record = std::make_shared<UserRecord>();
    record->Window = window;
    users_.push_back(std::move(record));
}

void CustomComPort::DeregisterWindowUser(platform::WindowHandle window) {
    if (destroying_) {
        return;
    }
    std::erase_if(users_, [window](const auto& r) { return !r->Callback && r->Window == window; });
}

void CustomComPort::RegisterCallbackUser(const void* object, PortCallback callback) {
    auto record = std::make_shared<UserRecord>();
    record->Object = object;
    record->Callback = std::move(callback);
    users_.push_back(std::move(record));
}

void CustomComPort::DeregisterCallbackUser(const void* object) {
    if (destroying_) {
        return;
    }
    std::erase_if(users_, [object](const auto& r) { return r->Callback && r->Object == object; });
}

namespace {

// Visits the users from the last record to the first; a user that deregisters (itself
// or another) during the visit is not called afterwards.
template <typename Records, typename Visit>
void VisitUsersBackwards(const Records& users, Visit visit) {
    const Records snapshot = users;
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
        if (std::find(users.begin(), users.end(), *it) == users.end()) {
            continue;
        }
        visit(**it);
    }
}

}  // namespace

void CustomComPort::NotifyUsers(PortCallbackKind kind, uint32_t msg) {
    VisitUsersBackwards(users_, [this, kind, msg](const UserRecord& user) {
        if (user.Callback) {
            user.Callback(*this, kind);
        } else {
            platform::SendMessage(user.Window, msg, 0, 0);
        }
    });
}

void CustomComPort::NotifyOpened() {
    NotifyUsers(PortCallbackKind::PortOpened, kPortOpenMsg);
    Raise(onPortOpen_);
}

void CustomComPort::NotifyClosing() {
    NotifyUsers(PortCallbackKind::PortClosing, kPortClosingMsg);
}

void CustomComPort::NotifyClosed() {
    NotifyUsers(PortCallbackKind::PortClosed, kPortClosedMsg);
    Raise(onPortClose_);
}

}  // namespace hydrix::comm
