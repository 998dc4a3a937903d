// The main window on a real display (Xvfb): what the status bar and the tray say while a live capture on
// loopback runs and once a full buffer ends it (root only: a network namespace of the test's own), and a
// close from the window system while a long load shows its progress. Screenshots in screenshots/.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QDir>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#include "../unit/FrameBuilder.h"
#include "WindowSuite.h"
#include "capture/CaptureFile.h"
#include "capture/LiveCapture.h"
#include "frontend/Messages.h"

namespace {

const QString kStopQuestion = msg::kStopCapturingQuestion;
const QString kFilterQuestion = msg::kApplyFilterQuestion;

// Sends UDP datagrams of 1200 bytes to the discard port on loopback until the capture ends (or 20 s pass).
void FloodUntilIdle() {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = Loopback(9);
    const std::string datagram(1200, 'f');
    QElapsedTimer clock;
    clock.start();
    while (g_captureState.load() != CAPTURE_IDLE && clock.elapsed() < 20000) {
        for (int i = 0; i < 50; ++i)
            (void)::sendto(s, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                           sizeof to);
        QTest::qWait(5);
    }
    ::close(s);
}

// Asks `window` to close as a window manager does (WM_DELETE_WINDOW), through a connection of its own.
bool SendWindowManagerClose(WId window) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return a;
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(window);
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, static_cast<xcb_window_t>(window), XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    // A round trip: the server has handled the event before this connection goes.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
    return true;
}

}  // namespace

class WindowStatusTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(UseTemporaryHome(m_home));
        QDir().mkpath(kShots);
    }

    void init() {
        m_frame = NewMainWindow();
        g_config.ApplyDefaults();
        m_shown.clear();
        RecordMessages(*m_frame, m_shown, [](const QString& text, MsgButtons) {
            return text == kFilterQuestion ? MsgAnswer::No : MsgAnswer::Ok;
        });
        m_frame->FrontEnd()->SetFileScript([](IPromptService::FileQuestion) { return QString(); });
        m_frame->show();
        QVERIFY(Expose(*m_frame));
    }

    void cleanup() {
        StopCaptureAndWait();
        g_unsavedPackets = 0;
        CloseMainWindow(m_frame);
        g_config.ApplyDefaults();
    }

    // While capturing, the message pane and the tray name the adapter; a full buffer ends the capture with
    // no box but a message that stays in both until the next command.
    void fullBufferEndsTheCaptureWithAWord() {
        if (!g_skipReason.empty())
            QSKIP(g_skipReason.c_str());
        g_config.adapter = "lo";
        g_config.bufferMB = 1;
        m_frame->Action(ID_START)->trigger();
        QCOMPARE(g_captureState.load(), int(CAPTURE_RUNNING));
        QTRY_COMPARE(m_frame->MessagePaneText(), QString("Capturing on lo"));
        QCOMPARE(m_frame->TrayToolTip(), QString("Pacterra Packet Sniffer\nCapturing on lo"));
        m_frame->grab().save(kShots + "/status-capturing.png");

        FloodUntilIdle();
        QCOMPARE(g_captureState.load(), int(CAPTURE_IDLE));
        QCOMPARE(g_storeStop.load(), int(STORE_STOP_BUFFER_FULL));
        const QString full = "Capture stopped: the buffer of 1 MB is full";
        QTRY_COMPARE(m_frame->MessagePaneText(), full);
        QCOMPARE(m_frame->TrayToolTip(), "Pacterra Packet Sniffer\nPackets captured on lo\n" + full);
        QVERIFY2(m_shown.isEmpty(), qPrintable(m_shown.join('\n')));
        QTest::qWait(600);  // the panes' refreshes leave it
        QCOMPARE(m_frame->MessagePaneText(), full);
        QVERIFY(m_frame->PaneText(0).startsWith("Buffer: 10"));
        m_frame->grab().save(kShots + "/status-buffer-full.png");
        QGuiApplication::primaryScreen()->grabWindow(0).save(kShots + "/status-buffer-full-screen.png");

        // A Save (its file dialog cancelled here) is the next command: the message goes.
        m_frame->Action(ID_SAVE)->trigger();
        QCOMPARE(m_frame->MessagePaneText(), QString("Ready"));
        QCOMPARE(m_frame->TrayToolTip(), QString("Pacterra Packet Sniffer\nPackets captured on lo"));

        // Stop by the user: no message about the buffer.
        g_config.bufferMB = 50;
        g_unsavedPackets = 0;
        m_frame->Action(ID_START)->trigger();
        QTRY_COMPARE(m_frame->MessagePaneText(), QString("Capturing on lo"));
        // Frames cut short (the capture thread counts them) are said while the capture runs, and at Stop.
        g_shortPacketCount += 3;
        const QString cut = "Capturing on lo (3 packets captured shorter than their actual lengths)";
        QTRY_COMPARE(m_frame->MessagePaneText(), cut);
        m_frame->Action(ID_STOP)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(g_captureState.load(), int(CAPTURE_IDLE), 5000);
        QTRY_COMPARE(m_frame->MessagePaneText(), QString("Ready"));
        QTRY_VERIFY(m_shown.contains(QString::fromStdString(ShortPacketsMessage(3))));
    }

    // The window manager's close while the load's progress shows: the usual question, the load ends, the
    // window closes.
    void closeDuringALoad() {
        if (QGuiApplication::platformName() != "xcb")
            QSKIP("needs a real X display (QT_QPA_PLATFORM=xcb under Xvfb) to send the close to");
        const QString file = m_dir.path() + "/long.cap";
        {
            pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
            pcap_dumper_t* d = pcap_dump_open(dead, file.toLocal8Bit().constData());
            FrameSpec s;
            s.protocol = 17;
            s.payload = std::string(1000, 'l');
            const std::vector<uint8_t> frame = BuildFrame(s);
            pcap_pkthdr h{};
            h.caplen = h.len = static_cast<bpf_u_int32>(frame.size());
            for (int i = 0; i < 100000; ++i)  // about 100 MB: a load of some seconds
                pcap_dump(reinterpret_cast<u_char*>(d), &h, frame.data());
            pcap_dump_close(d);
            pcap_close(dead);
        }
        m_frame->FrontEnd()->SetProgressDelay(0);
        QSignalSpy closed(m_frame.get(), &CMainFrame::Closed);
        bool asked = false;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (asked) {
                // This runs between two batches of the load: slowed down, the load lasts until the close
                // has come through the window's own event handling.
                if (!m_shown.contains(kStopQuestion))
                    QThread::msleep(20);
                return;
            }
            for (auto* dialog : m_frame->findChildren<QProgressDialog*>()) {
                if (dialog->isVisible() && g_packetTable.size() > 0) {
                    dialog->grab().save(kShots + "/status-load-progress.png");
                    asked = SendWindowManagerClose(m_frame->winId());
                }
            }
        });
        closer.start(0);
        m_frame->OpenFileAtStartup(file);
        QTRY_VERIFY_WITH_TIMEOUT(asked, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 10000);
        QCOMPARE(m_shown, (QStringList{kFilterQuestion, kStopQuestion}));
        QVERIFY(!m_frame->isVisible());
        QCOMPARE(g_packetTable.size(), size_t(0));  // released by the close
    }

private:
    QTemporaryDir m_home, m_dir;
    std::unique_ptr<CMainFrame> m_frame;
    QStringList m_shown;
};

int main(int argc, char** argv) {
    // Before the display connection and any thread: the namespace is process-wide.
    g_skipReason = EnterPrivateNetwork();
    return RunInAnApplication<WindowStatusTest>(argc, argv);
}

#include "window_status_test.moc"
