#include "packet/data_packet.h"

#include <exception>

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
        case PacketState::Idle: return LogSubKind::Idle;
        case PacketState::Waiting: return LogSubKind::Waiting;
        case PacketState::Collecting: return LogSubKind::Collecting;
    }
    return LogSubKind::Idle;
}

}  // namespace

DataPacket::DataPacket(std::string name) : name_(std::move(name)) {}

DataPacket::~DataPacket() {
    if (manager_) manager_->RemovePacket(*this);
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
    SetEnabled(false);
    endCond_ = value;
    if (was) SetEnabled(true);
}

void DataPacket::SetEndString(const std::string& value) {
    DataPacketManager::Lock lock(manager_);
    const bool was = enabled_;
    SetEnabled(false);
    endString_ = value;
    if (was) SetEnabled(true);
}

void DataPacket::SetEnabled(bool value) {
    DataPacketManager::Lock lock(manager_);
    if (!value) {
        enabled_ = false;
        Disarm();
        return;
    }
    if (enabled_ && (state_ != PacketState::Idle || pendingStart_ || pendingEnable_)) return;
    enabled_ = true;
    if (manager_ && manager_->Enabled()) EnableOrDefer();
}

void DataPacket::SetComPort(comm::CustomComPort* port) {
    if (port == comPort_ && (port == nullptr || manager_)) return;
    if (manager_) manager_->RemovePacket(*this);
    comPort_ = port;
    if (!port) return;
    DataPacketManager* manager = PacketManagers().ManagerFor(port);
    if (!manager) manager = new DataPacketManager(port);
    manager->AddPacket(*this);
}

void DataPacket::Loaded() {
    SetLoading(false);
    if (!manager_) return;
    if (!manager_->Enabled()) {
        // The port was marked open while loading: the manager starts now.
        if (comPort_ && comPort_->Open() && !comPort_->Loading()) manager_->Enable();
        return;
    }
    DataPacketManager::Lock lock(manager_);
    if (enabled_ && (pendingEnable_ || state_ == PacketState::Idle)) Rearm();
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
    matchIgnoreCase_ = ignoreCase_;
    if (startCond_ == PacketStartCond::scString) {
        LogData(LogSubKind::StartStr, startString_.data(), startString_.size());
        if (startString_.empty()) comm::RaiseError(ecStartStringEmpty);
        if (endCond_.Contains(PacketEndCond::ecPacketSize) &&
            static_cast<int64_t>(startString_.size()) > packetSize_) {
            comm::RaiseError(ecPacketTooSmall);
        }
        start_ = PreparePattern(startString_, ignoreCase_);
        // A lone backslash leaves nothing to match.
        if (start_.Pattern.empty()) comm::RaiseError(ecStartStringEmpty);
        SetState(PacketState::Waiting);
    } else {
        if (endCond_.Empty()) comm::RaiseError(ecNoEndCharCount);
        if (manager_->CurrentPacket() && manager_->CurrentPacket() != this) {
            pendingStart_ = true;
        } else {
            SetState(PacketState::Collecting);
        }
    }
    if (endCond_.Contains(PacketEndCond::ecString)) {
        if (endString_.empty()) comm::RaiseError(ecEmptyEndString);
        LogData(LogSubKind::EndStr, endString_.data(), endString_.size());
        end_ = PreparePattern(endString_, ignoreCase_);
        if (end_.Pattern.empty()) comm::RaiseError(ecEmptyEndString);
    }
    if (endCond_.Contains(PacketEndCond::ecPacketSize) && packetSize_ == 0) comm::RaiseError(ecZeroSizePacket);
    effectiveSize_ = packetSize_;
    startIndex_ = 1;
    matchStart_ = -1;
    endIndex_ = 1;
}

void DataPacket::Rearm() {
    Disarm();
    if (!enabled_ || !manager_ || !manager_->Enabled()) return;
    try {
        EnableOrDefer();
    } catch (const std::exception& e) {
        platform::ShowExceptionReport(e.what());
    }
}

void DataPacket::Disarm() {
    if (state_ == PacketState::Idle && !pendingStart_ && !pendingEnable_) return;
    pendingStart_ = false;
    pendingEnable_ = false;
    SetState(PacketState::Idle);
    Log(LogSubKind::Disable);
}

void DataPacket::SetState(PacketState state) {
    if (state == state_) return;
    const PacketState old = state_;
    state_ = state;
    Log(StateSubKind(state));
    if (!manager_) return;
    if (state == PacketState::Collecting) {
        manager_->BeginCollecting(*this);
    } else if (old == PacketState::Collecting) {
        manager_->EndCollecting(*this);
    }
}

// Scanning --------------------------------------------------------------------------------

DataPacket::StartStep DataPacket::StepStart(int& p, int& startIndex, int& matchStart, uint8_t c) const {
    if (PatternMatches(start_, startIndex, c, matchIgnoreCase_)) {
        if (matchStart == -1) matchStart = p;
        if (startIndex == static_cast<int>(start_.Pattern.size())) return StartStep::Complete;
        ++startIndex;
        return StartStep::Advance;
    }
    if (matchStart != -1) {
        // Resume one byte after the abandoned partial match.
        p = matchStart + 1;
        startIndex = 1;
        matchStart = -1;
        return StartStep::Retry;
    }
    return StartStep::Advance;
}

int DataPacket::FirstClaim(int p) const {
    if (!enabled_ || !manager_) return -1;
    const int used = manager_->used_;
    if (state_ == PacketState::Idle) return (pendingStart_ && p < used) ? p : -1;
    if (state_ != PacketState::Waiting) return -1;
    int startIndex = startIndex_;
    int matchStart = matchStart_;
    while (p < used) {
        const StartStep step = StepStart(p, startIndex, matchStart, manager_->buffer_[static_cast<size_t>(p)]);
        if (step == StartStep::Complete) return p;
        if (step == StartStep::Advance) ++p;
    }
    return -1;
}

void DataPacket::Scan(int p) {
    if (!enabled_ || !manager_) return;
    DataPacketManager& m = *manager_;
    while (p < m.used_) {
        if (state_ == PacketState::Idle) {
            if (!pendingStart_) return;
            pendingStart_ = false;
            SetState(PacketState::Collecting);
        }
        const uint8_t c = m.buffer_[static_cast<size_t>(p)];
        if (state_ == PacketState::Collecting) {
            if (matchStart_ == -1) matchStart_ = p;
            if (endCond_.Contains(PacketEndCond::ecPacketSize) && p - matchStart_ + 1 >= effectiveSize_) {
                packetLength_ = p - matchStart_ + 1;
                Complete(false);
                return;
            }
            if (endCond_.Contains(PacketEndCond::ecString)) {
                if (PatternMatches(end_, endIndex_, c, matchIgnoreCase_)) {
                    if (endIndex_ == static_cast<int>(end_.Pattern.size())) {
                        packetLength_ = p - matchStart_ + 1;
                        Complete(true);
                        return;
                    }
                    ++endIndex_;
                } else if (endIndex_ > 1) {
                    // The end string may begin one byte after the abandoned partial match.
                    p = p - endIndex_ + 2;
                    endIndex_ = 1;
                    continue;
                }
            }
        } else if (state_ == PacketState::Waiting) {
            const StartStep step = StepStart(p, startIndex_, matchStart_, c);
            if (step == StartStep::Retry) continue;
            if (step == StartStep::Complete) {
                if (endCond_.Empty()) {
                    packetLength_ = p - matchStart_ + 1;
                    Complete(false);
                    return;
                }
                SetState(PacketState::Collecting);
            }
        }
        if (m.used_ == 0) return;
        ++p;
    }
}

// Delivery --------------------------------------------------------------------------------

void DataPacket::Complete(bool stringPacket) {
    DataPacketManager& m = *manager_;
    m.SetInEvent(true);
    enabled_ = false;
    const int n = packetLength_;
    const int consumed = matchStart_ + n;
    packetEnd_ = m.streamEnd_ - static_cast<uint64_t>(m.used_) + static_cast<uint64_t>(consumed);
    int offset = matchStart_;
    int length = n;
    if (startCond_ == PacketStartCond::scString && !includeStrings_) {
        offset += static_cast<int>(start_.Pattern.size());
        length -= static_cast<int>(start_.Pattern.size());
    }
    if (stringPacket && !includeStrings_) length -= static_cast<int>(end_.Pattern.size());
    if (length < 0) length = 0;
    // The handlers get a copy: the buffer may change while they run on the GUI thread.
    const std::string data(reinterpret_cast<const char*>(m.buffer_.data()) + offset, static_cast<size_t>(length));
    Log(LogSubKind::StringPacket);
    LogData(stringPacket ? LogSubKind::StringPacket : LogSubKind::SizePacket, data.data(), data.size());
    const bool stillHere = m.RunEvent(*this, syncEvents_, [this, &data] {
        RaiseEvent([this, &data] {
            if (OnPacket) OnPacket(*this, data.data(), static_cast<int32_t>(data.size()));
            if (OnStringPacket) OnStringPacket(*this, data);
        });
    });
    m.Remove(consumed);
    if (stillHere && autoEnable_) SetEnabled(true);
    // The bytes after the packet are searched afresh by every packet.
    m.dataPending_ = true;
    m.pendingStartIndex_ = 0;
    ++m.generation_;
    m.SetInEvent(false);
}

void DataPacket::RaiseEvent(const std::function<void()>& handlers) {
    try {
        handlers();
    } catch (const std::exception& e) {
        platform::ShowExceptionReport(e.what());
    } catch (...) {
        platform::ShowExceptionReport("Unknown exception in a data packet event handler");
    }
}

void DataPacket::Log(LogSubKind sub) {
    const std::string text = "Packet:" + name_;
    LogData(sub, text.data(), text.size());
}

void DataPacket::LogData(LogSubKind sub, const void* bytes, size_t length) {
    if (manager_) manager_->Log(sub, bytes, static_cast<uint32_t>(length));
}

}  // namespace hydrix::packet
