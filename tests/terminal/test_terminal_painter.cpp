// The painter on its own: a TTY emulator bound to a test terminal, a viewport over its
// buffer and a recording host.
#include <gtest/gtest.h>

#include "terminal/fake_host.h"
#include "terminal/terminal_painter.h"
#include "terminal/terminal_viewport.h"
#include "terminal/tty_emulator_fixture.h"

namespace hydrix::terminal::test {
namespace {

constexpr int kCw = 8;
constexpr int kCh = 12;

class Painter : public ::testing::Test {
protected:
    void SetUp() override {
        view_.SetHost(&host_);
        view_.SetBuffer(&f_.Buf());
        view_.SetCell(CellSize{kCw, kCh});
        view_.Resize(80 * kCw + 4, 24 * kCh + 2);
        painter_.SetHost(&host_);
        painter_.SetEmulator(&f_.tty);
        painter_.PaintStep();  // takes what creation queued
        f_.Buf().TakeCursorMoved();
        host_.draws = 0;
        host_.canvas.runs.clear();
    }

    Fixture f_;
    FakeHost host_;
    TerminalViewport view_{[] {}};
    TerminalPainter painter_{view_};
};

TEST_F(Painter, LazyDisplayPaintsOnTheTickAfterTheDelay) {
    f_.Feed("abc");
    painter_.Changed(3);
    EXPECT_EQ(host_.draws, 0);
    painter_.Tick();  // 100 ms is not more than LazyTimeDelay
    EXPECT_EQ(host_.draws, 0);
    painter_.Tick();
    ASSERT_EQ(host_.draws, 1);
    EXPECT_EQ(host_.canvas.runs.front().text, "abc");
}

TEST_F(Painter, MoreBytesThanTheByteDelayArePaintedAtTheNextTick) {
    painter_.Tick();
    painter_.Tick();  // nothing to paint: the elapsed time keeps growing
    painter_.SetLazyTimeDelay(1000);
    f_.Feed("x");
    painter_.Changed(201);
    painter_.Tick();
    EXPECT_EQ(host_.draws, 1);
}

TEST_F(Painter, WithoutLazyDisplayChangesArePaintedAtOnce) {
    painter_.SetUseLazyDisplay(false);
    painter_.Changed(0);
    EXPECT_EQ(host_.draws, 0);  // nothing needs it
    f_.Feed("y");
    painter_.Changed(1);
    EXPECT_EQ(host_.draws, 1);
    painter_.RepaintRequested();
    EXPECT_EQ(host_.draws, 2);
}

TEST_F(Painter, ARepaintRequestUnderLazyDisplayWaitsForTheTick) {
    f_.Feed("z");
    painter_.RepaintRequested();
    EXPECT_EQ(host_.draws, 0);
}

TEST_F(Painter, TheCaretIsHiddenWhileThePaintStepDraws) {
    host_.focused = true;
    painter_.FocusIn();
    ASSERT_TRUE(host_.caret.Visible);
    host_.carets.clear();
    painter_.PaintStep();
    ASSERT_EQ(host_.carets.size(), 2u);
    EXPECT_FALSE(host_.carets[0].Visible);
    EXPECT_TRUE(host_.carets[1].Visible);
}

TEST_F(Painter, TheCaretStaysHiddenOutsideTheClientArea) {
    host_.focused = true;
    view_.Resize(10 * kCw, 10 * kCh);
    f_.Buf().CursorPos(12, 1);
    painter_.FocusIn();
    EXPECT_FALSE(host_.caret.Visible);
}

TEST_F(Painter, PaintFillsBothMarginsInTheBackground) {
    RecordingCanvas canvas(PixelRect{0, 0, 80 * kCw + 4, 24 * kCh + 2});
    painter_.Paint(canvas, 0x123456);
    ASSERT_EQ(canvas.fills.size(), 2u);
    EXPECT_EQ(canvas.fills[0].rect, (PixelRect{80 * kCw, 0, 80 * kCw + 4, 24 * kCh}));
    EXPECT_EQ(canvas.fills[1].rect, (PixelRect{0, 24 * kCh, 80 * kCw + 4, 24 * kCh + 2}));
    EXPECT_EQ(canvas.fills[1].color, 0x123456u);
}

}  // namespace
}  // namespace hydrix::terminal::test
