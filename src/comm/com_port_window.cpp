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
        if (portWindow_ == 0) portWindow_ = loop.CreateWindow(&CustomComPort::PortWindowProc);
        dispatcher_->AttachWindowHandler(portWindow_);
        return;
    }
    if (dispatcher_) dispatcher_->DetachWindowHandler(portWindow_);
    loop.DestroyWindow(portWindow_);
    portWindow_ = 0;
}

platform::LResult CustomComPort::PortWindowProc(uint32_t msg, platform::WParam w, platform::LParam l) {
    const bool trigger = msg >= kTriggerAvailMsg && msg <= kTriggerStatusMsg;
    if (!trigger && msg != kDeferredCloseMsg && msg != kDeviceLostMsg) return 0;
    // Held for the whole handling so that neither the dispatcher nor its port can go
    // away under the event handler from another thread.
    std::lock_guard guard(DispatcherRegistry::Lock());
    BaseDispatcher* dispatcher = DispatcherRegistry::At(RegistryIndexOf(l));
    if (!dispatcher || !dispatcher->Owner()) return 0;
    CustomComPort* port = dispatcher->Owner();
    try {
        port->HandleNotification(msg, w, l);
    } catch (const std::exception& e) {
        if (platform::MessageLoop::Instance().IsOwnerThread()) platform::ShowExceptionReport(e.what());
    } catch (...) {
        if (platform::MessageLoop::Instance().IsOwnerThread()) platform::ShowExceptionReport("Unknown exception");
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
    if (destroying_) return;
    if (msg == kDeviceLostMsg) {
        if (auto handler = onDeviceLost_) handler(*this);
        return;
    }
    const auto handle = static_cast<uint16_t>(w);
    const auto data = msg == kTriggerAvailMsg ? handle : static_cast<uint16_t>(NotifyDataOf(l));
    DoTrigger(msg, handle, data);
    switch (msg) {
        case kTriggerAvailMsg: DoTriggerAvail(handle); break;
        case kTriggerDataMsg: DoTriggerData(handle); break;
        case kTriggerTimerMsg: DoTriggerTimer(handle); break;
        case kTriggerStatusMsg:
            DoTriggerStatus(handle);
            switch (handle & 7) {
                case kStatusModem: DoTriggerModemStatus(); break;
                case kStatusLine: {
                    const bool lineBreak = LineBreakSeen();
                    DoTriggerLineError(LineError(), lineBreak);
                    break;
                }
                case kStatusOutBuffFree: DoTriggerOutbuffFree(); break;
                case kStatusOutBuffUsed: DoTriggerOutbuffUsed(); break;
                case kStatusOutSent: DoTriggerOutSent(); break;
                default: break;
            }
            break;
        default: break;
    }
}

void CustomComPort::DeferredClose(platform::LParam param) {
    // Only a close that is still pending; a stale notice after a reopen is ignored.
    if (!ShuttingDown() || !dispatcher_) return;
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
    if (!IsOpenState()) return;
    dispatcher_->SetHandlerFlags(AnyTriggerEvent() ? HandlerFlagsMode::kPortEvents : HandlerFlagsMode::kNoPortEvents);
}

void CustomComPort::SetOnTrigger(TriggerEvent handler) {
    onTrigger_ = std::move(handler);
    UpdateHandlerFlags();
}

void CustomComPort::SetOnTriggerAvail(TriggerAvailEvent handler) {
    onTriggerAvail_ = std::move(handler);
    UpdateHandlerFlags();
}

void CustomComPort::SetOnTriggerData(TriggerDataEvent handler) {
    onTriggerData_ = std::move(handler);
    UpdateHandlerFlags();
}

void CustomComPort::SetOnTriggerStatus(TriggerStatusEvent handler) {
    onTriggerStatus_ = std::move(handler);
    UpdateHandlerFlags();
}

void CustomComPort::SetOnTriggerTimer(TriggerTimerEvent handler) {
    onTriggerTimer_ = std::move(handler);
    UpdateHandlerFlags();
}

void CustomComPort::SetOnTriggerLineError(TriggerLineErrorEvent handler) {
    onTriggerLineError_ = std::move(handler);
    UpdateHandlerFlags();
}

void CustomComPort::SetOnTriggerModemStatus(PortNotifyEvent handler) {
    onTriggerModemStatus_ = std::move(handler);
    UpdateHandlerFlags();
}

void CustomComPort::SetOnTriggerOutbuffFree(PortNotifyEvent handler) {
    onTriggerOutbuffFree_ = std::move(handler);
    UpdateHandlerFlags();
}

void CustomComPort::SetOnTriggerOutbuffUsed(PortNotifyEvent handler) {
    onTriggerOutbuffUsed_ = std::move(handler);
    UpdateHandlerFlags();
}

void CustomComPort::SetOnTriggerOutSent(PortNotifyEvent handler) {
    onTriggerOutSent_ = std::move(handler);
    UpdateHandlerFlags();
}

// A handler may replace itself while it runs, so each is called through a copy.
void CustomComPort::DoTrigger(uint32_t msg, uint16_t triggerHandle, uint16_t data) {
    if (auto handler = onTrigger_) handler(*this, msg, triggerHandle, data);
}

void CustomComPort::DoTriggerAvail(uint16_t count) {
    if (auto handler = onTriggerAvail_) handler(*this, count);
}

void CustomComPort::DoTriggerData(uint16_t triggerHandle) {
    if (auto handler = onTriggerData_) handler(*this, triggerHandle);
}

void CustomComPort::DoTriggerStatus(uint16_t triggerHandle) {
    if (auto handler = onTriggerStatus_) handler(*this, triggerHandle);
}

void CustomComPort::DoTriggerTimer(uint16_t triggerHandle) {
    if (auto handler = onTriggerTimer_) handler(*this, triggerHandle);
}

void CustomComPort::DoTriggerLineError(uint16_t error, bool lineBreak) {
    if (auto handler = onTriggerLineError_) handler(*this, error, lineBreak);
}

void CustomComPort::DoTriggerModemStatus() {
    if (auto handler = onTriggerModemStatus_) handler(*this);
}

void CustomComPort::DoTriggerOutbuffFree() {
    if (auto handler = onTriggerOutbuffFree_) handler(*this);
}

void CustomComPort::DoTriggerOutbuffUsed() {
    if (auto handler = onTriggerOutbuffUsed_) handler(*this);
}

void CustomComPort::DoTriggerOutSent() {
    if (auto handler = onTriggerOutSent_) handler(*this);
}

void CustomComPort::DoWaitChar(char c) {
    if (auto handler = onWaitChar_) handler(*this, c);
}

// Registered users -------------------------------------------------------------------------------

void CustomComPort::RegisterWindowUser(platform::WindowHandle window) {
    auto record = std::make_shared<UserRecord>();
    record->Window = window;
    users_.push_back(std::move(record));
}

void CustomComPort::DeregisterWindowUser(platform::WindowHandle window) {
    if (destroying_) return;
    std::erase_if(users_, [window](const auto& r) { return !r->Callback && r->Window == window; });
}

void CustomComPort::RegisterCallbackUser(const void* object, PortCallback callback) {
    auto record = std::make_shared<UserRecord>();
    record->Object = object;
    record->Callback = std::move(callback);
    users_.push_back(std::move(record));
}

void CustomComPort::DeregisterCallbackUser(const void* object) {
    if (destroying_) return;
    std::erase_if(users_, [object](const auto& r) { return r->Callback && r->Object == object; });
}

namespace {

// Visits the users from the last record to the first; a user that deregisters (itself
// or another) during the visit is not called afterwards.
template <typename Records, typename Visit>
void VisitUsersBackwards(const Records& users, Visit visit) {
    const Records snapshot = users;
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
        if (std::find(users.begin(), users.end(), *it) == users.end()) continue;
        visit(**it);
    }
}

}  // namespace

void CustomComPort::NotifyOpened() {
    VisitUsersBackwards(users_, [this](const UserRecord& user) {
        if (user.Callback) {
            user.Callback(*this, PortCallbackKind::PortOpened);
        } else {
            platform::SendMessage(user.Window, kPortOpenMsg, 0, 0);
        }
    });
    if (auto handler = onPortOpen_) handler(*this);
}

void CustomComPort::NotifyClosing() {
    VisitUsersBackwards(users_, [this](const UserRecord& user) {
        if (user.Callback) {
            user.Callback(*this, PortCallbackKind::PortClosing);
        } else {
            platform::SendMessage(user.Window, kPortClosingMsg, 0, 0);
        }
    });
}

void CustomComPort::NotifyClosed() {
    VisitUsersBackwards(users_, [this](const UserRecord& user) {
        if (user.Callback) {
            user.Callback(*this, PortCallbackKind::PortClosed);
        } else {
            platform::SendMessage(user.Window, kPortClosedMsg, 0, 0);
        }
    });
    if (auto handler = onPortClose_) handler(*this);
}

// Assign -----------------------------------------------------------------------------------------

void CustomComPort::Assign(const CustomComPort& other) {
    if (&other == this) return;
    users_.clear();
    for (const auto& record : other.users_) users_.push_back(std::make_shared<UserRecord>(*record));
    SetDeviceLayer(other.deviceLayer_);
    SetComNumber(other.comNumber_);
    SetBaud(other.baud_);
    SetPromptForPort(other.promptForPort_);
    SetParity(other.parity_);
    SetDataBits(other.dataBits_);
    SetStopBits(other.stopBits_);
    SetInSize(other.inSize_);
    SetOutSize(other.outSize_);
    SetAutoOpen(other.autoOpen_);
    SetDTR(other.dtr_);
    SetRTS(other.rts_);
    SetHWFlowOptions(other.hwFlowOptions_);
    SetSWFlowOptions(other.swFlowOptions_);
    SetXOnChar(other.xOnChar_);
    SetXOffChar(other.xOffChar_);
    SetBufferFull(other.bufferFull_);
    SetBufferResume(other.bufferResume_);
    SetUseEventWord(other.useEventWord_);
    SetCommNotificationLevel(other.commNotificationLevel_);
    SetRS485Mode(other.rs485Mode_);
    SetTraceSize(other.traceSize_);
    SetTraceName(other.traceName_);
    SetTraceHex(other.traceHex_);
    SetTraceAllHex(other.traceAllHex_);
    SetTracing(other.tracing_);
    SetLogSize(other.logSize_);
    SetLogName(other.logName_);
    SetLogHex(other.logHex_);
    SetLogAllHex(other.logAllHex_);
    SetLogging(other.logging_);
    onTrigger_ = other.onTrigger_;
    onTriggerAvail_ = other.onTriggerAvail_;
    onTriggerData_ = other.onTriggerData_;
    onTriggerStatus_ = other.onTriggerStatus_;
    onTriggerTimer_ = other.onTriggerTimer_;
    UpdateHandlerFlags();
    onPortOpen_ = other.onPortOpen_;
    onPortClose_ = other.onPortClose_;
    tapiMode_ = other.tapiMode_;
    if (other.IsOpenState() && other.dispatcher_) {
        other.dispatcher_->SnapshotTriggers(savedTriggers_);
        triggersSaved_ = true;
    }
}

}  // namespace hydrix::comm
