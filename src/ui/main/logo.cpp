// Draws the maker's logo for the main window and the program's icon.
#include "logo.h"

#include <QFont>
#include <QFontInfo>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace ktq::ui {

QFont titleFont(QFont base) {
    base.setBold(true);
    base.setPointSizeF(base.pointSizeF() * 1.2);
    return base;
}

// The same drawing as packaging/ktqconfig.svg: a dark blue rounded square, a white bus line with
// three taps, and the letters KTQ (there in DejaVu Sans, the title's font where it is the default).
QPixmap drawLogo(int height, const QFont& lettering, qreal devicePixelRatio) {
    const int side = height;
    QPixmap pixmap(QSize(side, side) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);

    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 64.0, side / 64.0);

    QLinearGradient fill(0, 0, 0, 64);
    fill.setColorAt(0, QColor(0x1f, 0x3f, 0x9f));
    fill.setColorAt(1, QColor(0x00, 0x00, 0x80));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);

    painter.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(10, 46), QPointF(54, 46));
    for (const qreal x : {18.0, 32.0, 46.0}) {
        painter.drawLine(QPointF(x, 46), QPointF(x, 54));
    }

    // Lettered in the title's font, scaled to 22 units: a font of its own would cost the start a
    // face of its own.
    const qreal scale = 22.0 / QFontInfo(lettering).pixelSize();
    painter.scale(scale, scale);
    painter.setFont(lettering);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(2 / scale, 8 / scale, 60 / scale, 30 / scale), Qt::AlignCenter,
                     QStringLiteral("KTQ"));
    return pixmap;
}

} // namespace ktq::ui
