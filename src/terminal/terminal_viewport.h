// Which part of the buffer the terminal's client area shows: the cell size, the first
// shown column and row, the scroll bars and how requests move the view, and following
// the cursor. Owned by the terminal control; its widget reports sizes and bar requests.
#pragma once

#include <functional>
#include <utility>

#include "terminal/emulator_terminal.h"
#include "terminal/terminal_host.h"

namespace hydrix::terminal {

class TerminalBuffer;

// A cell in screen coordinates.
struct CellPos {
    int Col = 0;
    int Row = 0;
};

class TerminalViewport {
public:
    // relayout is asked for when the bars wanted changed while the window exists; the
    // answer comes back later as ApplyScrollBars.
    explicit TerminalViewport(std::function<void()> relayout) : relayout_(std::move(relayout)) {}

    void SetHost(TerminalHost* host) { host_ = host; }
    // A new widget shows the bars as they are; the view is then laid out again.
    void Present();
    void SetBuffer(TerminalBuffer* buffer) { buffer_ = buffer; }
    // While the window exists, bars that come or go are laid out through relayout; a new
    // window starts with the bars wanted.
    void SetWindowed(bool windowed);

    // Settings. The setters of Scrollback and AutoScrollback re-evaluate the vertical
    // bar, HideScrollbars both bars; FollowCursor switched on follows at once.
    bool Scrollback() const { return scrollback_; }
    void SetScrollback(bool value);
    bool AutoScrollback() const { return autoScrollback_; }
    void SetAutoScrollback(bool value);
    bool HideScrollbars() const { return hideScrollbars_; }
    void SetHideScrollbars(bool value);
    bool FollowCursor() const { return followCursor_; }
    void SetFollowCursor(bool value);
    // Whether the cursor lies beyond the fully shown columns / rows (kept by the
    // emulator while HideScrollbars is on).
    bool CursorBeyondWidth() const { return cursorBeyondWidth_; }
    bool CursorBeyondHeight() const { return cursorBeyondHeight_; }
    void SetCursorBeyond(bool width, bool height);

    // A new cell size (0 x 0 without a widget); with a window the view is recomputed
    // and the whole client area repainted.
    void SetCell(CellSize cell);
    // The client area (without scroll bars) is now width x height pixels (WM_SIZE).
    void Resize(int width, int height);
    // Columns were written: the view goes back to the top left.
    void Home();
    void RecomputeView();
    // Shows or hides the bars as wanted now, then recomputes (AM_TERMRECREATE).
    void ApplyScrollBars();
    void RefreshScrollBars();
    void HScroll(int code, int pos);
    void VScroll(int code, int pos);
    // While the mouse drags outside the client area, one line towards it.
    void DragScroll(ClientPoint mouse);
    void KeepCursorVisible();
    // While received bytes are interpreted the view does not follow the cursor on every
    // byte that moves it: CatchUp follows once, afterwards.
    void BeginReceive() { receiving_ = true; }
    void EndReceive() { receiving_ = false; }
    void CatchUp();
    // Repaints the whole client area.
    void Invalidate();
    // Repaints one screen row's band when it is shown.
    void InvalidateRow(int row);

    // The cell under client pixel (x, y), and (x, y) clamped to the shown cells.
    CellPos CellAt(int x, int y) const;
    void ClampToView(int& x, int& y) const;
    // The buffer's cursor in screen coordinates.
    CellPos CursorCell() const;

    ViewGeometry Geometry() const {
        return {charWidth_, charHeight_, leftCol_, topRow_, visibleCols_, visibleRows_, fullCols_, fullRows_};
    }
    int CharWidth() const { return charWidth_; }
    int CharHeight() const { return charHeight_; }
    int LeftCol() const { return leftCol_; }
    int TopRow() const { return topRow_; }
    int VisibleCols() const { return visibleCols_; }
    int VisibleRows() const { return visibleRows_; }
    int FullCols() const { return fullCols_; }
    int FullRows() const { return fullRows_; }
    int ClientWidth() const { return clientWidth_; }
    int ClientHeight() const { return clientHeight_; }
    // The client area split into the cells shown and the margins right of and below them.
    const PixelRect& TextRect() const { return textRect_; }
    const PixelRect& RightMargin() const { return rightMargin_; }
    const PixelRect& BottomMargin() const { return bottomMargin_; }

    // Whether a bar is wanted now, whether it is shown, and what it was last told.
    bool HorzBarWanted() const;
    bool VertBarWanted() const;
    bool HorzBarShown() const { return hasHScroll_; }
    bool VertBarShown() const { return hasVScroll_; }
    const ScrollInfo& HorzScrollInfo() const { return hScrollInfo_; }
    const ScrollInfo& VertScrollInfo() const { return vScrollInfo_; }

private:
    int Columns() const;
    int Rows() const;
    int ScrollbackRows() const;
    void RefreshVertBar();
    void RefreshHorzBar();
    void ShowBar(ScrollBarKind bar, bool visible);
    ScrollInfo MakeHorzInfo() const;
    ScrollInfo MakeVertInfo() const;
    void SetBarInfo(ScrollBarKind bar, const ScrollInfo& info);
    void ScrollToCol(int col);
    void ScrollToRow(int row);
    int LowestTopRow() const;
    void ScrollCursorIntoView();

    std::function<void()> relayout_;
    TerminalHost* host_ = nullptr;
    TerminalBuffer* buffer_ = nullptr;
    bool windowed_ = false;

    bool scrollback_ = false;
    bool autoScrollback_ = true;
    bool hideScrollbars_ = false;
    bool followCursor_ = true;
    bool cursorBeyondWidth_ = false;
    bool cursorBeyondHeight_ = false;

    int charWidth_ = 0;
    int charHeight_ = 0;
    int clientWidth_ = 300;
    int clientHeight_ = 200;
    int visibleCols_ = 0;
    int fullCols_ = 0;
    int visibleRows_ = 0;
    int fullRows_ = 0;
    int leftCol_ = 1;
    int topRow_ = 1;
    PixelRect textRect_;
    PixelRect rightMargin_;
    PixelRect bottomMargin_;
    bool needHorz_ = false;
    bool needVert_ = false;
    ScrollInfo hScrollInfo_;
    ScrollInfo vScrollInfo_;
    bool hasHScroll_ = false;
    bool hasVScroll_ = false;
    bool receiving_ = false;
    bool followPending_ = false;
};

}  // namespace hydrix::terminal
