#include "packet/packet_manager_list.h"

#include <algorithm>

#include "packet/packet_manager.h"

namespace hydrix::packet {

DataPacketManagerList::DataPacketManagerList() = default;
DataPacketManagerList::~DataPacketManagerList() = default;

DataPacketManager* DataPacketManagerList::ManagerFor(const comm::CustomComPort* port) const {
    std::lock_guard guard(mutex_);
    auto it = std::ranges::find_if(managers_, [port](const auto& m) { return port && m->Port() == port; });
    return it == managers_.end() ? nullptr : it->get();
}

DataPacketManager& DataPacketManagerList::Obtain(comm::CustomComPort* port) {
    if (DataPacketManager* manager = ManagerFor(port)) {
        return *manager;
    }
    // Made outside the list's lock: a new manager may enable itself on the port at once.
    std::unique_ptr<DataPacketManager> made(new DataPacketManager(port));
    DataPacketManager& manager = *made;
    std::lock_guard guard(mutex_);
    managers_.push_back(std::move(made));
    return manager;
}

void DataPacketManagerList::Free(DataPacketManager* manager) {
    std::unique_ptr<DataPacketManager> freed;
    {
        std::lock_guard guard(mutex_);
        auto it = std::ranges::find_if(managers_, [manager](const auto& m) { return m.get() == manager; });
        if (it == managers_.end()) {
            return;
        }
        freed = std::move(*it);
        managers_.erase(it);
    }
    // Destroyed outside the list's lock: it reaches its port and dispatcher.
}

size_t DataPacketManagerList::Count() const {
    std::lock_guard guard(mutex_);
    return managers_.size();
}

DataPacketManagerList& PacketManagers() {
    static DataPacketManagerList list;
    return list;
}

}  // namespace hydrix::packet
