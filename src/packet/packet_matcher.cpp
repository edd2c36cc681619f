#include "packet/packet_matcher.h"

#include <utility>

namespace hydrix::packet {

PacketMatcher::PacketMatcher(PacketPattern start, PacketPattern end, PacketEndConds endCond, int32_t size,
                             bool ignoreCase)
    : start_(std::move(start)), end_(std::move(end)), endCond_(endCond), size_(size), ignoreCase_(ignoreCase) {}

MatchResult PacketMatcher::Seek(std::span<const uint8_t> bytes, int from) {
    return SeekWith(progress_, bytes, from);
}

int PacketMatcher::SeekAnswerAt(std::span<const uint8_t> bytes, int from) const {
    Progress trial = progress_;
    const MatchResult result = SeekWith(trial, bytes, from);
    return result.Answer == MatchAnswer::Nothing ? -1 : result.At;
}

MatchResult PacketMatcher::SeekWith(Progress& m, std::span<const uint8_t> bytes, int p) const {
    const int used = static_cast<int>(bytes.size());
    while (p < used) {
        if (PatternMatches(start_, m.StartIndex, bytes[static_cast<size_t>(p)], ignoreCase_)) {
            if (m.MatchStart == -1) {
                m.MatchStart = p;
            }
            if (m.StartIndex == StartLength()) {
                return {endCond_.Empty() ? MatchAnswer::Completes : MatchAnswer::Claims, p, false};
            }
            ++m.StartIndex;
        } else if (m.MatchStart != -1) {
            // Resume one byte after the abandoned partial match.
            p = m.MatchStart + 1;
            m.StartIndex = 1;
            m.MatchStart = -1;
            continue;
        }
        ++p;
    }
    return {};
}

MatchResult PacketMatcher::Collect(std::span<const uint8_t> bytes, int p) {
    Progress& m = progress_;
    const int used = static_cast<int>(bytes.size());
    while (p < used) {
        if (m.MatchStart == -1) {
            m.MatchStart = p;
        }
        // The count includes the start string, whether or not the events get it.
        if (endCond_.Contains(PacketEndCond::ecPacketSize) && p - m.MatchStart + 1 >= size_) {
            return {MatchAnswer::Completes, p, false};
        }
        if (endCond_.Contains(PacketEndCond::ecString)) {
            if (PatternMatches(end_, m.EndIndex, bytes[static_cast<size_t>(p)], ignoreCase_)) {
                if (m.EndIndex == EndLength()) {
                    return {MatchAnswer::Completes, p, true};
                }
                ++m.EndIndex;
            } else if (m.EndIndex > 1) {
                // The end string may begin one byte after the abandoned partial match.
                p = p - m.EndIndex + 2;
                m.EndIndex = 1;
                continue;
            }
        }
        ++p;
    }
    return {};
}

}  // namespace hydrix::packet
