#include <QMenuBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "../WindowHarness.h"
#include "app/MainFrame.h"
#include "capture/LiveCapture.h"
#include "capture/PacketStore.h"
#include "ui/CaptionBars.h"
#include "ui/TrafficBar.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/StoreWatcher.h"
#include "views/TrafficGraph.h"

namespace {

const QString kSample = QStringLiteral(PACTERRA_SOURCE_DIR "/res/sample.cap");
constexpr int64_t kSec = 1'000'000;

QAction* FindCommand(QMainWindow& frame, int command) {
    for (QAction* menu : frame.menuBar()->actions())
        for (QAction* entry : menu->menu()->actions())
            if (entry->data().toInt() == command)
                return entry;
    return nullptr;
}

}  // namespace

class TrafficTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(UseTemporaryHome(m_home)); }

    void init() {
        m_frame = NewMainWindow();
        AnswerMessages(*m_frame, Always(MsgAnswer::No));
        QVERIFY(ShowMainWindow(*m_frame));
    }

    void cleanup() { CloseMainWindow(m_frame); }

    // Hidden at first start; the View menu's toggle shows it, and the next window remembers.
    void toggleIsRemembered() {
        QSettings(QStringLiteral("Morvane"), QStringLiteral("Pacterra")).remove(CTrafficBar::kShownKey);
        m_frame = std::make_unique<CMainFrame>();
        LoadStartupConfiguration();
        m_frame->show();
        QAction* toggle = FindCommand(*m_frame, CTrafficBar::kToggleCommand);
        QVERIFY(toggle);
        QCOMPARE(toggle->text(), QString("T&raffic Bar"));
        QVERIFY(toggle->isCheckable());
        QVERIFY(!toggle->isChecked());
        QVERIFY(m_frame->TrafficBar()->isHidden());
        QCOMPARE(m_frame->TrafficBar()->windowTitle(), QString("Traffic"));

        toggle->trigger();
        QVERIFY(toggle->isChecked());
        QVERIFY(m_frame->TrafficBar()->isVisible());
        QCOMPARE(m_frame->dockWidgetArea(m_frame->TrafficBar()), Qt::BottomDockWidgetArea);

        m_frame = std::make_unique<CMainFrame>();
        LoadStartupConfiguration();
        m_frame->show();
        QVERIFY(FindCommand(*m_frame, CTrafficBar::kToggleCommand)->isChecked());
        QVERIFY(m_frame->TrafficBar()->isVisible());
        // Its caption's close glyph hides it as the toggle does.
        const QPoint glyph = m_frame->TrafficBar()->m_caption->GlyphRect().center();
        QTest::mouseClick(m_frame->TrafficBar()->m_caption, Qt::LeftButton, {}, glyph);
        QVERIFY(m_frame->TrafficBar()->isHidden());
        QVERIFY(!FindCommand(*m_frame, CTrafficBar::kToggleCommand)->isChecked());
        QVERIFY(!QSettings(QStringLiteral("Morvane"), QStringLiteral("Pacterra"))
                     .value(CTrafficBar::kShownKey)
                     .toBool());
        FindCommand(*m_frame, CTrafficBar::kToggleCommand)->trigger();
        FindCommand(*m_frame, CTrafficBar::kToggleCommand)->trigger();
        QVERIFY(m_frame->TrafficBar()->isHidden());
        m_frame = std::make_unique<CMainFrame>();
        LoadStartupConfiguration();
        QVERIFY(m_frame->TrafficBar()->isHidden());
        // Closing it by its title bar is not possible: only the toggle hides it, so it is never lost.
        QVERIFY(!(m_frame->TrafficBar()->features() & QDockWidget::DockWidgetClosable));
    }

    // A file: the whole capture fits, the activated connection gets its lines, a click selects its packet.
    void fileFitsAndClickSelectsPacket() {
        Show();
        m_frame->OpenFileAtStartup(kSample);
        QVERIFY(WaitForOpen(*m_frame));
        CTrafficGraph* graph = m_frame->TrafficBar()->Graph();
        graph->Refresh();
        const RateBins& all = graph->Rates().All();
        QCOMPARE(all.TotalPackets(), uint64_t(g_packetTable.size()));
        int64_t first = 0, last = 0;
        QVERIFY(all.Span(first, last));
        QVERIFY(graph->IsAutomatic());
        graph->grab();  // paints, so the series are made
        QVERIFY(graph->ViewFrom() <= first && graph->ViewTo() > last);
        // Not narrower than a pixel.
        QVERIFY(graph->BinWidthUs() * graph->PlotRect().width() >= graph->ViewTo() - graph->ViewFrom());

        // Activating connection 2 in the connections list draws its lines.
        m_frame->ConnectionsList()->Sync();
        m_frame->ConnectionsList()->SelectAndActivate(2);
        QCOMPARE(m_frame->PacketsList()->CurrentConnection(), 2);
        graph->Refresh();
        QCOMPARE(graph->Connection(), 2);
        QVERIFY(graph->Rates().ToServer().TotalBytes() > 0);
        QVERIFY(graph->Rates().ToClient().TotalBytes() > 0);
        QCOMPARE(graph->Rates().ToServer().TotalPackets() + graph->Rates().ToClient().TotalPackets(),
                 uint64_t(g_connectionTable[2].packetIndices.size()));

        // A click on the moment of the connection's fifth packet selects that packet.
        const int64_t t = PacketMicros(g_packetTable[g_connectionTable[2].packetIndices[4]]);
        graph->SetView(t - kSec / 20, t + kSec / 20);
        graph->grab();
        const int64_t bin = graph->BinWidthUs();
        QVERIFY(bin <= 10'000);
        const int expected = static_cast<int>(graph->Rates().ConnectionPacketAtOrAfter(t));
        QCOMPARE(expected, 4);
        const QPoint at(static_cast<int>(graph->XOfTime(t)) + 1, graph->PlotRect().center().y());
        QSignalSpy chosen(graph, &CTrafficGraph::momentChosen);
        QTest::mouseClick(graph, Qt::LeftButton, {}, at);
        QCOMPARE(chosen.size(), 1);
        const int64_t moment = chosen.at(0).at(0).toLongLong();
        QVERIFY(moment <= t && moment > t - bin);
        const int row = static_cast<int>(graph->Rates().ConnectionPacketAtOrAfter(moment));
        QCOMPARE(m_frame->PacketsList()->HighlightedRow(), row);
        QVERIFY(row >= 0);
        QVERIFY(PacketMicros(g_packetTable[g_connectionTable[2].packetIndices[static_cast<size_t>(row)]]) >=
                moment);

        // Kept in the build tree to be looked at: the window with the whole capture in the graph.
        graph->FitAll();
        const QString shots = QCoreApplication::applicationDirPath() + "/screenshots";
        QDir().mkpath(shots);
        QVERIFY(m_frame->grab().save(shots + "/traffic-sample.png"));
    }

    // Wheel zoom keeps the moment under the cursor; a drag pans; a double click fits all again.
    void zoomPanAndFit() {
        Show();
        m_frame->OpenFileAtStartup(kSample);
        QVERIFY(WaitForOpen(*m_frame));
        CTrafficGraph* graph = m_frame->TrafficBar()->Graph();
        graph->Refresh();
        graph->grab();
        const QRect plot = graph->PlotRect();
        const QPoint at(plot.left() + plot.width() / 3, plot.center().y());
        const int64_t before = graph->TimeAtX(at.x());
        const int64_t spanBefore = graph->ViewTo() - graph->ViewFrom();
        QWheelEvent wheel(at, graph->mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(graph, &wheel);
        QVERIFY(!graph->IsAutomatic());
        const int64_t spanAfter = graph->ViewTo() - graph->ViewFrom();
        QVERIFY(spanAfter < spanBefore * 0.7 && spanAfter > spanBefore * 0.6);
        QVERIFY(std::abs(graph->TimeAtX(at.x()) - before) <= spanAfter / plot.width() + 1);

        const int64_t from = graph->ViewFrom();
        QTest::mousePress(graph, Qt::LeftButton, {}, at);
        QTest::mouseMove(graph, at + QPoint(50, 0));
        QTest::mouseRelease(graph, Qt::LeftButton, {}, at + QPoint(50, 0));
        // Dragged right: earlier times come into view.
        QVERIFY(graph->ViewFrom() < from);
        QCOMPARE(graph->ViewTo() - graph->ViewFrom(), spanAfter);

        QTest::mouseDClick(graph, Qt::LeftButton, {}, at);
        QVERIFY(graph->IsAutomatic());
        graph->grab();
        QCOMPARE(graph->ViewTo() - graph->ViewFrom(), spanBefore);

        // Hovering tells the time and the values of the bin under the cursor.
        QTest::mouseMove(graph, at);
        const QStringList texts = graph->HoverTexts(at.x());
        QVERIFY(texts.size() >= 2);
        QVERIFY(texts[1].contains("packets/s"));

        // The bar's menu chooses the bin width.
        QTimer::singleShot(0, graph, [] {
            for (QAction* a : QApplication::activePopupWidget()->findChildren<QAction*>())
                if (a->text() == "100 ms")
                    a->trigger();
            QApplication::activePopupWidget()->close();
        });
        QContextMenuEvent menu(QContextMenuEvent::Mouse, at, graph->mapToGlobal(at));
        QApplication::sendEvent(graph, &menu);
        QCOMPARE(graph->ChosenBinWidth(), 100'000);
        graph->grab();
        QVERIFY(graph->BinWidthUs() >= 100'000);

        // Start shows the last minute, Stop everything again, at once (no mouse over the graph).
        int64_t first = 0, last = 0;
        QVERIFY(graph->Rates().All().Span(first, last));
        g_captureState = CAPTURE_RUNNING;
        graph->Refresh();
        QTRY_COMPARE(graph->ViewTo(), last + 1);
        g_captureState = CAPTURE_IDLE;
        graph->Refresh();
        QTRY_VERIFY(graph->ViewTo() > last + 1);
    }

    // Emptying the store empties the graph; it never keeps the old capture's counts.
    void resetEmptiesTheGraph() {
        Show();
        m_frame->OpenFileAtStartup(kSample);
        QVERIFY(WaitForOpen(*m_frame));
        CTrafficGraph* graph = m_frame->TrafficBar()->Graph();
        graph->Refresh();
        QVERIFY(graph->Rates().All().TotalPackets() > 0);
        graph->ZoomAt(graph->PlotRect().center().x(), 0.5);
        ResetCapture();
        CStoreWatcher::Instance()->Poll();
        QVERIFY(graph->IsAutomatic());  // a new capture is not seen through the last one's zoom
        graph->Refresh();
        QCOMPARE(graph->Rates().All().TotalPackets(), uint64_t(0));
        graph->grab();
    }

private:
    void Show() {
        if (m_frame->TrafficBar()->isHidden())
            FindCommand(*m_frame, CTrafficBar::kToggleCommand)->trigger();
    }

    QTemporaryDir m_home;
    std::unique_ptr<CMainFrame> m_frame;
};

QTEST_MAIN(TrafficTest)
#include "traffic_test.moc"
