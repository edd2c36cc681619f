// The TTY emulator's test bench: a terminal that records what the emulator tells it
// (its canvas records the painting), a port that keeps what is sent, and a fixture that
// binds a built-in emulator to them and counts the beeps.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/dialogs.h"
#include "platform/message_loop.h"
#include "terminal/emulator_terminal.h"
#include "terminal/recording_canvas.h"
#include "terminal/terminal_buffer.h"
#include "terminal/tty_emulator.h"

namespace hydrix::terminal::test {

class TestPort : public TerminalPort {
public:
    bool Open() const override { return open; }
    void SendChar(uint8_t ch) override { sent.push_back(static_cast<char>(ch)); }
    void SendString(const std::string& text) override { sent += text; }
    const EmulatorTerminal* LinkedTerminal() const override { return linked; }

    bool open = true;
    std::string sent;
    const EmulatorTerminal* linked = nullptr;
};

class TestTerminal : public EmulatorTerminal {
public:
    uint32_t Color() const override { return color; }
    void SetColor(uint32_t value) override { color = value; }
    uint32_t FontColor() const override { return fontColor; }
    void SetFontColor(uint32_t value) override { fontColor = value; }
    bool HalfDuplex() const override { return halfDuplex; }
    bool UseLazyDisplay() const override { return lazy; }
    bool FollowCursor() const override { return follow; }
    bool HideScrollbars() const override { return hideScrollbars; }
    bool FreezeScrollBack() const override { return freeze; }
    ViewGeometry Geometry() const override {
        return {8, 16, leftCol, topRow, visibleCols, visibleRows, visibleCols, visibleRows};
    }
    bool CursorBeyondWidth() const override { return beyondWidth; }
    bool CursorBeyondHeight() const override { return beyondHeight; }
    void SetCursorBeyond(bool width, bool height) override {
        beyondWidth = width;
        beyondHeight = height;
    }
    void Damaged() override { ++damaged; }
    TerminalPort* ComPort() override { return hasPort ? &port : nullptr; }
    void KeepCursorVisible() override { ++keepVisibleCalls; }
    void RefreshScrollBars() override { ++refreshCalls; }
    void CursorMoved(TerminalBuffer*, int row, int col) override { moves.push_back({row, col}); }
    TerminalEmulator* Emulator() const override { return emulator; }
    // As the terminal control does: give up the old pair, then link the new one.
    void SetEmulator(TerminalEmulator* e) override {
        if (e == emulator) {
            return;
        }
        TerminalEmulator* old = emulator;
        emulator = nullptr;
        if (old != nullptr) {
            RemoveTerminalLink(this, false);
            old->SetTerminal(nullptr);
        }
        emulator = e;
        if (e != nullptr) {
            AddTerminalLink(this, e);
        }
    }

    uint32_t color = 0;
    uint32_t fontColor = 0xC0C0C0;
    bool halfDuplex = false, lazy = true, follow = false, hideScrollbars = false, freeze = true;
    int leftCol = 1, topRow = 1, visibleCols = 80, visibleRows = 24;
    bool beyondWidth = false, beyondHeight = false;
    int damaged = 0;
    RecordingCanvas canvas{PixelRect{0, 0, 640, 384}};
    bool hasPort = true;
    TestPort port;
    int keepVisibleCalls = 0, refreshCalls = 0;
    std::vector<std::pair<int, int>> moves;
    TerminalEmulator* emulator = nullptr;
};

class BeepCounter : public platform::HeadlessUserInterface {
public:
    void Beep() override { ++beeps; }
    int beeps = 0;
};

// A built-in TTY emulator bound to a test terminal, beeps counted.
struct Fixture {
    Fixture() : counter(std::make_shared<BeepCounter>()) {
        previousUi = platform::SetUserInterface(counter);
        tty.SetBuiltIn(true);
        tty.SetTerminal(&term);
        term.port.linked = &term;
    }
    ~Fixture() { platform::SetUserInterface(previousUi); }

    void Feed(const std::string& bytes, CharSource source = CharSource::csPort) {
        tty.ProcessBlock(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()), source);
    }
    TerminalBuffer& Buf() { return *tty.Buffer(); }
    // Painting on the terminal's canvas as its view stands.
    void LazyPaint() { tty.LazyPaint(term.canvas, term.Geometry()); }
    void Paint() { tty.Paint(term.canvas, term.Geometry()); }
    std::string Row(int row) {
        const uint8_t* chars = Buf().RowChars(row);
        std::string text(reinterpret_cast<const char*>(chars), static_cast<size_t>(Buf().ColCount()));
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }

    std::shared_ptr<BeepCounter> counter;
    std::shared_ptr<platform::UserInterface> previousUi;
    TestTerminal term;
    TTYEmulator tty;
};

}  // namespace hydrix::terminal::test
