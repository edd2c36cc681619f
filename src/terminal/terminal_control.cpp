#include "terminal/terminal_control.h"

#include <utility>

#include "platform/scope_exit.h"
#include "terminal/tty_emulator.h"

namespace hydrix::terminal {

CustomTerminal::CustomTerminal()
    : receive_(std::make_shared<ReceiveQueue>()), builtIn_(std::make_unique<TTYEmulator>()) {
    builtIn_->SetBuiltIn(true);
    builtIn_->SetTerminal(this);
    emulator_ = builtIn_.get();
    // No port yet: this only marks the attach as pending.
    SetActive(true);
}

CustomTerminal::~CustomTerminal() {
    destroying_ = true;
    // The widget may already be going away with the control.
    host_ = nullptr;
    SetEmulator(nullptr);
    DestroyHandle();
    if (comPort_ != nullptr) {
        comPort_->DeregisterCallbackUser(this);
        if (comPort_->LinkedTerminal() == this) {
            comPort_->SetLinkedTerminal(nullptr);
        }
    }
    RemoveTerminalLink(this, false);
    capture_.Close();
    builtIn_.reset();
}

void CustomTerminal::SetHost(TerminalHost* host) {
    if (host == host_) {
        return;
    }
    if (host_ != nullptr) {
        HideCaret();
    }
    host_ = host;
    canvas_ = nullptr;
    if (host_ == nullptr) {
        return;
    }
    host_->SetBorder(borderStyle_ == terminal::BorderStyle::bsSingle);
    HandleNeeded();
    // A new widget starts from the bars as they are.
    host_->ShowScrollBar(ScrollBarKind::Horizontal, hasHScroll_);
    host_->ShowScrollBar(ScrollBarKind::Vertical, hasVScroll_);
    ApplyScrollBars();
    MeasureCell();
}

void CustomTerminal::HandleNeeded() {
    if (handle_ == 0 && !destroying_) {
        CreateWnd();
    }
}

platform::WindowHandle CustomTerminal::WindowHandle() {
    HandleNeeded();
    return handle_;
}

void CustomTerminal::PostToSelf(uint32_t msg, platform::WParam w, platform::LParam l) {
    const platform::WindowHandle window = WindowHandle();
    if (window != 0) {
        platform::PostMessage(window, msg, w, l);
    }
}

void CustomTerminal::CreateWnd() {
    DestroyCaret();
    handle_ = platform::MessageLoop::Instance().CreateWindow(
        [this](uint32_t msg, platform::WParam w, platform::LParam l) { return WndProc(msg, w, l); });
    {
        // Bytes that arrived while there was no window are picked up now.
        std::lock_guard guard(receive_->Lock);
        receive_->Window = handle_;
        receive_->Posted =
            receive_->Queue.Count() > 0 &&
            platform::PostMessage(handle_, AM_TERMDATA, static_cast<platform::WParam>(CharSource::csPort), 0);
    }
    hasHScroll_ = HorzBarWanted();
    hasVScroll_ = VertBarWanted();
    if (comPort_ != nullptr) {
        comPort_->RegisterWindowUser(handle_);
        if (active_) {
            RequestAttach();
        }
    }
    MeasureCell();
    platform::MessageLoop::Instance().SetTimer(handle_, kTerminalTimerId, kTerminalTimerMs);
    if (Buffer() != nullptr && !destroying_) {
        Buffer()->SetNotifyWindow(handle_);
    }
}

void CustomTerminal::DestroyHandle() {
    if (handle_ == 0) {
        return;
    }
    if (comPort_ != nullptr) {
        Detach();
        comPort_->DeregisterWindowUser(handle_);
    }
    platform::MessageLoop::Instance().KillTimer(handle_, kTerminalTimerId);
    DestroyCaret();
    if (Buffer() != nullptr) {
        Buffer()->SetNotifyWindow(0);
    }
    const platform::WindowHandle old = handle_;
    handle_ = 0;
    {
        std::lock_guard guard(receive_->Lock);
        receive_->Window = 0;
        receive_->Posted = false;  // its message goes with the window
    }
    platform::MessageLoop::Instance().DestroyWindow(old);
}

platform::LResult CustomTerminal::WndProc(uint32_t msg, platform::WParam w, platform::LParam l) {
    const auto low = static_cast<int>(w & 0xFFFF);
    const auto high = static_cast<int>(static_cast<int16_t>((w >> 16) & 0xFFFF));
    switch (msg) {
    case comm::kPortOpenMsg:
        if (attachPending_) {
            RequestAttach();
        }
        return 0;
    case comm::kPortClosedMsg:
    case comm::kPortClosingMsg:
        Detach();
        return 0;
    case AM_TERMDATA:
        ProcessReceived(w);
        return 0;
    case AM_TERMRECREATE:
        ApplyScrollBars();
        return 0;
    case AM_TERMATTACH:
        AttachStep();
        return 0;
    case AM_TERMPAINT:
        if (!useLazyDisplay_) {
            PaintStep();
        }
        return 0;
    case platform::WM_TIMER:
        if (w == kTerminalTimerId) {
            TimerTick();
        }
        return 0;
    case WM_CANCELMODE:
        CancelMode();
        return 0;
    case WM_COPY:
        CopySelection();
        return 1;
    case WM_ERASEBKGND:
        return 1;
    case WM_GETDLGCODE:
        return wantAllKeys_ ? kDlgCodeWantAll : 0;
    case WM_HSCROLL:
        HScroll(low, high);
        return 0;
    case WM_VSCROLL:
        VScroll(low, high);
        return 0;
    case WM_KILLFOCUS:
        FocusOut();
        return 0;
    case WM_SETFOCUS:
        FocusIn();
        return 0;
    case WM_PASTE:
        PasteClipboard();
        return 0;
    default:
        (void)l;
        return 0;
    }
}

// Properties -----------------------------------------------------------------------------

void CustomTerminal::SetActive(bool value) {
    if (value == active_) {
        return;
    }
    attachPending_ = false;
    active_ = value;
    if (comPort_ != nullptr) {
        if (value) {
            RequestAttach();
        } else {
            Detach();
        }
    } else if (value) {
        attachPending_ = true;
    }
}

void CustomTerminal::SetAutoScrollback(bool value) {
    autoScrollback_ = value;
    RefreshVertBar();
}

void CustomTerminal::SetBlinkTime(int value) {
    if (value <= 0) {
        blinkTime_ = 0;
    } else if (value <= 250) {
        blinkTime_ = 250;
    } else {
        blinkTime_ = value;
    }
}

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

TerminalBuffer* CustomTerminal::Buffer() const {
    return emulator_ == nullptr ? nullptr : emulator_->Buffer();
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
    leftCol_ = 1;
    topRow_ = 1;
    RecomputeView();
    Invalidate();
}

void CustomTerminal::SetRows(int value) {
    if (Buffer() == nullptr || value <= 0 || value == Rows()) {
        return;
    }
    Buffer()->tbSetRowCount(value);
    RecomputeView();
    Invalidate();
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
            Detach();
            comPort_->DeregisterWindowUser(handle_);
        }
        comPort_->DeregisterCallbackUser(this);
        if (comPort_->LinkedTerminal() == this) {
            comPort_->SetLinkedTerminal(nullptr);
        }
    }
    comPort_ = port;
    portLink_.SetPort(port);
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
        if (active_) {
            RequestAttach();
        }
    }
}

void CustomTerminal::SetCursorType(terminal::CursorType value) {
    HideCaret();
    DestroyCaret();
    cursorType_ = value;
    CreateCaret();
    ShowCaret();
}

void CustomTerminal::SetFollowCursor(bool value) {
    if (value == followCursor_) {
        return;
    }
    followCursor_ = value;
    KeepCursorVisible();
}

void CustomTerminal::SetHideScrollbars(bool value) {
    hideScrollbars_ = value;
    RefreshScrollBars();
}

void CustomTerminal::SetLazyByteDelay(int value) {
    if (value >= 1 && value <= 1024) {
        lazyByteDelay_ = value;
    }
}

void CustomTerminal::SetLazyTimeDelay(int value) {
    if (value >= 1 && value <= 1000) {
        lazyTimeDelay_ = value;
    }
}

void CustomTerminal::SetMouseSelect(bool value) {
    mouseSelect_ = value;
    selecting_ = false;
    if (!value) {
        ClearSelection();
    }
}

void CustomTerminal::SetScrollback(bool value) {
    scrollback_ = value;
    RefreshVertBar();
}

void CustomTerminal::SetFont(const TerminalFont& font) {
    const bool sizeChanged = font.Name != font_.Name || font.Size != font_.Size || font.Height != font_.Height;
    font_ = font;
    if (sizeChanged && handle_ != 0) {
        MeasureCell();
    } else {
        Invalidate();
    }
}

void CustomTerminal::SetColor(uint32_t value) {
    if (value != color_) {
        color_ = value;
        Invalidate();
    }
}

void CustomTerminal::SetFontColor(uint32_t value) {
    if (value != font_.Color) {
        font_.Color = value;
        Invalidate();
    }
}

TerminalPort* CustomTerminal::PortSink() {
    return comPort_ == nullptr ? nullptr : &portLink_;
}

void CustomTerminal::CursorMoved(TerminalBuffer* sender, int row, int col) {
    if (OnCursorMoved) {
        const TerminalCursorMovedEvent handler = OnCursorMoved;
        handler(sender, row, col);
    }
}

TerminalEmulator* CustomTerminal::Emulator() const {
    return explicitEmulator_;
}

void CustomTerminal::SetEmulator(TerminalEmulator* emulator) {
    if (Buffer() == nullptr || emulator == explicitEmulator_) {
        return;
    }
    if (handle_ != 0) {
        platform::MessageLoop::Instance().KillTimer(handle_, kTerminalTimerId);
    }
    const int svRows = Buffer()->SVRowCount();
    const int rows = Buffer()->RowCount();
    const int cols = Buffer()->ColCount();
    if (TerminalEmulator* old = explicitEmulator_) {
        if (handle_ != 0 && !destroying_ && old->Buffer() != nullptr) {
            old->Buffer()->SetNotifyWindow(0);
        }
        explicitEmulator_ = nullptr;
        emulator_ = builtIn_.get();
        RemoveTerminalLink(this, false);
        old->SetTerminal(nullptr);
    }
    if (emulator != nullptr) {
        explicitEmulator_ = emulator;
        emulator_ = emulator;
        if (emulator->Buffer() != nullptr) {
            emulator->Buffer()->SetNotifyWindow(handle_);
        }
        AddTerminalLink(this, emulator);
    } else {
        emulator_ = builtIn_.get();
    }
    if (svRows > 0 && Buffer() != nullptr) {
        Buffer()->tbSetSVRowCount(svRows);
        Buffer()->tbSetRowCount(rows);
        Buffer()->tbSetColCount(cols);
    }
    if (handle_ != 0) {
        platform::MessageLoop::Instance().SetTimer(handle_, kTerminalTimerId, kTerminalTimerMs);
    }
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

// Operations ---------------------------------------------------------------------------

void CustomTerminal::ClearAll() {
    emulator_->ClearAll();
}

void CustomTerminal::Loaded() {
    MeasureCell();
    if (Buffer() != nullptr) {
        Buffer()->SetCursorRow(1);
    }
}

template <typename Fn>
void CustomTerminal::DrawOutsidePaint(Fn fn) {
    if (host_ == nullptr) {
        return;
    }
    HideCaret();
    Canvas* canvas = host_->BeginDraw();
    // The caret comes back also when painting fails.
    ScopeExit done([this, canvas] {
        if (canvas != nullptr) {
            host_->EndDraw();
        }
        canvas_ = nullptr;
        ShowCaret();
    });
    if (canvas == nullptr) {
        return;
    }
    canvas_ = canvas;
    canvas->SetClip(PixelRect{0, 0, visibleCols_ * charWidth_, visibleRows_ * charHeight_});
    fn();
}

void CustomTerminal::PaintStep() {
    DrawOutsidePaint([this] { emulator_->LazyPaint(); });
}

void CustomTerminal::TimerTick() {
    if (selecting_ && host_ != nullptr) {
        const ClientPoint pos = host_->CursorPos();
        if (needHorz_) {
            if (pos.X < 0) {
                HScroll(SB_LINELEFT, 0);
            } else if (pos.X >= clientWidth_) {
                HScroll(SB_LINERIGHT, 0);
            }
        }
        if (pos.Y < 0) {
            VScroll(SB_LINEUP, 0);
        } else if (pos.Y >= clientHeight_) {
            VScroll(SB_LINEDOWN, 0);
        }
        MouseMove(0, pos.X, pos.Y);
    }
    if (blinkTime_ > 0) {
        blinkElapsed_ += static_cast<int>(kTerminalTimerMs);
        if (blinkElapsed_ > blinkTime_) {
            blinkPhase_ = !blinkPhase_;
            if (emulator_->HasBlinkingText()) {
                const bool phase = blinkPhase_;
                DrawOutsidePaint([this, phase] { emulator_->BlinkPaint(phase); });
            }
            blinkElapsed_ = 0;
        }
    }
    if (useLazyDisplay_) {
        lazyElapsed_ += static_cast<int>(kTerminalTimerMs);
        // The delays are checked first: NeedsUpdate takes the cursor-moved flag, which
        // would be lost on a tick that does not paint.
        if ((lazyElapsed_ > lazyTimeDelay_ || lazyBytes_ > lazyByteDelay_) && emulator_->NeedsUpdate()) {
            PaintStep();
            lazyElapsed_ = 0;
            lazyBytes_ = 0;
        }
    }
}

}  // namespace hydrix::terminal
