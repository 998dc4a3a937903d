#include "capture/PacketIntake.h"

#include <cstring>
#include <unordered_map>

#include "capture/Format.h"
#include "capture/FrameLayout.h"
#include "capture/PacketStore.h"
#include "capture/WideIntake.h"
#include "config/CaptureConfig.h"
#include "frontend/FrontEnd.h"

namespace {

// Fragments after the first carry no transport header. They join the connection of the first fragment of
// their datagram, found by source, destination, protocol and identification.
struct FragmentKey {
    uint8_t src[4], dst[4];
    uint8_t protocol;
    uint16_t id;
    bool operator==(const FragmentKey& o) const {
        return std::memcmp(src, o.src, 4) == 0 && std::memcmp(dst, o.dst, 4) == 0 && protocol == o.protocol &&
               id == o.id;
    }
};
struct FragmentKeyHash {
    size_t operator()(const FragmentKey& k) const {
        uint64_t a, b;
        std::memcpy(&a, k.src, 4);
        std::memcpy(reinterpret_cast<uint8_t*>(&a) + 4, k.dst, 4);
        b = (uint64_t{k.protocol} << 16) | k.id;
        return std::hash<uint64_t>()(a * 0x9E3779B97F4A7C15ull ^ b);
    }
};
struct FirstFragmentPorts {
    uint16_t srcPort, dstPort;
};
// Datagrams whose later fragments never came would otherwise pile up for a whole capture.
constexpr size_t kMaxOpenDatagrams = 65536;
std::unordered_map<FragmentKey, FirstFragmentPorts, FragmentKeyHash> g_fragments;

FragmentKey MakeFragmentKey(const u_char* ip) {
    FragmentKey k{};
    std::memcpy(k.src, ip + 12, 4);
    std::memcpy(k.dst, ip + 16, 4);
    k.protocol = ip[9];
    k.id = ReadBE16(ip + 4);
    return k;
}

void RememberFirstFragment(const FragmentKey& key, uint16_t srcPort, uint16_t dstPort) {
    if (g_fragments.size() >= kMaxOpenDatagrams)
        g_fragments.clear();
    try {
        g_fragments[key] = {srcPort, dstPort};
    } catch (const std::bad_alloc&) {
        // The later fragments are then dropped like frames of an unknown datagram.
    }
}

}  // namespace

void ClearFragmentIndex() {
    std::unordered_map<FragmentKey, FirstFragmentPorts, FragmentKeyHash>().swap(g_fragments);
    ClearIpv6FragmentIndex();
}

bool FindFirstFragmentPorts(const u_char* ip, uint16_t& srcPort, uint16_t& dstPort) {
    auto it = g_fragments.find(MakeFragmentKey(ip));
    if (it == g_fragments.end())
        return false;
    srcPort = it->second.srcPort;
    dstPort = it->second.dstPort;
    return true;
}

void RememberFirstFragmentPorts(const u_char* ip, uint16_t srcPort, uint16_t dstPort) {
    RememberFirstFragment(MakeFragmentKey(ip), srcPort, dstPort);
}

namespace {

struct DispatchContext {
    pcap_t* pcap;
    pcap_handler handler;
    u_char* user;
};

// A packet the library hands over after the user's Stop arrived before that Stop and is kept; after a stop
// of the store's own (full, limit, no memory) nothing more is stored.
void StopAwareHandler(u_char* context, const struct pcap_pkthdr* header, const u_char* bytes) {
    auto* c = reinterpret_cast<DispatchContext*>(context);
    if (g_storeStop.load(std::memory_order_relaxed) == STORE_STOP_NONE)
        c->handler(c->user, header, bytes);
    if (g_captureState.load(std::memory_order_relaxed) != CAPTURE_RUNNING)
        pcap_breakloop(c->pcap);
}

}  // namespace

int DispatchPackets(pcap_t* pcap, int count, pcap_handler handler, u_char* user) {
    DispatchContext context{pcap, handler, user};
    return pcap_dispatch(pcap, count, StopAwareHandler, reinterpret_cast<u_char*>(&context));
}

// noexcept: the capture library is C, and nothing may unwind through it. Nothing here throws unless the
// store's own invariants break, and then ending the program is the honest outcome.
void PacketHandler(u_char* /*live flag: live and file packets alike keep the library's timestamp*/,
                   const struct pcap_pkthdr* header, const u_char* bytes) noexcept {
    const uint32_t capLen = header->caplen;
    // A frame this short is not even counted, whatever it carries.
    if (capLen <= 34)
        return;
    FrameLayout f;
    switch (TriageFrame(ParseEthernetIpv4(bytes, capLen, f), f, header)) {
        case IntakeStep::Keep:
            break;
        case IntakeStep::OtherFamily:
            // Off the IPv4 path: what the wider intake would keep is only counted while it is off.
            if (g_config.wideIntake != 0)
                WideIntake(kLinkEthernet, header, bytes);
            else
                g_notKeptCount.fetch_add(1, std::memory_order_relaxed);
            return;
        case IntakeStep::Skip:
            return;
    }
    const u_char* ip = bytes + f.ip;
    const u_char* srcIp = ip + 12;
    const u_char* dstIp = ip + 16;
    uint16_t srcPort = f.srcPort, dstPort = f.dstPort;
    if (f.laterFragment) {
        auto it = g_fragments.find(MakeFragmentKey(ip));
        if (it == g_fragments.end())
            return;
        srcPort = it->second.srcPort;
        dstPort = it->second.dstPort;
    }

    if (g_skipFilter.load(std::memory_order_relaxed) == 0 &&
        g_config.MatchPacket(srcIp, dstIp, srcPort, dstPort) == 0)
        return;

    const PacketTimestamp stamp{header->ts.tv_sec, static_cast<int32_t>(header->ts.tv_usec)};
    size_t index;
    if (!StorePacket(stamp, bytes, static_cast<int>(capLen), f.payloadLen, &index))
        return;
    const int h = FindOrAddConnection(f.protocol == kProtocolTcp, dstIp, srcIp, dstPort, srcPort, index);
    if (h < 0)
        return;
    if (f.firstFragment)
        RememberFirstFragment(MakeFragmentKey(ip), srcPort, dstPort);
}
