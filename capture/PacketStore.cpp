#include "capture/PacketStore.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "capture/Format.h"
#include "capture/FrameFile.h"
#include "capture/FrameLayout.h"
#include "capture/PacketIntake.h"
#include "capture/ProcessOwner.h"
#include "capture/ProcessOwnerLookup.h"
#include "capture/WideIntake.h"
#include "config/CaptureConfig.h"

PacketTable g_packetTable;
ConnectionTable g_connectionTable;
Ipv6EndpointTable g_ipv6Endpoints;

std::atomic<int64_t> g_storedBytes{0};
std::atomic<int32_t> g_bufferPercent{0};
std::atomic<int32_t> g_unsavedPackets{0};
std::atomic<int32_t> g_skipFilter{0};
std::atomic<int32_t> g_shortPacketCount{0};
std::atomic<int32_t> g_captureState{CAPTURE_IDLE};
std::atomic<uint64_t> g_storeGeneration{0};
std::atomic<uint64_t> g_grownConnections{kNoGrownConnections};
std::atomic<size_t> g_packetLimit{0};
std::atomic<int32_t> g_storeStop{STORE_STOP_NONE};
std::atomic<int32_t> g_notKeptCount{0};
std::atomic<int32_t> g_storeLinkType{kLinkEthernet};

namespace {

[[gnu::noinline]] void WidenGrownRange(uint64_t r, uint64_t old) {
    for (;;) {
        const uint64_t first = std::min(old >> 32, r);
        const uint64_t last = std::max(old & UINT32_MAX, r);
        const uint64_t next = (first << 32) | last;
        if (next == old || g_grownConnections.compare_exchange_weak(old, next, std::memory_order_release,
                                                                    std::memory_order_relaxed))
            return;
    }
}

// Per packet of an existing connection: a load, and an exchange only when the range widens. Mostly the
// range holds it already (the chosen connection's stream, or any while the reader is slow).
[[gnu::always_inline]] inline void MarkConnectionGrown(uint32_t connection) {
    const uint64_t r = connection;
    const uint64_t old = g_grownConnections.load(std::memory_order_relaxed);
    if ((old >> 32) > r || r > (old & UINT32_MAX))
        WidenGrownRange(r, old);
}

ByteArena g_frameArena;  // frame copies
ByteArena g_indexArena;  // grown packet index lists

// Finds a connection by protocol and its two endpoints in either order, in O(1). A connection is
// created only when no record matches a packet either way, so each unordered endpoint pair has at most
// one record: the lookup gives the same record as a search from the newest one.
class ConnectionIndex {
public:
    // The seed changes with every clear, so that nobody can choose addresses that all land in one cluster.
    uint64_t Hash(int isTcp, const uint8_t* ipA, uint16_t portA, const uint8_t* ipB, uint16_t portB) const {
        uint64_t a = (uint64_t{ReadU32(ipA)} << 16) | portA;
        uint64_t b = (uint64_t{ReadU32(ipB)} << 16) | portB;
        if (a > b)
            std::swap(a, b);
        uint64_t h = ((a ^ m_seed) * 0x9E3779B97F4A7C15ull) ^ (b + (uint64_t{isTcp != 0} << 56));
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 32;
        return h;
    }

    // IPv6 endpoints: the addresses are folded into 32 bits each, then hashed as above.
    uint64_t Hash6(int isTcp, const uint8_t* ipA, uint16_t portA, const uint8_t* ipB, uint16_t portB) const {
        uint8_t a[4], b[4];
        Fold16(ipA, a);
        Fold16(ipB, b);
        return Hash(isTcp, a, portA, b, portB);  // which does not depend on the order of the two ends
    }

    // The connection index, or -1.
    int64_t Find(uint64_t hash, int isTcp, const uint8_t* srcIp, uint16_t srcPort, const uint8_t* dstIp,
                 uint16_t dstPort) const {
        return FindIf(hash, [&](const ConnectionRecord& c) {
            return c.Direction(isTcp, srcIp, srcPort, dstIp, dstPort) != -1;
        });
    }

    // `candidate` is told of a connection index before its record is read (to fetch what else it needs
    // at the same time).
    struct NoCandidateHook {
        void operator()(size_t) const {}
    };
    template <typename Matches, typename Candidate = NoCandidateHook>
    int64_t FindIf(uint64_t hash, const Matches& matches, const Candidate& candidate = {}) const {
        if (m_slots.empty())
            return -1;
        uint32_t tag = Tag(hash);
        for (size_t i = tag & m_mask;; i = (i + 1) & m_mask) {
            const Slot& s = m_slots[i];
            if (s.connPlus1 == 0)
                return -1;
            if (s.tag == tag) {
                candidate(s.connPlus1 - 1);
                if (matches(g_connectionTable[s.connPlus1 - 1]))
                    return s.connPlus1 - 1;
            }
        }
    }

    // The slot a lookup of `hash` reads first, or the record that slot names (the slot then in the cache).
    void Prefetch(uint64_t hash, bool record) const {
        if (m_slots.empty())
            return;
        const Slot& s = m_slots[Tag(hash) & m_mask];
        if (!record)
            __builtin_prefetch(&s);
        else if (s.connPlus1 != 0 && s.tag == Tag(hash))
            __builtin_prefetch(&g_connectionTable[s.connPlus1 - 1]);
    }

    // Makes room for one more entry; false when memory runs out. Called before the connection is
    // created, so that a failure leaves no connection outside the index.
    bool Reserve() {
        try {
            if ((m_count + 1) * 2 > m_slots.size())
                Grow();
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    // After Reserve.
    void Insert(uint64_t hash, uint32_t conn) {
        Place(Tag(hash), conn);
        ++m_count;
    }

    void Clear() {
        std::vector<Slot>().swap(m_slots);
        m_mask = 0;
        m_count = 0;
        m_seed = std::random_device()() | (uint64_t{std::random_device()()} << 32);
    }

    size_t ReservedBytes() const { return m_slots.capacity() * sizeof(Slot); }

private:
    static void Fold16(const uint8_t* ip, uint8_t out[4]) {
        uint32_t words[4];
        std::memcpy(words, ip, 16);
        uint32_t v =
            words[0] ^ (words[1] * 0x85EBCA6Bu) ^ (words[2] * 0xC2B2AE35u) ^ (words[3] * 0x27D4EB2Fu);
        std::memcpy(out, &v, 4);
    }

    // The slot position comes from the tag, so growing re-places slots without reading any record.
    struct Slot {
        uint32_t connPlus1;  // 0: empty
        uint32_t tag;        // high half of the hash
    };
    static uint32_t Tag(uint64_t hash) { return static_cast<uint32_t>(hash >> 32); }

    static uint32_t ReadU32(const uint8_t* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }

    void Place(uint32_t tag, uint32_t conn) {
        size_t i = tag & m_mask;
        while (m_slots[i].connPlus1 != 0)
            i = (i + 1) & m_mask;
        m_slots[i] = {conn + 1, tag};
    }

    void Grow() {
        size_t size = m_slots.empty() ? 1024 : m_slots.size() * 2;
        std::vector<Slot> old(size, Slot{0, 0});
        old.swap(m_slots);
        m_mask = size - 1;
        for (const Slot& s : old)
            if (s.connPlus1 != 0)
                Place(s.tag, s.connPlus1 - 1);
    }

    std::vector<Slot> m_slots;
    size_t m_mask = 0;
    size_t m_count = 0;
    uint64_t m_seed = 0x243F6A8885A308D3ull;
};

ConnectionIndex g_connectionIndex;
ConnectionIndex g_connectionIndex6;  // IPv6 connections only

void RequestStop(StoreStop why) {
    int32_t none = STORE_STOP_NONE;
    g_storeStop.compare_exchange_strong(none, why);
    int expected = CAPTURE_RUNNING;
    g_captureState.compare_exchange_strong(expected, CAPTURE_STOPPING);
}

}  // namespace

// Paid by every connection of a capture: the IPv6 addresses stay in their own table.
static_assert(sizeof(ConnectionRecord) <= 48);

ConnectionRecord::ConnectionRecord(int tcp, const uint8_t* dstIp, const uint8_t* srcIp, uint16_t dstPort,
                                   uint16_t srcPort, uint32_t firstPacket)
    : isTcp(static_cast<uint8_t>(tcp != 0)),
      m_serverPort(dstPort),
      m_clientPort(srcPort),
      packetIndices(firstPacket) {
    std::memcpy(m_serverIp, dstIp, 4);
    std::memcpy(m_clientIp, srcIp, 4);
}

ConnectionRecord::ConnectionRecord(int tcp, uint32_t endpoints, uint16_t dstPort, uint16_t srcPort,
                                   uint32_t firstPacket)
    : isTcp(static_cast<uint8_t>(tcp != 0)),
      m_ipv6(1),
      m_serverPort(dstPort),
      m_clientPort(srcPort),
      packetIndices(firstPacket) {
    std::memcpy(m_serverIp, &endpoints, 4);
}

SystemTime ConnectionRecord::startTime() const {
    return g_packetTable[packetIndices[0]].time();
}

SystemTime ConnectionRecord::lastTime() const {
    size_t n = packetIndices.size();
    return g_packetTable[packetIndices[n - 1]].time();  // a connection has at least one packet
}

int StorePacket(const PacketTimestamp& stamp, const uint8_t* data, int capLen, int payloadLen,
                size_t* index) {
    g_unsavedPackets.store(1, std::memory_order_relaxed);
    const size_t n = g_packetTable.size();
    const size_t packetLimit = g_packetLimit.load(std::memory_order_relaxed);
    if (capLen < 0 || payloadLen < 0 || payloadLen > capLen || n >= UINT32_MAX ||
        (packetLimit && n >= packetLimit)) {
        RequestStop(STORE_STOP_LIMIT);
        return 0;
    }
    // A frame of a file opened in place stays in the file, and costs no buffer: the limit and its gauge are
    // about copied frames only. Complete before the table publishes it: a reader may look at it at once.
    if (const uint8_t* inPlace = g_inPlaceFrame) [[unlikely]] {
        if (!g_packetTable.emplace_back(stamp, capLen, payloadLen, inPlace)) {
            RequestStop(STORE_STOP_NO_MEMORY);
            return 0;
        }
        *index = n;
        return 1;
    }
    auto* copy = static_cast<uint8_t*>(g_frameArena.Allocate(static_cast<size_t>(capLen)));
    if (!copy && capLen > 0) {
        RequestStop(STORE_STOP_NO_MEMORY);
        return 0;
    }
    if (capLen > 0)
        std::memcpy(copy, data, static_cast<size_t>(capLen));
    if (!g_packetTable.emplace_back(stamp, capLen, payloadLen, copy)) {
        RequestStop(STORE_STOP_NO_MEMORY);
        return 0;
    }
    *index = n;

    // Only the capturing thread writes the counters, so a plain load and store suffice.
    int64_t stored = g_storedBytes.load(std::memory_order_relaxed) + capLen;
    g_storedBytes.store(stored, std::memory_order_relaxed);
    // The configuration clamps the size on load; guard anyway against dividing by zero.
    int64_t mb = g_config.bufferMB < 1 ? 1 : g_config.bufferMB;
    int64_t limit = mb << 20;
    int64_t percent = stored * 100 / limit;
    if (stored > limit && g_skipFilter.load(std::memory_order_relaxed) == 0)
        RequestStop(STORE_STOP_BUFFER_FULL);
    g_bufferPercent.store(percent > INT32_MAX ? INT32_MAX : static_cast<int32_t>(percent),
                          std::memory_order_relaxed);
    return 1;
}

int FindOrAddConnection(int isTcp, const uint8_t* dstIp, const uint8_t* srcIp, uint16_t dstPort,
                        uint16_t srcPort, size_t packetIndex) {
    PacketRecord& packet = g_packetTable.at(packetIndex);
    uint64_t hash = g_connectionIndex.Hash(isTcp, srcIp, srcPort, dstIp, dstPort);
    int64_t found = g_connectionIndex.Find(hash, isTcp, srcIp, srcPort, dstIp, dstPort);
    if (found >= 0) {
        ConnectionRecord& c = g_connectionTable[static_cast<size_t>(found)];
        int forward = c.Direction(isTcp, srcIp, srcPort, dstIp, dstPort);
        // The direction is set before the index is published, so a reader of the list sees it.
        packet.toServer.store(forward, std::memory_order_relaxed);
        if (!c.packetIndices.push_back(static_cast<uint32_t>(packetIndex), g_indexArena)) {
            RequestStop(STORE_STOP_NO_MEMORY);
            return -1;
        }
        MarkConnectionGrown(static_cast<uint32_t>(found));
        return static_cast<int>(found);
    }

    size_t n = g_connectionTable.size();
    if (n >= INT32_MAX) {
        RequestStop(STORE_STOP_LIMIT);
        return -1;
    }
    packet.toServer.store(1, std::memory_order_relaxed);
    // The record is complete when the table publishes it: readers may look at it at once.
    if (!g_connectionIndex.Reserve() || !g_connectionTable.emplace_back(isTcp, dstIp, srcIp, dstPort, srcPort,
                                                                        static_cast<uint32_t>(packetIndex))) {
        RequestStop(STORE_STOP_NO_MEMORY);
        return -1;
    }
    g_connectionIndex.Insert(hash, static_cast<uint32_t>(n));
    WakeOwnerLookup();
    return static_cast<int>(n);
}

uint64_t PrefetchConnectionSlot(const uint8_t* frame, uint32_t capLen) {
    constexpr uint32_t kIp = 14;
    if (capLen < kIp + 20 || ReadBE16(frame + 12) != kEtherTypeIpv4 || (frame[kIp] >> 4) != 4)
        return 0;
    const uint32_t ports = kIp + (frame[kIp] & 15u) * 4;
    const uint8_t protocol = frame[kIp + 9];
    if ((protocol != kProtocolTcp && protocol != kProtocolUdp) || ports + 4 > capLen)
        return 0;
    const uint64_t key =
        g_connectionIndex.Hash(protocol == kProtocolTcp, frame + kIp + 12, ReadBE16(frame + ports),
                               frame + kIp + 16, ReadBE16(frame + ports + 2));
    g_connectionIndex.Prefetch(key, false);
    return key;
}

void PrefetchConnectionRecord(uint64_t key) {
    if (key != 0)
        g_connectionIndex.Prefetch(key, true);
}

int FindOrAddConnectionIpv6(int isTcp, const uint8_t* dstIp, const uint8_t* srcIp, uint16_t dstPort,
                            uint16_t srcPort, size_t packetIndex) {
    PacketRecord& packet = g_packetTable.at(packetIndex);
    const uint64_t hash = g_connectionIndex6.Hash6(isTcp, srcIp, srcPort, dstIp, dstPort);
    int direction = -1;
    const int64_t found = g_connectionIndex6.FindIf(
        hash,
        [&](const ConnectionRecord& c) {
            direction = c.DirectionIpv6(isTcp, srcIp, srcPort, dstIp, dstPort);
            return direction != -1;
        },
        // The addresses share the record's index: both are fetched at once.
        [](size_t connection) { __builtin_prefetch(&g_ipv6Endpoints[connection]); });
    if (found >= 0) {
        ConnectionRecord& c = g_connectionTable[static_cast<size_t>(found)];
        packet.toServer.store(direction, std::memory_order_relaxed);
        if (!c.packetIndices.push_back(static_cast<uint32_t>(packetIndex), g_indexArena)) {
            RequestStop(STORE_STOP_NO_MEMORY);
            return -1;
        }
        MarkConnectionGrown(static_cast<uint32_t>(found));
        return static_cast<int>(found);
    }

    const size_t n = g_connectionTable.size();
    if (n >= INT32_MAX) {
        RequestStop(STORE_STOP_LIMIT);
        return -1;
    }
    packet.toServer.store(1, std::memory_order_relaxed);
    // The addresses go to the element of the connection's own index (IPv4 connections before it leave
    // theirs empty; an IPv4-only capture has none), and are published before the record that points to
    // them. An element left behind by a failure below is used again by the next connection.
    while (g_ipv6Endpoints.size() < n + 1) {
        if (!g_ipv6Endpoints.emplace_back()) {
            RequestStop(STORE_STOP_NO_MEMORY);
            return -1;
        }
    }
    Ipv6Endpoints* endpoints = &g_ipv6Endpoints[n];
    if (!g_connectionIndex6.Reserve()) {
        RequestStop(STORE_STOP_NO_MEMORY);
        return -1;
    }
    std::memcpy(endpoints->server, dstIp, 16);
    std::memcpy(endpoints->client, srcIp, 16);
    if (!g_connectionTable.emplace_back(isTcp, static_cast<uint32_t>(n), dstPort, srcPort,
                                        static_cast<uint32_t>(packetIndex))) {
        RequestStop(STORE_STOP_NO_MEMORY);
        return -1;
    }
    g_connectionIndex6.Insert(hash, static_cast<uint32_t>(n));
    WakeOwnerLookup();
    return static_cast<int>(n);
}

void ClearPacketStore() {
    ClearConnectionOwners();
    g_connectionIndex.Clear();
    g_connectionIndex6.Clear();
    ClearFragmentIndex();
    g_connectionTable.Clear();
    g_ipv6Endpoints.Clear();
    g_packetTable.Clear();
    g_indexArena.Clear();
    g_frameArena.Clear();
    ReleaseFrameFile();
    g_grownConnections.store(kNoGrownConnections, std::memory_order_relaxed);
    g_storeGeneration.fetch_add(1, std::memory_order_release);
}

void MarkConnectionChanged(uint32_t connection) {
    MarkConnectionGrown(connection);
}

void TakeGrownConnections(uint32_t* first, uint32_t* last) {
    const uint64_t range = g_grownConnections.exchange(kNoGrownConnections, std::memory_order_acquire);
    *first = static_cast<uint32_t>(range >> 32);
    *last = static_cast<uint32_t>(range & UINT32_MAX);
}

void ResetCaptureStore() {
    ClearPacketStore();
    // Every capture, stream and file load begins here, with the rules it will use: no rule changes while
    // one runs.
    g_config.PrepareMatching();
    g_storedBytes = 0;
    g_captureState = CAPTURE_IDLE;
    g_shortPacketCount = 0;
    g_unsavedPackets = 0;
    g_bufferPercent = 0;
    g_storeStop = STORE_STOP_NONE;
    g_notKeptCount = 0;
    g_storeLinkType = kLinkEthernet;
}

std::span<const uint8_t> PacketPayload(const PacketRecord& packet) {
    if (packet.payloadLen <= 0 || packet.capLen <= 0 || !FrameBytesPresent(packet))
        return {};
    const auto capLen = static_cast<uint32_t>(packet.capLen);
    const int linkType = g_storeLinkType.load(std::memory_order_relaxed);
    FrameLayout f;
    // Most stored frames are Ethernet IPv4: the intake's own path reads them.
    FrameVerdict verdict =
        linkType == kLinkEthernet ? ParseEthernetIpv4(packet.data, capLen, f) : FrameVerdict::OtherFamily;
    if (verdict == FrameVerdict::OtherFamily) {
        f = FrameLayout();
        verdict = ParseFrame(linkType, packet.data, capLen, f);
    }
    // The payload is the bytes that end where the IP packet ends (never Ethernet padding).
    const auto len = static_cast<uint32_t>(packet.payloadLen);
    if (verdict != FrameVerdict::Kept || len > f.ipEnd - f.transport)
        return {};
    return {packet.data + f.ipEnd - len, len};
}

void SetFrameBlockPrefault(void (*prefault)(void*, size_t)) {
    g_frameArena.SetPrefault(prefault);
}

size_t StoreIndexBytes() {
    // A packet also has its place in its connection's list; a connection its slot in the lookup (at most
    // half full).
    return g_packetTable.size() * (sizeof(PacketRecord) + sizeof(uint32_t)) +
           g_connectionTable.size() * (sizeof(ConnectionRecord) + 4 * sizeof(uint32_t));
}

size_t StoreReservedBytes() {
    return g_packetTable.ReservedBytes() + g_connectionTable.ReservedBytes() + g_frameArena.ReservedBytes() +
           g_indexArena.ReservedBytes() + g_connectionIndex.ReservedBytes() +
           g_connectionIndex6.ReservedBytes() + g_ipv6Endpoints.ReservedBytes();
}
