// The filter line during a live capture, on a real display (Xvfb) in a network namespace of the test's own:
// web exchanges on port 80 mixed with other traffic on loopback; once "port:80" is typed into the filter
// line, only the web connections show, and new ones appear as they arrive with their own numbers. The
// screenshot is kept in the build tree (tests/integration/screenshots/filter-port80.png).
#include <QDir>
#include <QLabel>
#include <QtTest>

#include "WindowSuite.h"
#include "app/WindowFrontEnd.h"
#include "capture/LiveCapture.h"
#include "views/ConnectionFilterLine.h"
#include "views/ListCtrlLeft.h"

namespace {

// One HTTP request and answer on port 80.
bool WebExchange() {
    return LoopbackHttpExchange(80, "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n",
                                "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello");
}

// Traffic that is not web: a DNS-like datagram and a refused TCP connection to 8080.
void OtherTraffic() {
    int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in dns = Loopback(53);
    (void)::sendto(udp, "q", 1, 0, reinterpret_cast<sockaddr*>(&dns), sizeof dns);
    ::close(udp);
    int tcp = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in alt = Loopback(8080);
    (void)::connect(tcp, reinterpret_cast<sockaddr*>(&alt), sizeof alt);
    ::close(tcp);
}

}  // namespace

class WindowFilterTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SkipUnlessReady(); }

    void typingPortEightyDuringACapture() {
        CMainFrame* frame = StartedWindow();
        QVERIFY(frame);
        QStringList shown;
        RecordMessages(*frame, shown, Always(MsgAnswer::No));  // nothing is saved on close
        QVERIFY(Expose(*frame));
        // Said once the adapter is open: from then on every exchange is seen from its first packet.
        QTRY_COMPARE_WITH_TIMEOUT(frame->MessagePaneText(), QString("Capturing on lo"), 5000);
        QVERIFY(IsCaptureOpen());

        // Mixed traffic until the list shows both kinds.
        CListCtrlLeft* list = frame->ConnectionsList();
        auto services = [list] { return Column(list->model(), 4).join(' '); };
        for (int attempt = 0;
             attempt < 40 && !(services().contains("TCP:http") && services().contains("UDP")); ++attempt) {
            QVERIFY(WebExchange());
            OtherTraffic();
            QTest::qWait(500);
        }
        QVERIFY2(services().contains("TCP:http"),
                 qPrintable("no web connection; messages: " + shown.join('\n')));

        // "/" in the connections list comes to the filter line; "port:80" typed there as a user types it.
        auto* line = frame->findChild<CConnectionFilterLine*>("connectionFilter");
        QVERIFY(line);
        list->setFocus();
        QTest::keyClick(frame->windowHandle(), Qt::Key_Slash);
        QTRY_VERIFY(line->hasFocus());
        for (char c : QByteArray("port:80"))
            QTest::keyClick(frame->windowHandle(), c);
        QCOMPARE(line->text(), QString("port:80"));
        const int before = list->model()->rowCount();
        QVERIFY(before >= 1);

        // More of both while the filter is set: only web connections join the list.
        for (int i = 0; i < 3; ++i) {
            QVERIFY(WebExchange());
            OtherTraffic();
        }
        QTRY_VERIFY_WITH_TIMEOUT(list->model()->rowCount() >= before + 3, 10000);
        for (const QString& server : Column(list->model(), 3))
            QVERIFY2(server.endsWith(":80"), qPrintable(server));
        for (const QString& label : Column(list->model(), 4))
            QCOMPARE(label, QString("TCP:http"));
        // The numbers are the connections' own: the other traffic took the numbers in between.
        const QStringList numbers = Column(list->model(), 0);
        QVERIFY2(numbers.last().toInt() > list->model()->rowCount() - 1, qPrintable(numbers.join(' ')));
        QVERIFY(g_connectionTable.size() > static_cast<size_t>(list->model()->rowCount()));
        const QString count = frame->findChild<QLabel*>("connectionFilterCount")->text();
        QVERIFY2(count.startsWith(QString::number(list->model()->rowCount()) + " of "), qPrintable(count));

        QTest::qWait(300);  // the status panes' next refresh
        frame->grab().save(kShots + "/filter-port80.png");

        // A malformed word: red, with its reason as the tooltip; the list keeps what "port:80" showed.
        const int rows = list->model()->rowCount();
        line->setText("port:80 port:99999");  // pasted: while typing, each usable prefix would filter
        QCOMPARE(line->MalformedRanges(), (QList<QPair<int, int>>{{8, 10}}));
        QVERIFY(line->toolTip().contains("is not a port number"));
        QCOMPARE(list->model()->rowCount(), rows);
        QTest::qWait(100);
        frame->grab().save(kShots + "/filter-malformed.png");

        QVERIFY(StopCapture(*frame, 10000));
        QVERIFY(frame->close());
    }
};

int main(int argc, char** argv) {
    // Before the display connection and any thread: the namespace is process-wide.
    g_skipReason = EnterPrivateNetwork();
    return RunCapturingAtStartup<WindowFilterTest>(argc, argv, "lo");
}

#include "window_filter_e2e_test.moc"
