// The manager's ties to its com port: the port callback, the dispatcher handler and
// timer, and the release of an empty manager through its own message window.
#include "comm/com_port.h"
#include "comm/dispatcher.h"
#include "packet/data_packet.h"
#include "packet/packet_manager.h"
#include "packet/packet_manager_list.h"

namespace hydrix::packet {

DataPacketManager::DataPacketManager(comm::CustomComPort* port) : DataPacketManager() {
    port_ = port;
    const std::shared_ptr<Lock::Shared> shared = shared_;
    port_->RegisterCallbackUser(this, [shared](comm::CustomComPort&, comm::PortCallbackKind kind) {
        Lock lock(shared);
        DataPacketManager* manager = shared->manager;
        if (!manager) {
            return;
        }
        if (kind == comm::PortCallbackKind::PortOpened) {
            manager->EnableLocked();
        } else if (kind == comm::PortCallbackKind::PortRemoved) {
            manager->PortRemovedLocked();
        } else {
            manager->DisableLocked();
        }
    });
    window_ = platform::MessageLoop::Instance().CreateWindow(
        [this](uint32_t msg, platform::WParam w, platform::LParam l) { return WindowProc(msg, w, l); });
    if (port_->Open() && !port_->Loading()) {
        Enable();
    }
}

DataPacketManager::~DataPacketManager() {
    {
        Lock lock(this);
        destroying_ = true;
        LeavePort();
        ReleasePackets();
        shared_->manager = nullptr;
    }
    if (window_) {
        platform::MessageLoop::Instance().DestroyWindow(window_);
    }
}

void DataPacketManager::Enable() {
    Lock lock(this);
    EnableLocked();
}

void DataPacketManager::EnableLocked() {
    if (!enabled_) {
        Attach();
        enabled_ = true;
    }
    RearmPackets();
}

void DataPacketManager::Disable() {
    Lock lock(this);
    DisableLocked();
}

void DataPacketManager::DisableLocked() {
    // The buffer goes first, so that disarming a collecting packet scans nothing.
    FreeBuffer();
    for (DataPacket* packet : packets_) {
        packet->Disarm();
    }
    Detach();
    enabled_ = false;
    dataPending_ = false;
}

void DataPacketManager::Attach() {
    if (!port_) {
        return;
    }
    comm::BaseDispatcher* dispatcher = port_->ActiveDispatcher();
    if (!dispatcher) {
        return;
    }
    const std::shared_ptr<Lock::Shared> shared = shared_;
    hook_.Attach(*port_, *dispatcher, [shared](uint32_t msg, uint32_t triggerHandle, int32_t) {
        Lock lock(shared);
        if (shared->manager) {
            shared->manager->Notify(msg, triggerHandle);
        }
    });
    timerHandle_ = dispatcher->NewTimerTrigger();
}

void DataPacketManager::Detach() {
    if (comm::BaseDispatcher* dispatcher = hook_.Held(port_); dispatcher && timerHandle_ > 0) {
        dispatcher->DeleteTrigger(timerHandle_);
    }
    hook_.Detach(port_);
    timerHandle_ = 0;
    timerArmedTicks_ = 0;
}

void DataPacketManager::Notify(uint32_t msg, uint32_t triggerHandle) {
    if (msg == comm::kTriggerAvailMsg) {
        comm::BaseDispatcher* dispatcher = hook_.Dispatcher();
        const int count = static_cast<int>(triggerHandle);
        if (!dispatcher || count <= 0) {
            return;
        }
        const int from = used_;
        streamEnd_ = dispatcher->ReadPosition();
        Appended(from, dispatcher->ReadBytes(Reserve(count), count));
    } else if (msg == comm::kTriggerTimerMsg) {
        if (current_ && timerHandle_ > 0 && static_cast<int>(triggerHandle) == timerHandle_) {
            TimeOut();
        }
    }
}

void DataPacketManager::LeavePort() {
    if (enabled_) {
        DisableLocked();
    }
    if (port_) {
        port_->DeregisterCallbackUser(this);
    }
    port_ = nullptr;
}

void DataPacketManager::PortRemovedLocked() {
    // The packets lose their port (and so this manager), which then frees itself.
    LeavePort();
    ReleasePackets();
    PostFree();
}

void DataPacketManager::ReleasePackets() {
    for (DataPacket* packet : packets_) {
        packet->manager_ = nullptr;
        packet->comPort_ = nullptr;
    }
    packets_.clear();
}

void DataPacketManager::PostFree() {
    if (window_) {
        platform::MessageLoop::Instance().PostMessage(window_, ManagerFreeMessage, 0, 0);
    }
}

platform::LResult DataPacketManager::WindowProc(uint32_t msg, platform::WParam, platform::LParam) {
    if (msg != ManagerFreeMessage) {
        return 0;
    }
    {
        Lock lock(this);
        if (inEvent_) {
            PostFree();
            return 0;
        }
        // A packet may have joined since the message was posted.
        if (!packets_.empty()) {
            return 0;
        }
    }
    // This manager is gone when Free returns.
    PacketManagers().Free(this);
    return 0;
}

}  // namespace hydrix::packet
