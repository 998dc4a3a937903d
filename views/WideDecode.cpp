#include "views/WideDecode.h"

#include <algorithm>
#include <string>

#include "capture/FrameLayout.h"
#include "capture/PacketStore.h"
#include "views/DecodeBuilder.h"

namespace {

using decode::Printf;
using decode::TreeBuilder;

// A link-layer address of up to 8 bytes as dotted hex, as MacToText writes hardware addresses.
std::string LinkAddressText(const uint8_t* p, int length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < std::clamp(length, 0, 8); ++i) {
        if (i)
            out += '.';
        out += kDigits[p[i] >> 4];
        out += kDigits[p[i] & 15];
    }
    return out;
}

std::string Ipv6Text(const uint8_t* p) {
    return ZeroCompressedIpv6Text(p).str();
}

// The Ethernet or Linux cooked header; false when the frame does not hold it whole (the layout found none).
bool AddLinkLines(TreeBuilder& t, int root, int linkType, const FrameLayout& f) {
    if (f.linkHeader == 0)
        return false;
    if (linkType == kLinkEthernet) {
        const int eth = t.Add(root, TreeImage::Header, {0, 14}, "Ethernet Header");
        t.Add(eth, TreeImage::Field, {0, 6}, Printf("Dst Mac Address: %s", MacToText(t.At(0)).c_str()));
        t.Add(eth, TreeImage::Field, {6, 6}, Printf("Src Mac Address: %s", MacToText(t.At(6)).c_str()));
        t.Add(eth, TreeImage::Field, {12, 2}, Printf("Type: %d", t.U16(12)));
        t.Expand(eth);
        return true;
    }
    if (linkType == kLinkLinuxCooked) {
        const int sll = t.Add(root, TreeImage::Header, {0, 16}, "Linux Cooked Header");
        t.Add(sll, TreeImage::Field, {0, 2}, Printf("Packet Type: %d", t.U16(0)));
        t.Add(sll, TreeImage::Field, {2, 2}, Printf("Link-Layer Address Type: %d", t.U16(2)));
        t.Add(sll, TreeImage::Field, {4, 2}, Printf("Link-Layer Address Length: %d", t.U16(4)));
        t.Add(sll, TreeImage::Field, {6, 8},
              Printf("Source Address: %s", LinkAddressText(t.At(6), t.U16(4)).c_str()));
        t.Add(sll, TreeImage::Field, {14, 2}, Printf("Protocol: %d", t.U16(14)));
        t.Expand(sll);
        return true;
    }
    if (linkType == kLinkLinuxCooked2) {
        const int sll = t.Add(root, TreeImage::Header, {0, 20}, "Linux Cooked Header");
        t.Add(sll, TreeImage::Field, {0, 2}, Printf("Protocol: %d", t.U16(0)));
        t.Add(sll, TreeImage::Field, {4, 4}, Printf("Interface Index: %u", t.U32(4)));
        t.Add(sll, TreeImage::Field, {8, 2}, Printf("Link-Layer Address Type: %d", t.U16(8)));
        t.Add(sll, TreeImage::Field, {10, 1}, Printf("Packet Type: %d", t.U8(10)));
        t.Add(sll, TreeImage::Field, {11, 1}, Printf("Link-Layer Address Length: %d", t.U8(11)));
        t.Add(sll, TreeImage::Field, {12, 8},
              Printf("Source Address: %s", LinkAddressText(t.At(12), t.U8(11)).c_str()));
        t.Expand(sll);
        return true;
    }
    return false;
}

void AddVlanTag(TreeBuilder& t, int root, int at) {
    const uint16_t control = t.U16(at);
    const int tag = t.Add(root, TreeImage::Header, {at, 4}, "VLAN Tag");
    t.Add(tag, TreeImage::Field, {at, 2}, Printf("Priority: %d", control >> 13));
    t.Add(tag, TreeImage::Field, {at, 2}, Printf("DEI: %d", (control >> 12) & 1));
    t.Add(tag, TreeImage::Field, {at, 2}, Printf("VLAN ID: %d", control & 0x0FFF));
    t.Add(tag, TreeImage::Field, {at + 2, 2}, Printf("Type: %d", t.U16(at + 2)));
    t.Expand(tag);
}

const char* ExtensionName(uint8_t type) {
    switch (type) {
        case 0:
            return "Hop-by-Hop Options Header";
        case 43:
            return "Routing Header";
        case 44:
            return "Fragment Header";
        default:
            return "Destination Options Header";
    }
}

void AddIpv6Lines(TreeBuilder& t, int root, const FrameLayout& f) {
    const int at = static_cast<int>(f.ip);
    if (!t.Fits(at, 1))
        return;
    const int ip = t.Add(root, TreeImage::Header, {at, std::min(40, t.Length() - at)}, "IPv6 Header");
    t.Expand(ip);
    t.Add(ip, TreeImage::Field, {at, 1}, Printf("Version: %d", t.U8(at) >> 4));
    if (t.Fits(at, 2))
        t.Add(ip, TreeImage::Field, {at, 2}, Printf("Traffic Class: %d", (t.U16(at) >> 4) & 0xFF));
    if (t.Fits(at + 1, 3))
        t.Add(ip, TreeImage::Field, {at + 1, 3}, Printf("Flow Label: %u", t.U32(at) & 0xFFFFF));
    if (t.Fits(at + 4, 2))
        t.Add(ip, TreeImage::Field, {at + 4, 2}, Printf("Payload Length: %d", t.U16(at + 4)));
    if (t.Fits(at + 6, 1))
        t.Add(ip, TreeImage::Field, {at + 6, 1}, Printf("Next Header: %d", t.U8(at + 6)));
    if (t.Fits(at + 7, 1))
        t.Add(ip, TreeImage::Field, {at + 7, 1}, Printf("Hop Limit: %d", t.U8(at + 7)));
    if (t.Fits(at + 8, 16))
        t.Add(ip, TreeImage::Field, {at + 8, 16}, Printf("Src IP: %s", Ipv6Text(t.At(at + 8)).c_str()));
    if (t.Fits(at + 24, 16))
        t.Add(ip, TreeImage::Field, {at + 24, 16}, Printf("Dst IP: %s", Ipv6Text(t.At(at + 24)).c_str()));
    // The parse only lists headers that lie inside the frame.
    for (int i = 0; i < f.extensionCount; ++i) {
        const FrameExtension& e = f.extensions[i];
        const int o = static_cast<int>(e.offset);
        const int x = t.Add(ip, TreeImage::Header, {o, static_cast<int>(e.length)}, ExtensionName(e.type));
        t.Expand(x);
        t.Add(x, TreeImage::Field, {o, 1}, Printf("Next Header: %d", t.U8(o)));
        if (e.type == 44) {
            const uint16_t field = t.U16(o + 2);
            t.Add(x, TreeImage::Field, {o + 2, 2}, Printf("Offset: %d", field >> 3));
            t.Add(x, TreeImage::Field, {o + 3, 1}, Printf("More Fragments: %d", field & 1));
            t.Add(x, TreeImage::Field, {o + 4, 4}, Printf("Identification: %u", t.U32(o + 4)));
            continue;
        }
        t.Add(x, TreeImage::Field, {o + 1, 1}, Printf("Length: %d", t.U8(o + 1)));
        if (e.type == 43) {
            t.Add(x, TreeImage::Field, {o + 2, 1}, Printf("Routing Type: %d", t.U8(o + 2)));
            t.Add(x, TreeImage::Field, {o + 3, 1}, Printf("Segments Left: %d", t.U8(o + 3)));
        }
    }
}

}  // namespace

std::vector<DecodeLine> DecodeFrame(int linkType, const uint8_t* bytes, size_t length) {
    FrameLayout f;
    const FrameVerdict verdict =
        ParseFrame(linkType, bytes, static_cast<uint32_t>(std::min<size_t>(length, UINT32_MAX)), f);
    // Plain Ethernet frames without tags or IPv6 decode exactly as DecodePacket has them.
    if (linkType == kLinkEthernet && f.tagCount == 0 && f.etherType != kEtherTypeIpv6)
        return DecodePacket(bytes, length);

    TreeBuilder t(bytes, length);
    const int root = t.Add(-1, TreeImage::Packet, {}, Printf("Packet: %zu bytes", length));
    t.Expand(root);
    if (!AddLinkLines(t, root, linkType, f))
        return t.Take();
    for (int i = 0; i < f.tagCount; ++i)
        AddVlanTag(t, root, static_cast<int>(f.tags[i]));
    if (f.family == 4) {
        decode::AddIpv4Packet(t, root, f);
    } else if (f.family == 6) {
        AddIpv6Lines(t, root, f);
        if (verdict == FrameVerdict::Kept && !f.laterFragment)
            decode::AddTransportLines(t, root, f.protocol, static_cast<int>(f.transport));
    }
    return t.Take();
}

std::vector<DecodeLine> DecodeStoredFrame(const uint8_t* bytes, size_t length) {
    return DecodeFrame(g_storeLinkType.load(std::memory_order_relaxed), bytes, length);
}
