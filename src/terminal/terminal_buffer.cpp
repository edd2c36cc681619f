#include "terminal/terminal_buffer.h"

#include <algorithm>
#include <utility>

namespace hydrix::terminal {

namespace {

int Clamp(long long value, int low, int high) {
    return static_cast<int>(std::clamp<long long>(value, low, high));
}

}  // namespace

TerminalBuffer::TerminalBuffer(bool wideChars)
    : wideChars_(wideChars), chars_(wideChars ? 2 : 1), charSets_(1), attrs_(1), foreColors_(4), backColors_(4) {
    chars_.SetDefaultItem(defaultChar_);
    charSets_.SetDefaultItem(charSet_);
    attrs_.SetDefaultItem(charAttrs_);
    foreColors_.SetDefaultItem(foreColor_);
    backColors_.SetDefaultItem(backColor_);
    ForEachPlane([this](TerminalArray& plane) {
        plane.SetColCount(colCount_);
        plane.SetRowCount(svRowCount_);
    });
    horzTabs_.assign(static_cast<size_t>(colCount_), false);
    vertTabs_.assign(static_cast<size_t>(rowCount_), false);
    scrollBottom_ = rowCount_;
    UpdateRegion();
    SetHomeTabStops();
    curRow_ = ScreenTop();
    curCol_ = 0;
    cursorMoved_ = true;
    Invalidate(ScreenTop(), 0, colCount_ - 1, svRowCount_ - 1);
    Notify();
}

template <typename Fn>
void TerminalBuffer::ForEachPlane(Fn fn) {
    fn(chars_);
    fn(charSets_);
    fn(attrs_);
    fn(foreColors_);
    fn(backColors_);
}

// ---- region, notification, invalidation ----

void TerminalBuffer::UpdateRegion() {
    region_.Left = 0;
    region_.Width = colCount_;
    if (scrollRegionActive_) {
        region_.Top = ScreenTop() + scrollTop_ - 1;
        region_.Height = scrollBottom_ - scrollTop_ + 1;
    } else {
        region_.Top = ScreenTop();
        region_.Height = rowCount_;
    }
}

void TerminalBuffer::Notify() {
    if (observer_ != nullptr && cursorMoved_) {
        observer_->CursorMoved(*this, CursorRow(), CursorCol());
    }
}

void TerminalBuffer::MoveTo(int row, int col) {
    if (row != curRow_ || col != curCol_) {
        curRow_ = row;
        curCol_ = col;
        cursorMoved_ = true;
    }
    Notify();
}

void TerminalBuffer::ScrollBufferRows(int count, int top, int bottom) {
    ForEachPlane([&](TerminalArray& plane) { plane.ScrollRows(count, top, bottom); });
    if (observer_ != nullptr) {
        observer_->RowsScrolled(*this, count, top - ScreenTop() + 1, bottom - ScreenTop() + 1);
    }
}

void TerminalBuffer::Invalidate(int top, int left, int right, int bottom) {
    if (top > bottom) {
        std::swap(top, bottom);
    }
    int offset = ScreenTop() - 1;
    // One report per batch: the painter takes every queued rectangle at once, so a
    // report is only needed when the queue stops being empty.
    const bool wasEmpty = invalid_.Empty();
    invalid_.Add(CellRect{left + 1, top - offset, right + 1, bottom - offset});
    if (wasEmpty && observer_ != nullptr) {
        observer_->Damaged(*this);
    }
}

void TerminalBuffer::ClearCells(int row, int fromCol, int toCol) {
    ForEachPlane([&](TerminalArray& plane) { plane.ClearItems(row, fromCol, toCol); });
}

bool TerminalBuffer::TakeInvalidRect(CellRect& rect) {
    return invalid_.Take(rect);
}

bool TerminalBuffer::TakeCursorMoved() {
    return std::exchange(cursorMoved_, false);
}

// ---- sizes ----

void TerminalBuffer::tbSetColCount(int n) {
    if (n == colCount_) {
        return;
    }
    if (n < 2) {
        throw ETerminalError("TTerminalBuffer.tbSetColCount: new count too small");
    }
    horzTabs_.resize(static_cast<size_t>(n), false);
    ForEachPlane([n](TerminalArray& plane) { plane.SetColCount(n); });
    colCount_ = n;
    UpdateRegion();
    Invalidate(ScreenTop(), 0, colCount_ - 1, svRowCount_ - 1);
    if (scrollRegionActive_) {
        SetScrollRegionActive(false);
    } else {
        wrapPending_ = false;
        if (curRow_ != ScreenTop() || curCol_ != 0) {
            cursorMoved_ = true;
        }
        curRow_ = ScreenTop();
        curCol_ = 0;
    }
}

void TerminalBuffer::tbSetRowCount(int n) {
    if (n == rowCount_ || n > svRowCount_) {
        return;
    }
    if (n < 2) {
        throw ETerminalError("TTerminalBuffer.tbSetRowCount: new count too small");
    }
    SetScrollRegionActive(false);
    vertTabs_.resize(static_cast<size_t>(n), false);
    rowCount_ = n;
    scrollTop_ = std::min(scrollTop_, n);
    scrollBottom_ = std::min(scrollBottom_, n);
    UpdateRegion();
    if (curRow_ < region_.Top) {
        curRow_ = region_.Top;
        cursorMoved_ = true;
    }
}

void TerminalBuffer::tbSetSVRowCount(int n) {
    if (n == svRowCount_) {
        return;
    }
    if (n < 2) {
        throw ETerminalError("TTerminalBuffer.tbSetSVRowCount: new count too small");
    }
    int delta = n - svRowCount_;
    if (n < rowCount_) {
        rowCount_ = n;
        vertTabs_.resize(static_cast<size_t>(n), false);
        scrollTop_ = std::min(scrollTop_, n);
        scrollBottom_ = std::min(scrollBottom_, n);
    }
    ForEachPlane([n](TerminalArray& plane) { plane.SetRowCount(n); });
    svRowCount_ = n;
    UpdateRegion();
    curRow_ = Clamp(static_cast<long long>(curRow_) + delta, 0, n - 1);
    Invalidate(ScreenTop(), 0, colCount_ - 1, svRowCount_ - 1);
}

// ---- cursor placement ----

int TerminalBuffer::CursorRow() const {
    return curRow_ - (absAddress_ ? ScreenTop() : region_.Top) + 1;
}

int TerminalBuffer::CursorCol() const {
    return curCol_ - (absAddress_ ? 0 : region_.Left) + 1;
}

void TerminalBuffer::SetCursorRow(int row) {
    wrapPending_ = false;
    if (row == CursorRow()) {
        return;
    }
    long long base = absAddress_ ? ScreenTop() : region_.Top;
    curRow_ = Clamp(row + base - 1, 0, svRowCount_ - 1);
    cursorMoved_ = true;
    Notify();
}

void TerminalBuffer::SetCursorCol(int col) {
    wrapPending_ = false;
    if (col == CursorCol()) {
        return;
    }
    long long base = absAddress_ ? 0 : region_.Left;
    curCol_ = Clamp(col + base - 1, 0, colCount_ - 1);
    cursorMoved_ = true;
    Notify();
}

void TerminalBuffer::CursorPos(int row, int col) {
    SetCursorRow(row);
    SetCursorCol(col);
}

// ---- cursor moves ----

void TerminalBuffer::CursorLeft(bool wrap, bool scroll) {
    wrapPending_ = false;
    if (curCol_ > region_.Left) {
        MoveTo(curRow_, curCol_ - 1);
    } else if (!wrap) {
        return;
    } else if (curRow_ > region_.Top) {
        MoveTo(curRow_ - 1, RightEdge());
    } else if (scroll) {
        ScrollBufferRows(-1, region_.Top, BottomEdge());
        Invalidate(region_.Top, 0, colCount_ - 1, BottomEdge());
        MoveTo(curRow_, RightEdge());
    }
}

void TerminalBuffer::CursorRight(bool wrap, bool scroll) {
    wrapPending_ = false;
    if (curCol_ < RightEdge()) {
        MoveTo(curRow_, curCol_ + 1);
    } else if (!wrap) {
        return;
    } else if (curRow_ < BottomEdge()) {
        MoveTo(curRow_ + 1, region_.Left);
    } else if (scroll) {
        // With the whole screen active the top row goes into the scrollback.
        ScrollBufferRows(1, scrollRegionActive_ ? region_.Top : 0, BottomEdge());
        Invalidate(region_.Top, 0, colCount_ - 1, BottomEdge());
        MoveTo(curRow_, region_.Left);
    }
}

void TerminalBuffer::CursorUp(bool scroll) {
    wrapPending_ = false;
    if (curRow_ > region_.Top) {
        MoveTo(curRow_ - 1, curCol_);
    } else if (scroll) {
        ScrollBufferRows(-1, region_.Top, BottomEdge());
        Invalidate(region_.Top, 0, colCount_ - 1, BottomEdge());
    }
}

void TerminalBuffer::CursorDown(bool scroll) {
    wrapPending_ = false;
    if (curRow_ < BottomEdge()) {
        MoveTo(curRow_ + 1, curCol_);
    } else if (scroll) {
        ScrollBufferRows(1, scrollRegionActive_ ? region_.Top : 0, BottomEdge());
        Invalidate(region_.Top, 0, colCount_ - 1, BottomEdge());
    }
}

void TerminalBuffer::Backspace() {
    wrapPending_ = false;
    if (curCol_ > region_.Left) {
        MoveTo(curRow_, curCol_ - 1);
    }
}

void TerminalBuffer::CarriageReturn() {
    wrapPending_ = false;
    MoveTo(curRow_, region_.Left);
}

void TerminalBuffer::LineFeed() {
    wrapPending_ = false;
    if (newLineMode_) {
        CarriageReturn();
    }
    CursorDown(true);
}

// ---- tabs ----

void TerminalBuffer::TabHorz() {
    wrapPending_ = false;
    int target = std::max(curCol_, RightEdge());
    for (int c = curCol_ + 1; c <= RightEdge(); ++c) {
        if (horzTabs_[static_cast<size_t>(c)]) {
            target = c;
            break;
        }
    }
    MoveTo(curRow_, target);
}

void TerminalBuffer::BackTabHorz() {
    wrapPending_ = false;
    int target = std::min(curCol_, region_.Left);
    for (int c = curCol_ - 1; c >= region_.Left; --c) {
        if (horzTabs_[static_cast<size_t>(c)]) {
            target = c;
            break;
        }
    }
    MoveTo(curRow_, target);
}

void TerminalBuffer::TabVert() {
    wrapPending_ = false;
    int target = std::max(curRow_, BottomEdge());
    for (int r = curRow_ + 1; r <= BottomEdge(); ++r) {
        if (VertTabStop(r - ScreenTop() + 1)) {
            target = r;
            break;
        }
    }
    MoveTo(target, curCol_);
}

void TerminalBuffer::BackTabVert() {
    wrapPending_ = false;
    int target = std::min(curRow_, region_.Top);
    for (int r = curRow_ - 1; r >= region_.Top; --r) {
        if (VertTabStop(r - ScreenTop() + 1)) {
            target = r;
            break;
        }
    }
    MoveTo(target, curCol_);
}

void TerminalBuffer::SetHomeTabStops() {
    for (int c = 0; c < colCount_; c += 8) {
        horzTabs_[static_cast<size_t>(c)] = true;
    }
}

void TerminalBuffer::SetHorzTabStop() {
    horzTabs_[static_cast<size_t>(curCol_)] = true;
}

void TerminalBuffer::ClearHorzTabStop() {
    horzTabs_[static_cast<size_t>(curCol_)] = false;
}

void TerminalBuffer::SetVertTabStop() {
    int row = curRow_ - ScreenTop();
    if (row >= 0 && row < rowCount_) {
        vertTabs_[static_cast<size_t>(row)] = true;
    }
}

void TerminalBuffer::ClearVertTabStop() {
    int row = curRow_ - ScreenTop();
    if (row >= 0 && row < rowCount_) {
        vertTabs_[static_cast<size_t>(row)] = false;
    }
}

void TerminalBuffer::ClearAllHorzTabStops() {
    std::fill(horzTabs_.begin(), horzTabs_.end(), false);
}

void TerminalBuffer::ClearAllVertTabStops() {
    std::fill(vertTabs_.begin(), vertTabs_.end(), false);
}

bool TerminalBuffer::HorzTabStop(int col) const {
    return col >= 1 && col <= colCount_ && horzTabs_[static_cast<size_t>(col - 1)];
}

bool TerminalBuffer::VertTabStop(int row) const {
    return row >= 1 && row <= rowCount_ && vertTabs_[static_cast<size_t>(row - 1)];
}

// ---- writing and editing ----

void TerminalBuffer::WriteChar(uint8_t ch) {
    if (wrapPending_) {
        wrapPending_ = false;
        CursorRight(autoWrap_, true);
    }
    if (insertMode_) {
        ForEachPlane([this](TerminalArray& plane) { plane.InsertItems(1, curRow_, curCol_); });
    }
    if (wideChars_) {
        *static_cast<uint16_t*>(chars_.GetItemPtr(curRow_, curCol_)) = ch;
    } else {
        *static_cast<uint8_t*>(chars_.GetItemPtr(curRow_, curCol_)) = ch;
    }
    *static_cast<uint8_t*>(charSets_.GetItemPtr(curRow_, curCol_)) = charSet_;
    *static_cast<uint8_t*>(attrs_.GetItemPtr(curRow_, curCol_)) = charAttrs_;
    *static_cast<uint32_t*>(foreColors_.GetItemPtr(curRow_, curCol_)) = foreColor_;
    *static_cast<uint32_t*>(backColors_.GetItemPtr(curRow_, curCol_)) = backColor_;
    Invalidate(curRow_, curCol_, curCol_, curRow_);
    if (autoWrapDelay_ && curCol_ == RightEdge()) {
        wrapPending_ = true;
    } else {
        CursorRight(autoWrap_, true);
    }
}

void TerminalBuffer::WriteRun(const uint8_t* data, int count) {
    while (count > 0) {
        if (wrapPending_) {
            wrapPending_ = false;
            CursorRight(autoWrap_, true);
        }
        const int right = RightEdge();
        if (!autoWrap_ && curCol_ == right) {
            // Every character lands in the last column; the last one stays.
            data += count - 1;
            count = 1;
        }
        const int n = std::min(count, right - curCol_ + 1);
        PutCells(data, n);
        data += n;
        count -= n;
        const int next = curCol_ + n;
        if (next <= right) {
            MoveTo(curRow_, next);
            continue;
        }
        // The last character went into the last column.
        if (n > 1) {
            MoveTo(curRow_, right);
        }
        if (autoWrapDelay_) {
            wrapPending_ = true;
        } else {
            CursorRight(autoWrap_, true);
        }
    }
}

void TerminalBuffer::PutCells(const uint8_t* data, int count) {
    if (insertMode_) {
        ForEachPlane([&](TerminalArray& plane) { plane.InsertItems(count, curRow_, curCol_); });
    }
    if (wideChars_) {
        auto* cells = static_cast<uint16_t*>(chars_.GetItemPtr(curRow_, curCol_));
        std::copy_n(data, count, cells);
    } else {
        chars_.WriteItems(data, count, curCol_, curRow_);
    }
    charSets_.FillItems(charSet_, count, curCol_, curRow_);
    attrs_.FillItems(charAttrs_, count, curCol_, curRow_);
    foreColors_.FillItems(foreColor_, count, curCol_, curRow_);
    backColors_.FillItems(backColor_, count, curCol_, curRow_);
    Invalidate(curRow_, curCol_, curCol_ + count - 1, curRow_);
}

void TerminalBuffer::WriteString(std::string_view s) {
    for (char ch : s) {
        WriteChar(static_cast<uint8_t>(ch));
    }
}

void TerminalBuffer::InsertChars(int count) {
    wrapPending_ = false;
    int k = std::min(count, RightEdge() + 1 - curCol_);
    if (k <= 0) {
        return;
    }
    ForEachPlane([&](TerminalArray& plane) { plane.InsertItems(k, curRow_, curCol_); });
    Invalidate(curRow_, curCol_, RightEdge(), curRow_);
}

void TerminalBuffer::DeleteChars(int count) {
    wrapPending_ = false;
    int k = std::min(count, RightEdge() + 1 - curCol_);
    if (k <= 0) {
        return;
    }
    ForEachPlane([&](TerminalArray& plane) { plane.DeleteItems(k, curRow_, curCol_); });
    Invalidate(curRow_, curCol_, RightEdge(), curRow_);
}

void TerminalBuffer::InsertLines(int count) {
    wrapPending_ = false;
    ScrollBufferRows(-std::max(count, -svRowCount_), curRow_, BottomEdge());
    Invalidate(curRow_, region_.Left, RightEdge(), BottomEdge());
}

void TerminalBuffer::DeleteLines(int count) {
    wrapPending_ = false;
    ScrollBufferRows(std::max(count, -svRowCount_), curRow_, BottomEdge());
    Invalidate(curRow_, region_.Left, RightEdge(), BottomEdge());
}

// ---- erasing ----

void TerminalBuffer::EraseChars(int count) {
    wrapPending_ = false;
    long long remaining = count;
    int row = curRow_;
    int col = curCol_;
    while (remaining > 0) {
        int end = Clamp(col + remaining - 1, col, RightEdge());
        ClearCells(row, col, end);
        Invalidate(row, col, end, row);
        remaining -= end - col + 1;
        ++row;
        col = region_.Left;
        if (row > BottomEdge() || row >= svRowCount_) {
            break;
        }
    }
}

void TerminalBuffer::EraseToEOL() {
    wrapPending_ = false;
    ClearCells(curRow_, curCol_, RightEdge());
    Invalidate(curRow_, curCol_, RightEdge(), curRow_);
}

void TerminalBuffer::EraseFromBOL() {
    wrapPending_ = false;
    ClearCells(curRow_, region_.Left, curCol_);
    Invalidate(curRow_, region_.Left, curCol_, curRow_);
}

void TerminalBuffer::EraseLine() {
    wrapPending_ = false;
    ClearCells(curRow_, region_.Left, RightEdge());
    Invalidate(curRow_, region_.Left, RightEdge(), curRow_);
}

void TerminalBuffer::EraseToEOW() {
    wrapPending_ = false;
    ClearCells(curRow_, curCol_, colCount_ - 1);
    Invalidate(curRow_, curCol_, colCount_ - 1, curRow_);
    int last = svRowCount_ - 1;
    if (curRow_ < last) {
        ScrollBufferRows(last - curRow_, curRow_ + 1, last);
        Invalidate(curRow_ + 1, 0, colCount_ - 1, last);
    }
}

void TerminalBuffer::EraseFromBOW() {
    wrapPending_ = false;
    ClearCells(curRow_, 0, curCol_);
    Invalidate(curRow_, 0, curCol_, curRow_);
    if (curRow_ > ScreenTop()) {
        ScrollBufferRows(curRow_ - ScreenTop(), ScreenTop(), curRow_ - 1);
        Invalidate(ScreenTop(), 0, colCount_ - 1, curRow_ - 1);
    }
}

void TerminalBuffer::EraseScreen() {
    wrapPending_ = false;
    // The screen's rows move into the scrollback.
    ScrollBufferRows(rowCount_, 0, svRowCount_ - 1);
    Invalidate(ScreenTop(), 0, colCount_ - 1, svRowCount_ - 1);
}

void TerminalBuffer::EraseAll() {
    wrapPending_ = false;
    ForEachPlane([](TerminalArray& plane) { plane.Clear(); });
    SetCursorRow(1);
    SetCursorCol(1);
    Invalidate(curRow_, 0, colCount_ - 1, svRowCount_ - 1);
}

// ---- scroll region and reset ----

void TerminalBuffer::SetScrollRegion(int top, int bottom) {
    wrapPending_ = false;
    if (top > bottom) {
        std::swap(top, bottom);
    }
    scrollTop_ = std::clamp(top, 1, rowCount_);
    scrollBottom_ = std::clamp(bottom, 1, rowCount_);
    SetScrollRegionActive(false);
    if (scrollTop_ != 1 || scrollBottom_ != rowCount_) {
        SetScrollRegionActive(true);
    }
}

void TerminalBuffer::SetScrollRegionActive(bool on) {
    if (on == scrollRegionActive_) {
        return;
    }
    wrapPending_ = false;
    scrollRegionActive_ = on;
    UpdateRegion();
    curRow_ = region_.Top;
    curCol_ = region_.Left;
    cursorMoved_ = true;
    Notify();
}

void TerminalBuffer::Reset() {
    SetCharAttrs(defaultCharAttrs_);
    SetForeColor(defaultForeColor_);
    SetBackColor(defaultBackColor_);
    SetCharSet(defaultCharSet_);
    chars_.SetDefaultItem(defaultChar_);
    ForEachPlane([](TerminalArray& plane) { plane.Clear(); });
    ClearAllHorzTabStops();
    ClearAllVertTabStops();
    SetHomeTabStops();
    // Setting the stops walks the cursor over them; it ends on the last one.
    int lastStop = (colCount_ - 1) / 8 * 8;
    if (curCol_ != lastStop) {
        curCol_ = lastStop;
        cursorMoved_ = true;
    }
    absAddress_ = true;
    autoWrap_ = true;
    autoWrapDelay_ = true;
    insertMode_ = false;
    newLineMode_ = false;
    SetScrollRegionActive(false);
    wrapPending_ = false;
    SetCursorRow(1);
    SetCursorCol(1);
    // The cells changed under the screen, so it is repainted.
    Invalidate(ScreenTop(), 0, colCount_ - 1, svRowCount_ - 1);
}

// ---- writing values and defaults ----

void TerminalBuffer::SetForeColor(uint32_t color) {
    foreColor_ = color;
    foreColors_.SetDefaultItem(color);
}

void TerminalBuffer::SetBackColor(uint32_t color) {
    backColor_ = color;
    backColors_.SetDefaultItem(color);
}

void TerminalBuffer::SetCharAttrs(CharAttrSet attrs) {
    charAttrs_ = attrs;
    attrs_.SetDefaultItem(attrs);
}

void TerminalBuffer::SetCharSet(uint8_t charSet) {
    charSet_ = charSet;
    charSets_.SetDefaultItem(charSet);
}

void TerminalBuffer::SetDefaultForeColor(uint32_t color) {
    if (color == defaultForeColor_) {
        return;
    }
    foreColors_.ReplaceItem(defaultForeColor_, color);
    defaultForeColor_ = color;
}

void TerminalBuffer::SetDefaultBackColor(uint32_t color) {
    if (color == defaultBackColor_) {
        return;
    }
    backColors_.ReplaceItem(defaultBackColor_, color);
    defaultBackColor_ = color;
}

void TerminalBuffer::SetDefaultChar(uint8_t ch) {
    defaultChar_ = ch;
    chars_.SetDefaultItem(ch);
}

// ---- rows ----

int TerminalBuffer::InternalRow(int screenRow) const {
    return Clamp(static_cast<long long>(screenRow) + ScreenTop() - 1, -1, svRowCount_);
}

uint8_t* TerminalBuffer::RowChars(int row) {
    return static_cast<uint8_t*>(chars_.GetItemPtr(InternalRow(row), 0));
}

uint16_t* TerminalBuffer::RowWideChars(int row) {
    return wideChars_ ? static_cast<uint16_t*>(chars_.GetItemPtr(InternalRow(row), 0)) : nullptr;
}

CharAttrSet* TerminalBuffer::RowAttrs(int row) {
    return static_cast<CharAttrSet*>(attrs_.GetItemPtr(InternalRow(row), 0));
}

uint8_t* TerminalBuffer::RowCharSets(int row) {
    return static_cast<uint8_t*>(charSets_.GetItemPtr(InternalRow(row), 0));
}

uint32_t* TerminalBuffer::RowForeColors(int row) {
    return static_cast<uint32_t*>(foreColors_.GetItemPtr(InternalRow(row), 0));
}

uint32_t* TerminalBuffer::RowBackColors(int row) {
    return static_cast<uint32_t*>(backColors_.GetItemPtr(InternalRow(row), 0));
}

}  // namespace hydrix::terminal
