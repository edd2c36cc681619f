// The command interpreter, through the built-in TTY emulator: what each command does to
// the buffer and to the terminal, and that the commands which stand for one buffer
// operation do exactly what that operation does.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "terminal/command_list.h"
#include "terminal/emu_command.h"
#include "terminal/terminal_buffer.h"
#include "terminal/tty_emulator_fixture.h"

namespace hydrix::terminal {
namespace {

using test::Fixture;
using test::TestTerminal;
using Param = std::pair<std::string, std::string>;

void Exec(Fixture& f, EmuCommand command, const std::vector<Param>& params = {}) {
    EmuCommandListItem item;
    for (const auto& [name, value] : params) {
        item.Params().Add(name, value);
    }
    f.tty.ExecuteCommand(command, &item.Params());
}

TEST(TtyCommands, AttributeCommandsActOnTheirOwnBit) {
    using enum EmuCommand;
    struct Group {
        EmuCommand add, only, remove, invert;
        uint8_t flag;
    };
    const Group groups[] = {
        {ecAddBold, ecBoldOnly, ecRemoveBold, ecInvertBold, tcaBold},
        {ecAddUnderLine, ecUnderlineOnly, ecRemoveUnderline, ecInvertUnderline, tcaUnderline},
        {ecAddStrikethrough, ecStrikethroughOnly, ecRemoveStrikethrough, ecInvertStrikethrough, tcaStrikethrough},
        {ecAddBlink, ecBlinkOnly, ecRemoveBlink, ecInvertBlink, tcaBlink},
        {ecAddReverse, ecReverseOnly, ecRemoveReverse, ecInvertReverse, tcaReverse},
        {ecAddInvisible, ecInvisibleOnly, ecRemoveInvisible, ecInvertInvisible, tcaInvisible},
        {ecAddSelected, ecSelectedOnly, ecRemoveSelected, ecInvertSelected, tcaSelected},
    };
    Fixture f;
    for (const Group& g : groups) {
        const uint8_t other = g.flag == tcaBold ? tcaUnderline : tcaBold;
        f.Buf().SetCharAttrs(other);
        Exec(f, g.add);
        EXPECT_EQ(f.Buf().CharAttrs(), other | g.flag);
        Exec(f, g.invert);
        EXPECT_EQ(f.Buf().CharAttrs(), other);
        Exec(f, g.invert);
        EXPECT_EQ(f.Buf().CharAttrs(), other | g.flag);
        Exec(f, g.remove);
        EXPECT_EQ(f.Buf().CharAttrs(), other);
        Exec(f, g.only);
        EXPECT_EQ(f.Buf().CharAttrs(), g.flag);
    }
    f.Buf().SetCharAttrs(tcaBold | tcaSelected);
    Exec(f, ecRemoveAllAttrIgnoreSelect);
    EXPECT_EQ(f.Buf().CharAttrs(), tcaSelected);
    Exec(f, ecRemoveAllAttr);
    EXPECT_EQ(f.Buf().CharAttrs(), 0);
    Exec(f, ecSetCharAttr, {{"Reverse", "yes"}, {"", "true"}, {"", "on"}});
    // Bold is not named, so it reads position 0, which is the Reverse item.
    EXPECT_EQ(f.Buf().CharAttrs(), tcaBold | tcaReverse | tcaUnderline | tcaStrikethrough);
}

TEST(TtyCommands, CursorAndLineCommands) {
    using enum EmuCommand;
    Fixture f;
    Exec(f, ecCursorPos, {{"", "5"}, {"", "7"}});
    EXPECT_EQ(f.Buf().CursorRow(), 5);
    EXPECT_EQ(f.Buf().CursorCol(), 7);
    Exec(f, ecCursorPos, {{"Col", "2"}});  // Row falls back to position 0, the Col item
    EXPECT_EQ(f.Buf().CursorRow(), 2);
    EXPECT_EQ(f.Buf().CursorCol(), 2);
    Exec(f, ecCursorEOL);
    EXPECT_EQ(f.Buf().CursorCol(), 80);
    Exec(f, ecCursorBottom);
    EXPECT_EQ(f.Buf().CursorRow(), 24);
    Exec(f, ecNEL);
    EXPECT_EQ(f.Buf().CursorRow(), 24);
    EXPECT_EQ(f.Buf().CursorCol(), 1);
    Exec(f, ecCursorTop);
    Exec(f, ecCursorRight, {{"Wrap", "1"}});
    EXPECT_EQ(f.Buf().CursorCol(), 2);
    Exec(f, ecHome);
    Exec(f, ecWriteString, {{"String", "hello"}});
    EXPECT_EQ(f.Row(1), "hello");
    Exec(f, ecHome);
    Exec(f, ecDeleteChars, {{"Count", "2"}});
    EXPECT_EQ(f.Row(1), "llo");
    Exec(f, ecInsertChars);
    EXPECT_EQ(f.Row(1), " llo");
    Exec(f, ecDECALN);
    EXPECT_EQ(f.Row(24), std::string(80, 'E'));
    EXPECT_EQ(f.Row(-23), " llo");
    EXPECT_EQ(f.Buf().DefaultChar(), ' ');
    Exec(f, ecClearAndHome);
    EXPECT_EQ(f.Row(1), "");
    EXPECT_EQ(f.Row(0), std::string(80, 'E'));
}

TEST(TtyCommands, ColoursAreMadePersistentOnTheTerminal) {
    using enum EmuCommand;
    Fixture f;
    Exec(f, ecForeColor, {{"Color", "$0000FF"}});
    EXPECT_EQ(f.Buf().ForeColor(), 0x0000FFu);
    EXPECT_EQ(f.term.fontColor, 0x0000FFu);
    Exec(f, ecBackColor, {{"Color", "255"}, {"Persistent", "no"}});
    EXPECT_EQ(f.Buf().BackColor(), 255u);
    EXPECT_EQ(f.term.color, 0u);
    Exec(f, ecColor);
    EXPECT_EQ(f.Buf().ForeColor(), 0xC0C0C0u);
    EXPECT_EQ(f.Buf().BackColor(), 0u);
    EXPECT_EQ(f.term.fontColor, 0xC0C0C0u);
}

TEST(TtyCommands, SaveAndRestoreCursorState) {
    using enum EmuCommand;
    Fixture f;
    Exec(f, ecCursorPos, {{"", "4"}, {"", "9"}});
    f.Buf().SetForeColor(0x123456);
    f.Buf().SetCharAttrs(tcaBold);
    Exec(f, ecSaveCursorPos);
    Exec(f, ecHome);
    Exec(f, ecColor, {{"Fore", "1"}, {"Back", "2"}});
    Exec(f, ecRemoveAllAttr);
    Exec(f, ecRestoreCursorPos);
    EXPECT_EQ(f.Buf().CursorRow(), 4);
    EXPECT_EQ(f.Buf().CursorCol(), 9);
    EXPECT_EQ(f.Buf().ForeColor(), 0x123456u);
    EXPECT_EQ(f.Buf().BackColor(), 0u);
    EXPECT_EQ(f.Buf().CharAttrs(), tcaBold);
}

TEST(TtyCommands, ReportsGoOnlyFromThePortsLinkedTerminal) {
    using enum EmuCommand;
    Fixture f;
    Exec(f, ecCursorPos, {{"", "3"}, {"", "5"}});
    Exec(f, ecDeviceStatusReport);
    Exec(f, ecDeviceStatusReport, {{"Type", "6"}});
    Exec(f, ecDeviceStatusReport, {{"Type", "7"}});
    Exec(f, ecDeviceAttributesReport);
    Exec(f, ecDeviceAttributesReport, {{"", "52"}});
    EXPECT_EQ(f.term.port.sent, "\x1b[0n\x1b[3;5R\x1b[?1;0c\x1b/Z");

    f.term.port.sent.clear();
    TestTerminal other;
    f.term.port.linked = &other;
    Exec(f, ecDeviceStatusReport);
    f.term.hasPort = false;
    Exec(f, ecDeviceAttributesReport);
    EXPECT_EQ(f.term.port.sent, "");
}

// ---- commands that stand for one buffer operation ----

struct BufferCase {
    const char* name;
    EmuCommand command;
    std::vector<Param> params;  // none: the command is given no parameters at all
    std::function<void(TerminalBuffer&)> operation;
};

void PrintTo(const BufferCase& c, std::ostream* out) {
    *out << c.name;
}

// Words across every row, tab stops and a scroll region, the cursor inside a word, and
// every mode set one way, so that a command acting on the wrong thing shows.
void Prepare(TerminalBuffer& b, bool modes) {
    for (int row = 1; row <= b.RowCount(); ++row) {
        b.CursorPos(row, 1);
        b.WriteString("row " + std::to_string(row) + " alpha beta gamma");
    }
    b.CursorPos(1, 13);
    b.SetHorzTabStop();
    b.CursorPos(7, 1);
    b.SetVertTabStop();
    b.SetScrollRegion(3, 20);
    b.SetScrollRegionActive(modes);
    b.SetAbsAddress(modes);
    b.SetAutoWrap(modes);
    b.SetAutoWrapDelay(modes);
    b.SetInsertMode(modes);
    b.SetNewLineMode(modes);
    b.SetCharAttrs(tcaUnderline);
    b.SetForeColor(0x123456);
    b.CursorPos(8, 14);
}

// Everything a command may change, one line per item.
std::vector<std::string> State(TerminalBuffer& b) {
    std::vector<std::string> state;
    std::ostringstream s;
    s << "cursor " << b.CursorRow() << ',' << b.CursorCol() << " wrap " << b.WrapPending() << " modes "
      << b.AbsAddress() << b.AutoWrap() << b.AutoWrapDelay() << b.InsertMode() << b.NewLineMode()
      << b.ScrollRegionActive() << " region " << b.ScrollRegionTop() << '-' << b.ScrollRegionBottom() << " attrs "
      << int(b.CharAttrs()) << " colours " << b.ForeColor() << '/' << b.BackColor() << " default "
      << int(b.DefaultChar());
    state.push_back(s.str());
    std::string tabs;
    for (int col = 1; col <= b.ColCount(); ++col) {
        tabs += b.HorzTabStop(col) ? 'T' : '.';
    }
    for (int row = 1; row <= b.RowCount(); ++row) {
        tabs += b.VertTabStop(row) ? 'V' : '.';
    }
    state.push_back(tabs);
    for (int row = b.RowCount() - b.SVRowCount() + 1; row <= b.RowCount(); ++row) {
        std::ostringstream r;
        r << row << ' ' << std::string(reinterpret_cast<const char*>(b.RowChars(row)), size_t(b.ColCount()));
        for (int col = 0; col < b.ColCount(); ++col) {
            r << ' ' << int(b.RowAttrs(row)[col]) << ':' << b.RowForeColors(row)[col] << ':'
              << b.RowBackColors(row)[col];
        }
        state.push_back(r.str());
    }
    return state;
}

// The first line in which the two states differ, both versions; empty when equal.
std::string FirstDifference(const std::vector<std::string>& got, const std::vector<std::string>& want) {
    for (size_t i = 0; i < got.size() && i < want.size(); ++i) {
        if (got[i] != want[i]) {
            return "got  " + got[i].substr(0, 120) + "\nwant " + want[i].substr(0, 120);
        }
    }
    return got.size() == want.size() ? "" : "a different number of rows";
}

std::vector<BufferCase> BufferCases() {
    using enum EmuCommand;
    using B = TerminalBuffer;
    return {
        {"None", ecNone, {}, [](B&) {}},
        {"Answerback", ecAnswerback, {}, [](B&) {}},
        {"Backspace", ecBackspace, {}, [](B& b) { b.Backspace(); }},
        {"TabHorz", ecTabHorz, {}, [](B& b) { b.TabHorz(); }},
        {"LF", ecLF, {}, [](B& b) { b.LineFeed(); }},
        {"CR", ecCR, {}, [](B& b) { b.CarriageReturn(); }},
        {"BackTabHorz", ecBackTabHorz, {}, [](B& b) { b.BackTabHorz(); }},
        {"CursorDown", ecCursorDown, {}, [](B& b) { b.CursorDown(false); }},
        {"CursorDownScrolling", ecCursorDown, {{"Scroll", "1"}}, [](B& b) { b.CursorDown(true); }},
        {"CursorUp", ecCursorUp, {}, [](B& b) { b.CursorUp(false); }},
        {"CursorUpScrolling", ecCursorUp, {{"", "yes"}}, [](B& b) { b.CursorUp(true); }},
        {"CursorLeft", ecCursorLeft, {}, [](B& b) { b.CursorLeft(false, false); }},
        {"CursorLeftWrapping", ecCursorLeft, {{"Wrap", "1"}, {"Scroll", "1"}}, [](B& b) { b.CursorLeft(true, true); }},
        {"CursorRightScrolling", ecCursorRight, {{"", "0"}, {"", "1"}}, [](B& b) { b.CursorRight(false, true); }},
        {"CursorBOL", ecCursorBOL, {}, [](B& b) { b.SetCursorCol(1); }},
        {"DeleteLine", ecDeleteLines, {}, [](B& b) { b.DeleteLines(1); }},
        {"DeleteLines", ecDeleteLines, {{"Count", "3"}}, [](B& b) { b.DeleteLines(3); }},
        {"InsertLine", ecInsertLines, {}, [](B& b) { b.InsertLines(1); }},
        {"InsertLines", ecInsertLines, {{"Count", "2"}}, [](B& b) { b.InsertLines(2); }},
        {"DeleteChar", ecDeleteChars, {}, [](B& b) { b.DeleteChars(1); }},
        {"InsertChars", ecInsertChars, {{"", "3"}}, [](B& b) { b.InsertChars(3); }},
        {"EraseChar", ecEraseChars, {}, [](B& b) { b.EraseChars(1); }},
        {"EraseChars", ecEraseChars, {{"Count", "4"}}, [](B& b) { b.EraseChars(4); }},
        {"EraseAll", ecEraseAll, {}, [](B& b) { b.EraseAll(); }},
        {"EraseFromBOW", ecEraseFromBOW, {}, [](B& b) { b.EraseFromBOW(); }},
        {"EraseFromBOL", ecEraseFromBOL, {}, [](B& b) { b.EraseFromBOL(); }},
        {"EraseLine", ecEraseLine, {}, [](B& b) { b.EraseLine(); }},
        {"EraseScreen", ecEraseScreen, {}, [](B& b) { b.EraseScreen(); }},
        {"EraseToEOL", ecEraseToEOL, {}, [](B& b) { b.EraseToEOL(); }},
        {"EraseToEOW", ecEraseToEOW, {}, [](B& b) { b.EraseToEOW(); }},
        {"SetHorzTabStop", ecSetHorzTabStop, {}, [](B& b) { b.SetHorzTabStop(); }},
        {"ClearHorzTabStop", ecClearHorzTabStop, {}, [](B& b) { b.ClearHorzTabStop(); }},
        {"ClearVertTabStop", ecClearVertTabStop, {}, [](B& b) { b.ClearVertTabStop(); }},
        {"ClearAllHorzTabStops", ecClearAllHorzTabStops, {}, [](B& b) { b.ClearAllHorzTabStops(); }},
        {"SetVertTabStop", ecSetVertTabStop, {}, [](B& b) { b.SetVertTabStop(); }},
        {"ClearAllVertTabStops", ecClearAllVertTabStops, {}, [](B& b) { b.ClearAllVertTabStops(); }},
        {"SetScrollRegion", ecSetScrollRegion, {{"Top", "5"}, {"Bottom", "9"}}, [](B& b) { b.SetScrollRegion(5, 9); }},
        {"SetScrollRegionDefaults", ecSetScrollRegion, {}, [](B& b) { b.SetScrollRegion(1, 1); }},
        {"TabVert", ecTabVert, {}, [](B& b) { b.TabVert(); }},
        {"BackTabVert", ecBackTabVert, {}, [](B& b) { b.BackTabVert(); }},
        {"AbsAddress", ecAbsAddress, {}, [](B& b) { b.SetAbsAddress(true); }},
        {"NoAbsAddress", ecNoAbsAddress, {}, [](B& b) { b.SetAbsAddress(false); }},
        {"AutoWrap", ecAutoWrap, {}, [](B& b) { b.SetAutoWrap(true); }},
        {"NoAutoWrap", ecNoAutoWrap, {}, [](B& b) { b.SetAutoWrap(false); }},
        {"AutoWrapDelay", ecAutoWrapDelay, {}, [](B& b) { b.SetAutoWrapDelay(true); }},
        {"NoAutoWrapDelay", ecNoAutoWrapDelay, {}, [](B& b) { b.SetAutoWrapDelay(false); }},
        {"InsertMode", ecInsertMode, {}, [](B& b) { b.SetInsertMode(true); }},
        {"NoInsertMode", ecNoInsertMode, {}, [](B& b) { b.SetInsertMode(false); }},
        {"NewLineMode", ecNewLineMode, {}, [](B& b) { b.SetNewLineMode(true); }},
        {"NoNewLineMode", ecNoNewLineMode, {}, [](B& b) { b.SetNewLineMode(false); }},
        {"ScrollRegion", ecScrollRegion, {}, [](B& b) { b.SetScrollRegionActive(true); }},
        {"NoScrollRegion", ecNoScrollRegion, {}, [](B& b) { b.SetScrollRegionActive(false); }},
        {"Reset", ecReset, {}, [](B& b) { b.Reset(); }},
    };
}

class TtyBufferCommands : public ::testing::TestWithParam<BufferCase> {};

TEST_P(TtyBufferCommands, DoWhatTheirBufferOperationDoes) {
    const BufferCase& c = GetParam();
    for (const bool modes : {false, true}) {
        Fixture commanded;
        Fixture direct;
        Prepare(commanded.Buf(), modes);
        Prepare(direct.Buf(), modes);
        if (c.params.empty()) {
            commanded.tty.ExecuteCommand(c.command, nullptr);
        } else {
            Exec(commanded, c.command, c.params);
        }
        c.operation(direct.Buf());
        EXPECT_EQ(FirstDifference(State(commanded.Buf()), State(direct.Buf())), "") << "modes " << modes;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TtyBufferCommands, ::testing::ValuesIn(BufferCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hydrix::terminal
