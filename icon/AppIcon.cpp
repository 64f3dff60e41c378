#include "icon/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace appicon {

void paint(QPainter &painter, double side)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 64-unit grid.
    painter.scale(side / 64.0, side / 64.0);

    // Tile.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1f, 0x5f, 0x99));
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    // The measured plate.
    painter.setBrush(QColor(0xb8, 0xc4, 0xd0));
    painter.drawRect(QRectF(8, 48, 48, 8));

    // The probe: body, tip touching the plate.
    painter.setBrush(QColor(0xf4, 0xf6, 0xf8));
    painter.drawRoundedRect(QRectF(18, 8, 28, 32), 5, 5);
    QPainterPath tip;
    tip.moveTo(26, 40);
    tip.lineTo(38, 40);
    tip.lineTo(33, 48);
    tip.lineTo(31, 48);
    tip.closeSubpath();
    painter.drawPath(tip);

    // Its display, with a reading.
    painter.setBrush(QColor(0x1c, 0x2a, 0x22));
    painter.drawRect(QRectF(22, 13, 20, 12));
    painter.setBrush(QColor(0x7c, 0xf0, 0x8c));
    for (int digit = 0; digit < 3; ++digit)
        painter.drawRect(QRectF(24.5 + 5.5 * digit, 16, 4, 6));

    // The thickness arrow beside the plate.
    painter.setPen(QPen(QColor(0xff, 0xc8, 0x3c), 2.5, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(52, 30), QPointF(52, 44));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xff, 0xc8, 0x3c));
    painter.drawPolygon(QPolygonF({QPointF(47, 42), QPointF(57, 42), QPointF(52, 48)}));
    painter.restore();
}

QIcon windowIcon()
{
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(painter, side);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace appicon
