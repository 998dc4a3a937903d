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
#include "capture/FrameLayout.h"
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

// The "IP Header" line of the IPv4 header that `f` places (the frame holds its first 5 bytes) and its fields
// (those that the frame holds), expanded.
inline void AddIpv4Lines(TreeBuilder& t, int root, const FrameLayout& f) {
    const int at = static_cast<int>(f.ip);
    // The header's length places the transport header (a bogus one, below 20 bytes, counts as 20).
    const int ipLength = static_cast<int>(f.transport - f.ip);
    // A header longer than the frame (options cut off) stands for the bytes that are there.
    const int ipShown = std::min(ipLength, t.Length() - at);
    const int ip = t.Add(root, TreeImage::Header, {at, ipShown}, "IP Header");
    t.Expand(ip);
    // Short frames show the fields that they hold.
    struct IpField {
        int offset, width;
        const char* format;
    };
    t.Add(ip, TreeImage::Field, {at, 1}, Printf("Header Length: %d", static_cast<int>(f.ipHeader / 4)));
    t.Add(ip, TreeImage::Field, {at, 1}, Printf("Version: %d", t.U8(at) >> 4));
    const IpField numbers[] = {{1, 1, "Service Type: %d"}, {2, 2, "Total length: %d"},
                               {4, 2, "Identifier: %d"},   {6, 2, "Offset: %d"},
                               {8, 1, "TTL: %d"},          {9, 1, "Protocol: %d"},
                               {10, 2, "Check Sum: %d"}};
    for (const IpField& field : numbers)
        if (t.Fits(at + field.offset, field.width))
            t.Add(
                ip, TreeImage::Field, {at + field.offset, field.width},
                Printf(field.format, field.width == 1 ? t.U8(at + field.offset) : t.U16(at + field.offset)));
    if (t.Fits(at + 12, 4))
        t.Add(ip, TreeImage::Field, {at + 12, 4}, Printf("Src IP: %s", IpToText(t.At(at + 12)).c_str()));
    if (t.Fits(at + 16, 4))
        t.Add(ip, TreeImage::Field, {at + 16, 4}, Printf("Dst IP: %s", IpToText(t.At(at + 16)).c_str()));
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

// The IPv4 header that `f` places and the transport header after it, when the frame holds them. A fragment
// after the first carries no transport header: its first bytes are data, not ports. A transport other than
// TCP or UDP leaves the tree folded.
inline void AddIpv4Packet(TreeBuilder& t, int root, const FrameLayout& f) {
    if (f.family != 4 || !t.Fits(static_cast<int>(f.ip), 5))
        return;
    AddIpv4Lines(t, root, f);
    if (f.hasProtocol && !f.laterFragment &&
        AddTransportLines(t, root, f.protocol, static_cast<int>(f.transport)) == Transport::Other)
        t.CollapseAll();
}

}  // namespace decode
