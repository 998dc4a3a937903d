// The tab window: strip geometry and hit tests, the label cap, selection by click and keyboard, and what
// happens to the pages.
#include <QtTest>

#include <QLabel>
#include <QLineEdit>

#include "ui/TabIcons.h"
#include "ui/TabWnd.h"

namespace {

int ExpectedTabWidth(const QString& title, bool icon) {
    const int tw = QFontMetrics(QApplication::font("QStatusBar")).horizontalAdvance(title);
    return std::min(tw + 4, 200) + (icon ? 18 : 0) + 6;
}

struct Tabs {
    Tabs(TTabWnd::TabPosition position = TTabWnd::Bottom) {
        wnd.SetPosition(position);
        packet = new QLineEdit;
        data = new QLineEdit;
        QVERIFY(wnd.AddViewPage(QStringLiteral("Packet"), packet));
        QVERIFY(wnd.AddViewPage(QStringLiteral("Data"), data));
        wnd.SetTabIcon(0, PacketTabIcon());
        wnd.resize(400, 200);
        wnd.show();
        wnd.activateWindow();  // no window manager under a bare X server
        QVERIFY(QTest::qWaitForWindowActive(&wnd));
    }
    TTabWnd wnd;
    QLineEdit* packet;
    QLineEdit* data;
};

}  // namespace

class TabWndTest : public QObject {
    Q_OBJECT

private slots:
    void geometryAndHitTest_data() {
        QTest::addColumn<int>("position");
        QTest::newRow("bottom") << int(TTabWnd::Bottom);
        QTest::newRow("top") << int(TTabWnd::Top);
    }
    void geometryAndHitTest() {
        QFETCH(int, position);
        Tabs t{TTabWnd::TabPosition(position)};
        const bool bottom = position == TTabWnd::Bottom;
        const int H = 200;
        const int w0 = ExpectedTabWidth(QStringLiteral("Packet"), true);
        const int w1 = ExpectedTabWidth(QStringLiteral("Data"), false);
        QCOMPARE(t.wnd.Tab(0)->xLeft, 0);
        QCOMPARE(t.wnd.Tab(0)->xRight, w0);
        QCOMPARE(t.wnd.Tab(1)->xLeft, w0);
        QCOMPARE(t.wnd.Tab(1)->xRight, w0 + w1);
        QCOMPARE(t.packet->geometry(), bottom ? QRect(1, 0, 398, 170) : QRect(1, 31, 398, 168));
        QCOMPARE(t.data->geometry(), t.packet->geometry());

        // The band is [H-26, H-6] at the bottom, [6, 26] at the top, inclusive; a shared edge is the left
        // tab's.
        const int top = bottom ? H - 26 : 6, low = bottom ? H - 6 : 26;
        struct Hit {
            int x, y, tab;
        } hits[] = {
            {1, top, 0},        {1, low, 0},          {1, top - 1, -1},      {1, low + 1, -1},
            {w0, top + 5, 0},   {w0 + 1, top + 5, 1}, {w0 + w1, top + 5, 1}, {w0 + w1 + 1, top + 5, -1},
            {399, top + 5, -1}, {w0 + 3, H / 2, -1}};
        for (const Hit& h : hits)
            QVERIFY2(t.wnd.TabAt(h.x, h.y) == h.tab, qPrintable(QStringLiteral("(%1,%2)").arg(h.x).arg(h.y)));

        // A hidden tab takes no room; an unselectable one stays but cannot be hit.
        t.wnd.Tab(1)->bSelectable = false;
        QCOMPARE(t.wnd.TabAt(w0 + 5, top + 5), -1);
        t.wnd.Tab(0)->bShown = false;
        t.wnd.Tab(1)->bSelectable = true;
        t.wnd.grab();  // lays the strip out as a paint does
        QCOMPARE(t.wnd.TabAt(5, top + 5), 1);

        // Pixel art: the active tab's left edge is black, the strip background the button face.
        t.wnd.Tab(0)->bShown = true;
        const QImage img = t.wnd.grab().toImage();
        QCOMPARE(img.pixelColor(0, bottom ? H - 15 : 15), QColor(Qt::black));
        QCOMPARE(img.pixelColor(w0 + w1 + 20, bottom ? H - 15 : 15), t.wnd.palette().color(QPalette::Button));
    }

    void longLabelIsCapped() {
        TTabWnd wnd;
        const QString title(80, QLatin1Char('W'));
        TTabPage* tab = wnd.AddViewPage(title, new QWidget);
        wnd.resize(600, 100);
        wnd.grab();
        QCOMPARE(tab->label->width(), 200);
        QCOMPARE(tab->xRight - tab->xLeft, 206);
        QCOMPARE(wnd.TitleOf(0), title);
        QVERIFY(!wnd.AddViewPage(QStringLiteral("none"), nullptr));
        QCOMPARE(wnd.TabCount(), 1);
    }

    void clickSelects() {
        Tabs t;
        QCOMPARE(t.wnd.ActiveTab(), 0);
        QVERIFY(t.packet->isVisible() && t.packet->isEnabled());
        QVERIFY(!t.data->isVisible() && !t.data->isEnabled());
        QSignalSpy selected(&t.wnd, &TTabWnd::tabSelected);
        const int y = 200 - 15;
        const int dataX = t.wnd.Tab(1)->xLeft + 10;

        // Above the band, beside every tab, on the active tab, or with the right button: nothing changes.
        QTest::mouseClick(&t.wnd, Qt::LeftButton, {}, QPoint(dataX, 200 - 40));
        QTest::mouseClick(&t.wnd, Qt::LeftButton, {}, QPoint(390, y));
        QTest::mouseClick(&t.wnd, Qt::LeftButton, {}, QPoint(10, y));
        QTest::mouseClick(&t.wnd, Qt::RightButton, {}, QPoint(dataX, y));
        QCOMPARE(selected.size(), 0);
        QCOMPARE(t.wnd.ActiveTab(), 0);

        // On the label of the other tab: it is selected, the old page hidden and disabled, the new one
        // focused.
        QTest::mouseClick(&t.wnd, Qt::LeftButton, {}, t.wnd.Tab(1)->label->geometry().center());
        QCOMPARE(t.wnd.ActiveTab(), 1);
        QCOMPARE(selected.size(), 1);
        QVERIFY(!t.packet->isVisible() && !t.packet->isEnabled());
        QVERIFY(t.data->isVisible() && t.data->isEnabled());
        QVERIFY(t.data->hasFocus());

        // A tab whose page stays disabled when selected.
        t.wnd.Tab(0)->bPageEnabled = false;
        QVERIFY(t.wnd.SelectTab(0, false));
        QVERIFY(t.packet->isVisible() && !t.packet->isEnabled());
        QVERIFY(!t.wnd.SelectTab(-1, false));
        QVERIFY(!t.wnd.SelectTab(7, false));
    }

    void keyboardCycles() {
        Tabs t;
        auto* third = new QLineEdit;
        t.wnd.AddViewPage(QStringLiteral("Third"), third);
        t.packet->setFocus();
        QTest::keyClick(t.packet, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(t.wnd.ActiveTab(), 1);
        QVERIFY(t.data->hasFocus());
        // An unselectable tab is stepped over; the cycle wraps both ways.
        t.wnd.Tab(2)->bSelectable = false;
        QTest::keyClick(t.data, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(t.wnd.ActiveTab(), 0);
        QTest::keyClick(t.packet, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(t.wnd.ActiveTab(), 1);
        QTest::keyClick(t.data, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(t.wnd.ActiveTab(), 0);
        QTest::keyClick(t.packet, Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(t.wnd.ActiveTab(), 1);

        // Switched off, the key does nothing; with one tab, cycling selects nothing new but takes the key.
        t.wnd.SetCtrlTabEnabled(false);
        QTest::keyClick(t.data, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(t.wnd.ActiveTab(), 1);
        TTabWnd single;
        single.AddViewPage(QStringLiteral("Only"), new QWidget);
        QVERIFY(single.CycleTab(false));
        QCOMPARE(single.ActiveTab(), 0);
    }
};

QTEST_MAIN(TabWndTest)
#include "tabwnd_test.moc"
