// The wider intake, an option that is off by default: IPv6 (with the extension headers that can be skipped
// safely), one or two 802.1Q/802.1ad tags before IPv4 or IPv6, and Linux cooked captures (link types 113 and
// 276). Plain Ethernet IPv4 frames never come here: PacketHandler keeps them as it always did.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <span>

struct PacketRecord;

// Link-layer types (libpcap's numbers) the intake reads.
inline constexpr int kLinkEthernet = 1;
inline constexpr int kLinkLinuxCooked = 113;
inline constexpr int kLinkLinuxCooked2 = 276;

inline constexpr int kMaxVlanTags = 2;
// More than any sensible chain holds (each header at most once, destination options twice); a longer
// chain is dropped rather than walked.
inline constexpr int kMaxExtensionHeaders = 8;

enum class WideVerdict {
    Kept,         // TCP or UDP, every header inside the captured bytes
    OtherFamily,  // neither IPv4 nor IPv6 (ARP, an unknown cooked protocol, a third tag): "Not kept"
    Short,        // the IP packet or its header chain runs past the captured bytes: counted as short
    Dropped,      // anything else (another transport, a malformed header), dropped without a word
};

struct WideExtension {
    uint8_t type;  // its own protocol number: 0 hop-by-hop, 43 routing, 44 fragment, 60 destination options
    uint32_t offset;  // in the frame
    uint32_t length;
};

// Where the parts of a frame lie (offsets from its first byte). Filled as far as the parse got, so that a
// decode of a short or odd frame can still show its first headers.
struct WideFrame {
    uint32_t linkHeader = 0;  // length of the Ethernet or cooked header, tags not included
    int tagCount = 0;
    uint32_t tags[kMaxVlanTags] = {};  // offset of each tag's control field (the type before it is the TPID)
    uint16_t etherType = 0;            // the type after the last tag
    int family = 0;                    // 4 or 6 once the IP header is found
    uint32_t ip = 0;                   // offset of the IP header
    uint32_t ipEnd = 0;                // offset just after the IP packet
    int extensionCount = 0;
    WideExtension extensions[kMaxExtensionHeaders] = {};
    int protocol = 0;            // 6 TCP or 17 UDP; 0 in a later IPv6 fragment (its first fragment tells)
    uint32_t transport = 0;      // the transport header; in a later fragment, its first data byte
    bool laterFragment = false;  // a fragment after the first: no transport header
    bool firstFragment = false;  // the first of several fragments
    uint32_t fragmentId = 0;     // IPv4 identification or IPv6 fragment identification
    uint16_t srcPort = 0, dstPort = 0;  // not in a later fragment
    int32_t payloadLen = 0;
};

// The Ethernet types only the wider intake reads: IPv6 and the tags.
constexpr bool IsWideEtherType(uint16_t type) {
    return type == 0x86DD || type == 0x8100 || type == 0x88A8 || type == 0x9100;
}

// Parses a frame of the given link type. Never reads outside the `capLen` bytes.
WideVerdict ParseWideFrame(int linkType, const uint8_t* bytes, uint32_t capLen, WideFrame& out) noexcept;

// The wider intake of one frame: kept frames are stored and joined to their connections as PacketHandler
// does; the verdict says what happened to the others (and the counters follow it).
void WideIntake(int linkType, const struct pcap_pkthdr* header, const u_char* bytes) noexcept;

// Packet callbacks for the two Linux cooked link types.
void LinuxCookedPacketHandler(u_char* user, const struct pcap_pkthdr* header, const u_char* bytes) noexcept;
void LinuxCooked2PacketHandler(u_char* user, const struct pcap_pkthdr* header, const u_char* bytes) noexcept;

// The callback that reads frames of `linkType`: `ethernetHandler` for Ethernet; with the wider intake on, the
// cooked handlers for 113 and 276 when `ethernetHandler` is PacketHandler. nullptr: frames of that type
// cannot be read.
pcap_handler IntakeHandlerFor(int linkType, pcap_handler ethernetHandler);

// The detail of the message that refuses a file, stream or adapter of `linkType`.
const char* ReadableLinkTypesText();

// The payload of a stored frame that is not plain Ethernet IPv4 (the store's link type applies).
std::span<const uint8_t> WidePacketPayload(const PacketRecord& packet);

// Forgets the IPv6 fragments seen so far (part of clearing the store).
void ClearIpv6FragmentIndex();
