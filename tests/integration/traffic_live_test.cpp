// The Traffic bar during a live capture on loopback, inside a network namespace of the test's own: a loop
// sends a burst (UDP datagrams, and a request and its answer on one TCP connection), sleeps, sends again.
// The graph shows the bursts apart, and the TCP connection, activated in the connections list, gets its
// own lines in both directions. Screenshots are kept in the build tree (tests/integration/screenshots/).
#include <QDir>
#include <QtTest>

#include <atomic>
#include <thread>

#include "WindowSuite.h"
#include "analysis/StoreRates.h"
#include "app/WindowFrontEnd.h"
#include "ui/TrafficBar.h"
#include "views/ListCtrlLeft.h"
#include "views/TrafficGraph.h"

namespace {

constexpr uint16_t kTcpPort = 8081;
constexpr uint16_t kUdpPort = 9999;
constexpr int kBursts = 5;

// A TCP server that answers every chunk with a bigger one, and a UDP sink (no ICMP for the datagrams).
struct Peers {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    int sink = ::socket(AF_INET, SOCK_DGRAM, 0);
    std::thread server;

    bool Start() {
        int on = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in tcp = Loopback(kTcpPort), udp = Loopback(kUdpPort);
        if (::bind(listener, reinterpret_cast<sockaddr*>(&tcp), sizeof tcp) != 0 ||
            ::listen(listener, 1) != 0 || ::bind(sink, reinterpret_cast<sockaddr*>(&udp), sizeof udp) != 0)
            return false;
        server = std::thread([this] {
            const int peer = ::accept(listener, nullptr, nullptr);
            char chunk[65536];
            std::vector<char> answer(20000, 'a');
            while (::recv(peer, chunk, sizeof chunk, 0) > 0)
                (void)::send(peer, answer.data(), answer.size(), 0);
            ::close(peer);
        });
        return true;
    }
    ~Peers() {
        if (server.joinable())
            server.join();
        ::close(listener);
        ::close(sink);
    }
};

// One burst of about 300 ms: 150 datagrams of 200 to 1,000 bytes, and three 1,000-byte requests on the TCP
// connection (each answered with 20,000 bytes).
void Burst(int udp, int tcp, int n) {
    const sockaddr_in to = Loopback(kUdpPort);
    std::vector<char> data(1000, 'u');
    for (int i = 0; i < 150; ++i) {
        (void)::sendto(udp, data.data(), 200 + (i * 53 + n * 97) % 800, 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (i % 50 == 0)
            (void)::send(tcp, data.data(), 1000, 0);
        if (i % 10 == 9)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The pointer over `at` (without a window manager the window is never active, so QTest's own move does not
// reach it).
void Hover(QWidget* widget, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QTest::qWait(100);
}

// Runs of busy bins (at least `packets` packets and `bytes` bytes), apart by at least `gap` quiet bins: the
// bursts, whatever stray acknowledgements come between them.
int Runs(const std::vector<RatePoint>& points, int gap, uint64_t packets, uint64_t bytes) {
    int runs = 0, empty = gap;
    for (const RatePoint& p : points) {
        if (p.packets < packets || p.bytes < bytes) {
            ++empty;
            continue;
        }
        if (empty >= gap)
            ++runs;
        empty = 0;
    }
    return runs;
}

}  // namespace

class TrafficLiveTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SkipUnlessReady(); }

    void burstsAndTheChosenConnection() {
        CMainFrame* frame = StartedWindow();
        QVERIFY(frame);
        AnswerMessages(*frame, Always(MsgAnswer::No));
        QVERIFY(Expose(*frame));
        // Shown at start: the setting says the user left it shown.
        CTrafficBar* bar = frame->TrafficBar();
        QVERIFY(bar->isVisible());
        CTrafficGraph* graph = bar->Graph();
        QTRY_COMPARE_WITH_TIMEOUT(g_captureState.load(), int(CAPTURE_RUNNING), 5000);

        Peers peers;
        QVERIFY(peers.Start());
        const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
        // The adapter opens a moment after the state changes: wait until a first packet is stored.
        const sockaddr_in sink = Loopback(kUdpPort);
        for (int i = 0; i < 50 && g_packetTable.size() == 0; ++i) {
            (void)::sendto(udp, "probe", 5, 0, reinterpret_cast<const sockaddr*>(&sink), sizeof sink);
            QTest::qWait(100);
        }
        QVERIFY(g_packetTable.size() > 0);
        QTest::qWait(1500);
        // Connected right before the first burst, so that its handshake belongs to it.
        const int tcp = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in server = Loopback(kTcpPort);
        QVERIFY(::connect(tcp, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0);
        // The answers are read as they come, so that the server never waits for room.
        std::thread drain([tcp] {
            char answer[65536];
            while (::recv(tcp, answer, sizeof answer, 0) > 0) {
            }
        });

        // Send, sleep, send: the window keeps running its event loop meanwhile.
        std::atomic<bool> sent{false};
        std::thread sender([udp, tcp, &sent] {
            for (int n = 0; n < kBursts; ++n) {
                Burst(udp, tcp, n);
                std::this_thread::sleep_for(std::chrono::milliseconds(1200));
            }
            sent = true;
        });
        // The TCP connection is activated as soon as it is listed.
        CListCtrlLeft* connections = frame->ConnectionsList();
        QTRY_VERIFY_WITH_TIMEOUT(FindRow(connections->model(), 3, ":8081") >= 0, 5000);
        const int row = FindRow(connections->model(), 3, ":8081");
        connections->SelectAndActivate(row);
        QTRY_VERIFY_WITH_TIMEOUT(sent.load(), 20000);
        sender.join();
        QTest::qWait(700);  // two refreshes

        // Live, the last minute is in view; every burst stands apart, the connection's own too.
        QVERIFY(graph->IsAutomatic());
        QCOMPARE(graph->Connection(), row);
        QCOMPARE(g_captureState.load(), int(CAPTURE_RUNNING));
        QVERIFY(graph->ViewTo() - graph->ViewFrom() == CTrafficGraph::kLiveSpanUs);
        int64_t first = 0, last = 0;
        QVERIFY(graph->Rates().All().Span(first, last));
        std::vector<RatePoint> points;
        graph->Rates().All().Series(first, last + 1, 100'000, points);
        QString bins;
        for (const RatePoint& p : points)
            if (p.packets)
                bins += QStringLiteral(" %1:%2").arg((p.startUs - first) / 100'000).arg(p.packets);
        QVERIFY2(Runs(points, 5, 20, 0) == kBursts, qPrintable(bins));
        graph->Rates().ToServer().Series(first, last + 1, 100'000, points);
        QCOMPARE(Runs(points, 5, 1, 1000), kBursts);
        graph->Rates().ToClient().Series(first, last + 1, 100'000, points);
        bins.clear();
        for (const RatePoint& p : points)
            if (p.packets)
                bins += QStringLiteral(" %1:%2").arg((p.startUs - first) / 100'000).arg(p.bytes);
        QVERIFY2(Runs(points, 5, 1, 10000) == kBursts, qPrintable(bins));

        // The screenshot, with the cursor over a burst
        // (the last but one burst: the last sits on the right edge while live), on the connection's first
        // answer there.
        std::vector<int64_t> bursts;
        for (const RatePoint& p : points)
            if (p.bytes >= 10000 && (bursts.empty() || p.startUs - bursts.back() > 500'000))
                bursts.push_back(p.startUs);
        QVERIFY(bursts.size() >= 2);
        int64_t lastBurst = bursts[bursts.size() - 2];
        const AppendOnlyIndexList& indices = g_connectionTable[static_cast<size_t>(row)].packetIndices;
        for (size_t i = 0; i < indices.size(); ++i) {
            const PacketRecord& packet = g_packetTable[indices[i]];
            if (PacketMicros(packet) >= lastBurst && !packet.toServer.load() && packet.payloadLen > 0) {
                lastBurst = PacketMicros(packet);
                break;
            }
        }
        const QPoint at(static_cast<int>(graph->XOfTime(lastBurst)), graph->PlotRect().center().y());
        Hover(graph, at);
        QVERIFY(frame->grab().save(kShots + "/traffic-live.png"));
        // Zoomed in on the last burst by the wheel: finer bins.
        for (int i = 0; i < 14; ++i) {
            QWheelEvent wheel(at, graph->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(graph, &wheel);
        }
        const QPoint zoomedAt(static_cast<int>(graph->XOfTime(lastBurst) + 1), at.y());
        Hover(graph, zoomedAt);
        QVERIFY(graph->BinWidthUs() <= 10'000);
        const QString hover = graph->HoverTexts(zoomedAt.x()).join(" / ");
        QVERIFY2(hover.contains("Connection No.1: > ") && !hover.contains("< 0 B/s"), qPrintable(hover));
        QVERIFY(frame->grab().save(kShots + "/traffic-live-zoomed.png"));

        ::shutdown(tcp, SHUT_WR);
        drain.join();
        ::close(tcp);
        ::close(udp);
        QVERIFY(StopCapture(*frame, 5000));
        QVERIFY(frame->close());
    }
};

int main(int argc, char** argv) {
    // Before the display connection and any thread: the namespace is process-wide.
    g_skipReason = EnterPrivateNetwork();
    return RunCapturingAtStartup<TrafficLiveTest>(argc, argv, "lo", {{CTrafficBar::kShownKey, true}});
}

#include "traffic_live_test.moc"
