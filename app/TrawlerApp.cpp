#include "app/TrawlerApp.h"

#include <sys/resource.h>

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "app/AppCommands.h"
#include "app/MainFrame.h"
#include "app/Pictures.h"
#include "app/SignalClose.h"
#include "app/Version.h"
#include "app/WindowFrontEnd.h"
#include "app/WindowLayout.h"
#include "capture/LiveCapture.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "config/SettingsStore.h"
#include "frontend/FrontEnd.h"
#include "frontend/StandardStreams.h"
#include "ui/TabWnd.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"

CTrawlerApp::CTrawlerApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The settings store's names, as the configuration reads them.
    setOrganizationName(kSettingsOrganization);
    setApplicationName(kSettingsApplication);
    // No display name: on X11 Qt would append it to every window title but those that already end with it,
    // while each window here carries its exact title ("Pacterra" for message boxes).
    setApplicationVersion(kProductVersion);
    setDesktopFileName("pacterra");
    setWindowIcon(ApplicationPicture());
    // Hidden to the tray, the window is not "visible": closing a dialog then must not end the program.
    setQuitOnLastWindowClosed(false);
}

CTrawlerApp::~CTrawlerApp() = default;

bool CTrawlerApp::InitInstance(int* exitCode) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Pacterra Packet Sniffer: captures TCP and UDP over IPv4 from a network adapter, groups the packets "
        "into connections and shows their headers, bytes and payload.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        "file",
        "a capture file (libpcap format, Ethernet) to open at start; - or a pipe is read as a stream");
    QCommandLineOption benchLoad("bench-load",
                                 "open FILE without the rules or any question, print how long it took and "
                                 "the longest pause of the window, then exit");
    benchLoad.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(benchLoad);
    QCommandLineOption benchCapture(
        "bench-capture",
        "capture on DEVICE (no rules, 200 MB) until COUNT packets are stored with "
        "the first connection shown in the packets list; print how the window kept up",
        "device");
    QCommandLineOption benchCount("bench-count", "packets to wait for", "count", "100000");
    // New Window's: the place of the window that started this one.
    QCommandLineOption near("near", "open offset from the window at X,Y", "x,y");
    for (QCommandLineOption* option : {&benchCapture, &benchCount, &near}) {
        option->setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(*option);
    }
    if (!parser.parse(arguments())) {
        std::fprintf(stderr, "pacterra: %s\nTry 'pacterra --help'.\n", qPrintable(parser.errorText()));
        *exitCode = 2;
        return false;
    }
    // --help-all too: it would otherwise start the window.
    if (parser.isSet("help") || parser.isSet("help-all")) {
        *exitCode = PrintAnswer("pacterra", qPrintable(parser.helpText()));
        return false;
    }
    if (parser.isSet("version")) {
        *exitCode = PrintAnswer("pacterra", (QByteArray("pacterra ") + kProductVersion + '\n').constData());
        return false;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fprintf(stderr, "pacterra: one capture file at a time\nTry 'pacterra --help'.\n");
        *exitCode = 2;
        return false;
    }
    if (parser.isSet(benchLoad) && files.isEmpty()) {
        std::fprintf(stderr, "pacterra: --bench-load needs a FILE\n");
        *exitCode = 2;
        return false;
    }

    m_frame = std::make_unique<CMainFrame>();
    LoadStartupConfiguration();
    connect(m_frame.get(), &CMainFrame::Closed, this, &QCoreApplication::quit, Qt::QueuedConnection);
    LoadWindowLayout(*m_frame);
    if (parser.isSet(near)) {
        const QStringList at = parser.value(near).split(',');
        bool xOk = false, yOk = false;
        const int x = at.value(0).toInt(&xOk), y = at.value(1).toInt(&yOk);
        // Down and right of it, as far as a title bar, so that both are seen.
        if (at.size() == 2 && xOk && yOk)
            m_frame->move(QPoint(x, y) + QPoint(40, 40));
    }
    // A remembered layout from a larger screen, or the offset, must not put the window past the screen's
    // edge; once shown, the window manager's frame is known and counts too.
    KeepOnScreen(*m_frame);
    new CSignalClose(m_frame.get(), {}, this);
    ShowWithFloatingBars(*m_frame);
    QTimer::singleShot(0, m_frame.get(), [this] { KeepOnScreen(*m_frame); });
    if (parser.isSet(benchCapture)) {
        const QString device = parser.value(benchCapture);
        const long long count = parser.value(benchCount).toLongLong();
        QTimer::singleShot(0, this, [this, device, count] { RunCaptureBenchmark(device, count); });
        return true;
    }
    if (parser.isSet(benchLoad)) {
        const QString path = files.first();
        QTimer::singleShot(0, this, [this, path] { RunLoadBenchmark(path); });
        return true;
    }
    if (g_config.minimized)
        m_frame->HideMainWindow();
    // Both wait for the event loop, so that the window is up when their questions appear. A file named on
    // the command line is what the user asked for: it replaces the start-up capture.
    if (!files.isEmpty()) {
        // "-" is standard input, not a file of that name.
        const QString path =
            files.first() == "-" ? files.first() : QFileInfo(files.first()).absoluteFilePath();
        QTimer::singleShot(0, m_frame.get(), [this, path] { m_frame->OpenFileAtStartup(path); });
    } else if (g_config.startCapture) {
        QTimer::singleShot(0, m_frame.get(), &CMainFrame::OnStart);
    }
    ShowTipAtStartup(m_frame.get());
    return true;
}

void CTrawlerApp::RunLoadBenchmark(const QString& path) {
    // Questions get their first answer but the filter's (No: every packet, as `pacterra-cli connections`
    // reads a file); messages go to standard error.
    m_frame->FrontEnd()->SetPromptScript([](const QString& text, MsgButtons buttons, const QString& detail) {
        if (buttons == MsgButtons::YesNo)
            return MsgAnswer::No;
        if (!text.startsWith("Captured packets file opened"))
            std::fprintf(stderr, "%s\n%s\n", qPrintable(text), qPrintable(detail));
        return buttons == MsgButtons::Ok || buttons == MsgButtons::OkCancel ? MsgAnswer::Ok : MsgAnswer::Yes;
    });
    bool loaded = false, finished = false;
    QElapsedTimer clock;
    clock.start();
    connect(m_frame.get(), &CMainFrame::LoadFinished, this, [&loaded, &finished](bool ok) {
        loaded = ok;
        finished = true;
    });
    m_frame->OpenFileAtStartup(path);
    // A stream is read on the capture thread until it ends.
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // The capture thread's last messages were posted before it ended.
    QCoreApplication::processEvents();
    const double seconds = clock.nsecsElapsed() / 1e9;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("load_s=%.3f max_stall_ms=%lld rss_kb=%ld packets=%zu connections=%zu\n", seconds,
                static_cast<long long>(m_frame->FrontEnd()->LongestLoadStallMs()), usage.ru_maxrss,
                g_packetTable.size(), g_connectionTable.size());
    std::fflush(stdout);
    // The store is released without a question: nothing of it is unsaved.
    QCoreApplication::exit(loaded ? 0 : 1);
}

void CTrawlerApp::RunCaptureBenchmark(const QString& device, long long count) {
    m_frame->FrontEnd()->SetPromptScript([](const QString& text, MsgButtons, const QString& detail) {
        std::fprintf(stderr, "%s\n%s\n", qPrintable(text), qPrintable(detail));
        return MsgAnswer::Ok;
    });
    g_config.ApplyDefaults();
    g_config.bufferMB = CCaptureConfig::kMaxBufferMB;
    g_config.adapter = device.toStdString();
    // PACTERRA_BENCH_STREAM=1: the "Stream" tab in front, following the shown connection as it grows.
    if (qEnvironmentVariableIntValue("PACTERRA_BENCH_STREAM") == 1)
        if (auto* tabs = qobject_cast<TTabWnd*>(m_frame->TabArea()))
            tabs->SelectTab(2, true);
    m_frame->OnStart();

    // The event loop's longest pause, seen by a timer that wants to run every 5 ms.
    auto* beat = new QTimer(this);
    auto* clock = new QElapsedTimer;
    clock->start();
    auto last = std::make_shared<qint64>(0);
    auto longest = std::make_shared<qint64>(0);
    auto storedAt = std::make_shared<qint64>(-1);  // when the store had every packet
    const qint64 limitMs = 60000;
    connect(beat, &QTimer::timeout, this, [=, this] {
        const qint64 now = clock->elapsed();
        *longest = std::max(*longest, now - *last);
        *last = now;
        CListCtrlRight* packets = m_frame->PacketsList();
        if (packets->CurrentConnection() < 0 && m_frame->ConnectionsList()->model()->rowCount() > 0)
            packets->ShowConnection(0);
        const long long stored = static_cast<long long>(g_packetTable.size());
        if (*storedAt < 0 && stored >= count)
            *storedAt = now;
        const long long listed = packets->model()->rowCount();
        const bool done = *storedAt >= 0 && listed >= stored;
        if (!done && now < limitMs && g_captureState.load() == CAPTURE_RUNNING)
            return;
        beat->stop();
        StopCaptureAndWait();
        const CaptureStats stats = LastCaptureStats();
        std::printf("stored=%lld listed=%lld dropped=%llu max_stall_ms=%lld list_lag_ms=%lld secs=%.2f\n",
                    stored, listed, static_cast<unsigned long long>(stats.dropped + stats.interfaceDropped),
                    static_cast<long long>(*longest),
                    static_cast<long long>(*storedAt >= 0 ? now - *storedAt : -1), now / 1000.0);
        std::fflush(stdout);
        g_unsavedPackets = 0;
        QCoreApplication::exit(done ? 0 : 1);
    });
    beat->start(5);
}

void LoadStartupConfiguration() {
    g_config.LoadStartupSettings();
    g_config.programDir = GetProgramDirectory();
}
