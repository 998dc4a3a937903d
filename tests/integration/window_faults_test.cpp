// Faults the main window meets on a real machine, with the questions answered here: an adapter that goes
// away during a capture (root only: a veth pair in a network namespace of the test's own), and a disk that
// fills during a save (a file size limit, which binds root too).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdlib>

#include "WindowSuite.h"
#include "capture/CaptureFile.h"
#include "capture/LiveCapture.h"

namespace {

const QString kSample = QStringLiteral(PACTERRA_SOURCE_DIR "/res/sample.cap");
const QString kSaveQuestion =
    "Current captured packets will lose without saving. \r\nNote: You can load the saved file again "
    "afterward\r\n\r\nDo you want to save these packets?";
const QString kAdapterFailed =
    "PCAP error: Reading from the networking adapter failed, and the capture was stopped.";

bool Shell(const char* command) {
    return std::system(command) == 0;
}

// Sends UDP probes to `ip` until the store holds a packet or the capture ended.
bool ProbeUntilCaptured(const char* ip) {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    ::inet_pton(AF_INET, ip, &to.sin_addr);
    for (int i = 0; i < 250 && g_packetTable.size() == 0 && g_captureState.load() == CAPTURE_RUNNING; ++i) {
        (void)::sendto(s, "probe", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        QTest::qWait(20);
    }
    ::close(s);
    return g_packetTable.size() > 0;
}

}  // namespace

class WindowFaultsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(UseTemporaryHome(m_home)); }

    void init() {
        m_frame = NewMainWindow();
        m_shown.clear();
        m_details.clear();
        m_saveAnswer = MsgAnswer::Cancel;
        RecordMessages(*m_frame, m_shown, m_details, [this](const QString& text, MsgButtons buttons) {
            return text == kSaveQuestion ? m_saveAnswer : OkOrNo(text, buttons);
        });
        m_frame->FrontEnd()->SetFileScript([this](IPromptService::FileQuestion) { return m_path; });
        QVERIFY(ShowMainWindow(*m_frame));
    }

    void cleanup() {
        StopCaptureAndWait();
        g_unsavedPackets = 0;
        CloseMainWindow(m_frame);
    }

    // The packets stay, one message says so, and Start works again on another adapter.
    void adapterDisappearsDuringCapture() {
        if (!g_skipReason.empty())
            QSKIP(g_skipReason.c_str());
        QVERIFY(
            Shell("ip link del pcv4 2>/dev/null; ip link add pcv4 type veth peer name pcv5 && "
                  "ip addr add 198.51.100.41/24 dev pcv4 && ip link set pcv4 up && ip link set pcv5 up && "
                  "ip neigh replace 198.51.100.42 lladdr 02:00:00:00:00:42 dev pcv4"));
        g_config.adapter = "pcv4";
        m_frame->Action(ID_START)->trigger();
        QCOMPARE(g_captureState.load(), int(CAPTURE_RUNNING));
        QVERIFY2(ProbeUntilCaptured("198.51.100.42"), qPrintable(m_shown.join('\n')));
        const size_t before = g_packetTable.size();

        QVERIFY(Shell("ip link del pcv4"));
        QTRY_COMPARE_WITH_TIMEOUT(g_captureState.load(), int(CAPTURE_IDLE), 5000);
        QTRY_VERIFY(!m_shown.isEmpty());
        QTest::qWait(500);  // a second message would be here by now
        QCOMPARE(m_shown.size(), 1);
        QVERIFY2(m_shown[0].startsWith(kAdapterFailed), qPrintable(m_shown[0]));
        QVERIFY2(m_details[0].startsWith("pcv4: "), qPrintable(m_details[0]));
        QVERIFY(g_packetTable.size() >= before);
        QCOMPARE(g_unsavedPackets.load(), 1);
        QTRY_VERIFY(m_frame->Action(ID_START)->isEnabled());
        QVERIFY(!m_frame->Action(ID_STOP)->isEnabled());

        // Start on loopback: the unsaved packets are offered first, then the capture runs.
        g_config.adapter = "lo";
        m_saveAnswer = MsgAnswer::No;
        m_frame->Action(ID_START)->trigger();
        QCOMPARE(m_shown.last(), kSaveQuestion);
        QCOMPARE(g_captureState.load(), int(CAPTURE_RUNNING));
        QVERIFY2(ProbeUntilCaptured("127.0.0.1"), qPrintable(m_shown.join('\n')));
        QTRY_VERIFY(m_frame->Action(ID_STOP)->isEnabled());
        m_frame->Action(ID_STOP)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(g_captureState.load(), int(CAPTURE_IDLE), 3000);
        QCOMPARE(m_shown.size(), 2);
    }

    // The save is reported as failed, the old file is untouched, and the packets are still offered on close.
    void diskFillsDuringSave() {
        QVERIFY(m_dir.isValid());
        QCOMPARE(OpenCaptureFile(kSample.toStdString(), false, StandardErrorPrompts()), 1);
        const size_t packets = g_packetTable.size();
        g_unsavedPackets = 1;
        m_path = m_dir.path() + "/old.cap";
        {
            QFile old(m_path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("keep me");
        }
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small{20000, saved.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        m_frame->Action(ID_SAVE)->trigger();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(
            m_shown,
            QStringList{"PCAP Error: Error writing the dump file! The captured packets were not saved."});
        QVERIFY2(m_details[0].contains("File too large"), qPrintable(m_details[0]));
        QFile old(m_path);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("keep me"));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"old.cap"});
        QCOMPARE(g_unsavedPackets.load(), 1);
        QCOMPARE(g_packetTable.size(), packets);

        m_shown.clear();
        QVERIFY(!m_frame->close());
        QCOMPARE(m_shown, QStringList{kSaveQuestion});
        QCOMPARE(g_packetTable.size(), packets);
    }

private:
    QTemporaryDir m_home, m_dir;
    QString m_path;
    MsgAnswer m_saveAnswer = MsgAnswer::Cancel;
    std::unique_ptr<CMainFrame> m_frame;
    QStringList m_shown, m_details;
};

int main(int argc, char** argv) {
    // Before any thread: the namespace is process-wide.
    g_skipReason = EnterPrivateNetwork();
    return RunInAnApplication<WindowFaultsTest>(argc, argv);
}

#include "window_faults_test.moc"
