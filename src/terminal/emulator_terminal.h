// What an emulator needs from the terminal control it serves: colours, view geometry,
// display flags, the window that receives AM_TERMPAINT, the canvas it paints on, and
// the com port it sends keys and reports to. The terminal control implements it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message_loop.h"

namespace hydrix::terminal {

class Canvas;
class EmulatorTerminal;
class TerminalBuffer;
class TerminalEmulator;

// The terminal's com port as a sink for bytes.
class TerminalPort {
public:
    virtual ~TerminalPort() = default;
    virtual bool Open() const = 0;
    virtual void SendChar(uint8_t ch) = 0;
    virtual void SendString(const std::string& text) = 0;
    // The first terminal bound to the port; only it answers device reports.
    virtual const EmulatorTerminal* LinkedTerminal() const = 0;
};

class EmulatorTerminal {
public:
    virtual ~EmulatorTerminal() = default;

    // Background colour and font colour, 0x00BBGGRR.
    virtual uint32_t Color() const = 0;
    virtual void SetColor(uint32_t value) = 0;
    virtual uint32_t FontColor() const = 0;
    virtual void SetFontColor(uint32_t value) = 0;

    virtual bool HalfDuplex() const = 0;
    virtual bool UseLazyDisplay() const = 0;
    virtual bool FollowCursor() const = 0;
    virtual bool HideScrollbars() const = 0;
    virtual bool FreezeScrollBack() const = 0;

    // View geometry: cell size in pixels, first shown column and row (screen
    // coordinates), columns and rows at least partly (visible) or wholly (full) shown.
    virtual int CharWidth() const = 0;
    virtual int CharHeight() const = 0;
    virtual int LeftCol() const = 0;
    virtual int TopRow() const = 0;
    virtual int VisibleCols() const = 0;
    virtual int VisibleRows() const = 0;
    virtual int FullCols() const = 0;
    virtual int FullRows() const = 0;

    // Kept by the emulator's cursor-moved handling while HideScrollbars is on.
    virtual bool CursorBeyondWidth() const = 0;
    virtual void SetCursorBeyondWidth(bool value) = 0;
    virtual bool CursorBeyondHeight() const = 0;
    virtual void SetCursorBeyondHeight(bool value) = 0;

    // 0 while the terminal has no window.
    virtual platform::WindowHandle Handle() const = 0;
    // nullptr when nothing can be drawn now.
    virtual Canvas* GetCanvas() = 0;
    // nullptr without a com port.
    virtual TerminalPort* ComPort() = 0;

    virtual void KeepCursorVisible() = 0;
    virtual void RefreshScrollBars() = 0;
    // Raises the terminal's OnCursorMoved when it is set.
    virtual void CursorMoved(TerminalBuffer* sender, int row, int col) = 0;

    // The explicitly assigned emulator (nullptr while the built-in one is used); the
    // terminal link list keeps this and the emulator's Terminal in step.
    virtual TerminalEmulator* Emulator() const = 0;
    virtual void SetEmulator(TerminalEmulator* emulator) = 0;
};

}  // namespace hydrix::terminal
