#include "packet/packet_pattern.h"

namespace hydrix::packet {

PacketPattern PreparePattern(const std::string& text, bool ignoreCase) {
    PacketPattern out;
    bool escaped = false;
    for (char raw : text) {
        const char c = ignoreCase ? static_cast<char>(UpperAscii(static_cast<uint8_t>(raw))) : raw;
        if (escaped) {
            out.Pattern += c;
            out.Mask += '0';
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
        } else {
            out.Pattern += c;
            out.Mask += c == '?' ? '1' : '0';
        }
    }
    return out;
}

}  // namespace hydrix::packet
