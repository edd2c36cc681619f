// Shared by the simulator tests: the station's command sequence and helpers that play
// it against the instrument logic.
#pragma once

#include <string>
#include <vector>

#include "sim/instrument.h"

namespace hydrix::sim::test {

// What the station sends, in order: wake-up, the ten commands, the wake-up after PC2.
inline const std::vector<std::string> kStationSequence = {"=====\r", "CR1\r", "Ts?\r",   "PS0\r", "CR1\r", "Ts?\r",
                                                          "PS0\r",   "PS3\r", "PT200\r", "PA\r",  "PC2\r", "=====\r"};

inline std::string Bytes(const std::vector<Emission>& parts) {
    std::string out;
    for (const Emission& part : parts) {
        out += part.bytes;
    }
    return out;
}

// Everything the instrument answers to input, the PC2 stream run to its end.
inline std::string Answer(Instrument& instrument, const std::string& input) {
    std::string out = Bytes(instrument.Receive(input));
    for (int64_t elapsed = 0; instrument.Streaming(); elapsed += 100) {
        out += instrument.NextStreamPart(elapsed).bytes;
    }
    return out;
}

inline SimOptions FixedClock(SimOptions options = {}) {
    options.clock = "07/12/31,23:59:58.99";
    options.pc2Records = 3;
    options.pc2IntervalMs = 0;
    return options;
}

}  // namespace hydrix::sim::test
