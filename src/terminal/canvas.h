// Where the emulators draw. The terminal's widget implements it over its painter and
// hands it over for each paint; tests record the calls. Pixel coordinates are relative
// to the terminal's client area; rectangles include left/top and exclude right/bottom.
#pragma once

#include <cstdint>

namespace hydrix::terminal {

struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool operator==(const PixelRect&) const = default;
};

class Canvas {
public:
    virtual ~Canvas() = default;

    virtual void FillRect(const PixelRect& rect, uint32_t color) = 0;
    // Fills `opaque` with `fill`, then draws the n bytes of text in the terminal's font
    // from (x, y) (the top of the cell) in `textColor`; character i advances by
    // advances[i] pixels, so the font's own widths never shift the columns.
    virtual void DrawTextRun(int x, int y, const PixelRect& opaque, const char* text, int n, const int* advances,
                             uint32_t textColor, uint32_t fill) = 0;
    virtual void DrawLine(int x1, int y1, int x2, int y2, uint32_t color) = 0;
    // Limits later drawing to rect; ClipRect reports the current limit.
    virtual void SetClip(const PixelRect& rect) = 0;
    virtual PixelRect ClipRect() const = 0;
};

}  // namespace hydrix::terminal
