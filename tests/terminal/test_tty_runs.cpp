// Printable runs written whole against the byte-at-a-time reference: generated streams of
// text, control bytes and changes of colours, attributes, modes, cursor and scroll region
// go through both, the run side in random blocks, and every cell of every plane, the
// cursor and what the buffer reports must come out the same at every checkpoint.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "terminal/buffer_observer.h"
#include "terminal/terminal_buffer.h"
#include "terminal/tty_emulator.h"
#include "terminal/tty_emulator_fixture.h"

namespace hydrix::terminal {
namespace {

struct Geometry {
    int cols;
    int rows;
    int svRows;
};

// Bytes to feed, or a change made on the buffer between blocks.
struct Step {
    std::string bytes;
    std::function<void(TerminalBuffer&)> change;
    std::string what;
    bool checkpoint = false;
};

class StreamMaker {
public:
    StreamMaker(unsigned seed, bool controls) : rng_(seed), controls_(controls) {
        static constexpr std::array kCols{2, 7, 10, 33, 80, 300};
        static constexpr std::array kRows{2, 3, 5, 24};
        geometry_.cols = OneOf(kCols);
        geometry_.rows = OneOf(kRows);
        geometry_.svRows = geometry_.rows + Pick(0, 20);
    }

    Geometry Shape() const { return geometry_; }

    std::vector<Step> Make(int count) {
        std::vector<Step> steps;
        for (int i = 0; i < count; ++i) {
            Step step = Pick(0, 2) == 0 ? Change() : Step{Bytes(), nullptr, "bytes"};
            step.checkpoint = i + 1 == count || Pick(0, 4) == 0;
            steps.push_back(std::move(step));
        }
        return steps;
    }

private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    bool Coin() { return Pick(0, 1) == 1; }
    template <typename T, size_t N>
    const T& OneOf(const std::array<T, N>& items) {
        return items[static_cast<size_t>(Pick(0, static_cast<int>(N) - 1))];
    }

    std::string Printable(int n) {
        std::string text;
        for (int i = 0; i < n; ++i) {
            text.push_back(static_cast<char>(Pick(0x20, 0xFF)));
        }
        return text;
    }

    // Lengths around the row width, where wraps and the delayed wrap happen.
    int RunLength() {
        const int cols = geometry_.cols;
        switch (Pick(0, 5)) {
        case 0:
            return cols - 1 > 0 ? cols - 1 : 1;
        case 1:
            return cols;
        case 2:
            return cols + 1;
        case 3:
            return 2 * cols + Pick(0, 5);
        case 4:
            return Pick(200, 400);
        default:
            return Pick(1, 12);
        }
    }

    std::string Bytes() {
        std::string bytes;
        const int pieces = Pick(1, 8);
        for (int i = 0; i < pieces; ++i) {
            const int kind = controls_ ? Pick(0, 9) : 0;
            switch (kind) {
            case 4:
                bytes += "\r\n";
                break;
            case 5:
                bytes += Coin() ? "\n" : "\n\r";
                break;
            case 6:
                bytes += "\r";
                break;
            case 7:
                bytes.append(static_cast<size_t>(Pick(1, 3)), '\t');
                break;
            case 8:
                bytes.append(static_cast<size_t>(Pick(1, 3)), '\b');
                break;
            case 9: {
                static constexpr std::array<char, 7> kIgnoredOrBell{'\a', '\0', '\x1b', '\x0b', '\x0c', '\x01', '\x1f'};
                bytes.push_back(OneOf(kIgnoredOrBell));
                break;
            }
            default:
                bytes += Printable(RunLength());
                break;
            }
        }
        return bytes;
    }

    Step Change() {
        const int rows = geometry_.rows;
        const int cols = geometry_.cols;
        const int value = Pick(0, 0xFFFFFF);
        const bool on = Coin();
        switch (Pick(0, 10)) {
        case 0:
            return {
                {}, [value](TerminalBuffer& b) { b.SetCharAttrs(static_cast<CharAttrSet>(value & 0x7F)); }, "attrs"};
        case 1:
            return {{}, [value](TerminalBuffer& b) { b.SetForeColor(static_cast<uint32_t>(value)); }, "fore colour"};
        case 2:
            return {{}, [value](TerminalBuffer& b) { b.SetBackColor(static_cast<uint32_t>(value)); }, "back colour"};
        case 3:
            return {{}, [value](TerminalBuffer& b) { b.SetCharSet(static_cast<uint8_t>(value)); }, "character set"};
        case 4: {
            const int top = Pick(1, rows);
            const int bottom = Pick(1, rows);
            return {{}, [top, bottom](TerminalBuffer& b) { b.SetScrollRegion(top, bottom); }, "scroll region"};
        }
        case 5:
        case 6:
        case 7:
        case 8: {
            struct Mode {
                void (TerminalBuffer::*set)(bool);
                const char* name;
            };
            static constexpr std::array<Mode, 6> kModes{{{&TerminalBuffer::SetScrollRegionActive, "region active"},
                                                         {&TerminalBuffer::SetInsertMode, "insert mode"},
                                                         {&TerminalBuffer::SetAutoWrap, "auto-wrap"},
                                                         {&TerminalBuffer::SetAutoWrapDelay, "wrap delay"},
                                                         {&TerminalBuffer::SetNewLineMode, "new-line mode"},
                                                         {&TerminalBuffer::SetAbsAddress, "absolute addressing"}}};
            const Mode mode = OneOf(kModes);
            return {{}, [mode, on](TerminalBuffer& b) { (b.*mode.set)(on); }, mode.name};
        }
        case 9: {
            // Rows from the scrollback to below the screen, columns past both edges.
            const int row = Pick(-3, rows + 2);
            const int col = Pick(0, cols + 1);
            return {{}, [row, col](TerminalBuffer& b) { b.CursorPos(row, col); }, "cursor position"};
        }
        default:
            return {{},
                    [on](TerminalBuffer& b) {
                        if (on) {
                            b.SetHorzTabStop();
                        } else {
                            b.ClearAllHorzTabStops();
                        }
                    },
                    "tab stops"};
        }
    }

    std::mt19937 rng_;
    bool controls_;
    Geometry geometry_{};
};

// Everything the two ways of writing must agree on, taken at a checkpoint.
struct Snapshot {
    std::vector<std::array<uint32_t, 5>> cells;  // chars, sets, attrs, fore, back; oldest row first
    int cols = 0;
    int cursorRow = 0;
    int cursorCol = 0;
    bool wrapPending = false;
    bool hasRect = false;
    CellRect rect;
    bool cursorMoved = false;
    std::pair<int, int> lastReported{0, 0};
    int beeps = 0;
};

// Takes the queued rectangle and the cursor flag, as a painter would.
Snapshot Capture(TerminalBuffer& b, std::pair<int, int> lastReported, int beeps) {
    Snapshot s;
    s.cols = b.ColCount();
    for (int row = b.RowCount() - b.SVRowCount() + 1; row <= b.RowCount(); ++row) {
        const uint8_t* chars = b.RowChars(row);
        const uint16_t* wide = b.RowWideChars(row);
        for (int col = 0; col < b.ColCount(); ++col) {
            const uint32_t ch = wide != nullptr ? wide[col] : chars[col];
            s.cells.push_back({ch, b.RowCharSets(row)[col], b.RowAttrs(row)[col], b.RowForeColors(row)[col],
                               b.RowBackColors(row)[col]});
        }
    }
    s.cursorRow = b.CursorRow();
    s.cursorCol = b.CursorCol();
    s.wrapPending = b.WrapPending();
    s.hasRect = b.TakeInvalidRect(s.rect);
    s.cursorMoved = b.TakeCursorMoved();
    s.lastReported = lastReported;
    s.beeps = beeps;
    return s;
}

std::string Difference(const Snapshot& want, const Snapshot& got) {
    std::ostringstream out;
    static constexpr std::array kPlanes{"char", "character set", "attrs", "fore colour", "back colour"};
    for (size_t i = 0; i < want.cells.size() && i < got.cells.size(); ++i) {
        for (size_t plane = 0; plane < kPlanes.size(); ++plane) {
            if (want.cells[i][plane] != got.cells[i][plane]) {
                out << kPlanes[plane] << " at buffer row " << i / static_cast<size_t>(want.cols) << ", column "
                    << i % static_cast<size_t>(want.cols) + 1 << ": want " << want.cells[i][plane] << ", got "
                    << got.cells[i][plane];
                return out.str();
            }
        }
    }
    if (want.cells.size() != got.cells.size()) {
        return "buffer shapes differ";
    }
    if (want.cursorRow != got.cursorRow || want.cursorCol != got.cursorCol || want.wrapPending != got.wrapPending) {
        out << "cursor: want (" << want.cursorRow << "," << want.cursorCol << ") pending " << want.wrapPending
            << ", got (" << got.cursorRow << "," << got.cursorCol << ") pending " << got.wrapPending;
        return out.str();
    }
    if (want.hasRect != got.hasRect || (want.hasRect && !(want.rect == got.rect))) {
        out << "invalid rectangle: want " << want.hasRect << " (" << want.rect.Left << "," << want.rect.Top << ","
            << want.rect.Right << "," << want.rect.Bottom << "), got " << got.hasRect << " (" << got.rect.Left << ","
            << got.rect.Top << "," << got.rect.Right << "," << got.rect.Bottom << ")";
        return out.str();
    }
    if (want.cursorMoved != got.cursorMoved || want.lastReported != got.lastReported) {
        out << "cursor report: want moved " << want.cursorMoved << " last (" << want.lastReported.first << ","
            << want.lastReported.second << "), got moved " << got.cursorMoved << " last (" << got.lastReported.first
            << "," << got.lastReported.second << ")";
        return out.str();
    }
    if (want.beeps != got.beeps) {
        out << "beeps: want " << want.beeps << ", got " << got.beeps;
        return out.str();
    }
    return "";
}

std::string FirstDifference(const std::vector<Snapshot>& want, const std::vector<Snapshot>& got) {
    for (size_t i = 0; i < want.size() && i < got.size(); ++i) {
        std::string diff = Difference(want[i], got[i]);
        if (!diff.empty()) {
            return "checkpoint " + std::to_string(i) + ": " + diff;
        }
    }
    return want.size() == got.size() ? "" : "checkpoint counts differ";
}

void Shape(TerminalBuffer& b, const Geometry& g) {
    b.tbSetSVRowCount(g.svRows);
    b.tbSetColCount(g.cols);
    b.tbSetRowCount(g.rows);
}

// Cuts bytes into blocks of 1 to 64 and hands each to feed; nullptr feeds them whole.
void FeedInBlocks(const std::string& bytes, std::mt19937* split, const std::function<void(const std::string&)>& feed) {
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t n = split == nullptr ? bytes.size() : std::uniform_int_distribution<size_t>(1, 64)(*split);
        feed(bytes.substr(pos, n));
        pos += n;
    }
}

// The stream through a bound TTY emulator; split == nullptr is the per-byte reference.
std::vector<Snapshot> RunEmulator(const std::vector<Step>& stream, const Geometry& g, std::mt19937* split) {
    test::Fixture f;
    f.tty.SetPerByteWrites(split == nullptr);
    Shape(f.Buf(), g);
    std::vector<Snapshot> snapshots;
    for (const Step& step : stream) {
        if (step.change) {
            step.change(f.Buf());
        } else {
            FeedInBlocks(step.bytes, split, [&](const std::string& block) { f.Feed(block); });
        }
        if (step.checkpoint) {
            const auto last = f.term.moves.empty() ? std::pair<int, int>{0, 0} : f.term.moves.back();
            f.term.moves.clear();
            snapshots.push_back(Capture(f.Buf(), last, f.counter->beeps));
        }
    }
    return snapshots;
}

// The stream straight into a buffer of two-byte cells: printable runs with WriteRun, or
// byte by byte with WriteChar when split == nullptr.
std::vector<Snapshot> RunWideBuffer(const std::vector<Step>& stream, const Geometry& g, std::mt19937* split) {
    TerminalBuffer b(true);
    Shape(b, g);
    // The last cursor position the buffer reported.
    struct LastMove : BufferObserver {
        std::pair<int, int> last{0, 0};
        void Damaged(TerminalBuffer&) override {}
        void CursorMoved(TerminalBuffer&, int row, int col) override { last = {row, col}; }
    } moves;
    b.SetObserver(&moves);
    std::pair<int, int>& last = moves.last;
    std::vector<Snapshot> snapshots;
    for (const Step& step : stream) {
        if (step.change) {
            step.change(b);
        } else {
            FeedInBlocks(step.bytes, split, [&](const std::string& block) {
                const auto* data = reinterpret_cast<const uint8_t*>(block.data());
                if (split != nullptr) {
                    b.WriteRun(data, static_cast<int>(block.size()));
                    return;
                }
                for (const uint8_t ch : block) {
                    b.WriteChar(ch);
                }
            });
        }
        if (step.checkpoint) {
            snapshots.push_back(Capture(b, std::exchange(last, {0, 0}), 0));
        }
    }
    return snapshots;
}

using Runner = std::vector<Snapshot> (*)(const std::vector<Step>&, const Geometry&, std::mt19937*);

// Each seed's stream through the reference once and through the run path in two splits.
std::string CompareStreams(unsigned firstSeed, unsigned count, bool controls, Runner run) {
    for (unsigned seed = firstSeed; seed < firstSeed + count; ++seed) {
        StreamMaker maker(seed, controls);
        const std::vector<Step> stream = maker.Make(40);
        const std::vector<Snapshot> want = run(stream, maker.Shape(), nullptr);
        for (unsigned splitSeed : {2 * seed, 2 * seed + 1}) {
            std::mt19937 split(splitSeed);
            const std::string diff = FirstDifference(want, run(stream, maker.Shape(), &split));
            if (!diff.empty()) {
                return "seed " + std::to_string(seed) + ", split " + std::to_string(splitSeed) + ": " + diff;
            }
        }
    }
    return "";
}

TEST(TtyRunWrites, MatchPerByteWritesCellForCell) {
    EXPECT_EQ(CompareStreams(1, 400, true, RunEmulator), "");
}

TEST(TtyRunWrites, WideCellsMatchWriteChar) {
    EXPECT_EQ(CompareStreams(1001, 100, false, RunWideBuffer), "");
}

}  // namespace
}  // namespace hydrix::terminal
