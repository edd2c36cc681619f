#include "platform/reg_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/sys_call.h"

namespace hydrix::platform {
namespace {

constexpr std::string_view kSignature = "WINE REGISTRY Version 2";
constexpr std::size_t kMaxDiagnostics = 200;

std::string TooLarge(uint64_t size) {
    const std::string limit = std::to_string(RegFile::kMaxFileBytes);
    return (size > RegFile::kMaxFileBytes ? "the file has " + std::to_string(size) + " bytes" : "the file is larger") +
           ", more than the " + std::to_string(RegFile::kMaxFileBytes >> 20) + " MiB (" + limit +
           " bytes) a settings file may have";
}

// What kept the file from being read, in the operator's words.
std::string LoadProblem(int err, const struct stat& st) {
    switch (err) {
    case ENOENT:
        return "the file does not exist";
    case EISDIR:
        return "a folder, not a file";
    case EFBIG:
        return TooLarge(static_cast<uint64_t>(st.st_size));
    default:
        return std::strerror(err);
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// One UTF-8 sequence from text at pos as a code point; a byte that does not start a
// valid sequence is taken as Latin-1, so no input is ever refused for its encoding.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    int extra = 0;
    char32_t cp = lead;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        cp = lead & 0x07;
    }
    if (extra == 0 || pos + static_cast<std::size_t>(extra) >= text.size()) {
        ++pos;
        return lead;
    }
    for (int i = 1; i <= extra; ++i) {
        const auto c = static_cast<unsigned char>(text[pos + i]);
        if ((c & 0xC0) != 0x80) {
            ++pos;
            return lead;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return lead;
    }
    pos += static_cast<std::size_t>(extra) + 1;
    return cp;
}

void AppendUtf16(char32_t cp, std::u16string& out) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// UTF-16 to UTF-8, ending at the first NUL; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& units) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t cp = units[i];
        if (cp == 0) {
            break;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(cp, out);
    }
    return out;
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& units) {
    std::vector<uint8_t> data;
    data.reserve(units.size() * 2 + 2);
    for (char16_t u : units) {
        data.push_back(static_cast<uint8_t>(u & 0xFF));
        data.push_back(static_cast<uint8_t>(u >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

std::string NormalizeKeyPath(std::string_view path) {
    while (!path.empty() && path.front() == '\\') {
        path.remove_prefix(1);
    }
    while (!path.empty() && path.back() == '\\') {
        path.remove_suffix(1);
    }
    return FoldRegName(path);
}

class Parser {
public:
    Parser(std::string_view text, std::unordered_map<std::string, RegKey>& keys,
           std::vector<RegDiagnostic>& diagnostics)
        : text_(text), keys_(keys), diagnostics_(diagnostics) {}

    // Returns false when the signature line is missing.
    bool Run() {
        std::string_view line;
        if (!NextLine(line)) {
            return false;
        }
        if (line.starts_with("\xEF\xBB\xBF")) {
            line.remove_prefix(3);
        }
        if (line != kSignature) {
            return false;
        }
        while (NextLine(line)) {
            ParseLine(line);
        }
        return true;
    }

private:
    bool NextLine(std::string_view& line) {
        if (pos_ >= text_.size()) {
            return false;
        }
        std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) {
            end = text_.size();
        }
        line = text_.substr(pos_, end - pos_);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        pos_ = end + 1;
        ++lineNo_;
        return true;
    }

    void Note(int line, std::string message, std::optional<std::string> value = std::nullopt) {
        const std::string key = current_ ? currentPath_ : std::string();
        if (diagnostics_.size() < kMaxDiagnostics) {
            diagnostics_.push_back({line, std::move(message), key, std::move(value)});
        } else if (diagnostics_.size() == kMaxDiagnostics) {
            diagnostics_.push_back({line, "further problems not listed", {}, {}});
        }
    }

    static std::string_view TrimLeft(std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
            s.remove_prefix(1);
        }
        return s;
    }

    void ParseLine(std::string_view line) {
        line = TrimLeft(line);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            return;
        }
        if (line.front() == '[') {
            ParseSection(line);
        } else if (line.front() == '"' || line.front() == '@') {
            ParseValue(line);
        } else {
            Note(lineNo_, "unrecognised line skipped");
        }
    }

    void ParseSection(std::string_view line) {
        std::size_t pos = 1;
        std::u16string name;
        std::string error;
        current_ = nullptr;
        if (!ParseQuoted(line, pos, ']', name, error)) {
            Note(lineNo_, "section header skipped with its values: " + error);
            return;
        }
        std::string utf8 = Utf16ToUtf8(name);
        currentPath_ = NormalizeKeyPath(utf8);
        RegKey& key = keys_[currentPath_];
        if (key.name.empty()) {
            key.name = utf8;
        }
        current_ = &key;
    }

    void ParseValue(std::string_view line) {
        const int startLine = lineNo_;
        std::string name;
        std::size_t pos = 1;
        if (line.front() == '"') {
            std::u16string units;
            std::string error;
            if (!ParseQuoted(line, pos, '"', units, error)) {
                Note(startLine, "value skipped: " + error);
                return;
            }
            name = Utf16ToUtf8(units);
        }
        std::string_view rest = TrimLeft(line.substr(pos));
        if (rest.empty() || rest.front() != '=') {
            Note(startLine, "value skipped: '=' missing after the name", name);
            return;
        }
        rest = TrimLeft(rest.substr(1));
        RegValue value;
        std::string error;
        if (!ParseData(rest, value, error)) {
            Note(startLine, "value \"" + name + "\" skipped: " + error, name);
            return;
        }
        if (!current_) {
            Note(startLine, "value \"" + name + "\" outside any section skipped");
            return;
        }
        current_->values[FoldRegName(name)] = std::move(value);
    }

    bool ParseData(std::string_view data, RegValue& value, std::string& error) {
        if (data.starts_with("\"")) {
            return ParseStringData(data, 0, kRegSz, value, error);
        }
        if (data.starts_with("str(")) {
            std::size_t pos = 4;
            uint32_t type = 0;
            if (!ParseTypeNumber(data, pos, type) || !data.substr(pos).starts_with(":\"")) {
                error = "malformed str(N): prefix";
                return false;
            }
            return ParseStringData(data, pos + 1, type, value, error);
        }
        if (data.starts_with("dword:")) {
            return ParseDword(data.substr(6), value, error);
        }
        if (data.starts_with("hex:")) {
            value.type = kRegBinary;
            return ParseHex(data.substr(4), value, error);
        }
        if (data.starts_with("hex(")) {
            std::size_t pos = 4;
            if (!ParseTypeNumber(data, pos, value.type) || pos >= data.size() || data[pos] != ':') {
                error = "malformed hex(N): prefix";
                return false;
            }
            return ParseHex(data.substr(pos + 1), value, error);
        }
        error = "unknown data form";
        return false;
    }

    // "(N)" with N in hexadecimal, as Wine writes it; pos starts after "(".
    static bool ParseTypeNumber(std::string_view data, std::size_t& pos, uint32_t& type) {
        uint64_t n = 0;
        std::size_t digits = 0;
        while (pos < data.size() && HexDigit(data[pos]) >= 0 && digits < 8) {
            n = n * 16 + static_cast<uint64_t>(HexDigit(data[pos++]));
            ++digits;
        }
        if (digits == 0 || pos >= data.size() || data[pos] != ')') {
            return false;
        }
        ++pos;
        type = static_cast<uint32_t>(n);
        return true;
    }

    bool ParseStringData(std::string_view data, std::size_t quote, uint32_t type, RegValue& value, std::string& error) {
        std::size_t pos = quote + 1;
        std::u16string units;
        if (!ParseQuoted(data, pos, '"', units, error)) {
            return false;
        }
        if (!TrimLeft(data.substr(pos)).empty()) {
            error = "text after the closing quote";
            return false;
        }
        value.type = type;
        value.data = Utf16Bytes(units);
        return true;
    }

    static bool ParseDword(std::string_view digits, RegValue& value, std::string& error) {
        while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) {
            digits.remove_suffix(1);
        }
        if (digits.empty() || digits.size() > 8) {
            error = "dword needs 1 to 8 hex digits";
            return false;
        }
        uint32_t n = 0;
        for (char c : digits) {
            const int d = HexDigit(c);
            if (d < 0) {
                error = "bad hex digit in dword";
                return false;
            }
            n = n * 16 + static_cast<uint32_t>(d);
        }
        value.type = kRegDword;
        value.data = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                      static_cast<uint8_t>(n >> 24)};
        return true;
    }

    // Comma-separated bytes; a line ending in a backslash continues on the next line. The
    // continuation lines are consumed even when the value is refused, so that they are
    // not read as lines of their own.
    bool ParseHex(std::string_view rest, RegValue& value, std::string& error) {
        bool ok = true;
        for (;;) {
            bool continued = false;
            std::size_t pos = 0;
            while (pos < rest.size()) {
                const char c = rest[pos];
                if (c == ' ' || c == '\t' || c == ',') {
                    ++pos;
                } else if (c == '\\' && TrimLeft(rest.substr(pos + 1)).empty()) {
                    continued = true;
                    break;
                } else if (HexDigit(c) >= 0) {
                    int byte = HexDigit(c);
                    ++pos;
                    if (pos < rest.size() && HexDigit(rest[pos]) >= 0) {
                        byte = byte * 16 + HexDigit(rest[pos++]);
                    }
                    if (pos < rest.size() && rest[pos] != ',' && rest[pos] != ' ' && rest[pos] != '\t' &&
                        rest[pos] != '\\') {
                        if (ok) {
                            error = "bad hex byte";
                        }
                        ok = false;
                        break;
                    }
                    if (ok && value.data.size() >= RegFile::kMaxValueBytes) {
                        error = "data larger than " + std::to_string(RegFile::kMaxValueBytes) + " bytes";
                        ok = false;
                        value.data.clear();
                    }
                    if (ok) {
                        value.data.push_back(static_cast<uint8_t>(byte));
                    }
                } else {
                    if (ok) {
                        error = "bad hex byte";
                    }
                    ok = false;
                    break;
                }
            }
            if (!continued) {
                break;
            }
            const std::size_t linePos = pos_;
            const int lineNo = lineNo_;
            std::string_view next;
            if (!NextLine(next)) {
                if (ok) {
                    error = "file ends inside continued hex data";
                }
                return false;
            }
            // A header or value line after a dangling backslash means the hex data was cut
            // short; that line is left to be read as what it is.
            const std::string_view trimmed = TrimLeft(next);
            if (!trimmed.empty() && (trimmed.front() == '[' || trimmed.front() == '"' || trimmed.front() == '@')) {
                pos_ = linePos;
                lineNo_ = lineNo;
                if (ok) {
                    error = "continued hex data cut short";
                }
                return false;
            }
            rest = next;
        }
        if (!ok) {
            value.data = {};
        }
        return ok;
    }

    // Reads escaped text up to the unescaped terminator; pos starts after the opening
    // character and ends after the terminator.
    static bool ParseQuoted(std::string_view line, std::size_t& pos, char terminator, std::u16string& out,
                            std::string& error) {
        const std::size_t maxUnits = RegFile::kMaxValueBytes / 2;
        while (pos < line.size()) {
            if (out.size() > maxUnits) {
                error = "text longer than " + std::to_string(maxUnits) + " characters";
                return false;
            }
            const char c = line[pos];
            if (c == terminator) {
                ++pos;
                return true;
            }
            if (c != '\\') {
                AppendUtf16(DecodeUtf8(line, pos), out);
                continue;
            }
            if (++pos >= line.size()) {
                error = "line ends inside an escape";
                return false;
            }
            const char e = line[pos++];
            switch (e) {
            case 'a':
                out.push_back(7);
                break;
            case 'b':
                out.push_back(8);
                break;
            case 'e':
                out.push_back(27);
                break;
            case 'f':
                out.push_back(12);
                break;
            case 'n':
                out.push_back(10);
                break;
            case 'r':
                out.push_back(13);
                break;
            case 't':
                out.push_back(9);
                break;
            case 'v':
                out.push_back(11);
                break;
            case 'x': {
                unsigned n = 0;
                int digits = 0;
                while (digits < 4 && pos < line.size() && HexDigit(line[pos]) >= 0) {
                    n = n * 16 + static_cast<unsigned>(HexDigit(line[pos++]));
                    ++digits;
                }
                if (digits == 0) {
                    error = "\\x without hex digits";
                    return false;
                }
                out.push_back(static_cast<char16_t>(n));
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    unsigned n = static_cast<unsigned>(e - '0');
                    for (int i = 0; i < 2 && pos < line.size() && line[pos] >= '0' && line[pos] <= '7'; ++i) {
                        n = n * 8 + static_cast<unsigned>(line[pos++] - '0');
                    }
                    out.push_back(static_cast<char16_t>(n));
                } else {
                    // \\, \", \[ and \] and any other escaped character stand for themselves.
                    --pos;
                    AppendUtf16(DecodeUtf8(line, pos), out);
                }
            }
        }
        error = std::string("closing ") + terminator + " missing";
        return false;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    int lineNo_ = 0;
    RegKey* current_ = nullptr;
    std::string currentPath_;  // current_'s path as FindKey compares it
    std::unordered_map<std::string, RegKey>& keys_;
    std::vector<RegDiagnostic>& diagnostics_;
};

}  // namespace

std::string FoldRegName(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::string RegValueText(const RegValue& value) {
    std::u16string units;
    units.reserve(value.data.size() / 2);
    for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
        units.push_back(static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8)));
    }
    return Utf16ToUtf8(units);
}

const RegValue* RegKey::Find(std::string_view valueName) const {
    auto it = values.find(FoldRegName(valueName));
    return it == values.end() ? nullptr : &it->second;
}

void RegFile::Clear() {
    keys_.clear();
    error_.clear();
    diagnostics_.clear();
}

std::vector<RegDiagnostic> RegFile::KeyDiagnostics(std::string_view path) const {
    const std::string key = NormalizeKeyPath(path);
    std::vector<RegDiagnostic> found;
    for (const RegDiagnostic& d : diagnostics_) {
        if (d.key == key) {
            found.push_back(d);
        }
    }
    return found;
}

int RegFile::Load(const std::string& path) {
    Clear();
    const int fd = sys::Call(sys::Op::Open, [&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0) {
        const int err = errno;
        error_ = path + ": " + LoadProblem(err, {});
        return -err;
    }
    std::string text;
    int err = 0;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        err = errno;
    } else if (S_ISDIR(st.st_mode)) {
        err = EISDIR;
    } else if (static_cast<uint64_t>(st.st_size) > kMaxFileBytes) {
        err = EFBIG;
    } else {
        char buffer[65536];
        for (;;) {
            const ssize_t n = sys::Call(sys::Op::Read, [&] { return ::read(fd, buffer, sizeof buffer); });
            if (n < 0) {
                err = errno;
                break;
            }
            if (n == 0) {
                break;
            }
            if (text.size() + static_cast<std::size_t>(n) > kMaxFileBytes) {
                err = EFBIG;
                break;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    sys::Close(fd);
    if (err != 0) {
        error_ = path + ": " + LoadProblem(err, st);
        return -err;
    }
    const int rc = Parse(text);
    if (rc != 0) {
        error_ = path + ": " + error_;
    }
    return rc;
}

int RegFile::Parse(std::string_view text) {
    Clear();
    if (text.size() > kMaxFileBytes) {
        error_ = TooLarge(text.size());
        return -EFBIG;
    }
    Parser parser(text, keys_, diagnostics_);
    if (!parser.Run()) {
        keys_.clear();
        error_ = "not a Wine registry file (first line is not \"" + std::string(kSignature) + "\")";
        return -EINVAL;
    }
    return 0;
}

const RegKey* RegFile::FindKey(std::string_view path) const {
    auto it = keys_.find(NormalizeKeyPath(path));
    return it == keys_.end() ? nullptr : &it->second;
}

}  // namespace hydrix::platform
