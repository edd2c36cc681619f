// Mouse selection, copying it as text and pasting clipboard text to the screen.
#include <gtest/gtest.h>

#include "test_terminal_control_util.h"

namespace hydrix::terminal::test {
namespace {

constexpr int kCw = 8;
constexpr int kCh = 12;

class ControlSelection : public TerminalFixture {
protected:
    void SetUp() override {
        TerminalFixture::SetUp();
        t_.SetHost(&host_);
        t_.View().Resize(80 * kCw, 24 * kCh);
        Pump();
        t_.DisplayString("first line\r\nsecond\r\nthird row");
        Pump();
        platform::SetClipboardText("untouched");
    }
    void TearDown() override {
        t_.SetHost(nullptr);
        TerminalFixture::TearDown();
    }
    static int X(int col) { return (col - 1) * kCw + 3; }
    static int Y(int row) { return (row - 1) * kCh + 5; }
    bool Selected(int row, int col) { return (t_.Buffer()->RowAttrs(row)[col - 1] & tcaSelected) != 0; }

    FakeHost host_;
    Terminal t_;
};

TEST_F(ControlSelection, DragCopiesFullWidthRowsEndingInCrLf) {
    t_.MouseDown(MouseButton::mbLeft, 0, X(7), Y(1));
    EXPECT_TRUE(host_.focused);
    t_.MouseMove(0, X(3), Y(3));
    EXPECT_TRUE(t_.Selection().HasSelection());
    EXPECT_FALSE(Selected(1, 6));
    EXPECT_TRUE(Selected(1, 7));
    EXPECT_TRUE(Selected(2, 80));
    EXPECT_TRUE(Selected(3, 3));
    EXPECT_FALSE(Selected(3, 4));
    t_.MouseUp(MouseButton::mbLeft, 0, X(3), Y(3));
    const std::string tail = "line" + std::string(70, ' ');
    EXPECT_EQ(platform::ClipboardText(), tail + "\r\nsecond" + std::string(74, ' ') + "\r\nthi\r\n");
}

TEST_F(ControlSelection, DraggingUpwardsSelectsFromTheCellToTheAnchor) {
    t_.MouseDown(MouseButton::mbLeft, 0, X(2), Y(2));
    t_.MouseMove(0, X(5), Y(2));
    t_.MouseMove(0, X(9), Y(1));
    const auto s = t_.Selection().Get();
    EXPECT_EQ(s.StartCol, 9);
    EXPECT_EQ(s.StartRow, 1);
    EXPECT_EQ(s.EndCol, 2);
    EXPECT_EQ(s.EndRow, 2);
    EXPECT_FALSE(Selected(2, 5));  // the first drag's marks were taken back
    EXPECT_TRUE(Selected(2, 2));
    t_.CopySelection();
    EXPECT_EQ(platform::ClipboardText(), "ne" + std::string(70, ' ') + "\r\nse\r\n");
}

TEST_F(ControlSelection, ClickWithoutDragCopiesTheCellAndCrLf) {
    t_.MouseDown(MouseButton::mbLeft, 0, X(2), Y(2));
    t_.MouseUp(MouseButton::mbLeft, 0, X(2), Y(2));
    EXPECT_FALSE(t_.Selection().HasSelection());
    EXPECT_EQ(platform::ClipboardText(), "e\r\n");
}

TEST_F(ControlSelection, NothingSelectedLeavesTheClipboardAlone) {
    t_.CopySelection();
    t_.Selection().Cancel();
    t_.WndProc(WM_COPY, 0, 0);
    EXPECT_EQ(platform::ClipboardText(), "untouched");
    t_.MouseDown(MouseButton::mbRight, 0, X(2), Y(2));
    t_.MouseUp(MouseButton::mbRight, 0, X(2), Y(2));
    EXPECT_EQ(platform::ClipboardText(), "untouched");
}

TEST_F(ControlSelection, CancelClearsMarksAndRepaintsTheRows) {
    t_.MouseDown(MouseButton::mbLeft, 0, X(1), Y(1));
    t_.MouseMove(0, X(4), Y(2));
    host_.invalidated.clear();
    t_.WndProc(WM_CANCELMODE, 0, 0);
    EXPECT_FALSE(t_.Selection().Selecting());
    EXPECT_FALSE(t_.Selection().HasSelection());
    EXPECT_FALSE(Selected(1, 5));
    EXPECT_FALSE(Selected(2, 1));
    ASSERT_EQ(host_.invalidated.size(), 2u);
    EXPECT_EQ(host_.invalidated[1], (PixelRect{0, kCh, 80 * kCw, 2 * kCh}));
    t_.MouseUp(MouseButton::mbLeft, 0, X(4), Y(2));
    EXPECT_EQ(platform::ClipboardText(), "untouched");
}

TEST_F(ControlSelection, MouseSelectOffStopsTheDragAndClears) {
    t_.MouseDown(MouseButton::mbLeft, 0, X(1), Y(1));
    t_.MouseMove(0, X(4), Y(1));
    t_.SetMouseSelect(false);
    EXPECT_FALSE(t_.Selection().Selecting());
    EXPECT_FALSE(Selected(1, 2));
    t_.MouseDown(MouseButton::mbLeft, 0, X(1), Y(1));
    t_.MouseMove(0, X(4), Y(1));
    EXPECT_FALSE(t_.Selection().HasSelection());
}

TEST_F(ControlSelection, DraggingBelowTheWindowScrollsOneRowPerTick) {
    t_.View().Resize(80 * kCw, 10 * kCh);
    Pump();
    Pump();
    t_.MouseDown(MouseButton::mbLeft, 0, X(1), Y(1));
    host_.mouse = ClientPoint{X(5), 10 * kCh + 20};
    t_.TimerTick();
    EXPECT_EQ(t_.View().TopRow(), 2);
    t_.TimerTick();
    EXPECT_EQ(t_.View().TopRow(), 3);
    EXPECT_EQ(t_.Selection().Get().EndRow, 12);
    EXPECT_EQ(t_.Selection().Get().EndCol, 5);
}

TEST_F(ControlSelection, PasteToScreenShowsTheClipboard) {
    platform::SetClipboardText("pasted");
    t_.PasteClipboard();  // both switches off: nothing
    Pump();
    EXPECT_EQ(RowText(t_, 4), "");
    t_.SetPasteToScreen(true);
    t_.WndProc(WM_PASTE, 0, 0);
    Pump();
    EXPECT_EQ(RowText(t_, 3), "third rowpasted");
}

}  // namespace
}  // namespace hydrix::terminal::test
