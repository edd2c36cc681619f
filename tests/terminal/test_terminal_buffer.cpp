#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "terminal/terminal_buffer.h"
#include "test_terminal_buffer_util.h"

namespace hydrix::terminal {
namespace {

using namespace buffer_test;

TEST(TerminalBuffer, CreationState) {
    TerminalBuffer b;
    EXPECT_EQ(b.ColCount(), 80);
    EXPECT_EQ(b.RowCount(), 24);
    EXPECT_EQ(b.SVRowCount(), 200);
    EXPECT_EQ(b.CursorRow(), 1);
    EXPECT_EQ(b.CursorCol(), 1);
    EXPECT_FALSE(b.ScrollRegionActive());
    EXPECT_TRUE(b.AbsAddress() && b.AutoWrap() && b.AutoWrapDelay());
    EXPECT_FALSE(b.InsertMode() || b.NewLineMode() || b.WrapPending());
    EXPECT_EQ(b.ForeColor(), 0xC0C0C0u);
    EXPECT_EQ(b.BackColor(), 0u);
    for (int c = 1; c <= 80; ++c) {
        EXPECT_EQ(b.HorzTabStop(c), c % 8 == 1) << c;
    }
    for (int r = 1; r <= 24; ++r) {
        EXPECT_FALSE(b.VertTabStop(r));
    }
    for (int r = -175; r <= 24; ++r) {
        ASSERT_EQ(RowText(b, r), std::string(80, ' ')) << r;
        EXPECT_EQ(b.RowForeColors(r)[79], 0xC0C0C0u);
        EXPECT_EQ(b.RowBackColors(r)[0], 0u);
        EXPECT_EQ(b.RowAttrs(r)[5], 0);
    }
    EXPECT_EQ(b.RowChars(-176), nullptr);
    EXPECT_EQ(b.RowChars(25), nullptr);
    CellRect rect;
    ASSERT_TRUE(b.TakeInvalidRect(rect));
    EXPECT_EQ(rect, (CellRect{1, 1, 80, 24}));
    EXPECT_FALSE(b.TakeInvalidRect(rect));
    EXPECT_TRUE(b.TakeCursorMoved());
    EXPECT_FALSE(b.TakeCursorMoved());
}

TEST(TerminalBuffer, WriteCharStoresCurrentValues) {
    TerminalBuffer b;
    b.SetForeColor(0x0000FF);
    b.SetBackColor(0x00FF00);
    b.SetCharAttrs(tcaBold | tcaUnderline);
    b.SetCharSet(3);
    b.CursorPos(2, 5);
    b.WriteChar('Q');
    EXPECT_EQ(b.RowChars(2)[4], 'Q');
    EXPECT_EQ(b.RowForeColors(2)[4], 0x0000FFu);
    EXPECT_EQ(b.RowBackColors(2)[4], 0x00FF00u);
    EXPECT_EQ(b.RowAttrs(2)[4], tcaBold | tcaUnderline);
    EXPECT_EQ(b.RowCharSets(2)[4], 3);
    EXPECT_EQ(b.CursorCol(), 6);
    // The current values are also what cleared cells take.
    b.EraseLine();
    EXPECT_EQ(b.RowChars(2)[4], ' ');
    EXPECT_EQ(b.RowBackColors(2)[70], 0x00FF00u);
    EXPECT_EQ(b.RowAttrs(2)[0], tcaBold | tcaUnderline);
}

struct WrapCase {
    const char* name;
    bool carriageReturn;
    int row, col;  // where 'Z' lands
};

class PendingWrap : public ::testing::TestWithParam<WrapCase> {};

TEST_P(PendingWrap, LastColumnWaitsForNextCharacter) {
    const WrapCase& c = GetParam();
    TerminalBuffer b;
    b.CursorPos(1, 80);
    b.WriteChar('A');
    EXPECT_EQ(b.CursorCol(), 80);
    EXPECT_TRUE(b.WrapPending());
    if (c.carriageReturn) {
        b.CarriageReturn();
    }
    b.WriteChar('Z');
    EXPECT_EQ(b.RowChars(c.row)[c.col - 1], 'Z');
    EXPECT_EQ(b.RowChars(1)[79], 'A');
    EXPECT_EQ(b.CursorRow(), c.row);
    EXPECT_EQ(b.CursorCol(), c.col + 1);
    EXPECT_FALSE(b.WrapPending());
}

INSTANTIATE_TEST_SUITE_P(TerminalBuffer, PendingWrap,
                         ::testing::Values(WrapCase{"NextRow", false, 2, 1}, WrapCase{"AfterCR", true, 1, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TerminalBuffer, WrapWithoutAutoWrapOverwritesLastColumn) {
    TerminalBuffer b;
    b.SetAutoWrap(false);
    b.CursorPos(3, 79);
    b.WriteString("abcd");
    EXPECT_EQ(Trimmed(b, 3), std::string(78, ' ') + "ad");
    EXPECT_EQ(b.CursorRow(), 3);
    EXPECT_EQ(b.CursorCol(), 80);
    b.SetAutoWrap(true);
    b.SetAutoWrapDelay(false);
    b.CursorPos(5, 80);
    b.WriteChar('x');
    EXPECT_EQ(b.CursorRow(), 6);
    EXPECT_EQ(b.CursorCol(), 1);
}

TEST(TerminalBuffer, BottomRightWriteScrollsIntoScrollback) {
    TerminalBuffer b;
    LabelRows(b);
    b.CursorPos(24, 80);
    b.WriteChar('A');
    Drain(b);
    b.WriteChar('B');
    EXPECT_EQ(Trimmed(b, 0), "row 1");
    EXPECT_EQ(Trimmed(b, 1), "row 2");
    EXPECT_EQ(Trimmed(b, 23), "row 24" + std::string(73, ' ') + "A");
    EXPECT_EQ(Trimmed(b, 24), "B");
    EXPECT_EQ(b.CursorRow(), 24);
    EXPECT_EQ(b.CursorCol(), 2);
    CellRect rect;
    ASSERT_TRUE(b.TakeInvalidRect(rect));
    EXPECT_EQ(rect, (CellRect{1, 1, 80, 24}));
}

TEST(TerminalBuffer, LineFeedsFillTheScrollbackOldestFirst) {
    TerminalBuffer b;
    b.tbSetSVRowCount(30);
    for (int i = 0; i < 100; ++i) {
        b.WriteString("line " + std::to_string(i));
        b.CarriageReturn();
        b.LineFeed();
    }
    // 100 lines then an empty bottom row: the newest 29 lines are kept.
    EXPECT_EQ(Trimmed(b, 24), "");
    for (int r = 23; r >= -5; --r) {
        EXPECT_EQ(Trimmed(b, r), "line " + std::to_string(99 - (23 - r))) << r;
    }
}

TEST(TerminalBuffer, BackspaceAndCursorLeftAtTheLeftEdge) {
    TerminalBuffer b;
    LabelRows(b);
    b.CursorPos(3, 1);
    b.Backspace();
    EXPECT_EQ(b.CursorCol(), 1);
    EXPECT_EQ(b.CursorRow(), 3);
    b.CursorLeft(false, false);
    EXPECT_EQ(b.CursorCol(), 1);
    b.CursorLeft(true, false);
    EXPECT_EQ(b.CursorRow(), 2);
    EXPECT_EQ(b.CursorCol(), 80);
    b.CursorPos(1, 1);
    b.CursorLeft(true, false);
    EXPECT_EQ(b.CursorRow(), 1);
    EXPECT_EQ(b.CursorCol(), 1);
    // At the top-left corner with scroll a blank row enters at the top.
    b.CursorLeft(true, true);
    EXPECT_EQ(b.CursorRow(), 1);
    EXPECT_EQ(b.CursorCol(), 80);
    EXPECT_EQ(Trimmed(b, 1), "");
    EXPECT_EQ(Trimmed(b, 2), "row 1");
    EXPECT_EQ(Trimmed(b, 24), "row 23");
    EXPECT_EQ(Trimmed(b, 0), "");
}

TEST(TerminalBuffer, CursorRightWrapAndEdges) {
    TerminalBuffer b;
    b.CursorPos(4, 80);
    b.CursorRight(false, true);
    EXPECT_EQ(b.CursorCol(), 80);
    b.CursorRight(true, false);
    EXPECT_EQ(b.CursorRow(), 5);
    EXPECT_EQ(b.CursorCol(), 1);
    b.CursorPos(24, 80);
    b.CursorRight(true, false);
    EXPECT_EQ(b.CursorRow(), 24);
    EXPECT_EQ(b.CursorCol(), 80);
    b.CursorUp(false);
    EXPECT_EQ(b.CursorRow(), 23);
    b.CursorPos(1, 1);
    b.CursorUp(false);
    EXPECT_EQ(b.CursorRow(), 1);
}

struct TabCase {
    const char* name;
    int from;
    bool back;
    int to;
};

class HorizontalTabs : public ::testing::TestWithParam<TabCase> {};

TEST_P(HorizontalTabs, MovesToStopOrEdge) {
    TerminalBuffer b;
    b.SetCursorCol(GetParam().from);
    if (GetParam().back) {
        b.BackTabHorz();
    } else {
        b.TabHorz();
    }
    EXPECT_EQ(b.CursorCol(), GetParam().to);
}

INSTANTIATE_TEST_SUITE_P(TerminalBuffer, HorizontalTabs,
                         ::testing::Values(TabCase{"From1", 1, false, 9}, TabCase{"From8", 8, false, 9},
                                           TabCase{"From73", 73, false, 80}, TabCase{"From74", 74, false, 80},
                                           TabCase{"From80", 80, false, 80}, TabCase{"BackFrom9", 9, true, 1},
                                           TabCase{"BackFrom10", 10, true, 9}, TabCase{"BackFrom80", 80, true, 73},
                                           TabCase{"BackFrom1", 1, true, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TerminalBuffer, TabStopsSetAndCleared) {
    TerminalBuffer b;
    b.ClearAllHorzTabStops();
    b.TabHorz();
    EXPECT_EQ(b.CursorCol(), 80);
    b.SetCursorCol(30);
    b.SetHorzTabStop();
    b.SetCursorCol(1);
    b.TabHorz();
    EXPECT_EQ(b.CursorCol(), 30);
    b.ClearHorzTabStop();
    EXPECT_FALSE(b.HorzTabStop(30));

    b.SetCursorRow(7);
    b.SetVertTabStop();
    b.SetCursorRow(2);
    b.TabVert();
    EXPECT_EQ(b.CursorRow(), 7);
    b.TabVert();
    EXPECT_EQ(b.CursorRow(), 24);
    b.BackTabVert();
    EXPECT_EQ(b.CursorRow(), 7);
    b.BackTabVert();
    EXPECT_EQ(b.CursorRow(), 1);
    b.ClearAllVertTabStops();
    EXPECT_FALSE(b.VertTabStop(7));
}

struct RowCase {
    const char* name;
    int set;
    int expect;
};

class CursorRowPlacement : public ::testing::TestWithParam<RowCase> {};

TEST_P(CursorRowPlacement, ClampsToTheWholeBuffer) {
    TerminalBuffer b;
    b.SetCursorRow(GetParam().set);
    EXPECT_EQ(b.CursorRow(), GetParam().expect);
}

INSTANTIATE_TEST_SUITE_P(TerminalBuffer, CursorRowPlacement,
                         ::testing::Values(RowCase{"Zero", 0, 0}, RowCase{"Scrollback", -100, -100},
                                           RowCase{"OldestRow", -5000, -175}, RowCase{"Beyond", 5000, 24},
                                           RowCase{"Screen", 12, 12}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TerminalBuffer, CursorInScrollbackWritesThere) {
    TerminalBuffer b;
    b.SetCursorRow(0);
    b.SetCursorCol(500);
    EXPECT_EQ(b.CursorCol(), 80);
    b.SetCursorCol(3);
    b.WriteChar('s');
    EXPECT_EQ(b.RowChars(0)[2], 's');
    CellRect rect;
    Drain(b);
    b.WriteChar('t');
    ASSERT_TRUE(b.TakeInvalidRect(rect));
    EXPECT_EQ(rect, (CellRect{4, 0, 4, 0}));
}

TEST(TerminalBuffer, ScrollRegionWholeScreenStaysOff) {
    TerminalBuffer b;
    b.CursorPos(10, 10);
    b.SetScrollRegion(1, 24);
    EXPECT_FALSE(b.ScrollRegionActive());
    b.SetScrollRegion(24, 1);
    EXPECT_FALSE(b.ScrollRegionActive());
}

TEST(TerminalBuffer, ScrollRegionLineFeedScrollsOnlyTheRegion) {
    TerminalBuffer b;
    LabelRows(b);
    b.CursorPos(24, 1);
    b.LineFeed();  // "row 1" into the scrollback
    ASSERT_EQ(Trimmed(b, 0), "row 1");
    b.SetScrollRegion(10, 5);
    EXPECT_TRUE(b.ScrollRegionActive());
    EXPECT_EQ(b.CursorRow(), 5);
    EXPECT_EQ(b.CursorCol(), 1);
    EXPECT_EQ(b.ScrollRegionTop(), 5);
    EXPECT_EQ(b.ScrollRegionBottom(), 10);
    b.SetCursorRow(10);
    Drain(b);
    b.LineFeed();
    EXPECT_EQ(b.CursorRow(), 10);
    EXPECT_EQ(Trimmed(b, 4), "row 5");
    EXPECT_EQ(Trimmed(b, 5), "row 7");
    EXPECT_EQ(Trimmed(b, 9), "row 11");
    EXPECT_EQ(Trimmed(b, 10), "");
    EXPECT_EQ(Trimmed(b, 11), "row 12");
    EXPECT_EQ(Trimmed(b, 0), "row 1");
    EXPECT_EQ(Trimmed(b, -1), "");
    CellRect rect;
    ASSERT_TRUE(b.TakeInvalidRect(rect));
    EXPECT_EQ(rect, (CellRect{1, 5, 80, 10}));
    b.SetScrollRegionActive(false);
    EXPECT_EQ(b.CursorRow(), 1);
}

TEST(TerminalBuffer, RelativeAddressingInsideTheRegion) {
    TerminalBuffer b;
    b.SetScrollRegion(5, 10);
    b.SetAbsAddress(false);
    b.CursorPos(2, 3);
    EXPECT_EQ(b.CursorRow(), 2);
    b.SetAbsAddress(true);
    EXPECT_EQ(b.CursorRow(), 6);
    EXPECT_EQ(b.CursorCol(), 3);
    // The region's clamp is the buffer, not the region.
    b.SetScrollRegion(0, 500);
    EXPECT_FALSE(b.ScrollRegionActive());
}

TEST(TerminalBuffer, EraseScreenMovesTheScreenIntoTheScrollback) {
    TerminalBuffer b;
    LabelRows(b);
    b.CursorPos(7, 13);
    Drain(b);
    b.EraseScreen();
    EXPECT_EQ(b.CursorRow(), 7);
    EXPECT_EQ(b.CursorCol(), 13);
    for (int r = 1; r <= 24; ++r) {
        EXPECT_EQ(Trimmed(b, r - 24), "row " + std::to_string(r));
        EXPECT_EQ(Trimmed(b, r), "");
    }
    EXPECT_EQ(Trimmed(b, -24), "");
    CellRect rect;
    ASSERT_TRUE(b.TakeInvalidRect(rect));
    EXPECT_EQ(rect, (CellRect{1, 1, 80, 24}));
}

TEST(TerminalBuffer, EraseToAndFromCursor) {
    TerminalBuffer b;
    for (int r = 1; r <= 24; ++r) {
        b.CursorPos(r, 1);
        b.WriteString(std::string(80, 'x'));
    }
    b.CursorPos(0, 1);
    b.WriteString("keep");
    b.CursorPos(10, 41);
    b.EraseToEOW();
    EXPECT_EQ(Trimmed(b, 10), std::string(40, 'x'));
    EXPECT_EQ(Trimmed(b, 11), "");
    EXPECT_EQ(Trimmed(b, 24), "");
    b.CursorPos(5, 40);
    b.EraseFromBOW();
    EXPECT_EQ(RowText(b, 5), std::string(40, ' ') + std::string(40, 'x'));
    EXPECT_EQ(Trimmed(b, 1), "");
    EXPECT_EQ(Trimmed(b, 6), std::string(80, 'x'));
    EXPECT_EQ(Trimmed(b, 0), "keep");
    b.CursorPos(6, 10);
    b.EraseToEOL();
    EXPECT_EQ(Trimmed(b, 6), std::string(9, 'x'));
    b.CursorPos(7, 10);
    b.EraseFromBOL();
    EXPECT_EQ(RowText(b, 7), std::string(10, ' ') + std::string(70, 'x'));
}

TEST(TerminalBuffer, EraseCharsContinuesOnFollowingRows) {
    TerminalBuffer b;
    for (int r = 1; r <= 24; ++r) {
        b.CursorPos(r, 1);
        b.WriteString(std::string(80, 'x'));
    }
    b.CursorPos(3, 71);
    b.EraseChars(100);
    EXPECT_EQ(RowText(b, 3), std::string(70, 'x') + std::string(10, ' '));
    EXPECT_EQ(RowText(b, 4), std::string(80, ' '));
    EXPECT_EQ(RowText(b, 5), std::string(10, ' ') + std::string(70, 'x'));
    EXPECT_EQ(b.CursorRow(), 3);
    // Never past the bottom of the region.
    b.CursorPos(24, 1);
    b.EraseChars(1000);
    EXPECT_EQ(Trimmed(b, 24), "");
    EXPECT_EQ(Trimmed(b, 23), std::string(80, 'x'));
}

TEST(TerminalBuffer, EraseAllClearsScrollbackAndHomes) {
    TerminalBuffer b;
    LabelRows(b);
    b.EraseScreen();
    b.CursorPos(9, 9);
    b.EraseAll();
    EXPECT_EQ(b.CursorRow(), 1);
    EXPECT_EQ(b.CursorCol(), 1);
    for (int r = -175; r <= 24; ++r) {
        ASSERT_EQ(Trimmed(b, r), "") << r;
    }
}

TEST(TerminalBuffer, InsertAndDeleteCharsAndLines) {
    TerminalBuffer b;
    LabelRows(b);
    b.CursorPos(2, 1);
    b.InsertChars(3);
    EXPECT_EQ(Trimmed(b, 2), "   row 2");
    b.DeleteChars(4);
    EXPECT_EQ(Trimmed(b, 2), "ow 2");
    b.CursorPos(2, 78);
    b.InsertChars(50);  // cut to the row
    EXPECT_EQ(Trimmed(b, 2), "ow 2");
    b.CursorPos(3, 5);
    b.InsertLines(2);
    EXPECT_EQ(b.CursorRow(), 3);
    EXPECT_EQ(Trimmed(b, 3), "");
    EXPECT_EQ(Trimmed(b, 5), "row 3");
    EXPECT_EQ(Trimmed(b, 24), "row 22");
    b.DeleteLines(3);
    EXPECT_EQ(Trimmed(b, 3), "row 4");
    EXPECT_EQ(Trimmed(b, 21), "row 22");
    EXPECT_EQ(Trimmed(b, 22), "");
    b.SetInsertMode(true);
    b.CursorPos(1, 1);
    b.WriteString("ab");
    EXPECT_EQ(Trimmed(b, 1), "abrow 1");
}

TEST(TerminalBuffer, TakeInvalidRectMergesEverythingQueued) {
    TerminalBuffer b;
    Drain(b);
    EXPECT_FALSE(b.HasInvalidRect());
    b.CursorPos(3, 5);
    b.WriteChar('a');
    b.CursorPos(10, 20);
    b.WriteChar('b');
    EXPECT_TRUE(b.HasInvalidRect());
    CellRect rect;
    ASSERT_TRUE(b.TakeInvalidRect(rect));
    EXPECT_EQ(rect, (CellRect{5, 3, 20, 10}));
    EXPECT_FALSE(b.TakeInvalidRect(rect));
    EXPECT_FALSE(b.HasInvalidRect());
}

TEST(TerminalBuffer, InvalidNodesReturnToThePool) {
    auto& pool = InvalidRectPool::Instance();
    auto inUse = [&] { return pool.Capacity() - pool.FreeCount(); };
    size_t before = inUse();
    {
        TerminalBuffer b;
        Drain(b);
        EXPECT_EQ(inUse(), before);
        // Far more marks than the fold limit: the queue stays bounded.
        // Alternating rows, so that no mark extends the one before.
        for (int i = 0; i < 3 * InvalidRectList::FoldLimit; ++i) {
            b.CursorPos(1 + i % 2 * 23, 1 + i % 80);
            b.WriteChar('x');
        }
        EXPECT_LE(inUse() - before, static_cast<size_t>(InvalidRectList::FoldLimit));
        CellRect rect;
        ASSERT_TRUE(b.TakeInvalidRect(rect));
        EXPECT_EQ(rect, (CellRect{1, 1, 80, 24}));
        EXPECT_EQ(inUse(), before);
        b.WriteChar('y');
        EXPECT_EQ(inUse(), before + 1);
    }
    // A buffer destroyed with rectangles queued gives its nodes back.
    EXPECT_EQ(inUse(), before);
    EXPECT_EQ(pool.Capacity() % InvalidRectPool::BlockSize, 0u);
}

TEST(TerminalBuffer, DefaultBackColorRecoloursOldDefaultOnly) {
    TerminalBuffer b;
    b.SetBackColor(0x0000FF);
    b.CursorPos(2, 1);
    b.WriteString("red");
    b.SetBackColor(0);
    b.SetDefaultBackColor(0xFFFFFF);
    EXPECT_EQ(b.DefaultBackColor(), 0xFFFFFFu);
    EXPECT_EQ(b.BackColor(), 0u);
    for (int r = -175; r <= 24; ++r) {
        for (int c = 0; c < 80; ++c) {
            uint32_t expect = (r == 2 && c < 3) ? 0x0000FFu : 0xFFFFFFu;
            ASSERT_EQ(b.RowBackColors(r)[c], expect) << r << "," << c;
        }
    }
    // The fill is still the current colour, not the new default.
    b.EraseLine();
    EXPECT_EQ(b.RowBackColors(2)[0], 0u);
    b.SetDefaultForeColor(0);
    EXPECT_EQ(b.RowForeColors(5)[5], 0u);
    EXPECT_EQ(b.ForeColor(), 0xC0C0C0u);
}

// Records what a buffer reports from now on, in order.
struct Reports : BufferObserver {
    explicit Reports(TerminalBuffer& b) : buffer(&b) { b.SetObserver(this); }

    void Damaged(TerminalBuffer& sender) override {
        EXPECT_EQ(&sender, buffer);
        ++damaged;
    }
    void CursorMoved(TerminalBuffer& sender, int row, int col) override {
        EXPECT_EQ(&sender, buffer);
        moves.emplace_back(row, col);
    }
    void RowsScrolled(TerminalBuffer&, int count, int top, int bottom) override {
        scrolls.push_back({count, top, bottom});
    }

    TerminalBuffer* buffer;
    int damaged = 0;
    std::vector<std::pair<int, int>> moves;
    std::vector<std::vector<int>> scrolls;
};

TEST(TerminalBuffer, CursorMovedNotification) {
    TerminalBuffer b;
    Reports reports(b);
    auto& calls = reports.moves;
    ASSERT_TRUE(b.TakeCursorMoved());
    b.CursorPos(24, 3);
    EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{24, 1}, {24, 3}}));
    ASSERT_TRUE(b.TakeCursorMoved());
    calls.clear();
    b.LineFeed();  // scroll only
    b.CursorDown(true);
    b.SetCursorCol(3);  // unchanged
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(b.TakeCursorMoved());
    // Until taken, the flag makes every notifying operation call again.
    b.CarriageReturn();
    b.CarriageReturn();
    EXPECT_EQ(calls.size(), 2u);
    b.SetScrollRegionActive(true);
    EXPECT_EQ(calls.size(), 3u);
}

TEST(TerminalBuffer, ScrollRowsReportedInScreenRows) {
    TerminalBuffer b;
    Reports reports(b);
    b.CursorPos(24, 1);
    b.LineFeed();
    b.CursorPos(5, 1);
    b.InsertLines(2);
    EXPECT_EQ(reports.scrolls, (std::vector<std::vector<int>>{{1, -175, 24}, {-2, 5, 24}}));
}

TEST(TerminalBuffer, DamageReportedOnlyWhenTheRectangleQueueFills) {
    TerminalBuffer b;
    CellRect rect;
    Drain(b);
    Reports reports(b);
    b.WriteString("ab");
    b.CursorPos(24, 1);
    b.LineFeed();
    EXPECT_EQ(reports.damaged, 1);
    // Every change is still there for the one painter call.
    CellRect all{1000, 1000, 0, 0};
    while (b.TakeInvalidRect(rect)) {
        all = CellRect{std::min(all.Left, rect.Left), std::min(all.Top, rect.Top), std::max(all.Right, rect.Right),
                       std::max(all.Bottom, rect.Bottom)};
    }
    EXPECT_EQ(all.Left, 1);
    EXPECT_EQ(all.Top, 1);
    EXPECT_EQ(all.Bottom, 24);
    b.WriteChar('c');
    b.WriteChar('d');
    EXPECT_EQ(reports.damaged, 2);  // the queue was drained, so it filled again
    b.SetObserver(nullptr);
    Drain(b);
    b.WriteChar('e');
    EXPECT_EQ(reports.damaged, 2);
}

TEST(TerminalBuffer, ResetRestoresPowerOnState) {
    TerminalBuffer b;
    b.SetForeColor(1);
    b.SetBackColor(2);
    b.SetCharAttrs(tcaReverse);
    b.SetCharSet(7);
    b.SetAbsAddress(false);
    b.SetInsertMode(true);
    b.SetNewLineMode(true);
    b.SetAutoWrap(false);
    b.ClearAllHorzTabStops();
    b.SetScrollRegion(3, 8);
    b.WriteString("xyz");
    b.EraseScreen();
    Drain(b);
    b.Reset();
    EXPECT_EQ(b.ForeColor(), 0xC0C0C0u);
    EXPECT_EQ(b.BackColor(), 0u);
    EXPECT_EQ(b.CharAttrs(), 0);
    EXPECT_EQ(b.CharSet(), 0);
    EXPECT_TRUE(b.AbsAddress() && b.AutoWrap() && b.AutoWrapDelay());
    EXPECT_FALSE(b.InsertMode() || b.NewLineMode() || b.ScrollRegionActive());
    EXPECT_TRUE(b.HorzTabStop(9));
    EXPECT_EQ(b.CursorRow(), 1);
    EXPECT_EQ(b.CursorCol(), 1);
    for (int r = -175; r <= 24; ++r) {
        ASSERT_EQ(Trimmed(b, r), "");
        ASSERT_EQ(b.RowBackColors(r)[0], 0u);
        ASSERT_EQ(b.RowAttrs(r)[0], 0);
    }
    EXPECT_TRUE(b.HasInvalidRect());
}

}  // namespace
}  // namespace hydrix::terminal
