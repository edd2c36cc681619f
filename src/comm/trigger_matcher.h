// Data-trigger matching: every received byte the dispatcher thread scans is fed to
// each data trigger here. Several partial matches run side by side, and the state
// survives between reads so a string split across reads still matches.
#pragma once

#include <array>
#include <cstdint>

namespace hydrix::comm {

constexpr int kMaxTriggerLength = 21;

struct DataTrigger {
    int32_t Handle = 0;
    int32_t Length = 0;                 // L, 0..21
    std::array<int32_t, 22> Partial{};  // characters matched so far, one per partial match
    int32_t Matched = 0;                // matched in this scan pass
    int32_t IgnoreCase = 0;
    std::array<uint8_t, kMaxTriggerLength> Data{};  // upper case when IgnoreCase

    bool operator==(const DataTrigger&) const = default;
};

// Upper case of a byte in the Windows-1252 code page the instrument texts use.
uint8_t UpperCaseByte(uint8_t c);

// Fills a trigger's string (upper-cased when ignoreCase) and clears its match state.
// length must be 0..kMaxTriggerLength.
void InitDataTrigger(DataTrigger& trigger, const uint8_t* data, int length, bool ignoreCase);

void ResetPartialMatch(DataTrigger& trigger);

// Feeds one byte; true when it completes the trigger's string. A completed match
// cancels every other partial match of the trigger.
bool MatchTriggerByte(DataTrigger& trigger, uint8_t c);

}  // namespace hydrix::comm
