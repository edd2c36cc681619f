#include "comm/dispatcher.h"

#include <algorithm>
#include <thread>

#include "comm/dispatcher_registry.h"
#include "comm/posix_port_device.h"

namespace hydrix::comm {

BaseDispatcher::BaseDispatcher(CustomComPort* owner, platform::Clock& clock)
    : BaseDispatcher(owner, std::make_unique<PosixPortDevice>(), clock) {}

BaseDispatcher::BaseDispatcher(CustomComPort* owner, std::unique_ptr<PortDevice> device, platform::Clock& clock,
                               WorkerMode workers)
    : owner_(owner), clock_(clock), device_(std::move(device)), workerMode_(workers) {
    registryIndex_ = DispatcherRegistry::Register(this);
}

BaseDispatcher::~BaseDispatcher() {
    if (signals_.ClosePending) {
        ReleaseBuffers();
    } else {
        CloseDevice();
    }
    WaitProcessingMessages([this] { return signals_.RunningThreads.load() == 0; }, platform::kInfinite);
    // No thread object may outlive the dispatcher, nor any thread the device.
    JoinFinishedThreads();
    DispatcherRegistry::Unregister(registryIndex_);
}

int BaseDispatcher::OpenDevice(const std::string& name, int32_t baud, uint32_t options, int outSize, int inSize,
                               int stopBits, int dataBits, int parity) {
    if (outSize <= 0 || inSize < 0) {
        return ecBadArgument;
    }
    if (deviceOpen_ || signals_.ThreadsRunning) {
        return ecAlreadyOpen;
    }
    signals_.RingSeen = false;
    inDispatch_ = false;
    signals_.ClosePending = false;
    signals_.ResetEvents(true);

    const int opened = device_->Open(name);
    if (opened < 0) {
        CloseDevice();
        return opened;
    }
    deviceOpen_ = true;
    inQueueSize_ = inSize;
    outQueueSize_ = outSize;
    recorders_.SetLogScratchSize(static_cast<uint32_t>(std::max(inSize, outSize)));
    if (!SizeDeviceQueues(inSize, outSize)) {
        CloseDevice();
        return ecBadArgument;
    }

    {
        std::lock_guard guard(inputLock_);
        inRing_.Allocate();
    }
    {
        std::lock_guard guard(outputLock_);
        outRing_.Allocate(static_cast<uint32_t>(outSize));
    }
    errorBits_ = 0;
    outputSent_ = false;
    {
        std::lock_guard guard(dispatcherLock_);
        line_.Rs485 = false;
        line_.HwFlowOptions = 0;
        line_.UartBase = 0;
        device_->GetState(line_.State);
        line_.DtrOn = (options & kOpenDtrOn) != 0;
        line_.RtsOn = (options & kOpenRtsOn) != 0;
        line_.DtrFlow = (options & kOpenDtrFlow) != 0;
        line_.RtsFlow = (options & kOpenRtsFlow) != 0;
    }
    if (!line_.DtrFlow) {
        SetDtrLine(line_.DtrOn);
    }
    if (!line_.RtsFlow) {
        SetRtsLine(line_.RtsOn);
    }

    RemoveAllTriggers();
    {
        std::lock_guard guard(dispatcherLock_);
        triggers_.RestartScan(0, 0);
        triggers_.SetLastAvailAt(0);
        triggers_.ClearStatusFired();
        modemStatus_ = 0;
        line_.LastBaud = 115200;
    }
    ReadModemSignals(0xF0);

    const int applied = ApplyLineSettings(baud, parity, stopBits, dataBits);
    if (applied < 0) {
        CloseDevice();
        return applied;
    }

    RefreshDriverStatus();
    recorders_.Restart();
    try {
        StartThreads();
    } catch (...) {
        CloseDevice();
        throw;
    }
    return 0;
}

int BaseDispatcher::CloseDevice() {
    // A notification handled while the close waits for the threads may ask again.
    if (closing_.exchange(true)) {
        return 0;
    }
    int result = 0;
    if (deviceOpen_) {
        PurgeOutput();
        PurgeInput();
        result = CloseDeviceAndThreads();
        deviceOpen_ = false;
    }
    if (inDispatch_) {
        signals_.ClosePending = true;
    } else {
        ReleaseBuffers();
    }
    closing_ = false;
    return result;
}

DispatcherThread* BaseDispatcher::DispThreadObject() {
    return threads_.Get(WorkerThreads::kDispatcher);
}

void BaseDispatcher::RunOnGuiThread(const std::function<void()>& fn) {
    platform::MessageLoop::Instance().RunOnOwnerThread(fn);
}

int BaseDispatcher::YieldSlice() {
    std::this_thread::yield();
    return 0;
}

// Data -----------------------------------------------------------------------------

int BaseDispatcher::QueueBytes(const void* buffer, int count) {
    if (count == 0) {
        return 0;
    }
    if (count < 0 || buffer == nullptr) {
        return ecBadArgument;
    }
    {
        std::lock_guard guard(outputLock_);
        if (!outRing_.Allocated()) {
            return ecNotOpen;
        }
        const int room = outQueueSize_ - static_cast<int>(RefreshOutputStatus());
        if (room < count) {
            return ecOutputBufferTooSmall;
        }
        if (count == room) {
            outRing_.SetFull(true);
        }
        outRing_.Put(static_cast<const uint8_t*>(buffer), static_cast<uint32_t>(count));
        signals_.OutputReady.Set();
        outputSent_ = true;
    }
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    std::lock_guard guard(dispatcherLock_);
    recorders_.Log(LogKind::Dispatch, LogSubKind::WriteCom, static_cast<uint32_t>(count), bytes,
                   static_cast<uint32_t>(count));
    recorders_.TraceBytes('T', bytes, static_cast<uint32_t>(count));
    return 0;
}

int BaseDispatcher::ReadBytes(void* buffer, int count) {
    if (count < 0 || (count > 0 && buffer == nullptr)) {
        return ecBadArgument;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    {
        std::lock_guard guard(inputLock_);
        if (!inRing_.Allocated() || !inRing_.Read(out, static_cast<uint32_t>(count))) {
            return ecBufferIsEmpty;
        }
        if (count == 0) {
            return 0;
        }
    }
    std::lock_guard guard(dispatcherLock_);
    recorders_.TraceBytes('R', out, static_cast<uint32_t>(count));
    return count;
}

int BaseDispatcher::BytesAvailable() {
    std::lock_guard guard(inputLock_);
    return static_cast<int>(inRing_.Available());
}

uint64_t BaseDispatcher::ReadPosition() {
    std::lock_guard guard(inputLock_);
    return inRing_.ReadPosition();
}

int BaseDispatcher::OutputPending() {
    return static_cast<int>(RefreshOutputStatus() + device_->OutQueue());
}

int BaseDispatcher::OutputRoom() {
    return outQueueSize_ - static_cast<int>(RefreshOutputStatus());
}

int BaseDispatcher::PurgeOutput() {
    if (threads_.OtherAlive(WorkerThreads::kOutput)) {
        FlushOutputThread();
    }
    return device_->Purge(false, true);
}

int BaseDispatcher::PurgeInput() {
    std::lock_guard guard(inputLock_);
    const int result = device_->Purge(true, false);
    inRing_.Purge();
    std::lock_guard dguard(dispatcherLock_);
    // Purged bytes must not fire triggers: the scan resumes at the new head.
    if (!inRing_.InOffer()) {
        triggers_.RestartScan(inRing_.Head(), inRing_.Received());
    }
    triggers_.ResetPartialMatches();
    return result;
}

DriverStatus BaseDispatcher::RefreshDriverStatus() {
    const DriverStatus driver = device_->ReadStatus();
    errorBits_.fetch_or(driver.Errors & 0x1Fu);
    return driver;
}

uint32_t BaseDispatcher::RefreshOutputStatus() {
    RefreshDriverStatus();
    std::lock_guard guard(outputLock_);
    return outRing_.Count();
}

// Filling the input ring (dispatcher thread) ------------------------------------------

uint32_t BaseDispatcher::FillInputRing() {
    bool driverHasMore;
    return FillInputRing(driverHasMore);
}

uint32_t BaseDispatcher::FillInputRing(bool& driverHasMore) {
    driverHasMore = false;
    std::lock_guard guard(inputLock_);
    if (!inRing_.Allocated() || inRing_.Full()) {
        return 0;
    }
    const DriverStatus status = RefreshDriverStatus();
    if (status.InQueue == 0) {
        return 0;
    }
    uint32_t room = inRing_.Free();
    {
        std::lock_guard dguard(dispatcherLock_);
        const uint64_t unscanned = inRing_.Received() - triggers_.Scanned();
        // An empty ring scanned to its end starts again at 0, so that a read lands in one piece.
        if (unscanned == 0 && inRing_.Held() == 0 && !inRing_.InOffer()) {
            inRing_.Rewind();
            triggers_.RestartScan(0, inRing_.Received());
        }
        // Bytes a reader took before the scan reached them stay in place until scanned.
        room = std::min(room, kInputRingSize - static_cast<uint32_t>(std::min<uint64_t>(unscanned, kInputRingSize)));
    }
    // Never more than the driver reported: a tty read may return more than its count.
    const uint32_t wanted = std::min(room, status.InQueue);
    driverHasMore = status.InQueue > wanted;
    if (wanted == 0) {
        return 0;
    }
    const uint32_t first = std::min(inRing_.ContiguousRoom(), wanted);

    auto readPart = [this](uint32_t count) -> uint32_t {
        uint8_t* at = inRing_.HeadPtr();
        const int got = device_->Read(at, static_cast<int>(count));
        const uint32_t n = got > 0 ? std::min(static_cast<uint32_t>(got), count) : 0;
        if (n > 0) {
            std::lock_guard dguard(dispatcherLock_);
            recorders_.Log(LogKind::Dispatch, LogSubKind::ReadCom, n, at, n);
        }
        inRing_.Commit(n);
        return n;
    };

    uint32_t moved = readPart(first);
    if (moved == first && wanted > first) {
        moved += readPart(wanted - first);
    }
    return moved;
}

bool BaseDispatcher::InputRingFull() {
    std::lock_guard guard(inputLock_);
    return inRing_.Full();
}

// Signals and line errors ------------------------------------------------------------

void BaseDispatcher::RefreshModemStatus() {
    const int signals = device_->ModemStatus();
    std::lock_guard guard(dispatcherLock_);
    const uint8_t old = modemStatus_;
    const uint8_t now = signals < 0 ? static_cast<uint8_t>(old & 0xF0) : static_cast<uint8_t>(signals & 0xF0);
    auto changed = static_cast<uint8_t>(((old ^ now) >> 4) & 0x0F);
    if (signals_.RingSeen.exchange(false)) {
        changed |= 0x04;
    }
    modemStatus_ = static_cast<uint8_t>(now | (old & 0x0F) | changed);
}

void BaseDispatcher::ReportDeviceLoss() {
    if (deviceLossReported_ || !device_->HungUp()) {
        return;
    }
    deviceLossReported_ = true;
    std::vector<platform::WindowHandle> windows;
    {
        std::lock_guard guard(dispatcherLock_);
        windows = handlers_.LiveWindows();
    }
    // Posted, not sent: the port's handler may close the port, which joins this thread.
    for (platform::WindowHandle window : windows) {
        platform::PostMessage(window, kDeviceLostMsg, 0, NotifyParam(0, registryIndex_));
    }
}

uint8_t BaseDispatcher::ReadModemSignals(uint8_t mask) {
    RefreshModemStatus();
    std::lock_guard guard(dispatcherLock_);
    const uint8_t result = modemStatus_;
    modemStatus_ &= mask;
    return result;
}

int BaseDispatcher::TakeLineError() {
    const uint32_t bits = errorBits_.load();
    int result = 0;
    if (bits & platform::kCeRxOver) {
        result = 1;
    } else if (bits & platform::kCeOverrun) {
        result = 2;
    } else if (bits & platform::kCeRxParity) {
        result = 3;
    } else if (bits & platform::kCeFrame) {
        result = 4;
    } else if (bits & platform::kCeBreak) {
        result = 9;
    }
    if (result != 0) {
        errorBits_.fetch_and(~0x0Fu);
    }
    return result;
}

bool BaseDispatcher::TakeBreakFlag() {
    return (errorBits_.fetch_and(~platform::kCeBreak) & platform::kCeBreak) != 0;
}

void BaseDispatcher::SetRs485Mode(bool on) {
    // The output thread's extra priority step in this mode is not available without
    // privileges; there is no UART base address to query on this platform. The driver
    // toggles RTS itself (RTS toggle in the device state), so the mode reaches the device
    // at once, not only with the next flow-control change.
    std::lock_guard guard(dispatcherLock_);
    if (line_.Rs485 == on) {
        return;
    }
    line_.Rs485 = on;
    if (!deviceOpen_) {
        return;
    }
    using platform::DeviceState;
    DeviceState state = line_.State;
    if (on) {
        state.RtsControl = DeviceState::RtsToggle;
        line_.RtsFlow = true;
    } else if (state.RtsControl == DeviceState::RtsToggle) {
        line_.RtsFlow = (line_.HwFlowOptions & 2) != 0;
        state.RtsControl = line_.RtsFlow ? DeviceState::RtsHandshake : DeviceState::RtsEnable;
    } else {
        return;
    }
    CommonApplyState(state);
}

bool BaseDispatcher::Rs485Mode() const {
    std::lock_guard guard(dispatcherLock_);
    return line_.Rs485;
}

void BaseDispatcher::SetOptionBits(uint32_t bits) {
    std::lock_guard guard(dispatcherLock_);
    optionWord_ |= bits;
}

void BaseDispatcher::ClearOptionBits(uint32_t bits) {
    std::lock_guard guard(dispatcherLock_);
    optionWord_ &= ~bits;
}

uint32_t BaseDispatcher::OptionBits() const {
    std::lock_guard guard(dispatcherLock_);
    return optionWord_;
}

}  // namespace hydrix::comm
