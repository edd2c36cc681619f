// What a terminal buffer tells the one that shows it: changed cells, cursor moves and
// row scrolls, all through this one interface. The emulator that owns the buffer listens
// and passes on what its terminal needs; the buffer itself knows no window.
#pragma once

namespace hydrix::terminal {

class TerminalBuffer;

class BufferObserver {
public:
    virtual ~BufferObserver() = default;

    // Cells were marked for repainting while none were queued; TakeInvalidRect takes
    // everything marked since, so one report stands for the whole batch.
    virtual void Damaged(TerminalBuffer& sender) = 0;
    // The cursor moved (cursor coordinates). Reported again by every operation that
    // places the cursor until TakeCursorMoved takes the flag.
    virtual void CursorMoved(TerminalBuffer& sender, int row, int col) = 0;
    // Rows top..bottom (screen rows) moved up by count, or down by -count.
    virtual void RowsScrolled(TerminalBuffer& /*sender*/, int /*count*/, int /*top*/, int /*bottom*/) {}
};

}  // namespace hydrix::terminal
