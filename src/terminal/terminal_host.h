// What the terminal control needs from the widget that shows it: font metrics, scroll
// bars, invalidation, moving pixels, a canvas for drawing outside a paint request, the
// caret, focus and the mouse. The control keeps all behaviour; the widget forwards events.
#pragma once

#include <cstdint>
#include <string>

#include "terminal/canvas.h"

namespace hydrix::terminal {

// Scroll bars, as SB_HORZ / SB_VERT.
enum class ScrollBarKind { Horizontal = 0, Vertical = 1 };

// Scroll-bar request codes of WM_HSCROLL / WM_VSCROLL.
constexpr int SB_LINEUP = 0;
constexpr int SB_LINELEFT = 0;
constexpr int SB_LINEDOWN = 1;
constexpr int SB_LINERIGHT = 1;
constexpr int SB_PAGEUP = 2;
constexpr int SB_PAGELEFT = 2;
constexpr int SB_PAGEDOWN = 3;
constexpr int SB_PAGERIGHT = 3;
constexpr int SB_THUMBPOSITION = 4;
constexpr int SB_THUMBTRACK = 5;
constexpr int SB_TOP = 6;
constexpr int SB_BOTTOM = 7;
constexpr int SB_ENDSCROLL = 8;

// Which fields of a ScrollInfo are meant.
constexpr uint32_t SIF_RANGE = 0x01;
constexpr uint32_t SIF_PAGE = 0x02;
constexpr uint32_t SIF_POS = 0x04;
constexpr uint32_t SIF_DISABLENOSCROLL = 0x08;
constexpr uint32_t SIF_TRACKPOS = 0x10;
// Range, page and position together: the mask of a full hand-over.
constexpr uint32_t kScrollInfoAll = 23;

// Scroll-bar state with the system's meaning: Min..Max inclusive, the thumb covers Page
// positions, so the highest position a user can reach is Max - Page + 1. Only the
// fields named in Mask are valid (SIF_POS alone: only the position moved).
struct ScrollInfo {
    uint32_t Size = 28;
    uint32_t Mask = 0;
    int Min = 0;
    int Max = 0;
    int Page = 0;
    int Pos = 0;

    bool operator==(const ScrollInfo&) const = default;
};

// The caret as the widget should draw it: a solid block of Width x Height pixels at
// (X, Y) of the client area, drawn only while Visible.
struct CaretState {
    bool Visible = false;
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;

    bool operator==(const CaretState&) const = default;
};

// The control's font. Height in pixels (negative: the character height without the
// internal leading, as the system takes it) wins over Size in points when nonzero.
struct TerminalFont {
    std::string Name = "Terminal";
    int Size = 9;
    int Height = 0;
    uint32_t Color = 0xC0C0C0;  // 0x00BBGGRR

    bool operator==(const TerminalFont&) const = default;
};

// Cell size of a fixed-pitch grid: Width = widest character, Height = line height
// including the external leading.
struct CellSize {
    int Width = 0;
    int Height = 0;
};

struct ClientPoint {
    int X = 0;
    int Y = 0;
};

class TerminalHost {
public:
    virtual ~TerminalHost() = default;

    virtual CellSize MeasureFont(const TerminalFont& font) = 0;

    // Shows or hides a bar. Never recreates anything: the control stays attached to its
    // port. A bar changes the client size, which the widget reports through Resize.
    virtual void ShowScrollBar(ScrollBarKind bar, bool visible) = 0;
    virtual void SetScrollInfo(ScrollBarKind bar, const ScrollInfo& info) = 0;

    // Marks client pixels for repainting (nullptr: all); the widget later calls the
    // control's Paint for them. erase is false when the paint covers every pixel.
    virtual void InvalidateRect(const PixelRect* rect, bool erase) = 0;
    // Moves the shown pixels by (dx, dy) and invalidates the band that was uncovered.
    virtual void ScrollWindow(int dx, int dy) = 0;

    // A canvas for drawing outside a paint request (the lazy paint step and blinking),
    // onto what is shown (e.g. a backing image). EndDraw makes the drawing visible.
    virtual Canvas* BeginDraw() = 0;
    virtual void EndDraw() = 0;

    // The caret moved, appeared, disappeared or changed its shape.
    virtual void SetCaret(const CaretState& caret) = 0;

    virtual bool HasFocus() const = 0;
    virtual void SetFocus() = 0;
    // The mouse position in client pixels (may lie outside the client area).
    virtual ClientPoint CursorPos() const = 0;
    // NumLock state, for the keypad keys sent without the extended flag.
    virtual bool NumLockOn() const = 0;
    // BorderStyle changed: draw or drop the single-line border.
    virtual void SetBorder(bool single) = 0;
};

}  // namespace hydrix::terminal
