// The process-wide list of packet managers, one per com port: how a packet finds the
// manager that already reads its port's bytes.
#pragma once

#include <mutex>
#include <vector>

namespace hydrix::comm {
class CustomComPort;
}

namespace hydrix::packet {

class DataPacketManager;

class DataPacketManagerList {
public:
    DataPacketManagerList() = default;
    DataPacketManagerList(const DataPacketManagerList&) = delete;
    DataPacketManagerList& operator=(const DataPacketManagerList&) = delete;

    // The manager of port, or nullptr.
    DataPacketManager* ManagerFor(const comm::CustomComPort* port) const;
    void Add(DataPacketManager* manager);
    void Remove(DataPacketManager* manager);
    size_t Count() const;

private:
    mutable std::mutex mutex_;
    std::vector<DataPacketManager*> managers_;
};

// The list, made on first use and kept for the life of the process. Managers free
// themselves when their last packet leaves, so the list owns none of them.
DataPacketManagerList& PacketManagers();

}  // namespace hydrix::packet
