// The plain teletype emulator, built into every terminal: received bytes from 0x20 up
// are printed, BEL, BS, TAB, LF and CR act, other control bytes are ignored. It owns the
// terminal buffer and paints it on the canvas it is given, in runs of equal colours.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "terminal/emulator_terminal.h"
#include "terminal/terminal_emulator.h"

namespace hydrix::terminal {

class Canvas;
class TerminalBuffer;

class TTYEmulator : public TerminalEmulator {
public:
    TTYEmulator();
    ~TTYEmulator() override;

    // The control byte's command: BEL, BS, TAB, LF and CR act, the rest are ecNone.
    static EmuCommand MapControlChar(uint8_t ch);

    bool NeedsUpdate() override;
    void ClearScreen() override;
    void ClearAll() override;
    // Backspace becomes DEL (in the caller's variable too), then it is transmitted.
    void KeyPress(uint8_t& ch) override;
    // Paints what the buffer reports as changed (everything after a colour change).
    void LazyPaint(Canvas& canvas, const ViewGeometry& view) override;
    // Paints the cells under the canvas's clip rectangle.
    void Paint(Canvas& canvas, const ViewGeometry& view) override;
    // Printable runs go into the buffer whole; with an OnProcessChar handler, or with
    // per-byte writes on, every byte is taken on its own.
    void ProcessBlock(const uint8_t* data, int length, CharSource source) override;
    // Writes each printable byte with its own WriteChar: the reference that the run
    // writes must match cell for cell.
    void SetPerByteWrites(bool on) { perByteWrites_ = on; }

    bool RepaintAll() const { return repaintAll_; }

private:
    struct PaintRun {
        int firstCol;
        int lastCol;
        uint32_t fore;
        uint32_t back;
        uint8_t attrs;
    };

    // The buffer's cursor moves: the view follows, the scroll bars learn whether the
    // cursor left the shown area, and the terminal's OnCursorMoved is raised.
    void CursorMoved(TerminalBuffer& sender, int row, int col) override;
    void ProcessChar(uint8_t ch);
    void SyncColors();
    void PaintRow(const ViewGeometry& view, Canvas& canvas, int row, int fromCol, int toCol);
    void DrawRun(const ViewGeometry& view, Canvas& canvas, const PaintRun& run, int row);
    void PrepareLine(int cols);

    std::unique_ptr<TerminalBuffer> ownBuffer_;
    // Per-character advances handed to the canvas, and the characters of one run
    // (NUL-terminated). Both start at 255 columns and grow with a wider buffer.
    std::vector<int> advances_;
    std::vector<char> textLine_;
    int advanceWidth_ = -1;  // the width the advances hold
    // Reused between rows, so painting allocates nothing in the steady state.
    std::vector<PaintRun> runs_;
    bool repaintAll_ = false;
    bool perByteWrites_ = false;
    std::string replaceWith_;
};

}  // namespace hydrix::terminal
