// The main window's Open command where it goes wrong (a file that cannot be read, a file or stream the
// buffer limit cuts short, a long load with its progress), what the detail views and the status bar show
// afterwards, the Open dialog's filter and the commands' status texts.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <csignal>
#include <thread>

#include "../WindowHarness.h"
#include "../unit/FrameBuilder.h"
#include "app/MainFrame.h"
#include "app/TrawlerView.h"
#include "capture/CaptureFile.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "frontend/Messages.h"
#include "views/HexView.h"
#include "views/HexViewCtrl.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/PayloadTextCtrl.h"
#include "views/ProtocolTreeView.h"

namespace {

const QString kSample = QStringLiteral(PACTERRA_SOURCE_DIR "/res/sample.cap");
const QString kSaveQuestion = msg::kSaveUnsavedQuestion;
const QString kFilterQuestion = msg::kApplyFilterQuestion;
const QString kOpened = msg::kFileOpened;

// A classic capture file of `count` UDP frames of `payload` bytes each, between a few port pairs; with
// `simpleBlocks`, a pcapng file of simple packet blocks, whose frames an Open copies rather than indexes.
void WriteCapture(const QString& path, int count, int payload, bool simpleBlocks = false) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
    pcap_dumper_t* d = simpleBlocks ? nullptr : pcap_dump_open(dead, path.toLocal8Bit().constData());
    QByteArray ng;
    auto u32 = [&](quint32 v) { ng.append(reinterpret_cast<const char*>(&v), 4); };
    for (quint32 v : {0x0A0D0D0Au, 28u, 0x1A2B3C4Du, 1u, ~0u, ~0u, 28u, 1u, 20u, 1u, 65536u, 20u})
        u32(v);  // the section header and one Ethernet interface
    for (int i = 0; i < count; ++i) {
        FrameSpec s;
        s.protocol = 17;
        s.srcPort = static_cast<uint16_t>(2000 + i % 7);
        s.payload = std::string(static_cast<size_t>(payload), 'p');
        const std::vector<uint8_t> frame = BuildFrame(s);
        const auto size = static_cast<quint32>(frame.size()), padded = (size + 3) & ~3u;
        if (simpleBlocks) {
            for (quint32 v : {3u, 16 + padded, size})
                u32(v);
            ng.append(reinterpret_cast<const char*>(frame.data()), size).append(padded - size, '\0');
            u32(16 + padded);
            continue;
        }
        pcap_pkthdr h{};
        h.ts.tv_sec = 1700000000 + i;
        h.caplen = h.len = size;
        pcap_dump(reinterpret_cast<u_char*>(d), &h, frame.data());
    }
    if (d)
        pcap_dump_close(d);
    pcap_close(dead);
    QFile file(path);
    if (simpleBlocks && file.open(QIODevice::WriteOnly))
        file.write(ng);
}

}  // namespace

class MainFrameStatusTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(UseTemporaryHome(m_home));
    }

    void init() {
        m_frame = NewMainWindow();
        // Every packet kept, whatever Config.cfg lies beside the test.
        g_config.ApplyDefaults();
        m_shown.clear();
        m_details.clear();
        m_answers.clear();
        m_path.clear();
        RecordMessages(*m_frame, m_shown, m_details, [this](const QString& text, MsgButtons buttons) {
            if (m_onMessage)
                m_onMessage(text);
            return m_answers.value(text, OkOrNo(text, buttons));
        });
        m_frame->FrontEnd()->SetFileScript([this](IPromptService::FileQuestion) { return m_path; });
        QVERIFY(ShowMainWindow(*m_frame));
    }

    void cleanup() {
        m_onMessage = nullptr;
        g_unsavedPackets = 0;
        CloseMainWindow(m_frame);
        g_config.ApplyDefaults();
    }

    void statusTexts_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("status");
        QTest::newRow("Start") << int(ID_START) << "Start packets capturing";
        QTest::newRow("Tip of the Day") << int(ID_TIP_OF_THE_DAY) << "Tip of the Day";
    }

    // The fly-by help of the commands whose status texts are given.
    void statusTexts() {
        QFETCH(int, command);
        QFETCH(QString, status);
        QCOMPARE(m_frame->Action(command)->statusTip(), status);
    }

    // Open starts on the filter that lists every capture file; Save on the one of its own .cap files.
    void fileDialogFilters_data() {
        QTest::addColumn<int>("question");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("title");  // and, after a bar, the file suggested (by the export)
        QTest::newRow("Open") << int(IPromptService::FileQuestion::OpenCapture)
                              << "Capture files (*.cap *.pcap *.pcapng)"
                              << "Open Captured Packets|";
        QTest::newRow("Save") << int(IPromptService::FileQuestion::SaveCapture) << "Captured Files (*.cap)"
                              << "Save Captured Packets As|CapturedData.cap";
        QTest::newRow("Export") << int(IPromptService::FileQuestion::ExportPackets)
                                << "Captured Files (*.cap)"
                                << "Export Shown Packets|ShownPackets.cap";
    }

    void fileDialogFilters() {
        QFETCH(int, question);
        QFETCH(QString, selected);
        QFETCH(QString, title);
        m_frame->FrontEnd()->SetFileScript(nullptr);
        if (question == int(IPromptService::FileQuestion::ExportPackets))
            m_frame->FrontEnd()->SuggestFile(title.section('|', 0, 0), title.section('|', 1));
        QString seen, seenTitle, folder;
        QStringList filters;
        QTimer poll;
        QTemporaryDir there;
        QFile(there.filePath("x.cap")).open(QIODevice::WriteOnly);  // Open takes only a file that is there
        const QString chosen =
            there.filePath(question == int(IPromptService::FileQuestion::OpenCapture) ? "x.cap" : "y.cap");
        connect(&poll, &QTimer::timeout, this, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                seen = dialog->selectedNameFilter();
                filters = dialog->nameFilters();
                seenTitle =
                    dialog->windowTitle() + '|' + QFileInfo(dialog->selectedFiles().value(0)).fileName();
                folder = dialog->directory().absolutePath();
                // The first time a file is chosen in a folder of its own; the next dialog starts there.
                if (folder != there.path()) {
                    // Typed as a user would: selectFile leaves the name alone while its field has the focus.
                    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                    QVERIFY(name);
                    name->setText(chosen);
                    static_cast<QDialog*>(dialog)->accept();  // QFileDialog checks the name
                } else {
                    dialog->reject();
                }
            }
        });
        poll.start(10);
        const auto asked = static_cast<IPromptService::FileQuestion>(question);
        QVERIFY(!m_frame->FrontEnd()->AskFilePath(asked).empty());
        QCOMPARE(seenTitle.section('|', 0, 0), title.section('|', 0, 0));
        if (question != int(IPromptService::FileQuestion::OpenCapture))
            QCOMPARE(seenTitle, title);
        QCOMPARE(m_frame->FrontEnd()->AskFilePath(asked), std::string());
        QCOMPARE(folder, there.path());
        QCOMPARE(seen, selected);
        QVERIFY(filters.contains("Captured Files (*.cap)"));
        QVERIFY(filters.contains("All Files (*)"));
    }

    void waitCursorFollowsTheWork_data() {
        QTest::addColumn<bool>("inCommand");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("waitAfterQuestion");
        QTest::newRow("file chosen in a command") << true << kSample << true;
        QTest::newRow("file question cancelled") << true << QString() << false;
        QTest::newRow("file chosen outside a command") << false << kSample << false;
    }

    // The wait cursor shows from the moment a command has its file until the command ends; every question
    // and the progress dialog get the normal cursor.
    void waitCursorFollowsTheWork() {
        QFETCH(bool, inCommand);
        QFETCH(QString, answer);
        QFETCH(bool, waitAfterQuestion);
        const auto waiting = [] {
            const QCursor* cursor = QGuiApplication::overrideCursor();
            return cursor && cursor->shape() == Qt::WaitCursor;
        };
        CWindowFrontEnd* front = m_frame->FrontEnd();
        QList<bool> waitingWhileAsked;
        front->SetFileScript([&](IPromptService::FileQuestion) {
            waitingWhileAsked << waiting();
            return answer;
        });
        m_onMessage = [&](const QString&) { waitingWhileAsked << waiting(); };
        if (inCommand)
            front->BeginCommand();
        front->AskFilePath(IPromptService::FileQuestion::OpenCapture);
        QCOMPARE(waiting(), waitAfterQuestion);
        front->Prompt("a question in the middle of the work", MsgButtons::YesNo, {});
        QCOMPARE(waiting(), waitAfterQuestion);
        front->SetProgressDelay(0);
        front->ShowLoadProgress(1, 2);
        QVERIFY(!waiting());
        front->Prompt("the end of the work", MsgButtons::Ok, {});
        if (inCommand)
            front->EndCommand();
        QVERIFY(!waiting());
        QCOMPARE(waitingWhileAsked, (QList<bool>{false, false, false}));
        QVERIFY(!QGuiApplication::overrideCursor());
        QVERIFY(m_frame->findChildren<QProgressDialog*>().isEmpty() ||
                !m_frame->findChild<QProgressDialog*>()->isVisible());
    }

    // After Start or Open the tree, the hex view and the payload go on showing the packet last activated,
    // from their own copies: the store they came from is gone.
    void detailViewsKeepTheLastPacket() {
        QCOMPARE(OpenCaptureFile(kSample.toStdString(), false, StandardErrorPrompts()), 1);
        CListCtrlLeft* connections = m_frame->ConnectionsList();
        connections->Sync();
        int connection = -1;  // one whose first packet has a payload
        for (int c = 0; c < int(g_connectionTable.size()) && connection < 0; ++c)
            if (g_packetTable[g_connectionTable[size_t(c)].packetIndices[0]].payloadLen > 0)
                connection = c;
        QVERIFY(connection >= 0);
        connections->SelectAndActivate(connection);
        m_frame->PacketsList()->SelectAndActivate(0);
        CHexViewCtrl* hex = m_frame->HexView()->HexCtrl();
        const std::vector<uint8_t> bytes = hex->Data();
        const QString payload = m_frame->MainView()->PayloadViewer()->toPlainText();
        const size_t lines = m_frame->TreeView()->Lines().size();
        QVERIFY(!bytes.empty() && !payload.isEmpty() && lines > 0);

        m_answers[kFilterQuestion] = MsgAnswer::No;
        m_path = kSample;
        m_frame->OnOpen();
        QVERIFY(WaitForOpen(*m_frame));
        QCOMPARE(m_shown.last(), kOpened);
        QCOMPARE(m_frame->PacketsList()->model()->rowCount(), 0);
        QVERIFY(hex->Data() == bytes);
        QCOMPARE(m_frame->MainView()->PayloadViewer()->toPlainText(), payload);
        QCOMPARE(m_frame->TreeView()->topLevelItemCount(), 1);
        QCOMPARE(m_frame->TreeView()->Lines().size(), lines);
        // A tree line still selects its bytes, in the hex view's own copy.
        QTreeWidgetItem* ethernet = m_frame->TreeView()->topLevelItem(0)->child(0);
        QVERIFY(ethernet);
        m_frame->TreeView()->setCurrentItem(ethernet);
        QCOMPARE(hex->SelectionFirst(), 0);
        QCOMPARE(hex->SelectionLast(), 13);
    }

    void failedOpenKeepsTheCapture_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message");
        const QString opening = "PCAP error: Error opening the offline packets file!";
        QTest::newRow("not a capture file") << QString(PACTERRA_SOURCE_DIR "/README.md") << opening;
        QTest::newRow("missing") << m_dir.path() + "/gone.cap" << opening;
        QTest::newRow("empty") << m_dir.path() + "/empty.cap" << opening;
        QTest::newRow("directory") << m_dir.path() << opening;
        QTest::newRow("unreadable") << m_dir.path() + "/unreadable.cap" << opening;
        QTest::newRow("not Ethernet")
            << m_dir.path() + "/raw-ip.cap"
            << "PCAP error: The offline packets file does not hold Ethernet frames!";
    }

    // A file that does not open leaves the capture shown, the lists and the unsaved state as they were,
    // and the message names the file.
    void failedOpenKeepsTheCapture() {
        QFETCH(QString, file);
        QFETCH(QString, message);
        QFile(m_dir.path() + "/empty.cap").open(QIODevice::WriteOnly);
        {
            pcap_t* dead = pcap_open_dead(DLT_RAW, 65536);
            pcap_dump_close(pcap_dump_open(dead, (m_dir.path() + "/raw-ip.cap").toLocal8Bit().constData()));
            pcap_close(dead);
        }
        QFile unreadable(m_dir.path() + "/unreadable.cap");
        QVERIFY(QFile::copy(kSample, unreadable.fileName()) || unreadable.exists());
        unreadable.setPermissions({});
        if (file.endsWith("unreadable.cap") && QFile(file).open(QIODevice::ReadOnly))
            QSKIP("root reads any file");

        QCOMPARE(OpenCaptureFile(kSample.toStdString(), false, StandardErrorPrompts()), 1);
        CListCtrlLeft* connections = m_frame->ConnectionsList();
        connections->Sync();
        connections->SelectAndActivate(1);
        const size_t packets = g_packetTable.size();
        const int rows = connections->model()->rowCount();
        const int packetRows = m_frame->PacketsList()->model()->rowCount();
        QVERIFY(packetRows > 0);
        g_unsavedPackets = 1;
        m_answers[kSaveQuestion] = MsgAnswer::No;
        m_answers[kFilterQuestion] = MsgAnswer::No;
        m_path = file;
        const QString tip = m_frame->TrayToolTip();

        m_frame->OnOpen();
        QVERIFY(WaitForOpen(*m_frame));
        QCOMPARE(m_frame->TrayToolTip(), tip);
        QCOMPARE(m_shown, (QStringList{kSaveQuestion, kFilterQuestion, message}));
        QVERIFY2(m_details.last().startsWith(file + ": "), qPrintable(m_details.last()));
        QCOMPARE(g_packetTable.size(), packets);
        QCOMPARE(g_unsavedPackets.load(), 1);
        QCOMPARE(g_captureState.load(), int(CAPTURE_IDLE));
        connections->Sync();
        QCOMPARE(connections->model()->rowCount(), rows);
        QCOMPARE(m_frame->PacketsList()->CurrentConnection(), 1);
        QCOMPARE(m_frame->PacketsList()->model()->rowCount(), packetRows);
        m_frame->UpdateCommandStates();
        QCOMPARE(m_frame->PaneText(2), QString("Packets: %1").arg(packets));
    }

    // Read with the rules, a file indexed in place is read whole whatever the buffer size: nothing is
    // copied. One whose frames are copied and outgrow the buffer is read only in part: the box and the
    // status bar say so instead of calling it a success, until the next command.
    void loadCutShortByTheBuffer() {
        const QString file = m_dir.path() + "/big.cap", copied = m_dir.path() + "/big.pcapng";
        const int records = 2000;
        WriteCapture(file, records, 1000);  // about 2 MB
        WriteCapture(copied, records, 1000, true);
        QCOMPARE(m_frame->TrayToolTip(), QString("Pacterra Packet Sniffer\nNo capture"));
        g_bufferPercent = 2129;  // past the limit, where nothing stops a capture: the gauge reads full
        QCOMPARE(m_frame->PaneText(0), QString("Buffer: 100%"));
        g_config.bufferMB = 1;
        m_answers[kFilterQuestion] = MsgAnswer::Yes;
        QSignalSpy finished(m_frame.get(), &CMainFrame::LoadFinished);
        m_frame->OpenFileAtStartup(file);
        QVERIFY(WaitForOpen(*m_frame));
        QCOMPARE(m_shown, (QStringList{kFilterQuestion, kOpened}));
        QCOMPARE(g_packetTable.size(), size_t(records));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished[0][0].toBool(), true);
        QVERIFY2(m_frame->PaneText(0).startsWith("Indexed: 100% of "), qPrintable(m_frame->PaneText(0)));

        m_shown.clear();
        m_frame->OpenFileAtStartup(copied);
        QVERIFY(WaitForOpen(*m_frame));
        const size_t kept = g_packetTable.size();
        QVERIFY(kept > 900 && kept < size_t(records));
        const QString filled = QString(
                                   "The buffer of 1 MB filled after %1 packets, and the rest of the file "
                                   "was not read.")
                                   .arg(kept);
        QCOMPARE(m_shown, (QStringList{kFilterQuestion, filled}));
        QCOMPARE(finished.count(), 2);
        QCOMPARE(finished[1][0].toBool(), false);
        QCOMPARE(m_frame->MessagePaneText(), filled);
        QCOMPARE(m_frame->TrayToolTip(), "Pacterra Packet Sniffer\nbig.pcapng\n" + filled);
        QTest::qWait(600);  // the status panes' refreshes leave it
        QCOMPARE(m_frame->MessagePaneText(), filled);

        // The next command on the capture (a Save, cancelled here) takes it away.
        m_frame->OnSave();
        QCOMPARE(m_frame->MessagePaneText(), QString("Ready"));
        QCOMPARE(m_frame->TrayToolTip(), QString("Pacterra Packet Sniffer\nbig.pcapng"));

        // The same file without the rules is read whole and opened successfully.
        m_shown.clear();
        m_answers[kFilterQuestion] = MsgAnswer::No;
        m_frame->OpenFileAtStartup(file);
        QVERIFY(WaitForOpen(*m_frame));
        QCOMPARE(m_shown, (QStringList{kFilterQuestion, kOpened}));
        QCOMPARE(g_packetTable.size(), size_t(records));
        QCOMPARE(m_frame->MessagePaneText(), QString("Ready"));
        // Its frames stay in the file: the pane says how much of it is indexed, not how full the buffer is.
        QVERIFY2(m_frame->PaneText(0).startsWith("Indexed: 100% of "), qPrintable(m_frame->PaneText(0)));
        // Saved, the packets are the new file's.
        m_path = m_dir.path() + "/saved.cap";
        m_frame->OnSave();
        QCOMPARE(m_frame->TrayToolTip(), QString("Pacterra Packet Sniffer\nsaved.cap"));
    }

    // A stream read with the rules ends at the buffer limit like a live capture: no box, the status bar
    // says why.
    void streamCutShortByTheBuffer() {
        const QString file = m_dir.path() + "/stream.cap", fifo = m_dir.path() + "/stream.fifo";
        WriteCapture(file, 2000, 1000);
        QFile capture(file);
        QVERIFY(capture.open(QIODevice::ReadOnly));
        const QByteArray bytes = capture.readAll();
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        std::signal(SIGPIPE, SIG_IGN);  // the reader goes away before the writer is done
        std::thread writer([&] {
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_CLOEXEC);
            for (qsizetype at = 0; fd >= 0 && at < bytes.size();) {
                const ssize_t n = ::write(fd, bytes.constData() + at, static_cast<size_t>(bytes.size() - at));
                if (n <= 0)
                    break;
                at += n;
            }
            ::close(fd);
        });
        g_config.bufferMB = 1;
        m_answers[kFilterQuestion] = MsgAnswer::Yes;
        QSignalSpy finished(m_frame.get(), &CMainFrame::LoadFinished);
        m_frame->OpenFileAtStartup(fifo);
        QVERIFY(WaitForOpen(*m_frame));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        writer.join();
        const size_t kept = g_packetTable.size();
        QVERIFY(kept > 900 && kept < 2000);
        QCOMPARE(m_shown, QStringList{kFilterQuestion});
        const QString filled =
            QString("The buffer of 1 MB filled after %1 packets, and the rest of the stream was not read.")
                .arg(kept);
        QCOMPARE(m_frame->MessagePaneText(), filled);
        QCOMPARE(m_frame->TrayToolTip(), "Pacterra Packet Sniffer\nstream.fifo\n" + filled);
    }

    // A long load's progress dialog is gone before the box that reports the load.
    void progressGoneBeforeTheBox() {
        const QString file = m_dir.path() + "/long.cap";
        WriteCapture(file, 20 * kLoadBatch, 200);
        m_frame->FrontEnd()->SetProgressDelay(0);
        bool progressShown = false, progressAtBox = true;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            for (auto* dialog : m_frame->findChildren<QProgressDialog*>()) {
                if (!dialog->isVisible() || progressShown)
                    continue;
                progressShown = true;
                // The window takes no input but the dialog's meanwhile: Stop on the toolbar does nothing.
                m_frame->UpdateCommandStates();
                QWidget* stop = m_frame->findChild<QToolBar*>()->widgetForAction(m_frame->Action(ID_STOP));
                QVERIFY(stop && stop->isEnabled());
                QTest::mouseClick(stop, Qt::LeftButton);
            }
        });
        watch.start(0);
        m_onMessage = [&](const QString& text) {
            if (text != kOpened)
                return;
            progressAtBox = false;
            for (auto* dialog : m_frame->findChildren<QProgressDialog*>())
                progressAtBox = progressAtBox || dialog->isVisible();
        };
        m_answers[kFilterQuestion] = MsgAnswer::No;
        m_frame->OpenFileAtStartup(file);
        QVERIFY(WaitForOpen(*m_frame));
        QCOMPARE(m_shown, (QStringList{kFilterQuestion, kOpened}));
        QVERIFY(progressShown);
        QVERIFY(!progressAtBox);
        QCOMPARE(g_packetTable.size(), size_t(20 * kLoadBatch));
    }

private:
    QTemporaryDir m_home, m_dir;
    std::unique_ptr<CMainFrame> m_frame;
    QStringList m_shown, m_details;
    QMap<QString, MsgAnswer> m_answers;
    QString m_path;
    std::function<void(const QString&)> m_onMessage;
};

QTEST_MAIN(MainFrameStatusTest)
#include "mainframe_status_test.moc"
