// The port's settings: what writing each one does, closed and open, and the two places
// that write many at once (an open, which forces each through to the new dispatcher, and
// Assign, which copies another port's).
#include <cmath>
#include <memory>

#include "comm/com_port.h"
#include "comm/exceptions.h"
#include "platform/scope_exit.h"

namespace hydrix::comm {

namespace {

using Port = CustomComPort;

uint16_t Percent(double share, uint16_t of) {
    // Rounds half to even, as the flow limits always have.
    return static_cast<uint16_t>(std::nearbyint(share * of));
}

// Writes from's value of a setting into to, through the setter.
template <auto Get, auto Set>
void CopySetting(CustomComPort& to, const CustomComPort& from) {
    (to.*Set)((from.*Get)());
}

}  // namespace

void CustomComPort::ForceSettings(std::span<const SettingCopy> settings) {
    const bool force = forceApply_;
    forceApply_ = true;
    ScopeExit restore([this, force] { forceApply_ = force; });
    for (SettingCopy copy : settings) {
        copy(*this, *this);
    }
}

void CustomComPort::ApplySettingsOnOpen() {
    static constexpr SettingCopy kApplied[] = {
        CopySetting<&Port::Tracing, &Port::SetTracing>,
        CopySetting<&Port::Logging, &Port::SetLogging>,
        CopySetting<&Port::HWFlowOptions, &Port::SetHWFlowOptions>,
        CopySetting<&Port::SWFlowOptions, &Port::SetSWFlowOptions>,
        CopySetting<&Port::XOnChar, &Port::SetXOnChar>,
        CopySetting<&Port::XOffChar, &Port::SetXOffChar>,
        CopySetting<&Port::TriggerLength, &Port::SetTriggerLength>,
        CopySetting<&Port::DTR, &Port::SetDTR>,
        CopySetting<&Port::RTS, &Port::SetRTS>,
        CopySetting<&Port::UseEventWord, &Port::SetUseEventWord>,
        CopySetting<&Port::RS485Mode, &Port::SetRS485Mode>,
        CopySetting<&Port::ThreadBoost, &Port::SetThreadBoost>,
    };
    ForceSettings(kApplied);
}

void CustomComPort::Assign(const CustomComPort& other) {
    if (&other == this) {
        return;
    }
    // In the order written: the flow limits follow the queue sizes they are checked with.
    static constexpr SettingCopy kAssigned[] = {
        CopySetting<&Port::DeviceLayer, &Port::SetDeviceLayer>,
        CopySetting<&Port::ComNumber, &Port::SetComNumber>,
        CopySetting<&Port::Baud, &Port::SetBaud>,
        CopySetting<&Port::PromptForPort, &Port::SetPromptForPort>,
        CopySetting<&Port::Parity, &Port::SetParity>,
        CopySetting<&Port::DataBits, &Port::SetDataBits>,
        CopySetting<&Port::StopBits, &Port::SetStopBits>,
        CopySetting<&Port::InSize, &Port::SetInSize>,
        CopySetting<&Port::OutSize, &Port::SetOutSize>,
        CopySetting<&Port::AutoOpen, &Port::SetAutoOpen>,
        CopySetting<&Port::DTR, &Port::SetDTR>,
        CopySetting<&Port::RTS, &Port::SetRTS>,
        CopySetting<&Port::HWFlowOptions, &Port::SetHWFlowOptions>,
        CopySetting<&Port::SWFlowOptions, &Port::SetSWFlowOptions>,
        CopySetting<&Port::XOnChar, &Port::SetXOnChar>,
        CopySetting<&Port::XOffChar, &Port::SetXOffChar>,
        CopySetting<&Port::BufferFull, &Port::SetBufferFull>,
        CopySetting<&Port::BufferResume, &Port::SetBufferResume>,
        CopySetting<&Port::UseEventWord, &Port::SetUseEventWord>,
        CopySetting<&Port::CommNotificationLevel, &Port::SetCommNotificationLevel>,
        CopySetting<&Port::RS485Mode, &Port::SetRS485Mode>,
        CopySetting<&Port::TraceSize, &Port::SetTraceSize>,
        CopySetting<&Port::TraceName, &Port::SetTraceName>,
        CopySetting<&Port::TraceHex, &Port::SetTraceHex>,
        CopySetting<&Port::TraceAllHex, &Port::SetTraceAllHex>,
        CopySetting<&Port::Tracing, &Port::SetTracing>,
        CopySetting<&Port::LogSize, &Port::SetLogSize>,
        CopySetting<&Port::LogName, &Port::SetLogName>,
        CopySetting<&Port::LogHex, &Port::SetLogHex>,
        CopySetting<&Port::LogAllHex, &Port::SetLogAllHex>,
        CopySetting<&Port::Logging, &Port::SetLogging>,
    };
    users_.clear();
    for (const auto& record : other.users_) {
        users_.push_back(std::make_shared<UserRecord>(*record));
    }
    for (SettingCopy copy : kAssigned) {
        copy(*this, other);
    }
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

void CustomComPort::SetDeviceLayer(DeviceLayerKind value) {
    if (state_ != PortState::StateClosed || !DeviceLayerAccepted(value)) {
        return;
    }
    deviceLayer_ = value;
    DeviceLayerChanged();
}

void CustomComPort::SetComNumber(uint16_t value) {
    if (value == comNumber_) {
        return;
    }
    const bool wasOpen = IsOpenState();
    TraceLogState tracing = tracing_;
    TraceLogState logging = logging_;
    // The close keeps the triggers and the reopen gives them back before its users hear of
    // it, so the triggers those users take on the new line stay theirs.
    if (wasOpen) {
        SetOpen(false);
    }
    comNumber_ = value;
    if (!wasOpen) {
        return;
    }
    SetTracing(tracing);
    SetLogging(logging);
    SetOpen(true);
}

void CustomComPort::ApplyLineSettings() {
    if (!IsOpenState()) {
        return;
    }
    CheckError(this, dispatcher_->ApplyLineSettings(baud_, static_cast<int>(parity_), stopBits_, dataBits_));
}

void CustomComPort::SizeDriverQueues() {
    if (IsOpenState()) {
        dispatcher_->SizeDeviceQueues(inSize_, outSize_);
    }
}

void CustomComPort::SetDTR(bool value) {
    if (value == dtr_ && !forceApply_) {
        return;
    }
    if (!IsOpenState() || CheckError(this, dispatcher_->SetDtrLine(value)) == 0) {
        dtr_ = value;
    }
}

void CustomComPort::SetRTS(bool value) {
    if (value == rts_ && !forceApply_) {
        return;
    }
    if (!IsOpenState() || CheckError(this, dispatcher_->SetRtsLine(value)) == 0) {
        rts_ = value;
    }
}

void CustomComPort::SetHWFlowOptions(HWFlowOptionSet value) {
    if (value == hwFlowOptions_ && !forceApply_) {
        return;
    }
    if (value != 0) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_) {
            bufferFull_ = Percent(0.9, inSize_);
        }
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_) {
            bufferResume_ = Percent(0.1, inSize_);
        }
    }
    if (IsOpenState()) {
        CheckError(this, dispatcher_->ConfigureHardwareFlow(bufferFull_, bufferResume_, value));
    }
    hwFlowOptions_ = value;
    if (value & (hwfUseRTS | hwfRequireCTS)) {
        SetRS485Mode(false);
    }
}

void CustomComPort::SetSWFlowOptions(SWFlowKind value) {
    if (value == swFlowOptions_ && !forceApply_) {
        return;
    }
    uint32_t code = 0;
    switch (value) {
    case SWFlowKind::swfBoth:
        code = 3;
        break;
    case SWFlowKind::swfTransmit:
        code = 1;
        break;
    case SWFlowKind::swfReceive:
        code = 2;
        break;
    case SWFlowKind::swfNone:
        code = 0;
        break;
    }
    if (code != 0) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_) {
            bufferFull_ = Percent(0.75, inSize_);
        }
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_) {
            bufferResume_ = Percent(0.25, inSize_);
        }
    }
    if (IsOpenState()) {
        CheckError(this, code != 0 ? dispatcher_->ConfigureSoftwareFlow(bufferFull_, bufferResume_, code)
                                   : dispatcher_->DisableSoftwareFlow());
    }
    swFlowOptions_ = value;
}

void CustomComPort::SetXOnChar(char value) {
    if (value == xOnChar_ && !forceApply_) {
        return;
    }
    xOnChar_ = value;
    if (IsOpenState()) {
        CheckError(this, dispatcher_->SetFlowChars(static_cast<uint8_t>(xOnChar_), static_cast<uint8_t>(xOffChar_)));
    }
}

void CustomComPort::SetXOffChar(char value) {
    if (value == xOffChar_ && !forceApply_) {
        return;
    }
    xOffChar_ = value;
    if (IsOpenState()) {
        CheckError(this, dispatcher_->SetFlowChars(static_cast<uint8_t>(xOnChar_), static_cast<uint8_t>(xOffChar_)));
    }
}

void CustomComPort::ReapplyFlow() {
    static constexpr SettingCopy kFlow[] = {
        CopySetting<&Port::HWFlowOptions, &Port::SetHWFlowOptions>,
        CopySetting<&Port::SWFlowOptions, &Port::SetSWFlowOptions>,
    };
    ForceSettings(kFlow);
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
    if (value == useEventWord_ && !forceApply_) {
        return;
    }
    useEventWord_ = value;
    if (!IsOpenState()) {
        return;
    }
    if (value) {
        dispatcher_->SetOptionBits(kOptionEventWord);
    } else {
        dispatcher_->ClearOptionBits(kOptionEventWord);
    }
}

void CustomComPort::SetRS485Mode(bool value) {
    if (value == rs485Mode_ && !forceApply_) {
        return;
    }
    rs485Mode_ = value;
    if (IsOpenState()) {
        dispatcher_->SetRs485Mode(value);
    }
    if (value) {
        SetHWFlowOptions(hwFlowOptions_ & static_cast<HWFlowOptionSet>(~(hwfUseRTS | hwfRequireCTS)));
        SetRTS(false);
    }
}

void CustomComPort::SetTriggerLength(uint16_t value) {
    if (value == triggerLength_ && !forceApply_) {
        return;
    }
    triggerLength_ = value;
    if (IsOpenState()) {
        dispatcher_->SetAvailThreshold(value);
    }
}

void CustomComPort::SetThreadBoost(uint8_t value) {
    if (value == threadBoost_ && !forceApply_) {
        return;
    }
    threadBoost_ = value;
    if (IsOpenState()) {
        dispatcher_->ApplyThreadBoost(value);
    }
}

}  // namespace hydrix::comm
