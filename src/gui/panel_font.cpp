#include "gui/panel_font.h"

#include <QFontInfo>
#include <QFontMetricsF>

#include <algorithm>

namespace hydrix::gui {

const std::vector<PanelText>& PanelTexts() {
    static const std::vector<PanelText> texts = {
        {QStringLiteral("Serial Number:"), true},
        {QStringLiteral("Date, Time:"), true},
        {QStringLiteral("99/12/31,23:59:59.99"), false},
        {QStringLiteral("123456789012"), false},
    };
    return texts;
}

int FittingPixelSize(int largest, int smallest, qreal room, const std::vector<PanelText>& texts,
                     const TextWidth& width) {
    const auto fits = [&](int px) {
        return std::all_of(texts.begin(), texts.end(), [&](const PanelText& t) { return width(px, t) <= room; });
    };
    int px = largest;
    while (px > smallest && !fits(px)) {
        --px;
    }
    return px;
}

QFont ChoosePanelFont(const QFont& base, int room) {
    // Below this a label is no longer read at a glance; a text still too wide is cut.
    constexpr int kSmallestPixelSize = 7;
    const int nominal = QFontInfo(base).pixelSize();
    // Measured as a label lays its text out, bearings included; at the nominal size in base
    // itself, whose point size may lie between two pixel sizes.
    const TextWidth measure = [&base, nominal](int px, const PanelText& t) {
        QFont font(base);
        if (px != nominal) {
            font.setPixelSize(px);
        }
        font.setBold(t.bold);
        return QFontMetricsF(font).boundingRect(QRectF(), Qt::TextSingleLine, t.text).width();
    };
    const int px = FittingPixelSize(nominal, std::min(kSmallestPixelSize, nominal), room, PanelTexts(), measure);
    if (px == nominal) {
        return base;
    }
    QFont font(base);
    font.setPixelSize(px);
    return font;
}

}  // namespace hydrix::gui
