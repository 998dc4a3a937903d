#include "capture/WideIntake.h"

#include <cstring>
#include <unordered_map>

#include "capture/Format.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "frontend/FrontEnd.h"

namespace {

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

void WideIntake(int linkType, const struct pcap_pkthdr* header, const u_char* bytes) noexcept {
    const uint32_t capLen = header->caplen;
    FrameLayout f;
    const IntakeStep step = TriageFrame(ParseFrame(linkType, bytes, capLen, f), f, header);
    if (step == IntakeStep::OtherFamily)
        CountNotKept();
    if (step != IntakeStep::Keep)
        return;
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
    const int h =
        ipv6 ? FindOrAddConnectionIpv6(protocol == kProtocolTcp, dstIp, srcIp, dstPort, srcPort, index)
             : FindOrAddConnection(protocol == kProtocolTcp, dstIp, srcIp, dstPort, srcPort, index);
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

void ClearIpv6FragmentIndex() {
    std::unordered_map<Ipv6FragmentKey, Ipv6FirstFragment, Ipv6FragmentKeyHash>().swap(g_ipv6Fragments);
}
