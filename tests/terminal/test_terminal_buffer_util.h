// Reading a terminal buffer's rows as text in tests.
#pragma once

#include <string>

#include "terminal/terminal_buffer.h"

namespace hydrix::terminal::buffer_test {

inline std::string RowText(TerminalBuffer& b, int row) {
    const uint8_t* p = b.RowChars(row);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(b.ColCount())) : std::string();
}

// Row text without trailing blanks.
inline std::string Trimmed(TerminalBuffer& b, int row) {
    std::string s = RowText(b, row);
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

// Writes "row N" at the start of every screen row.
inline void LabelRows(TerminalBuffer& b) {
    for (int r = 1; r <= b.RowCount(); ++r) {
        b.CursorPos(r, 1);
        b.WriteString("row " + std::to_string(r));
    }
}

inline void Drain(TerminalBuffer& b) {
    CellRect r;
    while (b.TakeInvalidRect(r)) {
    }
}

}  // namespace hydrix::terminal::buffer_test
