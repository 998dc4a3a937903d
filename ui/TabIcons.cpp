#include "ui/TabIcons.h"

#include <QPainter>
#include <QPixmap>

namespace {

QPixmap Canvas() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    return pm;
}

}  // namespace

QIcon PacketTabIcon() {
    QPixmap pm = Canvas();
    QPainter p(&pm);
    // Envelope-like block: blue header band, a grid of bytes below.
    p.fillRect(1, 2, 14, 12, QColor(255, 255, 255));
    p.fillRect(1, 2, 14, 4, QColor(80, 108, 160));
    p.setPen(QColor(40, 40, 40));
    p.drawRect(1, 2, 13, 11);
    p.setPen(QColor(120, 120, 120));
    for (int y = 8; y <= 11; y += 3)
        for (int x = 3; x <= 11; x += 3)
            p.drawLine(x, y, x + 1, y);
    return QIcon(pm);
}

QIcon DataTabIcon() {
    QPixmap pm = Canvas();
    QPainter p(&pm);
    // A page with a folded corner and lines of text, the first one highlighted as a request word.
    const QPolygon page({QPoint(3, 1), QPoint(10, 1), QPoint(13, 4), QPoint(13, 14), QPoint(3, 14)});
    p.setBrush(Qt::white);
    p.setPen(QColor(40, 40, 40));
    p.drawPolygon(page);
    p.drawLine(10, 1, 10, 4);
    p.drawLine(10, 4, 13, 4);
    p.setPen(QColor(0, 0, 200));
    p.drawLine(5, 5, 8, 5);
    p.setPen(QColor(110, 110, 110));
    for (int y = 7; y <= 12; y += 2)
        p.drawLine(5, y, 11, y);
    return QIcon(pm);
}
