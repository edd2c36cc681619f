// The user.reg parser on arbitrary text: it must never crash, and what it keeps must
// be readable back through the lookups the settings store uses.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "platform/reg_file.h"

using hydrix::fuzz::Check;
using hydrix::platform::RegFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    RegFile file;
    const int rc = file.Parse(text);
    Check(rc == 0 || !file.Error().empty(), "a rejected file says why");
    Check(rc != 0 || file.Error().empty(), "an accepted file has no error");
    for (const auto& d : file.Diagnostics()) {
        Check(d.line >= 1 && !d.message.empty(), "diagnostics name a line");
    }
    for (const char* path : {"Software\\Velmar Sensors\\Tidewise\\Settings", "\\Software\\", "", "a", "A\\b"}) {
        const auto* key = file.FindKey(path);
        if (key == nullptr) {
            continue;
        }
        for (const auto& [name, value] : key->values) {
            Check(key->Find(name) == &value, "a value is found by its own name");
            Check(value.data.size() <= RegFile::kMaxValueBytes + 2, "value data within the limit");
            (void)hydrix::platform::RegValueText(value);
        }
    }
    // The same text parsed again gives the same result: Parse starts afresh.
    const std::size_t keys = file.KeyCount();
    Check(file.Parse(text) == rc && file.KeyCount() == keys, "parsing is repeatable");
    return 0;
}
