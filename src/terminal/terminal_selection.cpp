// The terminal control's mouse selection (marked with the selected attribute in the
// buffer, so the emulator paints it inverted), copying it to the clipboard as text, and
// pasting clipboard text to the screen and the port.
#include <algorithm>

#include "platform/dialogs.h"
#include "terminal/terminal_control.h"

namespace hydrix::terminal {

namespace {

bool InSelection(const CustomTerminal::Selection& s, int row, int col) {
    if (s.StartCol <= 0 || row < s.StartRow || row > s.EndRow) {
        return false;
    }
    if (row == s.StartRow && col < s.StartCol) {
        return false;
    }
    return !(row == s.EndRow && col > s.EndCol);
}

}  // namespace

CustomTerminal::Cell CustomTerminal::CellAt(int x, int y) const {
    if (charWidth_ <= 0 || charHeight_ <= 0) {
        return Cell{leftCol_, topRow_};
    }
    return Cell{x / charWidth_ + leftCol_, y / charHeight_ + topRow_};
}

void CustomTerminal::ClampToView(int& x, int& y) const {
    x = std::clamp(x, 0, std::max(visibleCols_ * charWidth_ - 1, 0));
    y = std::clamp(y, 0, std::max(visibleRows_ * charHeight_ - 1, 0));
}

void CustomTerminal::MouseDown(MouseButton button, ShiftState shift, int x, int y) {
    if (OnMouseDown) {
        const MouseEvent handler = OnMouseDown;
        handler(*this, button, shift, x, y);
    }
    if (button != MouseButton::mbLeft) {
        return;
    }
    if (host_ != nullptr && !host_->HasFocus()) {
        host_->SetFocus();
    }
    selecting_ = true;
    ClampToView(x, y);
    if (!mouseSelect_) {
        return;
    }
    const int oldest = Rows() - ScrollbackRows();
    if (selection_.StartCol > 0 && selection_.EndCol > 0 && selection_.StartRow > oldest &&
        selection_.EndRow > oldest) {
        ClearSelection();
    }
    anchor_ = CellAt(x, y);
    selection_ = Selection{anchor_.Col, anchor_.Row, anchor_.Col, anchor_.Row};
}

void CustomTerminal::MouseMove(ShiftState shift, int x, int y) {
    if (OnMouseMove) {
        const MouseMoveEvent handler = OnMouseMove;
        handler(*this, shift, x, y);
    }
    if (!selecting_) {
        return;
    }
    ClampToView(x, y);
    if (mouseSelect_) {
        ExtendSelection(x, y);
    }
}

void CustomTerminal::MouseUp(MouseButton button, ShiftState shift, int x, int y) {
    if (OnMouseUp) {
        const MouseEvent handler = OnMouseUp;
        handler(*this, button, shift, x, y);
    }
    if (button != MouseButton::mbLeft || !selecting_) {
        return;
    }
    if (mouseSelect_ && autoCopy_) {
        CopySelection();
    }
    selecting_ = false;
}

void CustomTerminal::CancelMode() {
    ClearSelection();
    selecting_ = false;
}

void CustomTerminal::ExtendSelection(int x, int y) {
    hasSelection_ = true;
    Cell cell = CellAt(x, y);
    cell.Col = std::clamp(cell.Col, 1, std::max(Columns(), 1));
    cell.Row = std::min(cell.Row, Rows());
    Selection next;
    if (cell.Row < anchor_.Row) {
        next = Selection{cell.Col, cell.Row, anchor_.Col, anchor_.Row};
    } else if (cell.Row > anchor_.Row) {
        next = Selection{anchor_.Col, anchor_.Row, cell.Col, cell.Row};
    } else {
        next = Selection{std::min(cell.Col, anchor_.Col), cell.Row, std::max(cell.Col, anchor_.Col), cell.Row};
    }
    MarkSelection(next);
}

void CustomTerminal::MarkSelection(const Selection& next) {
    TerminalBuffer* b = Buffer();
    if (b == nullptr) {
        selection_ = next;
        return;
    }
    int first = next.StartRow;
    int last = next.EndRow;
    if (selection_.StartCol > 0) {
        first = std::min(first, selection_.StartRow);
        last = std::max(last, selection_.EndRow);
    }
    const int cols = b->ColCount();
    for (int row = first; row <= last; ++row) {
        CharAttrSet* attrs = b->RowAttrs(row);
        if (attrs == nullptr) {
            continue;
        }
        bool changed = false;
        for (int col = 1; col <= cols; ++col) {
            CharAttrSet& a = attrs[col - 1];
            const CharAttrSet want = InSelection(next, row, col) ? (a | tcaSelected) : (a & ~tcaSelected);
            if (want != a) {
                a = want;
                changed = true;
            }
        }
        if (changed) {
            InvalidateRow(row);
        }
    }
    selection_ = next;
}

void CustomTerminal::ClearSelection() {
    const Selection s = selection_;
    if (s.StartCol == 0 && s.StartRow == 0 && s.EndCol == 0 && s.EndRow == 0) {
        return;
    }
    if (TerminalBuffer* b = Buffer()) {
        const int cols = b->ColCount();
        for (int row = s.StartRow; row <= s.EndRow; ++row) {
            CharAttrSet* attrs = b->RowAttrs(row);
            if (attrs == nullptr) {
                continue;
            }
            const int from = row == s.StartRow ? std::max(s.StartCol, 1) : 1;
            const int to = row == s.EndRow ? std::min(s.EndCol, cols) : cols;
            for (int col = from; col <= to; ++col) {
                attrs[col - 1] &= static_cast<CharAttrSet>(~tcaSelected);
            }
            InvalidateRow(row);
        }
    }
    selection_ = Selection{};
    anchor_ = Cell{};
    hasSelection_ = false;
}

void CustomTerminal::InvalidateRow(int row) {
    if (host_ == nullptr || row < topRow_ || row >= topRow_ + visibleRows_) {
        return;
    }
    const int y = (row - topRow_) * charHeight_;
    const PixelRect rect{0, y, clientWidth_, y + charHeight_};
    host_->InvalidateRect(&rect, false);
}

void CustomTerminal::CopySelection() {
    const Selection s = selection_;
    TerminalBuffer* b = Buffer();
    if (s.StartCol == 0 || b == nullptr) {
        return;
    }
    const int cols = b->ColCount();
    std::string text;
    auto appendRow = [&](int row, int from, int to) {
        const uint8_t* chars = b->RowChars(row);
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

void CustomTerminal::PasteClipboard() {
    const std::string text = platform::ClipboardText();
    if (text.empty()) {
        return;
    }
    if (pasteToScreen_ && pasteToPort_ && comPort_ != nullptr) {
        for (char c : text) {
            DisplayChar(static_cast<uint8_t>(c));
            comPort_->SendChar(c);
        }
        return;
    }
    if (pasteToScreen_) {
        DisplayString(text);
    }
    if (pasteToPort_ && comPort_ != nullptr) {
        comPort_->SendString(text);
    }
}

}  // namespace hydrix::terminal
