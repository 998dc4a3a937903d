// The program as a user meets it, on a real display (Xvfb) inside a network namespace of the test's own:
// started with "start capturing" on loopback, it lists a local HTTP exchange, shows the request in the
// decode tree, the hex view and the payload view, and saves a file that pacterra-cli reads back the same.
// Screenshots are kept in the build tree (tests/integration/screenshots/).
#include <QDir>
#include <QProcess>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QtTest>

#include "WindowSuite.h"
#include "app/TrawlerView.h"
#include "app/WindowFrontEnd.h"
#include "views/ConnectionsModel.h"
#include "views/HexView.h"
#include "views/HexViewCtrl.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/PayloadTextCtrl.h"
#include "views/ProtocolTreeView.h"

namespace {

// One HTTP exchange on loopback port 8080.
bool HttpExchange() {
    return LoopbackHttpExchange(
        8080, "GET /index.html HTTP/1.0\r\nHost: 127.0.0.1\r\nUser-Agent: e2e\r\n\r\n",
        "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>Hello</body></html>");
}

}  // namespace

class WindowEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SkipUnlessReady(); }

    void captureInspectSave() {
        CMainFrame* frame = StartedWindow();
        QVERIFY(frame);
        QStringList shown;
        QString savePath = kShots + "/e2e.cap";
        QFile::remove(savePath);
        RecordMessages(*frame, shown, Always(MsgAnswer::Ok));
        frame->FrontEnd()->SetFileScript([&savePath](IPromptService::FileQuestion) { return savePath; });
        QVERIFY(Expose(*frame));

        // Started by the start-up option, through the Start command.
        QTRY_COMPARE_WITH_TIMEOUT(g_captureState.load(), int(CAPTURE_RUNNING), 5000);
        QVERIFY2(!frame->Action(ID_START)->isEnabled() || g_captureState.load() != CAPTURE_RUNNING,
                 "Start stays enabled while capturing");
        // The adapter opens a moment after the state changes: ask again until the exchange is seen.
        CListCtrlLeft* connections = frame->ConnectionsList();
        for (int attempt = 0; attempt < 40 && FindRow(connections->model(), 3, ":8080") < 0; ++attempt) {
            QVERIFY(HttpExchange());
            QTest::qWait(500);
        }
        QVERIFY2(FindRow(connections->model(), 3, ":8080") >= 0,
                 qPrintable("no row for the HTTP exchange; messages: " + shown.join('\n')));
        // The exchange that showed may have begun before the adapter opened (its request unseen): one more,
        // now that packets arrive, is seen whole, in the last row.
        const int seen = LastRow(connections->model(), 3, ":8080");
        QVERIFY(HttpExchange());
        QTRY_VERIFY_WITH_TIMEOUT(LastRow(connections->model(), 3, ":8080") > seen, 10000);
        const int row = LastRow(connections->model(), 3, ":8080");
        Click(connections, row);
        CListCtrlRight* packets = frame->PacketsList();
        QTRY_VERIFY_WITH_TIMEOUT(FindRow(packets->model(), 3, "GET") >= 0, 10000);
        Click(packets, FindRow(packets->model(), 3, "GET"));

        QTRY_VERIFY_WITH_TIMEOUT(frame->TreeView()->topLevelItemCount() > 0, 10000);
        QVERIFY(frame->HexView()->HexCtrl()->DataLength() > 54);
        CPayloadTextCtrl* payload = frame->MainView()->PayloadViewer();
        QVERIFY(payload->toPlainText().startsWith("GET /index.html"));
        QTextCursor at(payload->document());
        at.setPosition(1);
        QVERIFY2(at.charFormat().fontWeight() >= QFont::Bold, "GET is not bold");
        // The names: the request's Host, and a TLS ClientHello's server_name (openssl on loopback).
        QTRY_COMPARE_WITH_TIMEOUT(
            connections->model()->index(row, CConnectionsModel::kNameColumn).data().toString(),
            QString("127.0.0.1"), 5000);
        QProcess tlsServer;
        tlsServer.start("sh",
                        {"-c", "cd " + kShots +
                                   " && openssl req -x509 -newkey ec -pkeyopt "
                                   "ec_paramgen_curve:P-256 -nodes -keyout k.pem -out c.pem -subj /CN=e2e "
                                   "2>/dev/null && exec openssl s_server -accept 8443 -cert c.pem -key k.pem "
                                   "-quiet"});
        QTest::qWait(1500);
        QProcess::execute("sh", {"-c",
                                 "echo | timeout 5 openssl s_client -connect 127.0.0.1:8443 -servername "
                                 "tls.e2e.example >/dev/null 2>&1"});
        QTRY_VERIFY_WITH_TIMEOUT(
            FindRow(connections->model(), CConnectionsModel::kNameColumn, "tls.e2e.example") >= 0, 10000);
        tlsServer.kill();
        tlsServer.waitForFinished();
        // The list scrolled to its last column, for a shot of the names.
        connections->horizontalScrollBar()->setValue(connections->horizontalScrollBar()->maximum());
        QTest::qWait(100);
        connections->grab().save(kShots + "/e2e-names.png");
        QTest::qWait(300);  // the status panes' next refresh
        QVERIFY(ShootPacketAndDataTabs(*frame, "e2e"));

        QVERIFY(StopCapture(*frame, 10000));
        QTRY_VERIFY(frame->Action(ID_START)->isEnabled());
        connections->Sync();
        // The Process column is the live capture's own: a file has no owners.
        const QStringList windowRows = Rows(connections->model(), CConnectionsModel::kProcessColumn);
        frame->Action(ID_SAVE)->trigger();
        QVERIFY2(shown.contains("Captured packets saved successfully!"), qPrintable(shown.join('\n')));
        QCOMPARE(g_unsavedPackets.load(), 0);

        QProcess cli;
        cli.start(QStringLiteral(PACTERRA_BINARY_DIR "/bin/pacterra-cli"), {"connections", savePath});
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(cli.exitCode(), 0);
        QStringList cliRows = QString::fromUtf8(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(cliRows, windowRows);

        // Nothing unsaved: the window closes without a question.
        shown.clear();
        QVERIFY(frame->close());
        QVERIFY(shown.isEmpty());
    }
};

int main(int argc, char** argv) {
    // Before the display connection and any thread: the namespace is process-wide.
    g_skipReason = EnterPrivateNetwork();
    return RunCapturingAtStartup<WindowEndToEndTest>(argc, argv, "lo");
}

#include "window_e2e_test.moc"
