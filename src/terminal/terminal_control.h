// The terminal control: bytes its com port receives come through the receive pipe, are
// captured to file and handed to the emulator, which writes the buffer; the painter
// draws the buffer through the host widget, the viewport decides what part shows, and
// keys and mouse drags become bytes for the port and clipboard text. The control keeps
// the properties and wires these collaborators together.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "comm/component_base.h"
#include "platform/message_loop.h"
#include "terminal/emulator_terminal.h"
#include "terminal/receive_pipe.h"
#include "terminal/terminal_host.h"
#include "terminal/terminal_keys.h"
#include "terminal/terminal_painter.h"
#include "terminal/terminal_selection.h"
#include "terminal/terminal_viewport.h"

namespace hydrix::comm {
class CustomComPort;
}  // namespace hydrix::comm

namespace hydrix::terminal {

class PortLink;
class TerminalCapture;
class TTYEmulator;
enum class CaptureMode;

// Messages the control posts to its own window besides the receive pipe's: the bars
// wanted changed, and the buffer has changes to paint (at most one pending).
constexpr uint32_t AM_TERMRECREATE = 0x7E4D;
constexpr uint32_t AM_TERMPAINT = 0x7E8A;

// Window messages the control's window procedure understands besides its own.
constexpr uint32_t WM_SETFOCUS = 0x0007;
constexpr uint32_t WM_KILLFOCUS = 0x0008;
constexpr uint32_t WM_ERASEBKGND = 0x0014;
constexpr uint32_t WM_CANCELMODE = 0x001F;
constexpr uint32_t WM_GETDLGCODE = 0x0087;
constexpr uint32_t WM_HSCROLL = 0x0114;
constexpr uint32_t WM_VSCROLL = 0x0115;
constexpr uint32_t WM_COPY = 0x0301;
constexpr uint32_t WM_PASTE = 0x0302;
constexpr uint32_t kDlgCodeWantAll = 0x8B;  // arrows, tab, chars, has-set-sel

// The 100 ms timer of the control's window.
constexpr uint32_t kTerminalTimerId = 1;
constexpr uint32_t kTerminalTimerMs = TerminalPainter::kTickMs;

enum class BorderStyle { bsNone, bsSingle };
enum class MouseButton { mbLeft, mbRight, mbMiddle };

// EmulatorOutput names the emulator's port sink ComPort(); the control's ComPort() is
// the com port component, so the sink is reached through PortSink() here.
class TerminalEmulatorSide : public EmulatorTerminal {
public:
    TerminalPort* ComPort() final { return PortSink(); }

protected:
    virtual TerminalPort* PortSink() = 0;
};

class CustomTerminal : public comm::BaseWinControl, public TerminalEmulatorSide {
public:
    using KeyEvent = std::function<void(CustomTerminal& sender, uint16_t& key, ShiftState shift)>;
    using KeyPressEvent = std::function<void(CustomTerminal& sender, uint8_t& key)>;
    using MouseEvent = std::function<void(CustomTerminal& sender, MouseButton button, ShiftState shift, int x, int y)>;
    using MouseMoveEvent = std::function<void(CustomTerminal& sender, ShiftState shift, int x, int y)>;

    CustomTerminal();
    ~CustomTerminal() override;
    CustomTerminal(const CustomTerminal&) = delete;
    CustomTerminal& operator=(const CustomTerminal&) = delete;

    // The widget showing the control; nullptr detaches it (nothing is drawn then).
    TerminalHost* Host() const { return host_; }
    void SetHost(TerminalHost* host);

    // The control's message window, created on demand (also by posting to it).
    platform::WindowHandle Handle() const { return handle_; }
    void HandleNeeded();
    platform::LResult WndProc(uint32_t msg, platform::WParam w, platform::LParam l);

    // Properties --------------------------------------------------------------------
    bool Active() const { return pipe_.Active(); }
    void SetActive(bool value) { pipe_.SetActive(value); }
    bool AutoCopy() const { return selection_.AutoCopy(); }
    void SetAutoCopy(bool value) { selection_.SetAutoCopy(value); }
    bool AutoScrollback() const { return view_.AutoScrollback(); }
    void SetAutoScrollback(bool value) { view_.SetAutoScrollback(value); }
    int BlinkTime() const { return painter_.BlinkTime(); }
    void SetBlinkTime(int value) { painter_.SetBlinkTime(value); }
    terminal::BorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(terminal::BorderStyle value);
    CaptureMode Capture() const;
    void SetCapture(CaptureMode value);
    const std::string& CaptureFile() const;
    void SetCaptureFile(const std::string& value);
    int Columns() const;
    void SetColumns(int value);
    int Rows() const;
    void SetRows(int value);
    int ScrollbackRows() const;
    void SetScrollbackRows(int value);
    comm::CustomComPort* ComPort() const { return comPort_; }
    void SetComPort(comm::CustomComPort* port);
    terminal::CursorType CursorType() const { return painter_.CursorType(); }
    void SetCursorType(terminal::CursorType value) { painter_.SetCursorType(value); }
    bool FollowCursor() const override { return view_.FollowCursor(); }
    void SetFollowCursor(bool value) { view_.SetFollowCursor(value); }
    bool HalfDuplex() const override { return halfDuplex_; }
    void SetHalfDuplex(bool value) { halfDuplex_ = value; }
    bool HideScrollbars() const override { return view_.HideScrollbars(); }
    void SetHideScrollbars(bool value) { view_.SetHideScrollbars(value); }
    int LazyByteDelay() const { return painter_.LazyByteDelay(); }
    void SetLazyByteDelay(int value) { painter_.SetLazyByteDelay(value); }
    int LazyTimeDelay() const { return painter_.LazyTimeDelay(); }
    void SetLazyTimeDelay(int value) { painter_.SetLazyTimeDelay(value); }
    bool MouseSelect() const { return selection_.MouseSelect(); }
    void SetMouseSelect(bool value) { selection_.SetMouseSelect(value); }
    bool PasteToPort() const { return selection_.PasteToPort(); }
    void SetPasteToPort(bool value) { selection_.SetPasteToPort(value); }
    bool PasteToScreen() const { return selection_.PasteToScreen(); }
    void SetPasteToScreen(bool value) { selection_.SetPasteToScreen(value); }
    bool Scrollback() const { return view_.Scrollback(); }
    void SetScrollback(bool value) { view_.SetScrollback(value); }
    bool UseLazyDisplay() const override { return painter_.UseLazyDisplay(); }
    void SetUseLazyDisplay(bool value) { painter_.SetUseLazyDisplay(value); }
    bool WantAllKeys() const { return wantAllKeys_; }
    void SetWantAllKeys(bool value) { wantAllKeys_ = value; }
    bool FreezeScrollBack() const override { return freezeScrollBack_; }
    void SetFreezeScrollBack(bool value) { freezeScrollBack_ = value; }
    // The emulator set here; nullptr while the built-in one is used.
    TerminalEmulator* Emulator() const override { return explicitEmulator_; }
    void SetEmulator(TerminalEmulator* emulator) override;
    uint32_t Color() const override { return color_; }
    void SetColor(uint32_t value) override;
    const TerminalFont& Font() const { return font_; }
    void SetFont(const TerminalFont& font);
    uint32_t FontColor() const override { return font_.Color; }
    void SetFontColor(uint32_t value) override;

    TerminalCursorMovedEvent OnCursorMoved;
    KeyEvent OnKeyDown;
    KeyPressEvent OnKeyPress;
    MouseEvent OnMouseDown;
    MouseMoveEvent OnMouseMove;
    MouseEvent OnMouseUp;

    // Collaborators -----------------------------------------------------------------
    ReceivePipe& Receiver() { return pipe_; }
    TerminalViewport& View() { return view_; }
    const TerminalViewport& View() const { return view_; }
    TerminalSelection& Selection() { return selection_; }
    TerminalPainter& Painter() { return painter_; }
    TerminalCapture& Capturing() { return *capture_; }
    // The emulator in use: the built-in one, or the one set through SetEmulator.
    TerminalEmulator* CurrentEmulator() const { return emulator_; }
    TerminalBuffer* Buffer() const;

    // Operations --------------------------------------------------------------------
    void ClearAll();
    void CopySelection() { selection_.Copy(); }
    void PasteClipboard();
    // Shown (and captured) exactly as if received.
    void DisplayChar(uint8_t ch) { pipe_.Write(&ch, 1); }
    void DisplayString(const std::string& text);
    // Hands on at once every byte waiting in the receive queue, so that the capture file
    // and the screen hold everything received so far.
    void ProcessAllReceived();
    // Settings have been applied: measures the cell and puts the cursor on row 1.
    void Loaded();
    // Another component is going away: an assigned emulator or the com port.
    void ComponentRemoved(const void* component);

    // Widget events that raise the control's own events ---------------------------------
    // WM_PAINT: draws the part under canvas.ClipRect().
    void Paint(Canvas& canvas) { painter_.Paint(canvas, color_); }
    // The key-down notice before translation; true when handled (no character follows).
    bool PreviewKeyDown(uint16_t key, uint32_t keyData, ShiftState shift);
    // The key-down step after translation and the character step.
    void KeyDown(uint16_t& key, ShiftState shift);
    void KeyPress(uint8_t& ch);
    void MouseDown(MouseButton button, ShiftState shift, int x, int y);
    void MouseMove(ShiftState shift, int x, int y);
    void MouseUp(MouseButton button, ShiftState shift, int x, int y);
    // One tick of the 100 ms timer: drag scrolling, blinking, lazy display.
    void TimerTick();

    // What the emulator reads and tells ----------------------------------------------------
    ViewGeometry Geometry() const override { return view_.Geometry(); }
    bool CursorBeyondWidth() const override { return view_.CursorBeyondWidth(); }
    bool CursorBeyondHeight() const override { return view_.CursorBeyondHeight(); }
    void SetCursorBeyond(bool width, bool height) override { view_.SetCursorBeyond(width, height); }
    void KeepCursorVisible() override { view_.KeepCursorVisible(); }
    void RefreshScrollBars() override { view_.RefreshScrollBars(); }
    void CursorMoved(TerminalBuffer* sender, int row, int col) override;
    void Damaged() override;

protected:
    TerminalPort* PortSink() override;

private:
    void CreateWnd();
    // Destroys the window: the port handler is detached and the timer stops.
    void DestroyHandle();
    void PostToSelf(uint32_t msg);
    void StartTimer();
    void StopTimer();
    // Restarts a stopped timer, counting the ticks it left out towards the lazy display.
    void WakeTimer();
    void MeasureCell();
    void UseEmulator(TerminalEmulator* emulator);
    // One chunk from the receive queue: to the capture file, then to the emulator.
    void HandOn(const uint8_t* data, int count, CharSource source);

    TerminalHost* host_ = nullptr;
    platform::WindowHandle handle_ = 0;
    bool destroying_ = false;
    // An AM_TERMPAINT is queued.
    bool repaintPosted_ = false;
    // The 100 ms timer runs only while a tick may have work: it stops after a tick with
    // nothing to do and is woken by the next change, mouse press or window.
    bool timerRunning_ = false;
    uint32_t timerStoppedAt_ = 0;  // platform clock, ms

    terminal::BorderStyle borderStyle_ = terminal::BorderStyle::bsSingle;
    comm::CustomComPort* comPort_ = nullptr;
    bool halfDuplex_ = false;
    bool wantAllKeys_ = true;
    bool freezeScrollBack_ = true;
    uint32_t color_ = 0;
    TerminalFont font_;

    TerminalViewport view_;
    TerminalSelection selection_{view_};
    TerminalPainter painter_{view_};
    ReceivePipe pipe_;
    const ReceivePipe::ChunkHandler handOn_ = [this](const uint8_t* data, int count, CharSource source) {
        HandOn(data, count, source);
    };
    std::unique_ptr<TerminalCapture> capture_;
    std::unique_ptr<PortLink> portLink_;

    std::unique_ptr<TTYEmulator> builtIn_;
    TerminalEmulator* emulator_ = nullptr;
    TerminalEmulator* explicitEmulator_ = nullptr;
};

// The published form of the control; all behaviour is in CustomTerminal.
class Terminal : public CustomTerminal {
public:
    using CustomTerminal::CustomTerminal;
};

}  // namespace hydrix::terminal
