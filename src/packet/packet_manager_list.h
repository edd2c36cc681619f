// The process-wide list of packet managers, one per com port: how a packet finds the
// manager that already reads its port's bytes. The list owns the managers; an empty one
// is freed through its own message.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

namespace hydrix::comm {
class CustomComPort;
}

namespace hydrix::packet {

class DataPacketManager;

class DataPacketManagerList {
public:
    DataPacketManagerList();
    ~DataPacketManagerList();
    DataPacketManagerList(const DataPacketManagerList&) = delete;
    DataPacketManagerList& operator=(const DataPacketManagerList&) = delete;

    // The manager of port, or nullptr.
    DataPacketManager* ManagerFor(const comm::CustomComPort* port) const;
    // The manager of port, made when there is none.
    DataPacketManager& Obtain(comm::CustomComPort* port);
    // Frees the manager (ManagerFreeMessage does this once its last packet has left).
    void Free(DataPacketManager* manager);
    size_t Count() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<DataPacketManager>> managers_;
};

// The list, made on first use and freed at program end.
DataPacketManagerList& PacketManagers();

}  // namespace hydrix::packet
