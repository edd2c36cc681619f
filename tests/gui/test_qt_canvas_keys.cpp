// The painter canvas (colours, line ends, clipping, glyphs at their cells, the code page
// of cell bytes) and the key translation from Qt to virtual keys, key data and typed
// characters.
#include <QGlyphRun>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <utility>

#include "gui/code_page_437.h"
#include "gui/qt_canvas.h"
#include "gui/qt_key_map.h"
#include "terminal/terminal_keys.h"

namespace hydrix::gui {
namespace {

using terminal::PixelRect;

QRgb At(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

TEST(QPainterCanvas, ColoursLinesAndClip) {
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        CanvasFont font;
        QPainterCanvas canvas(painter, font, PixelRect{0, 0, 40, 20});
        canvas.FillRect(PixelRect{0, 0, 10, 10}, 0x00FF0000);  // 0x00BBGGRR: blue
        canvas.DrawLine(10, 15, 20, 15, 0x000000FF);           // red, end point left out
        canvas.SetClip(PixelRect{30, 0, 35, 20});
        EXPECT_EQ(canvas.ClipRect(), (PixelRect{30, 0, 35, 20}));
        canvas.FillRect(PixelRect{25, 0, 40, 5}, 0x0000FF00);  // green, clipped to 30..34
        // Everything drawn so far, the clipped part only.
        EXPECT_EQ(canvas.Touched(), QRect(QPoint(0, 0), QPoint(34, 15)));
    }
    EXPECT_EQ(At(image, 0, 0), qRgb(0, 0, 255) & 0xFFFFFF);
    EXPECT_EQ(At(image, 9, 9), qRgb(0, 0, 255) & 0xFFFFFF);
    EXPECT_EQ(At(image, 10, 10), 0xFFFFFFu);
    EXPECT_EQ(At(image, 10, 15), qRgb(255, 0, 0) & 0xFFFFFF);
    EXPECT_EQ(At(image, 19, 15), qRgb(255, 0, 0) & 0xFFFFFF);
    EXPECT_EQ(At(image, 20, 15), 0xFFFFFFu);
    EXPECT_EQ(At(image, 29, 0), 0xFFFFFFu);
    EXPECT_EQ(At(image, 30, 0), qRgb(0, 255, 0) & 0xFFFFFF);
    EXPECT_EQ(At(image, 35, 0), 0xFFFFFFu);
}

TEST(QPainterCanvas, GlyphsSitInTheirOwnCells) {
    // Wide cells (3 x the font's advance): a glyph drawn at the font's own advance
    // would fall into the gap between cells.
    QFont qfont;
    qfont.setPixelSize(12);
    CanvasFont font(qfont);
    const int cell = 30;
    QImage image(cell * 3, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        QPainterCanvas canvas(painter, font, PixelRect{0, 0, cell * 3, 20});
        const int advances[] = {cell, cell, cell};
        canvas.DrawTextRun(0, 0, PixelRect{0, 0, cell * 3, 20}, "M M", 3, advances, 0, 0xFFFFFF);
    }
    auto inkIn = [&](int left, int right) {
        int n = 0;
        for (int y = 0; y < 20; ++y) {
            for (int x = left; x < right; ++x) {
                n += At(image, x, y) != 0xFFFFFFu;
            }
        }
        return n;
    };
    EXPECT_GT(inkIn(0, 12), 0);
    EXPECT_EQ(inkIn(14, 60), 0);
    EXPECT_GT(inkIn(60, 72), 0);
}

TEST(CodePage437, BytesAboveAsciiAreTheTerminalFontsCharacters) {
    for (int b = 0x20; b < 0x7F; ++b) {
        EXPECT_EQ(CodePage437(static_cast<uint8_t>(b)), b);
    }
    EXPECT_EQ(CodePage437(0x7F), u'\u2302');
    EXPECT_EQ(CodePage437(0x80), u'\u00C7');
    EXPECT_EQ(CodePage437(0xB0), u'\u2591');
    EXPECT_EQ(CodePage437(0xC4), u'\u2500');
    EXPECT_EQ(CodePage437(0xDB), u'\u2588');
    EXPECT_EQ(CodePage437(0xE1), u'\u00DF');
    EXPECT_EQ(CodePage437(0xF8), u'\u00B0');
    EXPECT_EQ(CodePage437(0xFF), u'\u00A0');
    // Every byte above 0x7E is a printable character of its own, never a control code.
    std::set<char16_t> seen;
    for (int b = 0x7F; b <= 0xFF; ++b) {
        const char16_t c = CodePage437(static_cast<uint8_t>(b));
        EXPECT_TRUE(QChar(c).isPrint()) << b;
        EXPECT_TRUE(seen.insert(c).second) << b;
    }
    EXPECT_EQ(CodePage437Text("\xC4\xB0"
                              "A",
                              3),
              QString::fromUtf16(u"\u2500\u2591A"));
}

TEST(QPainterCanvas, CellBytesAreDrawnThroughTheCodePage) {
    // The degree sign is 0xF8 in the code page and 0xB0 in Latin-1; the sharp s is 0xE1
    // and 0xDF. Each byte must draw exactly what the font's own glyph for it draws.
    QFont qfont;
    qfont.setPixelSize(14);
    CanvasFont font(qfont);
    const auto drawn = [&](const std::function<void(QPainter&)>& paint) {
        QImage image(16, 20, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        paint(painter);
        painter.end();
        return image;
    };
    for (const auto& [byte, ch] : {std::pair<char, char16_t>{'\xF8', u'\u00B0'}, {'\xE1', u'\u00DF'}}) {
        SCOPED_TRACE(static_cast<int>(static_cast<uint8_t>(byte)));
        const QImage viaCanvas = drawn([&](QPainter& painter) {
            QPainterCanvas canvas(painter, font, PixelRect{0, 0, 16, 20});
            const int advance[] = {16};
            canvas.DrawTextRun(0, 0, PixelRect{0, 0, 16, 20}, &byte, 1, advance, 0, 0xFFFFFF);
        });
        const QImage viaGlyph = drawn([&](QPainter& painter) {
            QGlyphRun run;
            run.setRawFont(font.Raw);
            run.setGlyphIndexes(font.Raw.glyphIndexesForString(QString(QChar(ch))));
            run.setPositions({QPointF(0, 0)});
            painter.setPen(Qt::black);
            painter.drawGlyphRun(QPointF(0, font.Ascent), run);
        });
        EXPECT_TRUE(viaCanvas == viaGlyph);
    }
}

TEST(TranslateKey, VirtualKeysDataAndCharacters) {
    using namespace terminal;
    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        const char* text;
        bool repeat;
        uint16_t vk;
        uint32_t data;  // beyond the repeat count
        ShiftState shift;
        int ch;  // -1: types nothing
    };
    const Qt::KeyboardModifiers none;
    const Case cases[] = {
        {Qt::Key_A, none, "a", false, 'A', 0, 0, 'a'},
        {Qt::Key_A, Qt::ShiftModifier, "A", false, 'A', 0, ssShift, 'A'},
        {Qt::Key_A, Qt::ControlModifier, "", false, 'A', 0, ssCtrl, 1},
        {Qt::Key_Z, Qt::ControlModifier, "\x1a", false, 'Z', 0, ssCtrl, 26},
        {Qt::Key_X, Qt::AltModifier, "x", false, 'X', kKeyDataAlt, ssAlt, -1},
        {Qt::Key_7, none, "7", true, '7', kKeyDataRepeat, 0, '7'},
        {Qt::Key_Ampersand, Qt::ShiftModifier, "&", false, '7', 0, ssShift, '&'},
        {Qt::Key_Backspace, none, "\b", false, VK_BACK, 0, 0, 8},
        {Qt::Key_Backspace, Qt::ControlModifier, "", false, VK_BACK, 0, ssCtrl, 127},
        {Qt::Key_Tab, none, "\t", false, VK_TAB, 0, 0, 9},
        {Qt::Key_Return, none, "\r", false, VK_RETURN, 0, 0, 13},
        {Qt::Key_Enter, Qt::KeypadModifier, "\r", false, VK_RETURN, kKeyDataExtended, 0, 13},
        {Qt::Key_Escape, none, "\x1b", false, VK_ESCAPE, 0, 0, 27},
        {Qt::Key_BracketLeft, Qt::ControlModifier, "", false, 0xDB, 0, ssCtrl, 27},
        {Qt::Key_Left, none, "", false, VK_LEFT, kKeyDataExtended, 0, -1},
        {Qt::Key_Down, none, "", false, VK_DOWN, kKeyDataExtended, 0, -1},
        {Qt::Key_Home, Qt::KeypadModifier, "", false, VK_HOME, 0, 0, -1},
        {Qt::Key_PageDown, none, "", false, VK_NEXT, kKeyDataExtended, 0, -1},
        {Qt::Key_Insert, Qt::ControlModifier, "", false, VK_INSERT, kKeyDataExtended, ssCtrl, -1},
        {Qt::Key_Delete, none, "\x7f", false, VK_DELETE, kKeyDataExtended, 0, -1},
        {Qt::Key_5, Qt::KeypadModifier, "5", false, VK_NUMPAD5, 0, 0, '5'},
        {Qt::Key_F1, none, "", false, 0x70, 0, 0, -1},
        {Qt::Key_F12, none, "", false, 0x7B, 0, 0, -1},
        {Qt::Key_Shift, Qt::ShiftModifier, "", false, VK_SHIFT, 0, ssShift, -1},
        {Qt::Key_Eacute, none, "\xc3\xa9", false, 0, 0, 0, 0xE9},
    };
    for (const Case& c : cases) {
        const TranslatedKey k = TranslateKey(c.key, c.mods, QString::fromUtf8(c.text), c.repeat);
        SCOPED_TRACE(c.key);
        EXPECT_EQ(k.Key, c.vk);
        EXPECT_EQ(k.KeyData, c.data | 1u);
        EXPECT_EQ(k.Shift, c.shift);
        EXPECT_EQ(k.Char ? int{*k.Char} : -1, c.ch);
    }
}

}  // namespace
}  // namespace hydrix::gui
