// The program as a user meets it, on a real display (Xvfb) inside a network namespace of the test's own:
// started with "start capturing" on loopback, it lists a local HTTP exchange, shows the request in the
// decode tree, the hex view and the payload view, and saves a file that pacterra-cli reads back the same.
// Screenshots are kept in the build tree (tests/integration/screenshots/).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QtTest>

#include <atomic>
#include <thread>

#include "NetNamespace.h"
#include "app/MainFrame.h"
#include "app/TrawlerApp.h"
#include "app/TrawlerView.h"
#include "app/WindowFrontEnd.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "ui/TabWnd.h"
#include "views/HexView.h"
#include "views/HexViewCtrl.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/PayloadTextCtrl.h"
#include "views/ProtocolTreeView.h"

namespace {

std::string g_skipReason;
const QString kShots = QStringLiteral(PACTERRA_BINARY_DIR "/tests/integration/screenshots");
constexpr uint16_t kHttpPort = 8080;

// One HTTP exchange on loopback: a server that answers one request, and a client that sends it.
bool HttpExchange() {
    int server = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(kHttpPort);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(server, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(server, 1) != 0) {
        ::close(server);
        return false;
    }
    std::thread answer([server] {
        int peer = ::accept(server, nullptr, nullptr);
        char request[1024];
        (void)::recv(peer, request, sizeof request, 0);
        const char reply[] =
            "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>Hello</body></html>";
        (void)::send(peer, reply, sizeof reply - 1, 0);
        ::close(peer);
    });
    int client = ::socket(AF_INET, SOCK_STREAM, 0);
    bool ok = ::connect(client, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    const char request[] = "GET /index.html HTTP/1.0\r\nHost: 127.0.0.1\r\nUser-Agent: e2e\r\n\r\n";
    ok = ok && ::send(client, request, sizeof request - 1, 0) == static_cast<ssize_t>(sizeof request - 1);
    char reply[512];
    while (ok && ::recv(client, reply, sizeof reply, 0) > 0) {
    }
    ::close(client);
    answer.join();
    ::close(server);
    return ok;
}

// The rows of a list as the cells' texts joined by tabs, as pacterra-cli prints them.
QStringList Rows(const QAbstractItemModel* model) {
    QStringList rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->index(r, c).data().toString();
        rows << cells.join('\t');
    }
    return rows;
}

int FindRow(const QAbstractItemModel* model, int column, const QString& start) {
    for (int r = 0; r < model->rowCount(); ++r)
        if (model->index(r, column).data().toString().contains(start))
            return r;
    return -1;
}

int LastRow(const QAbstractItemModel* model, int column, const QString& part) {
    for (int r = model->rowCount() - 1; r >= 0; --r)
        if (model->index(r, column).data().toString().contains(part))
            return r;
    return -1;
}

void Click(QAbstractItemView* view, int row) {
    const QRect cell = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
}

}  // namespace

class WindowEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!g_skipReason.empty())
            QSKIP(g_skipReason.c_str());
        QDir().mkpath(kShots);
    }

    void captureInspectSave() {
        auto* app = qobject_cast<CTrawlerApp*>(qApp);
        int exitCode = 0;
        QVERIFY(app->InitInstance(&exitCode));
        CMainFrame* frame = app->MainFrame();
        // This test's own rules: keep everything (a Config.cfg of other tests may sit beside the program).
        g_config.ApplyDefaults();
        QStringList shown;
        QString savePath = kShots + "/e2e.cap";
        QFile::remove(savePath);
        frame->FrontEnd()->SetPromptScript([&shown](const QString& text, MsgButtons, const QString& detail) {
            shown << text + (detail.isEmpty() ? "" : " | " + detail);
            return MsgAnswer::Ok;
        });
        frame->FrontEnd()->SetFileScript([&savePath](IPromptService::FileQuestion) { return savePath; });
        frame->activateWindow();  // no window manager
        QVERIFY(QTest::qWaitForWindowExposed(frame));

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
        QTest::qWait(300);  // the status panes' next refresh
        frame->grab().save(kShots + "/e2e-packet.png");
        auto* tabs = qobject_cast<TTabWnd*>(frame->TabArea());
        QVERIFY(tabs);
        QVERIFY(tabs->SelectTab(1, true));
        QTest::qWait(100);
        frame->grab().save(kShots + "/e2e-data.png");
        QVERIFY(tabs->SelectTab(0, true));

        frame->Action(ID_STOP)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(g_captureState.load(), int(CAPTURE_IDLE), 10000);
        QTRY_VERIFY(frame->Action(ID_START)->isEnabled());
        connections->Sync();
        const QStringList windowRows = Rows(connections->model());
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
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    {
        QSettings settings(home.path() + "/Morvane/Pacterra.conf", QSettings::IniFormat);
        settings.setValue("Filter/Startcap", 1);
        settings.setValue("Filter/Minimized", 0);
        settings.setValue("Config/Adapter", "lo");
        settings.setValue("Tip/StartUp", 1);  // no tip over the window
    }
    // The window's own start-up; the test's own arguments are not the program's.
    int appArgc = 1;
    CTrawlerApp app(appArgc, argv);
    WindowEndToEndTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "window_e2e_test.moc"
