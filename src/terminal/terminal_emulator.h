// Base of the emulators, which sit between the terminal control and its buffer: the
// control hands them received bytes and keys, they drive the buffer (and send bytes to
// the port), pass the buffer's reports on to the terminal and paint the buffer on the
// canvas they are given. Also the command interpreter for EmuCommand and the
// process-wide list of terminals bound to non-built-in emulators.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "comm/component_base.h"
#include "terminal/buffer_observer.h"
#include "terminal/command_list.h"
#include "terminal/emu_command.h"
#include "terminal/terminal_keys.h"

namespace hydrix::terminal {

class Canvas;
class EmulatorTerminal;
class TerminalBuffer;
struct ViewGeometry;

// The buffer's observer: damage goes on to the terminal as it is, cursor moves through
// the concrete emulator's handling.
class TerminalEmulator : public comm::BaseComponent, protected BufferObserver {
public:
    // Called for every processed byte before it takes effect. replaceWith holds the byte;
    // the handler may change it to any text (empty swallows the byte). Commands added to
    // the (empty) list run before replaceWith is processed.
    using ProcessCharEvent = std::function<void(TerminalEmulator* sender, uint8_t character, std::string& replaceWith,
                                                EmuCommandList& commands, CharSource charSource)>;

    // What ecSaveCursorPos keeps; all zero until the first save.
    struct SavedCursorState {
        uint8_t Attrs = 0;
        uint32_t BackColor = 0;
        uint8_t CharSet = 0;
        int Col = 0;
        uint32_t ForeColor = 0;
        int Row = 0;
    };

    TerminalEmulator();
    ~TerminalEmulator() override;
    TerminalEmulator(const TerminalEmulator&) = delete;
    TerminalEmulator& operator=(const TerminalEmulator&) = delete;

    // The buffer of the concrete emulator; nullptr for an emulator without one.
    TerminalBuffer* Buffer() const { return buffer_; }

    // Set on the emulator a terminal creates for itself; such an emulator only records
    // its terminal and never enters the link list.
    bool BuiltIn() const { return builtIn_; }
    void SetBuiltIn(bool value) { builtIn_ = value; }

    EmulatorTerminal* Terminal() const { return terminal_; }
    // Binds to t through the terminal link list (unless built-in).
    virtual void SetTerminal(EmulatorTerminal* t);
    // Component notifications: the terminal was destroyed (cleared without further
    // steps) / a terminal appeared beside this emulator (bound when none is).
    void TerminalRemoved(EmulatorTerminal* t);
    void TerminalInserted(EmulatorTerminal* t);

    ProcessCharEvent OnProcessChar;
    EmuCommandList& Commands() { return commands_; }
    const SavedCursorState& SavedCursor() const { return saved_; }

    // Carries out one command on the buffer; params may be nullptr.
    void ExecuteCommand(EmuCommand command, const EmuCommandParams* params);
    void ExecuteCommands(const EmuCommandList& list);

    virtual bool NeedsUpdate();
    virtual void ClearScreen() {}
    virtual void ClearAll() {}
    // Echoes ch locally with HalfDuplex, then sends it when the terminal's port is open.
    virtual void TransmitChar(uint8_t ch, bool echo, CharSource source);
    // Painting, on canvas as the view shows the buffer (view) at that moment: the
    // blinking cells in phase; what the buffer reports as changed; the cells under the
    // canvas's clip rectangle.
    virtual void BlinkPaint(Canvas& /*canvas*/, const ViewGeometry& /*view*/, bool /*phase*/) {}
    virtual bool HasBlinkingText() { return false; }
    virtual void KeyDown(uint16_t& /*key*/, ShiftState /*shift*/) {}
    virtual void KeyPress(uint8_t& /*ch*/) {}
    virtual void LazyPaint(Canvas& /*canvas*/, const ViewGeometry& /*view*/) {}
    virtual void Paint(Canvas& /*canvas*/, const ViewGeometry& /*view*/) {}
    virtual void ProcessBlock(const uint8_t* /*data*/, int /*length*/, CharSource /*source*/) {}

protected:
    // The buffer reports to this emulator from now on; the owner of the buffer stops that
    // before the buffer goes.
    void SetBuffer(TerminalBuffer* buffer);
    void Damaged(TerminalBuffer& sender) override;
    void CursorMoved(TerminalBuffer& sender, int row, int col) override;

private:
    TerminalBuffer* buffer_ = nullptr;
    bool builtIn_ = false;
    EmulatorTerminal* terminal_ = nullptr;
    SavedCursorState saved_;
    EmuCommandList commands_;
};

// The process-wide terminal link list: one (terminal, emulator) pair for every terminal
// that uses an emulator other than its built-in one. GUI thread only.
//
// Adds the pair unless the terminal has one; then sets the terminal's Emulator and the
// emulator's Terminal.
void AddTerminalLink(EmulatorTerminal* terminal, TerminalEmulator* emulator);
// Unlinks the terminal's pair; with detach (and a pair found) the terminal falls back
// to its built-in emulator and the emulator's Terminal becomes none.
void RemoveTerminalLink(EmulatorTerminal* terminal, bool detach);
// The emulator linked to the terminal, or nullptr.
TerminalEmulator* FindTerminalLink(const EmulatorTerminal* terminal);
int TerminalLinkCount();

}  // namespace hydrix::terminal
