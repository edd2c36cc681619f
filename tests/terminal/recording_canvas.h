// The canvas the terminal tests paint on: it keeps every fill, text run and line in the
// order the emulator or the control drew them, so a test reads what would have reached
// the widget's painter.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/canvas.h"

namespace hydrix::terminal::test {

class RecordingCanvas : public Canvas {
public:
    struct Fill {
        PixelRect rect;
        uint32_t color;
    };
    struct TextRun {
        int x, y;
        PixelRect opaque;
        std::string text;
        std::vector<int> advances;
        uint32_t textColor, fill;
    };
    struct Line {
        int x1, y1, x2, y2;
        uint32_t color;
    };

    explicit RecordingCanvas(PixelRect initialClip = {0, 0, 4000, 4000}) : clip(initialClip) {}

    void FillRect(const PixelRect& rect, uint32_t color) override { fills.push_back({rect, color}); }
    void DrawTextRun(int x, int y, const PixelRect& opaque, const char* text, int n, const int* advances,
                     uint32_t textColor, uint32_t fill) override {
        EXPECT_EQ(text[n], '\0') << "text line not terminated";
        runs.push_back({x, y, opaque, std::string(text, static_cast<size_t>(n)),
                        std::vector<int>(advances, advances + n), textColor, fill});
    }
    void DrawLine(int x1, int y1, int x2, int y2, uint32_t color) override { lines.push_back({x1, y1, x2, y2, color}); }
    void SetClip(const PixelRect& rect) override { clip = rect; }
    PixelRect ClipRect() const override { return clip; }

    PixelRect clip;
    std::vector<Fill> fills;
    std::vector<TextRun> runs;
    std::vector<Line> lines;
};

}  // namespace hydrix::terminal::test
