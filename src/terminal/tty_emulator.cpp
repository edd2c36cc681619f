#include "terminal/tty_emulator.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "terminal/canvas.h"
#include "terminal/emulator_terminal.h"
#include "terminal/terminal_buffer.h"

namespace hydrix::terminal {

namespace {

constexpr int kTextLineSize = 256;

uint32_t Brighten(uint32_t color) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t part = std::min<uint32_t>(((color >> shift) & 0xFF) + 128, 255);
        out |= part << shift;
    }
    return out;
}

// The number of bytes before the first control byte (below 0x20), or length.
int PrintableRun(const uint8_t* data, int length) {
    int i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Eight bytes at a time: a control byte is one whose top three bits are clear,
        // and the lowest zero byte of the masked word is the first of them.
        constexpr uint64_t kTop3 = 0xE0E0E0E0E0E0E0E0u;
        constexpr uint64_t kLow = 0x0101010101010101u;
        constexpr uint64_t kHigh = 0x8080808080808080u;
        for (; i + 8 <= length; i += 8) {
            uint64_t word;
            std::memcpy(&word, data + i, sizeof word);
            const uint64_t masked = word & kTop3;
            const uint64_t zeros = (masked - kLow) & ~masked & kHigh;
            if (zeros != 0) {
                return i + std::countr_zero(zeros) / 8;
            }
        }
    }
    while (i < length && data[i] >= 0x20) {
        ++i;
    }
    return i;
}

}  // namespace

TTYEmulator::TTYEmulator()
    : ownBuffer_(std::make_unique<TerminalBuffer>(false)),
      advances_(kTextLineSize - 1, 0),
      textLine_(kTextLineSize, '\0') {
    SetBuffer(ownBuffer_.get());
}

TTYEmulator::~TTYEmulator() {
    if (!BuiltIn()) {
        SetTerminal(nullptr);
    }
    ownBuffer_->SetObserver(nullptr);
}

EmuCommand TTYEmulator::MapControlChar(uint8_t ch) {
    switch (ch) {
    case 0x07:
        return EmuCommand::ecBell;
    case 0x08:
        return EmuCommand::ecBackspace;
    case 0x09:
        return EmuCommand::ecTabHorz;
    case 0x0A:
        return EmuCommand::ecLF;
    case 0x0D:
        return EmuCommand::ecCR;
    default:
        return EmuCommand::ecNone;
    }
}

bool TTYEmulator::NeedsUpdate() {
    return Buffer()->HasInvalidRect() || repaintAll_ || Buffer()->TakeCursorMoved();
}

void TTYEmulator::ClearScreen() {
    Buffer()->EraseScreen();
}

void TTYEmulator::ClearAll() {
    Buffer()->EraseAll();
}

void TTYEmulator::KeyPress(uint8_t& ch) {
    if (ch == 0x08) {
        ch = 0x7F;
    }
    TransmitChar(ch, true, CharSource::csKeyboard);
}

void TTYEmulator::ProcessChar(uint8_t ch) {
    if (ch < 0x20) {
        ExecuteCommand(MapControlChar(ch), nullptr);
    } else {
        Buffer()->WriteChar(ch);
    }
}

void TTYEmulator::ProcessBlock(const uint8_t* data, int length, CharSource source) {
    if (!OnProcessChar) {
        // Without a handler every byte stands for itself and the list stays empty.
        Commands().Clear();
        if (perByteWrites_) {
            for (int i = 0; i < length; ++i) {
                ProcessChar(data[i]);
            }
            return;
        }
        for (int i = 0; i < length;) {
            const int run = PrintableRun(data + i, length - i);
            if (run > 0) {
                Buffer()->WriteRun(data + i, run);
                i += run;
            }
            if (i < length) {
                ProcessChar(data[i++]);
            }
        }
        return;
    }
    for (int i = 0; i < length; ++i) {
        const uint8_t b = data[i];
        replaceWith_.assign(1, static_cast<char>(b));
        Commands().Clear();
        // The handler may be replaced while it runs; call a copy.
        const ProcessCharEvent handler = OnProcessChar;
        if (handler) {
            handler(this, b, replaceWith_, Commands(), source);
        }
        ExecuteCommands(Commands());
        // A command may write text of its own; walk a copy of the replacement.
        const std::string replacement = replaceWith_;
        for (char c : replacement) {
            ProcessChar(static_cast<uint8_t>(c));
        }
    }
}

void TTYEmulator::CursorMoved(TerminalBuffer& sender, int row, int col) {
    EmulatorTerminal* t = Terminal();
    if (t == nullptr) {
        return;
    }
    if (t->FollowCursor()) {
        t->KeepCursorVisible();
    }
    t = Terminal();
    if (t != nullptr && t->HideScrollbars()) {
        const ViewGeometry view = t->Geometry();
        const bool beyondHeight = row > view.FullRows;
        const bool beyondWidth = col > view.FullCols;
        const bool changed = beyondHeight != t->CursorBeyondHeight() || beyondWidth != t->CursorBeyondWidth();
        t->SetCursorBeyond(beyondWidth, beyondHeight);
        if (changed) {
            t->RefreshScrollBars();
        }
    }
    t = Terminal();
    if (t != nullptr) {
        t->CursorMoved(&sender, row, col);
    }
}

void TTYEmulator::SyncColors() {
    EmulatorTerminal* t = Terminal();
    TerminalBuffer& b = *Buffer();
    const uint32_t back = t->Color();
    const uint32_t fore = t->FontColor();
    if (back != b.BackColor() || fore != b.ForeColor()) {
        b.SetDefaultBackColor(back);
        b.SetDefaultForeColor(fore);
        b.SetBackColor(back);
        b.SetForeColor(fore);
        repaintAll_ = true;
    }
}

void TTYEmulator::LazyPaint(Canvas& canvas, const ViewGeometry& view) {
    EmulatorTerminal* t = Terminal();
    if (t == nullptr) {
        return;
    }
    SyncColors();
    TerminalBuffer& b = *Buffer();
    CellRect rect;
    if (repaintAll_) {
        repaintAll_ = false;
        for (int row = 1; row <= b.RowCount(); ++row) {
            PaintRow(view, canvas, row, 1, b.ColCount());
        }
        while (b.TakeInvalidRect(rect)) {
        }
        return;
    }
    while (b.TakeInvalidRect(rect)) {
        if (!t->FreezeScrollBack()) {
            const int scrollPos = view.TopRow - 1;
            rect.Top += scrollPos;
            rect.Bottom += scrollPos + 1;
        }
        for (int row = rect.Top; row <= rect.Bottom; ++row) {
            PaintRow(view, canvas, row, rect.Left, rect.Right);
        }
    }
}

void TTYEmulator::Paint(Canvas& canvas, const ViewGeometry& view) {
    EmulatorTerminal* t = Terminal();
    const int cw = view.CharWidth;
    const int ch = view.CharHeight;
    if (t == nullptr || cw <= 0 || ch <= 0) {
        return;
    }
    SyncColors();
    const PixelRect clip = canvas.ClipRect();
    if (clip.right <= clip.left || clip.bottom <= clip.top) {
        return;
    }
    const int firstCol = clip.left / cw + view.LeftCol;
    const int lastCol = view.LeftCol + (clip.right - 1) / cw;
    int firstRow = clip.top / ch + view.TopRow;
    int lastRow = view.TopRow + (clip.bottom - 1) / ch;
    if (!t->FreezeScrollBack()) {
        const int scrollPos = view.TopRow - 1;
        firstRow += scrollPos;
        lastRow += scrollPos + 1;
    }
    for (int row = firstRow; row <= lastRow; ++row) {
        PaintRow(view, canvas, row, firstCol, lastCol);
    }
}

void TTYEmulator::PaintRow(const ViewGeometry& view, Canvas& canvas, int row, int fromCol, int toCol) {
    TerminalBuffer& b = *Buffer();
    const int top = view.TopRow;
    const int left = view.LeftCol;
    const int visCols = view.VisibleCols;
    if (row < top || row >= top + view.VisibleRows || toCol < left || fromCol >= left + visCols) {
        return;
    }
    // Also kept inside the buffer: the view may be wider or taller than its rows.
    fromCol = std::max({fromCol, left, 1});
    toCol = std::min({toCol, left + visCols, b.ColCount()});
    const uint8_t* attrs = b.RowAttrs(row);
    const uint32_t* fores = b.RowForeColors(row);
    const uint32_t* backs = b.RowBackColors(row);
    if (fromCol > toCol || attrs == nullptr || fores == nullptr || backs == nullptr) {
        return;
    }
    runs_.clear();
    for (int col = fromCol; col <= toCol; ++col) {
        const int i = col - 1;
        if (col == fromCol || fores[i] != runs_.back().fore || backs[i] != runs_.back().back ||
            attrs[i] != runs_.back().attrs) {
            runs_.push_back({col, col, fores[i], backs[i], attrs[i]});
        } else {
            runs_.back().lastCol = col;
        }
    }
    for (auto run = runs_.rbegin(); run != runs_.rend(); ++run) {
        DrawRun(view, canvas, *run, row);
    }
}

void TTYEmulator::PrepareLine(int cols) {
    if (static_cast<int>(advances_.size()) < cols) {
        advances_.resize(static_cast<size_t>(cols));
        textLine_.resize(static_cast<size_t>(cols) + 1);
        advanceWidth_ = -1;
    }
}

void TTYEmulator::DrawRun(const ViewGeometry& view, Canvas& canvas, const PaintRun& run, int row) {
    TerminalBuffer& b = *Buffer();
    const int cw = view.CharWidth;
    const int ch = view.CharHeight;
    const int n = run.lastCol - run.firstCol + 1;
    const int y = (row - view.TopRow) * ch;
    const int y2 = y + ch;
    const int x = (run.firstCol - view.LeftCol) * cw;
    const int x2 = x + n * cw;
    PrepareLine(b.ColCount());
    if (advanceWidth_ != cw) {
        std::fill(advances_.begin(), advances_.end(), cw);
        advanceWidth_ = cw;
    }

    uint32_t text = run.fore;
    uint32_t fill = run.back;
    const bool swapped = ((run.attrs & tcaReverse) != 0) != ((run.attrs & tcaSelected) != 0);
    if (swapped) {
        std::swap(text, fill);
    }
    if ((run.attrs & tcaInvisible) != 0) {
        text = fill;
    } else if ((run.attrs & tcaBold) != 0) {
        (swapped ? fill : text) = Brighten(swapped ? fill : text);
    }

    const uint8_t* chars = b.RowChars(row);
    std::copy_n(chars + run.firstCol - 1, n, textLine_.begin());
    textLine_[static_cast<size_t>(n)] = '\0';

    canvas.DrawTextRun(x, y, PixelRect{x, y, x2, y2}, textLine_.data(), n, advances_.data(), text, fill);
    if ((run.attrs & tcaUnderline) != 0) {
        canvas.DrawLine(x, y2 - 2, x2, y2 - 2, text);
    }
    if ((run.attrs & tcaStrikethrough) != 0) {
        const int m = y + (y2 - y) / 2;
        canvas.DrawLine(x, m, x2, m, text);
    }
}

}  // namespace hydrix::terminal
