// The viewport on its own: a buffer, a recording host and a counted relayout request.
#include <gtest/gtest.h>

#include "terminal/fake_host.h"
#include "terminal/terminal_buffer.h"
#include "terminal/terminal_viewport.h"

namespace hydrix::terminal::test {
namespace {

constexpr int kCw = 8;
constexpr int kCh = 12;

class Viewport : public ::testing::Test {
protected:
    // A window of cols x rows cells on the default 80 x 24 buffer.
    void Show(int cols, int rows) {
        view_.SetHost(&host_);
        view_.SetBuffer(&buffer_);
        view_.SetCell(CellSize{kCw, kCh});
        view_.Resize(cols * kCw, rows * kCh);
    }

    int relayouts_ = 0;
    FakeHost host_;
    TerminalBuffer buffer_;
    TerminalViewport view_{[this] { ++relayouts_; }};
};

TEST_F(Viewport, WithoutAWindowNoRelayoutIsAskedFor) {
    Show(40, 10);
    EXPECT_EQ(relayouts_, 0);
    EXPECT_EQ(view_.FullCols(), 40);
    EXPECT_EQ(view_.TextRect(), (PixelRect{0, 0, 40 * kCw, 10 * kCh}));
}

TEST_F(Viewport, AWindowTooNarrowAsksOnceForTheBarsToBeLaidOut) {
    view_.SetWindowed(true);
    Show(40, 30);
    EXPECT_EQ(relayouts_, 1);
    view_.RecomputeView();  // the need is known now
    EXPECT_EQ(relayouts_, 1);
    view_.ApplyScrollBars();
    EXPECT_TRUE(view_.HorzBarShown());
    EXPECT_TRUE(host_.hShown);
}

TEST_F(Viewport, DragScrollMovesOneLineTowardsAMouseOutsideTheClientArea) {
    view_.SetWindowed(true);
    Show(40, 10);
    view_.ApplyScrollBars();
    view_.DragScroll(ClientPoint{5, 10 * kCh + 3});
    EXPECT_EQ(view_.TopRow(), 2);
    view_.DragScroll(ClientPoint{40 * kCw, 5});
    EXPECT_EQ(view_.LeftCol(), 2);
    view_.DragScroll(ClientPoint{-1, -1});
    EXPECT_EQ(view_.LeftCol(), 1);
    EXPECT_EQ(view_.TopRow(), 1);
}

TEST_F(Viewport, DragScrollInsideTheClientAreaLeavesTheView) {
    view_.SetWindowed(true);
    Show(40, 10);
    view_.ApplyScrollBars();
    view_.DragScroll(ClientPoint{0, 0});
    view_.DragScroll(ClientPoint{40 * kCw - 1, 10 * kCh - 1});
    EXPECT_TRUE(host_.scrolls.empty());
}

TEST_F(Viewport, FollowingWhileReceivingWaitsForTheCatchUp) {
    view_.SetWindowed(true);
    Show(80, 10);
    view_.ApplyScrollBars();
    buffer_.CursorPos(20, 1);
    view_.BeginReceive();
    view_.KeepCursorVisible();
    view_.KeepCursorVisible();
    view_.EndReceive();
    EXPECT_EQ(view_.TopRow(), 1);
    view_.CatchUp();
    EXPECT_EQ(view_.TopRow(), 11);
    EXPECT_EQ(host_.scrolls.size(), 1u);
}

TEST_F(Viewport, CursorCellIsInScreenCoordinatesAlsoWithRelativeAddressing) {
    Show(80, 24);
    buffer_.SetAbsAddress(false);
    buffer_.SetScrollRegion(5, 10);
    buffer_.CursorPos(2, 3);
    const CellPos cell = view_.CursorCell();
    EXPECT_EQ(cell.Row, 6);
    EXPECT_EQ(cell.Col, 3);
}

TEST_F(Viewport, PixelsAreClampedToTheShownCells) {
    Show(10, 5);
    int x = -7;
    int y = 5 * kCh + 40;
    view_.ClampToView(x, y);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 5 * kCh - 1);
    EXPECT_EQ(view_.CellAt(x, y).Row, 5);
}

TEST_F(Viewport, RowsOutsideTheViewAreNotRepainted) {
    Show(80, 24);
    host_.invalidated.clear();
    view_.InvalidateRow(0);
    view_.InvalidateRow(25);
    EXPECT_TRUE(host_.invalidated.empty());
    view_.InvalidateRow(2);
    ASSERT_EQ(host_.invalidated.size(), 1u);
    EXPECT_EQ(host_.invalidated[0], (PixelRect{0, kCh, 80 * kCw, 2 * kCh}));
}

}  // namespace
}  // namespace hydrix::terminal::test
