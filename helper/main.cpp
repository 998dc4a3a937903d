// pacterra-capture: the one program that holds the capture rights. It opens one network device, gives up
// every right, and writes what it captures as a libpcap stream to its standard output for the window or
// pacterra-cli to read; or it lists the devices. It takes no file names and opens nothing but the device.
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <signal.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

#include "helper/HelperProtocol.h"

namespace {

using namespace capture_helper;

// A read error that lasts this long means the device is gone.
constexpr auto kLastingReadError = std::chrono::milliseconds(1000);
// Once asked to stop, the rest of the stream gets this long; a caller that does not read it (a full pipe)
// must not keep the helper, and its rights' memory, alive.
constexpr auto kStopGrace = std::chrono::milliseconds(700);
// The kernel ring of the list's short openings: they read no packet.
constexpr int kListBufferBytes = 64 << 10;

std::atomic<bool> g_stop{false};
std::atomic<pcap_t*> g_handle{nullptr};
int g_wakeFds[2] = {-1, -1};
int g_callerFd = -1;  // a pidfd of the caller: readable once it has ended
std::atomic<bool> g_capturing{false};

[[noreturn]] void Fail(int status, const std::string& text) {
    std::fprintf(stderr, "%s%s\n", kErrorPrefix, text.c_str());
    std::fflush(stderr);
    std::_Exit(status);
}

// Hostile arguments are named in messages only in a printable, shortened form.
std::string Printable(std::string_view text) {
    std::string out;
    for (char c : text.substr(0, 40))
        out += (c >= 0x20 && c < 0x7f) ? c : '?';
    return text.size() > 40 ? out + "..." : out;
}

[[noreturn]] void Usage(const std::string& problem) {
    Fail(kExitUsage, problem +
                         "\nusage: pacterra-capture --list\n"
                         "       pacterra-capture --capture DEVICE   (writes a libpcap stream to standard "
                         "output until standard input closes or SIGTERM)");
}

// The names the capture library takes for its own pseudo-devices (USB, Bluetooth, netfilter queues and
// logs, D-Bus) before it looks for an interface of that name: never opened here.
bool IsLibraryPseudoDevice(std::string_view name) {
    for (std::string_view prefix : {"usbmon", "bluetooth", "nflog", "nfqueue", "dbus"})
        if (name.substr(0, prefix.size()) == prefix)
            return true;
    return false;
}

// Network adapters of the helper's own network namespace, and "any" (all of them), are all it opens. The
// interface index is asked of the namespace itself: /sys shows the namespace that mounted it.
bool IsNetworkAdapter(const std::string& name) {
    return name == "any" || (!IsLibraryPseudoDevice(name) && ::if_nametoindex(name.c_str()) != 0);
}

// Ethernet and Linux cooked frames are all the callers read; nothing else is passed on.
bool IsPassedLinkType(int linkType) {
    return linkType == DLT_EN10MB || linkType == DLT_LINUX_SLL || linkType == DLT_LINUX_SLL2;
}

// Keeps the two capture rights (when the process has them at all) and nothing else, or none.
void LimitRights(bool keepCaptureRights) {
    cap_t now = cap_get_proc();
    cap_t next = cap_init();
    if (!now || !next)
        Fail(kExitOpenFailed, "cannot read the process's capabilities");
    if (keepCaptureRights) {
        for (cap_value_t c : {CAP_NET_RAW, CAP_NET_ADMIN}) {
            cap_flag_value_t permitted = CAP_CLEAR;
            if (cap_get_flag(now, c, CAP_PERMITTED, &permitted) == 0 && permitted == CAP_SET) {
                cap_set_flag(next, CAP_PERMITTED, 1, &c, CAP_SET);
                cap_set_flag(next, CAP_EFFECTIVE, 1, &c, CAP_SET);
            }
        }
    }
    const bool set = cap_set_proc(next) == 0;
    cap_free(now);
    cap_free(next);
    if (!set)
        Fail(kExitOpenFailed, std::string("cannot drop capabilities: ") + std::strerror(errno));
    cap_reset_ambient();
}

void DropSetId() {
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if ((::getegid() != gid && ::setresgid(gid, gid, gid) != 0) ||
        (::geteuid() != uid && ::setresuid(uid, uid, uid) != 0))
        Fail(kExitOpenFailed, std::string("cannot give up the set-user-id: ") + std::strerror(errno));
    if (g_callerFd < 0)
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // the identity change cleared it
}

// Lets the enumeration of the library's pseudo-devices run without the rights; they stay permitted for
// the openings that follow.
void SetRightsEffective(bool effective) {
    if (cap_t now = cap_get_proc()) {
        const cap_value_t rights[] = {CAP_NET_RAW, CAP_NET_ADMIN};
        cap_set_flag(now, CAP_EFFECTIVE, 2, rights, effective ? CAP_SET : CAP_CLEAR);
        cap_set_proc(now);  // a right that is not permitted stays off: the opening then says so
        cap_free(now);
    }
}

// What one user may hold: each capture's kernel ring, and this many at a time (root is not bound: it needs
// no helper). The window's own capture keeps its larger ring.
constexpr int kKernelBufferBytes = 32 << 20;
constexpr int kMaxCapturesPerUser = 4;

// How many helpers of the real user `uid` hold (or may soon hold) a kernel ring and started before this
// one; the start time in clock ticks, then the process id, orders them. Processes are told by name and real
// user: a user can only make this count larger for themselves.
int EarlierCapturesOf(uid_t uid) {
    auto startOf = [](const std::string& pid) -> unsigned long long {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const size_t end = text.rfind(')');
        if (end == std::string::npos)
            return 0;
        std::istringstream fields(text.substr(end + 2));
        std::string field;
        for (int i = 3; i < 22 && fields >> field;)  // field 22 is the start time
            ++i;
        unsigned long long start = 0;
        fields >> start;
        return start;
    };
    const std::string self = std::to_string(::getpid());
    const auto ownKey = std::make_pair(startOf(self), static_cast<long>(::getpid()));
    int earlier = 0;
    DIR* proc = ::opendir("/proc");
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        std::ifstream status("/proc/" + pid + "/status");
        std::string line, name;
        long realUid = -1;
        bool ended = false;
        while (std::getline(status, line)) {
            if (line.rfind("Name:", 0) == 0)
                std::istringstream(line.substr(5)) >> name;
            else if (line.rfind("Uid:", 0) == 0)
                std::istringstream(line.substr(4)) >> realUid;
            else if (line.rfind("State:\tZ", 0) == 0)
                ended = true;  // its ring is gone; it is only not yet reaped
        }
        // The kernel keeps 15 characters of a process's name.
        if (ended || realUid != static_cast<long>(uid) || name != std::string(kProgramName).substr(0, 15))
            continue;
        if (std::make_pair(startOf(pid), std::stol(pid)) < ownKey)
            ++earlier;
    }
    if (proc)
        ::closedir(proc);
    return earlier;
}

// The caller's end, whichever thread of it started the helper and whatever identity the helper has
// taken since (a parent-death signal is neither).
void WatchCaller(pid_t parent) {
    g_callerFd = static_cast<int>(::syscall(SYS_pidfd_open, parent, 0));
    if (g_callerFd < 0)
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // an older kernel: the next best
}

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_wakeFds[1], &byte, 1);
    errno = saved;
}

// Ends the capture when standard input closes or a signal arrives: the caller's way to say Stop. A caller
// that has ended takes the helper with it at once, as the kernel's parent-death signal would.
void WatchForStop() {
    pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0}, {g_wakeFds[0], POLLIN, 0}, {g_callerFd, POLLIN, 0}};
    char buffer[256];
    for (;;) {
        if (::poll(fds, g_callerFd >= 0 ? 3 : 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (g_callerFd >= 0 && fds[2].revents)
            ::kill(::getpid(), SIGKILL);
        if (fds[1].revents)
            break;
        if (fds[0].revents & POLLNVAL)
            break;
        if (fds[0].revents) {
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                break;
        }
    }
    g_stop = true;
    if (pcap_t* p = g_handle.load())
        pcap_breakloop(p);
    // Blocked on a full output pipe, a capture cannot end by itself: end it here. A list ends by itself.
    const auto end = std::chrono::steady_clock::now() + kStopGrace;
    while (!g_capturing.load() || std::chrono::steady_clock::now() < end) {
        if (::poll(&fds[2], g_callerFd >= 0 ? 1 : 0, 50) > 0)
            ::kill(::getpid(), SIGKILL);
    }
    static constexpr char kBlocked[] = "pacterra-capture: stopped: standard output was not read\n";
    pollfd err{STDERR_FILENO, POLLOUT, 0};
    if (::poll(&err, 1, 0) == 1 && (err.revents & POLLOUT)) [[maybe_unused]]
        ssize_t n = ::write(STDERR_FILENO, kBlocked, sizeof kBlocked - 1);
    std::_Exit(kExitOutput);
}

pcap_t* Open(const std::string& device, bool promiscuous, int bufferBytes, int& status, std::string& error) {
    char buffer[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_create(device.c_str(), buffer);
    if (!p) {
        status = PCAP_ERROR;
        error = buffer;
        return nullptr;
    }
    pcap_set_snaplen(p, kSnapshotLength);
    pcap_set_promisc(p, promiscuous ? 1 : 0);
    pcap_set_timeout(p, kReadTimeoutMs);
    pcap_set_buffer_size(p, bufferBytes);
    status = pcap_activate(p);
    if (status < 0) {
        error = *pcap_geterr(p) ? pcap_geterr(p) : pcap_statustostr(status);
        pcap_close(p);
        return nullptr;
    }
    return p;
}

void WritePacket(u_char* dumper, const pcap_pkthdr* header, const u_char* bytes) {
    pcap_dump(dumper, header, bytes);
}

void FlushOrExit() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        Fail(kExitOutput,
             std::string("standard output failed (the reader went away?): ") + std::strerror(errno));
}

int Capture(const std::string& device) {
    if (::isatty(STDOUT_FILENO))
        Usage("standard output is a terminal: it would receive a binary capture; send it to a program");
    // A larger pipe absorbs bursts while the reader is busy; the system's limit may refuse it.
    ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
    static char outBuffer[1 << 20];
    std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);

    const uid_t uid = ::getuid();
    if (uid != 0 && EarlierCapturesOf(uid) >= kMaxCapturesPerUser) {
        LimitRights(false);
        Fail(kExitOpenFailed,
             "user " + std::to_string(uid) + " already captures " + std::to_string(kMaxCapturesPerUser) +
                 " times through the helper, the most one user may (each holds up to " +
                 std::to_string(kKernelBufferBytes >> 20) + " MiB of kernel memory): end one of them first");
    }
    int status = 0;
    std::string error, firstError;
    pcap_t* p = Open(device, true, kKernelBufferBytes, status, error);
    if (!p) {
        firstError = error;
        p = Open(device, false, kKernelBufferBytes, status, error);
        if (!p && error.empty())
            error = firstError;
    }
    // Opened (or not): the rights are of no further use, nor is a set-user-id root (an administrator's
    // choice where file capabilities are not available).
    LimitRights(false);
    DropSetId();
    if (!p) {
        if (status == PCAP_ERROR_NO_SUCH_DEVICE)
            Fail(kExitUsage, "no such device: " + device);
        Fail(kExitOpenFailed, device + ": " + error);
    }
    const int link = pcap_datalink(p);
    if (!IsPassedLinkType(link)) {
        const char* name = pcap_datalink_val_to_name(link);
        Fail(kExitOpenFailed, device + ": link type " + std::to_string(link) + " (" + (name ? name : "?") +
                                  "): the helper passes on only Ethernet (1) and Linux cooked (113, 276) "
                                  "captures");
    }
    pcap_dumper_t* dumper = pcap_dump_fopen(p, stdout);
    if (!dumper)
        Fail(kExitOutput, std::string("cannot write the stream: ") + pcap_geterr(p));
    FlushOrExit();  // the stream's header, so the reader learns the link type at once
    g_handle = p;
    if (g_stop.load())
        pcap_breakloop(p);

    std::chrono::steady_clock::time_point failingSince{};
    std::string readError;
    while (!g_stop.load()) {
        const int n = pcap_dispatch(p, -1, WritePacket, reinterpret_cast<u_char*>(dumper));
        if (n >= 0) {
            failingSince = {};
            if (n > 0)
                FlushOrExit();
            continue;
        }
        if (n == PCAP_ERROR_BREAK)
            continue;
        const auto now = std::chrono::steady_clock::now();
        if (failingSince == std::chrono::steady_clock::time_point{})
            failingSince = now;
        if (now - failingSince >= kLastingReadError) {
            readError = pcap_geterr(p);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // The kernel hands over a partly filled block only when its timeout expires: collect it, so that the
    // packets that arrived before the stop are delivered.
    if (readError.empty()) {
        char buffer[PCAP_ERRBUF_SIZE];
        if (pcap_setnonblock(p, 1, buffer) == 0) {
            const auto end =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadTimeoutMs + 30);
            while (std::chrono::steady_clock::now() < end) {
                const int n = pcap_dispatch(p, -1, WritePacket, reinterpret_cast<u_char*>(dumper));
                if (n > 0)
                    FlushOrExit();
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }
    FlushOrExit();
    pcap_stat ps{};
    if (pcap_stats(p, &ps) != 0)
        ps = {};
    std::fprintf(stderr, "%s%sreceived=%u dropped=%u ifdropped=%u\n", kErrorPrefix, kStatsWord, ps.ps_recv,
                 ps.ps_drop, ps.ps_ifdrop);
    if (!readError.empty())
        Fail(kExitReadFailed, "read error: " + readError);
    std::fflush(stderr);
    return kExitOk;
}

// Tabs and line breaks would break the list's lines.
std::string Field(const char* text) {
    std::string out = text ? text : "";
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return out;
}

std::string AddressText(const sockaddr* sa) {
    char text[INET6_ADDRSTRLEN] = "";
    if (!sa)
        return {};
    if (sa->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
    else if (sa->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, text, sizeof text);
    return text;
}

int List() {
    char buffer[PCAP_ERRBUF_SIZE] = "";
    pcap_if_t* devices = nullptr;
    SetRightsEffective(false);
    const bool found = pcap_findalldevs(&devices, buffer) != -1;
    SetRightsEffective(true);
    if (!found)
        Fail(kExitOpenFailed, std::string("pcap_findalldevs: ") + buffer);
    std::printf("%s\n", kListHeader);
    for (const pcap_if_t* dev = devices; dev; dev = dev->next) {
        if (!IsValidDeviceName(dev->name) || !IsNetworkAdapter(dev->name))
            continue;  // could not be named to --capture either
        // Only the link type is wanted: an opening that is not promiscuous and reads nothing.
        int link = -1, status = 0;
        std::string error;
        if (pcap_t* p = Open(dev->name, false, kListBufferBytes, status, error)) {
            link = pcap_datalink(p);
            pcap_close(p);
        }
        std::printf("device\t%s\t%u\t%d\t%s\n", dev->name, dev->flags, link, Field(dev->description).c_str());
        for (const pcap_addr_t* a = dev->addresses; a; a = a->next) {
            if (!a->addr || (a->addr->sa_family != AF_INET && a->addr->sa_family != AF_INET6))
                continue;
            std::printf(
                "address\t%d\t%s\t%s\n", a->addr->sa_family == AF_INET ? 4 : 6, AddressText(a->addr).c_str(),
                a->netmask && a->netmask->sa_family == a->addr->sa_family ? AddressText(a->netmask).c_str()
                                                                          : "");
        }
    }
    pcap_freealldevs(devices);
    LimitRights(false);
    DropSetId();
    if (std::fflush(stdout) != 0)
        Fail(kExitOutput, std::string("standard output failed: ") + std::strerror(errno));
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    const pid_t parent = ::getppid();
    LimitRights(true);
    // No right is ever gained again (no set-id or file-capability program can be started from here), and
    // the helper never outlives the program that started it.
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    // Named as the helper however it was started (through a link of another name, say): each user's
    // captures are counted by that name.
    ::prctl(PR_SET_NAME, kProgramName, 0, 0, 0);
    WatchCaller(parent);
    if (::getppid() != parent)
        return kExitOutput;
    // Nothing of the caller's environment is needed (libpcap reads none that matters here).
    ::clearenv();
    ::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(g_wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        Fail(kExitOpenFailed, std::string("pipe: ") + std::strerror(errno));
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(s, &sa, nullptr);
        sigaddset(&stops, s);
    }
    // A mask the caller blocked them in is inherited; the caller's way to say Stop must still work.
    ::pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);

    if (argc == 2 && std::string_view(argv[1]) == "--list") {
        std::thread(WatchForStop).detach();
        return List();
    }
    if (argc >= 2 && std::string_view(argv[1]) == "--capture") {
        if (argc != 3)
            Usage(argc < 3 ? "--capture needs a device name" : "too many arguments");
        const std::string_view device = argv[2];
        if (!IsValidDeviceName(device))
            Usage("not a device name: \"" + Printable(device) + "\" (1 to " + std::to_string(kMaxDeviceName) +
                  " letters, digits or . _ - : @, not starting with - or .)");
        if (!IsNetworkAdapter(std::string(device)))
            Usage("no such device: " + std::string(device) +
                  " (the helper opens the network adapters of its network namespace and \"any\", nothing "
                  "else)");
        g_capturing = true;
        std::thread(WatchForStop).detach();
        return Capture(std::string(device));
    }
    if (argc < 2)
        Usage("no command given");
    Usage("unknown option \"" + Printable(argv[1]) + "\"");
}
