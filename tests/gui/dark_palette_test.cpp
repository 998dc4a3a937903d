// Under a dark desktop palette (light text on dark grounds) the fixed colours stay readable: the packets
// list's light rows keep black text, the highlighted rows white on steel blue, the link label's colours are
// lightened on a dark dialog (and stay exactly as they are on a light one), the payload text keeps its
// white page and the Stream tab takes the dark one. Screenshots of both palettes go to screenshots/palettes/
// for a look.
#include <QDir>
#include <QHeaderView>
#include <QVBoxLayout>
#include <QtTest>

#include <cmath>

#include "ListsTestSupport.h"
#include "app/ListWiring.h"
#include "ui/LinkLabel.h"
#include "views/HexLines.h"
#include "views/HexViewCtrl.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/PacketsModel.h"
#include "views/PayloadTextCtrl.h"
#include "views/ReportListView.h"
#include "views/StreamView.h"

namespace {

// The colours of a dark desktop theme.
QPalette DarkPalette() {
    QPalette p;
    const QColor window(53, 53, 53), base(36, 36, 36), text(238, 238, 236);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::Window, window);
        p.setColor(g, QPalette::WindowText, text);
        p.setColor(g, QPalette::Base, base);
        p.setColor(g, QPalette::AlternateBase, window);
        p.setColor(g, QPalette::Text, text);
        p.setColor(g, QPalette::Button, window);
        p.setColor(g, QPalette::ButtonText, text);
        p.setColor(g, QPalette::Highlight, QColor(21, 83, 158));
        p.setColor(g, QPalette::HighlightedText, Qt::white);
        p.setColor(g, QPalette::Link, QColor(53, 132, 228));
    }
    return p;
}

double Luminance(const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colour a cell's text is painted in: the model's, else the list's palette.
QColor TextColour(const QModelIndex& index, const QWidget* list) {
    const QVariant foreground = index.data(Qt::ForegroundRole);
    return foreground.isValid() ? foreground.value<QColor>() : list->palette().color(QPalette::Text);
}

// The pixels in `rect` of `image` lighter than `ground`, as the light text of a dark theme is (dark text,
// antialiased, only darkens it).
int LighterPixels(const QImage& image, const QRect& rect, const QColor& ground) {
    int lighter = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            lighter += image.pixelColor(x, y).lightness() > ground.lightness() + 2;
    return lighter;
}

QString ShotsDir() {
    const QString dir = QCoreApplication::applicationDirPath() + "/../tests/gui/screenshots/palettes";
    QDir().mkpath(dir);
    return dir;
}

}  // namespace

class DarkPaletteTest : public QObject {
    Q_OBJECT

    QPalette m_light;

private slots:
    void initTestCase() { m_light = QApplication::palette(); }
    void cleanup() { QApplication::setPalette(m_light); }

    void packetRowsKeepReadableText_data() {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light palette") << false;
        QTest::newRow("dark palette") << true;
    }
    void packetRowsKeepReadableText() {
        QFETCH(bool, dark);
        if (dark)
            QApplication::setPalette(DarkPalette());
        StartFeeding();
        FeedPacket(0, true, "GET / HTTP/1.1\r\n");
        FeedPacket(0, false, "HTTP/1.1 200 OK\r\n");
        FeedPacket(0, true, "");
        FeedPacket(0, false, "<html>");
        g_captureState = CAPTURE_IDLE;

        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* connections = new CListCtrlLeft;
        auto* packets = new CListCtrlRight;
        WireListsAndViews(connections, packets, nullptr, nullptr, nullptr);
        layout->addWidget(connections);
        layout->addWidget(packets);
        window.resize(640, 360);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        connections->Sync();
        connections->SelectAndActivate(0);
        packets->SelectAndActivate(3);
        QCoreApplication::processEvents();

        const QAbstractItemModel* model = packets->model();
        QCOMPARE(model->rowCount(), 4);
        for (int row = 0; row < model->rowCount(); ++row) {
            for (int column = 0; column < model->columnCount(); ++column) {
                const QModelIndex cell = model->index(row, column);
                const QColor ground = cell.data(Qt::BackgroundRole).value<QColor>();
                const QColor text = TextColour(cell, packets);
                QVERIFY2(Contrast(text, ground) >= 4.5, qPrintable(QString("row %1 column %2: %3 on %4")
                                                                       .arg(row)
                                                                       .arg(column)
                                                                       .arg(text.name(), ground.name())));
            }
        }
        QCOMPARE(TextColour(model->index(3, 1), packets), CReportListView::kHighlightText);
        QCOMPARE(TextColour(model->index(0, 1), packets), QColor(Qt::black));
        // As painted: the green and peach rows carry no light text.
        const QImage image = packets->viewport()->grab().toImage();
        for (int row = 0; row < 2; ++row) {
            const QRect cells =
                packets->visualRect(model->index(row, 1)).united(packets->visualRect(model->index(row, 3)));
            const QColor ground = model->index(row, 1).data(Qt::BackgroundRole).value<QColor>();
            QCOMPARE(LighterPixels(image, cells.adjusted(2, 2, -2, -2), ground), 0);
        }
        window.grab().save(ShotsDir() + (dark ? "/lists-dark.png" : "/lists-light.png"));
        ResetCaptureStore();
    }

    void linkColoursReadable_data() {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light palette") << false;
        QTest::newRow("dark palette") << true;
    }
    void linkColoursReadable() {
        QFETCH(bool, dark);
        if (dark)
            QApplication::setPalette(DarkPalette());
        QWidget dialog;
        auto* layout = new QVBoxLayout(&dialog);
        auto* link = new CLinkLabel(QStringLiteral("https://pacterra.example/"), &dialog);
        layout->addWidget(link);
        dialog.resize(300, 80);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QColor ground = dialog.palette().color(QPalette::Window);
        if (!dark) {
            // On a light dialog the link has its own colours exactly.
            QCOMPARE(link->CurrentColor(), QColor(0, 0, 238));
            link->SetVisited(true);
            QCOMPARE(link->CurrentColor(), QColor(85, 26, 139));
            return;
        }
        QVERIFY(Contrast(link->CurrentColor(), ground) >= 4.5);
        // Still a blue.
        QVERIFY(link->CurrentColor().blue() > link->CurrentColor().red());
        QCOMPARE(link->palette().color(QPalette::WindowText), link->CurrentColor());
        link->SetVisited(true);
        QVERIFY(Contrast(link->CurrentColor(), ground) >= 4.5);
        QCOMPARE(link->palette().color(QPalette::WindowText), link->CurrentColor());
        QTest::mouseMove(link, link->rect().center());
        QTRY_VERIFY(link->IsHovering());
        QVERIFY(Contrast(link->CurrentColor(), ground) >= 4.5);
    }

    // The payload's colours are those of a white page: it stays one.
    void payloadPageStaysWhite() {
        QApplication::setPalette(DarkPalette());
        CPayloadTextCtrl text;
        text.resize(400, 200);
        text.show();
        QVERIFY(QTest::qWaitForWindowExposed(&text));
        const char payload[] = "GET / HTTP/1.1\r\nHost: a\r\n\r\n<html><!-- x --></html>";
        text.ShowText(payload, sizeof payload - 1);
        const QImage page = text.viewport()->grab().toImage();
        QCOMPARE(page.pixelColor(page.width() - 3, page.height() - 3), QColor(Qt::white));
        text.grab().save(ShotsDir() + "/payload-dark.png");
    }

    // The Stream tab's page follows the palette; a turn keeps its light ground under black text.
    void streamPageFollowsThePalette() {
        QApplication::setPalette(DarkPalette());
        StartFeeding();
        FeedPacket(0, true, "GET / HTTP/1.1\r\n");
        CStreamView view;
        view.resize(400, 200);
        view.show();
        view.ShowConnection(0);
        const QImage page = view.TextCtrl()->viewport()->grab().toImage();
        QCOMPARE(page.pixelColor(page.width() - 3, page.height() - 3), DarkPalette().color(QPalette::Base));
        QTextCursor c(view.TextCtrl()->document());
        const QRect first = view.TextCtrl()->cursorRect(c);
        c.setPosition(14);
        QCOMPARE(LighterPixels(page, first.united(view.TextCtrl()->cursorRect(c)), CStreamView::ClientBack()),
                 0);
        view.grab().save(ShotsDir() + "/stream-dark.png");
        ResetCaptureStore();
    }

    // The hex view's offsets and the hexadecimal cells before a selection stay black on white; what it draws
    // in the window and highlight colours follows the palette.
    void hexViewWindowColoursFollowThePalette() {
        QApplication::setPalette(DarkPalette());
        CHexViewCtrl hex;
        hex.resize(kHexLineColumns * hex.CharWidth() + 40, 10 * hex.LineHeight());
        hex.show();
        const QByteArray bytes(64, 'a');
        hex.SetData(reinterpret_cast<const uint8_t*>(bytes.data()), 64);
        hex.SetSelection(20, 24);
        const QImage image = hex.viewport()->grab().toImage();
        const int cw = hex.CharWidth(), lh = hex.LineHeight();
        auto blank = [&](int at) {
            return image.pixelColor((kHexAreaColumn + 3 * (at % 16) + 2) * cw + cw / 2,
                                    at / 16 * lh + lh / 2);
        };
        QCOMPARE(blank(3), QColor(Qt::white));
        QCOMPARE(blank(21), DarkPalette().color(QPalette::Highlight));
        QCOMPARE(blank(40), DarkPalette().color(QPalette::Base));
        QCOMPARE(image.pixelColor(1, lh + 1), QColor(Qt::white));
        hex.grab().save(ShotsDir() + "/hex-dark.png");
    }
};

QTEST_MAIN(DarkPaletteTest)
#include "dark_palette_test.moc"
