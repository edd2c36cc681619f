// The emulators' drawing surface in the Qt program: the Canvas calls become QPainter
// calls on the terminal widget's backing image. Colours arrive as 0x00BBGGRR.
#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QRawFont>

#include "terminal/canvas.h"

namespace hydrix::gui {

QColor ColorFromRgbValue(uint32_t value);

class QPainterCanvas : public terminal::Canvas {
public:
    // Draws with painter (which must outlive the canvas) in font; the clip starts as
    // clip, usually the whole surface.
    QPainterCanvas(QPainter& painter, const QFont& font, const terminal::PixelRect& clip);

    void FillRect(const terminal::PixelRect& rect, uint32_t color) override;
    void DrawTextRun(int x, int y, const terminal::PixelRect& opaque, const char* text, int n,
                     const int* advances, uint32_t textColor, uint32_t fill) override;
    // Like the system's line drawing the end point itself is left out, so a line to the
    // right edge of a cell stays inside it.
    void DrawLine(int x1, int y1, int x2, int y2, uint32_t color) override;
    void SetClip(const terminal::PixelRect& rect) override;
    terminal::PixelRect ClipRect() const override { return clip_; }

private:
    QPainter& painter_;
    QFont font_;
    QRawFont rawFont_;
    int ascent_;
    terminal::PixelRect clip_;
};

}  // namespace hydrix::gui
