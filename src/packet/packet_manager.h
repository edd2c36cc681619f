// The packet manager of one com port: it reads the bytes the port's dispatcher offers
// into a buffer of its own, lets its packets scan them, hands the buffer to the packet
// that is collecting, removes consumed bytes and runs the collection time-out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "comm/dispatch_log.h"
#include "platform/message_loop.h"

namespace hydrix::comm {
class BaseDispatcher;
class CustomComPort;
}  // namespace hydrix::comm

namespace hydrix::packet {

class DataPacket;

// Posted to the manager's own window to free it once its last packet has left.
constexpr uint32_t ManagerFreeMessage = 45089;
// The buffer grows in steps of this many bytes.
constexpr int kPacketBufferStep = 8192;

class DataPacketManager {
public:
    // A manager for port: registers its port callback, joins PacketManagers and is
    // enabled at once when the port is open and not loading.
    explicit DataPacketManager(comm::CustomComPort* port);
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
    // Removes it; a port's manager left empty frees itself through ManagerFreeMessage.
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
    int TimerHandle() const { return timerHandle_; }
    // The handler attached to the dispatcher: 32257 and this manager's 32259.
    void HandleNotification(uint32_t msg, uint32_t triggerHandle, int32_t data);

    int BufferUsed() const { return used_; }
    // The place in the port's received stream (bytes since it opened) just past the
    // buffer's last byte.
    uint64_t StreamEnd() const { return streamEnd_; }
    int BufferCapacity() const { return static_cast<int>(buffer_.size()); }
    const uint8_t* Buffer() const { return buffer_.data(); }

    // Serialises the dispatcher thread's handler and the GUI thread's property writes.
    // It is released while an event runs, so that GUI code may touch the packets then.
    class Lock {
    public:
        // Outlives the manager: handlers still held by a port or dispatcher find it cleared.
        struct Shared {
            std::recursive_mutex mutex;
            int depth = 0;  // holds of the owning thread; changed only while held
            DataPacketManager* manager = nullptr;
        };

        // No manager: no lock.
        explicit Lock(const DataPacketManager* manager);
        explicit Lock(std::shared_ptr<Shared> shared);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        std::shared_ptr<Shared> shared_;
    };

private:
    friend class DataPacket;

    void Scan(int from);
    // Drops the first count bytes; packets whose match began there are re-armed.
    void Remove(int count);
    void SetInEvent(bool value);
    void BeginCollecting(DataPacket& packet);
    void EndCollecting(DataPacket& packet);
    void DisarmTimer();
    void Log(comm::LogSubKind sub, const void* bytes, uint32_t length);
    // Runs fn, an event of packet, on the GUI thread (sync) or here, with the lock
    // released meanwhile. False when the packet was destroyed while it ran.
    bool RunEvent(DataPacket& packet, bool sync, const std::function<void()>& fn);
    // One pass over the buffer from index from.
    void ScanOnce(int from);
    bool HasDispatcherThread() const;
    uint8_t* Reserve(int count);
    void Attach();
    void Detach();
    void FreeLater();
    platform::LResult WindowProc(uint32_t msg, platform::WParam w, platform::LParam l);
    bool AnyPartialMatch() const;

    std::shared_ptr<Lock::Shared> shared_;
    comm::CustomComPort* port_ = nullptr;
    comm::BaseDispatcher* dispatcher_ = nullptr;
    std::vector<DataPacket*> packets_;
    bool enabled_ = false;
    bool registered_ = false;
    std::vector<uint8_t> buffer_;
    int used_ = 0;
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
    // Counts completions and time-outs, so that a scan sees the buffer change under it.
    uint64_t generation_ = 0;
    platform::WindowHandle window_ = 0;
};

}  // namespace hydrix::packet
