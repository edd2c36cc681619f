// A data packet: one framed report picked out of the bytes a com port receives. It holds
// the settings and, once enabled, a matcher for them; the port's packet manager feeds the
// matcher the received bytes and raises the packet's events with the report's bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "comm/component_base.h"
#include "comm/dispatch_log.h"
#include "packet/packet_matcher.h"

namespace hydrix::comm {
class CustomComPort;
}

namespace hydrix::packet {

class DataPacketManager;
class DataPacket;

enum class PacketStartCond { scString, scAnyData };
enum class PacketState { Idle = 0, Waiting = 1, Collecting = 2 };

using PacketNotifyEvent = std::function<void(DataPacket& sender, const void* data, int32_t size)>;
using StringPacketNotifyEvent = std::function<void(DataPacket& sender, const std::string& data)>;
using NotifyEvent = std::function<void(DataPacket& sender)>;

constexpr int32_t kDefaultPacketTimeOut = 2184;  // ticks, about 120 s

class DataPacket : public comm::BaseComponent {
public:
    explicit DataPacket(std::string name = "");
    ~DataPacket() override;
    DataPacket(const DataPacket&) = delete;
    DataPacket& operator=(const DataPacket&) = delete;

    // The component's name, shown in the dispatch log.
    const std::string& Name() const { return name_; }
    void SetName(const std::string& value) { name_ = value; }

    // Published properties -------------------------------------------------------------
    bool Enabled() const { return enabled_; }
    // True prepares and arms the packet when its manager is enabled (deferred while
    // loading or during an event); raises EInvalidProperty (-5501..-5505) and stays
    // false when the settings cannot make a packet. False disarms it.
    void SetEnabled(bool value);
    bool AutoEnable() const { return autoEnable_; }
    void SetAutoEnable(bool value);
    PacketStartCond StartCond() const { return startCond_; }
    void SetStartCond(PacketStartCond value);
    PacketEndConds EndCond() const { return endCond_; }
    void SetEndCond(PacketEndConds value);
    const std::string& StartString() const { return startString_; }
    void SetStartString(const std::string& value);
    const std::string& EndString() const { return endString_; }
    void SetEndString(const std::string& value);
    bool IgnoreCase() const { return ignoreCase_; }
    void SetIgnoreCase(bool value);
    comm::CustomComPort* ComPort() const { return comPort_; }
    // Leaves the old port's manager and joins (or creates) the new port's manager.
    void SetComPort(comm::CustomComPort* port);
    int32_t PacketSize() const { return packetSize_; }
    void SetPacketSize(int32_t value);
    bool IncludeStrings() const { return includeStrings_; }
    void SetIncludeStrings(bool value);
    // Ticks of 55 ms while collecting; 0: no time-out.
    int32_t TimeOut() const { return timeOut_; }
    void SetTimeOut(int32_t value);

    PacketNotifyEvent OnPacket;
    StringPacketNotifyEvent OnStringPacket;
    NotifyEvent OnTimeout;

    // Unpublished settings ---------------------------------------------------------------
    // Events on the GUI thread when the port's dispatcher has its dispatcher thread.
    bool SyncEvents() const { return syncEvents_; }
    void SetSyncEvents(bool value);
    bool FlushOnTimeout() const { return flushOnTimeout_; }
    void SetFlushOnTimeout(bool value);
    // The place in the port's received stream just past the last packet delivered (0
    // before the first); valid in its events.
    uint64_t PacketEnd() const { return packetEnd_; }
    // The last time-out came from the packet growing past its collect limit, not from
    // its timer; valid in OnTimeout.
    bool Overflowed() const { return overflowed_; }

    // Loading from stored settings has ended: runs the enabling deferred meanwhile.
    void Loaded();

    // State, for the manager and for tests -----------------------------------------------
    PacketState State() const { return state_; }
    DataPacketManager* Manager() const { return manager_; }
    int MatchStart() const { return matcher_.MatchStart(); }
    bool PendingStart() const { return pendingStart_; }
    bool PendingEnable() const { return pendingEnable_; }

private:
    // The manager feeds the matcher, delivers the packet and re-arms it.
    friend class DataPacketManager;

    // SetEnabled once the lock is held.
    void ApplyEnabled(bool value);
    // The enabling steps; throws EInvalidProperty, leaving the packet disarmed.
    void Enable();
    void EnableSteps();
    // Enables now, or marks the enabling pending while loading or in an event.
    void EnableOrDefer();
    // Disarm and, when Enabled, enable again; an enabling failure is reported.
    void Rearm();
    void Disarm();
    void SetState(PacketState state);
    // An entry without data: "Packet:" and the name.
    void Log(comm::LogSubKind sub);
    void LogData(comm::LogSubKind sub, const void* bytes, size_t length);

    std::string name_;
    std::atomic<bool> enabled_{false};
    bool autoEnable_ = true;
    PacketStartCond startCond_ = PacketStartCond::scString;
    PacketEndConds endCond_;
    std::string startString_;
    std::string endString_;
    bool ignoreCase_ = true;
    comm::CustomComPort* comPort_ = nullptr;
    int32_t packetSize_ = 0;
    bool includeStrings_ = true;
    int32_t timeOut_ = kDefaultPacketTimeOut;
    bool syncEvents_ = true;
    bool flushOnTimeout_ = true;

    std::atomic<PacketState> state_{PacketState::Idle};
    PacketMatcher matcher_;
    uint64_t packetEnd_ = 0;
    bool overflowed_ = false;
    bool pendingStart_ = false;
    bool pendingEnable_ = false;
    DataPacketManager* manager_ = nullptr;
};

}  // namespace hydrix::packet
