// The "Stream" tab on a real HTTP download and on streams made here: colours by direction, the "Data" tab's
// highlighting, the find bar, "Show:", Save Stream As..., the shown-text cap, live growth, and in the main
// window the third tab with "Follow Stream" on the rows of both lists.
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include "../unit/TcpFrames.h"
#include "app/MainFrame.h"
#include "app/TrawlerApp.h"
#include "app/WindowFrontEnd.h"
#include "capture/CaptureFile.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "frontend/Messages.h"
#include "ui/TabWnd.h"
#include "ui/VisualFramework.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/StreamView.h"

namespace {

const QString kHttp = QStringLiteral(PACTERRA_SOURCE_DIR "/tests/data/stream/http-download.cap");

void Feed(const TcpFrameSpec& s) {
    const std::vector<uint8_t> f = BuildTcpFrame(s);
    pcap_pkthdr h{};
    h.ts.tv_sec = 1700000000;
    h.caplen = h.len = static_cast<bpf_u_int32>(f.size());
    PacketHandler(nullptr, &h, f.data());
}

// The character format at document position `pos`.
QTextCharFormat FormatAt(QPlainTextEdit* text, int pos) {
    QTextCursor c(text->document());
    c.setPosition(pos + 1);
    return c.charFormat();
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class StreamViewTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8());
    }

    void init() {
        ResetCaptureStore();
        g_config.ApplyDefaults();
    }
    void cleanup() {
        g_captureState = CAPTURE_IDLE;
        g_skipFilter = 0;
        ResetCaptureStore();
    }

    void httpExchangeInBothColoursWithHighlighting() {
        QVERIFY(OpenCaptureFile(kHttp.toStdString(), false, StandardErrorPrompts()));
        CStreamView view;
        view.resize(900, 600);
        view.ShowConnection(0);
        QPlainTextEdit* text = view.TextCtrl();
        const QString all = text->toPlainText();
        QVERIFY(all.startsWith("GET /object.bin HTTP/1.1\nHost: 198.51.100.2:8000\n"));
        const int response = all.indexOf("HTTP/1.0 200 OK");
        QVERIFY(response > 0);
        QCOMPARE(all.at(response - 1), QChar('\n'));  // a turn starts on a new line
        // The client's bytes on the client colour, the server's on the server colour.
        QCOMPARE(FormatAt(text, 5).background().color(), CStreamView::ClientBack());
        QCOMPARE(FormatAt(text, response + 20).background().color(), CStreamView::ServerBack());
        // The "Data" tab's highlighting: GET and HTTP/1.0 at the start of their turns, header names bold.
        QCOMPARE(FormatAt(text, 0).fontWeight(), int(QFont::Bold));
        QCOMPARE(FormatAt(text, response).fontWeight(), int(QFont::Bold));
        QCOMPARE(FormatAt(text, all.indexOf("Host:")).fontWeight(), int(QFont::Bold));
        QCOMPARE(FormatAt(text, all.indexOf("Content-Length:", response)).fontWeight(), int(QFont::Bold));
        QCOMPARE(FormatAt(text, all.indexOf("/object.bin")).fontWeight(), int(QFont::Normal));
        QVERIFY(view.Summary()->text().contains("Connection No.0 (TCP)"));
    }

    void findBarFindsHeadersAndSaysNotFound() {
        QVERIFY(OpenCaptureFile(kHttp.toStdString(), false, StandardErrorPrompts()));
        CStreamView view;
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.ShowConnection(0);
        view.TextCtrl()->setFocus();
        QVERIFY(!view.FindBar()->isVisible());
        QTest::keyClick(view.TextCtrl(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(view.FindBar()->isVisible());
        QVERIFY(view.FindField()->hasFocus());
        QTest::keyClicks(view.FindField(), "content-length");  // found while typing, whatever the case
        QCOMPARE(view.TextCtrl()->textCursor().selectedText(), QString("Content-Length"));
        QVERIFY(view.FindStatus()->text().isEmpty());
        // F3 finds the next one; there is one only, so it wraps round to the same.
        const int first = view.TextCtrl()->textCursor().selectionStart();
        QTest::keyClick(view.FindField(), Qt::Key_F3);
        QCOMPARE(view.TextCtrl()->textCursor().selectionStart(), first);
        view.FindField()->setText("Host");
        QTest::keyClick(view.FindField(), Qt::Key_F3);
        const int host = view.TextCtrl()->textCursor().selectionStart();
        QTest::keyClick(view.FindField(), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(view.TextCtrl()->textCursor().selectedText(), QString("Host"));
        view.FindField()->setText("no such words");
        QTest::keyClick(view.FindField(), Qt::Key_Return);
        QCOMPARE(view.FindStatus()->text(), QString("not found"));
        QCOMPARE(view.TextCtrl()->textCursor().selectionStart(), host);  // the last match stays
        QTest::keyClick(view.FindField(), Qt::Key_Escape);
        QVERIFY(!view.FindBar()->isVisible());
    }

    void showChoosesTheDirectionsAndSaveWritesThem() {
        QVERIFY(OpenCaptureFile(kHttp.toStdString(), false, StandardErrorPrompts()));
        CStreamView view;
        view.ShowConnection(0);
        QTemporaryDir dir;
        const QString both = dir.filePath("both.bin"), server = dir.filePath("server.bin");
        QVERIFY(view.SaveTo(both));
        view.SetShow(CStreamView::ServerOnly);
        QVERIFY(view.TextCtrl()->toPlainText().startsWith("HTTP/1.0 200 OK\n"));
        QVERIFY(view.SaveTo(server));
        view.SetShow(CStreamView::ClientOnly);
        QVERIFY(!view.TextCtrl()->toPlainText().contains("HTTP/1.0"));
        const QByteArray response = ReadAll(server);
        QVERIFY(response.startsWith("HTTP/1.0 200 OK\r\n"));
        QCOMPARE(response.size() - response.indexOf("\r\n\r\n") - 4, 524288);
        QVERIFY(ReadAll(both).endsWith(response));
        QVERIFY(ReadAll(both).startsWith("GET /object.bin HTTP/1.1\r\n"));
        // A save that cannot be made says why and leaves nothing behind.
        QString error;
        QVERIFY(!view.SaveTo(dir.filePath("no/such/dir/x.bin"), &error));
        QVERIFY(!error.isEmpty());
    }

    void bytesGoneFromTheFile_data() {
        QTest::addColumn<bool>("cut");
        QTest::newRow("cut short") << true;
        QTest::newRow("written over") << false;
    }

    // The file opened in place changed: the tab and Save Stream As... say the bytes are gone, not that the
    // capture missed some.
    void bytesGoneFromTheFile() {
        QFETCH(bool, cut);
        QTemporaryDir dir;
        const QString file = dir.filePath("open.cap"), saved = dir.filePath("stream.bin");
        QVERIFY(QFile::copy(kHttp, file));
        QVERIFY(OpenCaptureFile(file.toStdString(), false, StandardErrorPrompts()));
        QFile f(file);
        QVERIFY(cut ? f.resize(4096)
                    : f.open(QIODevice::ReadWrite) && f.write(QByteArray(f.size(), 'x')) > 0);
        f.close();
        CStreamView view;
        view.ShowConnection(0);
        QCOMPARE(view.TextCtrl()->toPlainText(), QString(msg::kStreamBytesGone));
        QVERIFY2(view.Summary()->text().contains(" packets are no longer in the file"),
                 qPrintable(view.Summary()->text()));
        QString error;
        QVERIFY(!view.SaveTo(saved, &error));
        QCOMPARE(error, QString(msg::kStreamBytesGone));
        QVERIFY(!QFile::exists(saved));
    }

    // A connection chosen while the tab is hidden costs nothing until the tab shows.
    void hiddenTabWaitsUntilShown() {
        QVERIFY(OpenCaptureFile(kHttp.toStdString(), false, StandardErrorPrompts()));
        QTabWidget tabs;
        auto* view = new CStreamView;
        tabs.addTab(new QWidget, "Packet");
        tabs.addTab(view, "Stream");
        tabs.show();
        view->ShowConnection(0);
        QCOMPARE(view->Stream()->PacketsRead(), size_t{0});
        QVERIFY(view->TextCtrl()->document()->isEmpty());
        tabs.setCurrentIndex(1);
        QVERIFY(view->TextCtrl()->toPlainText().startsWith("GET /object.bin HTTP/1.1\n"));
    }

    void bigStreamShowsItsFirstMegabytesQuickly() {
        // 8 MB from the client: the tab shows the first kShownLimit characters and says where the rest is.
        g_skipFilter = 1;
        TcpFrameSpec c;
        c.flags = kTcpAck;
        const std::string line = std::string(99, 'a') + "\n";
        std::string payload;
        while (payload.size() < 1400)
            payload += line;
        for (uint32_t i = 0; i < 6000; ++i) {
            c.payload = i == 5000 ? "NEEDLE" + payload.substr(6) : payload;  // far past what is shown
            c.seq = 1 + i * static_cast<uint32_t>(payload.size());
            Feed(c);
        }
        CStreamView view;
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QElapsedTimer clock;
        clock.start();
        view.ShowConnection(0);
        view.repaint();
        const qint64 ms = clock.elapsed();
        qInfo("first screen of an 8 MB stream after %lld ms", static_cast<long long>(ms));
        QVERIFY(ms < 1000);
        QVERIFY(view.TextCtrl()->toPlainText().startsWith(QString::fromStdString(line)));
        QTRY_COMPARE(view.TextCtrl()->document()->lastBlock().text(),
                     QString("[first 2 MB shown; Save Stream As... for the rest]"));
        QVERIFY(view.TextCtrl()->document()->characterCount() < int(CStreamView::kShownLimit + 100));
        QTRY_COMPARE(view.Stream()->PacketsRead(), size_t{6000});  // the rest is read in steps
        // Find searches the whole conversation and shows the part that holds the match, on a worker while
        // the window's command asks for its progress here; a Cancel there finds nothing.
        bool go = false, onWindow = false;
        view.SetFindCommand([](const std::function<void()>& find) { find(); },
                            [&](int64_t, int64_t) {
                                onWindow = QThread::currentThread() == qApp->thread();
                                return go;
                            });
        QTest::keyClicks(view.FindField(), "needle");  // typed: only the part shown is searched
        QVERIFY(!onWindow && view.FindStatus()->text().startsWith("not in the part shown"));
        QVERIFY(!view.FindNext() && onWindow);
        QCOMPARE(view.FindStatus()->text(), QString("cancelled"));
        go = true;
        QVERIFY(view.FindNext());
        QCOMPARE(view.TextCtrl()->textCursor().selectedText(), QString("NEEDLE"));
        QVERIFY(view.TextCtrl()->document()->firstBlock().text().startsWith("[the conversation before"));
        QVERIFY(view.FindNext(true));  // the only one, round the start
        QCOMPARE(view.TextCtrl()->textCursor().selectedText(), QString("NEEDLE"));
        QTemporaryDir dir;
        QVERIFY(view.SaveTo(dir.filePath("all.bin")));
        QCOMPARE(QFileInfo(dir.filePath("all.bin")).size(), qint64(6000) * qint64(payload.size()));
        // Saved on a worker: the progress is asked on this thread, and a Cancel leaves no file.
        QString error = "x";
        bool here = false;
        QVERIFY(!view.SaveTo(dir.filePath("cancelled.bin"), &error, [&](int64_t, int64_t) {
            here = QThread::currentThread() == qApp->thread();
            return false;
        }));
        QVERIFY(here && error.isEmpty());
        QVERIFY(!QFileInfo::exists(dir.filePath("cancelled.bin")));
    }

    void growsLiveAndGivesUpHolesWhenTheCaptureEnds() {
        g_skipFilter = 1;
        g_captureState = CAPTURE_RUNNING;
        TcpFrameSpec c;
        c.seq = 100;
        c.flags = kTcpSyn;
        Feed(c);
        c.flags = kTcpAck;
        c.seq = 101;
        c.payload = "hello ";
        Feed(c);
        CStreamView view;
        view.ShowConnection(0);
        QCOMPARE(view.TextCtrl()->toPlainText(), QString("hello "));
        const QTextBlock first = view.TextCtrl()->document()->firstBlock();
        c.seq = 107;
        c.payload = "world";
        Feed(c);
        c.seq = 120;  // after a hole of 8 bytes
        c.payload = "later";
        Feed(c);
        TcpFrameSpec s = Reply(c);
        s.seq = 5000;
        s.ack = 112;
        s.payload = "reply";
        Feed(s);
        view.Follow();
        QCOMPARE(view.TextCtrl()->toPlainText(), QString("hello world\nreply"));
        QVERIFY(view.Summary()->text().contains("5 bytes wait behind a gap"));
        QVERIFY(view.TextCtrl()->document()->firstBlock() == first);  // appended, not rebuilt
        g_captureState = CAPTURE_IDLE;
        view.Follow();
        QCOMPARE(view.TextCtrl()->toPlainText(), QString("hello world\nreply\n[8 bytes missing]\nlater"));
        // A store emptied under the view empties it.
        ResetCaptureStore();
        view.Follow();
        QCOMPARE(view.Connection(), -1);
        QVERIFY(view.TextCtrl()->toPlainText().isEmpty());
    }

    void mainWindowHasTheStreamTabAndFollowStream() {
        CMainFrame frame;
        LoadStartupConfiguration();
        frame.FrontEnd()->SetPromptScript(
            [](const QString&, MsgButtons, const QString&) { return MsgAnswer::No; });
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        auto* tabs = qobject_cast<TTabWnd*>(frame.TabArea());
        QVERIFY(tabs);
        QCOMPARE(tabs->TabCount(), 3);
        QCOMPARE(tabs->TitleOf(2), QString("Stream"));
        QVERIFY(!tabs->Tab(2)->icon.isNull());
        frame.OpenFileAtStartup(kHttp);
        frame.ConnectionsList()->Sync();
        QTRY_COMPARE(frame.ConnectionsList()->model()->rowCount(), 1);
        // Activating the connection fills the tab, even unseen.
        frame.ConnectionsList()->SelectAndActivate(0);
        QCOMPARE(frame.StreamView()->Connection(), 0);
        QCOMPARE(tabs->ActiveTab(), 0);
        // "Follow Stream" on a packet row brings the tab to the front.
        CListCtrlRight* packets = frame.PacketsList();
        packets->SelectAndActivate(3);
        const QList<QAction*> packetActions = packets->RowActions();
        QCOMPARE(packetActions.size(), 2);
        QCOMPARE(packetActions[1]->text(), QString("Follow Stream"));
        packetActions[1]->trigger();
        QCOMPARE(tabs->ActiveTab(), 2);
        QVERIFY(frame.StreamView()->TextCtrl()->toPlainText().startsWith("GET /object.bin"));
        // ... and on a connection row, after another tab was chosen.
        tabs->SelectTab(1, true);
        // The connection rows' menu also holds the exports; "Follow Stream" comes last.
        const QList<QAction*> connectionActions = frame.ConnectionsList()->RowActions();
        QVERIFY(connectionActions.size() >= 2);
        QCOMPARE(connectionActions.back()->text(), QString("Follow Stream"));
        connectionActions.back()->trigger();
        QCOMPARE(tabs->ActiveTab(), 2);
        // Ctrl+F inside the tab opens its find bar.
        frame.activateWindow();
        frame.StreamView()->TextCtrl()->setFocus();
        QTest::keyClick(frame.StreamView()->TextCtrl(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(frame.StreamView()->FindBar()->isVisible());
        // Its Save Stream As... button saves with Save's progress dialog (the window is not frozen).
        QTemporaryDir dir;
        QString progress;
        QTimer poll;  // every pass of the event loop, also those the save's progress makes
        connect(&poll, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                dialog->findChild<QLineEdit*>("fileNameEdit")->setText(dir.filePath("s.bin"));
                static_cast<QDialog*>(dialog)->accept();  // QFileDialog checks the name
            } else if (auto* shown = frame.findChild<QProgressDialog*>()) {
                progress = shown->labelText();
            }
        });
        poll.start(0);
        frame.FrontEnd()->SetProgressDelay(0);
        for (QPushButton* button : frame.StreamView()->findChildren<QPushButton*>())
            if (button->text() == "Save Stream As...")
                button->click();
        QCOMPARE(progress, QString("Saving the stream..."));
        QVERIFY(QFileInfo(dir.filePath("s.bin")).size() > 0);
        g_unsavedPackets = 0;
    }

    // With PACTERRA_SHOT_DIR set (under Xvfb): the main window on the sample's HTTP exchange, its Stream tab
    // in front and the find bar on a header, saved as stream-http.png to be looked at.
    void screenshotOfHttpExchange() {
        const QByteArray dir = qgetenv("PACTERRA_SHOT_DIR");
        if (dir.isEmpty())
            QSKIP("PACTERRA_SHOT_DIR is not set");
        CMainFrame frame;
        LoadStartupConfiguration();
        frame.FrontEnd()->SetPromptScript(
            [](const QString&, MsgButtons, const QString&) { return MsgAnswer::No; });
        frame.resize(1180, 900);
        frame.show();
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.OpenFileAtStartup(QStringLiteral(PACTERRA_SOURCE_DIR "/res/sample.cap"));
        frame.ConnectionsList()->Sync();
        QTRY_VERIFY(frame.ConnectionsList()->model()->rowCount() > 2);
        frame.ConnectionsList()->selectRow(2);
        QAction* follow = frame.ConnectionsList()->RowActions().back();
        QCOMPARE(follow->text(), QString("Follow Stream"));
        follow->trigger();
        CStreamView* view = frame.StreamView();
        QVERIFY(view->TextCtrl()->toPlainText().startsWith("GET / HTTP/1.1"));
        view->OpenFindBar();
        QTest::keyClicks(view->FindField(), "content-type");
        QCOMPARE(view->TextCtrl()->textCursor().selectedText(), QString("Content-Type"));
        QTest::qWait(300);
        QVERIFY(frame.grab().save(QString::fromLocal8Bit(dir) + "/stream-http.png"));
        g_unsavedPackets = 0;
    }

private:
    QTemporaryDir m_home;
};

QTEST_MAIN(StreamViewTest)
#include "stream_view_test.moc"
