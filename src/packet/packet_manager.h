// The packet manager of one com port: it reads the bytes the port's dispatcher offers
// into a buffer of its own, feeds them to its packets' matchers, hands the buffer to the
// packet that claims it, delivers completed packets, removes consumed bytes and runs the
// collection time-out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "comm/dispatch_log.h"
#include "comm/dispatcher_hook.h"
#include "packet/data_packet.h"
#include "platform/message_loop.h"

namespace hydrix::comm {
class BaseDispatcher;
class CustomComPort;
}  // namespace hydrix::comm

namespace hydrix::packet {

class DataPacketManagerList;

// Posted to the manager's own window to free it once its last packet has left.
constexpr uint32_t ManagerFreeMessage = 45089;
// The buffer grows in steps of this many bytes.
constexpr int kPacketBufferStep = 8192;
// A packet collecting past this many bytes (or past its own size, when larger) ends as a
// time-out does: an end that never comes must not hold every byte the line carries.
constexpr int kPacketCollectLimit = 1 << 20;

class DataPacketManager {
public:
    // A manager bound to no port, fed through BytesReceived and TimerExpired.
    DataPacketManager();
    ~DataPacketManager();
    DataPacketManager(const DataPacketManager&) = delete;
    DataPacketManager& operator=(const DataPacketManager&) = delete;

    comm::CustomComPort* Port() const { return port_; }
    bool Enabled() const { return enabled_; }
    // Attaches to the port's dispatcher (when there is one) and re-arms every packet
    // whose Enabled is true: the port has opened.
    void Enable();
    // Disarms every packet, detaches from the dispatcher and frees the buffer: the port
    // is closing or closed.
    void Disable();

    // Appends the packet to the list (SetComPort does this for a port's packets).
    void AddPacket(DataPacket& packet);
    // Removes it. A port's manager left empty lets go of the port at once and is freed
    // through ManagerFreeMessage.
    void RemovePacket(DataPacket& packet);
    const std::vector<DataPacket*>& Packets() const { return packets_; }
    DataPacket* CurrentPacket() const { return current_; }
    bool InEvent() const { return inEvent_; }

    // Received bytes: appended to the buffer and scanned (the availability handler reads
    // them from the dispatcher and comes here).
    void BytesReceived(const void* data, int count);
    // The manager's timer fired: a time-out of the collecting packet, if any.
    void TimerExpired();
    // Ticks the timer was last armed with while it is armed, else 0.
    int32_t TimerArmedTicks() const { return timerArmedTicks_; }

    int BufferUsed() const { return used_; }
    int BufferCapacity() const { return static_cast<int>(buffer_.size()); }

    // An entry of the packet kind in the port's dispatch log.
    void Log(comm::LogSubKind sub, const void* bytes, uint32_t length);

    // Serialises the dispatcher thread's handler and the GUI thread's property writes.
    // Every way into the manager takes it once, so that delivering an event can let go
    // of it entirely: GUI code may touch the packets while the event runs.
    class Lock {
    public:
        // Outlives the manager: handlers still held by a port or dispatcher find it cleared.
        // Its place in the lock order: see BaseDispatcher's locks.
        // Recursive only so that code run by a nested message loop (a message box shown
        // while it is held) cannot block its own thread.
        struct Shared {
            std::recursive_mutex mutex;
            // Holds by the owning thread; changed only under the mutex.
            int depth = 0;
            DataPacketManager* manager = nullptr;
        };

        // No manager: no lock.
        explicit Lock(const DataPacketManager* manager);
        explicit Lock(std::shared_ptr<Shared> shared);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

        // Lets go of every hold the calling thread has (it must have one) for its own
        // lifetime and takes them all back after: the dispatcher thread can then wait for
        // the GUI thread however deep its way in nested the lock.
        class Released {
        public:
            explicit Released(Shared& shared);
            ~Released();
            Released(const Released&) = delete;
            Released& operator=(const Released&) = delete;

        private:
            Shared& shared_;
            int depth_;
        };

    private:
        std::shared_ptr<Shared> shared_;
    };

private:
    friend class DataPacketManagerList;
    // A packet's state change starts or ends its hold on the buffer.
    friend void DataPacket::SetState(PacketState state);

    // A manager for port: registers its port callback and is enabled at once when the
    // port is open and not loading. Made by PacketManagers().
    explicit DataPacketManager(comm::CustomComPort* port);

    // The public operations once the lock is held.
    void EnableLocked();
    void DisableLocked();
    void Notify(uint32_t msg, uint32_t triggerHandle);
    // overflowed: the packet grew past its collect limit (else its timer fired).
    void TimeOut(bool overflowed = false);
    // The collecting packet has grown past its limit: it times out at once.
    void CheckCollectLimit();

    // Scanning: feeds the packets the buffer from index from, and then from wherever a
    // completion asks for a scan afresh.
    void Scan(int from);
    void ScanOnce(int from);
    // The packet that claims the buffer scanning from index from, or none.
    DataPacket* Claimant(int from) const;
    int ClaimAt(const DataPacket& packet, int from) const;
    // Feeds the packet the buffer from index from until it needs more bytes or completes.
    void Follow(DataPacket& packet, int from);
    bool AnyPartialMatch() const;
    std::span<const uint8_t> Bytes() const { return {buffer_.data(), static_cast<size_t>(used_)}; }
    uint8_t* Reserve(int count);
    // The bytes from index from on have been appended (got of them).
    void Appended(int from, int got);
    // Drops the first count bytes.
    void Remove(int count);
    void FreeBuffer();

    // Delivery: every packet is disarmed while an event runs and re-armed after it.
    void Complete(DataPacket& packet, const MatchResult& end);
    void BeginEvent();
    void EndEvent();
    // Runs the handlers of packet's event, on the GUI thread when the packet asks for it
    // and the port has a dispatcher thread, with the lock let go meanwhile. Whatever they
    // throw is reported. False when the packet was destroyed while they ran.
    bool RunEvent(DataPacket& packet, const std::function<void()>& handlers);
    // Re-arms every enabled packet but except. Re-arming may scan, and so run events, or
    // report an enabling error: a packet that leaves the list meanwhile is skipped.
    void RearmPackets(const DataPacket* except = nullptr);

    void BeginCollecting(DataPacket& packet);
    void EndCollecting(DataPacket& packet);
    void DisarmTimer();

    bool HasDispatcherThread() const;
    void Attach();
    void Detach();
    // Disables and deregisters: nothing of the port is touched afterwards.
    void LeavePort();
    // The port is being destroyed: its packets forget it and this manager frees itself.
    void PortRemovedLocked();
    // Every packet leaves, holding neither this manager nor the port.
    void ReleasePackets();
    void PostFree();
    platform::LResult WindowProc(uint32_t msg, platform::WParam w, platform::LParam l);

    std::shared_ptr<Lock::Shared> shared_;
    comm::CustomComPort* port_ = nullptr;
    // The handler on the port's dispatcher; its dispatcher is the one this manager uses.
    comm::DispatcherHook hook_{this};
    std::vector<DataPacket*> packets_;
    bool enabled_ = false;
    std::vector<uint8_t> buffer_;
    int used_ = 0;
    // The place in the port's received stream (bytes since it opened) just past the
    // buffer's last byte.
    uint64_t streamEnd_ = 0;
    DataPacket* current_ = nullptr;
    int timerHandle_ = 0;
    int32_t timerArmedTicks_ = 0;
    bool inEvent_ = false;
    bool dataPending_ = false;
    int pendingStartIndex_ = 0;
    bool destroying_ = false;
    bool scanning_ = false;
    // The packet whose event is running, and whether it was destroyed meanwhile.
    DataPacket* eventPacket_ = nullptr;
    bool eventPacketGone_ = false;
    platform::WindowHandle window_ = 0;
};

}  // namespace hydrix::packet
