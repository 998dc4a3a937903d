// The cost of naming connections' owners, paid on the lookup thread, never on the capture thread: one
// exact lookup of a connection's socket (per new connection and side), one dump of the namespace's sockets
// (the fallback, paced by its own cost), one search of /proc for a new
// socket's holder (per new socket), and deciding and storing one connection's owners (per new connection).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "capture/PacketStore.h"
#include "capture/ProcessOwner.h"
#include "capture/ProcessOwnerLookup.h"

namespace {

void BM_DumpSockets(benchmark::State& state) {
    const int netlink = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    std::vector<DiagSocket> sockets;
    for (auto _ : state)
        DumpSockets(netlink, sockets);
    state.counters["sockets"] = static_cast<double>(sockets.size());
    ::close(netlink);
}
BENCHMARK(BM_DumpSockets)->Unit(benchmark::kMicrosecond);

// A listener's tuple: the kernel's hash lookup, as at a new connection's first packet.
void BM_LookupSocket(benchmark::State& state) {
    const int netlink = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t n = sizeof a;
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &n);
    const auto* address = reinterpret_cast<const uint8_t*>(&a.sin_addr);
    const Endpoint local = Endpoint::Ipv4(address, ntohs(a.sin_port)),
                   remote = Endpoint::Ipv4(address, 40000);
    std::vector<DiagSocket> sockets;
    for (auto _ : state) {
        sockets.clear();
        LookupSocket(netlink, true, local, remote, sockets);
    }
    state.counters["found"] = static_cast<double>(sockets.size());
    ::close(listener);
    ::close(netlink);
}
BENCHMARK(BM_LookupSocket)->Unit(benchmark::kMicrosecond);

// Every process's descriptors read once, as a full search does.
void BM_SearchProcesses(benchmark::State& state) {
    size_t sockets = 0;
    for (auto _ : state) {
        sockets = 0;
        DIR* proc = ::opendir("/proc");
        while (dirent* p = proc ? ::readdir(proc) : nullptr) {
            const std::string dir = std::string("/proc/") + p->d_name + "/fd";
            const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            DIR* fds = fd >= 0 ? ::fdopendir(fd) : nullptr;
            while (dirent* e = fds ? ::readdir(fds) : nullptr) {
                char link[64];
                const ssize_t n = ::readlinkat(fd, e->d_name, link, sizeof link);
                sockets += n > 0 && SocketInodeOfLink({link, static_cast<size_t>(n)}) != 0;
            }
            if (fds)
                ::closedir(fds);
        }
        if (proc)
            ::closedir(proc);
    }
    state.counters["sockets"] = static_cast<double>(sockets);
}
BENCHMARK(BM_SearchProcesses)->Unit(benchmark::kMillisecond);

// Deciding both sides of a new loopback connection and storing them.
void BM_DecideConnection(benchmark::State& state) {
    ResetCaptureStore();
    const uint8_t a[4] = {127, 0, 0, 1};
    const uint8_t frame[60] = {};
    for (uint32_t i = 0; i < 4096; ++i) {
        size_t index;
        StorePacket({}, frame, 60, 0, &index);
        FindOrAddConnection(1, a, a, 8000, static_cast<uint16_t>(10000 + i), index);
    }
    const std::vector<SocketEvidence> client{{7, 0, {{4121, "curl", "/usr/bin/curl"}}}};
    const std::vector<SocketEvidence> server{{9, 0, {{3977, "python3", "/usr/bin/python3"}}}};
    uint32_t i = 0;
    for (auto _ : state) {
        ConnectionOwners owners{DecideOwner(client), DecideOwner(server)};
        benchmark::DoNotOptimize(OwnersCellText(owners));
        SetConnectionOwners(&g_connectionTable[i++ % 4096], owners);
    }
    ResetCaptureStore();
}
BENCHMARK(BM_DecideConnection);

}  // namespace

BENCHMARK_MAIN();
