// The side panel's font: the form's 8-point font, made smaller only as far as the widest
// texts the panel shows need, so that the instrument's clock and serial number are never
// cut off at the panel's edge, whichever fonts the machine has.
#pragma once

#include <QFont>
#include <QString>

#include <functional>
#include <vector>

namespace hydrix::gui {

// A text the panel must show whole, and whether it is shown in bold (the captions).
struct PanelText {
    QString text;
    bool bold = false;
};

// The captions, the longest clock text and a 12-character serial number.
const std::vector<PanelText>& PanelTexts();

// How wide a text is at a pixel size, as some font measures it.
using TextWidth = std::function<qreal(int pixelSize, const PanelText& text)>;

// The largest pixel size from largest down to smallest at which every text is at most
// room pixels wide; smallest when none is.
int FittingPixelSize(int largest, int smallest, qreal room, const std::vector<PanelText>& texts,
                     const TextWidth& width);

// base as it is when the panel's texts fit room pixels in it, else at the largest pixel
// size at which they do, measured in the font Qt really draws.
QFont ChoosePanelFont(const QFont& base, int room);

}  // namespace hydrix::gui
