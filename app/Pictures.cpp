#include "app/Pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

#include "app/MainFrame.h"

namespace {

constexpr int kButtonWidth = 16;
constexpr int kButtonHeight = 15;

QPixmap Paint(int width, int height, const std::function<void(QPainter&)>& draw) {
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return pixmap;
}

const QColor kInk(40, 40, 48);

void DrawWindow(QPainter& p) {
    p.setPen(QPen(kInk, 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1.5, 2.5, 10, 9));
    p.fillRect(QRectF(2, 3, 9.5, 2.5), QColor(60, 90, 170));
    p.setPen(QPen(QColor(0, 140, 0), 2));
    p.drawLine(QPointF(12.5, 8), QPointF(12.5, 14));
    p.drawLine(QPointF(9.5, 11), QPointF(15.5, 11));
}

void DrawStart(QPainter& p) {
    QPainterPath path;
    path.moveTo(4, 2);
    path.lineTo(13, 7.5);
    path.lineTo(4, 13);
    path.closeSubpath();
    p.setPen(QPen(QColor(0, 100, 0), 1));
    p.setBrush(QColor(40, 170, 60));
    p.drawPath(path);
}

void DrawStop(QPainter& p) {
    p.setPen(QPen(QColor(130, 0, 0), 1));
    p.setBrush(QColor(210, 40, 40));
    p.drawRoundedRect(QRectF(3.5, 3, 9, 9), 1.5, 1.5);
}

void DrawConfigure(QPainter& p) {
    // A funnel: the filter rules.
    QPainterPath path;
    path.moveTo(1.5, 2);
    path.lineTo(14.5, 2);
    path.lineTo(9.5, 8);
    path.lineTo(9.5, 13.5);
    path.lineTo(6.5, 12);
    path.lineTo(6.5, 8);
    path.closeSubpath();
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(90, 140, 210));
    p.drawPath(path);
}

void DrawAdapter(QPainter& p) {
    // A network card with its connector.
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(40, 140, 90));
    p.drawRect(QRectF(1.5, 3.5, 11, 7));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(12.5, 4.5, 2.5, 5));
    p.setPen(QPen(QColor(210, 170, 40), 1));
    for (int x = 3; x <= 11; x += 2)
        p.drawLine(QPointF(x, 10.5), QPointF(x, 13));
    p.fillRect(QRectF(4, 5, 4, 3), QColor(30, 30, 30));
}

void DrawOpen(QPainter& p) {
    p.setPen(QPen(QColor(120, 90, 0), 1));
    p.setBrush(QColor(240, 200, 80));
    QPainterPath back;
    back.moveTo(1.5, 12.5);
    back.lineTo(1.5, 3.5);
    back.lineTo(5.5, 3.5);
    back.lineTo(7, 5);
    back.lineTo(12.5, 5);
    back.lineTo(12.5, 12.5);
    back.closeSubpath();
    p.drawPath(back);
    QPainterPath front;
    front.moveTo(1.5, 12.5);
    front.lineTo(4, 7.5);
    front.lineTo(15, 7.5);
    front.lineTo(12.5, 12.5);
    front.closeSubpath();
    p.setBrush(QColor(250, 220, 120));
    p.drawPath(front);
}

void DrawSave(QPainter& p) {
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(60, 90, 170));
    p.drawRect(QRectF(1.5, 1.5, 13, 12));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3.5, 1.5, 9, 5));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(4.5, 9.5, 7, 4));
}

void DrawHelp(QPainter& p) {
    p.setPen(QPen(QColor(20, 60, 150), 1));
    p.setBrush(QColor(70, 120, 220));
    p.drawEllipse(QRectF(1.5, 1, 13, 13));
    QFont font;
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(1.5, 1, 13, 13), Qt::AlignCenter, "?");
}

void DrawAbout(QPainter& p) {
    p.setPen(QPen(QColor(20, 60, 150), 1));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(1.5, 1, 13, 13));
    p.fillRect(QRectF(7, 3.5, 2, 2), QColor(20, 60, 150));
    p.fillRect(QRectF(7, 6.5, 2, 5.5), QColor(20, 60, 150));
}

void DrawHome(QPainter& p) {
    QPainterPath roof;
    roof.moveTo(0.5, 7.5);
    roof.lineTo(8, 1);
    roof.lineTo(15.5, 7.5);
    p.setPen(QPen(QColor(150, 40, 30), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(roof);
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(235, 225, 200));
    p.drawRect(QRectF(3.5, 7, 9, 6.5));
    p.setBrush(QColor(120, 80, 40));
    p.drawRect(QRectF(7, 9.5, 2.5, 4));
}

void DrawNet(QPainter& p, qreal size) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 90, 170));
    p.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
    p.setPen(QPen(QColor(230, 240, 255), std::max<qreal>(1.0, size / 24)));
    const int lines = 4;
    for (int i = 1; i <= lines; ++i) {
        const qreal at = size * i / (lines + 1);
        p.drawLine(QPointF(at, size * 0.12), QPointF(at - size * 0.08, size * 0.88));
        p.drawLine(QPointF(size * 0.12, at), QPointF(size * 0.88, at + size * 0.05));
    }
    p.setPen(QPen(QColor(250, 190, 40), std::max<qreal>(1.0, size / 16)));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(1, 1, size - 2, size - 2));
}

}  // namespace

QIcon CommandPicture(int command) {
    std::function<void(QPainter&)> draw;
    switch (command) {
        case ID_NEW_WINDOW:
            draw = DrawWindow;
            break;
        case ID_START:
            draw = DrawStart;
            break;
        case ID_STOP:
            draw = DrawStop;
            break;
        case ID_CONFIGURE:
            draw = DrawConfigure;
            break;
        case ID_SELECT_ADAPTER:
            draw = DrawAdapter;
            break;
        case ID_OPEN:
            draw = DrawOpen;
            break;
        case ID_SAVE:
            draw = DrawSave;
            break;
        case ID_HELP_CONTENTS:
            draw = DrawHelp;
            break;
        case ID_APP_ABOUT:
            draw = DrawAbout;
            break;
        case ID_HOME_PAGE:
            draw = DrawHome;
            break;
        default:
            return {};
    }
    return QIcon(Paint(kButtonWidth, kButtonHeight, draw));
}

QIcon ApplicationPicture() {
    // The installed icon when the desktop has it, so that the window, the tray and the menu entry agree.
    if (QIcon::hasThemeIcon("pacterra"))
        return QIcon::fromTheme("pacterra");
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(Paint(size, size, [size](QPainter& p) { DrawNet(p, size); }));
    return icon;
}
