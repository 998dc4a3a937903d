// pacterra-capture, the program that alone holds the capture rights: what it refuses, how its caller ends
// it (standard input closed, SIGTERM, a reader gone, the caller killed), that it holds no right once the
// device is open, and that a user without rights captures through a copy of it that has them, on its own
// and under pacterra-cli. Runs in a network namespace of its own (root only).
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "NetNamespace.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string g_skipReason;
const std::string kHelper = PACTERRA_BINARY_DIR "/bin/pacterra-capture";
const std::string kCli = PACTERRA_BINARY_DIR "/bin/pacterra-cli";
constexpr uid_t kNobody = 65534;

struct Child {
    pid_t pid = -1;
    int in = -1, out = -1, err = -1;
};

// Starts `argv` with pipes on its standard descriptors (or `stdoutFd` as its output), as `uid` when not 0.
Child Spawn(const std::vector<std::string>& argv, uid_t uid = 0, int stdoutFd = -1,
            const std::vector<std::string>& env = {}) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC))
        return {};
    Child c;
    c.pid = ::fork();
    if (c.pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(stdoutFd >= 0 ? stdoutFd : out[1], 1);
        ::dup2(err[1], 2);
        if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 ||
                         ::setresuid(uid, uid, uid) != 0))
            ::_exit(126);
        std::vector<char*> args, envp;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]), ::close(out[1]), ::close(err[1]);
    c.in = in[1], c.out = out[0], c.err = err[0];
    return c;
}

std::string ReadAll(int fd) {
    std::string all;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        all.append(buffer, static_cast<size_t>(n));
    return all;
}

// Waits up to `timeout` for `pid`; -1 when it did not end (then it is killed and reaped).
int WaitExit(pid_t pid, std::chrono::milliseconds timeout, int* raw = nullptr) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            if (raw)
                *raw = status;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

struct Result {
    int status = -1;
    std::string out, err;
};

Result RunProgram(const std::vector<std::string>& argv, uid_t uid = 0,
                  const std::vector<std::string>& env = {}) {
    Child c = Spawn(argv, uid, -1, env);
    ::close(c.in);
    Result r;
    std::thread reader([&] { r.out = ReadAll(c.out); });
    r.err = ReadAll(c.err);
    reader.join();
    r.status = WaitExit(c.pid, 10s);
    ::close(c.out), ::close(c.err);
    return r;
}

// The capabilities a running process holds (as getpcaps shows them), from /proc.
std::string Capabilities(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line, caps;
    while (std::getline(status, line))
        if (line.rfind("CapPrm:", 0) == 0 || line.rfind("CapEff:", 0) == 0 || line.rfind("CapAmb:", 0) == 0)
            caps += line + "\n";
    return caps;
}

bool NoCapabilities(const std::string& caps) {
    std::istringstream lines(caps);
    int seen = 0;
    for (std::string name, value; lines >> name >> value; ++seen)
        if (value.find_first_not_of('0') != std::string::npos)
            return false;
    return seen == 3;
}

void SendUdp(uint16_t port, const std::string& data) {
    int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &at.sin_addr);
    ::sendto(s, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&at), sizeof at);
    ::close(s);
}

// Reads exactly `n` bytes (the stream's header) within a few seconds.
std::string ReadSome(int fd, size_t n) {
    std::string got;
    char buffer[64];
    while (got.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            break;
        const ssize_t r = ::read(fd, buffer, std::min(sizeof buffer, n - got.size()));
        if (r <= 0)
            break;
        got.append(buffer, static_cast<size_t>(r));
    }
    return got;
}

// The helper's stream header once it captures; by then it holds no capability. Then `count` datagrams
// carrying `marker` to `port` on loopback, for it to capture. Short of the header, nothing more is done.
std::string CaptureMarkers(const Child& c, int count, uint16_t port, const std::string& marker) {
    std::string stream = ReadSome(c.out, 24);
    if (stream.size() != 24u)
        return stream;
    const std::string caps = Capabilities(c.pid);
    EXPECT_TRUE(NoCapabilities(caps)) << caps;
    for (int i = 0; i < count; ++i)
        SendUdp(port, marker);
    std::this_thread::sleep_for(50ms);
    return stream;
}

// Counts the frames of a libpcap stream that carry `marker`; -1 when it is no stream.
int CountFrames(const std::string& stream, const std::string& marker, int* linkType = nullptr) {
    FILE* f = ::fmemopen(const_cast<char*>(stream.data()), stream.size(), "rb");
    if (!f)
        return -1;
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_fopen_offline(f, error);
    if (!p) {
        std::fclose(f);
        return -1;
    }
    if (linkType)
        *linkType = pcap_datalink(p);
    int count = 0;
    pcap_pkthdr* h;
    const u_char* bytes;
    while (pcap_next_ex(p, &h, &bytes) == 1)
        if (std::string(reinterpret_cast<const char*>(bytes), h->caplen).find(marker) != std::string::npos)
            ++count;
    pcap_close(p);
    return count;
}

class CaptureHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_skipReason.empty())
            GTEST_SKIP() << g_skipReason;
        char folder[] = "/tmp/pacterra-helper-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        dir = folder;
        ::chmod(folder, 0777);  // the unprivileged user works here too
    }
    void TearDown() override {
        if (!dir.empty())
            fs::remove_all(dir);
    }

    // A copy of the helper that alone holds the rights, runnable by everyone (as the package makes it
    // runnable by a group).
    std::string PrivilegedCopy() {
        const std::string copy = (dir / "pacterra-capture").string();
        fs::copy_file(kHelper, copy, fs::copy_options::overwrite_existing);
        ::chmod(copy.c_str(), 0755);
        if (std::system(("setcap cap_net_raw,cap_net_admin=eip '" + copy + "'").c_str()) != 0)
            return {};
        return copy;
    }

    fs::path dir;
};

// Everything but a device name it accepts and a pipe to write to is refused with status 2, and nothing is
// written anywhere: the helper takes no file names.
TEST_F(CaptureHelperTest, RefusesBadArgumentsWithStatusTwo) {
    const std::string file = (dir / "written").string();
    struct Case {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"--capture", "a/b"}, "not a device name"},
        {{"--capture", file}, "not a device name"},
        {{"--capture", "lo\n"}, "not a device name"},
        {{"--capture", "lo\nx"}, "not a device name"},
        {{"--capture", std::string(200, 'e')}, "not a device name"},
        {{"--capture", ""}, "not a device name"},
        {{"--capture", "-w"}, "not a device name"},
        {{"--capture", "nosuchdev0"}, "no such device: nosuchdev0"},
        // The library's pseudo-devices are no network adapters: never opened, whoever asks.
        {{"--capture", "nflog"}, "no such device: nflog"},
        {{"--capture", "nfqueue:7"}, "no such device: nfqueue:7"},
        {{"--capture", "usbmon1"}, "no such device: usbmon1"},
        {{"--capture", "bluetooth-monitor"}, "no such device: bluetooth-monitor"},
        {{"--capture", "dbus-system"}, "no such device: dbus-system"},
        {{"--capture"}, "--capture needs a device name"},
        {{"--capture", "lo", file}, "too many arguments"},
        {{"--capture", "lo", "-w", file}, "too many arguments"},
        {{"-w", file}, "unknown option \"-w\""},
        {{"--output=" + file}, "unknown option"},
        {{"--list", file}, "unknown option"},
        {{"--bogus"}, "unknown option \"--bogus\""},
        {{}, "no command given"},
    };
    // Also when adapters have such names: the library would open its own devices under them.
    ASSERT_EQ(std::system("ip link add nflog type veth peer name usbmon1"), 0);
    for (const Case& c : cases) {
        std::vector<std::string> argv = {kHelper};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        for (uid_t uid : {uid_t{0}, kNobody}) {
            const Result r = RunProgram(argv, uid);
            const std::string label =
                (c.args.empty() ? std::string("(none)") : c.args[0]) + " as " + std::to_string(uid);
            EXPECT_EQ(r.status, 2) << label << ": " << r.err;
            EXPECT_EQ(r.err.rfind("pacterra-capture: " + c.says, 0), 0u) << label << ": " << r.err;
            EXPECT_TRUE(r.out.empty()) << label;
            EXPECT_FALSE(fs::exists(file)) << label;
        }
    }
    std::system("ip link del nflog");
    EXPECT_TRUE(fs::is_empty(dir));
}

// It writes binary: a terminal on its standard output is refused before anything is opened.
TEST_F(CaptureHelperTest, RefusesATerminalOnItsOutput) {
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    Child c = Spawn({kHelper, "--capture", "lo"}, 0, slave);
    ::close(slave);
    ::close(c.in);
    const std::string err = ReadAll(c.err);
    EXPECT_EQ(WaitExit(c.pid, 5s), 2) << err;
    EXPECT_NE(err.find("standard output is a terminal"), std::string::npos) << err;
    ::close(master), ::close(c.out), ::close(c.err);
}

// The caller's two ways to stop it: closing its standard input, or SIGTERM. Either way the packets that
// arrived before are delivered, the counters follow on standard error, and the status is 0. Once the
// device is open the helper holds no capability.
TEST_F(CaptureHelperTest, CapturesUntilItsCallerStopsIt) {
    for (const bool bySignal : {false, true}) {
        Child c = Spawn({kHelper, "--capture", "lo"});
        std::string stream = CaptureMarkers(c, 5, 41000, "helper-marker");
        ASSERT_EQ(stream.size(), 24u) << ReadAll(c.err);
        if (bySignal)
            ::kill(c.pid, SIGTERM);
        else
            ::close(c.in);
        stream += ReadAll(c.out);
        const std::string err = ReadAll(c.err);
        EXPECT_EQ(WaitExit(c.pid, 3s), 0) << err;
        int link = -1;
        // Loopback delivers each datagram once in each direction's view of the device: at least once.
        EXPECT_GE(CountFrames(stream, "helper-marker", &link), 5) << (bySignal ? "SIGTERM" : "stdin");
        EXPECT_EQ(link, DLT_EN10MB);
        EXPECT_NE(err.find("pacterra-capture: stats received="), std::string::npos) << err;
        if (bySignal)
            ::close(c.in);
        ::close(c.out), ::close(c.err);
    }
}

// A caller that stops reading makes the helper end (a broken pipe) instead of blocking.
TEST_F(CaptureHelperTest, EndsWhenItsReaderGoesAway) {
    Child c = Spawn({kHelper, "--capture", "lo"});
    ASSERT_EQ(ReadSome(c.out, 24).size(), 24u);
    ::close(c.out);
    std::atomic<bool> sending{true};
    std::thread traffic([&] {
        while (sending.load()) {
            SendUdp(41001, std::string(1000, 'x'));
            std::this_thread::sleep_for(1ms);
        }
    });
    const int status = WaitExit(c.pid, 5s);
    sending = false;
    traffic.join();
    const std::string err = ReadAll(c.err);
    EXPECT_EQ(status, 4) << err;
    EXPECT_NE(err.find("standard output failed"), std::string::npos) << err;
    ::close(c.in), ::close(c.err);
}

// Whatever state its output is in (a pipe nobody reads) and whatever mask the caller left its signals in,
// the caller's Stop ends it within about a second.
TEST_F(CaptureHelperTest, EndsSoonAfterItsCallerAsks) {
    struct Case {
        bool bySignal, fullPipe, blockedMask;
    } cases[] = {{false, true, false}, {true, true, false}, {true, false, true}};
    for (const Case& k : cases) {
        sigset_t term, old;
        sigemptyset(&term), sigaddset(&term, SIGTERM);
        ::pthread_sigmask(k.blockedMask ? SIG_BLOCK : SIG_UNBLOCK, &term, &old);
        Child c = Spawn({kHelper, "--capture", "lo"});
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
        ASSERT_EQ(ReadSome(c.out, 24).size(), 24u);
        for (int i = 0; k.fullPipe && i < 4000; ++i)
            SendUdp(41003, std::string(1400, 'f'));
        std::this_thread::sleep_for(300ms);
        k.bySignal ? ::kill(c.pid, SIGTERM) : ::close(c.in);
        const int status = WaitExit(c.pid, 2s);
        EXPECT_NE(status, -1) << "signal " << k.bySignal << ", full " << k.fullPipe << ", blocked "
                              << k.blockedMask;
        EXPECT_TRUE(k.fullPipe || status == 0) << status;
        if (k.bySignal)
            ::close(c.in);
        ::close(c.out), ::close(c.err);
    }
}

// A user holds a bounded amount of kernel memory through it: a ring of 32 MiB per capture, four captures,
// also when some are started through a link of another name, which any user can make. The user is this
// run's own: captures of nobody elsewhere on the machine would count too.
TEST_F(CaptureHelperTest, BoundsTheMemoryOneUserHolds) {
    const std::string copy = PrivilegedCopy(), link = (dir / "other-name").string();
    ASSERT_FALSE(copy.empty()) << "setcap failed";
    fs::create_symlink(copy, link);
    const auto user = static_cast<uid_t>(100000 + ::getpid() % 100000);
    std::vector<Child> running;
    for (int i = 0; i < 4; ++i) {
        running.push_back(Spawn({i % 2 ? link : copy, "--capture", "lo"}, user));
        ASSERT_EQ(ReadSome(running.back().out, 24).size(), 24u) << i;
        std::ifstream maps("/proc/" + std::to_string(running.back().pid) + "/maps");
        unsigned long long ring = 0;
        for (std::string from, to, line; std::getline(maps, line);)
            if (line.find("socket:[") != std::string::npos)
                ring += std::stoull(line.substr(line.find('-') + 1, 12), nullptr, 16) -
                        std::stoull(line.substr(0, line.find('-')), nullptr, 16);
        EXPECT_GT(ring, 0u);
        EXPECT_LE(ring, 32ull << 20);
    }
    const Result fifth = RunProgram({copy, "--capture", "lo"}, user);
    EXPECT_EQ(fifth.status, 3) << fifth.err;
    EXPECT_NE(fifth.err.find("already captures 4 times through the helper"), std::string::npos) << fifth.err;
    EXPECT_TRUE(fifth.out.empty());
    EXPECT_EQ(RunProgram({link, "--capture", "lo"}, user).status, 3);
    for (Child& c : running) {
        ::close(c.in);
        EXPECT_EQ(WaitExit(c.pid, 3s), 0);
        ::close(c.out), ::close(c.err);
    }
}

// Only Ethernet and Linux cooked frames are passed on: another link type (a tunnel's raw IP) is refused
// with the reason before a byte is written.
TEST_F(CaptureHelperTest, PassesOnOnlyEthernetAndLinuxCooked) {
    ASSERT_EQ(std::system("ip tuntap add dev pct0 mode tun && ip link set pct0 up"), 0);
    const Result tun = RunProgram({kHelper, "--capture", "pct0"});
    EXPECT_EQ(tun.status, 3) << tun.err;
    EXPECT_NE(tun.err.find("pct0: link type 12 (RAW): the helper passes on only Ethernet"), std::string::npos)
        << tun.err;
    EXPECT_TRUE(tun.out.empty());
    int link = -1;
    EXPECT_EQ(CountFrames(RunProgram({kHelper, "--capture", "any"}).out, "no-such-marker", &link), 0);
    EXPECT_EQ(link, DLT_LINUX_SLL);
    std::system("ip link del pct0");
}

// The list opens no adapter in promiscuous mode and leaves the library's pseudo-devices alone.
TEST_F(CaptureHelperTest, ListsOnlyAdaptersAndNoneInPromiscuousMode) {
    Child monitor = Spawn({"/bin/sh", "-c", "exec ip -d monitor link"});
    std::this_thread::sleep_for(300ms);
    const Result list = RunProgram({kHelper, "--list"});
    std::this_thread::sleep_for(300ms);
    ::kill(monitor.pid, SIGTERM);
    WaitExit(monitor.pid, 3s);
    const std::string events = ReadAll(monitor.out);
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("\ndevice\tlo\t"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\ndevice\tany\t"), std::string::npos) << list.out;
    for (const char* pseudo : {"nflog", "nfqueue", "dbus", "bluetooth", "usbmon"})
        EXPECT_EQ(list.out.find(std::string("\t") + pseudo), std::string::npos) << list.out;
    EXPECT_EQ(events.find("promiscuity 1"), std::string::npos) << events;
    ::close(monitor.in), ::close(monitor.err);
}

// A caller that is killed takes the helper with it, even while the helper's standard input stays open
// (here, the test holds it); also when the thread that started it ended long before, and when the helper
// is a set-user-id copy that has changed its identity since.
TEST_F(CaptureHelperTest, EndsWhenItsParentIsKilled) {
    const std::string setuidCopy = (dir / "setuid-capture").string();
    fs::copy_file(kHelper, setuidCopy);
    ASSERT_EQ(::chmod(setuidCopy.c_str(), 04755), 0);
    for (const bool fromThread : {false, true})
        for (const bool setuid : {false, true}) {
            ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);  // the orphaned helper becomes ours to reap
            int pidPipe[2];
            ASSERT_EQ(::pipe(pidPipe), 0);
            int in[2], out[2];
            ASSERT_EQ(::pipe(in), 0);
            ASSERT_EQ(::pipe(out), 0);
            const pid_t parent = ::fork();
            if (parent == 0) {
                if (setuid && (::setresgid(kNobody, kNobody, kNobody) != 0 ||
                               ::setresuid(kNobody, kNobody, kNobody) != 0))
                    ::_exit(126);
                auto start = [&] {
                    const pid_t helper = ::fork();
                    if (helper == 0) {
                        ::dup2(in[0], 0);
                        ::dup2(out[1], 1);
                        ::execl((setuid ? setuidCopy : kHelper).c_str(), "pacterra-capture", "--capture",
                                "lo", static_cast<char*>(nullptr));
                        ::_exit(127);
                    }
                    [[maybe_unused]] ssize_t n = ::write(pidPipe[1], &helper, sizeof helper);
                    std::this_thread::sleep_for(fromThread ? 500ms : 0ms);  // ends once the helper captures
                };
                fromThread ? std::thread(start).join() : start();
                ::pause();
                ::_exit(0);
            }
            ::close(out[1]);
            pid_t helper = -1;
            ASSERT_EQ(::read(pidPipe[0], &helper, sizeof helper), static_cast<ssize_t>(sizeof helper));
            ASSERT_EQ(ReadSome(out[0], 24).size(), 24u);  // capturing
            EXPECT_TRUE(NoCapabilities(Capabilities(helper))) << Capabilities(helper);
            std::ifstream status("/proc/" + std::to_string(helper) + "/status");
            std::string uids;
            while (std::getline(status, uids) && uids.rfind("Uid:", 0) != 0) {
            }
            EXPECT_EQ(uids, setuid ? "Uid:\t65534\t65534\t65534\t65534" : "Uid:\t0\t0\t0\t0");
            std::this_thread::sleep_for(fromThread ? 800ms : 0ms);
            std::ifstream stat("/proc/" + std::to_string(helper) + "/stat");
            std::string pid, name, state;
            stat >> pid >> name >> state;
            EXPECT_NE(state, "Z") << "ended with the thread that started it";
            ::kill(parent, SIGKILL);
            ::waitpid(parent, nullptr, 0);
            int raw = 0;
            EXPECT_NE(WaitExit(helper, 3s, &raw), -1) << "the helper outlived its parent";
            EXPECT_TRUE(WIFSIGNALED(raw)) << raw;
            ::prctl(PR_SET_CHILD_SUBREAPER, 0);
            for (int fd : {pidPipe[0], pidPipe[1], in[0], in[1], out[0]})
                ::close(fd);
        }
}

// A user without rights: the build's helper (no capabilities) says so; a copy that holds them captures for
// that user and gives them up once the device is open.
TEST_F(CaptureHelperTest, AnUnprivilegedUserCapturesThroughACopyThatHoldsTheRights) {
    const Result plain = RunProgram({kHelper, "--capture", "lo"}, kNobody);
    EXPECT_EQ(plain.status, 3) << plain.err;
    EXPECT_NE(plain.err.find("pacterra-capture: lo: "), std::string::npos) << plain.err;
    EXPECT_NE(plain.err.find("ermi"), std::string::npos) << plain.err;

    const std::string copy = PrivilegedCopy();
    ASSERT_FALSE(copy.empty()) << "setcap failed";
    Child c = Spawn({copy, "--capture", "lo"}, kNobody);
    std::string stream = CaptureMarkers(c, 3, 41002, "nobody-marker");
    ASSERT_EQ(stream.size(), 24u) << ReadAll(c.err);
    ::close(c.in);
    stream += ReadAll(c.out);
    const std::string err = ReadAll(c.err);
    EXPECT_EQ(WaitExit(c.pid, 3s), 0) << err;
    EXPECT_GE(CountFrames(stream, "nobody-marker"), 3);
    ::close(c.out), ::close(c.err);

    // Its list shows the link types the user could not learn alone.
    const Result list = RunProgram({copy, "--list"}, kNobody);
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out.rfind("pacterra-capture adapters 1\n", 0), 0u) << list.out;
    const size_t lo = list.out.find("\ndevice\tlo\t");
    ASSERT_NE(lo, std::string::npos) << list.out;
    std::istringstream line(list.out.substr(lo + 1, list.out.find('\n', lo + 1) - lo - 1));
    std::string word, name, flags, link;
    std::getline(line, word, '\t'), std::getline(line, name, '\t'), std::getline(line, flags, '\t');
    std::getline(line, link, '\t');
    EXPECT_EQ(link, "1") << list.out;
}

// pacterra-cli run by that user captures through the helper: the same output, file and counters as a
// capture of its own, and the program itself holds no capability.
TEST_F(CaptureHelperTest, TheCommandLineToolCapturesThroughTheHelper) {
    const std::string copy = PrivilegedCopy();
    ASSERT_FALSE(copy.empty()) << "setcap failed";
    const std::string saved = (dir / "through-helper.cap").string();
    Child c = Spawn({kCli, "capture", "-i", "lo", "-t", "3", "-w", saved}, kNobody, -1,
                    {"PACTERRA_CAPTURE_HELPER=" + copy, "HOME=" + dir.string(), "TZ=UTC",
                     "XDG_CONFIG_HOME=" + dir.string()});
    ::close(c.in);
    std::atomic<bool> sending{true};
    std::thread traffic([&] {
        for (int i = 0; sending.load(); ++i) {
            SendUdp(static_cast<uint16_t>(42000 + i % 3), "cli-marker");
            std::this_thread::sleep_for(20ms);
        }
    });
    std::string out;
    std::thread reader([&] { out = ReadAll(c.out); });
    const std::string err = ReadAll(c.err);
    reader.join();
    sending = false;
    traffic.join();
    EXPECT_EQ(WaitExit(c.pid, 10s), 0) << err;
    EXPECT_NE(out.find("127.0.0.1:42000"), std::string::npos) << out << err;
    EXPECT_NE(err.find("capture on lo: "), std::string::npos) << err;
    // The saved file reads back as the same connections.
    const Result back = RunProgram({kCli, "connections", saved});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(back.out, out);
    EXPECT_TRUE(RunProgram({"/usr/sbin/getcap", kCli}).out.empty());
}

// The adapter list of a user without rights: the link types come from the helper, which can open the
// devices; without it they show as not openable.
TEST_F(CaptureHelperTest, TheAdapterListLearnsTheLinkTypesFromTheHelper) {
    const std::string copy = PrivilegedCopy();
    ASSERT_FALSE(copy.empty()) << "setcap failed";
    struct Case {
        std::string helper, loLine;
    } cases[] = {
        {copy, "lo\tlo\t127.0.0.1\t255.0.0.0\tEthernet (10Mb)\n"},
        {"",
         "lo\tlo\t127.0.0.1\t255.0.0.0\tNo promiscuous mode. Capture packets from the same computer only.\n"},
    };
    for (const Case& c : cases) {
        const Result r = RunProgram({kCli, "adapters"}, kNobody,
                                    {"PACTERRA_CAPTURE_HELPER=" + c.helper, "HOME=" + dir.string(),
                                     "XDG_CONFIG_HOME=" + dir.string()});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(c.loLine), std::string::npos) << c.helper << ":\n" << r.out << r.err;
    }
}

// A device that does not deliver Ethernet ("any" is Linux cooked) is refused through the helper with the
// message of a capture of the program's own.
TEST_F(CaptureHelperTest, AnAdapterThatDoesNotDeliverEthernetIsRefusedThroughTheHelper) {
    const std::string copy = PrivilegedCopy();
    ASSERT_FALSE(copy.empty()) << "setcap failed";
    const Result r = RunProgram(
        {kCli, "capture", "-i", "any", "-t", "20"}, kNobody,
        {"PACTERRA_CAPTURE_HELPER=" + copy, "HOME=" + dir.string(), "XDG_CONFIG_HOME=" + dir.string()});
    const std::string& err = r.err;
    EXPECT_EQ(r.status, 1) << err;
    EXPECT_NE(err.find("PCAP error: The networking adapter does not deliver Ethernet frames!"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("any: link type 113 (LINUX_SLL); only Ethernet (1) can be captured."),
              std::string::npos)
        << err;
}

// An adapter that goes away during a capture through the helper ends it with the same message as one of
// the program's own, and the packets captured before are kept.
TEST_F(CaptureHelperTest, AnAdapterThatGoesAwayEndsTheCaptureAsUsual) {
    const std::string copy = PrivilegedCopy();
    ASSERT_FALSE(copy.empty()) << "setcap failed";
    ASSERT_EQ(std::system("ip link add pchv0 type veth peer name pchv1 && ip link set pchv0 up && "
                          "ip link set pchv1 up"),
              0);
    Child c =
        Spawn({kCli, "capture", "-i", "pchv0", "-t", "20"}, kNobody, -1,
              {"PACTERRA_CAPTURE_HELPER=" + copy, "HOME=" + dir.string(), "XDG_CONFIG_HOME=" + dir.string()});
    ::close(c.in);
    std::string out;
    std::thread reader([&] { out = ReadAll(c.out); });
    std::this_thread::sleep_for(1500ms);  // the helper has opened the device
    ASSERT_EQ(std::system("ip link del pchv0"), 0);
    const std::string err = ReadAll(c.err);
    reader.join();
    EXPECT_EQ(WaitExit(c.pid, 10s), 1) << err;
    EXPECT_NE(err.find("PCAP error: Reading from the networking adapter failed, and the capture was stopped. "
                       "The 0 packets captured before are kept."),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("pchv0: "), std::string::npos) << err;
    ::close(c.out), ::close(c.err);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    g_skipReason = EnterPrivateNetwork();
    if (g_skipReason.empty() && std::system("command -v setcap >/dev/null") != 0)
        g_skipReason = "setcap (libcap2-bin) is needed";
    return RUN_ALL_TESTS();
}
