// pacterra-capture: the one program that holds the capture rights. It opens one network device, gives up
// every right, and writes what it captures as a libpcap stream to its standard output for the window or
// pacterra-cli to read; or it lists the devices. It takes no file names and opens nothing but the device.
#include <fcntl.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <signal.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "helper/HelperProtocol.h"

namespace {

using namespace capture_helper;

// The same parameters as a capture inside the window (see capture/LiveCapture.h).
constexpr int kReadTimeoutMs = 100;
constexpr int kKernelBufferBytes = 64 << 20;
// A read error that lasts this long means the device is gone.
constexpr auto kLastingReadError = std::chrono::milliseconds(1000);

std::atomic<bool> g_stop{false};
std::atomic<pcap_t*> g_handle{nullptr};
int g_wakeFds[2] = {-1, -1};

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
}

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_wakeFds[1], &byte, 1);
    errno = saved;
}

// Ends the capture when standard input closes or a signal arrives: the caller's way to say Stop.
void WatchForStop() {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_wakeFds[0], POLLIN, 0}};
    char buffer[256];
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
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
}

pcap_t* Open(const std::string& device, bool promiscuous, int& status, std::string& error) {
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
    pcap_set_buffer_size(p, kKernelBufferBytes);
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

    int status = 0;
    std::string error, firstError;
    pcap_t* p = Open(device, true, status, error);
    if (!p) {
        firstError = error;
        p = Open(device, false, status, error);
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
    pcap_dumper_t* dumper = pcap_dump_fopen(p, stdout);
    if (!dumper)
        Fail(kExitOutput, std::string("cannot write the stream: ") + pcap_geterr(p));
    FlushOrExit();  // the stream's header, so the reader learns the link type at once
    g_handle = p;
    std::thread watcher(WatchForStop);
    watcher.detach();
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
    if (pcap_findalldevs(&devices, buffer) == -1)
        Fail(kExitOpenFailed, std::string("pcap_findalldevs: ") + buffer);
    std::printf("%s\n", kListHeader);
    for (const pcap_if_t* dev = devices; dev; dev = dev->next) {
        if (!IsValidDeviceName(dev->name))
            continue;  // could not be named to --capture either
        int link = -1;
        if (pcap_t* p = pcap_open_live(dev->name, kSnapshotLength, 1, 1000, buffer)) {
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
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
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
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(s, &sa, nullptr);

    if (argc == 2 && std::string_view(argv[1]) == "--list")
        return List();
    if (argc >= 2 && std::string_view(argv[1]) == "--capture") {
        if (argc != 3)
            Usage(argc < 3 ? "--capture needs a device name" : "too many arguments");
        const std::string_view device = argv[2];
        if (!IsValidDeviceName(device))
            Usage("not a device name: \"" + Printable(device) + "\" (1 to " + std::to_string(kMaxDeviceName) +
                  " letters, digits or . _ - : @, not starting with - or .)");
        return Capture(std::string(device));
    }
    if (argc < 2)
        Usage("no command given");
    Usage("unknown option \"" + Printable(argv[1]) + "\"");
}
