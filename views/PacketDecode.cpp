#include "views/PacketDecode.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <utility>

#include "capture/Format.h"

namespace {

[[gnu::format(printf, 1, 2)]] std::string Printf(const char* format, ...) {
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

constexpr int kEthernet = 14;

}  // namespace

std::vector<DecodeLine> DecodePacket(const uint8_t* bytes, size_t length) {
    TreeBuilder t(bytes, length);
    const int root = t.Add(-1, TreeImage::Packet, {}, Printf("Packet: %zu bytes", length));
    if (length < kEthernet)
        return t.Take();

    const int eth = t.Add(root, TreeImage::Header, {0, kEthernet}, "Ethernet Header");
    t.Add(eth, TreeImage::Field, {0, 6}, Printf("Dst Mac Address: %s", MacToText(t.At(0)).c_str()));
    t.Add(eth, TreeImage::Field, {6, 6}, Printf("Src Mac Address: %s", MacToText(t.At(6)).c_str()));
    const uint16_t type = t.U16(12);
    t.Add(eth, TreeImage::Field, {12, 2}, Printf("Type: %d", type));
    t.Expand(root);
    t.Expand(eth);
    if (type != 0x0800 || length < 19)
        return t.Take();

    // The header length decides where the transport header starts; a bogus one (below 5 words) is taken
    // as the minimum.
    const int headerWords = t.U8(14) & 0x0F;
    const int ipLength = (headerWords < 5 ? 5 : headerWords) * 4;
    const int ipEnd = kEthernet + ipLength;
    // A header longer than the frame (options cut off) stands for the bytes that are there.
    const int ipShown = std::min(ipLength, static_cast<int>(length) - kEthernet);
    const int ip = t.Add(root, TreeImage::Header, {kEthernet, ipShown}, "IP Header");
    t.Expand(ip);
    // Short frames show the fields that they hold.
    struct IpField {
        int offset, width;
        const char* format;
    };
    t.Add(ip, TreeImage::Field, {14, 1}, Printf("Header Length: %d", headerWords));
    t.Add(ip, TreeImage::Field, {14, 1}, Printf("Version: %d", t.U8(14) >> 4));
    const IpField numbers[] = {{15, 1, "Service Type: %d"}, {16, 2, "Total length: %d"},
                               {18, 2, "Identifier: %d"},   {20, 2, "Offset: %d"},
                               {22, 1, "TTL: %d"},          {23, 1, "Protocol: %d"},
                               {24, 2, "Check Sum: %d"}};
    for (const IpField& f : numbers)
        if (t.Fits(f.offset, f.width))
            t.Add(ip, TreeImage::Field, {f.offset, f.width},
                  Printf(f.format, f.width == 1 ? t.U8(f.offset) : t.U16(f.offset)));
    if (t.Fits(26, 4))
        t.Add(ip, TreeImage::Field, {26, 4}, Printf("Src IP: %s", IpToText(t.At(26)).c_str()));
    if (t.Fits(30, 4))
        t.Add(ip, TreeImage::Field, {30, 4}, Printf("Dst IP: %s", IpToText(t.At(30)).c_str()));
    if (!t.Fits(23, 1))
        return t.Take();

    // A fragment after the first carries no transport header: its first bytes are data, not ports.
    if ((t.U16(20) & 0x1FFF) != 0)
        return t.Take();

    const int protocol = t.U8(23);
    const int l4 = ipEnd;
    if (protocol == 6) {
        if (!t.Fits(l4, 20))
            return t.Take();
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
    } else if (protocol == 17) {
        if (!t.Fits(l4, 8))
            return t.Take();
        const int udp = t.Add(root, TreeImage::Header, {l4, 8}, "UDP Header");
        t.Add(udp, TreeImage::Field, {l4, 2}, Printf("Src Port: %d", t.U16(l4)));
        t.Add(udp, TreeImage::Field, {l4 + 2, 2}, Printf("Dst Port: %d", t.U16(l4 + 2)));
        t.Add(udp, TreeImage::Field, {l4 + 4, 2}, Printf("Length: %d", t.U16(l4 + 4)));
        t.Add(udp, TreeImage::Field, {l4 + 6, 2}, Printf("Check Sum: %d", t.U16(l4 + 6)));
        t.Expand(udp);
        t.SetRange(root, {0, l4 + 8});
    } else {
        // Neither TCP nor UDP: the tree starts folded.
        t.CollapseAll();
    }
    return t.Take();
}

std::string DecodeAsText(const std::vector<DecodeLine>& lines) {
    // Lines are stored parent first, but a parent's later children may follow another child's own children
    // (the flag bits come after the last TCP field): the text follows the tree, depth first, as it is shown.
    std::vector<std::vector<size_t>> children(lines.size());
    std::vector<size_t> roots;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int parent = lines[i].parent;
        if (parent >= 0 && static_cast<size_t>(parent) < i)
            children[static_cast<size_t>(parent)].push_back(i);
        else
            roots.push_back(i);
    }
    std::string out;
    std::vector<std::pair<size_t, size_t>> stack;  // line, depth
    for (auto root = roots.rbegin(); root != roots.rend(); ++root)
        stack.emplace_back(*root, 0);
    while (!stack.empty()) {
        const auto [i, depth] = stack.back();
        stack.pop_back();
        const DecodeLine& l = lines[i];
        out.append(depth * 2, ' ');
        out += l.text;
        out += '\t';
        if (l.range.empty()) {
            out += "[]";
        } else {
            out += '[';
            out += std::to_string(l.range.offset);
            out += ',';
            out += std::to_string(l.range.length);
            out += ']';
        }
        out += '\n';
        for (auto child = children[i].rbegin(); child != children[i].rend(); ++child)
            stack.emplace_back(*child, depth + 1);
    }
    return out;
}
