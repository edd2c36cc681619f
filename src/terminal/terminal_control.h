// The terminal control: bytes its com port receives are taken on the dispatcher thread
// into the receive queue, then on the GUI thread captured to file and handed to the
// emulator, which writes the buffer; the control paints the buffer through its host
// widget and turns keys and mouse drags into bytes for the port and clipboard text.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comm/com_port.h"
#include "comm/component_base.h"
#include "comm/dispatcher_hook.h"
#include "platform/message_loop.h"
#include "terminal/byte_queue.h"
#include "terminal/canvas.h"
#include "terminal/emulator_terminal.h"
#include "terminal/port_link.h"
#include "terminal/terminal_buffer.h"
#include "terminal/terminal_capture.h"
#include "terminal/terminal_emulator.h"
#include "terminal/terminal_host.h"
#include "terminal/terminal_keys.h"

namespace hydrix::terminal {

class TTYEmulator;

// Messages the control posts to its own window (AM_TERMPAINT: terminal_buffer.h).
constexpr uint32_t AM_TERMDATA = 0x7E47;
constexpr uint32_t AM_TERMRECREATE = 0x7E4D;
constexpr uint32_t AM_TERMATTACH = 0x7E89;

// Received bytes handled per AM_TERMDATA; the rest waits for a fresh message so that
// timers, input and painting run between chunks of a flood.
constexpr int kReceiveChunk = 16 * 1024;

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
constexpr uint32_t kTerminalTimerMs = 100;

enum class CursorType { ctNone = 0, ctUnderline = 1, ctBlock = 2 };
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

    // Window ------------------------------------------------------------------------
    // The control's message window, created on demand (also by posting to it).
    bool HandleAllocated() const { return handle_ != 0; }
    void HandleNeeded();
    // Destroys the window: the port handler is detached and the timer stops.
    void DestroyHandle();
    platform::LResult WndProc(uint32_t msg, platform::WParam w, platform::LParam l);

    // Properties --------------------------------------------------------------------
    bool Active() const { return active_; }
    void SetActive(bool value);
    bool AutoCopy() const { return autoCopy_; }
    void SetAutoCopy(bool value) { autoCopy_ = value; }
    bool AutoScrollback() const { return autoScrollback_; }
    void SetAutoScrollback(bool value);
    int BlinkTime() const { return blinkTime_; }
    void SetBlinkTime(int value);
    terminal::BorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(terminal::BorderStyle value);
    CaptureMode Capture() const { return capture_.Mode(); }
    void SetCapture(CaptureMode value) { capture_.SetMode(value); }
    const std::string& CaptureFile() const { return capture_.FileName(); }
    void SetCaptureFile(const std::string& value) { capture_.SetFileName(value); }
    // A capture write failed or came up short since the file was opened.
    bool CaptureIncomplete() const { return capture_.Incomplete(); }
    // Captures never replace a file (see TerminalCapture::NoReplace).
    void SetCaptureNoReplace(bool value) { capture_.SetNoReplace(value); }
    // The last capture file closed, as it stood then.
    const CaptureRecord& LastCaptureRecord() const { return capture_.LastRecord(); }
    // Hands on at once every byte waiting in the receive queue, so that the capture file
    // and the screen hold everything received so far.
    void ProcessAllReceived();
    int Columns() const;
    void SetColumns(int value);
    int Rows() const;
    void SetRows(int value);
    int ScrollbackRows() const;
    void SetScrollbackRows(int value);
    comm::CustomComPort* ComPort() const { return comPort_; }
    void SetComPort(comm::CustomComPort* port);
    terminal::CursorType CursorType() const { return cursorType_; }
    void SetCursorType(terminal::CursorType value);
    void SetFollowCursor(bool value);
    void SetHalfDuplex(bool value) { halfDuplex_ = value; }
    bool HideScrollbars() const override { return hideScrollbars_; }
    void SetHideScrollbars(bool value);
    int LazyByteDelay() const { return lazyByteDelay_; }
    void SetLazyByteDelay(int value);
    int LazyTimeDelay() const { return lazyTimeDelay_; }
    void SetLazyTimeDelay(int value);
    bool MouseSelect() const { return mouseSelect_; }
    void SetMouseSelect(bool value);
    bool PasteToPort() const { return pasteToPort_; }
    void SetPasteToPort(bool value) { pasteToPort_ = value; }
    bool PasteToScreen() const { return pasteToScreen_; }
    void SetPasteToScreen(bool value) { pasteToScreen_ = value; }
    bool Scrollback() const { return scrollback_; }
    void SetScrollback(bool value);
    void SetUseLazyDisplay(bool value) { useLazyDisplay_ = value; }
    bool WantAllKeys() const { return wantAllKeys_; }
    void SetWantAllKeys(bool value) { wantAllKeys_ = value; }
    void SetFreezeScrollBack(bool value) { freezeScrollBack_ = value; }
    const TerminalFont& Font() const { return font_; }
    void SetFont(const TerminalFont& font);

    // The emulator in use: the built-in one, or the one set here (Emulator() reads
    // nullptr while the built-in one is current).
    TerminalEmulator* CurrentEmulator() const { return emulator_; }
    TerminalBuffer* Buffer() const;

    TerminalCursorMovedEvent OnCursorMoved;
    KeyEvent OnKeyDown;
    KeyPressEvent OnKeyPress;
    MouseEvent OnMouseDown;
    MouseMoveEvent OnMouseMove;
    MouseEvent OnMouseUp;

    // Operations --------------------------------------------------------------------
    void ClearAll();
    void CopySelection();
    void PasteClipboard();
    // Shown (and captured) exactly as if received.
    void DisplayChar(uint8_t ch);
    void DisplayString(const std::string& text);
    // Settings have been applied: measures the cell and puts the cursor on row 1.
    void Loaded();
    // Another component is going away: an assigned emulator or the com port.
    void ComponentRemoved(const void* component);

    // Widget events -----------------------------------------------------------------
    // The client area (without scroll bars) is now width x height pixels (WM_SIZE).
    void Resize(int width, int height);
    int ClientWidth() const { return clientWidth_; }
    int ClientHeight() const { return clientHeight_; }
    // WM_PAINT: draws the part under canvas.ClipRect().
    void Paint(Canvas& canvas);
    void FocusIn();
    void FocusOut();
    // The key-down notice before translation; true when handled (no character follows).
    bool PreviewKeyDown(uint16_t key, uint32_t keyData, ShiftState shift);
    // The key-down step after translation and the character step.
    void KeyDown(uint16_t& key, ShiftState shift);
    void KeyPress(uint8_t& ch);
    void MouseDown(MouseButton button, ShiftState shift, int x, int y);
    void MouseMove(ShiftState shift, int x, int y);
    void MouseUp(MouseButton button, ShiftState shift, int x, int y);
    void CancelMode();
    void HScroll(int code, int pos);
    void VScroll(int code, int pos);
    // One tick of the 100 ms timer: drag scrolling, blinking, lazy display.
    void TimerTick();

    // State the widget and tests read ---------------------------------------------------
    bool Hooked() const { return hook_.Attached(); }
    bool AttachPending() const { return attachPending_; }
    bool HasSelection() const { return hasSelection_; }
    bool Selecting() const { return selecting_; }
    struct Selection {
        int StartCol = 0;
        int StartRow = 0;
        int EndCol = 0;
        int EndRow = 0;
    };
    Selection GetSelection() const { return selection_; }
    // Whether a bar is wanted now, and whether it is shown.
    bool HorzBarWanted() const;
    bool VertBarWanted() const;
    bool HorzBarShown() const { return hasHScroll_; }
    bool VertBarShown() const { return hasVScroll_; }
    const ScrollInfo& HorzScrollInfo() const { return hScrollInfo_; }
    const ScrollInfo& VertScrollInfo() const { return vScrollInfo_; }
    const CaretState& Caret() const { return caret_; }
    const PixelRect& TextRect() const { return textRect_; }
    int ReceiveQueueCount();

    // The view geometry item by item (ViewGeometry says what each is).
    int CharWidth() const { return charWidth_; }
    int CharHeight() const { return charHeight_; }
    int LeftCol() const { return leftCol_; }
    int TopRow() const { return topRow_; }
    int VisibleCols() const { return visibleCols_; }
    int VisibleRows() const { return visibleRows_; }
    int FullCols() const { return fullCols_; }
    int FullRows() const { return fullRows_; }

    // EmulatorTerminal ------------------------------------------------------------------
    uint32_t Color() const override { return color_; }
    void SetColor(uint32_t value) override;
    uint32_t FontColor() const override { return font_.Color; }
    void SetFontColor(uint32_t value) override;
    ViewGeometry Geometry() const override {
        return {charWidth_, charHeight_, leftCol_, topRow_, visibleCols_, visibleRows_, fullCols_, fullRows_};
    }
    bool HalfDuplex() const override { return halfDuplex_; }
    bool UseLazyDisplay() const override { return useLazyDisplay_; }
    bool FollowCursor() const override { return followCursor_; }
    bool FreezeScrollBack() const override { return freezeScrollBack_; }
    bool CursorBeyondWidth() const override { return cursorBeyondWidth_; }
    bool CursorBeyondHeight() const override { return cursorBeyondHeight_; }
    void SetCursorBeyond(bool width, bool height) override {
        cursorBeyondWidth_ = width;
        cursorBeyondHeight_ = height;
    }
    platform::WindowHandle Handle() const override { return handle_; }
    Canvas* GetCanvas() override { return canvas_; }
    void KeepCursorVisible() override;
    void RefreshScrollBars() override;
    void CursorMoved(TerminalBuffer* sender, int row, int col) override;
    TerminalEmulator* Emulator() const override;
    void SetEmulator(TerminalEmulator* emulator) override;

protected:
    TerminalPort* PortSink() override;

private:
    platform::WindowHandle WindowHandle();
    void PostToSelf(uint32_t msg, platform::WParam w, platform::LParam l);
    // Written text (DisplayChar, DisplayString) into the receive queue, handed on as csWriteChar.
    void QueueWritten(const uint8_t* data, int count);
    void CreateWnd();

    // Activation and the port (terminal_control_port.cpp).
    void RequestAttach();
    void AttachStep();
    // Attaches the port handler, offered bytes from the next one received.
    void Hook(comm::BaseDispatcher& dispatcher);
    void Detach();
    void ProcessReceived(platform::WParam source);
    void PaintStep();
    void ScrollCursorIntoView();

    // View (terminal_view.cpp).
    void MeasureCell();
    void RecomputeView();
    void ApplyScrollBars();
    void RefreshVertBar();
    void RefreshHorzBar();
    ScrollInfo MakeHorzInfo() const;
    ScrollInfo MakeVertInfo() const;
    void SetBarInfo(ScrollBarKind bar, const ScrollInfo& info);
    void ScrollToCol(int col);
    void ScrollToRow(int row);
    int LowestTopRow() const;
    void Invalidate();
    void CreateCaret();
    void DestroyCaret();
    void HideCaret();
    void ShowCaret();
    void PublishCaret();
    template <typename Fn>
    void DrawOutsidePaint(Fn fn);

    // Selection (terminal_selection.cpp).
    struct Cell {
        int Col = 0;
        int Row = 0;
    };
    Cell CellAt(int x, int y) const;
    void ClampToView(int& x, int& y) const;
    void ExtendSelection(int x, int y);
    void MarkSelection(const Selection& next);
    void ClearSelection();
    void InvalidateRow(int row);

    TerminalHost* host_ = nullptr;
    platform::WindowHandle handle_ = 0;
    bool destroying_ = false;

    // Properties.
    bool active_ = false;
    bool autoCopy_ = true;
    bool autoScrollback_ = true;
    int blinkTime_ = 500;
    terminal::BorderStyle borderStyle_ = terminal::BorderStyle::bsSingle;
    comm::CustomComPort* comPort_ = nullptr;
    terminal::CursorType cursorType_ = terminal::CursorType::ctBlock;
    bool followCursor_ = true;
    bool halfDuplex_ = false;
    bool hideScrollbars_ = false;
    int lazyByteDelay_ = 200;
    int lazyTimeDelay_ = 100;
    bool mouseSelect_ = true;
    bool pasteToPort_ = false;
    bool pasteToScreen_ = false;
    bool scrollback_ = false;
    bool useLazyDisplay_ = true;
    bool wantAllKeys_ = true;
    bool freezeScrollBack_ = true;
    uint32_t color_ = 0;
    TerminalFont font_;

    // Received bytes: written by the dispatcher thread, read by the GUI thread. Shared
    // with the port handler, so a call that is still running on the dispatcher thread
    // when the control goes away writes into a live queue and posts to a dead window.
    struct ReceiveQueue {
        std::mutex Lock;  // its place in the lock order: see BaseDispatcher's locks
        ByteQueue Queue;
        platform::WindowHandle Window = 0;  // where the port handler posts (under Lock)
        // An AM_TERMDATA for the port's bytes is queued or being handled (under Lock).
        // The port handler posts only without one, so a flood costs one message per
        // chunk and the GUI thread gets back to its other events between chunks.
        bool Posted = false;
    };
    std::shared_ptr<ReceiveQueue> receive_;
    // GUI thread only: the bytes last swapped out of the receive queue, handed to the
    // emulator from takenPos_ on.
    ByteQueue taken_;
    int takenPos_ = 0;
    std::vector<uint8_t> spareChunk_;
    TerminalCapture capture_;
    PortLink portLink_{this, this};

    std::unique_ptr<TTYEmulator> builtIn_;
    TerminalEmulator* emulator_ = nullptr;
    TerminalEmulator* explicitEmulator_ = nullptr;
    Canvas* canvas_ = nullptr;

    int blinkElapsed_ = 0;
    bool blinkPhase_ = false;
    int lazyBytes_ = 0;
    int lazyElapsed_ = 0;
    // While a received chunk is processed the view follows the cursor once, after the
    // chunk, instead of on every byte that moves it.
    bool receiving_ = false;
    bool followPending_ = false;
    // ProcessAllReceived is running: nothing is left for a later message.
    bool handOnAll_ = false;
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
    bool caretCreated_ = false;
    bool caretShown_ = false;
    CaretState caret_;
    ScrollInfo hScrollInfo_;
    ScrollInfo vScrollInfo_;
    bool hasHScroll_ = false;
    bool hasVScroll_ = false;
    comm::DispatcherHook hook_{this};
    PixelRect textRect_;
    PixelRect rightMargin_;
    PixelRect bottomMargin_;
    bool needHorz_ = false;
    bool needVert_ = false;
    bool attachPending_ = false;
    bool attaching_ = false;
    bool cursorBeyondWidth_ = false;
    bool cursorBeyondHeight_ = false;

    bool hasSelection_ = false;
    bool selecting_ = false;
    Cell anchor_;
    Selection selection_;
};

// The published form of the control; all behaviour is in CustomTerminal.
class Terminal : public CustomTerminal {
public:
    using CustomTerminal::CustomTerminal;
};

}  // namespace hydrix::terminal
