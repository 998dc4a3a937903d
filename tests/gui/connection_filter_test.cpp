// The filter line over the connections list and the export commands, on the real main window and engine.
#include <pcap/pcap.h>

#include <QAction>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include "../WindowHarness.h"
#include "../unit/FrameBuilder.h"
#include "app/MainFrame.h"
#include "app/TrawlerView.h"
#include "capture/CaptureFile.h"
#include "capture/Format.h"
#include "capture/PacketStore.h"
#include "ui/ListBars.h"
#include "ui/VisualFramework.h"
#include "views/ConnectionFilterLine.h"
#include "views/ConnectionsModel.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"

namespace {

const QString kSample = QStringLiteral(PACTERRA_SOURCE_DIR "/res/sample.cap");

// The "#" cells of the list, space-separated.
QString Numbers(const QAbstractItemModel* model) {
    QStringList numbers;
    for (int r = 0; r < model->rowCount(); ++r)
        numbers << model->index(r, 0).data().toString();
    return numbers.join(' ');
}

// Pixels of the filter line painted in the malformed words' red.
int RedPixels(QWidget* w) {
    const QImage image = w->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += c.red() > 150 && c.green() < 90 && c.blue() < 90;
        }
    return n;
}

int PacketsInFile(const QString& path) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(path.toUtf8().constData(), error);
    if (!p)
        return -1;
    int n = 0;
    pcap_pkthdr* h;
    const u_char* bytes;
    while (pcap_next_ex(p, &h, &bytes) == 1)
        ++n;
    pcap_close(p);
    return n;
}

// A packet between 10.0.0.1:`client` and 10.0.0.2:`server`.
void Feed(uint16_t client, uint16_t server, bool toServer = true) {
    FrameSpec s;
    s.srcPort = client;
    s.dstPort = server;
    if (!toServer) {
        std::swap(s.src, s.dst);
        std::swap(s.srcPort, s.dstPort);
    }
    FeedFrame(BuildFrame(s));
}

}  // namespace

class ConnectionFilterTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(UseTemporaryHome(m_home)); }

    void init() {
        m_frame = NewMainWindow();
        m_shown.clear();
        RecordMessages(*m_frame, m_shown, [this](const QString&, MsgButtons buttons) {
            return buttons == MsgButtons::Ok ? MsgAnswer::Ok : m_answer;
        });
        m_frame->FrontEnd()->SetFileScript([this](IPromptService::FileQuestion q) {
            m_asked << q;
            return m_path;
        });
        QVERIFY(ShowMainWindow(*m_frame));
        m_list = m_frame->ConnectionsList();
        m_line = m_frame->findChild<CConnectionFilterLine*>("connectionFilter");
        QVERIFY(m_line);
    }

    void cleanup() {
        g_captureState = CAPTURE_IDLE;
        g_unsavedPackets = 0;
        CloseMainWindow(m_frame);
    }

    void filterKeepsTheConnectionNumbers() {
        OpenSample();
        QCOMPARE(m_list->model()->rowCount(), 22);
        QTest::keyClicks(m_line, "port:80");
        QCOMPARE(Numbers(m_list->model()), QString("2 6 8 20 21"));
        QCOMPARE(m_frame->findChild<QLabel*>("connectionFilterCount")->text(),
                 QString("5 of 22 connections"));
        // Activation, the highlight and the packets list follow the connection, not the row.
        m_list->SelectAndActivate(1);
        QCOMPARE(m_frame->PacketsList()->CurrentConnection(), 6);
        QCOMPARE(m_frame->PacketsList()->Caption(), QString("14 Packets in Connection No.6"));
        QCOMPARE(m_list->HighlightedConnection(), 6);
        QCOMPARE(m_list->HighlightedRow(), 1);
        QCOMPARE(m_list->LineText(1).section(' ', 0, 0), QString("6"));
        // A word that hides the highlighted connection, then Escape: every row again, the highlight on 6.
        QTest::keyClicks(m_line, " -54740");
        QCOMPARE(Numbers(m_list->model()), QString("2 8 20 21"));
        QCOMPARE(m_list->HighlightedRow(), -1);
        QTest::keyClick(m_line, Qt::Key_Escape);
        QCOMPARE(m_line->text(), QString());
        QCOMPARE(m_list->model()->rowCount(), 22);
        QCOMPARE(m_list->HighlightedRow(), 6);
        QVERIFY(m_frame->findChild<QLabel*>("connectionFilterCount")->isHidden());
    }

    void selectionSurvivesANewExpression() {
        OpenSample();
        m_list->selectRow(8);
        QTest::keyClicks(m_line, "http");
        QCOMPARE(m_list->SelectedConnection(), 8);
        QTest::keyClicks(m_line, "s");
        QCOMPARE(m_list->SelectedRow(), -1);  // 8 is hidden by "https"
    }

    void malformedWordsAreRedWithTheReason() {
        OpenSample();
        QTest::keyClicks(m_line, "udp");
        const int red = RedPixels(m_line);
        // Typed at once (while typing, each usable prefix filters on its own).
        m_line->setText("udp port:99999");
        // The list keeps the last filter that could be used; the word is red and the tooltip says why.
        QCOMPARE(m_list->model()->rowCount(), 13);
        QCOMPARE(m_line->MalformedRanges(), (QList<QPair<int, int>>{{4, 10}}));
        QVERIFY2(m_line->toolTip().contains("\"99999\" is not a port number (0 to 65535)"),
                 qPrintable(m_line->toolTip()));
        QVERIFY(RedPixels(m_line) > red + 20);
        QVERIFY(m_shown.isEmpty());  // never a message box
        // The first reason shows in the bar itself, with what the list shows meanwhile; no count.
        auto* problem = m_frame->findChild<QLabel*>("connectionFilterProblem");
        QVERIFY(problem && problem->isVisible());
        QCOMPARE(problem->text(),
                 QString("word \"port:99999\" (column 5): \"99999\" is not a port number (0 to "
                         "65535). Not applied: the list still shows \"udp\"."));
        QVERIFY(m_frame->findChild<QLabel*>("connectionFilterCount")->isHidden());

        struct Case {
            QString text;
            const char* reason;
        } cases[] = {{QString(10000, 'x'), "longer than any text"},
                     {"http \"abc", "is not closed"},
                     {"host:not-an-address", "not an IPv4 or IPv6 address"},
                     {QString::fromUtf8("\xC3\xA9t\xC3\xA9 tcp"), "ASCII"},
                     {QString(5000, QChar(0x4E2D)), "ASCII"}};
        for (const Case& c : cases) {
            QElapsedTimer clock;
            clock.start();
            m_line->setText(c.text);
            QVERIFY2(clock.elapsed() < 2000, qPrintable(c.text.left(20)));
            QVERIFY2(m_line->toolTip().contains(c.reason), qPrintable(m_line->toolTip()));
            QVERIFY2(problem->text().contains(c.reason), qPrintable(problem->text()));
            QCOMPARE(m_line->MalformedRanges().size(), 1);
            QCOMPARE(m_list->model()->rowCount(), 13);
        }
        m_line->setText("tcp");
        QVERIFY(m_line->MalformedRanges().isEmpty());
        QCOMPARE(m_list->model()->rowCount(), 9);
        QVERIFY(problem->isHidden());
        // Typed in one go, a usable prefix on the way ("tcp port:9999") is not what the list keeps.
        QTest::keyClicks(m_line, " port:99999");
        QVERIFY2(problem->text().endsWith("the list still shows \"tcp\"."), qPrintable(problem->text()));
        QCOMPARE(m_list->model()->rowCount(), 9);
    }

    void keysComeToTheLine() {
        OpenSample();
        m_frame->activateWindow();
        m_list->setFocus();
        QTest::keyClick(m_frame->windowHandle(), Qt::Key_Slash);
        QTRY_VERIFY(m_line->hasFocus());
        QCOMPARE(m_line->text(), QString());  // the "/" focused the line, it did not type itself
        // In the line, "/" is text (a network's prefix).
        for (char c : QByteArray("host:192.168.1.0/24"))
            QTest::keyClick(m_frame->windowHandle(), c);
        QCOMPARE(m_line->text(), QString("host:192.168.1.0/24"));
        QCOMPARE(m_list->model()->rowCount(), 22);
        // Return goes to the list; Ctrl+L comes back and selects the text; Escape twice: cleared, then the
        // list.
        QTest::keyClick(m_frame->windowHandle(), Qt::Key_Return);
        QTRY_VERIFY(m_list->hasFocus());
        QTest::keyClick(m_frame->windowHandle(), Qt::Key_L, Qt::ControlModifier);
        QTRY_VERIFY(m_line->hasFocus());
        QCOMPARE(m_line->selectedText(), m_line->text());
        QTest::keyClick(m_frame->windowHandle(), Qt::Key_Escape);
        QCOMPARE(m_line->text(), QString());
        QTest::keyClick(m_frame->windowHandle(), Qt::Key_Escape);
        QTRY_VERIFY(m_list->hasFocus());
        // Elsewhere "/" is the view's: nothing filters. Ctrl+L reaches the line in a floating bar too.
        m_frame->Framework()->ActivateNode(m_frame->Framework()->FindNode(5));
        QWidget* data = m_frame->MainView();
        data->setFocus();
        QTRY_VERIFY(data->hasFocus());
        for (char c : QByteArray("/zz"))
            QTest::keyClick(m_frame->windowHandle(), c);
        QVERIFY(!m_line->hasFocus());
        QCOMPARE(m_line->text(), QString());
        m_frame->ConnectionsBar()->ToggleDocking();
        m_frame->activateWindow();
        QTRY_VERIFY(data->hasFocus());
        QTest::keyClick(m_frame->windowHandle(), Qt::Key_L, Qt::ControlModifier);
        QTRY_VERIFY(m_line->hasFocus());
    }

    // Connections that arrive while a filter is set: the matching ones appear as the list takes rows up, and
    // a filter on packet counts takes up connections that grew past it.
    void newConnectionsAppearLive() {
        ResetCaptureStore();
        g_skipFilter = 1;
        g_captureState = CAPTURE_RUNNING;
        Feed(40000, 80);  // 0
        Feed(40001, 53);  // 1
        m_list->Sync();
        m_line->setText("port:80");
        QCOMPARE(Numbers(m_list->model()), QString("0"));
        Feed(40002, 80);  // 2
        Feed(40003, 22);  // 3
        Feed(40004, 80);  // 4
        QTRY_COMPARE(Numbers(m_list->model()), QString("0 2 4"));
        QCOMPARE(m_list->model()->index(1, 5).data().toString(), QString("1"));
        Feed(40002, 80, false);
        QTRY_COMPARE(m_list->model()->index(1, 5).data().toString(), QString("2"));

        m_line->setText("packets>2");
        QCOMPARE(Numbers(m_list->model()), QString(""));
        m_list->selectRow(0);
        Feed(40003, 22, false);
        Feed(40003, 22);
        Feed(40001, 53, false);
        QTRY_COMPARE(Numbers(m_list->model()), QString("3"));
        Feed(40001, 53);
        Feed(40005, 443);  // 5
        QTRY_COMPARE(Numbers(m_list->model()), QString("1 3"));
        m_list->selectRow(1);
        m_line->setText("packets<3");
        QCOMPARE(Numbers(m_list->model()), QString("0 2 4 5"));
        Feed(40000, 80, false);
        Feed(40000, 80, false);
        QTRY_COMPARE(Numbers(m_list->model()), QString("2 4 5"));
        g_captureState = CAPTURE_IDLE;
    }

    void exportConnections() {
        OpenSample();
        QTemporaryDir dir;
        m_line->setText("port:80");
        // Only the shown ones (Yes), as CSV with the list's titles and cells.
        m_answer = MsgAnswer::Yes;
        m_path = dir.filePath("web.csv");
        m_frame->Action(ID_EXPORT_CONNECTIONS)->trigger();
        QCOMPARE(
            m_shown.value(0),
            QString("The filter shows 5 of 22 connections.\r\n\r\nDo you want to export only the connections "
                    "shown? (No exports all of them.)"));
        QCOMPARE(m_asked.value(0), IPromptService::FileQuestion::ExportConnections);
        QFile csv(m_path);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines.size(), 7);  // header, 5 rows, the empty piece after the last line end
        QVERIFY(lines[0].startsWith("number,start,last,client_ip,client_port,server_ip,server_port,"));
        QVERIFY(lines[1].startsWith("2,"));
        QCOMPARE(m_frame->statusBar()->currentMessage(), "5 connections exported to " + m_path + ".");

        // All of them (No), as JSON Lines by the name.
        m_answer = MsgAnswer::No;
        m_path = dir.filePath("all.jsonl");
        m_frame->Action(ID_EXPORT_CONNECTIONS)->trigger();
        QFile json(m_path);
        QVERIFY(json.open(QIODevice::ReadOnly));
        QCOMPARE(json.readAll().count('\n'), 22);

        // Cancel at the question, a cancelled file dialog, a folder that is not there: no file, a clear
        // message.
        m_shown.clear();
        m_answer = MsgAnswer::Cancel;
        m_path = dir.filePath("cancel.csv");
        m_frame->Action(ID_EXPORT_CONNECTIONS)->trigger();
        m_answer = MsgAnswer::Yes;
        m_path.clear();
        m_frame->Action(ID_EXPORT_CONNECTIONS)->trigger();
        m_path = dir.filePath("none/x.csv");
        m_frame->Action(ID_EXPORT_CONNECTIONS)->trigger();
        QCOMPARE(m_shown.size(), 4);
        QVERIFY2(m_shown.last().startsWith("Error when exporting the connections! Nothing was written. | " +
                                           m_path),
                 qPrintable(m_shown.last()));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"all.jsonl", "web.csv"}));
    }

    void exportPackets() {
        OpenSample();
        QTemporaryDir dir;
        m_frame->UpdateCommandStates();
        QVERIFY(!m_frame->Action(ID_EXPORT_CONNECTION_PACKETS)->isEnabled());
        m_line->setText("port:80");
        m_list->selectRow(0);
        m_frame->UpdateCommandStates();
        QVERIFY(m_frame->Action(ID_EXPORT_CONNECTION_PACKETS)->isEnabled());
        m_path = dir.filePath("one.pcap");
        m_frame->Action(ID_EXPORT_CONNECTION_PACKETS)->trigger();
        QCOMPARE(m_asked.value(0), IPromptService::FileQuestion::ExportPackets);
        QCOMPARE(PacketsInFile(m_path), 26);
        QCOMPARE(m_frame->statusBar()->currentMessage(),
                 "26 packets of connection 2 exported to " + m_path + ".");

        int shownPackets = 0;
        for (uint32_t c : m_list->ShownConnections())
            shownPackets += static_cast<int>(g_connectionTable[c].packetIndices.size());
        m_path = dir.filePath("shown.pcap");
        m_frame->Action(ID_EXPORT_SHOWN_PACKETS)->trigger();
        QCOMPARE(PacketsInFile(m_path), shownPackets);

        // A folder that is not there: the save's own message, no file.
        m_path = dir.filePath("none/x.pcap");
        m_frame->Action(ID_EXPORT_SHOWN_PACKETS)->trigger();
        QVERIFY2(m_shown.last().startsWith("PCAP Error: Error opening the dump file"),
                 qPrintable(m_shown.last()));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"one.pcap", "shown.pcap"}));
    }

private:
    void OpenSample() {
        m_answer = MsgAnswer::No;  // the rules' question: every packet
        m_frame->OpenFileAtStartup(kSample);
        QVERIFY(WaitForOpen(*m_frame));
        m_list->Sync();
        m_shown.clear();
        m_asked.clear();
    }

    QTemporaryDir m_home;
    std::unique_ptr<CMainFrame> m_frame;
    CListCtrlLeft* m_list = nullptr;
    CConnectionFilterLine* m_line = nullptr;
    QStringList m_shown;
    QList<IPromptService::FileQuestion> m_asked;
    MsgAnswer m_answer = MsgAnswer::No;
    QString m_path;
};

QTEST_MAIN(ConnectionFilterTest)
#include "connection_filter_test.moc"
