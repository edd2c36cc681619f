// Text the mouse selects on the terminal, marked with the selected attribute in the
// buffer (the emulator paints it inverted), copied to the clipboard as text; and
// clipboard text pasted to the screen and the port. Owned by the terminal control.
#pragma once

#include <functional>
#include <string>

namespace hydrix::terminal {

class TerminalBuffer;
class TerminalHost;
class TerminalPort;
class TerminalViewport;

class TerminalSelection {
public:
    // Screen coordinates, inclusive, start before end in reading order; all 0: none.
    struct Range {
        int StartCol = 0;
        int StartRow = 0;
        int EndCol = 0;
        int EndRow = 0;
    };

    explicit TerminalSelection(TerminalViewport& view) : view_(view) {}

    void SetHost(TerminalHost* host) { host_ = host; }
    void SetBuffer(TerminalBuffer* buffer) { buffer_ = buffer; }

    // Settings. Switching MouseSelect stops a drag; switching it off clears the selection.
    bool MouseSelect() const { return mouseSelect_; }
    void SetMouseSelect(bool value);
    bool AutoCopy() const { return autoCopy_; }
    void SetAutoCopy(bool value) { autoCopy_ = value; }
    bool PasteToPort() const { return pasteToPort_; }
    void SetPasteToPort(bool value) { pasteToPort_ = value; }
    bool PasteToScreen() const { return pasteToScreen_; }
    void SetPasteToScreen(bool value) { pasteToScreen_ = value; }

    // The left button at client pixel (x, y): pressed (takes the focus and starts a
    // drag), moved while held, released (copies with AutoCopy).
    void Press(int x, int y);
    void Drag(int x, int y);
    void Release();
    // WM_CANCELMODE: the selection goes and the drag ends.
    void Cancel();
    // Takes the marks back and repaints their rows; nothing without a selection.
    void Clear();

    // A drag has marked text / the left button is held since a press.
    bool HasSelection() const { return hasSelection_; }
    bool Selecting() const { return selecting_; }
    Range Get() const { return range_; }

    // Full-width rows of the selection, each ended by CR LF, to the clipboard.
    void Copy();
    // The clipboard text to the screen (display, as written text) with PasteToScreen and
    // to port (when there is one) with PasteToPort; with both, character by character.
    void Paste(const std::function<void(const std::string&)>& display, TerminalPort* port);

private:
    void Extend(int x, int y);
    void Mark(const Range& next);

    TerminalViewport& view_;
    TerminalHost* host_ = nullptr;
    TerminalBuffer* buffer_ = nullptr;
    bool mouseSelect_ = true;
    bool autoCopy_ = true;
    bool pasteToPort_ = false;
    bool pasteToScreen_ = false;
    bool hasSelection_ = false;
    bool selecting_ = false;
    int anchorCol_ = 0;
    int anchorRow_ = 0;
    Range range_;
};

}  // namespace hydrix::terminal
