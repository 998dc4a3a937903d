// The memory of a capture: the packet table, the connection table, the counters and the capture state.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "capture/AppendOnly.h"
#include "capture/Endpoint.h"
#include "capture/SystemTime.h"

// The capture library's own timestamp of a frame (packed so that a packet record stays at 32 bytes).
struct PacketTimestamp {
    int64_t sec = 0;
    int32_t usec = 0;
} __attribute__((packed));

// One stored packet. Kept small: it is paid for every packet of a capture.
struct PacketRecord {
    PacketTimestamp stamp;  // the capture library's own timestamp; a saved file round-trips it exactly
    int32_t capLen = 0;
    int32_t payloadLen = 0;
    // 1 client to server, 0 server to client. Set right after the packet is stored, while readers may
    // already see the record, hence atomic.
    std::atomic<int32_t> toServer{0};
    // capLen bytes, Ethernet header first: owned by the store, or in the file opened in place (FrameFile.h),
    // where FrameBytesPresent says whether they are still there.
    const uint8_t* data = nullptr;

    PacketRecord() = default;
    PacketRecord(const PacketTimestamp& s, int32_t cap, int32_t payload, const uint8_t* d)
        : stamp(s), capLen(cap), payloadLen(payload), data(d) {}

    // Local wall-clock time of the packet, derived from its timestamp.
    SystemTime time() const { return LocalTimeFromStamp(stamp.sec, stamp.usec); }
};

// The two addresses of an IPv6 conversation, in the wire's byte order.
struct Ipv6Endpoints {
    uint8_t server[16];
    uint8_t client[16];
};

// A conversation of one client endpoint with one server endpoint over TCP or UDP. Everything but
// `packetIndices` is fixed when the record is created. Its times are those of its first and latest packets,
// read from the store (so they always agree with the count, and cost no memory of their own). The ends are
// read through Client() and Server() only: how they are kept is the store's own business.
class ConnectionRecord {
public:
    uint8_t isTcp = 0;

private:
    // 1: an IPv6 conversation. Its addresses live in g_ipv6Endpoints at the connection's own index (kept in
    // `m_serverIp`), so that the records of an IPv4 capture stay small.
    uint8_t m_ipv6 = 0;
    uint16_t m_unused = 0;
    uint8_t m_serverIp[4] = {};
    uint8_t m_clientIp[4] = {};
    uint16_t m_serverPort = 0;
    uint16_t m_clientPort = 0;

public:
    AppendOnlyIndexList packetIndices;  // packet-table indices in arrival order

    ConnectionRecord(int tcp, const uint8_t* dstIp, const uint8_t* srcIp, uint16_t dstPort, uint16_t srcPort,
                     uint32_t firstPacket);
    // An IPv6 conversation whose addresses are element `endpoints` of g_ipv6Endpoints.
    ConnectionRecord(int tcp, uint32_t endpoints, uint16_t dstPort, uint16_t srcPort, uint32_t firstPacket);

    bool IsIpv6() const { return m_ipv6 != 0; }
    Endpoint Client() const;
    Endpoint Server() const;
    // The ports alone, without fetching an IPv6 conversation's addresses.
    uint16_t ClientPort() const { return m_clientPort; }
    uint16_t ServerPort() const { return m_serverPort; }

    // For the store's lookup: 1 when a packet from `src` to `dst` goes from this record's client to its
    // server, 0 the other way, -1 when it is not of this conversation. Each for its own family.
    int Direction(int tcp, const uint8_t* srcIp, uint16_t srcPort, const uint8_t* dstIp,
                  uint16_t dstPort) const {
        // Only IPv4 records are in the IPv4 lookup, so the family needs no test here.
        if ((isTcp != 0) != (tcp != 0))
            return -1;
        if (std::memcmp(m_serverIp, dstIp, 4) == 0 && std::memcmp(m_clientIp, srcIp, 4) == 0 &&
            m_serverPort == dstPort && m_clientPort == srcPort)
            return 1;
        if (std::memcmp(m_serverIp, srcIp, 4) == 0 && std::memcmp(m_clientIp, dstIp, 4) == 0 &&
            m_serverPort == srcPort && m_clientPort == dstPort)
            return 0;
        return -1;
    }
    inline int DirectionIpv6(int tcp, const uint8_t* srcIp, uint16_t srcPort, const uint8_t* dstIp,
                             uint16_t dstPort) const;

    SystemTime startTime() const;
    SystemTime lastTime() const;

private:
    const Ipv6Endpoints& Ipv6Addresses() const;
    static bool Same16(const uint8_t* a, const uint8_t* b) {
        uint64_t a0, a1, b0, b1;
        std::memcpy(&a0, a, 8);
        std::memcpy(&a1, a + 8, 8);
        std::memcpy(&b0, b, 8);
        std::memcpy(&b1, b + 8, 8);
        return ((a0 ^ b0) | (a1 ^ b1)) == 0;
    }
};

enum CaptureState : int32_t { CAPTURE_IDLE = 0, CAPTURE_RUNNING = 1, CAPTURE_STOPPING = 2 };

using PacketTable = SegmentedTable<PacketRecord, 12>;
using ConnectionTable = SegmentedTable<ConnectionRecord, 10>;
using Ipv6EndpointTable = SegmentedTable<Ipv6Endpoints, 10>;

// Written by the thread that feeds packets (the capture thread, or the interface thread while a file is
// read); read by the interface thread at any time below their counts.
extern PacketTable g_packetTable;
extern ConnectionTable g_connectionTable;
extern Ipv6EndpointTable g_ipv6Endpoints;

inline const Ipv6Endpoints& ConnectionRecord::Ipv6Addresses() const {
    uint32_t endpoints;
    std::memcpy(&endpoints, m_serverIp, 4);
    return g_ipv6Endpoints[endpoints];
}

inline int ConnectionRecord::DirectionIpv6(int tcp, const uint8_t* srcIp, uint16_t srcPort,
                                           const uint8_t* dstIp, uint16_t dstPort) const {
    if ((isTcp != 0) != (tcp != 0) || !m_ipv6)
        return -1;
    const Ipv6Endpoints& e = Ipv6Addresses();
    if (m_serverPort == dstPort && m_clientPort == srcPort && Same16(e.server, dstIp) &&
        Same16(e.client, srcIp))
        return 1;
    if (m_serverPort == srcPort && m_clientPort == dstPort && Same16(e.server, srcIp) &&
        Same16(e.client, dstIp))
        return 0;
    return -1;
}

inline Endpoint ConnectionRecord::Client() const {
    return m_ipv6 ? Endpoint::Ipv6(Ipv6Addresses().client, m_clientPort)
                  : Endpoint::Ipv4(m_clientIp, m_clientPort);
}

inline Endpoint ConnectionRecord::Server() const {
    return m_ipv6 ? Endpoint::Ipv6(Ipv6Addresses().server, m_serverPort)
                  : Endpoint::Ipv4(m_serverIp, m_serverPort);
}

// The bytes of the frames copied into the store and how full they make the buffer; frames of a file opened
// in place count for neither.
extern std::atomic<int64_t> g_storedBytes;
extern std::atomic<int32_t> g_bufferPercent;
extern std::atomic<int32_t> g_unsavedPackets;
extern std::atomic<int32_t> g_skipFilter;
extern std::atomic<int32_t> g_shortPacketCount;
extern std::atomic<int32_t> g_captureState;
// Frames dropped because their family or link is not one the intake keeps (ARP, and IPv6 or tagged frames
// while the wider intake is off); shown as "Not kept: %d".
extern std::atomic<int32_t> g_notKeptCount;
// The link-layer type (libpcap's number) of every stored frame: Ethernet (1) unless the wider intake read a
// Linux cooked capture. Saving writes it as the file's link type.
extern std::atomic<int32_t> g_storeLinkType;
// Goes up each time the store is emptied: a reader that keeps figures about the stored packets (counts
// per time bin) starts over when it changes.
extern std::atomic<uint64_t> g_storeGeneration;
// The connections whose packet counts grew since the interface last took them (new connections are not
// marked: a reader sees them through the table's count). One word, the first in the high half and the last
// in the low half, so that taking the range is one exchange and no mark is lost between two reads.
extern std::atomic<uint64_t> g_grownConnections;
constexpr uint64_t kNoGrownConnections = uint64_t{UINT32_MAX} << 32;  // first > last: none
// When not 0, the store keeps at most this many packets and then asks the capture to stop.
extern std::atomic<size_t> g_packetLimit;

// Why the store asked the capture to stop (the first reason counts). Packets handed over after such a stop
// are not stored; after the user's Stop they still are. Cleared when a capture or a file load starts.
enum StoreStop : int32_t {
    STORE_STOP_NONE = 0,
    STORE_STOP_BUFFER_FULL,
    STORE_STOP_LIMIT,
    STORE_STOP_NO_MEMORY
};
extern std::atomic<int32_t> g_storeStop;

// Copies the frame into the store. 1 stored (index written to *index), 0 not stored (memory ran out or a
// limit was reached; the capture is asked to stop). Requests a stop once the stored bytes pass the configured
// buffer size, unless the rules are skipped.
int StorePacket(const PacketTimestamp& stamp, const uint8_t* data, int capLen, int payloadLen, size_t* index);

// The index of the packet's connection, created when no connection matches in either direction (the
// sender of its first packet is the client). Sets the packet's `toServer`. -1 when memory ran out.
int FindOrAddConnection(int isTcp, const uint8_t* dstIp, const uint8_t* srcIp, uint16_t dstPort,
                        uint16_t srcPort, size_t packetIndex);

// Hints for a reader that sees frames before it hands them on (a file): fetches into the cache what
// FindOrAddConnection will read for the Ethernet IPv4 TCP or UDP `frame`, its index slot, and returns the
// lookup's key (0: no such frame); some frames later, once the slot is there, PrefetchConnectionRecord
// fetches the record the slot names. Reads nothing outside the `capLen` bytes; a frame the rules will drop
// costs a wasted fetch at most.
uint64_t PrefetchConnectionSlot(const uint8_t* frame, uint32_t capLen);
void PrefetchConnectionRecord(uint64_t key);

// FindOrAddConnection for an IPv6 packet (16-byte addresses). A connection never mixes the two families.
int FindOrAddConnectionIpv6(int isTcp, const uint8_t* dstIp, const uint8_t* srcIp, uint16_t dstPort,
                            uint16_t srcPort, size_t packetIndex);

// Releases every packet and connection. Only while no capture thread runs.
void ClearPacketStore();

// ClearPacketStore, then every counter and flag back to 0.
void ResetCaptureStore();

// Marks a connection whose cells changed other than by packets (its owners were learned), so that the
// lists take it up as one that grew. Any thread.
void MarkConnectionChanged(uint32_t connection);

// Takes the range of connections marked in g_grownConnections since the last call: *first > *last when
// none. For the one reader on the interface thread.
void TakeGrownConnections(uint32_t* first, uint32_t* last);

// The payload bytes of a stored packet: the `payloadLen` bytes that end where its IP packet ends, as the
// frame's layout (FrameLayout.h, of the store's link type) places it. Empty when the frame is no longer in
// the file it was opened from.
std::span<const uint8_t> PacketPayload(const PacketRecord& packet);

// While set, the store makes its next frame block ahead of use and passes it to `prefault` (a file load
// faults its pages in on another thread). Writer thread only; nullptr ends it.
void SetFrameBlockPrefault(void (*prefault)(void*, size_t));

// Bytes the store has reserved for records, indices and frames (for the memory benchmarks).
size_t StoreReservedBytes();

// The memory the packet and connection records take, near enough for the status bar: figured from the
// counts, which may grow on the capture thread meanwhile.
size_t StoreIndexBytes();
