// Parser for Wine's registry text files (user.reg): turns the file into keys and values
// for the settings store, which reads the host software's settings from there. Nothing
// is ever written back.
//
// Bad content never throws and never aborts the whole file: a value line that cannot be
// read (bad escape, missing closing quote, bad hex, unknown form, data over
// kMaxValueBytes) is skipped and noted in Diagnostics(); a section header without its
// closing bracket is noted and the values under it are skipped until the next good
// header, so they never land in the key before it. Only a file that cannot be read, is
// over kMaxFileBytes, or does not start with Wine's signature is rejected as a whole
// (Load returns a negative code and Error() says why).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace hydrix::platform {

// Registry data types as the file names them (str(N), hex(N): N is this number).
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

struct RegValue {
    uint32_t type = kRegNone;
    // The bytes as the registry holds them: strings are UTF-16LE (the quoted forms get
    // their terminating NUL added, as Wine stores them), a dword is 4 bytes little-endian.
    std::vector<uint8_t> data;
};

// The text of a string value: data decoded from UTF-16LE to UTF-8, ending at the first
// NUL. Meaningful for the string types; for others it decodes the bytes all the same.
std::string RegValueText(const RegValue& value);

struct RegKey {
    std::string name;  // as written in the section header, escapes resolved
    // Keyed by the ASCII-lower-cased value name; the default value (@) has the name "".
    std::unordered_map<std::string, RegValue> values;

    const RegValue* Find(std::string_view valueName) const;
};

struct RegDiagnostic {
    int line = 0;  // 1-based line of the file
    std::string message;
    // The key the line stood in, as FindKey compares paths; empty outside any key.
    std::string key;
    // The value's name when the line got that far ("" is the default value @).
    std::optional<std::string> value;
};

class RegFile {
public:
    // A prefix's user.reg holds a few MB at most; 64 MiB leaves room for a bloated one
    // while start-up stays within seconds and a few hundred MB. Past it, the file is not
    // read at all.
    static constexpr std::size_t kMaxFileBytes = 64u << 20;
    static constexpr std::size_t kMaxValueBytes = 1u << 20;

    // Reads and parses the file. 0, or -errno when it cannot be read (-ENOENT: missing),
    // -EFBIG when it is too large, -EINVAL when it is not a Wine registry file.
    int Load(const std::string& path);
    // Parses text already in memory; same results as Load.
    int Parse(std::string_view text);

    // Key path relative to the file's root, backslash-separated, compared without regard
    // to ASCII case; leading and trailing backslashes are ignored.
    const RegKey* FindKey(std::string_view path) const;
    std::size_t KeyCount() const { return keys_.size(); }

    // Why the file was rejected; empty when it was read.
    const std::string& Error() const { return error_; }
    const std::vector<RegDiagnostic>& Diagnostics() const { return diagnostics_; }
    // The skipped lines that stood in the key at path (compared as FindKey does).
    std::vector<RegDiagnostic> KeyDiagnostics(std::string_view path) const;

private:
    void Clear();

    std::unordered_map<std::string, RegKey> keys_;
    std::string error_;
    std::vector<RegDiagnostic> diagnostics_;
};

// ASCII lower case, the registry's name comparison for the names this program uses.
std::string FoldRegName(std::string_view name);

}  // namespace hydrix::platform
