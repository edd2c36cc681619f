#include "packet/packet_manager.h"

#include <algorithm>
#include <cstring>

#include "comm/dispatcher.h"
#include "comm/exceptions.h"
#include "packet/data_packet.h"
#include "platform/dialogs.h"

namespace hydrix::packet {

using comm::LogSubKind;

DataPacketManager::Lock::Lock(const DataPacketManager* manager)
    : Lock(manager ? manager->shared_ : std::shared_ptr<Shared>()) {}

DataPacketManager::Lock::Lock(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {
    if (!shared_) return;
    shared_->mutex.lock();
    ++shared_->depth;
}

DataPacketManager::Lock::~Lock() {
    if (!shared_) return;
    --shared_->depth;
    shared_->mutex.unlock();
}

DataPacketManager::DataPacketManager() : shared_(std::make_shared<Lock::Shared>()) {
    shared_->manager = this;
}

void DataPacketManager::AddPacket(DataPacket& packet) {
    if (packet.manager_ == this) return;
    if (packet.manager_) packet.manager_->RemovePacket(packet);
    Lock lock(this);
    packets_.push_back(&packet);
    packet.manager_ = this;
    if (packet.enabled_ && enabled_) packet.Rearm();
}

void DataPacketManager::RemovePacket(DataPacket& packet) {
    bool empty;
    {
        Lock lock(this);
        auto it = std::find(packets_.begin(), packets_.end(), &packet);
        if (it == packets_.end()) return;
        // A packet leaving while collecting must not stay the current packet.
        packet.Disarm();
        if (&packet == eventPacket_) eventPacketGone_ = true;
        packets_.erase(std::find(packets_.begin(), packets_.end(), &packet));
        packet.manager_ = nullptr;
        empty = packets_.empty();
    }
    if (empty && !destroying_ && port_) FreeLater();
}

// Receiving and scanning -------------------------------------------------------------------

uint8_t* DataPacketManager::Reserve(int count) {
    if (used_ + count >= static_cast<int>(buffer_.size())) {
        size_t capacity = buffer_.size() + kPacketBufferStep;
        while (static_cast<size_t>(used_ + count) >= capacity) capacity += kPacketBufferStep;
        buffer_.resize(capacity);
    }
    return buffer_.data() + used_;
}

void DataPacketManager::BytesReceived(const void* data, int count) {
    Lock lock(this);
    if (count <= 0) return;
    const int from = used_;
    std::memcpy(Reserve(count), data, static_cast<size_t>(count));
    used_ += count;
    streamEnd_ += static_cast<uint64_t>(count);
    Scan(from);
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
    if (used_ == 0) return;
    if (current_) {
        current_->Scan(from);
        return;
    }
    // The packet whose start completes earliest in the stream claims the buffer (list
    // order breaks ties), so that reports are delivered in the order they were sent.
    DataPacket* winner = nullptr;
    int best = 0;
    for (DataPacket* packet : packets_) {
        const int at = packet->FirstClaim(from);
        if (at >= 0 && (!winner || at < best)) {
            winner = packet;
            best = at;
        }
    }
    if (winner) {
        winner->Scan(from);
        return;
    }
    const uint64_t generation = generation_;
    const std::vector<DataPacket*> packets = packets_;
    for (DataPacket* packet : packets) {
        if (std::find(packets_.begin(), packets_.end(), packet) == packets_.end()) continue;
        packet->Scan(from);
        if (generation_ != generation || current_ || used_ == 0) return;
    }
    // Bytes that no packet has begun to match are of no further use.
    if (!AnyPartialMatch()) {
        std::vector<uint8_t>().swap(buffer_);
        used_ = 0;
    }
}

bool DataPacketManager::AnyPartialMatch() const {
    return std::any_of(packets_.begin(), packets_.end(), [](const DataPacket* p) {
        return p->enabled_ && p->state_ != PacketState::Idle && p->matchStart_ != -1;
    });
}

void DataPacketManager::Remove(int count) {
    count = std::clamp(count, 0, used_);
    if (count == 0) return;
    std::memmove(buffer_.data(), buffer_.data() + count, static_cast<size_t>(used_ - count));
    used_ -= count;
    if (used_ == 0) std::vector<uint8_t>().swap(buffer_);
    const std::vector<DataPacket*> packets = packets_;
    for (DataPacket* packet : packets) {
        if (std::find(packets_.begin(), packets_.end(), packet) == packets_.end()) continue;
        if (!packet->enabled_ || packet->state_ == PacketState::Idle || packet->matchStart_ < 0) continue;
        if (packet->matchStart_ < count) {
            packet->Rearm();
        } else {
            packet->matchStart_ -= count;
        }
    }
}

void DataPacketManager::SetInEvent(bool value) {
    const std::vector<DataPacket*> packets = packets_;
    if (value) {
        inEvent_ = true;
        for (DataPacket* packet : packets) packet->Disarm();
        return;
    }
    inEvent_ = false;
    for (DataPacket* packet : packets) {
        if (std::find(packets_.begin(), packets_.end(), packet) == packets_.end()) continue;
        if (packet->enabled_) packet->Rearm();
    }
    if (dataPending_) {
        dataPending_ = false;
        Scan(pendingStartIndex_);
    }
}

// Collecting and the time-out --------------------------------------------------------------

void DataPacketManager::BeginCollecting(DataPacket& packet) {
    current_ = &packet;
    if (packet.timeOut_ != 0) {
        timerArmedTicks_ = packet.timeOut_;
        if (dispatcher_ && timerHandle_ > 0) dispatcher_->ArmTimerTrigger(timerHandle_, packet.timeOut_, true);
    }
    // Partial matches of the others are dropped: this packet owns the buffer now.
    const std::vector<DataPacket*> packets = packets_;
    for (DataPacket* other : packets) {
        if (other != &packet) other->Rearm();
    }
}

void DataPacketManager::EndCollecting(DataPacket& packet) {
    DisarmTimer();
    if (current_ == &packet) current_ = nullptr;
    Scan(0);
}

void DataPacketManager::DisarmTimer() {
    timerArmedTicks_ = 0;
    if (dispatcher_ && timerHandle_ > 0) comm::CheckError(nullptr, dispatcher_->ArmTimerTrigger(timerHandle_, 0, false));
}

void DataPacketManager::TimerExpired() {
    Lock lock(this);
    DataPacket* packet = current_;
    if (!packet) return;
    timerArmedTicks_ = 0;
    SetInEvent(true);
    packet->Log(LogSubKind::PcktTimeout);
    packet->enabled_ = false;
    const bool flush = packet->flushOnTimeout_;
    RunEvent(*packet, packet->syncEvents_, [packet] {
        packet->RaiseEvent([packet] {
            if (packet->OnTimeout) packet->OnTimeout(*packet);
        });
    });
    if (flush) Remove(used_);
    ++generation_;
    SetInEvent(false);
}

bool DataPacketManager::RunEvent(DataPacket& packet, bool sync, const std::function<void()>& fn) {
    const bool onGuiThread = sync && HasDispatcherThread();
    eventPacket_ = &packet;
    eventPacketGone_ = false;
    // The lock is let go while the event runs: the GUI thread may write properties then,
    // and the dispatcher thread waits for it.
    const std::shared_ptr<Lock::Shared> shared = shared_;
    const int depth = shared->depth;
    shared->depth = 0;
    for (int i = 0; i < depth; ++i) shared->mutex.unlock();
    struct Relock {
        Lock::Shared& s;
        int depth;
        ~Relock() {
            for (int i = 0; i < depth; ++i) s.mutex.lock();
            s.depth = depth;
        }
    };
    {
        Relock relock{*shared, depth};
        if (onGuiThread) {
            comm::BaseDispatcher::RunOnGuiThread(fn);
        } else {
            fn();
        }
    }
    const bool stillHere = !eventPacketGone_;
    eventPacket_ = nullptr;
    eventPacketGone_ = false;
    return stillHere;
}

bool DataPacketManager::HasDispatcherThread() const {
    return dispatcher_ && dispatcher_->DispThreadObject() != nullptr;
}

void DataPacketManager::Log(LogSubKind sub, const void* bytes, uint32_t length) {
    if (dispatcher_) dispatcher_->AddLogEntry(static_cast<uint8_t>(comm::LogKind::Packet), static_cast<uint8_t>(sub), 0, bytes, length);
}

}  // namespace hydrix::packet
