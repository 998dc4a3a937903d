// A capture that arrives through a named pipe, read by the main window like a live capture: the lists fill
// while it arrives, Stop ends it keeping what came, and an empty or cut stream is reported.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

#include "../WindowHarness.h"
#include "app/MainFrame.h"
#include "capture/LiveCapture.h"
#include "capture/PacketStore.h"
#include "frontend/Messages.h"
#include "views/ListCtrlLeft.h"

namespace {

const QString kSample = QStringLiteral(PACTERRA_SOURCE_DIR "/res/sample.cap");
const QString kFilterQuestion = msg::kApplyFilterQuestion;
const QString kSaveQuestion = msg::kSaveUnsavedQuestion;

QStringList g_cliRows;  // what pacterra-cli lists for the sample

}  // namespace

class MainFrameStreamTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(UseTemporaryHome(m_home));
        QFile sample(kSample);
        QVERIFY(sample.open(QIODevice::ReadOnly));
        m_sample = sample.readAll();
        // The whole sample fits the pipe's buffer, so the writer below never waits for the reader.
        QVERIFY(m_sample.size() < 65536);
        QCOMPARE(g_cliRows.size(), 22);
    }

    void init() {
        m_frame = NewMainWindow();
        m_shown.clear();
        m_details.clear();
        RecordMessages(*m_frame, m_shown, m_details, [](const QString& text, MsgButtons buttons) {
            return text == kSaveQuestion ? MsgAnswer::Cancel : OkOrNo(text, buttons);
        });
        m_frame->FrontEnd()->SetFileScript([this](IPromptService::FileQuestion) { return m_fifo; });
        QVERIFY(ShowMainWindow(*m_frame));
        QVERIFY(m_dir.isValid());
        m_fifo = m_dir.path() + "/capture.fifo";
        QFile::remove(m_fifo);
        QCOMPARE(::mkfifo(QFile::encodeName(m_fifo).constData(), 0600), 0);
        // Held open for writing (read-write does not wait for a reader): the stream ends when it is closed.
        m_writer = ::open(QFile::encodeName(m_fifo).constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(m_writer >= 0);
    }

    void cleanup() {
        if (m_writer >= 0)
            ::close(m_writer);
        m_writer = -1;
        StopCaptureAndWait();
        g_unsavedPackets = 0;
        CloseMainWindow(m_frame);
    }

    // Half the sample, then the rest: rows show while the stream is open, the commands follow the capture
    // state, and at the end the window lists what pacterra-cli lists for the file. Nothing read is lost on
    // close.
    void pipeReadLikeALiveCapture() {
        QSignalSpy finished(m_frame.get(), &CMainFrame::LoadFinished);
        Write(0, m_sample.size() / 2);
        m_frame->OpenFileAtStartup(m_fifo);
        QVERIFY(WaitForOpen(*m_frame));
        QCOMPARE(m_shown, QStringList{kFilterQuestion});
        QCOMPARE(g_captureState.load(), int(CAPTURE_RUNNING));
        CListCtrlLeft* list = m_frame->ConnectionsList();
        QTRY_VERIFY(list->model()->rowCount() > 0);
        QTRY_VERIFY(m_frame->Action(ID_STOP)->isEnabled());
        QVERIFY(!m_frame->Action(ID_START)->isEnabled());
        QCOMPARE(finished.count(), 0);

        Write(m_sample.size() / 2, m_sample.size());
        ::close(m_writer);
        m_writer = -1;
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        QCOMPARE(finished[0][0].toBool(), true);
        QCOMPARE(g_captureState.load(), int(CAPTURE_IDLE));
        QVERIFY(m_frame->Action(ID_START)->isEnabled());
        QVERIFY(!m_frame->Action(ID_STOP)->isEnabled());
        QCOMPARE(m_shown, QStringList{kFilterQuestion});
        list->Sync();

        QCOMPARE(Rows(list->model()), g_cliRows);

        m_shown.clear();
        QVERIFY(!m_frame->close());
        QCOMPARE(m_shown, QStringList{kSaveQuestion});
    }

    // Through the Open command; the writer never ends the stream, Stop does, keeping what had come.
    void stopEndsAnOpenStream() {
        QSignalSpy finished(m_frame.get(), &CMainFrame::LoadFinished);
        Write(0, m_sample.size() / 2);
        m_frame->OnOpen();
        QVERIFY(WaitForOpen(*m_frame));
        QTRY_VERIFY(g_packetTable.size() > 0);
        QTRY_VERIFY(m_frame->Action(ID_STOP)->isEnabled());
        m_frame->Action(ID_STOP)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(g_captureState.load(), int(CAPTURE_IDLE), 2000);
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(g_packetTable.size() > 0);
        QCOMPARE(m_shown, QStringList{kFilterQuestion});
        QVERIFY(m_frame->Action(ID_START)->isEnabled());
    }

    void badStreams_data() {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<int>("packets");
        QTest::newRow("empty") << 0 << "PCAP error: Error opening the offline packets file!"
                               << "truncated dump file" << 0;
        QTest::newRow("cut inside a record")
            << 5000
            << "PCAP error: The offline packets file is damaged or ends early. The packets read before "
            << "only got" << 14;
    }

    // Each says what went wrong once, keeps what came before, and leaves the window ready for the next.
    void badStreams() {
        QFETCH(int, bytes);
        QFETCH(QString, message);
        QFETCH(QString, detail);
        QFETCH(int, packets);
        QSignalSpy finished(m_frame.get(), &CMainFrame::LoadFinished);
        Write(0, bytes);
        m_frame->OpenFileAtStartup(m_fifo);
        QVERIFY(WaitForOpen(*m_frame));
        // Closed once read: a pipe with neither end open forgets what it held.
        ::close(m_writer);
        m_writer = -1;
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        QCOMPARE(finished[0][0].toBool(), false);
        QTRY_COMPARE(m_shown.size(), 2);
        QVERIFY2(m_shown[1].startsWith(message), qPrintable(m_shown[1]));
        QVERIFY2(m_details[1].startsWith(m_fifo + ": ") && m_details[1].contains(detail),
                 qPrintable(m_details[1]));
        QCOMPARE(g_packetTable.size(), size_t(packets));
        QVERIFY(m_frame->Action(ID_START)->isEnabled());
    }

private:
    void Write(qsizetype from, qsizetype to) {
        const auto n = ::write(m_writer, m_sample.constData() + from, static_cast<size_t>(to - from));
        QCOMPARE(n, ssize_t(to - from));
    }

    QTemporaryDir m_home, m_dir;
    QByteArray m_sample;
    QString m_fifo;
    int m_writer = -1;
    std::unique_ptr<CMainFrame> m_frame;
    QStringList m_shown, m_details;
};

int main(int argc, char** argv) {
    // Asked before any thread runs: a fork beside running threads is beyond ThreadSanitizer.
    if (FILE* cli = ::popen(PACTERRA_BINARY_DIR "/bin/pacterra-cli connections " PACTERRA_SOURCE_DIR
                                                "/res/sample.cap 2>/dev/null",
                            "r")) {
        QByteArray out;
        char buffer[4096];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, cli))
            out.append(buffer, static_cast<qsizetype>(n));
        if (::pclose(cli) == 0)
            g_cliRows = QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
    }
    QApplication app(argc, argv);
    MainFrameStreamTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "mainframe_stream_test.moc"
