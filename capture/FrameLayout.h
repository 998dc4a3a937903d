// Where the parts of a captured frame lie: the link header, its VLAN tags, the IP header and its IPv6
// extension headers, the transport header and the payload, and why a frame is not kept. The one reader of
// frame headers: the intake, the store's payloads, the stream reassembly and the decode all go through it.
// A pure function of the bytes and their captured length that never reads past them.
#pragma once

#include <cstdint>

#include "capture/Format.h"

// Link-layer types (libpcap's numbers) the intake reads.
inline constexpr int kLinkEthernet = 1;
inline constexpr int kLinkLinuxCooked = 113;
inline constexpr int kLinkLinuxCooked2 = 276;

inline constexpr uint16_t kEtherTypeIpv4 = 0x0800;
inline constexpr uint16_t kEtherTypeIpv6 = 0x86DD;
inline constexpr int kProtocolTcp = 6;
inline constexpr int kProtocolUdp = 17;

inline constexpr int kMaxVlanTags = 2;
// More than any sensible chain holds (each header at most once, destination options twice); a longer
// chain is dropped rather than walked.
inline constexpr int kMaxExtensionHeaders = 8;

enum class FrameVerdict {
    Kept,         // TCP or UDP, every header inside the captured bytes
    OtherFamily,  // neither IPv4 nor IPv6 (ARP, an unknown link or cooked protocol, a third tag), or IPv6
                  // the intake cannot follow (a jumbogram, more than kMaxExtensionHeaders): "Not kept"
    Short,        // the IP packet or its header chain runs past the captured bytes: counted as short
    Dropped,      // anything else (a cut link header, another transport, a malformed header): no word
};

struct FrameExtension {
    uint8_t type;  // its own protocol number: 0 hop-by-hop, 43 routing, 44 fragment, 60 destination options
    uint32_t offset;  // in the frame
    uint32_t length;
};

// Offsets from the frame's first byte. Filled as far as the parse got, whatever the verdict, so that a
// decode of a short or odd frame can still show its first headers. The arrays hold `tagCount` and
// `extensionCount` entries; the rest is left as it was.
struct FrameLayout {
    uint32_t linkHeader = 0;  // length of the Ethernet or cooked header, tags not included
    int tagCount = 0;
    uint32_t tags[kMaxVlanTags];  // offset of each tag's control field (the type before it is the TPID)
    uint16_t etherType = 0;       // the type after the last tag
    int family = 0;               // 4 or 6 once the IP header is found
    uint32_t ip = 0;              // the IP header
    uint32_t ipHeader = 0;        // its length: IPv4's header length field as read (once the frame holds it)
    uint32_t ipEnd = 0;           // just after the IP packet (kept frames)
    int extensionCount = 0;
    FrameExtension extensions[kMaxExtensionHeaders];
    int protocol = 0;            // the transport; 0 in a later IPv6 fragment (its first fragment tells)
    bool hasProtocol = false;    // `protocol` and the fragment flags were read
    uint32_t transport = 0;      // the transport header; in a later fragment, its first data byte
    bool laterFragment = false;  // a fragment after the first: no transport header
    bool firstFragment = false;  // the first of several fragments
    uint32_t fragmentId = 0;     // IPv4 identification or IPv6 fragment identification
    uint16_t srcPort = 0, dstPort = 0;  // not in a later fragment
    int32_t payloadLen = 0;             // kept frames: the payload is the bytes just before `ipEnd`
    // The IP length field read 0 in a frame longer than it can say: the packet runs to the end of the
    // captured bytes. The intake checks that nothing was cut from such a frame.
    bool lengthFromFrame = false;
    uint32_t payload = 0;  // ... from here
};

namespace frame_layout {

// The IPv4 packet at `f.ip`. Inlined into the intake's path, where the layout then lives in registers.
[[gnu::always_inline]] inline FrameVerdict ParseIpv4(const uint8_t* bytes, uint32_t capLen,
                                                     FrameLayout& f) noexcept {
    const uint32_t at = f.ip;
    if (capLen <= at)
        return FrameVerdict::Dropped;
    const uint8_t* ip = bytes + at;
    f.ipHeader = (ip[0] & 0x0Fu) * 4u;
    // Where a decode shows the transport header: a bogus header length counts as the minimum.
    f.transport = at + (f.ipHeader < 20 ? 20 : f.ipHeader);
    if (capLen < at + 10)
        return FrameVerdict::Dropped;
    f.protocol = ip[9];
    const uint16_t fragment = ReadBE16(ip + 6);
    f.laterFragment = (fragment & 0x1FFF) != 0;
    f.firstFragment = !f.laterFragment && (fragment & 0x2000) != 0;
    f.hasProtocol = true;
    // A frame that ends inside the fixed header is no IPv4 packet worth a count.
    if (capLen <= at + 20)
        return FrameVerdict::Dropped;
    uint32_t total = ReadBE16(ip + 2);
    // Segmentation offload (BIG TCP) hands over packets above 64 KiB with a total length of 0.
    if (total == 0 && capLen - at > 0xFFFFu) {
        total = capLen - at;
        f.lengthFromFrame = true;
    }
    if (total + at > capLen)
        return FrameVerdict::Short;
    f.ipEnd = at + total;
    if (f.protocol != kProtocolTcp && f.protocol != kProtocolUdp)
        return FrameVerdict::Dropped;
    const uint32_t ipHeader = f.ipHeader;
    if (ipHeader < 20 || ipHeader > total)
        return FrameVerdict::Dropped;
    f.fragmentId = ReadBE16(ip + 4);
    // From here on everything read lies inside the IP packet, and so inside the captured bytes.
    if (f.laterFragment) {
        f.payloadLen = static_cast<int32_t>(total - ipHeader);
        f.payload = f.transport;
        return FrameVerdict::Kept;
    }
    uint32_t transportHeader = 8;
    if (f.protocol == kProtocolTcp) {
        if (total < ipHeader + 20)
            return FrameVerdict::Dropped;
        transportHeader = (bytes[f.transport + 12] >> 4) * 4u;
        if (transportHeader < 20)
            return FrameVerdict::Dropped;
    }
    if (total < ipHeader + transportHeader)
        return FrameVerdict::Dropped;
    f.srcPort = ReadBE16(bytes + f.transport);
    f.dstPort = ReadBE16(bytes + f.transport + 2);
    f.payloadLen = static_cast<int32_t>(total - ipHeader - transportHeader);
    f.payload = f.transport + transportHeader;
    return FrameVerdict::Kept;
}

}  // namespace frame_layout

// The intake's own path: an Ethernet frame, read only when it carries IPv4 (OtherFamily otherwise, tags
// and IPv6 included). For such frames it gives what ParseFrame gives.
[[gnu::always_inline]] inline FrameVerdict ParseEthernetIpv4(const uint8_t* bytes, uint32_t capLen,
                                                             FrameLayout& f) noexcept {
    if (capLen < 14)
        return FrameVerdict::Dropped;
    f.linkHeader = 14;
    f.etherType = ReadBE16(bytes + 12);
    if (f.etherType != kEtherTypeIpv4)
        return FrameVerdict::OtherFamily;
    f.family = 4;
    f.ip = 14;
    return frame_layout::ParseIpv4(bytes, capLen, f);
}

// Parses a frame of the link type `linkType` (Ethernet, Linux cooked v1 or v2; any other is OtherFamily),
// with up to two VLAN tags and IPv4 or IPv6. Never reads outside the `capLen` bytes.
FrameVerdict ParseFrame(int linkType, const uint8_t* bytes, uint32_t capLen, FrameLayout& out) noexcept;
