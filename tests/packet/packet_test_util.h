// Helpers for the packet tests: a manager fed by hand that records every delivered
// packet and time-out as text, and random splits of an input into reads.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "packet/data_packet.h"
#include "packet/packet_manager.h"

namespace hydrix::packet::test {

// "Name:bytes" for each packet, "Name:timeout" for each time-out, in delivery order.
class EventLog {
public:
    void Watch(DataPacket& packet) {
        packet.OnPacket = [this](DataPacket&, const void* data, int32_t size) {
            lastPointerData_ = std::string(static_cast<const char*>(data), static_cast<size_t>(size));
        };
        packet.OnStringPacket = [this](DataPacket& sender, const std::string& data) {
            // OnPacket came first with the same bytes.
            events.push_back(sender.Name() + ":" + (lastPointerData_ == data ? data : "<mismatch>"));
        };
        packet.OnTimeout = [this](DataPacket& sender) { events.push_back(sender.Name() + ":timeout"); };
    }
    std::vector<std::string> events;

private:
    std::string lastPointerData_;
};

// Cuts text into reads of random lengths (1..maxRead); seed 0 gives one read.
inline std::vector<std::string> RandomSplits(const std::string& text, unsigned seed, size_t maxRead = 6) {
    if (seed == 0) {
        return {text};
    }
    std::mt19937 rng(seed);
    std::uniform_int_distribution<size_t> len(1, maxRead);
    std::vector<std::string> reads;
    for (size_t at = 0; at < text.size();) {
        const size_t n = std::min(len(rng), text.size() - at);
        reads.push_back(text.substr(at, n));
        at += n;
    }
    return reads;
}

inline void Feed(DataPacketManager& manager, const std::vector<std::string>& reads) {
    for (const std::string& r : reads) {
        manager.BytesReceived(r.data(), static_cast<int>(r.size()));
    }
}

}  // namespace hydrix::packet::test
