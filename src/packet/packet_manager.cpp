#include "packet/packet_manager.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "comm/dispatcher.h"
#include "comm/exceptions.h"
#include "platform/dialogs.h"

namespace hydrix::packet {

using comm::LogSubKind;

DataPacketManager::Lock::Lock(const DataPacketManager* manager)
    : Lock(manager ? manager->shared_ : std::shared_ptr<Shared>()) {}

DataPacketManager::Lock::Lock(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {
    if (shared_) {
        shared_->mutex.lock();
        ++shared_->depth;
    }
}

DataPacketManager::Lock::~Lock() {
    if (shared_) {
        --shared_->depth;
        shared_->mutex.unlock();
    }
}

DataPacketManager::Lock::Released::Released(Shared& shared) : shared_(shared), depth_(shared.depth) {
    shared_.depth = 0;
    for (int i = 0; i < depth_; ++i) {
        shared_.mutex.unlock();
    }
}

DataPacketManager::Lock::Released::~Released() {
    for (int i = 0; i < depth_; ++i) {
        shared_.mutex.lock();
    }
    shared_.depth = depth_;
}

DataPacketManager::DataPacketManager() : shared_(std::make_shared<Lock::Shared>()) {
    shared_->manager = this;
}

void DataPacketManager::AddPacket(DataPacket& packet) {
    if (packet.manager_ == this) {
        return;
    }
    if (packet.manager_) {
        packet.manager_->RemovePacket(packet);
    }
    Lock lock(this);
    packets_.push_back(&packet);
    packet.manager_ = this;
    if (packet.enabled_ && enabled_) {
        packet.Rearm();
    }
}

void DataPacketManager::RemovePacket(DataPacket& packet) {
    Lock lock(this);
    if (std::ranges::find(packets_, &packet) == packets_.end()) {
        return;
    }
    // A packet leaving while collecting must not stay the current packet.
    packet.Disarm();
    if (&packet == eventPacket_) {
        eventPacketGone_ = true;
    }
    // Disarming may have rescanned and run events that changed the list.
    std::erase(packets_, &packet);
    packet.manager_ = nullptr;
    if (!packets_.empty() || destroying_ || !port_) {
        return;
    }
    // While an event runs the manager is still in use; its message lets go of the port.
    if (!inEvent_) {
        LeavePort();
    }
    PostFree();
}

// Receiving and scanning -------------------------------------------------------------------

uint8_t* DataPacketManager::Reserve(int count) {
    if (used_ + count >= static_cast<int>(buffer_.size())) {
        size_t capacity = buffer_.size() + kPacketBufferStep;
        while (static_cast<size_t>(used_ + count) >= capacity) {
            capacity += kPacketBufferStep;
        }
        buffer_.resize(capacity);
    }
    return buffer_.data() + used_;
}

void DataPacketManager::BytesReceived(const void* data, int count) {
    Lock lock(this);
    if (count <= 0) {
        return;
    }
    const int from = used_;
    std::memcpy(Reserve(count), data, static_cast<size_t>(count));
    Appended(from, count);
}

void DataPacketManager::Appended(int from, int got) {
    if (got > 0) {
        used_ += got;
        streamEnd_ += static_cast<uint64_t>(got);
    }
    Scan(from);
    CheckCollectLimit();
}

void DataPacketManager::CheckCollectLimit() {
    DataPacket* packet = current_;
    if (!packet || inEvent_ || packet->state_ != PacketState::Collecting) {
        return;
    }
    const int64_t held = used_ - std::max(packet->matcher_.MatchStart(), 0);
    const int64_t own = static_cast<int64_t>(packet->packetSize_) + packet->matcher_.StartLength();
    if (held > std::max<int64_t>(kPacketCollectLimit, own)) {
        TimeOut(true);
    }
}

void DataPacketManager::Scan(int from) {
    if (inEvent_ || scanning_) {
        pendingStartIndex_ = from;
        dataPending_ = true;
        return;
    }
    // A completion asks for a scan afresh; running it here rather than inside the
    // completion keeps the stack flat however many packets one read holds.
    scanning_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{scanning_};
    ScanOnce(from);
    while (dataPending_ && !inEvent_) {
        dataPending_ = false;
        ScanOnce(pendingStartIndex_);
    }
}

void DataPacketManager::ScanOnce(int from) {
    if (used_ == 0) {
        return;
    }
    if (current_) {
        Follow(*current_, from);
        return;
    }
    if (DataPacket* claimant = Claimant(from)) {
        Follow(*claimant, from);
        return;
    }
    // No start string completes in these bytes: the partial matches move on.
    for (DataPacket* packet : packets_) {
        if (packet->enabled_ && packet->state_ == PacketState::Waiting) {
            static_cast<void>(packet->matcher_.Seek(Bytes(), from));
        }
    }
    // Bytes that no packet has begun to match are of no further use.
    if (!AnyPartialMatch()) {
        FreeBuffer();
    }
}

DataPacket* DataPacketManager::Claimant(int from) const {
    // The packet whose start completes earliest in the stream claims the buffer, so that
    // reports are delivered in the order they were sent; on the same byte the packet
    // first in the list keeps the claim.
    DataPacket* claimant = nullptr;
    int earliest = 0;
    for (DataPacket* packet : packets_) {
        const int at = ClaimAt(*packet, from);
        if (at >= 0 && (!claimant || at < earliest)) {
            claimant = packet;
            earliest = at;
        }
    }
    return claimant;
}

int DataPacketManager::ClaimAt(const DataPacket& packet, int from) const {
    if (!packet.enabled_) {
        return -1;
    }
    switch (packet.state_.load()) {
    case PacketState::Idle:
        return (packet.pendingStart_ && from < used_) ? from : -1;
    case PacketState::Waiting:
        return packet.matcher_.SeekAnswerAt(Bytes(), from);
    case PacketState::Collecting:
        break;
    }
    return -1;
}

void DataPacketManager::Follow(DataPacket& packet, int from) {
    if (!packet.enabled_ || from >= used_) {
        return;
    }
    if (packet.state_ == PacketState::Idle) {
        if (!packet.pendingStart_) {
            return;
        }
        packet.pendingStart_ = false;
        packet.SetState(PacketState::Collecting);
    }
    if (packet.state_ == PacketState::Waiting) {
        const MatchResult start = packet.matcher_.Seek(Bytes(), from);
        if (start.Answer == MatchAnswer::Nothing) {
            return;
        }
        if (start.Answer == MatchAnswer::Completes) {
            Complete(packet, start);
            return;
        }
        packet.SetState(PacketState::Collecting);
        if (used_ == 0) {
            return;
        }
        from = start.At + 1;
    }
    const MatchResult end = packet.matcher_.Collect(Bytes(), from);
    if (end.Answer == MatchAnswer::Completes) {
        Complete(packet, end);
    }
}

bool DataPacketManager::AnyPartialMatch() const {
    return std::ranges::any_of(packets_, [](const DataPacket* p) {
        return p->enabled_ && p->state_ != PacketState::Idle && p->matcher_.MatchStart() != -1;
    });
}

void DataPacketManager::Remove(int count) {
    // Only while an event runs: every packet is disarmed then and searches the buffer
    // afresh afterwards, so no match refers to the removed bytes.
    count = std::clamp(count, 0, used_);
    if (count == 0) {
        return;
    }
    std::memmove(buffer_.data(), buffer_.data() + count, static_cast<size_t>(used_ - count));
    used_ -= count;
    if (used_ == 0) {
        FreeBuffer();
    }
}

void DataPacketManager::FreeBuffer() {
    std::vector<uint8_t>().swap(buffer_);
    used_ = 0;
}

// Delivery -------------------------------------------------------------------------------

void DataPacketManager::Complete(DataPacket& packet, const MatchResult& end) {
    const int first = packet.matcher_.MatchStart();
    // Everything up to the packet's last byte goes, bytes no packet claimed included.
    const int consumed = end.At + 1;
    BeginEvent();
    packet.enabled_ = false;
    packet.packetEnd_ = streamEnd_ - static_cast<uint64_t>(used_) + static_cast<uint64_t>(consumed);
    int offset = first;
    int length = consumed - first;
    if (packet.startCond_ == PacketStartCond::scString && !packet.includeStrings_) {
        offset += packet.matcher_.StartLength();
        length -= packet.matcher_.StartLength();
    }
    if (end.ByEndString && !packet.includeStrings_) {
        length -= packet.matcher_.EndLength();
    }
    // The handlers get a copy: the buffer may change while they run on the GUI thread.
    const std::string data(reinterpret_cast<const char*>(buffer_.data()) + offset,
                           static_cast<size_t>(std::max(length, 0)));
    packet.Log(LogSubKind::StringPacket);
    packet.LogData(end.ByEndString ? LogSubKind::StringPacket : LogSubKind::SizePacket, data.data(), data.size());
    const bool stillHere = RunEvent(packet, [&packet, &data] {
        if (packet.OnPacket) {
            packet.OnPacket(packet, data.data(), static_cast<int32_t>(data.size()));
        }
        if (packet.OnStringPacket) {
            packet.OnStringPacket(packet, data);
        }
    });
    Remove(consumed);
    if (stillHere && packet.autoEnable_) {
        packet.ApplyEnabled(true);
    }
    // The bytes after the packet are searched afresh by every packet.
    dataPending_ = true;
    pendingStartIndex_ = 0;
    EndEvent();
}

void DataPacketManager::TimeOut(bool overflowed) {
    DataPacket* packet = current_;
    if (!packet) {
        return;
    }
    packet->overflowed_ = overflowed;
    timerArmedTicks_ = 0;
    BeginEvent();
    packet->Log(LogSubKind::PcktTimeout);
    packet->enabled_ = false;
    const bool flush = packet->flushOnTimeout_;
    RunEvent(*packet, [packet] {
        if (packet->OnTimeout) {
            packet->OnTimeout(*packet);
        }
    });
    if (flush) {
        Remove(used_);
    }
    EndEvent();
}

void DataPacketManager::TimerExpired() {
    Lock lock(this);
    TimeOut();
}

void DataPacketManager::BeginEvent() {
    inEvent_ = true;
    for (DataPacket* packet : packets_) {
        packet->Disarm();
    }
}

void DataPacketManager::EndEvent() {
    inEvent_ = false;
    RearmPackets();
    if (dataPending_) {
        dataPending_ = false;
        Scan(pendingStartIndex_);
    }
}

void DataPacketManager::RearmPackets(const DataPacket* except) {
    const std::vector<DataPacket*> packets = packets_;
    for (DataPacket* packet : packets) {
        if (packet == except || std::ranges::find(packets_, packet) == packets_.end()) {
            continue;
        }
        if (packet->enabled_) {
            packet->Rearm();
        }
    }
}

bool DataPacketManager::RunEvent(DataPacket& packet, const std::function<void()>& handlers) {
    const bool onGuiThread = packet.syncEvents_ && HasDispatcherThread();
    eventPacket_ = &packet;
    eventPacketGone_ = false;
    const auto reported = [&handlers] {
        try {
            handlers();
        } catch (const std::exception& e) {
            platform::ShowExceptionReport(e.what());
        } catch (...) {
            platform::ShowExceptionReport("Unknown exception in a data packet event handler");
        }
    };
    {
        // Free while the handlers run: the dispatcher thread waits for the GUI thread.
        Lock::Released released(*shared_);
        if (onGuiThread) {
            comm::BaseDispatcher::RunOnGuiThread(reported);
        } else {
            reported();
        }
    }
    const bool stillHere = !eventPacketGone_;
    eventPacket_ = nullptr;
    eventPacketGone_ = false;
    return stillHere;
}

// Collecting and the timer -----------------------------------------------------------------

void DataPacketManager::BeginCollecting(DataPacket& packet) {
    current_ = &packet;
    if (packet.timeOut_ != 0) {
        timerArmedTicks_ = packet.timeOut_;
        if (comm::BaseDispatcher* dispatcher = hook_.Dispatcher(); dispatcher && timerHandle_ > 0) {
            dispatcher->ArmTimerTrigger(timerHandle_, packet.timeOut_, true);
        }
    }
    // Partial matches of the others are dropped: this packet owns the buffer now.
    RearmPackets(&packet);
}

void DataPacketManager::EndCollecting(DataPacket& packet) {
    DisarmTimer();
    if (current_ == &packet) {
        current_ = nullptr;
    }
    Scan(0);
}

void DataPacketManager::DisarmTimer() {
    timerArmedTicks_ = 0;
    if (comm::BaseDispatcher* dispatcher = hook_.Dispatcher(); dispatcher && timerHandle_ > 0) {
        comm::CheckError(nullptr, dispatcher->ArmTimerTrigger(timerHandle_, 0, false));
    }
}

bool DataPacketManager::HasDispatcherThread() const {
    comm::BaseDispatcher* dispatcher = hook_.Dispatcher();
    return dispatcher && dispatcher->DispThreadObject() != nullptr;
}

void DataPacketManager::Log(LogSubKind sub, const void* bytes, uint32_t length) {
    if (comm::BaseDispatcher* dispatcher = hook_.Dispatcher()) {
        dispatcher->Recorders().Log(comm::LogKind::Packet, sub, 0, bytes, length);
    }
}

}  // namespace hydrix::packet
