// How one data packet recognises its report in the manager's buffer: the start and end
// strings prepared at enabling and how far the current match has got. The manager feeds
// it the buffer's bytes; it answers nothing yet, claims (its start string is complete and
// it collects from the next byte on), or completes (the packet ends at a given byte).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "packet/packet_pattern.h"

namespace hydrix::packet {

enum class PacketEndCond : uint8_t { ecString = 0x01, ecPacketSize = 0x02 };

// A set of end conditions.
class PacketEndConds {
public:
    constexpr PacketEndConds() = default;
    constexpr PacketEndConds(std::initializer_list<PacketEndCond> conds) {
        for (PacketEndCond c : conds) {
            bits_ |= static_cast<uint8_t>(c);
        }
    }
    constexpr bool Contains(PacketEndCond c) const { return (bits_ & static_cast<uint8_t>(c)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr bool operator==(const PacketEndConds&) const = default;

private:
    uint8_t bits_ = 0;
};

enum class MatchAnswer { Nothing, Claims, Completes };

struct MatchResult {
    MatchAnswer Answer = MatchAnswer::Nothing;
    int At = -1;               // index of the byte that claimed or completed
    bool ByEndString = false;  // completed by the end string: a string packet
};

class PacketMatcher {
public:
    PacketMatcher() = default;
    // A new match with the framing taken at enabling; start is empty for any-data packets.
    PacketMatcher(PacketPattern start, PacketPattern end, PacketEndConds endCond, int32_t size, bool ignoreCase);

    // Looking for the start string in bytes from index from on. It claims when the start
    // string completes and an end condition follows, and completes when none does.
    [[nodiscard]] MatchResult Seek(std::span<const uint8_t> bytes, int from);
    // Where Seek would claim or complete, without moving the match; -1 for nowhere.
    int SeekAnswerAt(std::span<const uint8_t> bytes, int from) const;
    // Collecting from index from on, until the byte count or the end string ends the packet.
    [[nodiscard]] MatchResult Collect(std::span<const uint8_t> bytes, int from);

    // Index where the current match (or packet) begins, -1 for none.
    int MatchStart() const { return progress_.MatchStart; }
    int StartLength() const { return static_cast<int>(start_.Pattern.size()); }
    int EndLength() const { return static_cast<int>(end_.Pattern.size()); }

private:
    struct Progress {
        int MatchStart = -1;
        int StartIndex = 1;  // next pattern character to match, 1-based
        int EndIndex = 1;
    };

    MatchResult SeekWith(Progress& progress, std::span<const uint8_t> bytes, int from) const;

    PacketPattern start_;
    PacketPattern end_;
    PacketEndConds endCond_;
    int32_t size_ = 0;
    bool ignoreCase_ = true;
    Progress progress_;
};

}  // namespace hydrix::packet
