// Start and end strings of a data packet, prepared once at enabling: escapes resolved,
// wildcards marked, letters upper-cased when case is ignored. The packet scan then
// compares received bytes against the prepared pattern one position at a time.
#pragma once

#include <cstdint>
#include <string>

namespace hydrix::packet {

struct PacketPattern {
    std::string Pattern;  // the characters kept
    std::string Mask;     // '1' for a wildcard, '0' for a literal, same length
};

// ASCII a-z only: the case rule of the instrument's reports.
inline uint8_t UpperAscii(uint8_t c) {
    return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 32) : c;
}

// A backslash makes the next character literal and is dropped; an unescaped '?' is a
// wildcard. With ignoreCase the text is upper-cased before the escapes are read.
PacketPattern PreparePattern(const std::string& text, bool ignoreCase);

// Whether byte c matches pattern position index (1-based).
inline bool PatternMatches(const PacketPattern& p, int index, uint8_t c, bool ignoreCase) {
    const size_t i = static_cast<size_t>(index - 1);
    if (p.Mask[i] == '1') {
        return true;
    }
    return static_cast<uint8_t>(p.Pattern[i]) == (ignoreCase ? UpperAscii(c) : c);
}

}  // namespace hydrix::packet
