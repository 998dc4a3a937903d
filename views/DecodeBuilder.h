// The pieces the decoders share: a builder of tree lines that checks every field against the frame, and the
// TCP and UDP lines. Internal to the decoders.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "capture/Format.h"
#include "views/PacketDecode.h"

namespace decode {

[[gnu::format(printf, 1, 2)]] inline std::string Printf(const char* format, ...) {
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

class TreeBuilder {
public:
    TreeBuilder(const uint8_t* bytes, size_t length) : m_bytes(bytes), m_length(length) {}

    int Add(int parent, TreeImage image, ByteRange range, std::string text) {
        m_lines.push_back({std::move(text), image, range, parent, false});
        return static_cast<int>(m_lines.size()) - 1;
    }
    // A field line, only when its bytes are all in the frame.
    bool Fits(int offset, int length) const {
        return offset >= 0 && static_cast<size_t>(offset + length) <= m_length;
    }
    int Length() const { return static_cast<int>(m_length); }
    uint8_t U8(int at) const { return m_bytes[at]; }
    uint16_t U16(int at) const { return ReadBE16(m_bytes + at); }
    uint32_t U32(int at) const { return ReadBE32(m_bytes + at); }
    const uint8_t* At(int at) const { return m_bytes + at; }
    void Expand(int line) { m_lines[static_cast<size_t>(line)].expanded = true; }
    void CollapseAll() {
        for (DecodeLine& l : m_lines)
            l.expanded = false;
    }
    void SetRange(int line, ByteRange r) { m_lines[static_cast<size_t>(line)].range = r; }
    std::vector<DecodeLine> Take() { return std::move(m_lines); }

private:
    const uint8_t* m_bytes;
    size_t m_length;
    std::vector<DecodeLine> m_lines;
};

struct Ipv4Lines {
    int end = 0;             // where the transport header starts (after the real header length)
    bool transport = false;  // a transport header follows (the protocol byte is there, not a later fragment)
    int protocol = 0;
};

// The "IP Header" line of the IPv4 header at `at` and its fields (those that the frame holds), expanded.
inline Ipv4Lines AddIpv4Lines(TreeBuilder& t, int root, int at) {
    // The header length decides where the transport header starts; a bogus one (below 5 words) is taken
    // as the minimum.
    const int headerWords = t.U8(at) & 0x0F;
    const int ipLength = (headerWords < 5 ? 5 : headerWords) * 4;
    Ipv4Lines r;
    r.end = at + ipLength;
    // A header longer than the frame (options cut off) stands for the bytes that are there.
    const int ipShown = std::min(ipLength, t.Length() - at);
    const int ip = t.Add(root, TreeImage::Header, {at, ipShown}, "IP Header");
    t.Expand(ip);
    // Short frames show the fields that they hold.
    struct IpField {
        int offset, width;
        const char* format;
    };
    t.Add(ip, TreeImage::Field, {at, 1}, Printf("Header Length: %d", headerWords));
    t.Add(ip, TreeImage::Field, {at, 1}, Printf("Version: %d", t.U8(at) >> 4));
    const IpField numbers[] = {{1, 1, "Service Type: %d"}, {2, 2, "Total length: %d"},
                               {4, 2, "Identifier: %d"},   {6, 2, "Offset: %d"},
                               {8, 1, "TTL: %d"},          {9, 1, "Protocol: %d"},
                               {10, 2, "Check Sum: %d"}};
    for (const IpField& f : numbers)
        if (t.Fits(at + f.offset, f.width))
            t.Add(ip, TreeImage::Field, {at + f.offset, f.width},
                  Printf(f.format, f.width == 1 ? t.U8(at + f.offset) : t.U16(at + f.offset)));
    if (t.Fits(at + 12, 4))
        t.Add(ip, TreeImage::Field, {at + 12, 4}, Printf("Src IP: %s", IpToText(t.At(at + 12)).c_str()));
    if (t.Fits(at + 16, 4))
        t.Add(ip, TreeImage::Field, {at + 16, 4}, Printf("Dst IP: %s", IpToText(t.At(at + 16)).c_str()));
    if (!t.Fits(at + 9, 1))
        return r;
    r.protocol = t.U8(at + 9);
    // A fragment after the first carries no transport header: its first bytes are data, not ports.
    r.transport = (t.U16(at + 6) & 0x1FFF) == 0;
    return r;
}

enum class Transport { Added, NoRoom, Other };

// The TCP or UDP header at `l4` under `root` (which then stands for the bytes up to its end), expanded.
inline Transport AddTransportLines(TreeBuilder& t, int root, int protocol, int l4) {
    if (protocol == 6) {
        if (!t.Fits(l4, 20))
            return Transport::NoRoom;
        const int tcp = t.Add(root, TreeImage::Header, {l4, 20}, "TCP Header");
        t.Add(tcp, TreeImage::Field, {l4, 2}, Printf("Src Port: %u", t.U16(l4)));
        t.Add(tcp, TreeImage::Field, {l4 + 2, 2}, Printf("Dst Port: %u", t.U16(l4 + 2)));
        t.Add(tcp, TreeImage::Field, {l4 + 4, 4}, Printf("Sequence: %u", t.U32(l4 + 4)));
        t.Add(tcp, TreeImage::Field, {l4 + 8, 4}, Printf("Acknowledgement: %u", t.U32(l4 + 8)));
        t.Add(tcp, TreeImage::Field, {l4 + 12, 1}, Printf("Head Len: %d", t.U8(l4 + 12) >> 4));
        const uint8_t flags = t.U8(l4 + 13);
        const int flag = t.Add(tcp, TreeImage::Field, {l4 + 13, 1}, Printf("Flag: 0x%x", flags));
        t.Add(tcp, TreeImage::Field, {l4 + 14, 2}, Printf("Window: %d", t.U16(l4 + 14)));
        t.Add(tcp, TreeImage::Field, {l4 + 16, 2}, Printf("Check Sum: %d", t.U16(l4 + 16)));
        t.Add(tcp, TreeImage::Field, {l4 + 18, 2}, Printf("Urgent Point: %d", t.U16(l4 + 18)));
        const char* names[] = {"FIN: %d", "SYN: %d", "RST: %d", "PSH: %d", "ACK: %d", "URG: %d"};
        for (int bit = 0; bit < 6; ++bit) {
            const int on = (flags >> bit) & 1;
            t.Add(flag, on ? TreeImage::FlagOn : TreeImage::FlagOff, {}, Printf(names[bit], on));
        }
        t.Expand(tcp);
        t.Expand(flag);
        t.SetRange(root, {0, l4 + 20});
        return Transport::Added;
    }
    if (protocol == 17) {
        if (!t.Fits(l4, 8))
            return Transport::NoRoom;
        const int udp = t.Add(root, TreeImage::Header, {l4, 8}, "UDP Header");
        t.Add(udp, TreeImage::Field, {l4, 2}, Printf("Src Port: %d", t.U16(l4)));
        t.Add(udp, TreeImage::Field, {l4 + 2, 2}, Printf("Dst Port: %d", t.U16(l4 + 2)));
        t.Add(udp, TreeImage::Field, {l4 + 4, 2}, Printf("Length: %d", t.U16(l4 + 4)));
        t.Add(udp, TreeImage::Field, {l4 + 6, 2}, Printf("Check Sum: %d", t.U16(l4 + 6)));
        t.Expand(udp);
        t.SetRange(root, {0, l4 + 8});
        return Transport::Added;
    }
    return Transport::Other;
}

}  // namespace decode
