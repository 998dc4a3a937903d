// The docking bars that hold the lists: their place at start, the sizes they keep when floated, docked
// elsewhere and restarted, their title bars, and what a close request or the close glyph does.
#include <QMainWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include "ListsTestSupport.h"
#include "ui/CaptionBars.h"
#include "ui/ListBars.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"

class BarsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_settings;
    QMainWindow* m_frame = nullptr;
    CConnectionsBar* m_connections = nullptr;
    CPacketsBar* m_packets = nullptr;

    void Open() {
        m_frame = new QMainWindow;
        m_frame->setCentralWidget(new QTextEdit);
        m_frame->resize(900, 700);
        m_connections = new CConnectionsBar(m_frame);
        m_packets = new CPacketsBar(m_frame);
        DockListBars(m_frame, m_connections, m_packets);
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame));
    }

private slots:
    void initTestCase() {
        QVERIFY(m_settings.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
    }
    void init() { Open(); }
    void cleanup() { delete m_frame; }

    void sideBySideAtTheTop() {
        // Two thirds of the width, less the separator between the bars.
        QTRY_VERIFY(std::abs(m_connections->width() - (2 * 900 / 3 + 1)) <= 6);
        QCOMPARE(m_frame->dockWidgetArea(m_connections), Qt::TopDockWidgetArea);
        QCOMPARE(m_frame->dockWidgetArea(m_packets), Qt::TopDockWidgetArea);
        QCOMPARE(m_connections->y(), m_packets->y());
        QVERIFY(m_connections->x() < m_packets->x());
        QCOMPARE(m_connections->height(), 200);
        QVERIFY(m_connections->features() & QDockWidget::DockWidgetVerticalTitleBar);
        QVERIFY(!(m_connections->features() & QDockWidget::DockWidgetClosable));
        // The list fills the bar beside its caption strip.
        QWidget* list = m_connections->widget();
        QVERIFY(list->width() >= m_connections->width() - CSizingControlBarG::kGripSize - 12);
        QVERIFY(list->height() >= m_connections->height() - 8);
    }

    void sizesKeptAcrossFloatingAndSides() {
        QTRY_COMPARE(m_connections->height(), 200);
        m_frame->resizeDocks({m_connections}, {150}, Qt::Vertical);
        QTRY_COMPARE(m_connections->height(), 150);
        const QSize docked = m_connections->m_sizeHorz;
        QCOMPARE(docked.height(), 150);

        m_connections->m_sizeFloat = QSize(320, 240);
        m_connections->ToggleDocking();
        QVERIFY(m_connections->IsBarFloating());
        QTRY_COMPARE(m_connections->size(), QSize(320, 240));
        QVERIFY(!(m_connections->features() & QDockWidget::DockWidgetVerticalTitleBar));
        m_connections->resize(400, 260);
        QTRY_COMPARE(m_connections->m_sizeFloat, QSize(400, 260));

        m_connections->ToggleDocking();
        QVERIFY(!m_connections->IsBarFloating());
        QTRY_COMPARE(m_connections->height(), 150);
        QCOMPARE(m_connections->m_sizeHorz.height(), 150);
        QCOMPARE(m_connections->m_sizeFloat, QSize(400, 260));

        // Docked at the side it takes its side size, with the strip along its top.
        m_connections->m_sizeVert = QSize(260, 300);
        m_frame->addDockWidget(Qt::LeftDockWidgetArea, m_connections);
        QTRY_COMPARE(m_connections->width(), 260);
        QVERIFY(!(m_connections->features() & QDockWidget::DockWidgetVerticalTitleBar));
        QCOMPARE(m_connections->m_sizeHorz.height(), 150);

        // A close request leaves it where it is.
        QVERIFY(!m_connections->close());
        QVERIFY(m_connections->isVisible());
    }

    // Once the window has closed, a floating bar closes too: it must not keep the program from ending.
    void floatingBarClosesWithItsWindow() {
        QTRY_COMPARE(m_packets->height(), 200);
        const QSize docked = m_packets->size();
        m_packets->ToggleDocking();
        QVERIFY(m_packets->IsBarFloating());
        // At first it floats at the size it had docked, not a size too small to use.
        QTRY_COMPARE(m_packets->size(), docked);
        QVERIFY(!m_packets->close());
        QVERIFY(m_packets->isVisible());
        m_frame->close();
        QVERIFY(m_packets->close());
        QVERIFY(!m_packets->isVisible());
    }

    void sizesSurviveARestart() {
        m_packets->m_sizeHorz = QSize(300, 180);
        m_packets->m_sizeVert = QSize(210, 400);
        m_packets->m_sizeFloat = QSize(350, 250);
        m_packets->SaveBarSizes(kBarSizesProfile);
        {
            QSettings settings("Morvane", "Pacterra");
            QCOMPARE(settings.value("Bars-SCBar-125/sizeVertCY").toInt(), 400);
            settings.setValue("Bars-SCBar-125/sizeFloatCX", 5);  // below the minimum
        }
        delete m_frame;
        Open();
        m_packets->LoadBarSizes(kBarSizesProfile);
        QCOMPARE(m_packets->m_sizeHorz.height(), 180);
        QCOMPARE(m_packets->m_sizeVert, QSize(210, 400));
        QCOMPARE(m_packets->m_sizeFloat, QSize(37, 250));
        QTRY_COMPARE(m_packets->height(), 180);
        // Nothing stored: the sizes stay.
        const QSize before = m_connections->m_sizeVert;
        m_connections->LoadBarSizes("Elsewhere");
        QCOMPARE(m_connections->m_sizeVert, before);
    }

    void captionsAndGlyph() {
        auto* caption = m_packets->m_caption;
        QCOMPARE(m_packets->windowTitle(), QString("Packets"));
        m_packets->m_wndList->ShowConnection(-1);
        QCOMPARE(m_packets->windowTitle(), QString("Packets"));

        // Active while the keyboard focus is inside the bar; inactive text is RGB(230, 230, 230).
        auto hasInactiveText = [&] {
            const QImage image = caption->grab().toImage();
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixelColor(x, y) == QColor(230, 230, 230))
                        return true;
            return false;
        };
        m_frame->centralWidget()->setFocus();
        QTRY_VERIFY(!caption->IsCaptionActive());
        QVERIFY(hasInactiveText());
        m_packets->m_wndList->setFocus();
        QTRY_VERIFY(caption->IsCaptionActive());
        QVERIFY(!hasInactiveText());
        QVERIFY(!m_connections->m_caption->IsCaptionActive());

        // The glyph looks pushed while held; released away from it, nothing happens.
        const QPoint glyph = caption->GlyphRect().center();
        QTest::mousePress(caption, Qt::LeftButton, {}, glyph);
        QVERIFY(caption->IsGlyphPushed());
        QTest::mouseMove(caption, glyph + QPoint(0, 40));
        QVERIFY(!caption->IsGlyphPushed());
        QTest::mouseRelease(caption, Qt::LeftButton, {}, glyph + QPoint(0, 40));
        QVERIFY(m_packets->isVisible());
        // Released over it, it hides the bar, which stays docked where it was.
        QTest::mousePress(caption, Qt::LeftButton, {}, glyph);
        QVERIFY(caption->IsGlyphPushed());
        QTest::mouseRelease(caption, Qt::LeftButton, {}, glyph);
        QVERIFY(!caption->IsGlyphPushed());
        QVERIFY(m_packets->isHidden());
        QVERIFY(m_connections->isVisible());
        m_packets->show();
        QVERIFY(m_packets->isVisible());
        QVERIFY(!m_packets->IsBarFloating());
        QCOMPARE(m_frame->dockWidgetArea(m_packets), Qt::TopDockWidgetArea);

        // Floating, the frame's caption shows the title and follows the packets list.
        m_packets->ToggleDocking();
        QVERIFY(!caption->ShowsGrip());
        QVERIFY(caption->GlyphRect().isNull());
        StartFeeding();
        for (bool toServer : {true, false, true})
            FeedPacket(0, toServer, "x");
        m_packets->m_wndList->ShowConnection(0);
        QCOMPARE(m_packets->window()->windowTitle(), QString("3 Packets in Connection No.0"));
        m_packets->m_wndList->ShowConnection(-1);
        QCOMPARE(m_packets->window()->windowTitle(), QString("Packets"));
        ResetCaptureStore();
        // A double-click on the caption docks it again.
        QTest::mouseDClick(caption, Qt::LeftButton, {}, QPoint(30, caption->height() / 2));
        QTRY_VERIFY(!m_packets->IsBarFloating());

        // The dock toggle brings a hidden bar back, floating.
        m_packets->hide();
        m_packets->ToggleDocking();
        QVERIFY(m_packets->isVisible());
        QVERIFY(m_packets->IsBarFloating());
    }
};

QTEST_MAIN(BarsTest)
#include "bars_test.moc"
