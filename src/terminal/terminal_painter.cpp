#include "terminal/terminal_painter.h"

#include <algorithm>

#include "platform/scope_exit.h"
#include "terminal/terminal_emulator.h"
#include "terminal/terminal_viewport.h"

namespace hydrix::terminal {

namespace {

PixelRect Intersect(const PixelRect& a, const PixelRect& b) {
    return PixelRect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                     std::min(a.bottom, b.bottom)};
}

bool IsEmpty(const PixelRect& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

}  // namespace

void TerminalPainter::SetCursorType(terminal::CursorType value) {
    HideCaret();
    DestroyCaret();
    cursorType_ = value;
    CreateCaret();
    ShowCaret();
}

void TerminalPainter::SetBlinkTime(int value) {
    if (value <= 0) {
        blinkTime_ = 0;
    } else if (value <= 250) {
        blinkTime_ = 250;
    } else {
        blinkTime_ = value;
    }
}

void TerminalPainter::SetLazyByteDelay(int value) {
    if (value >= 1 && value <= 1024) {
        lazyByteDelay_ = value;
    }
}

void TerminalPainter::SetLazyTimeDelay(int value) {
    if (value >= 1 && value <= 1000) {
        lazyTimeDelay_ = value;
    }
}

void TerminalPainter::Paint(Canvas& canvas, uint32_t background) {
    HideCaret();
    // The caret comes back also when painting fails.
    ScopeExit restore([this] { ShowCaret(); });
    const PixelRect clip = canvas.ClipRect();
    for (const PixelRect& margin : {view_.RightMargin(), view_.BottomMargin()}) {
        const PixelRect part = Intersect(clip, margin);
        if (!IsEmpty(part)) {
            canvas.FillRect(part, background);
        }
    }
    const PixelRect text = Intersect(clip, view_.TextRect());
    if (!IsEmpty(text) && emulator_ != nullptr) {
        canvas.SetClip(text);
        emulator_->Paint(canvas, view_.Geometry());
    }
}

template <typename Fn>
void TerminalPainter::DrawOutsidePaint(Fn fn) {
    if (host_ == nullptr || emulator_ == nullptr) {
        return;
    }
    HideCaret();
    Canvas* canvas = host_->BeginDraw();
    ScopeExit done([this, canvas] {
        if (canvas != nullptr) {
            host_->EndDraw();
        }
        ShowCaret();
    });
    if (canvas == nullptr) {
        return;
    }
    const ViewGeometry view = view_.Geometry();
    canvas->SetClip(PixelRect{0, 0, view.VisibleCols * view.CharWidth, view.VisibleRows * view.CharHeight});
    fn(*canvas, view);
}

void TerminalPainter::PaintStep() {
    DrawOutsidePaint([this](Canvas& canvas, const ViewGeometry& view) { emulator_->LazyPaint(canvas, view); });
}

void TerminalPainter::Changed(int bytes) {
    if (!useLazyDisplay_ && emulator_ != nullptr && emulator_->NeedsUpdate()) {
        PaintStep();
    }
    lazyBytes_ += bytes;
}

void TerminalPainter::RepaintRequested() {
    if (!useLazyDisplay_) {
        PaintStep();
    }
}

bool TerminalPainter::Tick() {
    if (emulator_ == nullptr) {
        return false;
    }
    bool blinking = false;
    if (blinkTime_ > 0) {
        blinking = emulator_->HasBlinkingText();
        blinkElapsed_ += kTickMs;
        if (blinkElapsed_ > blinkTime_) {
            blinkPhase_ = !blinkPhase_;
            if (blinking) {
                const bool phase = blinkPhase_;
                DrawOutsidePaint([this, phase](Canvas& canvas, const ViewGeometry& view) {
                    emulator_->BlinkPaint(canvas, view, phase);
                });
            }
            blinkElapsed_ = 0;
        }
    }
    if (!useLazyDisplay_) {
        return blinking;
    }
    Slept(1);
    // The delays are checked first: NeedsUpdate takes the cursor-moved flag, which
    // would be lost on a tick that does not paint.
    if (lazyElapsed_ <= lazyTimeDelay_ && lazyBytes_ <= lazyByteDelay_) {
        return true;
    }
    if (emulator_->NeedsUpdate()) {
        PaintStep();
        lazyElapsed_ = 0;
        lazyBytes_ = 0;
        return true;
    }
    return blinking;
}

void TerminalPainter::Slept(int64_t ticks) {
    // Saturated, so that months without a paint never wrap it.
    const int64_t elapsed = lazyElapsed_ + std::max<int64_t>(ticks, 0) * kTickMs;
    lazyElapsed_ = static_cast<int>(std::min<int64_t>(elapsed, kElapsedLimit));
}

// Caret ----------------------------------------------------------------------------------------

void TerminalPainter::PublishCaret() {
    if (host_ != nullptr) {
        host_->SetCaret(caret_);
    }
}

void TerminalPainter::CreateCaret() {
    if (cursorType_ == terminal::CursorType::ctNone) {
        caretCreated_ = false;
        return;
    }
    caretCreated_ = true;
    caret_.Width = view_.CharWidth();
    caret_.Height = cursorType_ == terminal::CursorType::ctUnderline ? 2 : view_.CharHeight();
}

void TerminalPainter::DestroyCaret() {
    if (caretCreated_ || caretShown_) {
        caretShown_ = false;
        caret_.Visible = false;
        PublishCaret();
    }
    caretCreated_ = false;
}

void TerminalPainter::HideCaret() {
    if (!caretShown_) {
        return;
    }
    caretShown_ = false;
    caret_.Visible = false;
    PublishCaret();
}

void TerminalPainter::ShowCaret() {
    if (caretShown_ || !caretCreated_ || host_ == nullptr || !host_->HasFocus() || emulator_ == nullptr ||
        emulator_->Buffer() == nullptr) {
        return;
    }
    const CellPos cursor = view_.CursorCell();
    const int x = (cursor.Col - view_.LeftCol()) * view_.CharWidth();
    int y = (cursor.Row - view_.TopRow()) * view_.CharHeight();
    if (cursorType_ == terminal::CursorType::ctUnderline) {
        y += view_.CharHeight() - 2;
    }
    if (x < 0 || x >= view_.ClientWidth() || y < 0 || y >= view_.ClientHeight()) {
        return;
    }
    caretShown_ = true;
    caret_.Visible = true;
    caret_.X = x;
    caret_.Y = y;
    PublishCaret();
}

void TerminalPainter::FocusIn() {
    if (!caretCreated_) {
        HideCaret();
    }
    CreateCaret();
    ShowCaret();
}

void TerminalPainter::FocusOut() {
    HideCaret();
    DestroyCaret();
}

}  // namespace hydrix::terminal
