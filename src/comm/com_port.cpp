#include "comm/com_port.h"

#include <cmath>
#include <utility>

#include "comm/error_text.h"
#include "comm/exceptions.h"
#include "comm/port_chooser.h"
#include "comm/posix_dispatcher.h"
#include "platform/dialogs.h"

namespace hydrix::comm {

namespace {

constexpr int32_t kNoPortSelected = -2011;
constexpr int32_t kNullApi = -3001;
constexpr int32_t kBadId = -2001;
constexpr int32_t kAlreadyOpen = -2008;
constexpr int32_t kAccessDenied = -13;

uint16_t Percent(double share, uint16_t of) {
    // Rounds half to even, as the flow limits always have.
    return static_cast<uint16_t>(std::nearbyint(share * of));
}

std::string ComName(uint16_t number) { return "COM" + std::to_string(number); }

}  // namespace

CustomComPort::CustomComPort(platform::Clock& clock) : clock_(clock) {}

CustomComPort::~CustomComPort() {
    destroying_ = true;
    try {
        if (IsOpenState()) ClosePort();
    } catch (...) {
        // A trace that cannot be written must not stop the port from going away.
    }
    if (dispatcher_) FinishClose();
    users_.clear();
}

// Open and close ---------------------------------------------------------------------------

void CustomComPort::SetOpen(bool value) {
    if (!value && ShuttingDown()) reopenPending_ = false;
    if (value == open_) return;
    if (Loading()) {
        open_ = value;
        if (value) openAtLoad_ = true;
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
    if (openAtLoad_) open_ = true;
    if (!open_) return;
    openAtLoad_ = false;
    try {
        OpenPort();
    } catch (const std::exception& e) {
        open_ = false;
        platform::ShowExceptionReport(e.what());
    }
}

void CustomComPort::ValidatePortNumber() {
    if (comNumber_ != 0) return;
    if (!promptForPort_) throw ENoPortSelected(kNoPortSelected);
    const std::optional<int> chosen = CurrentPortChooser()->Choose();
    if (!chosen) throw ENoPortSelected(kNoPortSelected);
    SetComNumber(static_cast<uint16_t>(*chosen));
}

std::unique_ptr<BaseDispatcher> CustomComPort::CreateDispatcher() {
    if (dispatcherFactory_) return dispatcherFactory_(*this);
    if (deviceLayer_ != DeviceLayerKind::dlWin32) throw ENullApi(kNullApi);
    return std::make_unique<PosixDispatcher>(this, clock_);
}

int CustomComPort::OpenPortDevice() {
    uint32_t options = 0;
    if (dtr_) options |= kOpenDtrOn;
    if (rts_) options |= kOpenRtsOn;
    if (hwFlowOptions_ & hwfUseDTR) options |= kOpenDtrFlow;
    if (hwFlowOptions_ & hwfUseRTS) options |= kOpenRtsFlow;
    return dispatcher_->OpenDevice(ComName(comNumber_), baud_, options, outSize_, inSize_, stopBits_,
                                   dataBits_, static_cast<int>(parity_));
}

int CustomComPort::TranslateOpenResult(int code) const {
    switch (code) {
        case -5: return kAlreadyOpen;
        case -3:
        case -2: return kBadId;
        default: return code;
    }
}

void CustomComPort::OpenPort() {
    if (tapiMode_ != TapiModeKind::tmOn) ValidatePortNumber();
    dispatcher_ = CreateDispatcher();
    dispatcher_->SetDeviceName(ComName(comNumber_));
    try {
        const int result = TranslateOpenResult(OpenPortDevice());
        if (result != 0) {
            // No permission would read as a bare "Access denied"; the device layer's own
            // text names the device and the group that grants access.
            auto* posix = dynamic_cast<PosixDispatcher*>(dispatcher_.get());
            if (result == kAccessDenied && posix && !posix->LastErrorText().empty() && !Loading()) {
                throw EInOutError(posix->LastErrorText(), -kAccessDenied);
            }
            // In use: the operator is told who holds the port, where that can be seen.
            if (result == kAlreadyOpen && posix && !posix->LastHolder().empty() && !Loading()) {
                EAlreadyOpen inUse(ErrorText(kAlreadyOpen) + " (held by " + posix->LastHolder() + ")");
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
        forceApply_ = true;
        SetTracing(tracing_);
        SetLogging(logging_);
        SetHWFlowOptions(hwFlowOptions_);
        SetSWFlowOptions(swFlowOptions_);
        SetXOnChar(xOnChar_);
        SetXOffChar(xOffChar_);
        SetTriggerLength(triggerLength_);
        SetDTR(dtr_);
        SetRTS(rts_);
        SetUseEventWord(useEventWord_);
        SetRS485Mode(rs485Mode_);
        SetThreadBoost(threadBoost_);
        forceApply_ = false;
        open_ = true;
        SetupPortWindow(true);
        if (triggersSaved_) {
            triggersSaved_ = false;
            dispatcher_->ReinstateTriggers(savedTriggers_);
        }
        NotifyOpened();
    } catch (...) {
        forceApply_ = false;
        open_ = false;
        state_ = PortState::StateClosed;
        if (portWindow_ != 0) SetupPortWindow(false);
        dispatcher_.reset();
        throw;
    }
}

void CustomComPort::ClosePort() {
    if (!IsOpenState()) return;
    // The close goes through to the end even when writing the trace or a user's
    // notice fails; the first such failure is raised once the port is closed.
    std::exception_ptr failure;
    auto guarded = [&failure](auto&& step) {
        try {
            step();
        } catch (...) {
            if (!failure) failure = std::current_exception();
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
        platform::PostMessage(portWindow_, kDeferredCloseMsg, 0,
                              NotifyParam(0, dispatcher_->RegistryIndex()));
    } else {
        FinishClose();
    }
    guarded([this] { NotifyClosed(); });
    if (failure) std::rethrow_exception(failure);
}

void CustomComPort::FinishClose() {
    if (portWindow_ != 0) SetupPortWindow(false);
    dispatcher_.reset();
    state_ = PortState::StateClosed;
    open_ = false;
}

BaseDispatcher* CustomComPort::ActiveDispatcher() {
    if (!dispatcher_ && !Loading() && state_ != PortState::StateOpen && autoOpen_) SetOpen(true);
    return dispatcher_.get();
}

BaseDispatcher& CustomComPort::RequireDispatcher() {
    BaseDispatcher* dispatcher = ActiveDispatcher();
    if (!dispatcher) RaiseError(ecNotOpen);
    return *dispatcher;
}

// Settings -----------------------------------------------------------------------------------

void CustomComPort::SetDeviceLayer(DeviceLayerKind value) {
    if (state_ != PortState::StateClosed || !DeviceLayerAccepted(value)) return;
    deviceLayer_ = value;
    DeviceLayerChanged();
}

void CustomComPort::SetComNumber(uint16_t value) {
    if (value == comNumber_) return;
    const bool wasOpen = IsOpenState();
    TraceLogState tracing = tracing_;
    TraceLogState logging = logging_;
    if (wasOpen) {
        dispatcher_->SnapshotTriggers(savedTriggers_);
        SetOpen(false);
    }
    comNumber_ = value;
    if (!wasOpen) return;
    SetTracing(tracing);
    SetLogging(logging);
    SetOpen(true);
    if (IsOpenState()) dispatcher_->ReinstateTriggers(savedTriggers_);
}

void CustomComPort::ApplyLineSettings() {
    if (!IsOpenState()) return;
    CheckError(this, dispatcher_->ApplyLineSettings(baud_, static_cast<int>(parity_), stopBits_, dataBits_));
}

void CustomComPort::SetBaud(int32_t value) {
    baud_ = value;
    ApplyLineSettings();
}

void CustomComPort::SetParity(ParityKind value) {
    parity_ = value;
    ApplyLineSettings();
}

void CustomComPort::SetDataBits(uint16_t value) {
    dataBits_ = value;
    ApplyLineSettings();
}

void CustomComPort::SetStopBits(uint16_t value) {
    stopBits_ = value;
    ApplyLineSettings();
}

void CustomComPort::SetInSize(uint16_t value) {
    inSize_ = value;
    if (IsOpenState()) dispatcher_->SizeDeviceQueues(inSize_, outSize_);
}

void CustomComPort::SetOutSize(uint16_t value) {
    outSize_ = value;
    if (IsOpenState()) dispatcher_->SizeDeviceQueues(inSize_, outSize_);
}

void CustomComPort::SetDTR(bool value) {
    if (value == dtr_ && !forceApply_) return;
    if (!IsOpenState() || CheckError(this, dispatcher_->SetDtrLine(value)) == 0) dtr_ = value;
}

void CustomComPort::SetRTS(bool value) {
    if (value == rts_ && !forceApply_) return;
    if (!IsOpenState() || CheckError(this, dispatcher_->SetRtsLine(value)) == 0) rts_ = value;
}

void CustomComPort::SetHWFlowOptions(HWFlowOptionSet value) {
    if (value == hwFlowOptions_ && !forceApply_) return;
    if (value != 0) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_) bufferFull_ = Percent(0.9, inSize_);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_) bufferResume_ = Percent(0.1, inSize_);
    }
    if (IsOpenState()) CheckError(this, dispatcher_->ConfigureHardwareFlow(bufferFull_, bufferResume_, value));
    hwFlowOptions_ = value;
    if (value & (hwfUseRTS | hwfRequireCTS)) SetRS485Mode(false);
}

void CustomComPort::SetSWFlowOptions(SWFlowKind value) {
    if (value == swFlowOptions_ && !forceApply_) return;
    uint32_t code = 0;
    switch (value) {
        case SWFlowKind::swfBoth: code = 3; break;
        case SWFlowKind::swfTransmit: code = 1; break;
        case SWFlowKind::swfReceive: code = 2; break;
        case SWFlowKind::swfNone: code = 0; break;
    }
    if (code != 0) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_) bufferFull_ = Percent(0.75, inSize_);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_) bufferResume_ = Percent(0.25, inSize_);
    }
    if (IsOpenState()) {
        CheckError(this, code != 0 ? dispatcher_->ConfigureSoftwareFlow(bufferFull_, bufferResume_, code)
                                   : dispatcher_->DisableSoftwareFlow());
    }
    swFlowOptions_ = value;
}

void CustomComPort::SetXOnChar(char value) {
    if (value == xOnChar_ && !forceApply_) return;
    xOnChar_ = value;
    if (IsOpenState()) {
        CheckError(this, dispatcher_->SetFlowChars(static_cast<uint8_t>(xOnChar_), static_cast<uint8_t>(xOffChar_)));
    }
}

void CustomComPort::SetXOffChar(char value) {
    if (value == xOffChar_ && !forceApply_) return;
    xOffChar_ = value;
    if (IsOpenState()) {
        CheckError(this, dispatcher_->SetFlowChars(static_cast<uint8_t>(xOnChar_), static_cast<uint8_t>(xOffChar_)));
    }
}

void CustomComPort::ReapplyFlow() {
    const bool force = forceApply_;
    forceApply_ = true;
    try {
        SetHWFlowOptions(hwFlowOptions_);
        SetSWFlowOptions(swFlowOptions_);
    } catch (...) {
        forceApply_ = force;
        throw;
    }
    forceApply_ = force;
}

void CustomComPort::SetBufferFull(uint16_t value) {
    // A limit above the input queue could never be reached; take the usual 90 %.
    bufferFull_ = value > inSize_ ? Percent(0.9, inSize_) : value;
    ReapplyFlow();
}

void CustomComPort::SetBufferResume(uint16_t value) {
    bufferResume_ = value > bufferFull_ ? Percent(0.1, bufferFull_) : value;
    ReapplyFlow();
}

void CustomComPort::SetUseMSRShadow(bool) {}

void CustomComPort::SetUseEventWord(bool value) {
    if (value == useEventWord_ && !forceApply_) return;
    useEventWord_ = value;
    if (!IsOpenState()) return;
    if (value) {
        dispatcher_->SetOptionBits(kOptionEventWord);
    } else {
        dispatcher_->ClearOptionBits(kOptionEventWord);
    }
}

void CustomComPort::SetRS485Mode(bool value) {
    if (value == rs485Mode_ && !forceApply_) return;
    rs485Mode_ = value;
    if (IsOpenState()) dispatcher_->SetRs485Mode(value);
    if (value) {
        SetHWFlowOptions(hwFlowOptions_ & static_cast<HWFlowOptionSet>(~(hwfUseRTS | hwfRequireCTS)));
        SetRTS(false);
    }
}

void CustomComPort::SetTriggerLength(uint16_t value) {
    if (value == triggerLength_ && !forceApply_) return;
    triggerLength_ = value;
    if (IsOpenState()) dispatcher_->SetAvailThreshold(value);
}

void CustomComPort::SetThreadBoost(uint8_t value) {
    if (value == threadBoost_ && !forceApply_) return;
    threadBoost_ = value;
    if (IsOpenState()) dispatcher_->ApplyThreadBoost(value);
}

// Operations ---------------------------------------------------------------------------------

void CustomComPort::SendString(const std::string& text) {
    if (ShuttingDown()) return;
    CheckError(this, RequireDispatcher().QueueBytes(text.data(), static_cast<int>(text.size())));
}

void CustomComPort::SendChar(char c) {
    if (ShuttingDown()) return;
    CheckError(this, RequireDispatcher().QueueByte(static_cast<uint8_t>(c)));
}

void CustomComPort::TransmitBreak(uint16_t ticks, bool pump) {
    if (ShuttingDown()) return;
    RequireDispatcher().SendLineBreak(ticks, pump);
}

uint16_t CustomComPort::NewDataTrigger(const std::string& text, bool ignoreCase) {
    if (ShuttingDown()) return 0;
    // The text is a short string: at most 255 characters reach the dispatcher.
    const std::string bytes = text.substr(0, 255);
    return static_cast<uint16_t>(CheckError(
        this, RequireDispatcher().NewDataTrigger(bytes.data(), ignoreCase, static_cast<int>(bytes.size()))));
}

uint16_t CustomComPort::NewTimerTrigger() {
    if (ShuttingDown()) return 0;
    return static_cast<uint16_t>(CheckError(this, RequireDispatcher().NewTimerTrigger()));
}

void CustomComPort::ArmTimerTrigger(uint16_t handle, int32_t ticks, bool activate) {
    if (ShuttingDown()) return;
    CheckError(this, RequireDispatcher().ArmTimerTrigger(handle, ticks, activate));
}

void CustomComPort::DeleteTrigger(uint16_t handle) {
    if (!IsOpenState()) return;
    CheckError(this, dispatcher_->DeleteTrigger(handle));
}

uint16_t CustomComPort::LineError() {
    if (!IsOpenState()) return 0;
    return static_cast<uint16_t>(CheckError(this, dispatcher_->TakeLineError()));
}

bool CustomComPort::LineBreakSeen() {
    if (!IsOpenState()) return false;
    return dispatcher_->TakeBreakFlag();
}

void CustomComPort::YieldToDispatcher() {
    if (ShuttingDown() || !dispatcher_) return;
    CheckError(this, dispatcher_->YieldSlice());
}

}  // namespace hydrix::comm
