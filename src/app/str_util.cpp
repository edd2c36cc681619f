#include "app/str_util.h"

#include <limits>

namespace hydrix::app {

std::string FilterChars(std::string_view s, std::string_view chars) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (chars.find(c) == std::string_view::npos) {
            out.push_back(c);
        }
    }
    return out;
}

std::string Trim(std::string_view s) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    size_t first = 0;
    size_t last = s.size();
    while (first < last && blank(s[first])) {
        ++first;
    }
    while (last > first && blank(s[last - 1])) {
        --last;
    }
    return std::string(s.substr(first, last - first));
}

int32_t StrToInt(std::string_view s) {
    auto fail = [&]() -> int32_t { throw EConvertError("'" + std::string(s) + "' is not a valid integer value"); };
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i++] == '-';
    }
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) {
        return fail();
    }
    int64_t value = 0;
    const int64_t limit =
        negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min()) : std::numeric_limits<int32_t>::max();
    for (; i < s.size(); ++i) {
        const char c = s[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return fail();
        }
        value = value * base + digit;
        if (value > limit) {
            return fail();
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

namespace {

// The length of the well-formed UTF-8 sequence at text[at], or 0 when there is none.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[at + i]);
        if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF)) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string SafeFileNamePart(std::string_view s, std::size_t maxBytes) {
    static constexpr std::string_view kForbidden = "/\\<>:\"|?*";
    std::string out(s.substr(0, maxBytes));
    for (size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c < 0x20 || c == 0x7F || kForbidden.find(out[i]) != std::string_view::npos) {
            out[i] = '_';
        }
    }
    for (size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i] != '.' || out[i + 1] != '.') {
            continue;
        }
        size_t end = i;
        while (end < out.size() && out[end] == '.') {
            out[end++] = '_';
        }
        i = end;
    }
    // Bytes that are not UTF-8 (or a sequence the cut split) could not be named alike in
    // the report and on the disk.
    for (std::size_t i = 0; i < out.size();) {
        const std::size_t length = Utf8SequenceAt(out, i);
        if (length == 0) {
            out[i++] = '_';
        } else {
            i += length;
        }
    }
    return out;
}

}  // namespace hydrix::app
