#include "terminal/terminal_control.h"

#include "comm/com_port.h"
#include "platform/clock.h"
#include "platform/scope_exit.h"
#include "terminal/port_link.h"
#include "terminal/terminal_buffer.h"
#include "terminal/terminal_capture.h"
#include "terminal/tty_emulator.h"

namespace hydrix::terminal {

CustomTerminal::CustomTerminal()
    : view_([this] { PostToSelf(AM_TERMRECREATE); }),
      pipe_(
          this,
          [this] {
              HandleNeeded();
              return handle_;
          },
          [this] { Loaded(); }),
      capture_(std::make_unique<TerminalCapture>()),
      portLink_(std::make_unique<PortLink>(this, this)),
      builtIn_(std::make_unique<TTYEmulator>()) {
    builtIn_->SetBuiltIn(true);
    builtIn_->SetTerminal(this);
    UseEmulator(builtIn_.get());
    // No port yet: this only marks the attach as pending.
    SetActive(true);
}

CustomTerminal::~CustomTerminal() {
    destroying_ = true;
    // The widget may already be going away with the control.
    host_ = nullptr;
    view_.SetHost(nullptr);
    selection_.SetHost(nullptr);
    painter_.SetHost(nullptr);
    SetEmulator(nullptr);
    DestroyHandle();
    if (comPort_ != nullptr) {
        comPort_->DeregisterCallbackUser(this);
        if (comPort_->LinkedTerminal() == this) {
            comPort_->SetLinkedTerminal(nullptr);
        }
    }
    RemoveTerminalLink(this, false);
    capture_->Close();
    builtIn_.reset();
}

void CustomTerminal::SetHost(TerminalHost* host) {
    if (host == host_) {
        return;
    }
    if (host_ != nullptr) {
        painter_.HideCaret();
    }
    host_ = host;
    view_.SetHost(host);
    selection_.SetHost(host);
    painter_.SetHost(host);
    if (host == nullptr) {
        return;
    }
    host->SetBorder(borderStyle_ == terminal::BorderStyle::bsSingle);
    HandleNeeded();
    view_.Present();
    MeasureCell();
}

void CustomTerminal::UseEmulator(TerminalEmulator* emulator) {
    emulator_ = emulator;
    view_.SetBuffer(emulator->Buffer());
    selection_.SetBuffer(emulator->Buffer());
    painter_.SetEmulator(emulator);
}

TerminalBuffer* CustomTerminal::Buffer() const {
    return emulator_ == nullptr ? nullptr : emulator_->Buffer();
}

// Window ---------------------------------------------------------------------------------

void CustomTerminal::HandleNeeded() {
    if (handle_ == 0 && !destroying_) {
        CreateWnd();
    }
}

void CustomTerminal::PostToSelf(uint32_t msg) {
    HandleNeeded();
    if (handle_ != 0) {
        platform::PostMessage(handle_, msg, 0, 0);
    }
}

void CustomTerminal::CreateWnd() {
    painter_.DestroyCaret();
    handle_ = platform::MessageLoop::Instance().CreateWindow(
        [this](uint32_t msg, platform::WParam w, platform::LParam l) { return WndProc(msg, w, l); });
    pipe_.WindowCreated(handle_);
    view_.SetWindowed(true);
    if (comPort_ != nullptr) {
        comPort_->RegisterWindowUser(handle_);
        if (Active()) {
            pipe_.RequestAttach();
        }
    }
    MeasureCell();
    StartTimer();
}

void CustomTerminal::StartTimer() {
    if (handle_ != 0) {
        timerRunning_ = platform::MessageLoop::Instance().SetTimer(handle_, kTerminalTimerId, kTerminalTimerMs);
    }
}

void CustomTerminal::StopTimer() {
    if (handle_ != 0) {
        platform::MessageLoop::Instance().KillTimer(handle_, kTerminalTimerId);
    }
    timerRunning_ = false;
}

void CustomTerminal::WakeTimer() {
    if (handle_ == 0 || timerRunning_) {
        return;
    }
    const uint32_t asleep = platform::SystemClock().NowMs() - timerStoppedAt_;
    painter_.Slept(asleep / kTerminalTimerMs);
    StartTimer();
}

void CustomTerminal::DestroyHandle() {
    if (handle_ == 0) {
        return;
    }
    if (comPort_ != nullptr) {
        pipe_.Detach();
        comPort_->DeregisterWindowUser(handle_);
    }
    StopTimer();
    painter_.DestroyCaret();
    const platform::WindowHandle old = handle_;
    handle_ = 0;
    repaintPosted_ = false;  // its message goes with the window
    view_.SetWindowed(false);
    pipe_.WindowDestroyed();
    platform::MessageLoop::Instance().DestroyWindow(old);
}

platform::LResult CustomTerminal::WndProc(uint32_t msg, platform::WParam w, platform::LParam l) {
    const auto low = static_cast<int>(w & 0xFFFF);
    const auto high = static_cast<int>(static_cast<int16_t>((w >> 16) & 0xFFFF));
    switch (msg) {
    case comm::kPortOpenMsg:
        pipe_.PortOpened();
        return 0;
    case comm::kPortClosedMsg:
    case comm::kPortClosingMsg:
        pipe_.Detach();
        return 0;
    case AM_TERMDATA:
        pipe_.Take(w, l, handOn_);
        return 0;
    case AM_TERMRECREATE:
        view_.ApplyScrollBars();
        return 0;
    case AM_TERMATTACH:
        pipe_.AttachStep();
        return 0;
    case AM_TERMPAINT:
        repaintPosted_ = false;
        painter_.RepaintRequested();
        return 0;
    case platform::WM_TIMER:
        if (w == kTerminalTimerId) {
            TimerTick();
        }
        return 0;
    case WM_CANCELMODE:
        selection_.Cancel();
        return 0;
    case WM_COPY:
        selection_.Copy();
        return 1;
    case WM_ERASEBKGND:
        return 1;
    case WM_GETDLGCODE:
        return wantAllKeys_ ? kDlgCodeWantAll : 0;
    case WM_HSCROLL:
        view_.HScroll(low, high);
        return 0;
    case WM_VSCROLL:
        view_.VScroll(low, high);
        return 0;
    case WM_KILLFOCUS:
        painter_.FocusOut();
        return 0;
    case WM_SETFOCUS:
        painter_.FocusIn();
        return 0;
    case WM_PASTE:
        PasteClipboard();
        return 0;
    default:
        return 0;
    }
}

// Properties -----------------------------------------------------------------------------

void CustomTerminal::SetBorderStyle(terminal::BorderStyle value) {
    if (value == borderStyle_) {
        return;
    }
    borderStyle_ = value;
    // The border is drawn by the widget; nothing is recreated, so the port stays attached.
    if (host_ != nullptr) {
        host_->SetBorder(value == terminal::BorderStyle::bsSingle);
    }
}

CaptureMode CustomTerminal::Capture() const {
    return capture_->Mode();
}

void CustomTerminal::SetCapture(CaptureMode value) {
    capture_->SetMode(value);
}

const std::string& CustomTerminal::CaptureFile() const {
    return capture_->FileName();
}

void CustomTerminal::SetCaptureFile(const std::string& value) {
    capture_->SetFileName(value);
}

int CustomTerminal::Columns() const {
    return Buffer() == nullptr ? 0 : Buffer()->ColCount();
}

int CustomTerminal::Rows() const {
    return Buffer() == nullptr ? 0 : Buffer()->RowCount();
}

int CustomTerminal::ScrollbackRows() const {
    return Buffer() == nullptr ? 0 : Buffer()->SVRowCount();
}

void CustomTerminal::SetColumns(int value) {
    if (Buffer() == nullptr || value <= 0 || value == Columns()) {
        return;
    }
    Buffer()->tbSetColCount(value);
    view_.Home();
    view_.RecomputeView();
    view_.Invalidate();
}

void CustomTerminal::SetRows(int value) {
    if (Buffer() == nullptr || value <= 0 || value == Rows()) {
        return;
    }
    Buffer()->tbSetRowCount(value);
    view_.RecomputeView();
    view_.Invalidate();
}

void CustomTerminal::SetScrollbackRows(int value) {
    if (Buffer() != nullptr && value > 0) {
        Buffer()->tbSetSVRowCount(value);
    }
}

void CustomTerminal::SetComPort(comm::CustomComPort* port) {
    if (port == comPort_) {
        return;
    }
    if (comPort_ != nullptr) {
        if (handle_ != 0) {
            pipe_.Detach();
            comPort_->DeregisterWindowUser(handle_);
        }
        comPort_->DeregisterCallbackUser(this);
        if (comPort_->LinkedTerminal() == this) {
            comPort_->SetLinkedTerminal(nullptr);
        }
    }
    comPort_ = port;
    pipe_.SetPort(port);
    portLink_->SetPort(port);
    if (port == nullptr) {
        return;
    }
    // Told when the port goes, with a window or without, so the pointer never outlives it.
    port->RegisterCallbackUser(this, [this](comm::CustomComPort& gone, comm::PortCallbackKind kind) {
        if (kind == comm::PortCallbackKind::PortRemoved) {
            ComponentRemoved(&gone);
        }
    });
    if (port->LinkedTerminal() == nullptr) {
        port->SetLinkedTerminal(this);
    }
    if (handle_ != 0) {
        port->RegisterWindowUser(handle_);
        if (Active()) {
            pipe_.RequestAttach();
        }
    }
}

void CustomTerminal::SetFont(const TerminalFont& font) {
    const bool sizeChanged = font.Name != font_.Name || font.Size != font_.Size || font.Height != font_.Height;
    font_ = font;
    if (sizeChanged && handle_ != 0) {
        MeasureCell();
    } else {
        view_.Invalidate();
    }
}

void CustomTerminal::SetColor(uint32_t value) {
    if (value != color_) {
        color_ = value;
        view_.Invalidate();
    }
}

void CustomTerminal::SetFontColor(uint32_t value) {
    if (value != font_.Color) {
        font_.Color = value;
        view_.Invalidate();
    }
}

TerminalPort* CustomTerminal::PortSink() {
    return comPort_ == nullptr ? nullptr : portLink_.get();
}

void CustomTerminal::SetEmulator(TerminalEmulator* emulator) {
    if (Buffer() == nullptr || emulator == explicitEmulator_) {
        return;
    }
    StopTimer();
    const int svRows = Buffer()->SVRowCount();
    const int rows = Buffer()->RowCount();
    const int cols = Buffer()->ColCount();
    if (TerminalEmulator* old = explicitEmulator_) {
        explicitEmulator_ = nullptr;
        UseEmulator(builtIn_.get());
        RemoveTerminalLink(this, false);
        // Its buffer's reports stop reaching this control here.
        old->SetTerminal(nullptr);
    }
    if (emulator != nullptr) {
        explicitEmulator_ = emulator;
        UseEmulator(emulator);
        AddTerminalLink(this, emulator);
    } else {
        UseEmulator(builtIn_.get());
    }
    if (svRows > 0 && Buffer() != nullptr) {
        Buffer()->tbSetSVRowCount(svRows);
        Buffer()->tbSetRowCount(rows);
        Buffer()->tbSetColCount(cols);
    }
    StartTimer();
}

void CustomTerminal::ComponentRemoved(const void* component) {
    if (component == nullptr) {
        return;
    }
    if (component == explicitEmulator_) {
        SetEmulator(nullptr);
    }
    if (component == comPort_) {
        SetActive(false);
        SetComPort(nullptr);
    }
}

// What the emulator tells ----------------------------------------------------------------------

void CustomTerminal::CursorMoved(TerminalBuffer* sender, int row, int col) {
    WakeTimer();
    // Without lazy display the caret and the cells follow the cursor at once.
    if (!UseLazyDisplay()) {
        Damaged();
    }
    if (OnCursorMoved) {
        const TerminalCursorMovedEvent handler = OnCursorMoved;
        handler(sender, row, col);
    }
}

void CustomTerminal::Damaged() {
    WakeTimer();
    // Everything damaged until the message is taken is painted by one paint step.
    if (handle_ != 0 && !repaintPosted_) {
        repaintPosted_ = platform::PostMessage(handle_, AM_TERMPAINT, 0, 0);
    }
}

// Operations ---------------------------------------------------------------------------

void CustomTerminal::ClearAll() {
    emulator_->ClearAll();
}

void CustomTerminal::PasteClipboard() {
    selection_.Paste([this](const std::string& text) { DisplayString(text); },
                     comPort_ == nullptr ? nullptr : portLink_.get());
}

void CustomTerminal::DisplayString(const std::string& text) {
    pipe_.Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

void CustomTerminal::ProcessAllReceived() {
    pipe_.TakeAll(handOn_);
}

void CustomTerminal::HandOn(const uint8_t* data, int count, CharSource source) {
    capture_->Write(data, static_cast<size_t>(count));
    {
        view_.BeginReceive();
        ScopeExit endReceive([this] { view_.EndReceive(); });
        emulator_->ProcessBlock(data, count, source);
    }
    view_.CatchUp();
    painter_.Changed(count);
}

void CustomTerminal::Loaded() {
    MeasureCell();
    if (Buffer() != nullptr) {
        Buffer()->SetCursorRow(1);
    }
}

void CustomTerminal::MeasureCell() {
    view_.SetCell(host_ == nullptr ? CellSize{} : host_->MeasureFont(font_));
}

// Keys and mouse ---------------------------------------------------------------------------

bool CustomTerminal::PreviewKeyDown(uint16_t key, uint32_t keyData, ShiftState shift) {
    if (selection_.Selecting() && key == VK_ESCAPE) {
        selection_.Cancel();
        return true;
    }
    const bool ctrlOnly = (shift & ssCtrl) != 0 && (shift & (ssShift | ssAlt)) == 0;
    if (selection_.HasSelection() && ctrlOnly && (key == 'C' || key == VK_INSERT)) {
        selection_.Copy();
        return true;
    }
    if (key >= VK_SHIFT && key <= VK_MENU) {
        return false;
    }
    if ((keyData & kKeyDataExtended) == 0) {
        // Without a widget the NumLock state is unknown: the keys stay as they are.
        if (host_ != nullptr && !host_->NumLockOn()) {
            key = MapKeypadKey(key);
        }
    } else if (key == VK_RETURN) {
        key = VK_EXECUTE;
    }
    if ((keyData & kKeyDataRepeat) != 0) {
        key |= kKeyRepeatFlag;
    }
    emulator_->KeyDown(key, shift);
    return key == 0;
}

void CustomTerminal::KeyDown(uint16_t& key, ShiftState shift) {
    if (OnKeyDown) {
        const KeyEvent handler = OnKeyDown;
        handler(*this, key, shift);
    }
    if (!wantAllKeys_ && key != 0) {
        emulator_->KeyDown(key, shift);
    }
}

void CustomTerminal::KeyPress(uint8_t& ch) {
    if (OnKeyPress) {
        const KeyPressEvent handler = OnKeyPress;
        handler(*this, ch);
    }
    if (ch == 0) {
        return;
    }
    emulator_->KeyPress(ch);
    painter_.Changed(0);
}

void CustomTerminal::MouseDown(MouseButton button, ShiftState shift, int x, int y) {
    if (OnMouseDown) {
        const MouseEvent handler = OnMouseDown;
        handler(*this, button, shift, x, y);
    }
    if (button == MouseButton::mbLeft) {
        selection_.Press(x, y);
        WakeTimer();
    }
}

void CustomTerminal::MouseMove(ShiftState shift, int x, int y) {
    if (OnMouseMove) {
        const MouseMoveEvent handler = OnMouseMove;
        handler(*this, shift, x, y);
    }
    selection_.Drag(x, y);
}

void CustomTerminal::MouseUp(MouseButton button, ShiftState shift, int x, int y) {
    if (OnMouseUp) {
        const MouseEvent handler = OnMouseUp;
        handler(*this, button, shift, x, y);
    }
    if (button == MouseButton::mbLeft) {
        selection_.Release();
    }
}

void CustomTerminal::TimerTick() {
    if (selection_.Selecting() && host_ != nullptr) {
        const ClientPoint pos = host_->CursorPos();
        view_.DragScroll(pos);
        MouseMove(0, pos.X, pos.Y);
    }
    const bool more = painter_.Tick();
    if (!more && !selection_.Selecting() && timerRunning_) {
        StopTimer();
        timerStoppedAt_ = platform::SystemClock().NowMs();
    }
}

}  // namespace hydrix::terminal
