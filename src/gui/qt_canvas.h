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

// A font prepared for glyph drawing; made once per font change, not per paint.
struct CanvasFont {
    explicit CanvasFont(const QFont& font = QFont());
    QFont Font;
    QRawFont Raw;
    int Ascent;
    int Height;
};

class QPainterCanvas : public terminal::Canvas {
public:
    // Draws with painter in font (both must outlive the canvas); the clip starts as clip,
    // usually the whole surface.
    QPainterCanvas(QPainter& painter, const CanvasFont& font, const terminal::PixelRect& clip);

    void FillRect(const terminal::PixelRect& rect, uint32_t color) override;
    void DrawTextRun(int x, int y, const terminal::PixelRect& opaque, const char* text, int n, const int* advances,
                     uint32_t textColor, uint32_t fill) override;
    // Like the system's line drawing the end point itself is left out, so a line to the
    // right edge of a cell stays inside it.
    void DrawLine(int x1, int y1, int x2, int y2, uint32_t color) override;
    void SetClip(const terminal::PixelRect& rect) override;
    terminal::PixelRect ClipRect() const override { return clip_; }

    // The union of what was drawn, within the clip: the part of the surface to show.
    QRect Touched() const { return touched_; }

private:
    QPainter& painter_;
    void Touch(const QRect& rect);

    const CanvasFont& font_;
    terminal::PixelRect clip_;
    QRect touched_;
};

}  // namespace hydrix::gui
