// The terminal control's view: cell size, which part of the buffer the client area
// shows, the scroll bars, following the cursor, painting and the caret.
#include <algorithm>

#include "terminal/terminal_control.h"

namespace hydrix::terminal {

namespace {

PixelRect Intersect(const PixelRect& a, const PixelRect& b) {
    return PixelRect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                     std::min(a.bottom, b.bottom)};
}

bool IsEmpty(const PixelRect& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

int CeilDiv(int a, int b) {
    return (a + b - 1) / b;
}

}  // namespace

void CustomTerminal::MeasureCell() {
    charWidth_ = 0;
    charHeight_ = 0;
    if (host_ != nullptr) {
        const CellSize cell = host_->MeasureFont(font_);
        charWidth_ = cell.Width;
        charHeight_ = cell.Height;
    }
    if (handle_ != 0) {
        RecomputeView();
        Invalidate();
    }
}

void CustomTerminal::RecomputeView() {
    const int w = std::max(clientWidth_, 0);
    const int h = std::max(clientHeight_, 0);
    if (Buffer() == nullptr || charWidth_ <= 0 || charHeight_ <= 0) {
        visibleCols_ = fullCols_ = visibleRows_ = fullRows_ = 0;
        textRect_ = PixelRect{};
        rightMargin_ = PixelRect{0, 0, w, 0};
        bottomMargin_ = PixelRect{0, 0, w, h};
        return;
    }
    const int cols = Columns();
    const int rows = Rows();
    visibleCols_ = std::min(CeilDiv(w, charWidth_), cols - leftCol_ + 1);
    fullCols_ = std::min(w / charWidth_, cols - leftCol_ + 1);
    visibleRows_ = std::min(CeilDiv(h, charHeight_), rows - topRow_ + 1);
    fullRows_ = std::min(h / charHeight_, rows - topRow_ + 1);

    if (handle_ != 0) {
        if (fullCols_ < cols && !needHorz_) {
            needHorz_ = true;
            PostToSelf(AM_TERMRECREATE, 0, 0);
            return;
        }
        if (fullCols_ >= cols && HorzBarWanted()) {
            needHorz_ = false;
            PostToSelf(AM_TERMRECREATE, 0, 0);
            return;
        }
        if (fullRows_ < rows && !needVert_) {
            needVert_ = true;
            if (rows >= ScrollbackRows()) {
                PostToSelf(AM_TERMRECREATE, 0, 0);
                return;
            }
        } else if (fullRows_ >= rows && needVert_) {
            needVert_ = false;
            PostToSelf(AM_TERMRECREATE, 0, 0);
            return;
        }
    }

    textRect_ = PixelRect{0, 0, std::min(visibleCols_ * charWidth_, w), std::min(visibleRows_ * charHeight_, h)};
    rightMargin_ = PixelRect{textRect_.right, 0, w, textRect_.bottom};
    bottomMargin_ = PixelRect{0, textRect_.bottom, w, h};
    if (HorzBarWanted()) {
        SetBarInfo(ScrollBarKind::Horizontal, MakeHorzInfo());
    }
    if (VertBarWanted()) {
        SetBarInfo(ScrollBarKind::Vertical, MakeVertInfo());
    }
}

void CustomTerminal::ApplyScrollBars() {
    // Where the window would be recreated with new scroll-bar styles, the bars are only
    // shown or hidden: the port handler stays attached and no received byte is lost.
    const bool horz = HorzBarWanted();
    const bool vert = VertBarWanted();
    if (horz != hasHScroll_) {
        hasHScroll_ = horz;
        if (host_ != nullptr) {
            host_->ShowScrollBar(ScrollBarKind::Horizontal, horz);
        }
    }
    if (vert != hasVScroll_) {
        hasVScroll_ = vert;
        if (host_ != nullptr) {
            host_->ShowScrollBar(ScrollBarKind::Vertical, vert);
        }
    }
    RecomputeView();
    Invalidate();
}

bool CustomTerminal::HorzBarWanted() const {
    return needHorz_ && (!hideScrollbars_ || cursorBeyondWidth_);
}

bool CustomTerminal::VertBarWanted() const {
    const bool scrollbackBar = Rows() < ScrollbackRows() && scrollback_;
    if (hideScrollbars_ && cursorBeyondHeight_) {
        return needVert_ || scrollbackBar;
    }
    return (needVert_ && !hideScrollbars_) || scrollbackBar;
}

ScrollInfo CustomTerminal::MakeHorzInfo() const {
    ScrollInfo info;
    info.Mask = kScrollInfoAll;
    info.Min = 0;
    info.Max = Columns() - 1;
    info.Page = fullCols_;
    info.Pos = leftCol_ - 1;
    return info;
}

ScrollInfo CustomTerminal::MakeVertInfo() const {
    ScrollInfo info;
    info.Mask = kScrollInfoAll;
    info.Min = (needVert_ && !scrollback_) ? 0 : Rows() - ScrollbackRows();
    info.Max = Rows() - 1;
    info.Page = fullRows_;
    info.Pos = topRow_ - 1;
    return info;
}

void CustomTerminal::SetBarInfo(ScrollBarKind bar, const ScrollInfo& info) {
    const bool horz = bar == ScrollBarKind::Horizontal;
    ScrollInfo& kept = horz ? hScrollInfo_ : vScrollInfo_;
    if (info.Mask == SIF_POS) {
        kept.Pos = info.Pos;
    } else {
        kept = info;
    }
    // Handing a range to a bar shows it, as the system's own bars do.
    bool& shown = horz ? hasHScroll_ : hasVScroll_;
    if (!shown) {
        shown = true;
        if (host_ != nullptr) {
            host_->ShowScrollBar(bar, true);
        }
    }
    if (host_ != nullptr) {
        host_->SetScrollInfo(bar, info);
    }
}

void CustomTerminal::RefreshScrollBars() {
    RefreshVertBar();
    RefreshHorzBar();
}

void CustomTerminal::RefreshVertBar() {
    if (VertBarWanted()) {
        SetBarInfo(ScrollBarKind::Vertical, MakeVertInfo());
    } else if (hasVScroll_) {
        hasVScroll_ = false;
        if (host_ != nullptr) {
            host_->ShowScrollBar(ScrollBarKind::Vertical, false);
        }
    }
}

void CustomTerminal::RefreshHorzBar() {
    if (HorzBarWanted()) {
        SetBarInfo(ScrollBarKind::Horizontal, MakeHorzInfo());
    } else if (hasHScroll_) {
        hasHScroll_ = false;
        if (host_ != nullptr) {
            host_->ShowScrollBar(ScrollBarKind::Horizontal, false);
        }
    }
}

void CustomTerminal::ScrollToCol(int col) {
    if (col == leftCol_) {
        return;
    }
    col = std::clamp(col, 1, std::max(Columns() - fullCols_ + 1, 1));
    if (col == leftCol_) {
        return;
    }
    const int old = leftCol_;
    leftCol_ = col;
    if (host_ != nullptr) {
        host_->ScrollWindow((old - col) * charWidth_, 0);
    }
    RecomputeView();
    ScrollInfo pos;
    pos.Mask = SIF_POS;
    pos.Pos = leftCol_ - 1;
    SetBarInfo(ScrollBarKind::Horizontal, pos);
}

int CustomTerminal::LowestTopRow() const {
    return (needVert_ && !scrollback_) ? 1 : Rows() - ScrollbackRows() + 1;
}

void CustomTerminal::ScrollToRow(int row) {
    if (row == topRow_) {
        return;
    }
    const int lowest = LowestTopRow();
    const int highest = std::max(Rows() - fullRows_ + 1, 1);
    row = row < lowest ? lowest : std::min(row, highest);
    if (row == topRow_) {
        return;
    }
    const int old = topRow_;
    topRow_ = row;
    if (host_ != nullptr) {
        host_->ScrollWindow(0, (old - row) * charHeight_);
    }
    RecomputeView();
    ScrollInfo pos;
    pos.Mask = SIF_POS;
    pos.Pos = topRow_ - 1;
    SetBarInfo(ScrollBarKind::Vertical, pos);
}

void CustomTerminal::HScroll(int code, int pos) {
    int col;
    switch (code) {
    case SB_LINELEFT:
        col = leftCol_ - 1;
        break;
    case SB_LINERIGHT:
        col = leftCol_ + 1;
        break;
    case SB_PAGELEFT:
        col = leftCol_ - fullCols_;
        break;
    case SB_PAGERIGHT:
        col = leftCol_ + fullCols_;
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        col = static_cast<int16_t>(pos) + 1;
        break;
    default:
        return;
    }
    ScrollToCol(col);
}

void CustomTerminal::VScroll(int code, int pos) {
    if (needVert_) {
        if (!scrollback_ && autoScrollback_ && code == SB_LINEUP && topRow_ == 1) {
            SetScrollback(true);
        }
        if (scrollback_ && autoScrollback_ && topRow_ > 1) {
            SetScrollback(false);
        }
    }
    int row;
    switch (code) {
    case SB_LINEUP:
        row = topRow_ - 1;
        break;
    case SB_LINEDOWN:
        row = topRow_ + 1;
        break;
    case SB_PAGEUP:
        row = topRow_ - fullRows_;
        break;
    case SB_PAGEDOWN:
        row = topRow_ + fullRows_;
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        row = static_cast<int16_t>(pos) + 1;
        break;
    default:
        return;
    }
    ScrollToRow(row);
}

void CustomTerminal::Resize(int width, int height) {
    clientWidth_ = std::max(width, 0);
    clientHeight_ = std::max(height, 0);
    if (charWidth_ <= 0 || charHeight_ <= 0) {
        return;
    }
    RecomputeView();
    if (leftCol_ > 1 && visibleCols_ * charWidth_ < clientWidth_) {
        ScrollToCol(Columns() - clientWidth_ / charWidth_ + 1);
    }
    if (topRow_ >= 2 && visibleRows_ * charHeight_ < clientHeight_) {
        ScrollToRow(Rows() - clientHeight_ / charHeight_ + 1);
    }
}

namespace {

// The buffer's cursor in screen coordinates.
void CursorScreenPos(const TerminalBuffer& b, int& row, int& col) {
    row = b.CursorRow();
    col = b.CursorCol();
    if (!b.AbsAddress()) {
        const TerminalRegion region = b.ActiveRegion();
        row += region.Top - (b.SVRowCount() - b.RowCount());
        col += region.Left;
    }
}

}  // namespace

void CustomTerminal::KeepCursorVisible() {
    if (receiving_) {
        followPending_ = true;
        return;
    }
    ScrollCursorIntoView();
}

void CustomTerminal::ScrollCursorIntoView() {
    followPending_ = false;
    TerminalBuffer* b = Buffer();
    if (!followCursor_ || b == nullptr || charWidth_ <= 0 || charHeight_ <= 0) {
        return;
    }
    int r = 0;
    int c = 0;
    CursorScreenPos(*b, r, c);
    if (c < leftCol_) {
        ScrollToCol(c);
    }
    if (leftCol_ + fullCols_ < c) {
        ScrollToCol(c - fullCols_);
    }
    if (r < topRow_) {
        ScrollToRow(r);
    } else if (r >= topRow_ + fullRows_) {
        // The cursor row becomes the last fully visible one.
        ScrollToRow(r - fullRows_ + 1);
    }
}

void CustomTerminal::Invalidate() {
    if (host_ != nullptr) {
        host_->InvalidateRect(nullptr, false);
    }
}

// Painting -----------------------------------------------------------------------------------

void CustomTerminal::Paint(Canvas& canvas) {
    HideCaret();
    canvas_ = &canvas;
    struct Restore {
        CustomTerminal* self;
        ~Restore() {
            self->canvas_ = nullptr;
            self->ShowCaret();
        }
    } restore{this};
    const PixelRect clip = canvas.ClipRect();
    for (const PixelRect& margin : {rightMargin_, bottomMargin_}) {
        const PixelRect part = Intersect(clip, margin);
        if (!IsEmpty(part)) {
            canvas.FillRect(part, color_);
        }
    }
    const PixelRect text = Intersect(clip, textRect_);
    if (!IsEmpty(text)) {
        canvas.SetClip(text);
        emulator_->Paint();
    }
}

// Caret ----------------------------------------------------------------------------------------

void CustomTerminal::PublishCaret() {
    if (host_ != nullptr) {
        host_->SetCaret(caret_);
    }
}

void CustomTerminal::CreateCaret() {
    if (cursorType_ == terminal::CursorType::ctNone) {
        caretCreated_ = false;
        return;
    }
    caretCreated_ = true;
    caret_.Width = charWidth_;
    caret_.Height = cursorType_ == terminal::CursorType::ctUnderline ? 2 : charHeight_;
}

void CustomTerminal::DestroyCaret() {
    if (caretCreated_ || caretShown_) {
        caretShown_ = false;
        caret_.Visible = false;
        PublishCaret();
    }
    caretCreated_ = false;
}

void CustomTerminal::HideCaret() {
    if (!caretShown_) {
        return;
    }
    caretShown_ = false;
    caret_.Visible = false;
    PublishCaret();
}

void CustomTerminal::ShowCaret() {
    if (caretShown_ || !caretCreated_ || host_ == nullptr || !host_->HasFocus() || Buffer() == nullptr) {
        return;
    }
    int row = 0;
    int col = 0;
    CursorScreenPos(*Buffer(), row, col);
    const int x = (col - leftCol_) * charWidth_;
    int y = (row - topRow_) * charHeight_;
    if (cursorType_ == terminal::CursorType::ctUnderline) {
        y += charHeight_ - 2;
    }
    if (x < 0 || x >= clientWidth_ || y < 0 || y >= clientHeight_) {
        return;
    }
    caretShown_ = true;
    caret_.Visible = true;
    caret_.X = x;
    caret_.Y = y;
    PublishCaret();
}

void CustomTerminal::FocusIn() {
    if (!caretCreated_) {
        HideCaret();
    }
    CreateCaret();
    ShowCaret();
}

void CustomTerminal::FocusOut() {
    HideCaret();
    DestroyCaret();
}

}  // namespace hydrix::terminal
