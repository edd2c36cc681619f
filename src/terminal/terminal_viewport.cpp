#include "terminal/terminal_viewport.h"

#include <algorithm>
#include <optional>

#include "terminal/terminal_buffer.h"

namespace hydrix::terminal {

namespace {

int CeilDiv(int a, int b) {
    return (a + b - 1) / b;
}

// The first column or row a bar request asks for, from the current one and the page;
// nothing for a request that is not handled.
std::optional<int> Requested(int code, int pos, int current, int page) {
    switch (code) {
    case SB_LINEUP:
        return current - 1;
    case SB_LINEDOWN:
        return current + 1;
    case SB_PAGEUP:
        return current - page;
    case SB_PAGEDOWN:
        return current + page;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
        return static_cast<int16_t>(pos) + 1;
    default:
        return std::nullopt;
    }
}

}  // namespace

int TerminalViewport::Columns() const {
    return buffer_ == nullptr ? 0 : buffer_->ColCount();
}

int TerminalViewport::Rows() const {
    return buffer_ == nullptr ? 0 : buffer_->RowCount();
}

int TerminalViewport::ScrollbackRows() const {
    return buffer_ == nullptr ? 0 : buffer_->SVRowCount();
}

void TerminalViewport::Present() {
    if (host_ == nullptr) {
        return;
    }
    host_->ShowScrollBar(ScrollBarKind::Horizontal, hasHScroll_);
    host_->ShowScrollBar(ScrollBarKind::Vertical, hasVScroll_);
    ApplyScrollBars();
}

void TerminalViewport::SetWindowed(bool windowed) {
    windowed_ = windowed;
    if (windowed) {
        hasHScroll_ = HorzBarWanted();
        hasVScroll_ = VertBarWanted();
    }
}

void TerminalViewport::SetScrollback(bool value) {
    scrollback_ = value;
    RefreshVertBar();
}

void TerminalViewport::SetAutoScrollback(bool value) {
    autoScrollback_ = value;
    RefreshVertBar();
}

void TerminalViewport::SetHideScrollbars(bool value) {
    hideScrollbars_ = value;
    RefreshScrollBars();
}

void TerminalViewport::SetFollowCursor(bool value) {
    if (value == followCursor_) {
        return;
    }
    followCursor_ = value;
    KeepCursorVisible();
}

void TerminalViewport::SetCursorBeyond(bool width, bool height) {
    cursorBeyondWidth_ = width;
    cursorBeyondHeight_ = height;
}

void TerminalViewport::SetCell(CellSize cell) {
    charWidth_ = cell.Width;
    charHeight_ = cell.Height;
    if (windowed_) {
        RecomputeView();
        Invalidate();
    }
}

void TerminalViewport::Home() {
    leftCol_ = 1;
    topRow_ = 1;
}

void TerminalViewport::RecomputeView() {
    const int w = std::max(clientWidth_, 0);
    const int h = std::max(clientHeight_, 0);
    if (buffer_ == nullptr || charWidth_ <= 0 || charHeight_ <= 0) {
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

    if (windowed_) {
        if (fullCols_ < cols && !needHorz_) {
            needHorz_ = true;
            relayout_();
            return;
        }
        if (fullCols_ >= cols && HorzBarWanted()) {
            needHorz_ = false;
            relayout_();
            return;
        }
        if (fullRows_ < rows && !needVert_) {
            needVert_ = true;
            if (rows >= ScrollbackRows()) {
                relayout_();
                return;
            }
        } else if (fullRows_ >= rows && needVert_) {
            needVert_ = false;
            relayout_();
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

void TerminalViewport::ApplyScrollBars() {
    // Where the window would be recreated with new scroll-bar styles, the bars are only
    // shown or hidden: the port handler stays attached and no received byte is lost.
    const bool horz = HorzBarWanted();
    const bool vert = VertBarWanted();
    if (horz != hasHScroll_) {
        ShowBar(ScrollBarKind::Horizontal, horz);
    }
    if (vert != hasVScroll_) {
        ShowBar(ScrollBarKind::Vertical, vert);
    }
    RecomputeView();
    Invalidate();
}

void TerminalViewport::ShowBar(ScrollBarKind bar, bool visible) {
    (bar == ScrollBarKind::Horizontal ? hasHScroll_ : hasVScroll_) = visible;
    if (host_ != nullptr) {
        host_->ShowScrollBar(bar, visible);
    }
}

bool TerminalViewport::HorzBarWanted() const {
    return needHorz_ && (!hideScrollbars_ || cursorBeyondWidth_);
}

bool TerminalViewport::VertBarWanted() const {
    const bool scrollbackBar = Rows() < ScrollbackRows() && scrollback_;
    if (hideScrollbars_ && cursorBeyondHeight_) {
        return needVert_ || scrollbackBar;
    }
    return (needVert_ && !hideScrollbars_) || scrollbackBar;
}

ScrollInfo TerminalViewport::MakeHorzInfo() const {
    ScrollInfo info;
    info.Mask = kScrollInfoAll;
    info.Min = 0;
    info.Max = Columns() - 1;
    info.Page = fullCols_;
    info.Pos = leftCol_ - 1;
    return info;
}

ScrollInfo TerminalViewport::MakeVertInfo() const {
    ScrollInfo info;
    info.Mask = kScrollInfoAll;
    info.Min = (needVert_ && !scrollback_) ? 0 : Rows() - ScrollbackRows();
    info.Max = Rows() - 1;
    info.Page = fullRows_;
    info.Pos = topRow_ - 1;
    return info;
}

void TerminalViewport::SetBarInfo(ScrollBarKind bar, const ScrollInfo& info) {
    const bool horz = bar == ScrollBarKind::Horizontal;
    ScrollInfo& kept = horz ? hScrollInfo_ : vScrollInfo_;
    if (info.Mask == SIF_POS) {
        kept.Pos = info.Pos;
    } else {
        kept = info;
    }
    // Handing a range to a bar shows it, as the system's own bars do.
    if (!(horz ? hasHScroll_ : hasVScroll_)) {
        ShowBar(bar, true);
    }
    if (host_ != nullptr) {
        host_->SetScrollInfo(bar, info);
    }
}

void TerminalViewport::RefreshScrollBars() {
    RefreshVertBar();
    RefreshHorzBar();
}

void TerminalViewport::RefreshVertBar() {
    if (VertBarWanted()) {
        SetBarInfo(ScrollBarKind::Vertical, MakeVertInfo());
    } else if (hasVScroll_) {
        ShowBar(ScrollBarKind::Vertical, false);
    }
}

void TerminalViewport::RefreshHorzBar() {
    if (HorzBarWanted()) {
        SetBarInfo(ScrollBarKind::Horizontal, MakeHorzInfo());
    } else if (hasHScroll_) {
        ShowBar(ScrollBarKind::Horizontal, false);
    }
}

void TerminalViewport::ScrollToCol(int col) {
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

int TerminalViewport::LowestTopRow() const {
    return (needVert_ && !scrollback_) ? 1 : Rows() - ScrollbackRows() + 1;
}

void TerminalViewport::ScrollToRow(int row) {
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

void TerminalViewport::HScroll(int code, int pos) {
    if (const std::optional<int> col = Requested(code, pos, leftCol_, fullCols_)) {
        ScrollToCol(*col);
    }
}

void TerminalViewport::VScroll(int code, int pos) {
    if (needVert_) {
        if (!scrollback_ && autoScrollback_ && code == SB_LINEUP && topRow_ == 1) {
            SetScrollback(true);
        }
        if (scrollback_ && autoScrollback_ && topRow_ > 1) {
            SetScrollback(false);
        }
    }
    if (const std::optional<int> row = Requested(code, pos, topRow_, fullRows_)) {
        ScrollToRow(*row);
    }
}

void TerminalViewport::DragScroll(ClientPoint mouse) {
    if (needHorz_) {
        if (mouse.X < 0) {
            HScroll(SB_LINELEFT, 0);
        } else if (mouse.X >= clientWidth_) {
            HScroll(SB_LINERIGHT, 0);
        }
    }
    if (mouse.Y < 0) {
        VScroll(SB_LINEUP, 0);
    } else if (mouse.Y >= clientHeight_) {
        VScroll(SB_LINEDOWN, 0);
    }
}

void TerminalViewport::Resize(int width, int height) {
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

CellPos TerminalViewport::CursorCell() const {
    if (buffer_ == nullptr) {
        return CellPos{};
    }
    const TerminalBuffer& b = *buffer_;
    CellPos cell{b.CursorCol(), b.CursorRow()};
    if (!b.AbsAddress()) {
        const TerminalRegion region = b.ActiveRegion();
        cell.Row += region.Top - (b.SVRowCount() - b.RowCount());
        cell.Col += region.Left;
    }
    return cell;
}

void TerminalViewport::KeepCursorVisible() {
    if (receiving_) {
        followPending_ = true;
        return;
    }
    ScrollCursorIntoView();
}

void TerminalViewport::CatchUp() {
    if (followPending_) {
        ScrollCursorIntoView();
    }
}

void TerminalViewport::ScrollCursorIntoView() {
    followPending_ = false;
    if (!followCursor_ || buffer_ == nullptr || charWidth_ <= 0 || charHeight_ <= 0) {
        return;
    }
    const CellPos cursor = CursorCell();
    const int r = cursor.Row;
    const int c = cursor.Col;
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

void TerminalViewport::Invalidate() {
    if (host_ != nullptr) {
        host_->InvalidateRect(nullptr, false);
    }
}

void TerminalViewport::InvalidateRow(int row) {
    if (host_ == nullptr || row < topRow_ || row >= topRow_ + visibleRows_) {
        return;
    }
    const int y = (row - topRow_) * charHeight_;
    const PixelRect rect{0, y, clientWidth_, y + charHeight_};
    host_->InvalidateRect(&rect, false);
}

CellPos TerminalViewport::CellAt(int x, int y) const {
    if (charWidth_ <= 0 || charHeight_ <= 0) {
        return CellPos{leftCol_, topRow_};
    }
    return CellPos{x / charWidth_ + leftCol_, y / charHeight_ + topRow_};
}

void TerminalViewport::ClampToView(int& x, int& y) const {
    x = std::clamp(x, 0, std::max(visibleCols_ * charWidth_ - 1, 0));
    y = std::clamp(y, 0, std::max(visibleRows_ * charHeight_ - 1, 0));
}

}  // namespace hydrix::terminal
