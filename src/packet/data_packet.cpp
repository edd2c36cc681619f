#include "packet/data_packet.h"

#include <exception>
#include <utility>

#include "comm/com_port.h"
#include "comm/exceptions.h"
#include "packet/packet_manager.h"
#include "packet/packet_manager_list.h"
#include "platform/dialogs.h"

namespace hydrix::packet {

using comm::LogSubKind;

namespace {

constexpr int32_t ecStartStringEmpty = -5501;
constexpr int32_t ecPacketTooSmall = -5502;
constexpr int32_t ecNoEndCharCount = -5503;
constexpr int32_t ecEmptyEndString = -5504;
constexpr int32_t ecZeroSizePacket = -5505;

LogSubKind StateSubKind(PacketState state) {
    switch (state) {
    case PacketState::Idle:
        return LogSubKind::Idle;
    case PacketState::Waiting:
        return LogSubKind::Waiting;
    case PacketState::Collecting:
        return LogSubKind::Collecting;
    }
    return LogSubKind::Idle;
}

}  // namespace

DataPacket::DataPacket(std::string name) : name_(std::move(name)) {}

DataPacket::~DataPacket() {
    if (manager_) {
        manager_->RemovePacket(*this);
    }
    comPort_ = nullptr;
}

// Settings -------------------------------------------------------------------------------

void DataPacket::SetAutoEnable(bool value) {
    DataPacketManager::Lock lock(manager_);
    autoEnable_ = value;
}

void DataPacket::SetStartCond(PacketStartCond value) {
    DataPacketManager::Lock lock(manager_);
    startCond_ = value;
}

void DataPacket::SetStartString(const std::string& value) {
    DataPacketManager::Lock lock(manager_);
    startString_ = value;
}

void DataPacket::SetIgnoreCase(bool value) {
    DataPacketManager::Lock lock(manager_);
    ignoreCase_ = value;
}

void DataPacket::SetPacketSize(int32_t value) {
    DataPacketManager::Lock lock(manager_);
    packetSize_ = value;
}

void DataPacket::SetIncludeStrings(bool value) {
    DataPacketManager::Lock lock(manager_);
    includeStrings_ = value;
}

void DataPacket::SetTimeOut(int32_t value) {
    DataPacketManager::Lock lock(manager_);
    timeOut_ = value;
}

void DataPacket::SetSyncEvents(bool value) {
    DataPacketManager::Lock lock(manager_);
    syncEvents_ = value;
}

void DataPacket::SetFlushOnTimeout(bool value) {
    DataPacketManager::Lock lock(manager_);
    flushOnTimeout_ = value;
}

void DataPacket::SetEndCond(PacketEndConds value) {
    DataPacketManager::Lock lock(manager_);
    const bool was = enabled_;
    ApplyEnabled(false);
    endCond_ = value;
    if (was) {
        ApplyEnabled(true);
    }
}

void DataPacket::SetEndString(const std::string& value) {
    DataPacketManager::Lock lock(manager_);
    const bool was = enabled_;
    ApplyEnabled(false);
    endString_ = value;
    if (was) {
        ApplyEnabled(true);
    }
}

void DataPacket::SetEnabled(bool value) {
    DataPacketManager::Lock lock(manager_);
    ApplyEnabled(value);
}

void DataPacket::ApplyEnabled(bool value) {
    if (!value) {
        enabled_ = false;
        Disarm();
        return;
    }
    if (enabled_ && (state_ != PacketState::Idle || pendingStart_ || pendingEnable_)) {
        return;
    }
    enabled_ = true;
    if (manager_ && manager_->Enabled()) {
        EnableOrDefer();
    }
}

void DataPacket::SetComPort(comm::CustomComPort* port) {
    if (port == comPort_ && (port == nullptr || manager_)) {
        return;
    }
    if (manager_) {
        manager_->RemovePacket(*this);
    }
    comPort_ = port;
    if (port) {
        PacketManagers().Obtain(port).AddPacket(*this);
    }
}

void DataPacket::Loaded() {
    SetLoading(false);
    if (!manager_) {
        return;
    }
    if (!manager_->Enabled()) {
        // The port was marked open while loading: the manager starts now.
        if (comPort_ && comPort_->Open() && !comPort_->Loading()) {
            manager_->Enable();
        }
        return;
    }
    DataPacketManager::Lock lock(manager_);
    if (enabled_ && (pendingEnable_ || state_ == PacketState::Idle)) {
        Rearm();
    }
}

// Arming and disarming --------------------------------------------------------------------

void DataPacket::EnableOrDefer() {
    if (Loading() || manager_->InEvent()) {
        pendingEnable_ = true;
        return;
    }
    Enable();
}

void DataPacket::Enable() {
    try {
        EnableSteps();
    } catch (...) {
        // A half-made packet must not stay the manager's collecting packet.
        enabled_ = false;
        Disarm();
        throw;
    }
}

void DataPacket::EnableSteps() {
    pendingEnable_ = false;
    Log(LogSubKind::Enable);
    PacketPattern start;
    PacketPattern end;
    if (startCond_ == PacketStartCond::scString) {
        LogData(LogSubKind::StartStr, startString_.data(), startString_.size());
        if (startString_.empty()) {
            comm::RaiseError(ecStartStringEmpty);
        }
        if (endCond_.Contains(PacketEndCond::ecPacketSize) && static_cast<int64_t>(startString_.size()) > packetSize_) {
            comm::RaiseError(ecPacketTooSmall);
        }
        start = PreparePattern(startString_, ignoreCase_);
        // A lone backslash leaves nothing to match.
        if (start.Pattern.empty()) {
            comm::RaiseError(ecStartStringEmpty);
        }
        SetState(PacketState::Waiting);
    } else {
        if (endCond_.Empty()) {
            comm::RaiseError(ecNoEndCharCount);
        }
        if (manager_->CurrentPacket() && manager_->CurrentPacket() != this) {
            pendingStart_ = true;
        } else {
            SetState(PacketState::Collecting);
        }
    }
    if (endCond_.Contains(PacketEndCond::ecString)) {
        if (endString_.empty()) {
            comm::RaiseError(ecEmptyEndString);
        }
        LogData(LogSubKind::EndStr, endString_.data(), endString_.size());
        end = PreparePattern(endString_, ignoreCase_);
        if (end.Pattern.empty()) {
            comm::RaiseError(ecEmptyEndString);
        }
    }
    if (endCond_.Contains(PacketEndCond::ecPacketSize) && packetSize_ == 0) {
        comm::RaiseError(ecZeroSizePacket);
    }
    matcher_ = PacketMatcher(std::move(start), std::move(end), endCond_, packetSize_, ignoreCase_);
}

void DataPacket::Rearm() {
    Disarm();
    if (!enabled_ || !manager_ || !manager_->Enabled()) {
        return;
    }
    try {
        EnableOrDefer();
    } catch (const std::exception& e) {
        platform::ShowExceptionReport(e.what());
    }
}

void DataPacket::Disarm() {
    if (state_ == PacketState::Idle && !pendingStart_ && !pendingEnable_) {
        return;
    }
    pendingStart_ = false;
    pendingEnable_ = false;
    SetState(PacketState::Idle);
    Log(LogSubKind::Disable);
}

void DataPacket::SetState(PacketState state) {
    if (state == state_) {
        return;
    }
    const PacketState old = state_;
    state_ = state;
    Log(StateSubKind(state));
    if (!manager_) {
        return;
    }
    if (state == PacketState::Collecting) {
        manager_->BeginCollecting(*this);
    } else if (old == PacketState::Collecting) {
        manager_->EndCollecting(*this);
    }
}

// Logging ---------------------------------------------------------------------------------

void DataPacket::Log(LogSubKind sub) {
    const std::string text = "Packet:" + name_;
    LogData(sub, text.data(), text.size());
}

void DataPacket::LogData(LogSubKind sub, const void* bytes, size_t length) {
    if (manager_) {
        manager_->Log(sub, bytes, static_cast<uint32_t>(length));
    }
}

}  // namespace hydrix::packet
