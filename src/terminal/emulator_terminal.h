// What an emulator needs from the terminal control it serves, in three small parts:
// what it reads of the view, what it tells the view (changes to paint, cursor moves),
// and where typed bytes and device reports go. The terminal control implements all of
// them; the emulator paints on whatever canvas it is handed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace hydrix::terminal {

class EmulatorTerminal;
class TerminalBuffer;
class TerminalEmulator;

// The terminal's OnCursorMoved: aRow, aCol in cursor coordinates, aSender the buffer.
using TerminalCursorMovedEvent = std::function<void(TerminalBuffer* aSender, int aRow, int aCol)>;

// The cell size in pixels, the first shown column and row (screen coordinates), and the
// columns and rows from there that are at least partly (visible) or wholly (full) shown.
struct ViewGeometry {
    int CharWidth = 0;
    int CharHeight = 0;
    int LeftCol = 1;
    int TopRow = 1;
    int VisibleCols = 0;
    int VisibleRows = 0;
    int FullCols = 0;
    int FullRows = 0;
};

// What the emulator reads of the terminal's view.
class EmulatorView {
public:
    virtual ~EmulatorView() = default;

    // Background colour and font colour, 0x00BBGGRR.
    virtual uint32_t Color() const = 0;
    virtual uint32_t FontColor() const = 0;
    virtual ViewGeometry Geometry() const = 0;
    virtual bool UseLazyDisplay() const = 0;
    virtual bool FollowCursor() const = 0;
    virtual bool HideScrollbars() const = 0;
    virtual bool FreezeScrollBack() const = 0;
    // Kept by the emulator's cursor-moved handling while HideScrollbars is on.
    virtual bool CursorBeyondWidth() const = 0;
    virtual bool CursorBeyondHeight() const = 0;
};

// What the emulator tells the view. Painting itself is asked of the emulator, with the
// canvas and the view geometry of that moment.
class EmulatorDisplay {
public:
    virtual ~EmulatorDisplay() = default;

    // The buffer has changes to paint: the terminal asks for a repaint (at most one per
    // turn of its message loop) and paints them then or at its lazy-display tick.
    virtual void Damaged() = 0;
    // The colour commands that are persistent make their colour the terminal's.
    virtual void SetColor(uint32_t value) = 0;
    virtual void SetFontColor(uint32_t value) = 0;
    virtual void SetCursorBeyond(bool width, bool height) = 0;
    virtual void KeepCursorVisible() = 0;
    virtual void RefreshScrollBars() = 0;
    // Raises the terminal's OnCursorMoved when it is set.
    virtual void CursorMoved(TerminalBuffer* sender, int row, int col) = 0;
};

// The terminal's com port as a sink for bytes.
class TerminalPort {
public:
    virtual ~TerminalPort() = default;
    virtual bool Open() const = 0;
    virtual void SendChar(uint8_t ch) = 0;
    virtual void SendString(const std::string& text) = 0;
    // The first terminal bound to the port; only it answers device reports. A sink may
    // answer null when that terminal is not the one it serves.
    virtual const EmulatorTerminal* LinkedTerminal() const = 0;
};

// Where typed bytes and device reports go.
class EmulatorOutput {
public:
    virtual ~EmulatorOutput() = default;

    // Typed bytes are also shown locally.
    virtual bool HalfDuplex() const = 0;
    // nullptr without a com port.
    virtual TerminalPort* ComPort() = 0;
};

class EmulatorTerminal : public EmulatorView, public EmulatorDisplay, public EmulatorOutput {
public:
    // The explicitly assigned emulator (nullptr while the built-in one is used); the
    // terminal link list keeps this and the emulator's Terminal in step.
    virtual TerminalEmulator* Emulator() const = 0;
    virtual void SetEmulator(TerminalEmulator* emulator) = 0;
};

}  // namespace hydrix::terminal
