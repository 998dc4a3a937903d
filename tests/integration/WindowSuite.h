// What the suites of the main window on a real machine share: the program's own start-up with a capture at
// once, the window brought up and its capture stopped, HTTP exchanges to capture, and the screenshots of the
// "Packet" and "Data" tabs kept in the build tree.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QVariantMap>
#include <QtTest>

#include <cstring>
#include <string>
#include <thread>

#include "../WindowHarness.h"
#include "NetNamespace.h"
#include "app/MainFrame.h"
#include "app/TrawlerApp.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "ui/TabWnd.h"

// Where the suites keep their screenshots, to be looked at.
inline const QString kShots = QStringLiteral(PACTERRA_BINARY_DIR "/tests/integration/screenshots");

// Why this machine cannot run the suite's live tests (no root, no namespace, a tool missing); empty when it
// can. Set by main before any thread.
inline std::string g_skipReason;

// For initTestCase: skips the whole suite with its reason where the machine cannot run it (QSKIP marks the
// suite; what follows here does no harm), else makes the screenshots' folder.
inline void SkipUnlessReady() {
    if (!g_skipReason.empty())
        QSKIP(g_skipReason.c_str());
    QDir().mkpath(kShots);
}

// Settings under `configHome` for a start-up that captures at once on `adapter`, the window shown and no
// tip over it; `more` are settings of the suite's own.
inline void WriteCapturingStartup(const QString& configHome, const QString& adapter,
                                  const QVariantMap& more = {}) {
    QSettings settings(configHome + "/Morvane/Pacterra.conf", QSettings::IniFormat);
    settings.setValue("Filter/Startcap", 1);
    settings.setValue("Filter/Minimized", 0);
    settings.setValue("Config/Adapter", adapter);
    settings.setValue("Tip/StartUp", 1);
    for (auto it = more.cbegin(); it != more.cend(); ++it)
        settings.setValue(it.key(), it.value());
}

// Runs `Test` on the program's own start-up, which reads its settings under XDG_CONFIG_HOME.
template <class Test>
int RunOnTheProgram(int argc, char** argv) {
    int appArgc = 1;  // the test's own arguments are not the program's
    CTrawlerApp app(appArgc, argv);
    Test test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

// The same with a configuration home of the run's own whose start-up captures on `adapter`.
template <class Test>
int RunCapturingAtStartup(int argc, char** argv, const QString& adapter, const QVariantMap& more = {}) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    WriteCapturingStartup(home.path(), adapter, more);
    return RunOnTheProgram<Test>(argc, argv);
}

// Runs `Test` in a bare application: the suite makes its windows itself.
template <class Test>
int RunInAnApplication(int argc, char** argv) {
    QApplication app(argc, argv);
    Test test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

// The main window of the program's start-up, keeping every packet whatever Config.cfg of other tests sits
// beside the program. Null when the start-up failed.
inline CMainFrame* StartedWindow() {
    auto* app = qobject_cast<CTrawlerApp*>(qApp);
    int exitCode = 0;
    if (!app || !app->InitInstance(&exitCode))
        return nullptr;
    g_config.ApplyDefaults();
    return app->MainFrame();
}

// Brings the window up where no window manager does, and waits until it is on the screen.
inline bool Expose(CMainFrame& frame) {
    frame.activateWindow();
    return QTest::qWaitForWindowExposed(&frame);
}

// The Stop command; true when the capture has ended within `ms`.
inline bool StopCapture(CMainFrame& frame, int ms) {
    frame.Action(ID_STOP)->trigger();
    return QTest::qWaitFor([] { return g_captureState.load() == CAPTURE_IDLE; }, ms);
}

// Screenshots `name`-packet.png and, with the "Data" tab in front, `name`-data.png; the "Packet" tab is in
// front again afterwards. False when the tabs would not switch.
inline bool ShootPacketAndDataTabs(CMainFrame& frame, const QString& name) {
    frame.grab().save(kShots + "/" + name + "-packet.png");
    auto* tabs = qobject_cast<TTabWnd*>(frame.TabArea());
    if (!tabs || !tabs->SelectTab(1, true))
        return false;
    QTest::qWait(100);
    frame.grab().save(kShots + "/" + name + "-data.png");
    return tabs->SelectTab(0, true);
}

// One HTTP exchange on loopback `port`: a server of this process answers `request` with `reply` and
// closes. True when the server could listen and the request went out.
inline bool LoopbackHttpExchange(uint16_t port, const char* request, const char* reply) {
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in at = Loopback(port);
    if (::bind(server, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 || ::listen(server, 1) != 0) {
        ::close(server);
        return false;
    }
    std::thread answer([server, reply] {
        const int peer = ::accept(server, nullptr, nullptr);
        char asked[1024];
        (void)::recv(peer, asked, sizeof asked, 0);
        (void)::send(peer, reply, std::strlen(reply), 0);
        ::close(peer);
    });
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    const auto length = static_cast<ssize_t>(std::strlen(request));
    bool ok = ::connect(client, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0;
    ok = ok && ::send(client, request, static_cast<size_t>(length), 0) == length;
    char got[512];
    while (ok && ::recv(client, got, sizeof got, 0) > 0) {
    }
    ::close(client);
    answer.join();
    ::close(server);
    return ok;
}

// One HTTP `request` to a server elsewhere at `address` (IPv4 or IPv6) and `port`, read with a limit of 2 s
// a read: true when an answer came.
inline bool HttpRequest(const char* address, uint16_t port, const char* request) {
    sockaddr_storage at{};
    socklen_t size = 0;
    if (std::strchr(address, ':')) {
        auto* six = reinterpret_cast<sockaddr_in6*>(&at);
        six->sin6_family = AF_INET6;
        six->sin6_port = htons(port);
        ::inet_pton(AF_INET6, address, &six->sin6_addr);
        size = sizeof *six;
    } else {
        auto* four = reinterpret_cast<sockaddr_in*>(&at);
        four->sin_family = AF_INET;
        four->sin_port = htons(port);
        ::inet_pton(AF_INET, address, &four->sin_addr);
        size = sizeof *four;
    }
    const int client = ::socket(at.ss_family, SOCK_STREAM, 0);
    timeval timeout{2, 0};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const auto length = static_cast<ssize_t>(std::strlen(request));
    bool ok = ::connect(client, reinterpret_cast<const sockaddr*>(&at), size) == 0;
    ok = ok && ::send(client, request, static_cast<size_t>(length), 0) == length;
    char reply[4096];
    ssize_t got = 0, n = 0;
    while (ok && (n = ::recv(client, reply, sizeof reply, 0)) > 0)
        got += n;
    ::close(client);
    return ok && got > 0;
}
