// Message table of the serial layer: the text shown for an error code.
// Codes come up from the dispatcher and the device layer; CheckError and the
// exception classes turn them into messages through ErrorText.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace hydrix::comm {

// Longest message ErrorText returns.
constexpr size_t kMaxErrorTextLength = 255;

// Text of a code, looked up by the absolute value of its low 16 bits (so -2001 and
// 2001 give the same text). Codes without an entry get the system's text for that
// number, with control characters made spaces and runs of spaces collapsed.
std::string ErrorText(int32_t code);

struct ErrorEntry {
    int32_t code;
    const char* text;
};

// The table ErrorText looks in, ordered by ascending absolute code.
std::span<const ErrorEntry> ErrorTable();

}  // namespace hydrix::comm
