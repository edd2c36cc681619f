// The view: scroll ranges, scrolling by the bars, the automatic scrollback switch,
// following the cursor and resizing.
#include <gtest/gtest.h>

#include "test_terminal_control_util.h"

namespace hydrix::terminal::test {
namespace {

constexpr int kCw = 8;
constexpr int kCh = 12;

class TerminalView : public TerminalFixture {
protected:
    // The station's terminal: 45 rows, 1000 rows of scrollback, scrollback on, in a
    // window of cols x rows cells.
    void MakeStation(int cols = 80, int rows = 45) {
        t_.SetScrollbackRows(1000);
        t_.SetRows(45);
        t_.SetScrollback(true);
        t_.ClearAll();  // cursor home
        Show(cols, rows);
    }
    void Show(int cols, int rows) {
        t_.SetHost(&host_);
        t_.View().Resize(cols * kCw, rows * kCh);
        Settle();
    }
    void Settle() {
        for (int i = 0; i < 4; ++i) {
            Pump();
        }
    }
    void TearDown() override {
        t_.SetHost(nullptr);
        TerminalFixture::TearDown();
    }
    void Display(const std::string& text) {
        t_.DisplayString(text);
        Settle();
    }

    FakeHost host_;
    Terminal t_;
};

TEST_F(TerminalView, StationScrollRangeReachesTheOldestScrollbackRow) {
    MakeStation();
    EXPECT_TRUE(t_.View().VertBarShown());
    EXPECT_TRUE(host_.vShown);
    EXPECT_FALSE(host_.hShown);
    const ScrollInfo& v = t_.View().VertScrollInfo();
    EXPECT_EQ(v.Mask, kScrollInfoAll);
    EXPECT_EQ(v.Min, -955);
    EXPECT_EQ(v.Max, 44);
    EXPECT_EQ(v.Page, 45);
    EXPECT_EQ(v.Pos, 0);
    ASSERT_FALSE(host_.vInfo.empty());
    EXPECT_EQ(host_.vInfo.back().Min, -955);

    t_.View().VScroll(SB_THUMBTRACK, -5000);
    EXPECT_EQ(t_.View().TopRow(), -954);
    t_.View().VScroll(SB_LINEUP, 0);
    EXPECT_EQ(t_.View().TopRow(), -954);
    EXPECT_EQ(host_.vInfo.back().Mask, SIF_POS);
    EXPECT_EQ(host_.vInfo.back().Pos, -955);
    t_.View().VScroll(SB_PAGEDOWN, 0);
    EXPECT_EQ(t_.View().TopRow(), -909);
    EXPECT_EQ(host_.scrolls.back(), (std::pair<int, int>{0, -45 * kCh}));
    t_.View().VScroll(SB_THUMBPOSITION, 500);
    EXPECT_EQ(t_.View().TopRow(), 1);  // the screen fits: row 1 is the highest top row
}

TEST_F(TerminalView, LineUpAtTheTopOfAShortWindowSwitchesScrollbackOn) {
    Show(80, 10);  // 24 rows in a window of 10
    EXPECT_FALSE(t_.Scrollback());
    EXPECT_EQ(t_.View().VertScrollInfo().Min, 0);
    t_.View().VScroll(SB_LINEUP, 0);
    EXPECT_TRUE(t_.Scrollback());
    EXPECT_EQ(t_.View().TopRow(), 0);
    EXPECT_EQ(t_.View().VertScrollInfo().Min, 24 - 200);
    t_.View().VScroll(SB_LINEDOWN, 0);
    t_.View().VScroll(SB_LINEDOWN, 0);
    EXPECT_EQ(t_.View().TopRow(), 2);
    EXPECT_TRUE(t_.Scrollback());
    t_.View().VScroll(SB_LINEDOWN, 0);  // below the top row: back to the screen only
    EXPECT_FALSE(t_.Scrollback());
    EXPECT_EQ(t_.View().TopRow(), 3);
    t_.View().VScroll(SB_THUMBTRACK, 100);
    EXPECT_EQ(t_.View().TopRow(), 15);  // 24 - 10 + 1

    t_.SetAutoScrollback(false);
    t_.View().VScroll(SB_THUMBTRACK, 0);
    t_.View().VScroll(SB_LINEUP, 0);
    EXPECT_FALSE(t_.Scrollback());
    EXPECT_EQ(t_.View().TopRow(), 1);
}

TEST_F(TerminalView, NewOutputBringsTheViewBackFromTheScrollback) {
    MakeStation();
    std::string lines;
    for (int i = 0; i < 44; ++i) {
        lines += "\r\n";
    }
    Display(lines);
    ASSERT_EQ(t_.Buffer()->CursorRow(), 45);
    t_.View().VScroll(SB_THUMBTRACK, -101);
    ASSERT_EQ(t_.View().TopRow(), -100);
    Display("x");
    EXPECT_EQ(t_.View().TopRow(), 1);
}

TEST_F(TerminalView, CursorBelowTheFullRowsBecomesTheLastFullRow) {
    t_.SetScrollbackRows(1000);
    t_.SetRows(45);
    t_.ClearAll();
    Show(80, 20);
    std::string lines;
    for (int i = 0; i < 29; ++i) {
        lines += "\r\n";
    }
    Display(lines + "x");
    ASSERT_EQ(t_.Buffer()->CursorRow(), 30);
    EXPECT_EQ(t_.View().TopRow(), 11);
    EXPECT_EQ(t_.View().TopRow() + t_.View().FullRows() - 1, 30);
}

TEST_F(TerminalView, ReceivedLinesWiderThanTheViewScrollItOncePerChunk) {
    MakeStation(77, 45);
    ASSERT_EQ(t_.View().FullCols(), 77);
    host_.scrolls.clear();
    std::string lines;
    for (int i = 0; i < 60; ++i) {
        lines += std::string(80, static_cast<char>('a' + i % 26)) + "\r\n";
    }
    // Every line passes column 78 and comes back to column 1: following on each move
    // would scroll the window sideways twice per line.
    Display(lines + std::string(79, 'z'));
    EXPECT_LE(host_.scrolls.size(), 2u);
    ASSERT_EQ(t_.Buffer()->CursorRow(), 45);
    ASSERT_EQ(t_.Buffer()->CursorCol(), 80);
    EXPECT_EQ(t_.View().LeftCol(), 3);
    EXPECT_EQ(t_.View().TopRow(), 1);
    EXPECT_EQ(RowText(t_, 45), std::string(79, 'z'));
}

TEST_F(TerminalView, FollowCursorOffLeavesTheViewAlone) {
    MakeStation();
    t_.SetFollowCursor(false);
    t_.View().VScroll(SB_THUMBTRACK, -101);
    ASSERT_EQ(t_.View().TopRow(), -100);
    Display("\r\nmore");
    EXPECT_EQ(t_.View().TopRow(), -100);
    t_.SetFollowCursor(true);                   // switching it on runs the check
    EXPECT_EQ(t_.View().TopRow(), 2 - 45 + 1);  // cursor row 2 is now the last full row
}

TEST_F(TerminalView, UnknownScrollCodesChangeNothing) {
    Show(40, 24);
    ASSERT_TRUE(t_.View().HorzBarShown());
    t_.View().HScroll(SB_LINERIGHT, 0);
    ASSERT_EQ(t_.View().LeftCol(), 2);
    const auto scrolls = host_.scrolls.size();
    for (int code : {SB_TOP, SB_BOTTOM, SB_ENDSCROLL, 99}) {
        t_.WndProc(WM_HSCROLL, static_cast<platform::WParam>(code), 0);
        t_.WndProc(WM_VSCROLL, static_cast<platform::WParam>(code), 0);
    }
    EXPECT_EQ(t_.View().LeftCol(), 2);
    EXPECT_EQ(t_.View().TopRow(), 1);
    EXPECT_EQ(host_.scrolls.size(), scrolls);
}

TEST_F(TerminalView, HorizontalScrollingIsClampedToTheScreen) {
    Show(40, 24);
    const ScrollInfo& h = t_.View().HorzScrollInfo();
    EXPECT_EQ(h.Max, 79);
    EXPECT_EQ(h.Page, 40);
    t_.WndProc(WM_HSCROLL, SB_THUMBTRACK | (static_cast<platform::WParam>(70) << 16), 0);
    EXPECT_EQ(t_.View().LeftCol(), 41);
    t_.View().HScroll(SB_PAGERIGHT, 0);
    EXPECT_EQ(t_.View().LeftCol(), 41);
    t_.View().HScroll(SB_PAGELEFT, 0);
    EXPECT_EQ(t_.View().LeftCol(), 1);
    EXPECT_EQ(host_.scrolls.back(), (std::pair<int, int>{40 * kCw, 0}));
}

TEST_F(TerminalView, WideningWhileScrolledRightMeetsTheRightEdge) {
    Show(40, 24);
    t_.View().HScroll(SB_THUMBTRACK, 40);
    ASSERT_EQ(t_.View().LeftCol(), 41);
    t_.View().Resize(60 * kCw, 24 * kCh);
    EXPECT_EQ(t_.View().LeftCol(), 21);
    EXPECT_EQ(t_.View().LeftCol() + t_.View().VisibleCols() - 1, 80);
    t_.View().Resize(100 * kCw, 24 * kCh);
    Settle();
    EXPECT_EQ(t_.View().LeftCol(), 1);
    EXPECT_FALSE(t_.View().HorzBarShown());
    EXPECT_FALSE(host_.hShown);
}

TEST_F(TerminalView, GeometryCountsPartlyAndWhollyShownCells) {
    Show(80, 24);
    t_.View().Resize(30 * kCw + 3, 10 * kCh + 5);
    Settle();
    EXPECT_EQ(t_.View().VisibleCols(), 31);
    EXPECT_EQ(t_.View().FullCols(), 30);
    EXPECT_EQ(t_.View().VisibleRows(), 11);
    EXPECT_EQ(t_.View().FullRows(), 10);
    EXPECT_EQ(t_.View().TextRect(), (PixelRect{0, 0, 30 * kCw + 3, 10 * kCh + 5}));
}

TEST_F(TerminalView, HiddenScrollbarsComeBackWhenTheCursorLeavesTheView) {
    t_.SetHideScrollbars(true);
    Show(40, 10);
    EXPECT_FALSE(t_.View().HorzBarShown());
    EXPECT_FALSE(t_.View().VertBarShown());
    t_.SetFollowCursor(false);
    std::string lines;
    for (int i = 0; i < 14; ++i) {
        lines += "\r\n";
    }
    Display(lines + std::string(50, 'x'));
    EXPECT_TRUE(t_.CursorBeyondHeight());
    EXPECT_TRUE(t_.CursorBeyondWidth());
    EXPECT_TRUE(t_.View().VertBarShown());
    EXPECT_TRUE(t_.View().HorzBarShown());
}

}  // namespace
}  // namespace hydrix::terminal::test
