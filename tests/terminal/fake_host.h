// A widget host for the terminal control and its collaborators: it records what it is
// asked (scroll bars, repaints, caret) and draws on a recording canvas.
#pragma once

#include <utility>
#include <vector>

#include "terminal/recording_canvas.h"
#include "terminal/terminal_host.h"

namespace hydrix::terminal::test {

class FakeHost : public TerminalHost {
public:
    CellSize MeasureFont(const TerminalFont&) override { return cell; }
    void ShowScrollBar(ScrollBarKind bar, bool visible) override {
        (bar == ScrollBarKind::Horizontal ? hShown : vShown) = visible;
        ++showCalls;
    }
    void SetScrollInfo(ScrollBarKind bar, const ScrollInfo& info) override {
        (bar == ScrollBarKind::Horizontal ? hInfo : vInfo).push_back(info);
    }
    void InvalidateRect(const PixelRect* rect, bool) override {
        invalidated.push_back(rect == nullptr ? PixelRect{-1, -1, -1, -1} : *rect);
    }
    void ScrollWindow(int dx, int dy) override { scrolls.push_back({dx, dy}); }
    Canvas* BeginDraw() override {
        ++draws;
        return &canvas;
    }
    void EndDraw() override {}
    void SetCaret(const CaretState& state) override {
        caret = state;
        carets.push_back(state);
    }
    bool HasFocus() const override { return focused; }
    void SetFocus() override { focused = true; }
    ClientPoint CursorPos() const override { return mouse; }
    bool NumLockOn() const override { return numLock; }
    void SetBorder(bool single) override { border = single; }

    CellSize cell{8, 12};
    bool hShown = false;
    bool vShown = false;
    int showCalls = 0;
    std::vector<ScrollInfo> hInfo;
    std::vector<ScrollInfo> vInfo;
    std::vector<PixelRect> invalidated;
    std::vector<std::pair<int, int>> scrolls;
    int draws = 0;
    RecordingCanvas canvas;
    CaretState caret;
    std::vector<CaretState> carets;
    bool focused = false;
    ClientPoint mouse;
    bool numLock = true;
    bool border = false;
};

}  // namespace hydrix::terminal::test
