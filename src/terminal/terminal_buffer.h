// The terminal's cells: the visible screen plus the scrollback above it, the cursor,
// the writing colours and modes. An emulator turns received bytes into calls here and
// paints from the rows; the buffer reports changes to its one observer.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "terminal/buffer_observer.h"
#include "terminal/invalid_rects.h"
#include "terminal/terminal_array.h"

namespace hydrix::terminal {

// The attribute set: one byte of flags per cell.
using CharAttrSet = uint8_t;
constexpr CharAttrSet tcaBold = 0x01;
constexpr CharAttrSet tcaUnderline = 0x02;
constexpr CharAttrSet tcaStrikethrough = 0x04;
constexpr CharAttrSet tcaBlink = 0x08;
constexpr CharAttrSet tcaReverse = 0x10;
constexpr CharAttrSet tcaInvisible = 0x20;
constexpr CharAttrSet tcaSelected = 0x40;

// Internal rows and columns (0-based; row 0 is the oldest scrollback row).
struct TerminalRegion {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// Coordinates given to and returned from these operations are 1-based. Screen rows run
// 1..RowCount; rows 0, -1, ... are the scrollback. Cursor coordinates equal screen
// coordinates while AbsAddress is on, else they are relative to the active region.
// Used on one thread only (the GUI thread).
class TerminalBuffer {
public:
    explicit TerminalBuffer(bool wideChars = false);
    TerminalBuffer(const TerminalBuffer&) = delete;
    TerminalBuffer& operator=(const TerminalBuffer&) = delete;

    // Sizes. A count below 2 raises ETerminalError "TTerminalBuffer.tbSet...: new count
    // too small"; tbSetRowCount ignores a count above SVRowCount.
    int ColCount() const { return colCount_; }
    int RowCount() const { return rowCount_; }
    int SVRowCount() const { return svRowCount_; }
    void tbSetColCount(int n);
    void tbSetRowCount(int n);
    void tbSetSVRowCount(int n);
    bool WideChars() const { return wideChars_; }

    // Cursor (cursor coordinates); writing clamps to the buffer.
    int CursorRow() const;
    void SetCursorRow(int row);
    int CursorCol() const;
    void SetCursorCol(int col);
    void CursorPos(int row, int col);

    // Editing.
    void WriteChar(uint8_t ch);
    // The count characters at data, with the result of WriteChar on each in turn: the
    // cells of a row are written at once and marked invalid as one rectangle, and the
    // cursor is reported once per row (a wrap reports as WriteChar's does).
    void WriteRun(const uint8_t* data, int count);
    void WriteString(std::string_view s);
    void Backspace();
    void CarriageReturn();
    void LineFeed();
    void CursorUp(bool scroll);
    void CursorDown(bool scroll);
    void CursorLeft(bool wrap, bool scroll);
    void CursorRight(bool wrap, bool scroll);
    void TabHorz();
    void BackTabHorz();
    void TabVert();
    void BackTabVert();
    void SetHorzTabStop();
    void ClearHorzTabStop();
    void SetVertTabStop();
    void ClearVertTabStop();
    void ClearAllHorzTabStops();
    void ClearAllVertTabStops();
    void InsertChars(int count);
    void DeleteChars(int count);
    void EraseChars(int count);
    void InsertLines(int count);
    void DeleteLines(int count);
    void EraseToEOL();
    void EraseFromBOL();
    void EraseLine();
    void EraseToEOW();
    void EraseFromBOW();
    void EraseScreen();
    void EraseAll();
    // Screen rows, clamped to 1..RowCount; the whole screen leaves the region off.
    void SetScrollRegion(int top, int bottom);
    bool ScrollRegionActive() const { return scrollRegionActive_; }
    void SetScrollRegionActive(bool on);
    // Back to the power-on state (sizes kept).
    void Reset();

    // Modes.
    bool AbsAddress() const { return absAddress_; }
    void SetAbsAddress(bool on) { absAddress_ = on; }
    bool AutoWrap() const { return autoWrap_; }
    void SetAutoWrap(bool on) { autoWrap_ = on; }
    bool AutoWrapDelay() const { return autoWrapDelay_; }
    void SetAutoWrapDelay(bool on) { autoWrapDelay_ = on; }
    bool InsertMode() const { return insertMode_; }
    void SetInsertMode(bool on) { insertMode_ = on; }
    bool NewLineMode() const { return newLineMode_; }
    void SetNewLineMode(bool on) { newLineMode_ = on; }
    // A character went into the region's last column and the wrap waits for the next one.
    bool WrapPending() const { return wrapPending_; }

    // Writing values; each is also the fill of its plane for cleared cells.
    uint32_t ForeColor() const { return foreColor_; }
    void SetForeColor(uint32_t color);
    uint32_t BackColor() const { return backColor_; }
    void SetBackColor(uint32_t color);
    CharAttrSet CharAttrs() const { return charAttrs_; }
    void SetCharAttrs(CharAttrSet attrs);
    uint8_t CharSet() const { return charSet_; }
    void SetCharSet(uint8_t charSet);

    // Defaults. Changing a default colour recolours the cells that have the old one.
    uint32_t DefaultForeColor() const { return defaultForeColor_; }
    void SetDefaultForeColor(uint32_t color);
    uint32_t DefaultBackColor() const { return defaultBackColor_; }
    void SetDefaultBackColor(uint32_t color);
    uint8_t DefaultChar() const { return defaultChar_; }
    void SetDefaultChar(uint8_t ch);
    CharAttrSet DefaultCharAttrs() const { return defaultCharAttrs_; }
    uint8_t DefaultCharSet() const { return defaultCharSet_; }

    // Rows by screen row: ColCount items, column c at index c - 1; nullptr outside the
    // buffer. Valid until the next size change. With WideChars the character items are
    // 16-bit: use RowWideChars.
    uint8_t* RowChars(int row);
    uint16_t* RowWideChars(int row);
    CharAttrSet* RowAttrs(int row);
    uint8_t* RowCharSets(int row);
    uint32_t* RowForeColors(int row);
    uint32_t* RowBackColors(int row);

    // Repainting.
    bool TakeInvalidRect(CellRect& rect);
    bool HasInvalidRect() const { return !invalid_.Empty(); }
    bool TakeCursorMoved();
    // Where changes are reported; nullptr: nowhere.
    BufferObserver* Observer() const { return observer_; }
    void SetObserver(BufferObserver* observer) { observer_ = observer; }

    // The active region, internal rows and columns.
    TerminalRegion ActiveRegion() const { return region_; }
    // The stored scroll region, screen rows.
    int ScrollRegionTop() const { return scrollTop_; }
    int ScrollRegionBottom() const { return scrollBottom_; }
    bool HorzTabStop(int col) const;  // screen column
    bool VertTabStop(int row) const;  // screen row

private:
    int ScreenTop() const { return svRowCount_ - rowCount_; }
    int InternalRow(int screenRow) const;  // -1 or SVRowCount when outside
    int RightEdge() const { return region_.Left + region_.Width - 1; }
    int BottomEdge() const { return region_.Top + region_.Height - 1; }
    void UpdateRegion();
    void SetHomeTabStops();
    void Notify();
    void MoveTo(int row, int col);
    void ScrollBufferRows(int count, int top, int bottom);
    void Invalidate(int top, int left, int right, int bottom);
    void ClearCells(int row, int fromCol, int toCol);
    // Stores count characters with the writing values from the cursor on (count within
    // the row), inserting room first in insert mode, and marks them invalid.
    void PutCells(const uint8_t* data, int count);
    template <typename Fn>
    void ForEachPlane(Fn fn);

    bool wideChars_;
    TerminalArray chars_;
    TerminalArray charSets_;
    TerminalArray attrs_;
    TerminalArray foreColors_;
    TerminalArray backColors_;

    int colCount_ = 80;
    int rowCount_ = 24;
    int svRowCount_ = 200;
    int curRow_ = 0;
    int curCol_ = 0;
    bool cursorMoved_ = true;
    bool wrapPending_ = false;

    CharAttrSet charAttrs_ = 0;
    uint8_t charSet_ = 0;
    uint32_t foreColor_ = 0xC0C0C0;
    uint32_t backColor_ = 0;
    uint8_t defaultChar_ = 0x20;
    CharAttrSet defaultCharAttrs_ = 0;
    uint8_t defaultCharSet_ = 0;
    uint32_t defaultForeColor_ = 0xC0C0C0;
    uint32_t defaultBackColor_ = 0;

    bool absAddress_ = true;
    bool autoWrap_ = true;
    bool autoWrapDelay_ = true;
    bool insertMode_ = false;
    bool newLineMode_ = false;
    bool scrollRegionActive_ = false;
    int scrollTop_ = 1;  // screen rows
    int scrollBottom_ = 24;
    TerminalRegion region_;

    std::vector<bool> horzTabs_;  // per column
    std::vector<bool> vertTabs_;  // per screen row
    InvalidRectList invalid_;
    BufferObserver* observer_ = nullptr;
};

}  // namespace hydrix::terminal
