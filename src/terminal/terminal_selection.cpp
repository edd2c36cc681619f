#include "terminal/terminal_selection.h"

#include <algorithm>

#include "platform/dialogs.h"
#include "terminal/emulator_terminal.h"
#include "terminal/terminal_buffer.h"
#include "terminal/terminal_viewport.h"

namespace hydrix::terminal {

namespace {

bool InRange(const TerminalSelection::Range& s, int row, int col) {
    if (s.StartCol <= 0 || row < s.StartRow || row > s.EndRow) {
        return false;
    }
    if (row == s.StartRow && col < s.StartCol) {
        return false;
    }
    return !(row == s.EndRow && col > s.EndCol);
}

}  // namespace

void TerminalSelection::SetMouseSelect(bool value) {
    mouseSelect_ = value;
    selecting_ = false;
    if (!value) {
        Clear();
    }
}

void TerminalSelection::Press(int x, int y) {
    if (host_ != nullptr && !host_->HasFocus()) {
        host_->SetFocus();
    }
    selecting_ = true;
    view_.ClampToView(x, y);
    if (!mouseSelect_) {
        return;
    }
    const int oldest = buffer_ == nullptr ? 0 : buffer_->RowCount() - buffer_->SVRowCount();
    if (range_.StartCol > 0 && range_.EndCol > 0 && range_.StartRow > oldest && range_.EndRow > oldest) {
        Clear();
    }
    const CellPos cell = view_.CellAt(x, y);
    anchorCol_ = cell.Col;
    anchorRow_ = cell.Row;
    range_ = Range{cell.Col, cell.Row, cell.Col, cell.Row};
}

void TerminalSelection::Drag(int x, int y) {
    if (!selecting_) {
        return;
    }
    view_.ClampToView(x, y);
    if (mouseSelect_) {
        Extend(x, y);
    }
}

void TerminalSelection::Release() {
    if (!selecting_) {
        return;
    }
    if (mouseSelect_ && autoCopy_) {
        Copy();
    }
    selecting_ = false;
}

void TerminalSelection::Cancel() {
    Clear();
    selecting_ = false;
}

void TerminalSelection::Extend(int x, int y) {
    hasSelection_ = true;
    CellPos cell = view_.CellAt(x, y);
    const int cols = buffer_ == nullptr ? 0 : buffer_->ColCount();
    const int rows = buffer_ == nullptr ? 0 : buffer_->RowCount();
    cell.Col = std::clamp(cell.Col, 1, std::max(cols, 1));
    cell.Row = std::min(cell.Row, rows);
    Range next;
    if (cell.Row < anchorRow_) {
        next = Range{cell.Col, cell.Row, anchorCol_, anchorRow_};
    } else if (cell.Row > anchorRow_) {
        next = Range{anchorCol_, anchorRow_, cell.Col, cell.Row};
    } else {
        next = Range{std::min(cell.Col, anchorCol_), cell.Row, std::max(cell.Col, anchorCol_), cell.Row};
    }
    Mark(next);
}

void TerminalSelection::Mark(const Range& next) {
    if (buffer_ == nullptr) {
        range_ = next;
        return;
    }
    int first = next.StartRow;
    int last = next.EndRow;
    if (range_.StartCol > 0) {
        first = std::min(first, range_.StartRow);
        last = std::max(last, range_.EndRow);
    }
    const int cols = buffer_->ColCount();
    for (int row = first; row <= last; ++row) {
        CharAttrSet* attrs = buffer_->RowAttrs(row);
        if (attrs == nullptr) {
            continue;
        }
        bool changed = false;
        for (int col = 1; col <= cols; ++col) {
            CharAttrSet& a = attrs[col - 1];
            const CharAttrSet want = InRange(next, row, col) ? (a | tcaSelected) : (a & ~tcaSelected);
            if (want != a) {
                a = want;
                changed = true;
            }
        }
        if (changed) {
            view_.InvalidateRow(row);
        }
    }
    range_ = next;
}

void TerminalSelection::Clear() {
    const Range s = range_;
    if (s.StartCol == 0 && s.StartRow == 0 && s.EndCol == 0 && s.EndRow == 0) {
        return;
    }
    if (buffer_ != nullptr) {
        const int cols = buffer_->ColCount();
        for (int row = s.StartRow; row <= s.EndRow; ++row) {
            CharAttrSet* attrs = buffer_->RowAttrs(row);
            if (attrs == nullptr) {
                continue;
            }
            const int from = row == s.StartRow ? std::max(s.StartCol, 1) : 1;
            const int to = row == s.EndRow ? std::min(s.EndCol, cols) : cols;
            for (int col = from; col <= to; ++col) {
                attrs[col - 1] &= static_cast<CharAttrSet>(~tcaSelected);
            }
            view_.InvalidateRow(row);
        }
    }
    range_ = Range{};
    anchorCol_ = 0;
    anchorRow_ = 0;
    hasSelection_ = false;
}

void TerminalSelection::Copy() {
    const Range s = range_;
    if (s.StartCol == 0 || buffer_ == nullptr) {
        return;
    }
    const int cols = buffer_->ColCount();
    std::string text;
    auto appendRow = [&](int row, int from, int to) {
        const uint8_t* chars = buffer_->RowChars(row);
        if (chars != nullptr) {
            for (int col = std::max(from, 1); col <= std::min(to, cols); ++col) {
                text.push_back(static_cast<char>(chars[col - 1]));
            }
        }
        text += "\r\n";
    };
    for (int row = s.StartRow; row < s.EndRow; ++row) {
        appendRow(row, row == s.StartRow ? s.StartCol : 1, cols);
    }
    appendRow(s.EndRow, s.EndRow == s.StartRow ? s.StartCol : 1, s.EndCol);
    platform::SetClipboardText(text);
}

void TerminalSelection::Paste(const std::function<void(const std::string&)>& display, TerminalPort* port) {
    const std::string text = platform::ClipboardText();
    if (text.empty()) {
        return;
    }
    if (pasteToScreen_ && pasteToPort_ && port != nullptr) {
        for (char c : text) {
            display(std::string(1, c));
            port->SendChar(static_cast<uint8_t>(c));
        }
        return;
    }
    if (pasteToScreen_) {
        display(text);
    }
    if (pasteToPort_ && port != nullptr) {
        port->SendString(text);
    }
}

}  // namespace hydrix::terminal
