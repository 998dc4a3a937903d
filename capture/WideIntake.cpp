#include "capture/WideIntake.h"

#include <cstring>
#include <unordered_map>

#include "capture/Format.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "frontend/FrontEnd.h"

namespace {

constexpr uint16_t kTypeIpv4 = 0x0800;
constexpr uint16_t kTypeIpv6 = 0x86DD;
constexpr int kTcp = 6;
constexpr int kUdp = 17;

bool IsTagType(uint16_t type) {
    return IsWideEtherType(type) && type != kTypeIpv6;
}

WideVerdict ParseIpv4(const uint8_t* bytes, uint32_t capLen, WideFrame& f) {
    const uint32_t at = f.ip;
    // As PacketHandler: a frame that ends inside the fixed header is no IPv4 packet worth a count.
    if (capLen <= at + 20)
        return WideVerdict::Dropped;
    const uint8_t* ip = bytes + at;
    const uint32_t total = ReadBE16(ip + 2);
    if (total + at > capLen)
        return WideVerdict::Short;
    f.ipEnd = at + total;
    f.protocol = ip[9];
    if (f.protocol != kTcp && f.protocol != kUdp)
        return WideVerdict::Dropped;
    const uint32_t ipHeader = (ip[0] & 0x0F) * 4u;
    if (ipHeader < 20 || ipHeader > total)
        return WideVerdict::Dropped;
    const uint16_t fragment = ReadBE16(ip + 6);
    f.fragmentId = ReadBE16(ip + 4);
    f.laterFragment = (fragment & 0x1FFF) != 0;
    f.firstFragment = !f.laterFragment && (fragment & 0x2000) != 0;
    f.transport = at + ipHeader;
    if (f.laterFragment) {
        f.payloadLen = static_cast<int32_t>(total - ipHeader);
        return WideVerdict::Kept;
    }
    uint32_t transportHeader = 8;
    if (f.protocol == kTcp) {
        if (total < ipHeader + 20)
            return WideVerdict::Dropped;
        transportHeader = (bytes[f.transport + 12] >> 4) * 4u;
        if (transportHeader < 20)
            return WideVerdict::Dropped;
    }
    if (total < ipHeader + transportHeader)
        return WideVerdict::Dropped;
    f.srcPort = ReadBE16(bytes + f.transport);
    f.dstPort = ReadBE16(bytes + f.transport + 2);
    f.payloadLen = static_cast<int32_t>(total - ipHeader - transportHeader);
    return WideVerdict::Kept;
}

WideVerdict ParseIpv6(const uint8_t* bytes, uint32_t capLen, WideFrame& f) {
    const uint32_t at = f.ip;
    if (capLen < at + 40)
        return WideVerdict::Short;
    const uint8_t* ip = bytes + at;
    if ((ip[0] >> 4) != 6)
        return WideVerdict::Dropped;
    f.ipEnd = at + 40 + ReadBE16(ip + 4);
    if (f.ipEnd > capLen)
        return WideVerdict::Short;
    uint8_t next = ip[6];
    uint32_t pos = at + 40;
    for (;;) {
        if (next == kTcp || next == kUdp)
            break;
        const bool options = next == 0 || next == 43 || next == 60;
        if (!options && next != 44)
            return WideVerdict::Dropped;  // ESP, AH, ICMPv6, no next header, ...
        if (f.extensionCount == kMaxExtensionHeaders)
            return WideVerdict::Dropped;
        // Every header this walk skips is at least 8 bytes long; its length byte is the second.
        if (pos + 8 > capLen)
            return WideVerdict::Short;
        if (pos + 8 > f.ipEnd)
            return WideVerdict::Dropped;
        const uint32_t length = options ? (bytes[pos + 1] + 1u) * 8u : 8u;
        if (pos + length > capLen)
            return WideVerdict::Short;
        if (pos + length > f.ipEnd)
            return WideVerdict::Dropped;
        f.extensions[f.extensionCount++] = {next, pos, length};
        const uint8_t following = bytes[pos];
        if (next == 44) {
            const uint16_t offsetField = ReadBE16(bytes + pos + 2);
            f.fragmentId = ReadBE32(bytes + pos + 4);
            if ((offsetField >> 3) != 0) {
                // A later fragment: its data begins here, and only its first fragment knows the ports.
                f.laterFragment = true;
                f.transport = pos + length;
                f.payloadLen = static_cast<int32_t>(f.ipEnd - f.transport);
                return WideVerdict::Kept;
            }
            f.firstFragment = (offsetField & 1) != 0;
        }
        next = following;
        pos += length;
    }
    f.protocol = next;
    f.transport = pos;
    uint32_t transportHeader = 8;
    if (f.protocol == kTcp) {
        if (f.ipEnd < pos + 20)
            return WideVerdict::Dropped;
        transportHeader = (bytes[pos + 12] >> 4) * 4u;
        if (transportHeader < 20)
            return WideVerdict::Dropped;
    }
    if (f.ipEnd < pos + transportHeader)
        return WideVerdict::Dropped;
    f.srcPort = ReadBE16(bytes + pos);
    f.dstPort = ReadBE16(bytes + pos + 2);
    f.payloadLen = static_cast<int32_t>(f.ipEnd - pos - transportHeader);
    return WideVerdict::Kept;
}

// IPv6 fragments after the first join the connection of their first fragment, found by source,
// destination and identification, as IPv4 fragments do.
struct Ipv6FragmentKey {
    uint8_t src[16], dst[16];
    uint32_t id;
    bool operator==(const Ipv6FragmentKey& o) const {
        return std::memcmp(src, o.src, 16) == 0 && std::memcmp(dst, o.dst, 16) == 0 && id == o.id;
    }
};
struct Ipv6FragmentKeyHash {
    size_t operator()(const Ipv6FragmentKey& k) const {
        uint64_t h = k.id * 0x9E3779B97F4A7C15ull;
        for (int i = 0; i < 16; i += 8) {
            uint64_t a, b;
            std::memcpy(&a, k.src + i, 8);
            std::memcpy(&b, k.dst + i, 8);
            h = (h ^ a) * 0xBF58476D1CE4E5B9ull;
            h = (h ^ b) * 0x94D049BB133111EBull;
        }
        return static_cast<size_t>(h ^ (h >> 31));
    }
};
struct Ipv6FirstFragment {
    uint16_t srcPort, dstPort;
    uint8_t protocol;
};
constexpr size_t kMaxOpenDatagrams = 65536;
std::unordered_map<Ipv6FragmentKey, Ipv6FirstFragment, Ipv6FragmentKeyHash> g_ipv6Fragments;

Ipv6FragmentKey MakeIpv6FragmentKey(const uint8_t* ip, uint32_t id) {
    Ipv6FragmentKey k;
    std::memcpy(k.src, ip + 8, 16);
    std::memcpy(k.dst, ip + 24, 16);
    k.id = id;
    return k;
}

void RememberIpv6FirstFragment(const Ipv6FragmentKey& key, const Ipv6FirstFragment& first) {
    if (g_ipv6Fragments.size() >= kMaxOpenDatagrams)
        g_ipv6Fragments.clear();
    try {
        g_ipv6Fragments[key] = first;
    } catch (const std::bad_alloc&) {
        // The later fragments are then dropped like frames of an unknown datagram.
    }
}

void CountNotKept() {
    g_notKeptCount.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

WideVerdict ParseWideFrame(int linkType, const uint8_t* bytes, uint32_t capLen, WideFrame& f) noexcept {
    uint16_t type;
    if (linkType == kLinkEthernet) {
        if (capLen < 14)
            return WideVerdict::Dropped;
        f.linkHeader = 14;
        type = ReadBE16(bytes + 12);
    } else if (linkType == kLinkLinuxCooked) {
        if (capLen < 16)
            return WideVerdict::Dropped;
        f.linkHeader = 16;
        type = ReadBE16(bytes + 14);
    } else if (linkType == kLinkLinuxCooked2) {
        if (capLen < 20)
            return WideVerdict::Dropped;
        f.linkHeader = 20;
        type = ReadBE16(bytes);
    } else {
        return WideVerdict::OtherFamily;
    }
    uint32_t at = f.linkHeader;
    while (IsTagType(type)) {
        if (f.tagCount == kMaxVlanTags)
            return WideVerdict::OtherFamily;
        if (capLen < at + 4)
            return WideVerdict::Dropped;  // a tag cut off at the end of the frame
        f.tags[f.tagCount++] = at;
        type = ReadBE16(bytes + at + 2);
        at += 4;
    }
    f.etherType = type;
    f.ip = at;
    if (type == kTypeIpv4) {
        f.family = 4;
        return ParseIpv4(bytes, capLen, f);
    }
    if (type == kTypeIpv6) {
        f.family = 6;
        return ParseIpv6(bytes, capLen, f);
    }
    return WideVerdict::OtherFamily;
}

void WideIntake(int linkType, const struct pcap_pkthdr* header, const u_char* bytes) noexcept {
    const uint32_t capLen = header->caplen;
    WideFrame f;
    switch (ParseWideFrame(linkType, bytes, capLen, f)) {
        case WideVerdict::Kept:
            break;
        case WideVerdict::OtherFamily:
            CountNotKept();
            return;
        case WideVerdict::Short:
            g_shortPacketCount.fetch_add(1, std::memory_order_relaxed);
            return;
        case WideVerdict::Dropped:
            return;
    }
    const u_char* ip = bytes + f.ip;
    const bool ipv6 = f.family == 6;
    const u_char* srcIp = ipv6 ? ip + 8 : ip + 12;
    const u_char* dstIp = ipv6 ? ip + 24 : ip + 16;
    int protocol = f.protocol;
    uint16_t srcPort = f.srcPort, dstPort = f.dstPort;
    if (f.laterFragment) {
        if (!ipv6) {
            if (!FindFirstFragmentPorts(ip, srcPort, dstPort))
                return;
        } else {
            auto it = g_ipv6Fragments.find(MakeIpv6FragmentKey(ip, f.fragmentId));
            if (it == g_ipv6Fragments.end())
                return;
            srcPort = it->second.srcPort;
            dstPort = it->second.dstPort;
            protocol = it->second.protocol;
        }
    }

    if (g_skipFilter.load(std::memory_order_relaxed) == 0) {
        // A rule that names an IPv4 address never matches an IPv6 packet.
        const int32_t keep = ipv6 ? g_config.MatchPacketIpv6(srcPort, dstPort)
                                  : g_config.MatchPacket(srcIp, dstIp, srcPort, dstPort);
        if (keep == 0)
            return;
    }

    const PacketTimestamp stamp{header->ts.tv_sec, static_cast<int32_t>(header->ts.tv_usec)};
    size_t index;
    if (!StorePacket(stamp, bytes, static_cast<int>(capLen), f.payloadLen, &index))
        return;
    const int h = ipv6 ? FindOrAddConnectionIpv6(protocol == kTcp, dstIp, srcIp, dstPort, srcPort, index)
                       : FindOrAddConnection(protocol == kTcp, dstIp, srcIp, dstPort, srcPort, index);
    if (h < 0)
        return;
    if (f.firstFragment) {
        if (ipv6)
            RememberIpv6FirstFragment(MakeIpv6FragmentKey(ip, f.fragmentId),
                                      {srcPort, dstPort, static_cast<uint8_t>(protocol)});
        else
            RememberFirstFragmentPorts(ip, srcPort, dstPort);
    }
}

void LinuxCookedPacketHandler(u_char*, const struct pcap_pkthdr* header, const u_char* bytes) noexcept {
    WideIntake(kLinkLinuxCooked, header, bytes);
}

void LinuxCooked2PacketHandler(u_char*, const struct pcap_pkthdr* header, const u_char* bytes) noexcept {
    WideIntake(kLinkLinuxCooked2, header, bytes);
}

pcap_handler IntakeHandlerFor(int linkType, pcap_handler ethernetHandler) {
    if (linkType == kLinkEthernet)
        return ethernetHandler;
    if (g_config.wideIntake == 0 || ethernetHandler != &PacketHandler)
        return nullptr;
    if (linkType == kLinkLinuxCooked)
        return &LinuxCookedPacketHandler;
    if (linkType == kLinkLinuxCooked2)
        return &LinuxCooked2PacketHandler;
    return nullptr;
}

const char* ReadableLinkTypesText() {
    return g_config.wideIntake != 0 ? "only Ethernet (1) and Linux cooked captures (113, 276) can be read."
                                    : "only Ethernet (1) can be read.";
}

std::span<const uint8_t> WidePacketPayload(const PacketRecord& packet) {
    WideFrame f;
    if (packet.payloadLen <= 0 ||
        ParseWideFrame(g_storeLinkType.load(std::memory_order_relaxed), packet.data,
                       static_cast<uint32_t>(packet.capLen), f) != WideVerdict::Kept)
        return {};
    const auto len = static_cast<uint32_t>(packet.payloadLen);
    if (len > f.ipEnd - f.ip)
        return {};
    return {packet.data + f.ipEnd - len, len};
}

void ClearIpv6FragmentIndex() {
    std::unordered_map<Ipv6FragmentKey, Ipv6FirstFragment, Ipv6FragmentKeyHash>().swap(g_ipv6Fragments);
}
