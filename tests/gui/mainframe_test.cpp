// The main window on the real engine: its commands, their states per capture state, the bars, Show/Hide,
// the close guard's branches and the Open and Save flows on real files, with the questions answered here.
#include <QMenuBar>
#include <QProgressDialog>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>
#include "../WindowHarness.h"
#include "ui/ListBars.h"

#include <thread>

#include "../unit/FrameBuilder.h"
#include "app/AboutDlg.h"
#include "app/MainFrame.h"
#include "capture/CaptureFile.h"
#include "capture/LiveCapture.h"
#include "capture/PacketStore.h"
#include "frontend/Messages.h"
#include "ui/LinkLabel.h"
#include "views/ListCtrlLeft.h"

Q_DECLARE_METATYPE(MsgAnswer)

namespace {

const QString kSample = QStringLiteral(PACTERRA_SOURCE_DIR "/res/sample.cap");
const QString kStopQuestion = msg::kStopCapturingQuestion;
const QString kSaveQuestion = msg::kSaveUnsavedQuestion;
const QString kFilterQuestion = msg::kApplyFilterQuestion;

// Answers the questions from a script and keeps every text it was shown.
struct Answers {
    QMap<QString, MsgAnswer> script;  // question -> answer; messages (OK only) need none
    QString path;                     // the answer to every file question
    QStringList shown;

    void Attach(CMainFrame& frame) {
        frame.FrontEnd()->SetPromptScript([this](const QString& text, MsgButtons buttons, const QString&) {
            shown << text;
            if (script.contains(text))
                return script.value(text);
            if (buttons != MsgButtons::Ok)
                qWarning("unexpected question: %s", qPrintable(text));
            return MsgAnswer::Ok;
        });
        frame.FrontEnd()->SetFileScript([this](IPromptService::FileQuestion) { return path; });
    }
};

}  // namespace

class MainFrameTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // The settings store and Config.cfg of this test only.
        QVERIFY(UseTemporaryHome(m_home));
    }

    void init() {
        m_frame = NewMainWindow();
        m_answers = Answers{};
        m_answers.Attach(*m_frame);
        QVERIFY(ShowMainWindow(*m_frame));
    }

    void cleanup() {
        g_captureState = CAPTURE_IDLE;
        g_unsavedPackets = 0;
        CloseMainWindow(m_frame);
    }

    void commands_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shortcut");
        QTest::addColumn<QString>("tooltip");
        QTest::newRow("New Window") << int(ID_NEW_WINDOW) << "&New Window\tCtrl+N"
                                    << "Ctrl+N"
                                    << "New Window";
        QTest::newRow("Exit") << int(ID_APP_EXIT) << "E&xit"
                              << ""
                              << "Exit";
        QTest::newRow("Toolbar") << int(ID_VIEW_TOOLBAR) << "&Toolbar"
                                 << ""
                                 << "Toggle ToolBar";
        QTest::newRow("Status Bar") << int(ID_VIEW_STATUS_BAR) << "&Status Bar"
                                    << ""
                                    << "Toggle StatusBar";
        QTest::newRow("Dock Connections") << int(ID_DOCK_CONNECTIONS) << "Dock &Connections Bar"
                                          << ""
                                          << "Dock Connections Bar";
        QTest::newRow("Dock Packets") << int(ID_DOCK_PACKETS) << "Dock &Packets Bar"
                                      << ""
                                      << "Dock Packets Bar";
        QTest::newRow("Reset Layout") << int(ID_RESET_LAYOUT) << "Reset &Layout"
                                      << ""
                                      << "Reset Layout";
        QTest::newRow("Dock Traffic") << int(ID_DOCK_TRAFFIC) << "Dock Tra&ffic Bar"
                                      << ""
                                      << "Dock Traffic Bar";
        QTest::newRow("Start") << int(ID_START) << "S&tart"
                               << ""
                               << "Start";
        QTest::newRow("Stop") << int(ID_STOP) << "Sto&p"
                              << ""
                              << "Stop";
        QTest::newRow("Configure") << int(ID_CONFIGURE) << "&Configure"
                                   << ""
                                   << "Configure";
        QTest::newRow("Adapter") << int(ID_SELECT_ADAPTER) << "Select Network &Adapter"
                                 << ""
                                 << "Select Network Adapter";
        QTest::newRow("Open") << int(ID_OPEN) << "&Open\tCtrl+O"
                              << "Ctrl+O"
                              << "Open";
        QTest::newRow("Save") << int(ID_SAVE) << "&Save\tCtrl+S"
                              << "Ctrl+S"
                              << "Save";
        QTest::newRow("Tip") << int(ID_TIP_OF_THE_DAY) << "Ti&p of the Day..."
                             << ""
                             << "Tip of the Day";
        QTest::newRow("Help") << int(ID_HELP_CONTENTS) << "Help &Contents"
                              << ""
                              << "Help Contents";
        QTest::newRow("Tutorial") << int(ID_TUTORIAL) << "&Tutorial"
                                  << ""
                                  << "Tutorial";
        QTest::newRow("Home") << int(ID_HOME_PAGE) << "&Home Page (https://pacterra.example/)"
                              << ""
                              << "Home Page";
        QTest::newRow("About") << int(ID_APP_ABOUT) << "&About Pacterra Packet Sniffer..."
                               << ""
                               << "About";
    }

    // Every command sits in the menu bar under its text and number, with its accelerator and tooltip.
    void commands() {
        QFETCH(int, command);
        QFETCH(QString, text);
        QFETCH(QString, shortcut);
        QFETCH(QString, tooltip);
        QAction* found = nullptr;
        for (QAction* menu : m_frame->menuBar()->actions())
            for (QAction* entry : menu->menu()->actions())
                if (entry->data().toInt() == command)
                    found = entry;
        QVERIFY(found);
        QCOMPARE(found->text(), text);
        QCOMPARE(found->shortcut().toString(), shortcut);
        QCOMPARE(found->toolTip(), tooltip);
        QVERIFY(!found->statusTip().isEmpty());
    }

    void toolbarAndTitle() {
        QCOMPARE(m_frame->windowTitle(), QString("Pacterra Packet Sniffer"));
        QCOMPARE(Action(ID_START)->statusTip(), QString("Start packets capturing"));
        auto* toolbar = m_frame->findChild<QToolBar*>();
        QVERIFY(toolbar);
        QList<int> order;
        for (QAction* a : toolbar->actions()) {
            order << (a->isSeparator() ? 0 : a->data().toInt());
            if (!a->isSeparator())
                QCOMPARE(a->icon().availableSizes().value(0), QSize(16, 15));
        }
        QCOMPARE(order, (QList<int>{int(ID_NEW_WINDOW), 0, int(ID_START), int(ID_STOP), 0, int(ID_CONFIGURE),
                                    int(ID_SELECT_ADAPTER), 0, int(ID_OPEN), int(ID_SAVE), 0,
                                    int(ID_HELP_CONTENTS), int(ID_APP_ABOUT), 0, int(ID_HOME_PAGE)}));
        QStringList tray;
        for (QAction* a : m_frame->TrayMenu()->actions())
            tray << (a->isSeparator() ? "-" : a->text());
        QCOMPARE(tray, (QStringList{"&Configure", "Select Network &Adapter", "-",
                                    "&Hide Pacterra Packet Sniffer", "-", "&About", "-", "E&xit"}));
    }

    void enabledStates_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("start");
        QTest::addColumn<bool>("stop");
        QTest::newRow("idle") << int(CAPTURE_IDLE) << true << false;
        QTest::newRow("running") << int(CAPTURE_RUNNING) << false << true;
        QTest::newRow("stopping") << int(CAPTURE_STOPPING) << false << false;
    }

    // The states follow the capture state by themselves (a capture ends on its own thread).
    void enabledStates() {
        QFETCH(int, state);
        QFETCH(bool, start);
        QFETCH(bool, stop);
        g_captureState = state;
        QTRY_COMPARE_WITH_TIMEOUT(Action(ID_START)->isEnabled(), start, 1000);
        QCOMPARE(Action(ID_STOP)->isEnabled(), stop);
        QCOMPARE(Action(ID_CONFIGURE)->isEnabled(), start);
        QCOMPARE(Action(ID_SELECT_ADAPTER)->isEnabled(), start);
        QVERIFY(Action(ID_OPEN)->isEnabled());
        QVERIFY(Action(ID_SAVE)->isEnabled());
    }

    void barsAndDockToggles() {
        CConnectionsBar* conns = m_frame->ConnectionsBar();
        CPacketsBar* packets = m_frame->PacketsBar();
        QCOMPARE(m_frame->dockWidgetArea(conns), Qt::TopDockWidgetArea);
        QCOMPARE(m_frame->dockWidgetArea(packets), Qt::TopDockWidgetArea);
        QCOMPARE(conns->geometry().top(), packets->geometry().top());
        QVERIFY(conns->geometry().right() < packets->geometry().left());
        QVERIFY(conns->width() > packets->width());

        QVERIFY(Action(ID_DOCK_CONNECTIONS)->isChecked());
        Action(ID_DOCK_CONNECTIONS)->trigger();
        QVERIFY(conns->isFloating());
        QVERIFY(!Action(ID_DOCK_CONNECTIONS)->isChecked());
        QVERIFY(Action(ID_DOCK_PACKETS)->isChecked());
        Action(ID_DOCK_CONNECTIONS)->trigger();
        QVERIFY(!conns->isFloating());
        QVERIFY(Action(ID_DOCK_CONNECTIONS)->isChecked());
        QCOMPARE(m_frame->dockWidgetArea(conns), Qt::TopDockWidgetArea);
    }

    // Without a tray (as here) hiding minimises, so the window cannot be lost; it comes back as it left.
    void showHide() {
        QAction* showHide = Action(ID_SHOW_HIDE);
        QCOMPARE(showHide->text(), QString("&Hide Pacterra Packet Sniffer"));
        m_frame->showMaximized();
        QTRY_VERIFY(m_frame->isMaximized());
        showHide->trigger();
        QCOMPARE(showHide->text(), QString("&Show Pacterra Packet Sniffer"));
        QVERIFY(m_frame->isMinimized() || m_frame->isHidden());
        QVERIFY(!m_frame->isHidden());
        showHide->trigger();
        QCOMPARE(showHide->text(), QString("&Hide Pacterra Packet Sniffer"));
        QTRY_VERIFY(m_frame->isMaximized());
        QVERIFY(!m_frame->isMinimized());
    }

    void closeGuard_data() {
        QTest::addColumn<bool>("capturing");
        QTest::addColumn<MsgAnswer>("stopAnswer");
        QTest::addColumn<MsgAnswer>("saveAnswer");
        QTest::addColumn<QString>("savePath");  // "bad" for a folder that does not exist
        QTest::addColumn<bool>("closes");
        QTest::newRow("capturing, Cancel") << true << MsgAnswer::Cancel << MsgAnswer::Yes << "" << false;
        QTest::newRow("unsaved, Cancel") << false << MsgAnswer::Ok << MsgAnswer::Cancel << "" << false;
        QTest::newRow("unsaved, Yes, save dialog cancelled")
            << false << MsgAnswer::Ok << MsgAnswer::Yes << "" << false;
        QTest::newRow("unsaved, Yes, save fails")
            << false << MsgAnswer::Ok << MsgAnswer::Yes << "bad" << false;
        QTest::newRow("unsaved, Yes, saved") << false << MsgAnswer::Ok << MsgAnswer::Yes << "good" << true;
        QTest::newRow("unsaved, No") << false << MsgAnswer::Ok << MsgAnswer::No << "" << true;
    }

    // Closing never drops packets the user did not agree to drop.
    void closeGuard() {
        QFETCH(bool, capturing);
        QFETCH(MsgAnswer, stopAnswer);
        QFETCH(MsgAnswer, saveAnswer);
        QFETCH(QString, savePath);
        QFETCH(bool, closes);
        QVERIFY(OpenCaptureFile(kSample.toStdString(), false, StandardErrorPrompts()));
        const size_t packets = g_packetTable.size();
        QVERIFY(packets > 0);
        g_unsavedPackets = 1;
        if (capturing)
            g_captureState = CAPTURE_RUNNING;  // no thread: Cancel must leave it alone
        QTemporaryDir dir;
        m_answers.script[kStopQuestion] = stopAnswer;
        m_answers.script[kSaveQuestion] = saveAnswer;
        m_answers.path = savePath == "bad"    ? dir.path() + "/missing/x.cap"
                         : savePath == "good" ? dir.path() + "/kept.cap"
                                              : "";

        QCOMPARE(m_frame->close(), closes);
        QCOMPARE(m_frame->isVisible(), !closes);
        if (closes) {
            QCOMPARE(g_packetTable.size(), size_t(0));
        } else {
            QCOMPARE(g_packetTable.size(), packets);
            QCOMPARE(g_unsavedPackets.load(), 1);
            QCOMPARE(g_captureState.load(), capturing ? int(CAPTURE_RUNNING) : int(CAPTURE_IDLE));
        }
        if (savePath == "bad")
            QVERIFY(m_answers.shown.contains("PCAP Error: Error opening the dump file"));
        if (savePath == "good") {
            QVERIFY(QFileInfo(m_answers.path).size() > 24);
            QVERIFY(m_answers.shown.contains("Captured packets saved successfully!"));
        }
    }

    // Save, then Open the file again: the same store, the panes say so, nothing is left unsaved.
    void saveThenOpen() {
        QVERIFY(OpenCaptureFile(kSample.toStdString(), false, StandardErrorPrompts()));
        const size_t packets = g_packetTable.size(), connections = g_connectionTable.size();
        g_unsavedPackets = 1;
        QTemporaryDir dir;
        m_answers.path = dir.path() + "/round.cap";
        m_frame->OnSave();
        QCOMPARE(m_answers.shown, QStringList{"Captured packets saved successfully!"});
        QCOMPARE(g_unsavedPackets.load(), 0);

        m_answers.shown.clear();
        m_answers.script[kFilterQuestion] = MsgAnswer::No;
        QSignalSpy finished(m_frame.get(), &CMainFrame::LoadFinished);
        m_frame->OnOpen();
        QVERIFY(WaitForOpen(*m_frame));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished[0][0].toBool(), true);
        QCOMPARE(m_answers.shown,
                 (QStringList{kFilterQuestion, "Captured packets file opened successfully!"}));
        QCOMPARE(g_packetTable.size(), packets);
        QCOMPARE(g_connectionTable.size(), connections);
        QCOMPARE(g_captureState.load(), int(CAPTURE_IDLE));
        m_frame->UpdateCommandStates();
        QCOMPARE(m_frame->PaneText(1), QString("Conns: %1").arg(connections));
        QCOMPARE(m_frame->PaneText(2), QString("Packets: %1").arg(packets));
        // The file's frames stay in it: the pane says how much of it is indexed, not how full the buffer is.
        QVERIFY2(m_frame->PaneText(0).startsWith("Indexed: 100% of "), qPrintable(m_frame->PaneText(0)));
        QVERIFY(Action(ID_START)->isEnabled());
        // Nothing to save after a load: the window closes without a question.
        m_answers.shown.clear();
        QVERIFY(m_frame->close());
        QVERIFY(m_answers.shown.isEmpty());
    }

    void openFlowKeepsPackets_data() {
        QTest::addColumn<MsgAnswer>("saveAnswer");
        QTest::addColumn<QString>("file");  // "" cancels the file dialog
        QTest::addColumn<bool>("kept");
        QTest::newRow("save question cancelled") << MsgAnswer::Cancel << kSample << true;
        QTest::newRow("file dialog cancelled") << MsgAnswer::No << "" << true;
        // Found out before the store is emptied: the capture stays.
        QTest::newRow("not a capture file")
            << MsgAnswer::No << QString(PACTERRA_SOURCE_DIR "/README.md") << true;
    }

    void openFlowKeepsPackets() {
        QFETCH(MsgAnswer, saveAnswer);
        QFETCH(QString, file);
        QFETCH(bool, kept);
        QVERIFY(OpenCaptureFile(kSample.toStdString(), false, StandardErrorPrompts()));
        const size_t packets = g_packetTable.size();
        g_unsavedPackets = 1;
        m_answers.script[kSaveQuestion] = saveAnswer;
        m_answers.script[kFilterQuestion] = MsgAnswer::No;
        m_answers.path = file;
        m_frame->OnOpen();
        QVERIFY(WaitForOpen(*m_frame));
        QCOMPARE(g_packetTable.size(), kept ? packets : size_t(0));
        QCOMPARE(g_captureState.load(), int(CAPTURE_IDLE));
        if (file.endsWith("README.md"))
            QVERIFY(m_answers.shown.contains("PCAP error: Error opening the offline packets file!"));
    }

    // Cancelling a long save writes nothing and leaves every packet unsaved; cancelling a long load keeps
    // what was read and does not call it a success.
    void progressCancel() {
        const int count = 3 * kSaveBatch;
        for (int i = 0; i < count; ++i) {
            FrameSpec frame;
            frame.srcPort = static_cast<uint16_t>(1024 + i % 500);
            frame.payload = "x";
            FeedFrame(BuildFrame(frame), 1700000000 + i);
        }
        QCOMPARE(g_packetTable.size(), size_t(count));
        QTemporaryDir dir;
        const QString all = dir.path() + "/all.cap", cancelled = dir.path() + "/cancelled.cap";
        m_answers.path = all;
        m_frame->OnSave();
        QVERIFY(QFileInfo::exists(all));

        g_unsavedPackets = 1;
        m_frame->FrontEnd()->SetProgressDelay(0);
        m_answers.path = cancelled;
        m_answers.shown.clear();
        CancelProgressSoon();
        m_frame->OnSave();
        QVERIFY(!QFileInfo::exists(cancelled));
        QVERIFY(QDir(dir.path()).entryList(QDir::Files) == QStringList{"all.cap"});
        QCOMPARE(g_unsavedPackets.load(), 1);
        QCOMPARE(g_packetTable.size(), size_t(count));
        QVERIFY(m_answers.shown.isEmpty());

        g_unsavedPackets = 0;
        m_answers.script[kFilterQuestion] = MsgAnswer::No;
        m_answers.path = all;
        CancelProgressSoon();
        m_frame->OnOpen();
        QVERIFY(WaitForOpen(*m_frame));
        QVERIFY(g_packetTable.size() > 0);
        QVERIFY(g_packetTable.size() < size_t(count));
        QCOMPARE(g_captureState.load(), int(CAPTURE_IDLE));
        QCOMPARE(m_answers.shown, QStringList{kFilterQuestion});
        QCOMPARE(m_frame->statusBar()->currentMessage(),
                 QString("Reading stopped: %1 packets were read.").arg(g_packetTable.size()));
        QVERIFY(!m_frame->findChild<QProgressDialog*>() ||
                !m_frame->findChild<QProgressDialog*>()->isVisible());
    }

    // `pacterra FILE`: the Open command's own questions and messages, without its file dialog.
    void openFileAtStartup() {
        m_answers.script[kFilterQuestion] = MsgAnswer::No;
        m_frame->OpenFileAtStartup(kSample);
        QVERIFY(WaitForOpen(*m_frame));
        QCOMPARE(m_answers.shown,
                 (QStringList{kFilterQuestion, "Captured packets file opened successfully!"}));
        QVERIFY(g_packetTable.size() > 0);
        QTRY_COMPARE(m_frame->ConnectionsList()->model()->rowCount(), int(g_connectionTable.size()));
    }

    void aboutBox() {
        CAboutDlg about(m_frame.get());
        QCOMPARE(about.windowTitle(), QString("About Pacterra Packet Sniffer"));
        QStringList texts, targets;
        for (QLabel* label : about.findChildren<QLabel*>())
            texts << label->text();
        for (CLinkLabel* link : about.findChildren<CLinkLabel*>())
            targets << link->Target();
        QVERIFY(texts.contains("Pacterra Packet Sniffer Version 1.4"));
        targets.sort();
        QCOMPARE(targets, (QStringList{"https://pacterra.example/", "mailto:sales@pacterra.example",
                                       "mailto:support@pacterra.example"}));
    }

    // A message from the capture thread must not wait for the interface thread, which may be joining it.
    void messageFromCaptureThread() {
        std::thread worker([] { ShowMessage("from the capture thread"); });
        worker.join();
        QVERIFY(m_answers.shown.isEmpty());
        QTRY_COMPARE(m_answers.shown, QStringList{"from the capture thread"});
    }

private:
    // Presses Cancel on the progress dialog as soon as one shows.
    void CancelProgressSoon() {
        auto* timer = new QTimer(m_frame.get());
        connect(timer, &QTimer::timeout, timer, [this, timer] {
            for (auto* dialog : m_frame->findChildren<QProgressDialog*>())
                if (dialog->isVisible()) {
                    dialog->cancel();
                    timer->deleteLater();
                }
        });
        timer->start(0);
    }
    QAction* Action(int command) { return m_frame->Action(command); }

    QTemporaryDir m_home;
    std::unique_ptr<CMainFrame> m_frame;
    Answers m_answers;
};

QTEST_MAIN(MainFrameTest)
#include "mainframe_test.moc"
