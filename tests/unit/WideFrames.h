// Builds IPv6, tagged and Linux cooked frames for the wider intake's tests.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <string>
#include <vector>

#include "FrameBuilder.h"
#include "capture/WideIntake.h"

struct Ipv6Spec {
    uint8_t src[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    uint8_t dst[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    uint16_t srcPort = 1234;
    uint16_t dstPort = 80;
    int protocol = 6;
    std::string payload;
    // Extension headers in order: 0, 43, 60 (8 bytes each unless `extensionWords` says more) and 44.
    std::vector<uint8_t> extensions;
    int extensionWords = 0;       // extra 8-byte units of every options/routing header
    uint16_t fragmentOffset = 0;  // in 8-byte units
    bool moreFragments = false;
    uint32_t fragmentId = 7;
    int payloadLengthDelta = 0;  // added to the real payload length field
    int version = 6;
};

inline void Put16(std::vector<uint8_t>& f, uint16_t v) {
    f.push_back(static_cast<uint8_t>(v >> 8));
    f.push_back(static_cast<uint8_t>(v));
}

// The IPv6 packet (no link header). A later fragment (offset not 0) carries the payload bytes only.
inline std::vector<uint8_t> Ipv6Packet(const Ipv6Spec& s) {
    std::vector<uint8_t> body;
    for (size_t i = 0; i < s.extensions.size(); ++i) {
        const uint8_t next =
            i + 1 < s.extensions.size() ? s.extensions[i + 1] : static_cast<uint8_t>(s.protocol);
        body.push_back(next);
        if (s.extensions[i] == 44) {
            body.push_back(0);
            Put16(body, static_cast<uint16_t>((s.fragmentOffset << 3) | (s.moreFragments ? 1 : 0)));
            Put16(body, static_cast<uint16_t>(s.fragmentId >> 16));
            Put16(body, static_cast<uint16_t>(s.fragmentId));
        } else {
            body.push_back(static_cast<uint8_t>(s.extensionWords));
            body.insert(body.end(), 6 + 8 * static_cast<size_t>(s.extensionWords), 0);
            if (s.extensions[i] == 43)
                body[body.size() - 6 - 8 * static_cast<size_t>(s.extensionWords)] = 4;  // routing type
        }
    }
    const bool later = s.fragmentOffset != 0;
    if (!later && (s.protocol == 6 || s.protocol == 17)) {
        Put16(body, s.srcPort);
        Put16(body, s.dstPort);
        if (s.protocol == 6) {
            body.insert(body.end(), 8, 0);
            body.push_back(5 << 4);
            body.push_back(0x18);
            body.insert(body.end(), 6, 0);
        } else {
            Put16(body, static_cast<uint16_t>(8 + s.payload.size()));
            Put16(body, 0);
        }
    }
    body.insert(body.end(), s.payload.begin(), s.payload.end());
    std::vector<uint8_t> p;
    p.push_back(static_cast<uint8_t>(s.version << 4));
    p.push_back(0);
    Put16(p, 0x1234);  // flow label 0x01234
    Put16(p, static_cast<uint16_t>(static_cast<int>(body.size()) + s.payloadLengthDelta));
    p.push_back(s.extensions.empty() ? static_cast<uint8_t>(s.protocol) : s.extensions[0]);
    p.push_back(64);
    p.insert(p.end(), s.src, s.src + 16);
    p.insert(p.end(), s.dst, s.dst + 16);
    p.insert(p.end(), body.begin(), body.end());
    return p;
}

// The IPv4 packet of a FrameSpec (no link header).
inline std::vector<uint8_t> Ipv4Packet(const FrameSpec& s) {
    std::vector<uint8_t> f = BuildFrame(s);
    return {f.begin() + 14, f.end()};
}

struct LinkSpec {
    int linkType = kLinkEthernet;
    std::vector<uint16_t> tags;  // tag control fields; two tags: an 802.1ad tag, then an 802.1Q one
    uint16_t etherType = 0x86DD;
    int padding = 0;
};

// `packet` behind the link header and tags of `l`.
inline std::vector<uint8_t> WrapPacket(const LinkSpec& l, const std::vector<uint8_t>& packet) {
    std::vector<uint8_t> f;
    const uint16_t first = l.tags.empty() ? l.etherType : l.tags.size() >= 2 ? 0x88A8 : 0x8100;
    if (l.linkType == kLinkLinuxCooked) {
        Put16(f, 0);  // to us
        Put16(f, 1);  // ARPHRD_ETHER
        Put16(f, 6);
        for (uint8_t b : {0x02, 0x00, 0x5e, 0x00, 0x01, 0x02, 0x00, 0x00})
            f.push_back(b);
        Put16(f, first);
    } else if (l.linkType == kLinkLinuxCooked2) {
        Put16(f, first);
        Put16(f, 0);
        Put16(f, 0);
        Put16(f, 3);  // interface index 3
        Put16(f, 1);
        f.push_back(4);  // sent by us
        f.push_back(6);
        for (uint8_t b : {0x02, 0x00, 0x5e, 0x00, 0x01, 0x02, 0x00, 0x00})
            f.push_back(b);
    } else {
        f.assign(12, 0);
        f[5] = 2;
        f[11] = 1;
        Put16(f, first);
    }
    for (size_t i = 0; i < l.tags.size(); ++i) {
        Put16(f, l.tags[i]);
        Put16(f, i + 1 < l.tags.size() ? 0x8100 : l.etherType);
    }
    f.insert(f.end(), packet.begin(), packet.end());
    f.insert(f.end(), static_cast<size_t>(l.padding), 0xEE);
    return f;
}

// Hands a frame of `linkType` to the intake as a capture of that type would (capLen -1: all of it).
inline void FeedLinkFrame(int linkType, const std::vector<uint8_t>& frame, int capLen = -1,
                          int64_t sec = 1700000000) {
    pcap_pkthdr h{};
    h.ts.tv_sec = sec;
    h.caplen = static_cast<bpf_u_int32>(capLen < 0 ? static_cast<int>(frame.size()) : capLen);
    h.len = static_cast<bpf_u_int32>(frame.size());
    IntakeHandlerFor(linkType, PacketHandler)(nullptr, &h, frame.data());
}
