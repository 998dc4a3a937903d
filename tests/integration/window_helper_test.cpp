// The window without any capture right of its own: run by an unprivileged user who is a member of the
// capture helper's group, it captures an HTTP exchange on a veth pair through a copy of pacterra-capture
// (root:group, 0750, the two capabilities), stops, saves, and the file reads back as the same connections.
// The test sets the scene up as root, then gives its own rights away for good before the window starts;
// a process of its own, still root, tidies up after it. Screenshots in tests/integration/screenshots/.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "WindowSuite.h"
#include "app/TrawlerView.h"
#include "app/WindowFrontEnd.h"
#include "capture/Format.h"
#include "capture/LiveCapture.h"
#include "views/ConnectionsModel.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/PayloadTextCtrl.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;
constexpr char kGroup[] = "pacterra-e2e";
constexpr uint16_t kHttpPort = 8080;
std::string g_dir;     // the user's home, settings, helper copy and saved file
std::string g_helper;  // the copy that holds the rights
pid_t g_server = -1;   // the HTTP server in the peer namespace

bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// A peer network namespace of a child's own, holding the far end of the veth pair and an HTTP server; it
// goes away with the child, which ends with this process.
std::string MakeLink() {
    int go[2];
    if (::pipe(go) != 0)
        return "pipe";
    const pid_t server = ::fork();
    if (server == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(go[1]);
        if (::unshare(CLONE_NEWNET) != 0)
            ::_exit(126);
        char byte;
        if (::read(go[0], &byte, 1) != 1)  // the parent has moved the veth end here
            ::_exit(126);
        if (!Run("ip link set lo up") || !Run("ip addr add 198.51.100.2/24 dev hv1") ||
            !Run("ip link set hv1 up"))
            ::_exit(126);
        // Its own interpreter (no wrapper that would outlive it), and not holding the test's output open.
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1), ::dup2(null, 2);
        const std::string port = std::to_string(kHttpPort);
        ::execl("/usr/bin/python3", "python3", "-m", "http.server", port.c_str(), "--bind", "198.51.100.2",
                "--directory", "/usr/share/doc/libpcap0.8", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(go[0]);
    g_server = server;
    ::usleep(200000);  // the child's unshare
    const std::string pid = std::to_string(server);
    const bool made = Run("ip link add hv0 type veth peer name hv1 netns " + pid) &&
                      Run("ip addr add 198.51.100.1/24 dev hv0") && Run("ip link set hv0 up");
    [[maybe_unused]] ssize_t n = ::write(go[1], "g", 1);
    ::close(go[1]);
    return made ? std::string() : "cannot make the veth pair";
}

bool HttpExchange() {
    return HttpRequest(
        "198.51.100.2", kHttpPort,
        "GET /copyright HTTP/1.0\r\nHost: 198.51.100.2:8080\r\nUser-Agent: helper-e2e\r\n\r\n");
}

// The group, the helper's copy and the user's folders; a root process that removes them when this one has
// ended. Empty when ready.
std::string PrepareUser(gid_t& groupId) {
    char folder[] = "/tmp/pacterra-window-helper-XXXXXX";
    if (!::mkdtemp(folder))
        return "mkdtemp";
    g_dir = folder;
    const bool madeGroup = ::getgrnam(kGroup) == nullptr;
    if (madeGroup && !Run(std::string("groupadd --system ") + kGroup))
        return "groupadd failed";
    const struct group* g = ::getgrnam(kGroup);
    if (!g)
        return "no group";
    groupId = g->gr_gid;
    g_helper = g_dir + "/pacterra-capture";
    fs::copy_file(PACTERRA_BINARY_DIR "/bin/pacterra-capture", g_helper);
    if (::chown(g_helper.c_str(), 0, groupId) != 0 || ::chmod(g_helper.c_str(), 0750) != 0 ||
        !Run("setcap cap_net_raw,cap_net_admin=eip '" + g_helper + "'"))
        return "cannot install the helper's copy (setcap?)";
    // The display's cookie, readable by the user.
    if (const char* auth = std::getenv("XAUTHORITY")) {
        fs::copy_file(auth, g_dir + "/Xauthority");
        ::setenv("XAUTHORITY", (g_dir + "/Xauthority").c_str(), 1);
    }
    fs::create_directories(g_dir + "/config/Morvane");
    fs::create_directories(g_dir + "/runtime");
    WriteCapturingStartup(QString::fromStdString(g_dir + "/config"), "hv0");
    // The screenshot's file, which the user may write in the build tree.
    QDir().mkpath(kShots);
    const std::string shot = (kShots + "/helper-capture.png").toStdString();
    std::ofstream{shot};
    if (::chown(shot.c_str(), kNobody, kNobody) != 0)
        return "chown";
    ::chmod(g_dir.c_str(), 0755);
    if (!Run("chown -R " + std::to_string(kNobody) + " '" + g_dir + "/config' '" + g_dir + "/runtime'" +
             (std::getenv("XAUTHORITY") ? " '" + g_dir + "/Xauthority'" : std::string())) ||
        !Run("chmod 700 '" + g_dir + "/runtime' && chmod 1777 '" + g_dir + "'"))
        return "chown";
    // The janitor: still root, it waits for this process to end, then removes what was made.
    int alive[2];
    if (::pipe(alive) != 0)
        return "pipe";
    if (::fork() == 0) {
        ::close(alive[1]);
        // Not holding the test's output open: whoever reads it waits for its end.
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1), ::dup2(null, 2);
        char byte;
        while (::read(alive[0], &byte, 1) > 0) {
        }
        // The server may not follow its parent, whose rights changed.
        if (g_server > 0)
            ::kill(g_server, SIGKILL);
        fs::remove_all(g_dir);
        if (madeGroup)
            Run(std::string("groupdel ") + kGroup);
        ::_exit(0);
    }
    ::close(alive[0]);  // alive[1] stays open until this process ends
    return {};
}

std::string DropRights(gid_t group) {
    if (::setgroups(1, &group) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
        ::setresuid(kNobody, kNobody, kNobody) != 0)
        return "cannot become the unprivileged user";
    ::setenv("HOME", g_dir.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (g_dir + "/config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (g_dir + "/runtime").c_str(), 1);
    ::setenv("PACTERRA_CAPTURE_HELPER", g_helper.c_str(), 1);
    return {};
}

// The helper this process started, found by its parent.
pid_t HelperChild() {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, name, state;
        pid_t parent = 0;
        if (stat >> pid >> name >> state >> parent && parent == ::getpid() &&
            name.rfind("(pacterra-capt", 0) == 0)
            return static_cast<pid_t>(std::stol(pid));
    }
    return -1;
}

QString Output(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
}

}  // namespace

class WindowHelperTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SkipUnlessReady(); }

    void captureThroughTheHelperAsAnUnprivilegedUser() {
        QCOMPARE(::geteuid(), kNobody);
        // The window's own executable holds no capability.
        QCOMPARE(Output("/usr/sbin/getcap", {QFile::symLinkTarget("/proc/self/exe")}), QString());
        QCOMPARE(Output("/usr/sbin/getcap", {QCoreApplication::applicationFilePath()}), QString());

        CMainFrame* frame = StartedWindow();
        QVERIFY(frame);
        QStringList shown;
        const QString savePath = QString::fromStdString(g_dir + "/through-helper.cap");
        RecordMessages(*frame, shown, Always(MsgAnswer::Ok));
        frame->FrontEnd()->SetFileScript([&savePath](IPromptService::FileQuestion) { return savePath; });
        frame->resize(1260, 860);
        QVERIFY(Expose(*frame));
        QTRY_COMPARE_WITH_TIMEOUT(g_captureState.load(), int(CAPTURE_RUNNING), 5000);

        CListCtrlLeft* connections = frame->ConnectionsList();
        const QString server = QStringLiteral("198.51.100.2:8080");
        for (int attempt = 0; attempt < 40 && CountRows(connections->model(), 3, server) == 0; ++attempt) {
            HttpExchange();
            QTest::qWait(500);
        }
        const int seen = CountRows(connections->model(), 3, server);
        QVERIFY2(seen > 0, qPrintable("no row for the HTTP exchange; messages: " + shown.join('\n')));
        // The capture runs now: one more exchange, seen from its first packet (an earlier one may have
        // begun before the helper opened the adapter).
        QVERIFY(HttpExchange());
        QTRY_VERIFY_WITH_TIMEOUT(CountRows(connections->model(), 3, server) > seen, 10000);
        const int row = LastRow(connections->model(), 3, server);
        // Captured through the helper, which holds no capability now that the device is open.
        const pid_t helper = HelperChild();
        QVERIFY2(helper > 0, "no capture helper runs");
        const QString caps = Output("/usr/sbin/getpcaps", {QString::number(helper)});
        qInfo("getpcaps %d: %s", helper, qPrintable(caps));
        QVERIFY2(caps.endsWith(": =") || caps.endsWith("=") || caps.isEmpty(), qPrintable(caps));

        Click(connections, row);
        CListCtrlRight* packets = frame->PacketsList();
        QTRY_VERIFY_WITH_TIMEOUT(FindRow(packets->model(), 3, "GET") >= 0, 10000);
        Click(packets, FindRow(packets->model(), 3, "GET"));
        CPayloadTextCtrl* payload = frame->MainView()->PayloadViewer();
        QTRY_VERIFY_WITH_TIMEOUT(payload->toPlainText().startsWith("GET /copyright HTTP/1.0"), 10000);
        QTest::qWait(400);  // the status panes' next refresh
        QVERIFY(frame->grab().save(kShots + "/helper-capture.png", "PNG"));
        // This program made the exchange: a Process column names it, or its user alone when its socket
        // was gone before its holder was found, and nothing else; through the helper, without any right.
        QFile comm("/proc/self/comm");
        QVERIFY(comm.open(QIODevice::ReadOnly));
        const QString program = QString::fromLocal8Bit(comm.readAll().trimmed());
        const QString owner =
            connections->model()->index(row, CConnectionsModel::kProcessColumn).data().toString();
        qInfo("Process: %s", qPrintable(owner));
        QVERIFY2(owner.isEmpty() ||
                     owner == "(" + QString::fromLocal8Bit(getpwuid(getuid())->pw_name) + ")" ||
                     owner == program + " " + QString::number(::getpid()),
                 qPrintable(owner));

        QVERIFY(StopCapture(*frame, 5000));
        QTRY_VERIFY(frame->Action(ID_START)->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(HelperChild(), pid_t(-1), 3000);  // the helper has ended and was reaped
        connections->Sync();
        // The saved file has no owners: the fixed columns only.
        const QStringList windowRows = Rows(connections->model(), CConnectionsModel::kProcessColumn);
        frame->Action(ID_SAVE)->trigger();
        QVERIFY2(shown.contains("Captured packets saved successfully!"), qPrintable(shown.join('\n')));
        QCOMPARE(g_unsavedPackets.load(), 0);
        // No message but the save's: the capture through the helper went like one of the program's own.
        QCOMPARE(shown, QStringList{"Captured packets saved successfully!"});

        QProcess cli;
        cli.start(QStringLiteral(PACTERRA_BINARY_DIR "/bin/pacterra-cli"), {"connections", savePath});
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts), windowRows);
        QVERIFY(frame->close());
    }
};

int main(int argc, char** argv) {
    // Before the display connection and any thread: the namespace is process-wide.
    g_skipReason = EnterPrivateNetwork();
    if (g_skipReason.empty() &&
        (!fs::exists("/usr/bin/python3") || std::system("command -v setcap >/dev/null") != 0 ||
         std::system("command -v groupadd >/dev/null") != 0))
        g_skipReason = "/usr/bin/python3, setcap and groupadd are needed";
    gid_t group = 0;
    if (g_skipReason.empty())
        g_skipReason = MakeLink();
    if (g_skipReason.empty())
        g_skipReason = PrepareUser(group);
    if (g_skipReason.empty())
        g_skipReason = DropRights(group);
    return RunOnTheProgram<WindowHelperTest>(argc, argv);
}

#include "window_helper_test.moc"
