// The packet manager with the station's four packets (PASS, FAIL, serial number and
// clock reports), fed in the reads the input chooses, with time-outs in between.
#include <cctype>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_input.h"
#include "packet/data_packet.h"
#include "packet/packet_manager.h"

namespace {

using hydrix::fuzz::Check;
using hydrix::fuzz::FuzzInput;
using hydrix::packet::DataPacket;
using hydrix::packet::DataPacketManager;
using hydrix::packet::PacketEndCond;

std::string Upper(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

struct Station {
    DataPacketManager manager;
    DataPacket pass{"DataPacketPass"};
    DataPacket fail{"DataPacketFail"};
    DataPacket serial{"DataPacket1"};
    DataPacket clock{"DataPacketDateTime"};

    Station() {
        SizeReport(pass, "PASS", 218400);
        SizeReport(fail, "FAIL", 21840);
        StringReport(serial, "Instrument S/N:  ", "       Frequency:", true, 2184);
        StringReport(clock, "TS = ", "-", false, 21840);
        for (DataPacket* p : {&pass, &fail, &serial, &clock}) {
            manager.AddPacket(*p);
        }
        for (DataPacket* p : {&pass, &fail, &serial, &clock}) {
            p->SetEnabled(true);
        }
        manager.Enable();
    }

    static void SizeReport(DataPacket& p, const std::string& start, int32_t timeOut) {
        p.SetStartString(start);
        p.SetEndCond({PacketEndCond::ecPacketSize});
        p.SetPacketSize(4);
        p.SetIncludeStrings(true);
        p.SetIgnoreCase(true);
        p.SetTimeOut(timeOut);
        p.OnPacket = [start](DataPacket&, const void* data, int32_t size) {
            Check(size == 5, "a PASS or FAIL report holds five bytes");
            const std::string bytes(static_cast<const char*>(data), static_cast<size_t>(size));
            Check(Upper(bytes.substr(0, 4)) == start, "a size report begins with its start string");
        };
    }
    static void StringReport(DataPacket& p, const std::string& start, const std::string& end, bool ignoreCase,
                             int32_t timeOut) {
        p.SetStartString(start);
        p.SetEndCond({PacketEndCond::ecString});
        p.SetEndString(end);
        p.SetIncludeStrings(false);
        p.SetIgnoreCase(ignoreCase);
        p.SetTimeOut(timeOut);
        p.OnStringPacket = [end, ignoreCase](DataPacket&, const std::string& data) {
            // Without the strings the data stops before the first end string.
            const std::string hay = ignoreCase ? Upper(data) : data;
            Check(hay.find(ignoreCase ? Upper(end) : end) == std::string::npos, "a string report holds no end string");
        };
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    Station station;
    // Each step: a control byte, then a read of 1..32 bytes, or (0xFF) the timer.
    while (!in.Empty()) {
        const uint8_t control = in.Byte();
        if (control == 0xFF) {
            station.manager.TimerExpired();
            continue;
        }
        const std::string chunk = in.Bytes(static_cast<size_t>(control % 32 + 1));
        station.manager.BytesReceived(chunk.data(), static_cast<int>(chunk.size()));
        Check(station.manager.BufferUsed() >= 0 && station.manager.BufferUsed() <= station.manager.BufferCapacity(),
              "buffer use within its capacity");
    }
    return 0;
}
