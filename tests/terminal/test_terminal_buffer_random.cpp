// Drives the ring-stored planes and a plain row-moving reference with the same random
// operations and compares every cell of every plane.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "terminal/terminal_buffer.h"

namespace hydrix::terminal {
namespace {

// The straightforward storage: every scroll moves rows.
class RefArray {
public:
    explicit RefArray(int itemSize) : mask_(itemSize == 1 ? 0xFFu : itemSize == 2 ? 0xFFFFu : 0xFFFFFFFFu) {}

    void SetDefaultItem(uint32_t v) { fill_ = v & mask_; }
    int Rows() const { return static_cast<int>(rows_.size()); }
    int Cols() const { return cols_; }
    uint32_t At(int r, int c) const { return rows_[static_cast<size_t>(r)][static_cast<size_t>(c)]; }
    void Set(int r, int c, uint32_t v) { rows_[static_cast<size_t>(r)][static_cast<size_t>(c)] = v & mask_; }

    void SetColCount(int n) {
        for (auto& row : rows_) {
            row.resize(static_cast<size_t>(n), fill_);
        }
        cols_ = n;
    }
    void SetRowCount(int n) {
        std::vector<std::vector<uint32_t>> rows(static_cast<size_t>(n), Blank());
        for (int i = 1; i <= std::min(n, Rows()); ++i) {
            rows[static_cast<size_t>(n - i)] = rows_[rows_.size() - i];
        }
        rows_ = std::move(rows);
    }
    void Clear() {
        for (auto& row : rows_) {
            row = Blank();
        }
    }
    void ClearItems(int r, int from, int to) {
        for (int c = std::max(from, 0); c <= std::min(to, cols_ - 1); ++c) {
            Set(r, c, fill_);
        }
    }
    void InsertItems(int n, int r, int col) {
        auto& row = rows_[static_cast<size_t>(r)];
        n = std::min(n, cols_ - col);
        if (n <= 0) {
            return;
        }
        row.insert(row.begin() + col, static_cast<size_t>(n), fill_);
        row.resize(static_cast<size_t>(cols_));
    }
    void DeleteItems(int n, int r, int col) {
        auto& row = rows_[static_cast<size_t>(r)];
        n = std::min(n, cols_ - col);
        if (n <= 0) {
            return;
        }
        row.erase(row.begin() + col, row.begin() + col + n);
        row.resize(static_cast<size_t>(cols_), fill_);
    }
    void ReplaceItem(uint32_t from, uint32_t to) {
        for (auto& row : rows_) {
            std::replace(row.begin(), row.end(), from & mask_, to & mask_);
        }
    }
    void ScrollRows(int count, int start, int end) {
        if (count == 0 || rows_.empty()) {
            return;
        }
        if (start > end) {
            std::swap(start, end);
        }
        int span = end - start;
        int k = std::abs(count);
        if (span < k) {
            for (int r = start; r <= end; ++r) {
                rows_[static_cast<size_t>(r)] = Blank();
            }
        } else if (count > 0) {
            for (int i = 0; i <= span - k; ++i) {
                rows_[static_cast<size_t>(start + i)] = rows_[static_cast<size_t>(start + i + k)];
            }
            for (int r = end - k + 1; r <= end; ++r) {
                rows_[static_cast<size_t>(r)] = Blank();
            }
        } else {
            for (int i = 0; i <= span - k; ++i) {
                rows_[static_cast<size_t>(end - i)] = rows_[static_cast<size_t>(end - i - k)];
            }
            for (int r = start; r < start + k; ++r) {
                rows_[static_cast<size_t>(r)] = Blank();
            }
        }
    }

private:
    std::vector<uint32_t> Blank() const { return std::vector<uint32_t>(static_cast<size_t>(cols_), fill_); }

    uint32_t mask_;
    uint32_t fill_ = 0;
    int cols_ = 0;
    std::vector<std::vector<uint32_t>> rows_;
};

std::string CompareArrays(const TerminalArray& a, const RefArray& ref) {
    if (a.RowCount() != ref.Rows() || a.ColCount() != ref.Cols()) {
        return "shape differs";
    }
    for (int r = 0; r < ref.Rows(); ++r) {
        for (int c = 0; c < ref.Cols(); ++c) {
            if (a.Item(r, c) != ref.At(r, c)) {
                std::ostringstream s;
                s << "item (" << r << "," << c << "): " << a.Item(r, c) << " != " << ref.At(r, c);
                return s.str();
            }
        }
    }
    return "";
}

TEST(TerminalArrayRandom, MatchesRowMovingReference) {
    for (int itemSize : {1, 2, 4}) {
        std::mt19937 rng(1234 + itemSize);
        auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        TerminalArray a(itemSize);
        RefArray ref(itemSize);
        a.SetColCount(7);
        ref.SetColCount(7);
        a.SetRowCount(12);
        ref.SetRowCount(12);
        for (int step = 0; step < 8000; ++step) {
            int rows = ref.Rows(), cols = ref.Cols();
            int op = rnd(0, 11);
            switch (op) {
            case 0:
            case 1:
            case 2: {  // whole-array scrolls, where the ring turns
                int n = rnd(-rows - 1, rows + 1);
                a.ScrollRows(n, 0, rows - 1);
                ref.ScrollRows(n, 0, rows - 1);
                break;
            }
            case 3: {
                int s = rnd(0, rows - 1), e = rnd(0, rows - 1), n = rnd(-rows, rows);
                a.ScrollRows(n, s, e);
                ref.ScrollRows(n, s, e);
                break;
            }
            case 4: {
                uint32_t v = static_cast<uint32_t>(rng());
                a.SetDefaultItem(v);
                ref.SetDefaultItem(v);
                break;
            }
            case 5: {
                int r = rnd(0, rows - 1), c = rnd(0, cols - 1);
                uint32_t v = static_cast<uint32_t>(rnd(0, 5));
                a.WriteItems(&v, 1, c, r);
                ref.Set(r, c, itemSize == 2 ? (v & 0xFFFF) : v);
                break;
            }
            case 6: {
                int r = rnd(0, rows - 1), from = rnd(0, cols - 1), to = rnd(0, cols - 1);
                a.ClearItems(r, from, to);
                ref.ClearItems(r, from, to);
                break;
            }
            case 7: {
                int r = rnd(0, rows - 1), c = rnd(0, cols - 1), n = rnd(1, cols);
                a.InsertItems(n, r, c);
                ref.InsertItems(n, r, c);
                break;
            }
            case 8: {
                int r = rnd(0, rows - 1), c = rnd(0, cols - 1), n = rnd(1, cols);
                a.DeleteItems(n, r, c);
                ref.DeleteItems(n, r, c);
                break;
            }
            case 9: {
                uint32_t from = static_cast<uint32_t>(rnd(0, 5)), to = static_cast<uint32_t>(rnd(0, 5));
                a.ReplaceItem(from, to);
                ref.ReplaceItem(from, to);
                break;
            }
            case 10: {
                int n = rnd(1, 20);
                a.SetRowCount(n);
                ref.SetRowCount(n);
                break;
            }
            default: {
                int n = rnd(1, 13);
                a.SetColCount(n);
                ref.SetColCount(n);
                break;
            }
            }
            std::string diff = CompareArrays(a, ref);
            ASSERT_EQ(diff, "") << "item size " << itemSize << ", step " << step << ", op " << op;
        }
    }
}

// A plain model of the buffer's row storage and cursor for the operations the
// terminal uses (absolute addressing, auto-wrap with delay).
struct RefBuffer {
    int cols = 80, rows = 24, sv = 200;
    int row = 176, col = 0;
    bool pending = false, sra = false;
    int sTop = 1, sBottom = 24;
    uint32_t fore = 0xC0C0C0, back = 0, defFore = 0xC0C0C0, defBack = 0;
    uint8_t attrs = 0, charSet = 0;
    RefArray planes[5] = {RefArray(1), RefArray(1), RefArray(1), RefArray(4), RefArray(4)};

    RefBuffer() {
        planes[0].SetDefaultItem(' ');
        planes[3].SetDefaultItem(fore);
        for (auto& p : planes) {
            p.SetColCount(cols);
            p.SetRowCount(sv);
        }
    }
    int ScreenTop() const { return sv - rows; }
    int Top() const { return sra ? ScreenTop() + sTop - 1 : ScreenTop(); }
    int Bottom() const { return sra ? ScreenTop() + sBottom - 1 : sv - 1; }
    void Scroll(int n, int s, int e) {
        for (auto& p : planes) {
            p.ScrollRows(n, s, e);
        }
    }
    void Clear(int r, int from, int to) {
        for (auto& p : planes) {
            p.ClearItems(r, from, to);
        }
    }
    void SetSra(bool on) {
        if (on == sra) {
            return;
        }
        sra = on;
        row = Top();
        col = 0;
    }
    void Right() {
        if (col < cols - 1) {
            ++col;
        } else if (row < Bottom()) {
            ++row;
            col = 0;
        } else {
            Scroll(1, sra ? Top() : 0, Bottom());
            col = 0;
        }
    }
    void Down() {
        if (row < Bottom()) {
            ++row;
        } else {
            Scroll(1, sra ? Top() : 0, Bottom());
        }
    }
    void Up() {
        if (row > Top()) {
            --row;
        } else {
            Scroll(-1, Top(), Bottom());
        }
    }
    void Write(uint8_t ch) {
        if (pending) {
            pending = false;
            Right();
        }
        uint32_t values[5] = {ch, charSet, attrs, fore, back};
        for (int i = 0; i < 5; ++i) {
            planes[i].Set(row, col, values[i]);
        }
        if (col == cols - 1) {
            pending = true;
        } else {
            Right();
        }
    }
};

std::string CompareBuffers(TerminalBuffer& b, const RefBuffer& ref) {
    if (b.ColCount() != ref.cols || b.RowCount() != ref.rows || b.SVRowCount() != ref.sv) {
        return "size differs";
    }
    if (b.CursorRow() != ref.row - ref.ScreenTop() + 1 || b.CursorCol() != ref.col + 1) {
        std::ostringstream s;
        s << "cursor (" << b.CursorRow() << "," << b.CursorCol() << ") != (" << ref.row - ref.ScreenTop() + 1 << ","
          << ref.col + 1 << ")";
        return s.str();
    }
    if (b.ScrollRegionActive() != ref.sra || b.WrapPending() != ref.pending) {
        return "mode differs";
    }
    for (int r = 0; r < ref.sv; ++r) {
        int screenRow = r - ref.ScreenTop() + 1;
        const uint8_t* chars = b.RowChars(screenRow);
        const uint8_t* sets = b.RowCharSets(screenRow);
        const uint8_t* attrs = b.RowAttrs(screenRow);
        const uint32_t* fores = b.RowForeColors(screenRow);
        const uint32_t* backs = b.RowBackColors(screenRow);
        for (int c = 0; c < ref.cols; ++c) {
            uint32_t got[5] = {chars[c], sets[c], attrs[c], fores[c], backs[c]};
            for (int p = 0; p < 5; ++p) {
                if (got[p] != ref.planes[p].At(r, c)) {
                    std::ostringstream s;
                    s << "plane " << p << " row " << screenRow << " col " << c + 1 << ": " << got[p]
                      << " != " << ref.planes[p].At(r, c);
                    return s.str();
                }
            }
        }
    }
    return "";
}

class TerminalBufferRandom : public ::testing::TestWithParam<unsigned> {};

TEST_P(TerminalBufferRandom, MatchesRowMovingReference) {
    std::mt19937 rng(GetParam());
    auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    TerminalBuffer b;
    RefBuffer ref;
    auto sizes = [&](int sv, int rows, int cols) {
        b.tbSetSVRowCount(sv);
        b.tbSetRowCount(rows);
        b.tbSetColCount(cols);
    };
    sizes(30, 8, 12);
    // The reference takes the same three steps.
    ref.rows = 24;
    for (auto& p : ref.planes) {
        p.SetRowCount(30);
    }
    ref.row += 30 - 200;
    ref.sv = 30;
    ref.rows = 8;
    ref.row = std::max(ref.row, ref.ScreenTop());
    for (auto& p : ref.planes) {
        p.SetColCount(12);
    }
    ref.cols = 12;
    ref.row = ref.ScreenTop();
    ref.col = 0;
    ref.sBottom = 8;
    ASSERT_EQ(CompareBuffers(b, ref), "");

    for (int step = 0; step < 6000; ++step) {
        int op = rnd(0, 24);
        switch (op) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4: {
            uint8_t ch = static_cast<uint8_t>(rnd(33, 126));
            b.WriteChar(ch);
            ref.Write(ch);
            break;
        }
        case 5: {  // a line of text, often longer than the row
            int n = rnd(1, 3 * ref.cols);
            for (int i = 0; i < n; ++i) {
                uint8_t ch = static_cast<uint8_t>('a' + i % 26);
                b.WriteChar(ch);
                ref.Write(ch);
            }
            break;
        }
        case 6:
            b.CarriageReturn();
            ref.pending = false;
            ref.col = 0;
            break;
        case 7:
        case 8:
            b.LineFeed();
            ref.pending = false;
            ref.Down();
            break;
        case 9:
            b.Backspace();
            ref.pending = false;
            if (ref.col > 0) {
                --ref.col;
            }
            break;
        case 10: {
            int r = rnd(-ref.sv, ref.rows + 2), c = rnd(0, ref.cols + 2);
            b.CursorPos(r, c);
            ref.pending = false;
            ref.row = std::clamp(r + ref.ScreenTop() - 1, 0, ref.sv - 1);
            ref.col = std::clamp(c - 1, 0, ref.cols - 1);
            break;
        }
        case 11: {
            int t = rnd(1, ref.rows), bt = rnd(1, ref.rows);
            b.SetScrollRegion(t, bt);
            ref.pending = false;
            ref.sTop = std::min(t, bt);
            ref.sBottom = std::max(t, bt);
            ref.SetSra(false);
            if (ref.sTop != 1 || ref.sBottom != ref.rows) {
                ref.SetSra(true);
            }
            break;
        }
        case 12:
            b.SetScrollRegionActive(false);
            if (ref.sra) {
                ref.pending = false;
            }
            ref.SetSra(false);
            break;
        case 13:
        case 14: {
            int n = rnd(0, ref.rows + 1);
            ref.pending = false;
            if (op == 13) {
                b.InsertLines(n);
                ref.Scroll(-n, ref.row, ref.Bottom());
            } else {
                b.DeleteLines(n);
                ref.Scroll(n, ref.row, ref.Bottom());
            }
            break;
        }
        case 15: {
            int n = rnd(1, ref.cols + 1), k = std::min(n, ref.cols - ref.col);
            bool insert = rnd(0, 1) == 1;
            insert ? b.InsertChars(n) : b.DeleteChars(n);
            ref.pending = false;
            for (auto& p : ref.planes) {
                insert ? p.InsertItems(k, ref.row, ref.col) : p.DeleteItems(k, ref.row, ref.col);
            }
            break;
        }
        case 16:
            b.EraseScreen();
            ref.pending = false;
            ref.Scroll(ref.rows, 0, ref.sv - 1);
            break;
        case 17: {
            int which = rnd(0, 2);
            ref.pending = false;
            if (which == 0) {
                b.EraseLine();
                ref.Clear(ref.row, 0, ref.cols - 1);
            } else if (which == 1) {
                b.EraseToEOW();
                ref.Clear(ref.row, ref.col, ref.cols - 1);
                if (ref.row < ref.sv - 1) {
                    ref.Scroll(ref.sv - 1 - ref.row, ref.row + 1, ref.sv - 1);
                }
            } else {
                b.EraseFromBOW();
                ref.Clear(ref.row, 0, ref.col);
                if (ref.row > ref.ScreenTop()) {
                    ref.Scroll(ref.row - ref.ScreenTop(), ref.ScreenTop(), ref.row - 1);
                }
            }
            break;
        }
        case 18: {
            bool down = rnd(0, 1) == 1;
            ref.pending = false;
            down ? b.CursorDown(true) : b.CursorUp(true);
            down ? ref.Down() : ref.Up();
            break;
        }
        case 19: {
            uint32_t f = static_cast<uint32_t>(rnd(0, 3)), k = static_cast<uint32_t>(rnd(0, 3));
            uint8_t a = static_cast<uint8_t>(rnd(0, 0x7F)), cs = static_cast<uint8_t>(rnd(0, 2));
            b.SetForeColor(f);
            b.SetBackColor(k);
            b.SetCharAttrs(a);
            b.SetCharSet(cs);
            ref.fore = f, ref.back = k, ref.attrs = a, ref.charSet = cs;
            uint32_t fills[5] = {' ', cs, a, f, k};
            for (int p = 0; p < 5; ++p) {
                ref.planes[p].SetDefaultItem(fills[p]);
            }
            break;
        }
        case 20: {
            uint32_t c = static_cast<uint32_t>(rnd(0, 3));
            if (rnd(0, 1)) {
                b.SetDefaultBackColor(c);
                if (c != ref.defBack) {
                    ref.planes[4].ReplaceItem(ref.defBack, c);
                }
                ref.defBack = c;
            } else {
                b.SetDefaultForeColor(c);
                if (c != ref.defFore) {
                    ref.planes[3].ReplaceItem(ref.defFore, c);
                }
                ref.defFore = c;
            }
            break;
        }
        case 21: {
            int n = rnd(2, 40);
            b.tbSetSVRowCount(n);
            if (n == ref.sv) {
                break;
            }
            int delta = n - ref.sv;
            if (n < ref.rows) {
                ref.rows = n;
                ref.sTop = std::min(ref.sTop, n);
                ref.sBottom = std::min(ref.sBottom, n);
            }
            for (auto& p : ref.planes) {
                p.SetRowCount(n);
            }
            ref.sv = n;
            ref.row = std::clamp(ref.row + delta, 0, n - 1);
            break;
        }
        case 22: {
            int n = rnd(2, 45);
            b.tbSetRowCount(n);
            if (n == ref.rows || n > ref.sv) {
                break;
            }
            if (ref.sra) {
                ref.pending = false;
            }
            ref.SetSra(false);
            ref.rows = n;
            ref.sTop = std::min(ref.sTop, n);
            ref.sBottom = std::min(ref.sBottom, n);
            ref.row = std::max(ref.row, ref.ScreenTop());
            break;
        }
        case 23: {
            int n = rnd(2, 20);
            b.tbSetColCount(n);
            if (n == ref.cols) {
                break;
            }
            for (auto& p : ref.planes) {
                p.SetColCount(n);
            }
            ref.cols = n;
            ref.pending = false;
            ref.sra = false;
            ref.row = ref.ScreenTop();
            ref.col = 0;
            break;
        }
        default:
            b.EraseAll();
            ref.pending = false;
            for (auto& p : ref.planes) {
                p.Clear();
            }
            ref.row = ref.ScreenTop();
            ref.col = 0;
            break;
        }
        std::string diff = CompareBuffers(b, ref);
        ASSERT_EQ(diff, "") << "step " << step << ", op " << op;
        CellRect rect;
        b.TakeInvalidRect(rect);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, TerminalBufferRandom, ::testing::Values(1u, 2u, 20240601u));

}  // namespace
}  // namespace hydrix::terminal
