#include "terminal/tty_emulator.h"

#include <stdexcept>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/message_loop.h"
#include "terminal/canvas.h"
#include "terminal/terminal_buffer.h"
#include "terminal/tty_emulator_fixture.h"

namespace hydrix::terminal {
namespace {

using test::Fixture;
using test::RecordingCanvas;
using test::TestTerminal;
using TextRun = RecordingCanvas::TextRun;
using Line = RecordingCanvas::Line;

// ---- received bytes: data-driven, each case also fed in random splits ----

struct ByteCase {
    const char* name;
    std::string input;
    std::vector<std::string> rows;  // screen rows from 1, trailing blanks trimmed
    int cursorRow, cursorCol;
    int beeps;
};

std::vector<ByteCase> ByteCases() {
    std::string scroll;
    for (int i = 0; i < 30; ++i) {
        scroll += "L" + std::to_string(10 + i) + "\r\n";
    }
    std::vector<std::string> scrolled;
    for (int i = 17; i < 40; ++i) {
        scrolled.push_back("L" + std::to_string(i));
    }
    const std::string digits80 = std::string("0123456789") + "0123456789" + "0123456789" + "0123456789" + "0123456789" +
                                 "0123456789" + "0123456789" + "0123456789";
    return {
        {"CrLf", "AB\r\nC", {"AB", "C"}, 2, 2, 0},
        {"LfAlone", "AB\nC", {"AB", "  C"}, 2, 4, 0},
        {"BsAtColumnOne", "\bX", {"X"}, 1, 2, 0},
        {"BsOverwrites", "AB\bC", {"AC"}, 1, 3, 0},
        {"BsDoesNotErase", "AB\b\b", {"AB"}, 1, 1, 0},
        {"TabFromColumnOne", "\tX", {"        X"}, 1, 10, 0},
        {"TabFromColumn75", std::string(74, '.') + "\tY", {std::string(74, '.') + "     Y"}, 1, 80, 0},
        {"EscNulVtFfLeaveNoTrace", std::string("A\x1b[1m", 5) + std::string("\0\x0b\x0c", 3) + "B", {"A[1mB"}, 1, 6, 0},
        {"BellBeepsPerByte", "A\a\aB", {"AB"}, 1, 3, 2},
        {"EightyOneCharacters", digits80 + "X", {digits80, "X"}, 2, 2, 0},
        {"WrapPendingCancelledByCr", digits80 + "\rX", {"X" + digits80.substr(1)}, 1, 2, 0},
        {"HighBytesPrinted", "\x7f\x80\xff", {"\x7f\x80\xff"}, 1, 4, 0},
        {"ScrollsIntoScrollback", scroll, scrolled, 24, 1, 0},
    };
}

class TtyBytes : public ::testing::TestWithParam<ByteCase> {};

void CheckScreen(Fixture& f, const ByteCase& c, const std::string& how) {
    for (int row = 1; row <= f.Buf().RowCount(); ++row) {
        const std::string want = row <= static_cast<int>(c.rows.size()) ? c.rows[row - 1] : "";
        EXPECT_EQ(f.Row(row), want) << how << ", row " << row;
    }
    EXPECT_EQ(f.Buf().CursorRow(), c.cursorRow) << how;
    EXPECT_EQ(f.Buf().CursorCol(), c.cursorCol) << how;
}

TEST_P(TtyBytes, WholeAndInRandomSplits) {
    const ByteCase& c = GetParam();
    {
        Fixture f;
        f.Feed(c.input);
        CheckScreen(f, c, "whole");
        EXPECT_EQ(f.counter->beeps, c.beeps);
    }
    for (unsigned seed = 1; seed <= 8; ++seed) {
        Fixture f;
        std::mt19937 rng(seed);
        size_t pos = 0;
        while (pos < c.input.size()) {
            const size_t n = std::uniform_int_distribution<size_t>(1, 7)(rng);
            f.Feed(c.input.substr(pos, n));
            pos += n;
        }
        CheckScreen(f, c, "split seed " + std::to_string(seed));
        EXPECT_EQ(f.counter->beeps, c.beeps);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TtyBytes, ::testing::ValuesIn(ByteCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TtyEmulator, ScrolledLinesReachTheScrollback) {
    Fixture f;
    for (int i = 0; i < 30; ++i) {
        f.Feed("L" + std::to_string(10 + i) + "\r\n");
    }
    EXPECT_EQ(f.Row(0), "L16");
    EXPECT_EQ(f.Row(-6), "L10");
}

// ---- keyboard ----

TEST(TtyEmulator, BackspaceKeySendsDel) {
    Fixture f;
    uint8_t key = 0x08;
    f.tty.KeyPress(key);
    EXPECT_EQ(key, 0x7F);
    EXPECT_EQ(f.term.port.sent, "\x7f");
    EXPECT_EQ(f.Row(1), "");

    f.term.halfDuplex = true;
    key = 0x08;
    f.tty.KeyPress(key);
    EXPECT_EQ(f.term.port.sent, "\x7f\x7f");
    EXPECT_EQ(f.Row(1), "\x7f");
}

TEST(TtyEmulator, TypedBytesOnAClosedOrMissingPortAreOnlyEchoed) {
    Fixture f;
    f.term.halfDuplex = true;
    f.term.port.open = false;
    uint8_t key = 'a';
    f.tty.KeyPress(key);
    f.term.hasPort = false;
    key = 'b';
    f.tty.KeyPress(key);
    EXPECT_EQ(f.term.port.sent, "");
    EXPECT_EQ(f.Row(1), "ab");
}

// ---- OnProcessChar ----

TEST(TtyEmulator, ProcessCharCanSwallowReplaceAndAddCommands) {
    Fixture f;
    std::vector<CharSource> sources;
    f.tty.OnProcessChar = [&](TerminalEmulator* sender, uint8_t ch, std::string& replaceWith, EmuCommandList& commands,
                              CharSource source) {
        EXPECT_EQ(sender, &f.tty);
        EXPECT_EQ(commands.Count(), 0);
        EXPECT_EQ(replaceWith, std::string(1, static_cast<char>(ch)));
        sources.push_back(source);
        if (ch == 'x') {
            replaceWith.clear();
        } else if (ch == 'm') {
            replaceWith = "M\r\n";
        } else if (ch == 'h') {
            commands.Add(EmuCommand::ecClearAndHome);
        } else if (ch == 'p') {
            auto& item = commands.Add(EmuCommand::ecCursorPos);
            item.Params().Add("Col", "7");
            item.Params().Add("Row", "3");
        }
    };
    f.Feed("axbm", CharSource::csWriteChar);
    EXPECT_EQ(f.Row(1), "abM");
    EXPECT_EQ(f.Buf().CursorRow(), 2);
    f.Feed("p");
    EXPECT_EQ(f.Row(3), "      p");
    f.Feed("h");
    EXPECT_EQ(f.Row(1), "h");
    EXPECT_EQ(f.Row(3), "");
    EXPECT_EQ(f.Row(-23), "abM");  // the cleared screen went into the scrollback
    EXPECT_EQ(sources.front(), CharSource::csWriteChar);
    EXPECT_EQ(sources.back(), CharSource::csPort);
}

TEST(TtyEmulator, ProcessCharExceptionStopsTheBlock) {
    Fixture f;
    f.tty.OnProcessChar = [](TerminalEmulator*, uint8_t ch, std::string&, EmuCommandList&, CharSource) {
        if (ch == '!') {
            throw std::runtime_error("handler failed");
        }
    };
    EXPECT_THROW(f.Feed("ab!cd"), std::runtime_error);
    EXPECT_EQ(f.Row(1), "ab");
}

// ---- cursor-moved handling ----

TEST(TtyCursorMoved, KeepsCursorVisibleOnlyWhenFollowingAndAlwaysForwards) {
    Fixture f;
    f.term.follow = true;
    f.Buf().TakeCursorMoved();
    f.Feed("\t");
    EXPECT_EQ(f.term.keepVisibleCalls, 1);
    EXPECT_EQ(f.term.moves, (std::vector<std::pair<int, int>>{{1, 9}}));

    f.term.follow = false;
    f.Feed("\t");
    EXPECT_EQ(f.term.keepVisibleCalls, 1);
    EXPECT_EQ(f.term.moves.size(), 2u);
}

// The buffer's changes reach the terminal once per batch: the painter takes every queued
// rectangle at once, so only an empty queue starting to fill is news.
TEST(TtyDamage, ReachesTheTerminalOncePerBatch) {
    Fixture f;
    f.LazyPaint();  // takes what creation queued
    f.term.damaged = 0;
    f.Feed("ab\r\ncd");
    EXPECT_EQ(f.term.damaged, 1);
    f.LazyPaint();
    f.Feed("e");
    EXPECT_EQ(f.term.damaged, 2);
}

TEST(TtyDamage, StopsWhenTheTerminalIsGone) {
    Fixture f;
    f.LazyPaint();
    f.term.damaged = 0;
    f.tty.SetTerminal(nullptr);
    f.Feed("x");
    EXPECT_EQ(f.term.damaged, 0);
}

TEST(TtyCursorMoved, BeyondFlagsRefreshScrollBarsOnlyWhenTheyChange) {
    Fixture f;
    f.term.hideScrollbars = true;
    f.term.visibleCols = 40;
    f.term.visibleRows = 10;
    f.Feed("\t");  // column 9
    EXPECT_EQ(f.term.refreshCalls, 0);
    f.Feed("\t\t\t\t\t");  // column 49
    EXPECT_TRUE(f.term.beyondWidth);
    EXPECT_FALSE(f.term.beyondHeight);
    EXPECT_EQ(f.term.refreshCalls, 1);
    f.Feed("\t");
    EXPECT_EQ(f.term.refreshCalls, 1);
    f.Feed("\r\n\n\n\n\n\n\n\n\n\n");  // row 12, column 1
    EXPECT_FALSE(f.term.beyondWidth);
    EXPECT_TRUE(f.term.beyondHeight);
    EXPECT_EQ(f.term.refreshCalls, 3);
}

TEST(TtyEmulator, NeedsUpdateTakesTheCursorFlagOnlyWhenNothingElseIsPending) {
    Fixture f;
    CellRect rect;
    while (f.Buf().TakeInvalidRect(rect)) {
    }
    f.Buf().TakeCursorMoved();
    EXPECT_FALSE(f.tty.NeedsUpdate());
    f.Feed("A");
    EXPECT_TRUE(f.tty.NeedsUpdate());
    EXPECT_TRUE(f.Buf().TakeCursorMoved());  // still there: the invalid cell answered
    f.Feed("\t");
    EXPECT_TRUE(f.tty.NeedsUpdate());
    f.Buf().TakeInvalidRect(rect);
    EXPECT_TRUE(f.tty.NeedsUpdate());
    EXPECT_FALSE(f.tty.NeedsUpdate());
}

// ---- the terminal link list ----

TEST(TerminalLinks, BindingKeepsBothSidesInStep) {
    const int before = TerminalLinkCount();
    TestTerminal t;
    auto first = std::make_unique<TTYEmulator>();
    first->SetTerminal(&t);
    EXPECT_EQ(t.emulator, first.get());
    EXPECT_EQ(FindTerminalLink(&t), first.get());
    EXPECT_EQ(TerminalLinkCount(), before + 1);

    TTYEmulator second;
    second.SetTerminal(&t);
    EXPECT_EQ(first->Terminal(), nullptr);
    EXPECT_EQ(t.emulator, &second);
    EXPECT_EQ(TerminalLinkCount(), before + 1);

    t.SetEmulator(first.get());
    EXPECT_EQ(second.Terminal(), nullptr);
    EXPECT_EQ(first->Terminal(), &t);
    first.reset();
    EXPECT_EQ(t.emulator, nullptr);
    EXPECT_EQ(TerminalLinkCount(), before);

    TTYEmulator builtIn;
    builtIn.SetBuiltIn(true);
    builtIn.SetTerminal(&t);
    EXPECT_EQ(builtIn.Terminal(), &t);
    EXPECT_EQ(t.emulator, nullptr);
    EXPECT_EQ(TerminalLinkCount(), before);
}

TEST(TerminalLinks, ComponentNotifications) {
    TestTerminal t;
    TTYEmulator e;
    e.SetBuiltIn(true);
    e.TerminalInserted(&t);
    EXPECT_EQ(e.Terminal(), &t);
    TestTerminal other;
    e.TerminalInserted(&other);
    EXPECT_EQ(e.Terminal(), &t);
    e.TerminalRemoved(&t);
    EXPECT_EQ(e.Terminal(), nullptr);
}

// ---- painting ----

// Writes text with explicit colours and attributes, then returns the buffer to the
// terminal's colours so that painting does not re-synchronise.
void WriteStyled(Fixture& f, const std::string& text, uint32_t fore, uint32_t back, uint8_t attrs) {
    f.Buf().SetForeColor(fore);
    f.Buf().SetBackColor(back);
    f.Buf().SetCharAttrs(attrs);
    f.Feed(text);
    f.Buf().SetForeColor(f.term.fontColor);
    f.Buf().SetBackColor(f.term.color);
    f.Buf().SetCharAttrs(0);
}

TEST(TtyPaint, ColourChangeRecoloursDefaultCellsAndRepaintsEverything) {
    Fixture f;
    WriteStyled(f, "A", 0x0000FF, 0, 0);
    WriteStyled(f, "B", 0xC0C0C0, 0x00FF00, 0);
    f.term.color = 0xFFFFFF;
    f.term.fontColor = 0;
    f.LazyPaint();
    EXPECT_FALSE(f.tty.RepaintAll());
    EXPECT_FALSE(f.Buf().HasInvalidRect());
    EXPECT_EQ(f.Buf().DefaultBackColor(), 0xFFFFFFu);
    EXPECT_EQ(f.Buf().BackColor(), 0xFFFFFFu);
    const auto& runs = f.term.canvas.runs;
    ASSERT_EQ(runs.size(), 3u + 23u);
    // Row 1, drawn last run first: the blank rest, then B, then A.
    EXPECT_EQ(runs[0].text, std::string(78, ' '));
    EXPECT_EQ(runs[0].textColor, 0u);
    EXPECT_EQ(runs[0].fill, 0xFFFFFFu);
    EXPECT_EQ(runs[1].text, "B");
    EXPECT_EQ(runs[1].textColor, 0u);
    EXPECT_EQ(runs[1].fill, 0x00FF00u);
    EXPECT_EQ(runs[2].text, "A");
    EXPECT_EQ(runs[2].textColor, 0x0000FFu);
    EXPECT_EQ(runs[2].fill, 0xFFFFFFu);
    EXPECT_EQ(runs[3].opaque, (PixelRect{0, 16, 640, 32}));

    f.term.canvas.runs.clear();
    f.LazyPaint();
    EXPECT_TRUE(f.term.canvas.runs.empty());
}

TEST(TtyPaint, LazyPaintDrawsTheMergedRectangle) {
    Fixture f;
    f.LazyPaint();
    f.term.canvas.runs.clear();
    f.Buf().CursorPos(3, 5);
    f.Feed("X");
    f.Buf().CursorPos(4, 10);
    f.Feed("Y");
    f.LazyPaint();
    const auto& runs = f.term.canvas.runs;
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].text, "X     ");
    EXPECT_EQ(runs[0].opaque, (PixelRect{32, 32, 80, 48}));
    EXPECT_EQ(runs[0].x, 32);
    EXPECT_EQ(runs[0].y, 32);
    EXPECT_EQ(runs[0].advances, std::vector<int>(6, 8));
    EXPECT_EQ(runs[1].text, "     Y");
    EXPECT_EQ(runs[1].opaque, (PixelRect{32, 48, 80, 64}));
}

TEST(TtyPaint, AttributesChooseTheColours) {
    struct Case {
        uint8_t attrs;
        uint32_t fore, back, text, fill;
    };
    const Case cases[] = {
        {0, 0x102030, 0x405060, 0x102030, 0x405060},
        {tcaReverse, 0x102030, 0x405060, 0x405060, 0x102030},
        {tcaSelected, 0x102030, 0x405060, 0x405060, 0x102030},
        {tcaReverse | tcaSelected, 0x102030, 0x405060, 0x102030, 0x405060},
        {tcaInvisible, 0x102030, 0x405060, 0x405060, 0x405060},
        {tcaReverse | tcaInvisible, 0x102030, 0x405060, 0x102030, 0x102030},
        {tcaBold, 0x102030, 0x405060, 0x90A0B0, 0x405060},
        {tcaBold, 0x000000, 0x000000, 0x808080, 0x000000},
        {tcaBold, 0xC0C0C0, 0x000000, 0xFFFFFF, 0x000000},
        {tcaBold | tcaReverse, 0x102030, 0x405060, 0x405060, 0x90A0B0},
        {tcaBold | tcaInvisible, 0x102030, 0x405060, 0x405060, 0x405060},
        {tcaBlink, 0x102030, 0x405060, 0x102030, 0x405060},
    };
    for (const Case& c : cases) {
        Fixture f;
        WriteStyled(f, "Z", c.fore, c.back, c.attrs);
        f.term.canvas.clip = {0, 0, 8, 16};
        f.Paint();
        ASSERT_EQ(f.term.canvas.runs.size(), 1u);
        EXPECT_EQ(f.term.canvas.runs[0].text, "Z");
        EXPECT_EQ(f.term.canvas.runs[0].textColor, c.text) << int(c.attrs) << " fore " << c.fore;
        EXPECT_EQ(f.term.canvas.runs[0].fill, c.fill) << int(c.attrs) << " fore " << c.fore;
        EXPECT_TRUE(f.term.canvas.lines.empty());
    }
}

TEST(TtyPaint, UnderlineAndStrikethroughLines) {
    Fixture f;
    WriteStyled(f, "ab", 0x0000FF, 0, tcaUnderline | tcaStrikethrough);
    f.term.canvas.clip = {0, 0, 16, 16};
    f.Paint();
    ASSERT_EQ(f.term.canvas.lines.size(), 2u);
    const Line& under = f.term.canvas.lines[0];
    const Line& strike = f.term.canvas.lines[1];
    EXPECT_EQ((std::vector<int>{under.x1, under.y1, under.x2, under.y2}), (std::vector<int>{0, 14, 16, 14}));
    EXPECT_EQ((std::vector<int>{strike.x1, strike.y1, strike.x2, strike.y2}), (std::vector<int>{0, 8, 16, 8}));
    EXPECT_EQ(under.color, 0x0000FFu);
}

TEST(TtyPaint, ClipRectangleMapsToCellsOfTheView) {
    Fixture f;
    f.Feed("\r\n\r\nabcdefgh");
    f.term.leftCol = 3;
    f.term.topRow = 2;
    f.term.canvas.clip = {8, 16, 24, 32};
    f.Paint();
    ASSERT_EQ(f.term.canvas.runs.size(), 1u);
    EXPECT_EQ(f.term.canvas.runs[0].text, "de");
    EXPECT_EQ(f.term.canvas.runs[0].opaque, (PixelRect{8, 16, 24, 32}));
    // Paint leaves the queued changes for LazyPaint.
    EXPECT_TRUE(f.Buf().HasInvalidRect());
}

TEST(TtyPaint, ViewLargerThanTheBufferPaintsOnlyExistingCells) {
    Fixture f;
    f.term.visibleCols = 90;
    f.term.visibleRows = 30;
    f.term.canvas.clip = {0, 0, 720, 480};
    f.Paint();
    ASSERT_EQ(f.term.canvas.runs.size(), 24u);
    for (const TextRun& run : f.term.canvas.runs) {
        EXPECT_EQ(run.text.size(), 80u);
    }
}

TEST(TtyPaint, BufferWiderThan255ColumnsPaintsWholeRows) {
    Fixture f;
    f.Buf().tbSetColCount(300);
    f.term.visibleCols = 300;
    std::string row(300, 'w');
    row[279] = 'x';
    f.Feed(row.substr(0, 279));
    WriteStyled(f, "x", 0x0000FF, 0, 0);
    f.Feed(row.substr(280));
    f.term.canvas.clip = {0, 0, 2400, 16};
    f.Paint();
    const auto& runs = f.term.canvas.runs;
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].text, std::string(20, 'w'));
    EXPECT_EQ(runs[0].x, 280 * 8);
    EXPECT_EQ(runs[2].text, std::string(279, 'w'));
    EXPECT_EQ(runs[2].advances, std::vector<int>(279, 8));

    f.Buf().SetCharAttrs(0);
    f.Feed("\r" + std::string(300, 'v'));
    f.term.canvas.runs.clear();
    f.Paint();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].text, std::string(300, 'v'));
    EXPECT_EQ(runs[0].advances, std::vector<int>(300, 8));
}

TEST(TtyPaint, NothingWithoutATerminal) {
    TTYEmulator tty;
    RecordingCanvas canvas;
    const ViewGeometry view{8, 16, 1, 1, 80, 24, 80, 24};
    tty.LazyPaint(canvas, view);
    tty.Paint(canvas, view);
    EXPECT_TRUE(tty.Buffer()->HasInvalidRect());
}

}  // namespace
}  // namespace hydrix::terminal
