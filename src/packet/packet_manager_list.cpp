#include "packet/packet_manager_list.h"

#include <algorithm>

#include "packet/packet_manager.h"

namespace hydrix::packet {

DataPacketManager* DataPacketManagerList::ManagerFor(const comm::CustomComPort* port) const {
    std::lock_guard guard(mutex_);
    auto it = std::find_if(managers_.begin(), managers_.end(),
                           [port](const DataPacketManager* m) { return m->Port() == port; });
    return it == managers_.end() ? nullptr : *it;
}

void DataPacketManagerList::Add(DataPacketManager* manager) {
    std::lock_guard guard(mutex_);
    managers_.push_back(manager);
}

void DataPacketManagerList::Remove(DataPacketManager* manager) {
    std::lock_guard guard(mutex_);
    managers_.erase(std::remove(managers_.begin(), managers_.end(), manager), managers_.end());
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
