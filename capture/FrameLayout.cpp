#include "capture/FrameLayout.h"

namespace {

bool IsTagType(uint16_t type) {
    return type == 0x8100 || type == 0x88A8 || type == 0x9100;
}

bool IsOptionsHeader(uint8_t type) {
    return type == 0 || type == 43 || type == 60;
}

// The transport header at `pos`, inside the IP packet that ends at `f.ipEnd`.
FrameVerdict ReadTransport(const uint8_t* bytes, uint32_t pos, FrameLayout& f) {
    f.transport = pos;
    uint32_t transportHeader = 8;
    if (f.protocol == kProtocolTcp) {
        if (f.ipEnd < pos + 20)
            return FrameVerdict::Dropped;
        transportHeader = (bytes[pos + 12] >> 4) * 4u;
        if (transportHeader < 20)
            return FrameVerdict::Dropped;
    }
    if (f.ipEnd < pos + transportHeader)
        return FrameVerdict::Dropped;
    f.srcPort = ReadBE16(bytes + pos);
    f.dstPort = ReadBE16(bytes + pos + 2);
    f.payload = pos + transportHeader;
    f.payloadLen = static_cast<int32_t>(f.ipEnd - f.payload);
    return FrameVerdict::Kept;
}

FrameVerdict ParseIpv6(const uint8_t* bytes, uint32_t capLen, FrameLayout& f) {
    const uint32_t at = f.ip;
    if (capLen < at + 40)
        return FrameVerdict::Short;
    const uint8_t* ip = bytes + at;
    if ((ip[0] >> 4) != 6)
        return FrameVerdict::Dropped;
    // A jumbogram (payload length 0, its length in a hop-by-hop option) is IPv6 the intake cannot follow.
    if (ReadBE16(ip + 4) == 0 && ip[6] == 0)
        return FrameVerdict::OtherFamily;
    f.ipHeader = 40;
    const uint32_t payloadLength = ReadBE16(ip + 4);
    f.ipEnd = at + 40 + payloadLength;
    // As for IPv4: offload's packets above 64 KiB carry a payload length of 0 and no jumbo option.
    if (payloadLength == 0 && capLen - at - 40 > 0xFFFFu) {
        f.ipEnd = capLen;
        f.lengthFromFrame = true;
    }
    if (f.ipEnd > capLen)
        return FrameVerdict::Short;
    uint8_t next = ip[6];
    uint32_t pos = at + 40;
    while (next != kProtocolTcp && next != kProtocolUdp) {
        const bool options = IsOptionsHeader(next);
        if (!options && next != 44)
            return FrameVerdict::Dropped;  // ESP, AH, ICMPv6, no next header, ...
        if (f.extensionCount == kMaxExtensionHeaders)
            return FrameVerdict::OtherFamily;  // more than it follows: counted, not silently dropped
        // Every header this walk skips is at least 8 bytes long; its length byte is the second.
        if (pos + 8 > capLen)
            return FrameVerdict::Short;
        if (pos + 8 > f.ipEnd)
            return FrameVerdict::Dropped;
        const uint32_t length = options ? (bytes[pos + 1] + 1u) * 8u : 8u;
        if (pos + length > capLen)
            return FrameVerdict::Short;
        if (pos + length > f.ipEnd)
            return FrameVerdict::Dropped;
        f.extensions[f.extensionCount++] = {next, pos, length};
        const uint8_t following = bytes[pos];
        if (next == 44) {
            const uint16_t offsetField = ReadBE16(bytes + pos + 2);
            f.fragmentId = ReadBE32(bytes + pos + 4);
            if ((offsetField >> 3) != 0) {
                // A later fragment: its data begins here, and only its first fragment knows the ports.
                f.laterFragment = true;
                f.hasProtocol = true;
                f.transport = f.payload = pos + length;
                f.payloadLen = static_cast<int32_t>(f.ipEnd - f.transport);
                return FrameVerdict::Kept;
            }
            f.firstFragment = (offsetField & 1) != 0;
        }
        next = following;
        pos += length;
    }
    f.protocol = next;
    f.hasProtocol = true;
    return ReadTransport(bytes, pos, f);
}

}  // namespace

FrameVerdict ParseFrame(int linkType, const uint8_t* bytes, uint32_t capLen, FrameLayout& f) noexcept {
    uint16_t type;
    if (linkType == kLinkEthernet) {
        if (capLen < 14)
            return FrameVerdict::Dropped;
        f.linkHeader = 14;
        type = ReadBE16(bytes + 12);
    } else if (linkType == kLinkLinuxCooked) {
        if (capLen < 16)
            return FrameVerdict::Dropped;
        f.linkHeader = 16;
        type = ReadBE16(bytes + 14);
    } else if (linkType == kLinkLinuxCooked2) {
        if (capLen < 20)
            return FrameVerdict::Dropped;
        f.linkHeader = 20;
        type = ReadBE16(bytes);
    } else {
        return FrameVerdict::OtherFamily;
    }
    uint32_t at = f.linkHeader;
    while (IsTagType(type)) {
        if (f.tagCount == kMaxVlanTags)
            return FrameVerdict::OtherFamily;
        if (capLen < at + 4)
            return FrameVerdict::Dropped;  // a tag cut off at the end of the frame
        f.tags[f.tagCount++] = at;
        type = ReadBE16(bytes + at + 2);
        at += 4;
    }
    f.etherType = type;
    f.ip = at;
    if (type == kEtherTypeIpv4) {
        f.family = 4;
        return frame_layout::ParseIpv4(bytes, capLen, f);
    }
    if (type == kEtherTypeIpv6) {
        f.family = 6;
        return ParseIpv6(bytes, capLen, f);
    }
    return FrameVerdict::OtherFamily;
}
