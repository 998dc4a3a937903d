// The wider intake in the real window on a real display (Xvfb): with "Also keep IPv6, VLAN-tagged and Linux
// cooked frames" on, a live capture on one end of a veth pair (2001:db8::1, in the test's own network
// namespace) lists an HTTP exchange over IPv6 with a server on the other end (2001:db8::2, in a second
// namespace), and shows its IPv6 decode, the decode line's bytes selected in the hex view, and the payload.
// Root only. Screenshots are kept in the build tree (tests/integration/screenshots/).
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QtTest>

#include <cstdlib>

#include "WindowSuite.h"
#include "app/TrawlerView.h"
#include "app/WindowFrontEnd.h"
#include "views/HexView.h"
#include "views/HexViewCtrl.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/PayloadTextCtrl.h"
#include "views/ProtocolTreeView.h"

namespace {

constexpr char kPeer[] = "pacterra-wide-peer";
constexpr uint16_t kHttpPort = 8080;
pid_t g_server = -1;

bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// The veth pair, the peer namespace and the HTTP server in it. Empty when ready, else why not.
std::string MakeIpv6Link() {
    const std::string peer = kPeer;
    Run("ip netns del " + peer + " 2>/dev/null");
    if (!Run("ip netns add " + peer) || !Run("ip link add wide0 type veth peer name wide1 netns " + peer) ||
        !Run("ip -6 addr add 2001:db8::1/64 dev wide0 nodad") || !Run("ip link set wide0 up") ||
        !Run("ip -n " + peer + " -6 addr add 2001:db8::2/64 dev wide1 nodad") ||
        !Run("ip -n " + peer + " link set wide1 up") || !Run("ip -n " + peer + " link set lo up"))
        return "cannot make the veth pair with IPv6 addresses";
    g_server = ::fork();
    if (g_server == 0) {
        const std::string port = std::to_string(kHttpPort);
        ::execlp("ip", "ip", "netns", "exec", kPeer, "python3", "-m", "http.server", port.c_str(), "--bind",
                 "2001:db8::2", "--directory", "/usr/share/doc/libpcap0.8", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return g_server > 0 ? std::string() : "cannot start the HTTP server";
}

void RemoveIpv6Link() {
    if (g_server > 0) {
        ::kill(g_server, SIGTERM);
        g_server = -1;
    }
    Run(std::string("ip netns del ") + kPeer + " 2>/dev/null");
}

// One HTTP request over IPv6 to the server on the other end; true when an answer came.
bool HttpExchange() {
    return HttpRequest("2001:db8::2", kHttpPort,
                       "GET / HTTP/1.0\r\nHost: [2001:db8::2]:8080\r\nUser-Agent: wide-e2e\r\n\r\n");
}

QTreeWidgetItem* FindLine(QTreeWidget* tree, const QString& start) {
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if ((*it)->text(0).startsWith(start))
            return *it;
    return nullptr;
}

}  // namespace

class WindowWideTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SkipUnlessReady(); }

    void cleanupTestCase() { RemoveIpv6Link(); }

    void ipv6HttpExchangeLive() {
        CMainFrame* frame = StartedWindow();
        QVERIFY(frame);
        QCOMPARE(g_config.wideIntake, 1);  // from the settings file (the default rules leave it)
        QStringList shown;
        RecordMessages(*frame, shown, Always(MsgAnswer::Ok));
        frame->resize(1260, 860);
        QVERIFY(Expose(*frame));
        QTRY_COMPARE_WITH_TIMEOUT(g_captureState.load(), int(CAPTURE_RUNNING), 5000);

        CListCtrlLeft* connections = frame->ConnectionsList();
        const QString server = QStringLiteral("[2001:db8::2]:8080");
        for (int attempt = 0; attempt < 40 && FindRow(connections->model(), 3, server) < 0; ++attempt) {
            HttpExchange();
            QTest::qWait(500);
        }
        const int row = FindRow(connections->model(), 3, server);
        QVERIFY2(row >= 0, qPrintable("no row for the IPv6 exchange; messages: " + shown.join('\n')));
        QVERIFY(connections->model()->index(row, 2).data().toString().startsWith("[2001:db8::1]:"));
        QCOMPARE(connections->model()->index(row, 4).data().toString(), QStringLiteral("TCP"));
        // The column shows the whole endpoint.
        const QString client = connections->model()->index(row, 2).data().toString();
        QVERIFY(connections->columnWidth(2) >= connections->fontMetrics().horizontalAdvance(client));
        Click(connections, row);

        CListCtrlRight* packets = frame->PacketsList();
        QTRY_VERIFY_WITH_TIMEOUT(FindRow(packets->model(), 3, "GET") >= 0, 10000);
        Click(packets, FindRow(packets->model(), 3, "GET"));
        CProtocolTreeView* tree = frame->TreeView();
        QTRY_VERIFY_WITH_TIMEOUT(FindLine(tree, "IPv6 Header"), 10000);
        QVERIFY(FindLine(tree, "TCP Header"));
        QTreeWidgetItem* source = FindLine(tree, "Src IP: 2001:db8::1");
        QVERIFY(source);
        tree->setCurrentItem(source);
        CHexViewCtrl* hex = frame->HexView()->HexCtrl();
        QVERIFY(hex->HasSelection());
        QCOMPARE(hex->SelectionFirst(), 22);  // 14 bytes of Ethernet, 8 of the IPv6 header
        QCOMPARE(hex->SelectionLast(), 37);
        CPayloadTextCtrl* payload = frame->MainView()->PayloadViewer();
        QVERIFY(payload->toPlainText().startsWith("GET / HTTP/1.0"));
        QTest::qWait(400);  // the status panes' next refresh
        QVERIFY(ShootPacketAndDataTabs(*frame, "wide-ipv6"));

        QVERIFY(StopCapture(*frame, 10000));
        g_unsavedPackets = 0;  // nothing to save here
        QVERIFY(frame->close());
    }
};

int main(int argc, char** argv) {
    // Before the display connection and any thread: the namespace is process-wide.
    g_skipReason = EnterPrivateNetwork();
    if (g_skipReason.empty() && std::system("command -v python3 >/dev/null") != 0)
        g_skipReason = "python3 is needed for the HTTP server";
    if (g_skipReason.empty())
        g_skipReason = MakeIpv6Link();
    const int status =
        RunCapturingAtStartup<WindowWideTest>(argc, argv, "wide0", {{"Intake/AlsoKeepWide", 1}});
    RemoveIpv6Link();
    return status;
}

#include "window_wide_test.moc"
