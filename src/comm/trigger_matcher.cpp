#include "comm/trigger_matcher.h"

#include <cstring>

namespace hydrix::comm {

uint8_t UpperCaseByte(uint8_t c) {
    if (c >= 'a' && c <= 'z') {
        return static_cast<uint8_t>(c - 0x20);
    }
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        return static_cast<uint8_t>(c - 0x20);
    }
    switch (c) {
    case 0x9A:
        return 0x8A;  // s caron
    case 0x9C:
        return 0x8C;  // oe
    case 0x9E:
        return 0x8E;  // z caron
    case 0xFF:
        return 0x9F;  // y diaeresis
    default:
        return c;
    }
}

void InitDataTrigger(DataTrigger& trigger, const uint8_t* data, int length, bool ignoreCase) {
    trigger.Length = length;
    trigger.IgnoreCase = ignoreCase ? 1 : 0;
    trigger.Data.fill(0);
    if (length > 0) {
        std::memcpy(trigger.Data.data(), data, static_cast<size_t>(length));
    }
    if (ignoreCase) {
        for (int i = 0; i < length; ++i) {
            trigger.Data[i] = UpperCaseByte(trigger.Data[i]);
        }
    }
    ResetPartialMatch(trigger);
}

void ResetPartialMatch(DataTrigger& trigger) {
    trigger.Partial.fill(0);
    trigger.Matched = 0;
}

bool MatchTriggerByte(DataTrigger& trigger, uint8_t c) {
    const int len = trigger.Length;
    if (len <= 0) {
        return false;
    }
    if (trigger.IgnoreCase) {
        c = UpperCaseByte(c);
    }
    const auto& s = trigger.Data;
    auto& p = trigger.Partial;
    bool started = false;
    bool matched = false;
    bool process = true;
    for (int i = 0; i < len; ++i) {
        if (process) {
            if (s[p[i]] == c) {
                if (p[i] == len - 1) {
                    matched = true;
                    p.fill(0);
                } else {
                    ++p[i];
                }
            } else if (s[0] == c) {
                started = true;
                p[i] = 1;
            } else {
                p[i] = 0;
            }
        }
        if (p[i] == 1) {
            started = true;
        }
        // Only one new partial match opens per byte: once a slot has started on this
        // byte, later slots advance only if they already hold a match in progress.
        if (i == len - 1) {
            process = false;
        } else if (started) {
            process = p[i + 1] != 0;
        } else {
            process = p[i + 1] != 0 || s[0] == c;
        }
    }
    return matched;
}

}  // namespace hydrix::comm
