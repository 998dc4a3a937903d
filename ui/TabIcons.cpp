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

QIcon StreamTabIcon() {
    QPixmap pm = Canvas();
    QPainter p(&pm);
    // Two turns of a conversation: a green bubble from the left, a peach one from the right, each with a
    // line of text, outlined dark so they read on light and dark tab strips alike.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(40, 40, 40));
    p.setBrush(QColor(200, 252, 200));
    p.drawRect(0, 1, 11, 5);
    p.drawLine(2, 7, 3, 6);
    p.setBrush(QColor(248, 232, 216));
    p.drawRect(4, 9, 11, 5);
    p.drawLine(13, 15, 12, 14);
    p.setPen(QColor(0, 0, 200));
    p.drawLine(2, 3, 8, 3);
    p.setPen(QColor(153, 51, 51));
    p.drawLine(6, 11, 12, 11);
    return QIcon(pm);
}
