// The window meets SIGTERM, SIGINT and SIGHUP as a close from the window system, and a second signal as
// the order to end now; the end of the desktop session gets the close guard's save question.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include "../WindowHarness.h"
#include "ListsTestSupport.h"
#include "app/MainFrame.h"
#include "app/SignalClose.h"
#include "capture/CaptureFile.h"
#include "capture/LiveCapture.h"
#include "dialogs/DialogPrompt.h"

namespace {

const QString kSaveQuestion =
    "Current captured packets will lose without saving. \r\nNote: You can load the saved file again "
    "afterward\r\n\r\nDo you want to save these packets?";
const QString kStopQuestion = "Currently capturing.\r\n\r\nDo you want to stop capturing?";
constexpr int kPackets = 20000;  // several batches of a save

}  // namespace

class SignalCloseTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<CSignalClose> m_close;
    QStringList m_shown;
    MsgAnswer m_saveAnswer = MsgAnswer::No;
    QList<int> m_ended;  // statuses the program was asked to end with

    QString SavePath() const { return m_dir.filePath(QStringLiteral("saved.cap")); }
    QStringList FilesInDir() const { return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden); }

    void FillStore() {
        StartFeeding();
        for (int i = 0; i < kPackets; ++i)
            FeedPacket(i % 50, i % 2 == 0, "payload", i);
        g_captureState = CAPTURE_IDLE;
        g_unsavedPackets = 1;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
        QCoreApplication::setOrganizationName("Morvane");
        QCoreApplication::setApplicationName("Pacterra");
    }

    void init() {
        ResetCaptureStore();
        g_abandonSaves = false;
        m_shown.clear();
        m_ended.clear();
        m_saveAnswer = MsgAnswer::No;
        m_frame = std::make_unique<CMainFrame>();
        LoadStartupConfiguration();
        m_frame->FrontEnd()->SetPromptScript([this](const QString& text, MsgButtons buttons, const QString&) {
            m_shown << text;
            if (text == kSaveQuestion)
                return m_saveAnswer;
            return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
        });
        m_frame->FrontEnd()->SetFileScript([this](IPromptService::FileQuestion) { return SavePath(); });
        // Progress (and so the events) from the first batch of a save on.
        m_frame->FrontEnd()->SetProgressDelay(0);
        m_close = std::make_unique<CSignalClose>(m_frame.get(), [this](int status) { m_ended << status; });
        QVERIFY(ShowMainWindow(*m_frame));
    }

    void cleanup() {
        m_close.reset();
        StopCaptureAndWait();
        g_unsavedPackets = 0;
        g_abandonSaves = false;
        CloseMainWindow(m_frame);
        QFile::remove(SavePath());
    }

    void eachSignalClosesTheWindow_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void eachSignalClosesTheWindow() {
        QFETCH(int, signal);
        QSignalSpy closed(m_frame.get(), &CMainFrame::Closed);
        ::raise(signal);
        QTRY_COMPARE(closed.count(), 1);
        QVERIFY(m_shown.isEmpty());
        QVERIFY(m_ended.isEmpty());
    }

    // The close asks as the window system's does; the capture thread has ended when the window goes.
    void aRunningCaptureIsStoppedFirst() {
        const QString fifo = m_dir.filePath(QStringLiteral("fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        ResetCapture();
        QVERIFY(StartStreamThread(fifo.toStdString(), false));
        QCOMPARE(g_captureState.load(), int(CAPTURE_RUNNING));
        QSignalSpy closed(m_frame.get(), &CMainFrame::Closed);
        ::raise(SIGTERM);
        QTRY_COMPARE(closed.count(), 1);
        QCOMPARE(m_shown.value(0), kStopQuestion);
        QCOMPARE(g_captureState.load(), int(CAPTURE_IDLE));
        QFile::remove(fifo);
    }

    // A save under way when the signal comes is finished, then the window closes without a question.
    void aSaveUnderWayIsFinishedFirst() {
        FillStore();
        QSignalSpy closed(m_frame.get(), &CMainFrame::Closed);
        ::raise(SIGTERM);  // handled at the save's first report of progress
        m_frame->OnSave();
        QTRY_COMPARE(closed.count(), 1);
        QCOMPARE(FilesInDir(), QStringList{"saved.cap"});
        char error[PCAP_ERRBUF_SIZE];
        pcap_t* p = pcap_open_offline(QFile::encodeName(SavePath()).constData(), error);
        QVERIFY2(p, error);
        pcap_pkthdr* h;
        const u_char* bytes;
        int records = 0;
        while (pcap_next_ex(p, &h, &bytes) == 1)
            ++records;
        pcap_close(p);
        QCOMPARE(records, kPackets);
        QVERIFY(!m_shown.contains(kSaveQuestion));
        QVERIFY(m_ended.isEmpty());
    }

    // A second signal while the first close waits for the save ends the program at once: the save stops
    // and leaves no temporary file; nothing more is asked.
    void aSecondSignalStopsTheSave() {
        FillStore();
        ::raise(SIGTERM);
        ::raise(SIGINT);
        m_frame->OnSave();
        QCOMPARE(m_ended, QList<int>{128 + SIGINT});
        QCOMPARE(FilesInDir(), QStringList{});
        QVERIFY(!m_shown.contains("Captured packets saved successfully!"));
        QVERIFY(!m_shown.contains(kSaveQuestion));
        QCOMPARE(g_unsavedPackets.load(), 0);
    }

    // A question open at start-up (whether to apply the rules to the file) is answered No and the window
    // closes, not ten minutes later.
    void aSignalAnswersAnOpenQuestion() {
        QSignalSpy closed(m_frame.get(), &CMainFrame::Closed);
        QElapsedTimer open;
        m_frame->FrontEnd()->SetPromptScript([&](const QString& text, MsgButtons buttons, const QString&) {
            if (!m_shown.isEmpty())  // the report that the file was read
                return MsgAnswer::Ok;
            QTimer::singleShot(100, [] { ::raise(SIGTERM); });
            // Should nothing answer it, the box goes after a while and the test fails.
            QTimer::singleShot(5000, [] {
                if (QWidget* box = QApplication::activeModalWidget())
                    box->close();
            });
            open.start();
            const MsgAnswer answer = AskUser(m_frame.get(), text.toStdString(), buttons);
            m_shown << QString::number(open.elapsed());
            return answer;
        });
        m_frame->OpenFileAtStartup(QStringLiteral(PACTERRA_SOURCE_DIR "/res/sample.cap"));
        QTRY_COMPARE(closed.count(), 1);
        QVERIFY2(m_shown.value(0).toInt() < 3000, qPrintable(m_shown.join(',')));
        QVERIFY(m_ended.isEmpty());
    }

    void theEndOfTheSessionAsksToSave_data() {
        QTest::addColumn<bool>("unsaved");
        QTest::addColumn<bool>("mayAsk");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("ends");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("saved");
        QTest::newRow("nothing unsaved") << false << true << int(MsgAnswer::Cancel) << true << false << false;
        QTest::newRow("no asking allowed")
            << true << false << int(MsgAnswer::Cancel) << true << false << false;
        QTest::newRow("cancelled") << true << true << int(MsgAnswer::Cancel) << false << true << false;
        QTest::newRow("not saved") << true << true << int(MsgAnswer::No) << true << true << false;
        QTest::newRow("saved") << true << true << int(MsgAnswer::Yes) << true << true << true;
    }
    void theEndOfTheSessionAsksToSave() {
        QFETCH(bool, unsaved);
        QFETCH(bool, mayAsk);
        QFETCH(int, answer);
        QFETCH(bool, ends);
        QFETCH(bool, asked);
        QFETCH(bool, saved);
        FillStore();
        g_unsavedPackets = unsaved ? 1 : 0;
        m_saveAnswer = static_cast<MsgAnswer>(answer);
        QCOMPARE(CSignalClose::AnswerEndOfSession(mayAsk), ends);
        QCOMPARE(m_shown.contains(kSaveQuestion), asked);
        QCOMPARE(QFileInfo::exists(SavePath()), saved);
    }
};

QTEST_MAIN(SignalCloseTest)
#include "signal_close_test.moc"
