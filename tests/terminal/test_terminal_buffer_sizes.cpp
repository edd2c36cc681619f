// Size changes of the terminal buffer and the shape of its planes.
#include <gtest/gtest.h>

#include <string>

#include "terminal/terminal_buffer.h"
#include "test_terminal_buffer_util.h"

namespace hydrix::terminal {
namespace {

using namespace buffer_test;

TEST(TerminalBuffer, ScrollbackRowsAfterScreenGrows) {
    TerminalBuffer b;
    b.tbSetRowCount(45);
    LabelRows(b);
    b.CursorPos(30, 7);
    b.tbSetSVRowCount(1000);
    EXPECT_EQ(b.SVRowCount(), 1000);
    EXPECT_EQ(b.RowCount(), 45);
    for (int r = 1; r <= 45; ++r) {
        EXPECT_EQ(Trimmed(b, r), "row " + std::to_string(r));
    }
    EXPECT_NE(b.RowChars(-954), nullptr);
    EXPECT_EQ(b.RowChars(-955), nullptr);
    EXPECT_EQ(b.CursorRow(), 30);
    EXPECT_EQ(b.CursorCol(), 7);
    b.WriteChar('!');
    EXPECT_EQ(b.RowChars(30)[6], '!');
    // Shrinking keeps the newest rows and the cursor's screen row.
    b.tbSetSVRowCount(50);
    EXPECT_EQ(Trimmed(b, 45), "row 45");
    EXPECT_EQ(b.CursorRow(), 30);
    b.tbSetSVRowCount(20);
    EXPECT_EQ(b.RowCount(), 20);
    EXPECT_EQ(Trimmed(b, 20), "row 45");
    EXPECT_EQ(Trimmed(b, 1), "row 26");
}

TEST(TerminalBuffer, RowCountChangesKeepTheBottomOfTheBuffer) {
    TerminalBuffer b;
    LabelRows(b);
    b.CursorPos(1, 5);
    Drain(b);
    b.tbSetRowCount(10);
    EXPECT_EQ(Trimmed(b, 10), "row 24");
    EXPECT_EQ(Trimmed(b, 0), "row 14");
    EXPECT_EQ(b.CursorRow(), 1);  // moved down to the new screen top
    EXPECT_EQ(b.CursorCol(), 5);
    EXPECT_FALSE(b.HasInvalidRect());  // the screen just covers other rows
    b.tbSetRowCount(500);              // above SVRowCount: ignored
    EXPECT_EQ(b.RowCount(), 10);
}

struct SizeErrorCase {
    const char* name;
    void (TerminalBuffer::*setter)(int);
    int value;
    const char* message;
};

class SizeErrors : public ::testing::TestWithParam<SizeErrorCase> {};

TEST_P(SizeErrors, TooSmallRaisesAndChangesNothing) {
    const SizeErrorCase& c = GetParam();
    TerminalBuffer b;
    b.CursorPos(5, 6);
    try {
        (b.*c.setter)(c.value);
        FAIL() << "no exception";
    } catch (const ETerminalError& e) {
        EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(b.ColCount(), 80);
    EXPECT_EQ(b.RowCount(), 24);
    EXPECT_EQ(b.SVRowCount(), 200);
    EXPECT_EQ(b.CursorRow(), 5);
    EXPECT_EQ(b.CursorCol(), 6);
}

INSTANTIATE_TEST_SUITE_P(TerminalBuffer, SizeErrors,
                         ::testing::Values(SizeErrorCase{"Cols1", &TerminalBuffer::tbSetColCount, 1,
                                                         "TTerminalBuffer.tbSetColCount: new count too small"},
                                           SizeErrorCase{"ColsNeg", &TerminalBuffer::tbSetColCount, -3,
                                                         "TTerminalBuffer.tbSetColCount: new count too small"},
                                           SizeErrorCase{"Rows1", &TerminalBuffer::tbSetRowCount, 1,
                                                         "TTerminalBuffer.tbSetRowCount: new count too small"},
                                           SizeErrorCase{"Rows0", &TerminalBuffer::tbSetRowCount, 0,
                                                         "TTerminalBuffer.tbSetRowCount: new count too small"},
                                           SizeErrorCase{"SV1", &TerminalBuffer::tbSetSVRowCount, 1,
                                                         "TTerminalBuffer.tbSetSVRowCount: new count too small"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TerminalBuffer, ColCountChangeBlanksNewColumnsAndHomes) {
    TerminalBuffer b;
    b.CursorPos(3, 1);
    b.WriteString(std::string(80, 'x'));
    b.CursorPos(9, 9);
    b.tbSetColCount(78);  // same stride for one-byte rows
    EXPECT_EQ(b.CursorRow(), 1);
    EXPECT_EQ(b.CursorCol(), 1);
    b.tbSetColCount(80);
    EXPECT_EQ(RowText(b, 3), std::string(78, 'x') + "  ");
    b.tbSetColCount(132);
    EXPECT_EQ(RowText(b, 3), std::string(78, 'x') + std::string(54, ' '));
    EXPECT_TRUE(b.HorzTabStop(73));
    EXPECT_FALSE(b.HorzTabStop(81));  // new columns get no stops
    EXPECT_FALSE(b.HorzTabStop(129));
    b.tbSetColCount(10);
    EXPECT_EQ(RowText(b, 3), std::string(10, 'x'));
    EXPECT_EQ(b.ActiveRegion().Width, 10);
}

TEST(TerminalArray, ShapeAndItems) {
    TerminalArray three(3);
    EXPECT_EQ(three.ItemSize(), 1);
    EXPECT_EQ(three.Stride(), -1);
    EXPECT_EQ(three.GetItemPtr(0, 0), nullptr);

    struct {
        int itemSize, cols, stride;
    } shapes[] = {{1, 5, 8}, {1, 8, 8}, {2, 5, 6}, {4, 5, 5}};
    for (auto s : shapes) {
        TerminalArray a(s.itemSize);
        a.SetColCount(s.cols);
        a.SetRowCount(3);
        EXPECT_EQ(a.Stride(), s.stride) << s.itemSize << "/" << s.cols;
    }

    TerminalArray a(2);
    a.SetDefaultItem(0x12345678);
    EXPECT_EQ(a.DefaultItem(), 0x5678u);
    a.SetColCount(4);
    a.SetRowCount(3);
    uint16_t src[] = {1, 2, 3, 4, 5};
    a.WriteItems(src, 5, 1, 2);  // cut to the row
    EXPECT_EQ(a.Item(2, 0), 0x5678u);
    EXPECT_EQ(a.Item(2, 3), 3u);
    a.SetRowCount(5);  // bottom-aligned
    EXPECT_EQ(a.Item(4, 1), 1u);
    EXPECT_EQ(a.Item(0, 1), 0x5678u);
    a.ReplaceItem(0x5678, 9);
    EXPECT_EQ(a.Item(0, 0), 9u);
}

TEST(TerminalBuffer, WideCharacterCells) {
    TerminalBuffer wide(true);
    wide.CursorPos(2, 79);
    wide.WriteString("hi!");
    ASSERT_NE(wide.RowWideChars(2), nullptr);
    EXPECT_EQ(wide.RowWideChars(2)[78], u'h');
    EXPECT_EQ(wide.RowWideChars(2)[79], u'i');
    EXPECT_EQ(wide.RowWideChars(3)[0], u'!');
    EXPECT_EQ(wide.RowWideChars(3)[1], u' ');
    wide.SetDefaultChar('.');
    wide.EraseLine();
    EXPECT_EQ(wide.RowWideChars(3)[5], u'.');
    TerminalBuffer narrow;
    EXPECT_EQ(narrow.RowWideChars(1), nullptr);
}

}  // namespace
}  // namespace hydrix::terminal
