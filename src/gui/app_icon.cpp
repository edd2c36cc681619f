#include "gui/app_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace hydrix::gui {

QIcon StationIcon() {
    // Drawn here rather than by Qt's SVG icon plugin, which a machine may lack.
    QSvgRenderer renderer(QStringLiteral(":/hydrix.svg"));
    QIcon icon;
    if (!renderer.isValid()) {
        return icon;
    }
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace hydrix::gui
