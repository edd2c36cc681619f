// The terminal control's properties, the path of displayed text through the receive
// queue to the screen and the capture file, and painting under lazy display.
#include <gtest/gtest.h>

#include "terminal/tty_emulator.h"
#include "test_terminal_control_util.h"

namespace hydrix::terminal::test {
namespace {

using TerminalControl = TerminalFixture;

struct Coercion {
    int written;
    int stored;
};

TEST_F(TerminalControl, BlinkTimeIsCoerced) {
    const Coercion cases[] = {{100, 250}, {1, 250}, {250, 250}, {251, 251}, {0, 0}, {-5, 0}, {900, 900}};
    Terminal t;
    for (const auto& c : cases) {
        t.SetBlinkTime(c.written);
        EXPECT_EQ(t.BlinkTime(), c.stored) << c.written;
    }
}

TEST_F(TerminalControl, LazyDelaysOutsideTheirRangeAreIgnored) {
    Terminal t;
    const Coercion bytes[] = {{0, 200}, {1025, 200}, {1024, 1024}, {-1, 1024}, {1, 1}};
    for (const auto& c : bytes) {
        t.SetLazyByteDelay(c.written);
        EXPECT_EQ(t.LazyByteDelay(), c.stored) << c.written;
    }
    const Coercion times[] = {{0, 100}, {1001, 100}, {1000, 1000}, {1, 1}};
    for (const auto& c : times) {
        t.SetLazyTimeDelay(c.written);
        EXPECT_EQ(t.LazyTimeDelay(), c.stored) << c.written;
    }
}

TEST_F(TerminalControl, DefaultsAfterCreation) {
    Terminal t;
    EXPECT_TRUE(t.Active());
    EXPECT_TRUE(t.Receiver().AttachPending());  // no port yet
    EXPECT_FALSE(t.Receiver().Hooked());
    EXPECT_EQ(t.Capture(), CaptureMode::cmOff);
    EXPECT_EQ(t.CaptureFile(), "TERMINAL.CAP");
    EXPECT_EQ(t.CursorType(), CursorType::ctBlock);
    EXPECT_EQ(t.Columns(), 80);
    EXPECT_EQ(t.Rows(), 24);
    EXPECT_EQ(t.ScrollbackRows(), 200);
    EXPECT_FALSE(t.Scrollback());
    EXPECT_EQ(t.View().LeftCol(), 1);
    EXPECT_EQ(t.View().TopRow(), 1);
    EXPECT_EQ(t.Version(), "v4.05");
    EXPECT_EQ(t.Emulator(), nullptr);
    EXPECT_NE(t.CurrentEmulator(), nullptr);
}

TEST_F(TerminalControl, ActiveWithoutPortOnlyMarksTheAttachPending) {
    Terminal t;
    t.SetActive(false);
    EXPECT_FALSE(t.Receiver().AttachPending());
    t.SetActive(true);
    EXPECT_TRUE(t.Receiver().AttachPending());
    Pump();
    EXPECT_FALSE(t.Receiver().Hooked());
}

TEST_F(TerminalControl, SizeSettersIgnoreNonPositiveValuesAndPropagateBufferErrors) {
    Terminal t;
    t.SetColumns(0);
    t.SetRows(-1);
    t.SetScrollbackRows(0);
    EXPECT_EQ(t.Columns(), 80);
    EXPECT_EQ(t.Rows(), 24);
    EXPECT_EQ(t.ScrollbackRows(), 200);
    EXPECT_THROW(t.SetColumns(1), ETerminalError);
    t.SetScrollbackRows(1000);
    t.SetRows(45);
    EXPECT_EQ(t.Rows(), 45);
    EXPECT_EQ(t.ScrollbackRows(), 1000);
}

TEST_F(TerminalControl, DisplayStringIsShownAndCaptured) {
    TempDir dir;
    Terminal t;
    t.SetCaptureFile(dir.File("shown.cap"));
    t.SetCapture(CaptureMode::cmOn);
    t.DisplayString("Hello\r\n");
    t.DisplayChar('!');
    EXPECT_EQ(RowText(t, 1), "");  // shown only when the message loop takes it
    Pump();
    EXPECT_EQ(RowText(t, 1), "Hello");
    EXPECT_EQ(RowText(t, 2), "!");
    EXPECT_EQ(t.Receiver().Count(), 0);
    EXPECT_EQ(ReadFile(dir.File("shown.cap")), "Hello\r\n!");
}

TEST_F(TerminalControl, TextDisplayedBeforeTheWindowExistsIsHandedOnAsWritten) {
    Terminal t;
    std::string seen;
    t.CurrentEmulator()->OnProcessChar = [&](TerminalEmulator*, uint8_t ch, std::string&, EmuCommandList&,
                                             CharSource source) {
        seen += source == CharSource::csWriteChar ? static_cast<char>(ch) : '?';
    };
    t.DisplayString("ab");  // the first call makes the window
    t.DisplayChar('c');
    Pump();
    EXPECT_EQ(seen, "abc");
}

TEST_F(TerminalControl, PiledUpDataMessagesProcessEverythingOnce) {
    Terminal t;
    t.HandleNeeded();
    for (int i = 0; i < 5; ++i) {
        t.DisplayChar(static_cast<uint8_t>('a' + i));
    }
    platform::PostMessage(t.Handle(), AM_TERMDATA, 3, 0);
    Pump();
    EXPECT_EQ(RowText(t, 1), "abcde");
}

TEST_F(TerminalControl, ClearAllWhileInactiveClearsScreenAndScrollback) {
    Terminal t;
    t.SetActive(false);
    std::string lines;
    for (int i = 0; i < 30; ++i) {
        lines += "line\r\n";
    }
    t.DisplayString(lines);
    Pump();
    ASSERT_EQ(RowText(t, -3), "line");
    t.ClearAll();
    EXPECT_EQ(RowText(t, -3), "");
    EXPECT_EQ(RowText(t, 1), "");
}

TEST_F(TerminalControl, PaintRequestUnderLazyDisplayWaitsForTheTimer) {
    FakeHost host;
    Terminal t;
    t.SetHost(&host);
    Pump();
    t.DisplayString("abc");
    Pump();
    host.draws = 0;
    host.canvas.runs.clear();
    platform::PostMessage(t.Handle(), AM_TERMPAINT, 0, 0);
    Pump();
    EXPECT_EQ(host.draws, 0);
    t.TimerTick();  // 100 ms: not more than LazyTimeDelay yet
    EXPECT_EQ(host.draws, 0);
    t.TimerTick();
    EXPECT_EQ(host.draws, 1);
    ASSERT_FALSE(host.canvas.runs.empty());
    EXPECT_EQ(host.canvas.runs.front().text.substr(0, 3), "abc");
    t.SetHost(nullptr);
}

TEST_F(TerminalControl, ManyBytesArePaintedAtTheNextTick) {
    FakeHost host;
    Terminal t;
    t.SetHost(&host);
    Pump();
    t.TimerTick();
    t.TimerTick();  // quiet: the elapsed time was reset only by a paint
    host.draws = 0;
    t.DisplayString(std::string(201, 'x'));
    Pump();
    t.TimerTick();
    EXPECT_EQ(host.draws, 1);
    t.SetHost(nullptr);
}

TEST_F(TerminalControl, TheTimerSleepsWhileATickHasNothingToDoAndWakesOnTheNextChange) {
    auto& loop = platform::MessageLoop::Instance();
    FakeHost host;
    Terminal t;
    t.SetHost(&host);
    Pump();
    ASSERT_GE(loop.NextTimerDelayMs(), 0) << "the window starts its timer";
    t.DisplayString("abc");
    Pump();
    // The change is painted, then a tick past the delay finds nothing left to paint.
    for (int tick = 0; tick < 10 && loop.NextTimerDelayMs() >= 0; ++tick) {
        t.TimerTick();
    }
    ASSERT_EQ(loop.NextTimerDelayMs(), -1) << "an idle terminal wakes nobody";
    host.draws = 0;
    t.DisplayString("d");
    Pump();
    EXPECT_GE(loop.NextTimerDelayMs(), 0) << "a change wakes the timer";
    t.TimerTick();
    EXPECT_EQ(host.draws, 1) << "the first change after a quiet spell is painted at the next tick";
    t.SetHost(nullptr);
}

TEST_F(TerminalControl, WithoutLazyDisplayEveryChangeIsPaintedAtOnce) {
    FakeHost host;
    Terminal t;
    t.SetHost(&host);
    t.SetUseLazyDisplay(false);
    Pump();
    host.draws = 0;
    t.DisplayString("abc");
    Pump();
    EXPECT_GE(host.draws, 1);
    Pump();  // the buffer's own paint requests, posted while the text was taken
    const int before = host.draws;
    platform::PostMessage(t.Handle(), AM_TERMPAINT, 0, 0);
    Pump();
    EXPECT_EQ(host.draws, before + 1);
    t.SetHost(nullptr);
}

// A terminal on a fake widget, its first paints done and not counted.
class ShownTerminal : public TerminalFixture {
protected:
    void Show(bool lazy) {
        t_.SetHost(&host_);
        t_.SetUseLazyDisplay(lazy);
        Pump();
        host_.draws = 0;
    }
    void TearDown() override {
        t_.SetHost(nullptr);
        TerminalFixture::TearDown();
    }

    FakeHost host_;
    Terminal t_;
};

TEST_F(ShownTerminal, DamageIsPaintedOncePerLoopTurn) {
    Show(false);
    TerminalBuffer& b = *t_.Buffer();
    b.WriteString("one");
    CellRect rect;
    while (b.TakeInvalidRect(rect)) {  // painted elsewhere: the queue fills again below
    }
    b.CursorPos(5, 1);
    b.WriteString("two");
    b.EraseLine();
    Pump();
    EXPECT_EQ(host_.draws, 1);
}

TEST_F(ShownTerminal, UnderLazyDisplayDamageWaitsForTheTick) {
    Show(true);
    t_.Buffer()->WriteString("lazy");
    Pump();
    EXPECT_EQ(host_.draws, 0);
    t_.TimerTick();
    t_.TimerTick();
    EXPECT_EQ(host_.draws, 1);
}

TEST_F(ShownTerminal, WithoutLazyDisplayACursorMoveIsPaintedAtTheNextTurn) {
    host_.focused = true;
    Show(false);
    t_.Painter().FocusIn();
    t_.Buffer()->SetCursorCol(7);
    EXPECT_EQ(host_.draws, 0);
    Pump();
    EXPECT_EQ(host_.draws, 1);
    EXPECT_EQ(host_.caret.X, 6 * 8);
}

TEST_F(TerminalControl, CursorMovesRaiseOnCursorMovedWithTheBuffer) {
    Terminal t;
    std::vector<std::pair<int, int>> moves;
    t.OnCursorMoved = [&](TerminalBuffer* sender, int row, int col) {
        EXPECT_EQ(sender, t.Buffer());
        moves.emplace_back(row, col);
    };
    t.Buffer()->TakeCursorMoved();
    t.Buffer()->CursorPos(3, 4);
    EXPECT_EQ(moves.back(), (std::pair<int, int>{3, 4}));
}

TEST_F(TerminalControl, PaintFillsMarginsAndDrawsOnlyTheClippedText) {
    FakeHost host;
    Terminal t;
    t.SetHost(&host);
    t.SetColor(0x00FFFFFF);
    t.View().Resize(80 * 8 + 5, 24 * 12 + 3);
    Pump();
    t.DisplayString("top");
    Pump();
    RecordingCanvas canvas;
    canvas.clip = PixelRect{0, 0, 80 * 8 + 5, 24 * 12 + 3};
    t.Paint(canvas);
    ASSERT_EQ(canvas.fills.size(), 2u);
    EXPECT_EQ(canvas.fills[0].rect, (PixelRect{640, 0, 645, 288}));
    EXPECT_EQ(canvas.fills[1].rect, (PixelRect{0, 288, 645, 291}));
    EXPECT_EQ(canvas.fills[0].color, 0x00FFFFFFu);
    EXPECT_EQ(canvas.clip, (PixelRect{0, 0, 640, 288}));
    EXPECT_EQ(canvas.runs.size(), 24u);
    t.SetHost(nullptr);
}

TEST_F(TerminalControl, CaretFollowsCursorTypeAndFocus) {
    FakeHost host;
    Terminal t;
    t.SetHost(&host);
    Pump();
    t.DisplayString("ab");
    Pump();
    t.Painter().FocusIn();
    EXPECT_FALSE(host.caret.Visible);  // not focused
    host.focused = true;
    t.Painter().FocusIn();
    EXPECT_EQ(host.caret, (CaretState{true, 16, 0, 8, 12}));
    t.SetCursorType(CursorType::ctUnderline);
    EXPECT_EQ(host.caret, (CaretState{true, 16, 10, 8, 2}));
    t.SetCursorType(CursorType::ctNone);
    EXPECT_FALSE(host.caret.Visible);
    t.SetCursorType(CursorType::ctBlock);
    t.Painter().FocusOut();
    EXPECT_FALSE(host.caret.Visible);
    t.SetHost(nullptr);
}

TEST_F(TerminalControl, BorderChangeOnlyTellsTheWidget) {
    FakeHost host;
    Terminal t;
    t.SetHost(&host);
    EXPECT_TRUE(host.border);
    const auto handle = t.Handle();
    t.SetBorderStyle(BorderStyle::bsNone);
    EXPECT_FALSE(host.border);
    EXPECT_EQ(t.Handle(), handle);
    t.SetHost(nullptr);
}

TEST_F(TerminalControl, AssignedEmulatorTakesOverTheSizesAndFallsBackWhenRemoved) {
    Terminal t;
    t.SetScrollbackRows(1000);
    t.SetRows(45);
    t.SetColumns(100);
    TTYEmulator other;
    t.SetEmulator(&other);
    EXPECT_EQ(t.Emulator(), &other);
    EXPECT_EQ(t.CurrentEmulator(), &other);
    EXPECT_EQ(other.Terminal(), &t);
    EXPECT_EQ(TerminalLinkCount(), 1);
    EXPECT_EQ(other.Buffer()->RowCount(), 45);
    EXPECT_EQ(other.Buffer()->ColCount(), 100);
    EXPECT_EQ(other.Buffer()->SVRowCount(), 1000);
    t.DisplayString("there");
    Pump();
    EXPECT_EQ(RowText(t, 1), "there");

    t.ComponentRemoved(&other);
    EXPECT_EQ(t.Emulator(), nullptr);
    EXPECT_EQ(other.Terminal(), nullptr);
    EXPECT_EQ(TerminalLinkCount(), 0);
    EXPECT_EQ(RowText(t, 1), "");  // the built-in buffer, with the sizes carried back
    EXPECT_EQ(t.Columns(), 100);

    other.SetTerminal(&t);  // binding from the emulator's side agrees
    EXPECT_EQ(t.Emulator(), &other);
    other.SetTerminal(nullptr);
    EXPECT_EQ(t.Emulator(), nullptr);
    EXPECT_EQ(TerminalLinkCount(), 0);
}

TEST_F(TerminalControl, WritingColumnsReturnsTheViewToTheTopLeft) {
    FakeHost host;
    Terminal t;
    t.SetHost(&host);
    t.View().Resize(40 * 8, 10 * 12);
    Pump();
    Pump();
    t.View().HScroll(SB_THUMBTRACK, 20);
    t.View().VScroll(SB_THUMBTRACK, 5);
    ASSERT_EQ(t.View().LeftCol(), 21);
    ASSERT_EQ(t.View().TopRow(), 6);
    t.SetColumns(132);
    EXPECT_EQ(t.View().LeftCol(), 1);
    EXPECT_EQ(t.View().TopRow(), 1);
    EXPECT_EQ(t.Columns(), 132);
    t.SetHost(nullptr);
}

}  // namespace
}  // namespace hydrix::terminal::test
