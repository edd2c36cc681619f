#include "gui/qt_canvas.h"

#include <QGlyphRun>
#include <QList>
#include <QPen>
#include <QPointF>
#include <QString>

#include <cstdlib>

#include "gui/code_page_437.h"

namespace hydrix::gui {

namespace {

QRect ToQRect(const terminal::PixelRect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

int Sign(int v) {
    return (v > 0) - (v < 0);
}

}  // namespace

QColor ColorFromRgbValue(uint32_t value) {
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

CanvasFont::CanvasFont(const QFont& font)
    : Font(font),
      Raw(QRawFont::fromFont(font)),
      Ascent(QFontMetrics(font).ascent()),
      Height(QFontMetrics(font).height()) {}

QPainterCanvas::QPainterCanvas(QPainter& painter, const CanvasFont& font, const terminal::PixelRect& clip)
    : painter_(painter), font_(font) {
    painter_.setFont(font_.Font);
    SetClip(clip);
}

void QPainterCanvas::Touch(const QRect& rect) {
    touched_ |= rect & ToQRect(clip_);
}

void QPainterCanvas::FillRect(const terminal::PixelRect& rect, uint32_t color) {
    if (rect.right <= rect.left || rect.bottom <= rect.top) {
        return;
    }
    painter_.fillRect(ToQRect(rect), ColorFromRgbValue(color));
    Touch(ToQRect(rect));
}

void QPainterCanvas::DrawTextRun(int x, int y, const terminal::PixelRect& opaque, const char* text, int n,
                                 const int* advances, uint32_t textColor, uint32_t fill) {
    FillRect(opaque, fill);
    if (n <= 0) {
        return;
    }
    // Each glyph at its cell's own position: a font whose advance is fractional would
    // otherwise drift away from the columns along a row.
    const QString chars = CodePage437Text(text, n);
    const QList<quint32> indexes = font_.Raw.glyphIndexesForString(chars);
    QList<quint32> glyphs;
    QList<QPointF> positions;
    glyphs.reserve(n);
    positions.reserve(n);
    painter_.setPen(ColorFromRgbValue(textColor));
    int left = 0;
    for (int i = 0; i < n; ++i) {
        const quint32 glyph = i < indexes.size() ? indexes[i] : 0;
        if (glyph != 0) {
            glyphs.append(glyph);
            positions.append(QPointF(left, 0));
        } else {
            // A character the font lacks: Qt's font fallback finds it in another font.
            painter_.drawText(QPointF(x + left, y + font_.Ascent), QString(chars[i]));
        }
        left += advances[i];
    }
    if (!glyphs.isEmpty()) {
        QGlyphRun run;
        run.setRawFont(font_.Raw);
        run.setGlyphIndexes(glyphs);
        run.setPositions(positions);
        painter_.drawGlyphRun(QPointF(x, y + font_.Ascent), run);
    }
    Touch(QRect(x, y, left, font_.Height));
}

void QPainterCanvas::DrawLine(int x1, int y1, int x2, int y2, uint32_t color) {
    if (x1 == x2 && y1 == y2) {
        return;
    }
    painter_.setPen(QPen(ColorFromRgbValue(color), 0));
    // Step back one pixel along the longer axis to leave out the end point.
    const int dx = x2 - x1;
    const int dy = y2 - y1;
    if (std::abs(dx) >= std::abs(dy)) {
        x2 -= Sign(dx);
        y2 = y1 + (dx == 0 ? 0 : dy * (x2 - x1) / dx);
    } else {
        y2 -= Sign(dy);
        x2 = x1 + dx * (y2 - y1) / dy;
    }
    painter_.drawLine(x1, y1, x2, y2);
    Touch(QRect(QPoint(x1, y1), QPoint(x2, y2)).normalized());
}

void QPainterCanvas::SetClip(const terminal::PixelRect& rect) {
    clip_ = rect;
    painter_.setClipRect(ToQRect(rect));
}

}  // namespace hydrix::gui
