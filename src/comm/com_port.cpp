#include "comm/com_port.h"

#include <utility>

#include "comm/error_text.h"
#include "comm/exceptions.h"
#include "comm/port_chooser.h"
#include "platform/dialogs.h"
#include "platform/serial_device.h"

namespace hydrix::comm {

namespace {

constexpr int32_t kNoPortSelected = -2011;
constexpr int32_t kNullApi = -3001;
constexpr int32_t kBadId = -2001;
constexpr int32_t kAlreadyOpen = -2008;

std::string ComName(uint16_t number) {
    return "COM" + std::to_string(number);
}

// The open failures the error table reports as the runtime's input/output error.
bool IsInOutError(int32_t code) {
    return code <= -2 && code >= -162 && code != -8;
}

}  // namespace

CustomComPort::CustomComPort(platform::Clock& clock) : clock_(clock) {}

CustomComPort::~CustomComPort() {
    destroying_ = true;
    try {
        if (IsOpenState()) {
            ClosePort();
        }
    } catch (...) {
        // A trace that cannot be written must not stop the port from going away.
    }
    if (dispatcher_) {
        FinishClose();
    }
    // Every user forgets this port before it goes, so none is left holding it.
    try {
        NotifyUsers(PortCallbackKind::PortRemoved, kPortRemovedMsg);
    } catch (...) {
        // A user's failure must not stop the port from going away.
    }
    users_.clear();
}

// Open and close ---------------------------------------------------------------------------

void CustomComPort::SetOpen(bool value) {
    if (!value && ShuttingDown()) {
        reopenPending_ = false;
    }
    if (value == open_) {
        return;
    }
    if (Loading()) {
        open_ = value;
        if (value) {
            openAtLoad_ = true;
        }
        return;
    }
    if (!value) {
        ClosePort();
        return;
    }
    if (state_ != PortState::StateClosed) {
        reopenPending_ = true;
        return;
    }
    OpenPort();
}

void CustomComPort::Loaded() {
    SetLoading(false);
    if (openAtLoad_) {
        open_ = true;
    }
    if (!open_) {
        return;
    }
    openAtLoad_ = false;
    try {
        OpenPort();
    } catch (const std::exception& e) {
        open_ = false;
        platform::ShowExceptionReport(e.what());
    }
}

void CustomComPort::ValidatePortNumber() {
    if (comNumber_ != 0) {
        return;
    }
    if (!promptForPort_) {
        throw ENoPortSelected(kNoPortSelected);
    }
    const std::optional<int> chosen = CurrentPortChooser()->Choose();
    if (!chosen) {
        throw ENoPortSelected(kNoPortSelected);
    }
    SetComNumber(static_cast<uint16_t>(*chosen));
}

std::unique_ptr<BaseDispatcher> CustomComPort::CreateDispatcher() {
    if (dispatcherFactory_) {
        return dispatcherFactory_(*this);
    }
    if (deviceLayer_ != DeviceLayerKind::dlWin32) {
        throw ENullApi(kNullApi);
    }
    return std::make_unique<BaseDispatcher>(this, clock_);
}

int CustomComPort::OpenPortDevice() {
    uint32_t options = 0;
    if (dtr_) {
        options |= kOpenDtrOn;
    }
    if (rts_) {
        options |= kOpenRtsOn;
    }
    if (hwFlowOptions_ & hwfUseDTR) {
        options |= kOpenDtrFlow;
    }
    if (hwFlowOptions_ & hwfUseRTS) {
        options |= kOpenRtsFlow;
    }
    return dispatcher_->OpenDevice(ComName(comNumber_), baud_, options, outSize_, inSize_, stopBits_, dataBits_,
                                   static_cast<int>(parity_));
}

int CustomComPort::TranslateOpenResult(int code) const {
    switch (code) {
    case platform::kOpenInUse:
        return kAlreadyOpen;
    case platform::kOpenNoPath:
    case platform::kOpenNoDevice:
        return kBadId;
    default:
        return code;
    }
}

void CustomComPort::OpenPort() {
    if (tapiMode_ != TapiModeKind::tmOn) {
        ValidatePortNumber();
    }
    dispatcher_ = CreateDispatcher();
    dispatcher_->SetDeviceName(ComName(comNumber_));
    try {
        const int result = TranslateOpenResult(OpenPortDevice());
        if (result != 0) {
            // The table's text would be a bare "Access denied" or "Is a directory"; the
            // device layer's own names the port and the device and says what is wrong
            // (the group that grants access, a file or folder where the device should be).
            const OpenFailure failure = dispatcher_->LastOpenFailure();
            if (IsInOutError(result) && !failure.text.empty() && !Loading()) {
                throw EInOutError(failure.text, -result);
            }
            // In use: the operator is told who holds the port, where that can be seen.
            if (result == kAlreadyOpen && !failure.holder.empty() && !Loading()) {
                EAlreadyOpen inUse(ErrorText(kAlreadyOpen) + " (held by " + failure.holder + ")");
                inUse.SetErrorCode(kAlreadyOpen);
                throw inUse;
            }
            CheckError(this, result);
            // Still loading: the code came back instead of an exception.
            state_ = PortState::StateClosed;
            open_ = false;
            dispatcher_.reset();
            return;
        }
        state_ = PortState::StateOpen;
        UpdateHandlerFlags();
        ApplySettingsOnOpen();
        open_ = true;
        SetupPortWindow(true);
        if (triggersSaved_) {
            triggersSaved_ = false;
            dispatcher_->ReinstateTriggers(savedTriggers_);
        }
        NotifyOpened();
    } catch (...) {
        open_ = false;
        state_ = PortState::StateClosed;
        if (portWindow_ != 0) {
            SetupPortWindow(false);
        }
        dispatcher_.reset();
        throw;
    }
}

void CustomComPort::ClosePort() {
    if (!IsOpenState()) {
        return;
    }
    // The close goes through to the end even when writing the trace or a user's
    // notice fails; the first such failure is raised once the port is closed.
    std::exception_ptr failure;
    auto guarded = [&failure](auto&& step) {
        try {
            step();
        } catch (...) {
            if (!failure) {
                failure = std::current_exception();
            }
        }
    };
    guarded([this] { SetTracing(TraceLogState::tlDump); });
    guarded([this] { SetLogging(TraceLogState::tlDump); });
    state_ = PortState::StateShuttingDown;
    guarded([this] { NotifyClosing(); });
    dispatcher_->SnapshotTriggers(savedTriggers_);
    triggersSaved_ = true;
    dispatcher_->CloseDevice();
    if (dispatcher_->ClosePending()) {
        // A notification is being delivered (we are probably inside its handler): the
        // dispatcher thread ends itself, and the port window finishes the close.
        open_ = false;
        platform::PostMessage(portWindow_, kDeferredCloseMsg, 0, NotifyParam(0, dispatcher_->RegistryIndex()));
    } else {
        FinishClose();
    }
    guarded([this] { NotifyClosed(); });
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void CustomComPort::FinishClose() {
    if (portWindow_ != 0) {
        SetupPortWindow(false);
    }
    dispatcher_.reset();
    state_ = PortState::StateClosed;
    open_ = false;
}

BaseDispatcher* CustomComPort::ActiveDispatcher() {
    if (!dispatcher_ && !Loading() && state_ != PortState::StateOpen && autoOpen_) {
        SetOpen(true);
    }
    return dispatcher_.get();
}

BaseDispatcher& CustomComPort::RequireDispatcher() {
    BaseDispatcher* dispatcher = ActiveDispatcher();
    if (!dispatcher) {
        RaiseError(ecNotOpen);
    }
    return *dispatcher;
}

// Operations ---------------------------------------------------------------------------------

void CustomComPort::SendString(const std::string& text) {
    if (ShuttingDown()) {
        return;
    }
    CheckError(this, RequireDispatcher().QueueBytes(text.data(), static_cast<int>(text.size())));
}

void CustomComPort::SendChar(char c) {
    if (ShuttingDown()) {
        return;
    }
    CheckError(this, RequireDispatcher().QueueByte(static_cast<uint8_t>(c)));
}

void CustomComPort::TransmitBreak(uint16_t ticks, bool pump) {
    if (ShuttingDown()) {
        return;
    }
    RequireDispatcher().SendLineBreak(ticks, pump);
}

uint16_t CustomComPort::NewDataTrigger(const std::string& text, bool ignoreCase) {
    if (ShuttingDown()) {
        return 0;
    }
    // The text is a short string: at most 255 characters reach the dispatcher.
    const std::string bytes = text.substr(0, 255);
    return static_cast<uint16_t>(
        CheckError(this, RequireDispatcher().NewDataTrigger(bytes.data(), ignoreCase, static_cast<int>(bytes.size()))));
}

uint16_t CustomComPort::NewTimerTrigger() {
    if (ShuttingDown()) {
        return 0;
    }
    return static_cast<uint16_t>(CheckError(this, RequireDispatcher().NewTimerTrigger()));
}

void CustomComPort::ArmTimerTrigger(uint16_t handle, int32_t ticks, bool activate) {
    if (ShuttingDown()) {
        return;
    }
    CheckError(this, RequireDispatcher().ArmTimerTrigger(handle, ticks, activate));
}

void CustomComPort::DeleteTrigger(uint16_t handle) {
    if (!IsOpenState()) {
        return;
    }
    CheckError(this, dispatcher_->DeleteTrigger(handle));
}

uint16_t CustomComPort::LineError() {
    if (!IsOpenState()) {
        return 0;
    }
    return static_cast<uint16_t>(CheckError(this, dispatcher_->TakeLineError()));
}

bool CustomComPort::LineBreakSeen() {
    if (!IsOpenState()) {
        return false;
    }
    return dispatcher_->TakeBreakFlag();
}

void CustomComPort::YieldToDispatcher() {
    if (ShuttingDown() || !dispatcher_) {
        return;
    }
    CheckError(this, dispatcher_->YieldSlice());
}

}  // namespace hydrix::comm
