// How the terminal reaches the screen: the paint request of its widget, the paint step
// that draws what the buffer reports as changed (at once, or batched by lazy display on
// the 100 ms tick), blinking, and the caret at the buffer's cursor. The emulator draws;
// this hands it the canvas and the view geometry. Owned by the terminal control.
#pragma once

#include <cstdint>

#include "terminal/terminal_host.h"

namespace hydrix::terminal {

class TerminalEmulator;
class TerminalViewport;

enum class CursorType { ctNone = 0, ctUnderline = 1, ctBlock = 2 };

class TerminalPainter {
public:
    // The interval of the tick that drives blinking and lazy display.
    static constexpr int kTickMs = 100;
    static constexpr int kElapsedLimit = 1 << 30;

    explicit TerminalPainter(const TerminalViewport& view) : view_(view) {}

    // Without a widget nothing is drawn and the caret is not shown.
    void SetHost(TerminalHost* host) { host_ = host; }
    void SetEmulator(TerminalEmulator* emulator) { emulator_ = emulator; }

    // Settings. BlinkTime <= 0 stores 0 (no blinking), 1..250 stores 250; the delays
    // outside 1..1024 bytes and 1..1000 ms are ignored.
    terminal::CursorType CursorType() const { return cursorType_; }
    void SetCursorType(terminal::CursorType value);
    int BlinkTime() const { return blinkTime_; }
    void SetBlinkTime(int value);
    int LazyByteDelay() const { return lazyByteDelay_; }
    void SetLazyByteDelay(int value);
    int LazyTimeDelay() const { return lazyTimeDelay_; }
    void SetLazyTimeDelay(int value);
    bool UseLazyDisplay() const { return useLazyDisplay_; }
    void SetUseLazyDisplay(bool value) { useLazyDisplay_ = value; }

    // The widget's paint request for the pixels under canvas.ClipRect(): the margins in
    // background, the cells through the emulator.
    void Paint(Canvas& canvas, uint32_t background);
    // Draws what the buffer reports as changed, on what the widget shows.
    void PaintStep();
    // The emulator has taken bytes (typed text: 0): without lazy display what changed is
    // painted now; with it the bytes count towards the next lazy paint.
    void Changed(int bytes);
    // A repaint request of the control's own: painted now without lazy display, else
    // left to the tick.
    void RepaintRequested();
    // One tick: blinking, then lazy display. False when the next tick has nothing to do
    // until the buffer changes again: no blinking text, and under lazy display nothing
    // waiting to be painted once the delays have passed.
    bool Tick();
    // Ticks that the timer left out while Tick had said there was nothing to do: the lazy
    // display's elapsed time grows by them as if they had run.
    void Slept(int64_t ticks);

    // The caret, as the widget is told to show it.
    const CaretState& Caret() const { return caret_; }
    void FocusIn();
    void FocusOut();
    void HideCaret();
    void ShowCaret();
    void DestroyCaret();

private:
    void CreateCaret();
    void PublishCaret();
    template <typename Fn>
    void DrawOutsidePaint(Fn fn);

    const TerminalViewport& view_;
    TerminalHost* host_ = nullptr;
    TerminalEmulator* emulator_ = nullptr;

    terminal::CursorType cursorType_ = terminal::CursorType::ctBlock;
    int blinkTime_ = 500;
    int lazyByteDelay_ = 200;
    int lazyTimeDelay_ = 100;
    bool useLazyDisplay_ = true;

    int blinkElapsed_ = 0;
    bool blinkPhase_ = false;
    int lazyBytes_ = 0;
    int lazyElapsed_ = 0;
    bool caretCreated_ = false;
    bool caretShown_ = false;
    CaretState caret_;
};

}  // namespace hydrix::terminal
