#include "capture/ProcessOwnerLookup.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "capture/PacketStore.h"
#include "capture/ProcessOwner.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often all sockets are dumped, at least, and how much longer than a dump takes the pause is: each
// dump walks the kernel's whole TCP table (milliseconds of CPU), and the thread is deaf to new connections
// meanwhile. The exact lookup at a new connection's first packet finds what can be found; the dumps are a
// fallback at about a twentieth of a core at most, and an idle capture costs next to nothing.
constexpr auto kDumpPause = std::chrono::milliseconds(100);
constexpr int kDumpPauseFactor = 19;
// A new connection waits this long for its sockets (its first packet may reach the store before the dump
// that sees them), and its owners may still be refined meanwhile.
constexpr auto kOwnerWait = std::chrono::milliseconds(1500);
// A socket that vanished this long before a connection began is no evidence about it.
constexpr int64_t kBeforeStartUs = 1'000'000;
// What was seen is kept this long after the socket vanished.
constexpr auto kKeepSeen = std::chrono::seconds(120);
// Rounds a new inode is searched for among the processes before it is taken as held by none found.
constexpr int kInodeSearches = 3;

struct SocketKey {
    bool tcp;
    Endpoint local, remote;
    bool operator==(const SocketKey&) const = default;
};

struct SocketKeyHash {
    size_t operator()(const SocketKey& k) const {
        uint64_t h = k.tcp ? 0x9E3779B97F4A7C15ull : 0;
        for (const Endpoint* e : {&k.local, &k.remote}) {
            for (uint8_t b : e->Address())
                h = (h ^ b) * 0x100000001B3ull;
            h = (h ^ e->Port()) * 0x100000001B3ull;
        }
        return static_cast<size_t>(h ^ (h >> 29));
    }
};

// One socket seen with one tuple, and when (the capture's clock, microseconds since the epoch).
struct Sighting {
    uint64_t inode;
    uint32_t uid;
    int64_t firstUs, lastUs;
    Clock::time_point lastSeen;
};

struct InodeHolders {
    std::vector<ProcessSeen> holders;
    int searches = 0;  // full searches
    int quickSearches = 0;
    bool confirmed = false;  // a full search ran since the inode was first seen
    bool Settled() const { return (!holders.empty() && confirmed) || searches >= kInodeSearches; }
};

struct Pending {
    uint32_t connection;
    Clock::time_point deadline;
    std::string lastText;  // what was last set, to tell the list only of changes
    bool fresh = true;     // not yet decided on
};

Endpoint AnyAddress(const Endpoint& like) {
    const uint8_t zero[16] = {};
    return like.IsIpv6() ? Endpoint::Ipv6(zero, 0) : Endpoint::Ipv4(zero, 0);
}

Clock::duration ThreadCpuTime() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

int64_t NowUs() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t{ts.tv_sec} * 1'000'000 + ts.tv_nsec / 1000;
}

Endpoint ReadDiagEndpoint(int family, const __be32* address, __be16 port) {
    const uint16_t p = ntohs(port);
    const auto* bytes = reinterpret_cast<const uint8_t*>(address);
    if (family == AF_INET)
        return Endpoint::Ipv4(bytes, p);
    static constexpr uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(bytes, kMapped, 12) == 0)
        return Endpoint::Ipv4(bytes + 12, p);
    return Endpoint::Ipv6(bytes, p);
}

std::string ReadSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    std::string text(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0'))
        text.pop_back();
    return text;
}

std::string ReadLink(int dirFd, const char* name) {
    char buffer[4096];
    const ssize_t n = ::readlinkat(dirFd, name, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

class OwnerLookup {
public:
    void Run(const std::atomic<bool>& stop) {
        m_netlink = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
        // Exact lookups have a socket of their own, so that no answer is taken for another's; an answer
        // that never comes costs a moment, never the thread.
        m_exact = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
        const timeval patience{0, 100'000};
        if (m_exact >= 0)
            ::setsockopt(m_exact, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        Clock::time_point addressesRead{}, nextDump{};
        // Until the capture ends (or the lookup is stopped): the table grows no more after that.
        while (!stop.load() && g_captureState.load() != CAPTURE_IDLE) {
            const auto start = Clock::now();
            if (start - addressesRead > std::chrono::seconds(1)) {
                ReadLocalAddresses();
                addressesRead = start;
            }
            const bool dump = start >= nextDump;
            Round(start, dump);
            if (dump)
                nextDump = start + std::max<Clock::duration>(kDumpPause, kDumpPauseFactor * m_dumpCost);
            SleepUntil(nextDump, stop);
        }
        // The capture has ended: what is waiting is decided on what was seen, without waiting any longer.
        Round(Clock::time_point::max(), false);
        for (int fd : {m_netlink, m_exact})
            if (fd >= 0)
                ::close(fd);
    }

private:
    // Until `until`, a new connection in the store, or a Stop.
    void SleepUntil(Clock::time_point until, const std::atomic<bool>& stop);

    void Round(Clock::time_point now, bool dump) {
        const bool final = now == Clock::time_point::max();
        TakeNewConnections(final ? Clock::now() : now, !final);
        if (dump) {
            ReadSockets();
            ConfirmHolders();
        }
        Decide(now);
        if (!final)
            Forget(now);
    }

    // One dump of each family and protocol; the holders of new inodes are looked for at once among the
    // processes started since the last search (short-lived programs), newest first.
    void ReadSockets() {
        if (m_netlink < 0)
            return;
        const auto cpu = ThreadCpuTime();
        DumpSockets(m_netlink, m_sockets);
        m_dumpCost = ThreadCpuTime() - cpu;
        Record(m_sockets);
    }

    // Keeps the sockets seen and looks for the holders of new inodes at once.
    void Record(const std::vector<DiagSocket>& sockets) {
        const int64_t nowUs = NowUs();
        const auto now = Clock::now();
        std::unordered_set<uint64_t> wanted;
        for (const DiagSocket& s : sockets) {
            if (s.inode == 0)
                continue;  // a socket no descriptor holds any more (TIME_WAIT): no evidence of an owner
            std::vector<Sighting>& seen = m_seen[{s.tcp, s.local, s.remote}];
            auto it =
                std::find_if(seen.begin(), seen.end(), [&](const Sighting& x) { return x.inode == s.inode; });
            if (it == seen.end()) {
                seen.push_back({s.inode, s.uid, nowUs, nowUs, now});
                m_changed = true;
            } else {
                it->lastUs = nowUs, it->lastSeen = now;
            }
            InodeHolders& h = m_holders[s.inode];
            if (h.holders.empty() && h.quickSearches < kInodeSearches) {
                ++h.quickSearches;
                wanted.insert(s.inode);
            }
        }
        if (!wanted.empty())
            SearchProcesses(wanted, true);
    }

    // A found holder is confirmed by a look at every process: an inode that two processes share (a socket
    // passed on) leaves the program unknown. Inodes no process was found holding are searched again.
    void ConfirmHolders() {
        std::unordered_set<uint64_t> wanted;
        for (auto& [inode, h] : m_holders)
            if (!h.Settled())
                wanted.insert(inode);
        if (wanted.empty())
            return;
        for (uint64_t inode : wanted)
            ++m_holders[inode].searches;
        SearchProcesses(wanted, false);
    }

    // `quick`: the processes started since the last full search first (short-lived programs), then the
    // others (a server's new socket), newest first, stopping once every wanted inode has a holder. Otherwise
    // every process, newest first, taking new connections in between so that a long search keeps no exact
    // lookup waiting.
    void SearchProcesses(const std::unordered_set<uint64_t>& wanted, bool quick) {
        DIR* proc = ::opendir("/proc");
        if (!proc)
            return;
        std::vector<int32_t> pids;
        while (dirent* e = ::readdir(proc)) {
            int32_t pid = 0;
            const char* end = e->d_name + std::strlen(e->d_name);
            if (std::from_chars(e->d_name, end, pid).ptr == end && pid > 0)
                pids.push_back(pid);
        }
        ::closedir(proc);
        std::sort(pids.rbegin(), pids.rend());
        if (quick)
            std::stable_partition(pids.begin(), pids.end(),
                                  [&](int32_t pid) { return !m_knownPids.count(pid); });
        size_t found = 0;
        for (int32_t pid : pids) {
            // A long search must not keep new connections from their exact lookup.
            if (!quick && g_connectionTable.size() != m_next)
                TakeNewConnections(Clock::now(), true);
            found += SearchProcess(pid, wanted);
            if (quick && found >= wanted.size())
                break;
        }
        if (!quick) {
            m_knownPids.clear();
            m_knownPids.insert(pids.begin(), pids.end());
            for (uint64_t inode : wanted)
                m_holders[inode].confirmed = true;
        }
    }

    // The wanted inodes among one process's descriptors; how many were newly given a holder.
    size_t SearchProcess(int32_t pid, const std::unordered_set<uint64_t>& wanted) {
        const std::string dir = "/proc/" + std::to_string(pid);
        const int fdDir = ::open((dir + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdDir < 0)
            return 0;  // gone, or another user's without the right to look
        DIR* fds = ::fdopendir(fdDir);
        if (!fds) {
            ::close(fdDir);
            return 0;
        }
        size_t found = 0;
        ProcessSeen process;
        while (dirent* e = ::readdir(fds)) {
            if (e->d_name[0] == '.')
                continue;
            const uint64_t inode = SocketInodeOfLink(ReadLink(fdDir, e->d_name));
            if (inode == 0 || !wanted.count(inode))
                continue;
            if (process.pid == 0) {
                process.program = ReadSmallFile(dir + "/comm");
                // Gone since its descriptors were read: no name to tell, and its number may be reused.
                if (process.program.empty())
                    break;
                process.pid = pid;
                process.exe = ReadLink(AT_FDCWD, (dir + "/exe").c_str());
            }
            std::vector<ProcessSeen>& holders = m_holders[inode].holders;
            if (std::find(holders.begin(), holders.end(), process) != holders.end())
                continue;
            found += holders.empty() ? 1 : 0;
            holders.push_back(process);
            m_changed = true;
        }
        ::closedir(fds);
        return found;
    }

    // New connections wait for a decision; with `lookUp`, the kernel is asked at once for their local
    // sockets, while a short-lived program may still hold its own.
    void TakeNewConnections(Clock::time_point now, bool lookUp) {
        const size_t stored = g_connectionTable.size();
        m_found.clear();
        for (; m_next < stored; ++m_next) {
            const ConnectionRecord& c = g_connectionTable[m_next];
            if (!IsLocal(c.Client()) && !IsLocal(c.Server()))
                continue;  // neither socket is on this host
            if (m_pending.size() >= kMaxPendingOwners) {
                g_ownerLookupOverflow.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            m_pending.push_back({static_cast<uint32_t>(m_next), now + kOwnerWait, {}, true});
            if (!lookUp || m_exact < 0)
                continue;
            if (IsLocal(c.Client()))
                LookupSocket(m_exact, c.isTcp, c.Client(), c.Server(), m_found);
            if (IsLocal(c.Server())) {
                LookupSocket(m_exact, c.isTcp, c.Server(), c.Client(), m_found);
                // The listener too: it names the server once the accepted socket is gone.
                if (c.isTcp)
                    LookupSocket(m_exact, true, c.Server(), AnyAddress(c.Server()), m_found);
            }
        }
        if (!m_found.empty())
            Record(m_found);
    }

    void Decide(Clock::time_point now) {
        // Owners change only with what was seen; a deadline passes without news.
        const bool changed = m_changed;
        m_changed = false;
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (!changed && !it->fresh && now < it->deadline) {
                ++it;
                continue;
            }
            it->fresh = false;
            const ConnectionRecord& c = g_connectionTable[it->connection];
            const int64_t startUs = g_packetTable[c.packetIndices[0]].stamp.sec * 1'000'000 +
                                    g_packetTable[c.packetIndices[0]].stamp.usec;
            bool settled = true;
            ConnectionOwners owners;
            owners.client = SideOwner(c.isTcp, false, c.Client(), c.Server(), startUs, settled);
            owners.server = SideOwner(c.isTcp, true, c.Server(), c.Client(), startUs, settled);
            const std::string text = OwnersCellText(owners);
            if (text != it->lastText) {
                SetConnectionOwners(&c, owners);
                MarkConnectionChanged(it->connection);
                it->lastText = text;
            }
            // Both sides known and settled: nothing more to learn. Otherwise wait for the other side's socket
            // (a server's accepted socket may appear a moment later) until the deadline.
            const bool complete = settled && owners.client.Known() && owners.server.Known();
            it = complete || now >= it->deadline ? m_pending.erase(it) : std::next(it);
        }
    }

    // The owner of the socket at `local` talking to `remote`. A connected socket's own tuple is the best
    // evidence; for UDP a socket bound to the address alone, then to the wildcard, as the kernel delivers.
    // A TCP server's accepted socket often closes before any search finds it: it was accepted by the one
    // process that holds the listening socket, which then names that side (a listener that several hold
    // names none).
    ProcessOwner SideOwner(bool tcp, bool server, const Endpoint& local, const Endpoint& remote,
                           int64_t startUs, bool& settled) {
        if (!IsLocal(local))
            return {};
        std::vector<SocketEvidence> evidence;
        Gather({tcp, local, remote}, startUs, evidence, settled);
        const bool unresolved = std::all_of(evidence.begin(), evidence.end(),
                                            [](const SocketEvidence& e) { return e.holders.empty(); });
        // A TCP client's socket is always connected; a UDP one bound to the address alone or the wildcard
        // is evidence only when no connected socket has the tuple.
        if ((!evidence.empty() && !(tcp && server && unresolved)) || (tcp && !server))
            return DecideOwner(evidence);
        std::vector<SocketEvidence> bound;
        const uint8_t zero[16] = {};
        const Endpoint anyRemote = local.IsIpv6() ? Endpoint::Ipv6(zero, 0) : Endpoint::Ipv4(zero, 0);
        Gather({tcp, local, anyRemote}, startUs, bound, settled);
        if (bound.empty()) {
            Gather({tcp, Endpoint::Ipv4(zero, local.Port()), Endpoint::Ipv4(zero, 0)}, startUs, bound,
                   settled);
            Gather({tcp, Endpoint::Ipv6(zero, local.Port()), Endpoint::Ipv6(zero, 0)}, startUs, bound,
                   settled);
        }
        if (bound.empty())
            return DecideOwner(evidence);
        // The connection's own sockets, where seen, must be the same user's.
        const ProcessOwner owner = DecideOwner(bound);
        for (const SocketEvidence& e : evidence)
            if (e.uid != owner.uid)
                return DecideOwner(evidence);
        return owner;
    }

    void Gather(const SocketKey& key, int64_t startUs, std::vector<SocketEvidence>& evidence, bool& settled) {
        const auto it = m_seen.find(key);
        if (it == m_seen.end())
            return;
        for (const Sighting& s : it->second) {
            if (s.lastUs < startUs - kBeforeStartUs)
                continue;
            const InodeHolders& h = m_holders[s.inode];
            settled = settled && h.Settled();
            evidence.push_back({s.inode, s.uid, h.holders});
        }
    }

    // Drops what vanished long ago.
    void Forget(Clock::time_point now) {
        if (now - m_lastForget < std::chrono::seconds(5))
            return;
        m_lastForget = now;
        std::unordered_set<uint64_t> live;
        for (auto it = m_seen.begin(); it != m_seen.end();) {
            std::erase_if(it->second, [&](const Sighting& s) { return now - s.lastSeen > kKeepSeen; });
            for (const Sighting& s : it->second)
                live.insert(s.inode);
            it = it->second.empty() ? m_seen.erase(it) : std::next(it);
        }
        std::erase_if(m_holders, [&](const auto& h) { return !live.count(h.first); });
    }

    void ReadLocalAddresses() {
        ifaddrs* list = nullptr;
        if (::getifaddrs(&list) != 0)
            return;
        m_local.clear();
        for (ifaddrs* a = list; a; a = a->ifa_next) {
            if (!a->ifa_addr)
                continue;
            if (a->ifa_addr->sa_family == AF_INET)
                m_local.push_back(Endpoint::Ipv4(
                    reinterpret_cast<const uint8_t*>(&reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr),
                    0));
            else if (a->ifa_addr->sa_family == AF_INET6)
                m_local.push_back(
                    Endpoint::Ipv6(reinterpret_cast<const uint8_t*>(
                                       &reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr),
                                   0));
        }
        ::freeifaddrs(list);
    }

    bool IsLocal(const Endpoint& e) const {
        if (!e.IsIpv6() && e.AddressBytes()[0] == 127)
            return true;
        return std::any_of(m_local.begin(), m_local.end(), [&](const Endpoint& a) {
            return a.IsIpv6() == e.IsIpv6() &&
                   std::memcmp(a.AddressBytes(), e.AddressBytes(), e.AddressLength()) == 0;
        });
    }

    int m_netlink = -1;
    int m_exact = -1;
    Clock::duration m_dumpCost{};
    std::vector<DiagSocket> m_sockets, m_found;
    std::unordered_map<SocketKey, std::vector<Sighting>, SocketKeyHash> m_seen;
    std::unordered_map<uint64_t, InodeHolders> m_holders;
    std::vector<Endpoint> m_local;
    std::deque<Pending> m_pending;
    size_t m_next = 0;
    Clock::time_point m_lastForget{};
    std::unordered_set<int32_t> m_knownPids;  // the processes the last full search read
    bool m_changed = false;                   // a new sighting or holder since the last decisions
};

std::thread g_lookupThread;
std::atomic<bool> g_lookupStop{false};
// Set while the lookup sleeps: the store's wake then takes the mutex once, and otherwise never.
std::atomic<bool> g_lookupAsleep{false};
std::mutex g_wakeMutex;
std::condition_variable g_wake;

void OwnerLookup::SleepUntil(Clock::time_point until, const std::atomic<bool>& stop) {
    std::unique_lock lock(g_wakeMutex);
    g_lookupAsleep.store(true);
    // Pairs with the fence in WakeOwnerLookup: either the store sees the flag, or this sees the connection.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (g_connectionTable.size() == m_next && !stop.load())
        g_wake.wait_until(lock, until, [&] { return !g_lookupAsleep.load() || stop.load(); });
    g_lookupAsleep.store(false);
}

void WakeLookupThread() {
    {
        std::lock_guard lock(g_wakeMutex);
        g_lookupAsleep.store(false);
    }
    g_wake.notify_one();
}

}  // namespace

void WakeOwnerLookup() {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (g_lookupAsleep.load(std::memory_order_relaxed))
        WakeLookupThread();
}

void LookupSocket(int netlink, bool tcp, const Endpoint& local, const Endpoint& remote,
                  std::vector<DiagSocket>& out) {
    static thread_local uint32_t sequence = 0;
    // An IPv4 connection may belong to an IPv6 socket that takes IPv4 too: UDP finds it only as such.
    for (const bool mapped : {false, true}) {
        if (mapped && (tcp || local.IsIpv6()))
            return;
        struct {
            nlmsghdr header;
            inet_diag_req_v2 request;
        } message{};
        message.header.nlmsg_len = sizeof message;
        message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
        message.header.nlmsg_flags = NLM_F_REQUEST;
        message.header.nlmsg_seq = ++sequence;
        inet_diag_req_v2& r = message.request;
        r.sdiag_family = static_cast<uint8_t>(local.IsIpv6() || mapped ? AF_INET6 : AF_INET);
        r.sdiag_protocol = tcp ? IPPROTO_TCP : IPPROTO_UDP;
        r.idiag_states = ~0u;
        // TCP takes the socket's own side first; UDP, like a packet arriving, the sender first.
        const Endpoint& first = tcp ? local : remote;
        const Endpoint& second = tcp ? remote : local;
        for (auto [e, address, port] : {std::tuple{&first, r.id.idiag_src, &r.id.idiag_sport},
                                        std::tuple{&second, r.id.idiag_dst, &r.id.idiag_dport}}) {
            auto* bytes = reinterpret_cast<uint8_t*>(address);
            if (mapped) {
                bytes[10] = bytes[11] = 0xFF;
                std::memcpy(bytes + 12, e->AddressBytes(), 4);
            } else {
                std::memcpy(bytes, e->AddressBytes(), e->AddressLength());
            }
            *port = htons(e->Port());
        }
        r.id.idiag_cookie[0] = r.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
        if (::send(netlink, &message, sizeof message, 0) != static_cast<ssize_t>(sizeof message))
            return;
        uint8_t answer[2048];
        // An answer to an earlier question that timed out may still come first: it is passed over.
        for (int tries = 0; tries < 4; ++tries) {
            const ssize_t n = ::recv(netlink, answer, sizeof answer, 0);
            if (n < static_cast<ssize_t>(sizeof(nlmsghdr)))
                return;
            nlmsghdr header;
            std::memcpy(&header, answer, sizeof header);
            if (header.nlmsg_seq != sequence)
                continue;
            const size_t before = out.size();
            ParseDiagAnswer({answer, static_cast<size_t>(n)}, tcp, out);
            if (out.size() > before)
                return;
            break;
        }
    }
}

void DumpSockets(int netlink, std::vector<DiagSocket>& out) {
    static thread_local std::vector<uint8_t> buffer(size_t{1} << 16);
    static thread_local uint32_t sequence = 0;
    out.clear();
    // Request sockets and TIME_WAIT ones have no owner to tell.
    constexpr uint32_t kStates = ~((1u << TCP_TIME_WAIT) | (1u << 12 /* TCP_NEW_SYN_RECV */));
    const auto ask = [&](const auto& message, bool tcp) {
        if (::send(netlink, &message, sizeof message, 0) != static_cast<ssize_t>(sizeof message))
            return;
        for (;;) {
            const ssize_t n = ::recv(netlink, buffer.data(), buffer.size(), 0);
            if (n <= 0 || ParseDiagAnswer({buffer.data(), static_cast<size_t>(n)}, tcp, out) != 1)
                break;
        }
    };
    // TCP through the older request, which takes both families in one walk of the kernel's table: the walk
    // is what a dump costs, and IPv4 and IPv6 share the table.
    struct {
        nlmsghdr header;
        inet_diag_req request;
    } tcp{};
    tcp.header.nlmsg_len = sizeof tcp;
    tcp.header.nlmsg_type = TCPDIAG_GETSOCK;
    tcp.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    tcp.header.nlmsg_seq = ++sequence;
    tcp.request.idiag_family = AF_INET;
    tcp.request.idiag_states = kStates;
    ask(tcp, true);
    for (int family : {AF_INET, AF_INET6}) {
        struct {
            nlmsghdr header;
            inet_diag_req_v2 request;
        } udp{};
        udp.header.nlmsg_len = sizeof udp;
        udp.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
        udp.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        udp.header.nlmsg_seq = ++sequence;
        udp.request.sdiag_family = static_cast<uint8_t>(family);
        udp.request.sdiag_protocol = IPPROTO_UDP;
        udp.request.idiag_states = kStates;
        ask(udp, false);
    }
}

int ParseDiagAnswer(std::span<const uint8_t> bytes, bool tcp, std::vector<DiagSocket>& out) {
    size_t at = 0;
    while (bytes.size() - at >= sizeof(nlmsghdr)) {
        nlmsghdr header;
        std::memcpy(&header, bytes.data() + at, sizeof header);
        if (header.nlmsg_len < sizeof header || header.nlmsg_len > bytes.size() - at)
            return -1;
        if (header.nlmsg_type == NLMSG_DONE)
            return 0;
        if (header.nlmsg_type == NLMSG_ERROR)
            return -1;
        if (header.nlmsg_type == SOCK_DIAG_BY_FAMILY &&
            header.nlmsg_len - sizeof header >= sizeof(inet_diag_msg)) {
            inet_diag_msg m;
            std::memcpy(&m, bytes.data() + at + sizeof header, sizeof m);
            if (m.idiag_family == AF_INET || m.idiag_family == AF_INET6) {
                DiagSocket s;
                s.tcp = tcp;
                s.local = ReadDiagEndpoint(m.idiag_family, m.id.idiag_src, m.id.idiag_sport);
                s.remote = ReadDiagEndpoint(m.idiag_family, m.id.idiag_dst, m.id.idiag_dport);
                s.uid = m.idiag_uid;
                s.inode = m.idiag_inode;
                out.push_back(s);
            }
        }
        at += std::min<size_t>(NLMSG_ALIGN(header.nlmsg_len), bytes.size() - at);
    }
    return 1;
}

uint64_t SocketInodeOfLink(std::string_view link) {
    constexpr std::string_view kPrefix = "socket:[";
    if (!link.starts_with(kPrefix) || !link.ends_with(']'))
        return 0;
    const std::string_view digits = link.substr(kPrefix.size(), link.size() - kPrefix.size() - 1);
    uint64_t inode = 0;
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), inode);
    return r.ec == std::errc() && r.ptr == digits.data() + digits.size() ? inode : 0;
}

void StartOwnerLookup() {
    StopOwnerLookup();
    g_ownersLookedUp.store(true, std::memory_order_relaxed);
    g_lookupStop = false;
    g_lookupThread = std::thread([] {
        OwnerLookup lookup;
        lookup.Run(g_lookupStop);
    });
}

void StopOwnerLookup() {
    g_lookupStop = true;
    WakeLookupThread();
    if (g_lookupThread.joinable())
        g_lookupThread.join();
}
