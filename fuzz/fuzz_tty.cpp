// The TTY emulator with an OnProcessChar handler whose rules come from the input: each
// rule turns one byte into commands with parameters and replacement text, and the rest
// of the input is received in blocks and painted. An input with no rules runs the
// emulator's run writes beside its per-byte writes, which must agree in every cell.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "terminal/canvas.h"
#include "terminal/command_list.h"
#include "terminal/emulator_terminal.h"
#include "terminal/terminal_buffer.h"
#include "terminal/tty_emulator.h"

namespace {

using namespace hydrix::terminal;
using hydrix::fuzz::Check;
using hydrix::fuzz::FuzzInput;

class NullCanvas : public Canvas {
public:
    void FillRect(const PixelRect&, uint32_t) override {}
    void DrawTextRun(int, int, const PixelRect&, const char* text, int n, const int* advances, uint32_t,
                     uint32_t) override {
        Check(n >= 0 && text[n] == '\0', "text runs are terminated");
        int sum = 0;
        for (int i = 0; i < n; ++i) {
            sum += advances[i];
        }
        Check(sum >= 0, "advances are not negative");
    }
    void DrawLine(int, int, int, int, uint32_t) override {}
    void SetClip(const PixelRect& rect) override { clip_ = rect; }
    PixelRect ClipRect() const override { return clip_; }

private:
    PixelRect clip_{0, 0, 640, 384};
};

class SinkPort : public TerminalPort {
public:
    bool Open() const override { return true; }
    void SendChar(uint8_t) override {}
    void SendString(const std::string&) override {}
    const EmulatorTerminal* LinkedTerminal() const override { return linked; }
    const EmulatorTerminal* linked = nullptr;
};

class FuzzTerminal : public EmulatorTerminal {
public:
    uint32_t Color() const override { return color_; }
    void SetColor(uint32_t value) override { color_ = value; }
    uint32_t FontColor() const override { return fontColor_; }
    void SetFontColor(uint32_t value) override { fontColor_ = value; }
    bool HalfDuplex() const override { return halfDuplex; }
    bool UseLazyDisplay() const override { return lazy; }
    bool FollowCursor() const override { return true; }
    bool HideScrollbars() const override { return hideScrollbars; }
    bool FreezeScrollBack() const override { return false; }
    ViewGeometry Geometry() const override { return {8, 16, 1, 1, 80, 24, 80, 24}; }
    bool CursorBeyondWidth() const override { return beyondWidth_; }
    bool CursorBeyondHeight() const override { return beyondHeight_; }
    void SetCursorBeyond(bool width, bool height) override {
        beyondWidth_ = width;
        beyondHeight_ = height;
    }
    void Damaged() override {}
    Canvas& Surface() { return canvas_; }
    TerminalPort* ComPort() override { return &port; }
    void KeepCursorVisible() override {}
    void RefreshScrollBars() override {}
    void CursorMoved(TerminalBuffer*, int, int) override {}
    TerminalEmulator* Emulator() const override { return nullptr; }
    void SetEmulator(TerminalEmulator*) override {}

    bool halfDuplex = false, lazy = true, hideScrollbars = false;
    SinkPort port;

private:
    uint32_t color_ = 0, fontColor_ = 0xC0C0C0;
    bool beyondWidth_ = false, beyondHeight_ = false;
    NullCanvas canvas_;
};

constexpr int kCommandCount = static_cast<int>(EmuCommand::ecDeviceStatusReport) + 1;
const char* const kParamNames[] = {"Row",  "Col",  "Count", "Top",        "Bottom", "Scroll", "Wrap",
                                   "Fore", "Back", "Color", "Persistent", "String", "Type",   ""};
constexpr int kParamNameCount = static_cast<int>(sizeof kParamNames / sizeof kParamNames[0]);
// Parameter texts near the edges the lookups parse: signs, hex, overflow, junk.
const char* const kValues[] = {"0",   "1",          "-1",          "2",          "80",  "81",        "255",
                               "256", "2147483647", "-2147483648", "4294967296", "$FF", "$FFFFFFFF", "$",
                               "+",   "T",          "F",           "",           "x"};
constexpr int kValueCount = static_cast<int>(sizeof kValues / sizeof kValues[0]);

struct Rule {
    struct Command {
        EmuCommand command;
        std::vector<std::pair<std::string, std::string>> params;
    };
    uint8_t trigger = 0;
    std::vector<Command> commands;
    int replace = 0;  // 0 keep, 1 swallow, 2 replace with text
    std::string text;
};

Rule ReadRule(FuzzInput& in) {
    Rule r;
    r.trigger = in.Byte();
    const int commands = in.Pick(4);
    for (int c = 0; c < commands; ++c) {
        Rule::Command cmd{static_cast<EmuCommand>(in.Pick(kCommandCount)), {}};
        const int params = in.Pick(4);
        for (int p = 0; p < params; ++p) {
            std::string name = kParamNames[in.Pick(kParamNameCount)];
            const uint8_t v = in.Byte();
            std::string value = v < 0xC0 ? kValues[v % kValueCount] : in.Run(12);
            cmd.params.emplace_back(std::move(name), std::move(value));
        }
        r.commands.push_back(std::move(cmd));
    }
    r.replace = in.Pick(3);
    if (r.replace == 2) {
        r.text = in.Run(8);
    }
    return r;
}

// Every cell of every plane, the cursor and the pending wrap of the two buffers agree.
void CheckSameCells(TerminalBuffer& a, TerminalBuffer& b) {
    Check(a.CursorRow() == b.CursorRow() && a.CursorCol() == b.CursorCol(), "run writes place the cursor alike");
    Check(a.WrapPending() == b.WrapPending(), "run writes leave the wrap pending alike");
    const int cols = a.ColCount();
    for (int row = a.RowCount() - a.SVRowCount() + 1; row <= a.RowCount(); ++row) {
        const bool same = std::equal(a.RowChars(row), a.RowChars(row) + cols, b.RowChars(row)) &&
                          std::equal(a.RowCharSets(row), a.RowCharSets(row) + cols, b.RowCharSets(row)) &&
                          std::equal(a.RowAttrs(row), a.RowAttrs(row) + cols, b.RowAttrs(row)) &&
                          std::equal(a.RowForeColors(row), a.RowForeColors(row) + cols, b.RowForeColors(row)) &&
                          std::equal(a.RowBackColors(row), a.RowBackColors(row) + cols, b.RowBackColors(row));
        if (!same) {
            std::fprintf(stderr, "row %d differs\n", row);
            Check(false, "run writes fill the cells as per-byte writes do");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    FuzzTerminal term;
    term.halfDuplex = in.Byte() & 1;
    term.lazy = in.Byte() & 1;
    term.port.linked = &term;
    TTYEmulator tty;
    tty.SetBuiltIn(true);
    tty.SetTerminal(&term);
    TerminalBuffer& buf = *tty.Buffer();
    // The reference for an input without rules: the same terminal, one write per byte.
    TTYEmulator perByte;
    perByte.SetBuiltIn(true);
    perByte.SetTerminal(&term);
    perByte.SetPerByteWrites(true);
    const int svRows = 2 + in.Pick(120), rows = 2 + in.Pick(60), cols = 2 + in.Pick(254);
    for (TerminalBuffer* b : {&buf, perByte.Buffer()}) {
        try {
            b->tbSetSVRowCount(svRows);
            b->tbSetRowCount(rows);
            b->tbSetColCount(cols);
        } catch (const std::exception&) {
            // A size the buffer refuses leaves the old one; go on with it.
        }
    }
    std::vector<Rule> rules;
    const int ruleCount = in.Pick(9);
    for (int i = 0; i < ruleCount; ++i) {
        rules.push_back(ReadRule(in));
    }
    const bool compare = rules.empty();
    int depth = 0;
    auto handler = [&](TerminalEmulator*, uint8_t ch, std::string& replaceWith, EmuCommandList& commands, CharSource) {
        Check(depth++ == 0, "OnProcessChar does not re-enter");
        for (const Rule& r : rules) {
            if (r.trigger != ch) {
                continue;
            }
            for (const Rule::Command& c : r.commands) {
                EmuCommandListItem& item = commands.Add(c.command);
                for (const auto& [name, value] : c.params) {
                    item.Params().Add(name, value);
                }
            }
            if (r.replace == 1) {
                replaceWith.clear();
            }
            if (r.replace == 2) {
                replaceWith = r.text;
            }
            break;
        }
        --depth;
    };
    if (!compare) {
        tty.OnProcessChar = handler;
    }
    while (!in.Empty()) {
        const uint8_t control = in.Byte();
        const std::string block = in.Bytes(static_cast<size_t>(control % 64 + 1));
        const auto* bytes = reinterpret_cast<const uint8_t*>(block.data());
        const CharSource source = control & 0x40 ? CharSource::csWriteChar : CharSource::csPort;
        try {
            tty.ProcessBlock(bytes, static_cast<int>(block.size()), source);
            if (compare) {
                perByte.ProcessBlock(bytes, static_cast<int>(block.size()), source);
                CheckSameCells(buf, *perByte.Buffer());
            }
        } catch (const std::exception&) {
            // Commands report bad parameters with exceptions; the terminal must stay usable.
            depth = 0;
        }
        // The cursor may be placed in the scrollback (rows up to 0), never outside the buffer.
        const int row = buf.CursorRow(), col = buf.CursorCol();
        if (row < 1 - buf.SVRowCount() || row > buf.SVRowCount() || col < 1 - buf.ColCount() || col > buf.ColCount()) {
            std::fprintf(stderr, "cursor %d,%d on %dx%d\n", row, col, buf.RowCount(), buf.ColCount());
            Check(false, "cursor within the buffer");
        }
        if (control & 0x80) {
            tty.LazyPaint(term.Surface(), term.Geometry());
        } else if (control & 0x20) {
            tty.Paint(term.Surface(), term.Geometry());
        }
    }
    tty.Paint(term.Surface(), term.Geometry());
    return 0;
}
