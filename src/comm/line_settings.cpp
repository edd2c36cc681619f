// Line settings, flow control and the modem control lines of the dispatcher.
#include "comm/line_settings.h"

#include <chrono>
#include <thread>

#include "comm/dispatcher.h"

namespace hydrix::comm {

using platform::DeviceState;

LineValues NormalizeLineSettings(const DeviceState& current, int32_t baud, int parity, int stopBits, int dataBits) {
    LineValues v;
    v.Baud = static_cast<uint32_t>(baud);
    v.Parity = parity == 5 ? current.Parity : static_cast<uint8_t>(parity);
    v.ByteSize = dataBits == 9 ? current.ByteSize : static_cast<uint8_t>(dataBits);
    if (stopBits == 3) {
        v.StopBits = current.StopBits;
    } else {
        if (stopBits < 1) {
            stopBits = 1;
        }
        if (stopBits > 2) {
            stopBits = 2;
        }
        v.StopBits = stopBits == 1 ? DeviceState::OneStopBit : DeviceState::TwoStopBits;
        if (v.ByteSize == 5) {
            v.StopBits = DeviceState::One5StopBits;
        }
    }
    return v;
}

LineValues CurrentLineValues(const DeviceState& state) {
    return LineValues{state.BaudRate, state.Parity, state.ByteSize, state.StopBits};
}

int32_t TranslateBaud(uint32_t raw) {
    static constexpr int32_t kLegacyRates[] = {110, 300, 600, 1200,  2400, 4800, 9600, 14400,  19200, 0, 0, 38400,
                                               0,   0,   0,   56000, 0,    0,    0,    128000, 0,     0, 0, 256000};
    if (raw == 0xFEFF) {
        return 115200;
    }
    if (raw >= 0xFF10 && raw <= 0xFF27) {
        const int32_t rate = kLegacyRates[raw - 0xFF10];
        return rate != 0 ? rate : static_cast<int32_t>(raw);
    }
    return static_cast<int32_t>(raw);
}

uint32_t DrainSleepMs(int32_t baud, const DeviceState& state) {
    const int32_t rate = TranslateBaud(static_cast<uint32_t>(baud));
    if (rate <= 0) {
        return 0;
    }
    const uint64_t bits = 1u + state.ByteSize + (state.Parity != DeviceState::NoParity ? 1u : 0u) +
                          (state.StopBits == DeviceState::OneStopBit ? 1u : 2u);
    uint64_t time100ns = static_cast<uint64_t>(10000000 / rate) * bits * 18;
    if (rate < 10000) {
        time100ns *= 2;
    }
    return static_cast<uint32_t>((time100ns + 9999) / 10000);
}

// Dispatcher operations --------------------------------------------------------------

int BaseDispatcher::ApplyLineSettings(int32_t baud, int parity, int stopBits, int dataBits) {
    LineValues wanted;
    {
        std::lock_guard guard(dispatcherLock_);
        device_->GetState(line_.State);
        line_.State.Binary = true;
        line_.State.ParityCheck = false;
        line_.State.DsrSensitivity = false;
        line_.State.TxContinueOnXoff = true;
        line_.State.Null = false;
        wanted = NormalizeLineSettings(line_.State, baud, parity, stopBits, dataBits);
        if (wanted == CurrentLineValues(line_.State)) {
            return 0;
        }
    }
    WaitForDrain();
    std::lock_guard guard(dispatcherLock_);
    DeviceState state;
    device_->GetState(state);
    state.BaudRate = wanted.Baud;
    state.Parity = wanted.Parity;
    state.ByteSize = wanted.ByteSize;
    state.StopBits = wanted.StopBits;
    return CommonApplyState(state);
}

void BaseDispatcher::WaitForDrain() {
    for (int i = 0; i < 5000 && OutputPending() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    uint32_t sleepMs;
    {
        std::lock_guard guard(dispatcherLock_);
        device_->GetState(line_.State);
        sleepMs = DrainSleepMs(line_.LastBaud, line_.State);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
}

int BaseDispatcher::CommonApplyState(DeviceState& state) {
    std::lock_guard guard(dispatcherLock_);
    if (!line_.DtrFlow) {
        state.DtrControl = line_.DtrOn ? DeviceState::DtrEnable : DeviceState::DtrDisable;
    }
    if (!line_.RtsFlow) {
        state.RtsControl = line_.RtsOn ? DeviceState::RtsEnable : DeviceState::RtsDisable;
    }
    const int result = device_->SetState(state);
    if (result >= 0) {
        line_.State = state;
    }
    line_.LastBaud = static_cast<int32_t>(state.BaudRate);
    SetDtrLine(line_.DtrOn);
    if (!line_.Rs485) {
        SetRtsLine(line_.RtsOn);
    }
    return result;
}

LineSettings BaseDispatcher::QueryLineSettings() {
    std::lock_guard guard(dispatcherLock_);
    DeviceState state;
    device_->GetState(state);
    LineSettings settings;
    settings.Baud = TranslateBaud(state.BaudRate);
    settings.Parity = state.Parity;
    settings.DataBits = state.ByteSize;
    settings.StopBits = state.StopBits == DeviceState::OneStopBit ? 1 : 2;
    return settings;
}

int BaseDispatcher::SetDtrLine(bool on) {
    std::lock_guard guard(dispatcherLock_);
    if (line_.DtrFlow) {
        return 1;
    }
    const int result = device_->Escape(on ? platform::kSetDtr : platform::kClrDtr);
    line_.DtrOn = on;
    return result < 0 ? ecBadArgument : 0;
}

int BaseDispatcher::SetRtsLine(bool on) {
    std::lock_guard guard(dispatcherLock_);
    if (line_.RtsFlow) {
        return 1;
    }
    const int result = device_->Escape(on ? platform::kSetRts : platform::kClrRts);
    line_.RtsOn = on;
    return result < 0 ? ecBadArgument : 0;
}

int BaseDispatcher::SendLineBreak(int ticks, bool yield) {
    const bool rs485 = Rs485Mode();
    if (rs485) {
        device_->Escape(platform::kSetRts);
    }
    device_->Escape(kSetBreak);
    if (ticks > 0) {
        platform::EventTimer timer;
        platform::NewTimer(clock_, timer, ticks);
        auto& loop = platform::MessageLoop::Instance();
        if (yield && loop.IsOwnerThread()) {
            loop.ProcessUntil([&] { return platform::TimerExpired(clock_, timer) || loop.QuitRequested(); },
                              platform::kInfinite);
        } else {
            while (!platform::TimerExpired(clock_, timer)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    device_->Escape(kClrBreak);
    if (rs485 && OutputPending() == 0) {
        device_->Escape(platform::kClrRts);
    }
    return 0;
}

bool BaseDispatcher::CheckFlowLimits(int bufferFull, int bufferResume) const {
    return bufferFull >= bufferResume && bufferFull <= inQueueSize_;
}

int BaseDispatcher::ConfigureHardwareFlow(int bufferFull, int bufferResume, uint32_t options) {
    if (!CheckFlowLimits(bufferFull, bufferResume)) {
        return ecBadArgument;
    }
    std::lock_guard guard(dispatcherLock_);
    DeviceState state = line_.State;
    state.OutxCtsFlow = false;
    state.OutxDsrFlow = false;
    state.DtrControl = DeviceState::DtrDisable;
    state.RtsControl = DeviceState::RtsDisable;
    line_.DtrFlow = false;
    line_.RtsFlow = false;
    line_.HwFlowOptions = options;
    if (options & 1) {
        state.DtrControl = DeviceState::DtrHandshake;
        line_.DtrFlow = true;
    } else if (line_.DtrOn) {
        state.DtrControl = DeviceState::DtrEnable;
    }
    if (options & 2) {
        state.RtsControl = DeviceState::RtsHandshake;
        line_.RtsFlow = true;
    } else if (line_.RtsOn) {
        state.RtsControl = DeviceState::RtsEnable;
    }
    if (line_.Rs485) {
        state.RtsControl = DeviceState::RtsToggle;
        line_.RtsFlow = true;
    }
    state.XoffLim = static_cast<uint16_t>(inQueueSize_ - bufferFull);
    state.XonLim = static_cast<uint16_t>(bufferResume);
    if (options & 4) {
        state.OutxDsrFlow = true;
    }
    if (options & 8) {
        state.OutxCtsFlow = true;
    }
    return CommonApplyState(state);
}

int BaseDispatcher::ConfigureSoftwareFlow(int bufferFull, int bufferResume, uint32_t options) {
    if (!CheckFlowLimits(bufferFull, bufferResume)) {
        return ecBadArgument;
    }
    std::lock_guard guard(dispatcherLock_);
    DeviceState state = line_.State;
    if (options & 2) {
        state.InX = true;
        state.XoffLim = static_cast<uint16_t>(inQueueSize_ - bufferFull);
        state.XonLim = static_cast<uint16_t>(bufferResume);
    }
    if (options & 1) {
        state.OutX = true;
    }
    if (options & 3) {
        state.XonChar = 17;
        state.XoffChar = 19;
    }
    return CommonApplyState(state);
}

int BaseDispatcher::DisableSoftwareFlow() {
    std::lock_guard guard(dispatcherLock_);
    DeviceState state = line_.State;
    state.InX = false;
    state.OutX = false;
    return CommonApplyState(state);
}

int BaseDispatcher::SetFlowChars(uint8_t xon, uint8_t xoff) {
    std::lock_guard guard(dispatcherLock_);
    DeviceState state = line_.State;
    state.XonChar = xon;
    state.XoffChar = xoff;
    return CommonApplyState(state);
}

FlowSettings BaseDispatcher::QueryFlowSettings() {
    std::lock_guard guard(dispatcherLock_);
    DeviceState state;
    device_->GetState(state);
    FlowSettings flow;
    if (state.DtrControl == DeviceState::DtrHandshake) {
        flow.HardwareOptions |= 1;
    }
    if (state.RtsControl == DeviceState::RtsHandshake) {
        flow.HardwareOptions |= 2;
    }
    if (state.OutxDsrFlow) {
        flow.HardwareOptions |= 4;
    }
    if (state.OutxCtsFlow) {
        flow.HardwareOptions |= 8;
    }
    if (state.OutX) {
        flow.SoftwareOptions |= 1;
    }
    if (state.InX) {
        flow.SoftwareOptions |= 2;
    }
    flow.XOnChar = state.XonChar;
    flow.XOffChar = state.XoffChar;
    return flow;
}

}  // namespace hydrix::comm
