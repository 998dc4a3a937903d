#include "capture/Format.h"

#include <algorithm>
#include <charconv>

namespace {

template <size_t N>
class TextBuilder {
public:
    explicit TextBuilder(FixedText<N>& out) : m_out(out) {}
    ~TextBuilder() {
        m_out.text[m_len] = '\0';
        m_out.length = static_cast<uint8_t>(m_len);
    }
    TextBuilder& Put(char c) {
        if (m_len + 1 < N)
            m_out.text[m_len++] = c;
        return *this;
    }
    TextBuilder& Put(std::string_view s) {
        for (char c : s)
            Put(c);
        return *this;
    }
    TextBuilder& Num(uint64_t v) {
        char tmp[24];
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        return Put(std::string_view(tmp, static_cast<size_t>(r.ptr - tmp)));
    }
    TextBuilder& Signed(int64_t v) {
        char tmp[24];
        auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
        return Put(std::string_view(tmp, static_cast<size_t>(r.ptr - tmp)));
    }
    // Zero-padded to `width` digits.
    TextBuilder& Padded(unsigned v, int width) {
        char tmp[8];
        for (int i = width - 1; i >= 0; --i, v /= 10)
            tmp[i] = static_cast<char>('0' + v % 10);
        return Put(std::string_view(tmp, static_cast<size_t>(width)));
    }
    TextBuilder& Hex2(uint8_t v) {
        static constexpr char kDigits[] = "0123456789abcdef";
        return Put(kDigits[v >> 4]).Put(kDigits[v & 15]);
    }

private:
    FixedText<N>& m_out;
    size_t m_len = 0;
};

struct ServiceEntry {
    uint16_t portA, portB;  // portB 0: one port only
    const char* label;
};

// First match wins, so a pair that hits two entries gets the earlier one.
constexpr ServiceEntry kTcpServices[] = {
    {20, 0, "TCP:ftp-data"}, {21, 0, "TCP:ftp"},    {23, 0, "TCP:telnet"},   {25, 0, "TCP:smtp"},
    {42, 53, "TCP:Domain"},  {43, 0, "TCP:whois"},  {80, 0, "TCP:http"},     {110, 0, "TCP:pop3"},
    {119, 0, "TCP:nntp"},    {443, 0, "TCP:https"}, {995, 0, "TCP:pop3ssl"},
};
constexpr ServiceEntry kUdpServices[] = {
    {42, 53, "UDP:Domain"}, {137, 0, "UDP:netbios"}, {161, 0, "UDP:snmp"}, {162, 0, "UDP:snmp-trap"}};

template <size_t K>
const char* LookUp(const ServiceEntry (&table)[K], uint16_t a, uint16_t b, const char* fallback) {
    for (const ServiceEntry& e : table) {
        auto hits = [&](uint16_t p) { return p == e.portA || (e.portB != 0 && p == e.portB); };
        if (hits(a) || hits(b))
            return e.label;
    }
    return fallback;
}

}  // namespace

const char* const kConnectionColumnTitles[kConnectionColumns] = {
    "#", "Start Time", "Client (IP:Port)", "Server (IP:Port)", "Protocol", "Packets", "Last Time"};
const char* const kPacketColumnTitles[kPacketColumns] = {"Time Offset", "Packet Len", "Data Len", "Data"};

ShortText IpToText(const uint8_t* ip) {
    ShortText t;
    TextBuilder(t).Num(ip[0]).Put('.').Num(ip[1]).Put('.').Num(ip[2]).Put('.').Num(ip[3]);
    return t;
}

ShortText MacToText(const uint8_t* mac) {
    ShortText t;
    TextBuilder b(t);
    for (int i = 0; i < 6; ++i) {
        if (i)
            b.Put('.');
        b.Hex2(mac[i]);
    }
    return t;
}

ShortText TimeToText(const SystemTime& time) {
    // Always the 24-hour clock with two-digit fields, whatever the locale prefers.
    ShortText t;
    TextBuilder(t)
        .Padded(time.wHour, 2)
        .Put(':')
        .Padded(time.wMinute, 2)
        .Put(':')
        .Padded(time.wSecond, 2)
        .Put('.')
        .Padded(time.wMilliseconds % 1000, 3);
    return t;
}

ShortText EndpointText(const uint8_t* ip, uint16_t port) {
    ShortText t = IpToText(ip);
    ShortText out;
    TextBuilder(out).Put(t.view()).Put(':').Num(port);
    return out;
}

CellText ZeroCompressedIpv6Text(const uint8_t* ip) {
    // inet_ntop's own rules (RFC 5952): lower-case words without leading zeros, the longest run of two or
    // more zero words (the first of equal ones) as "::", and the IPv4-compatible and IPv4-mapped forms with
    // a dotted tail. Written out here because the C library formats through printf, which made listing
    // many IPv6 connections markedly slower than IPv4 ones.
    uint16_t words[8];
    for (int i = 0; i < 8; ++i)
        words[i] = static_cast<uint16_t>((ip[2 * i] << 8) | ip[2 * i + 1]);
    int best = -1, bestLength = 0;
    for (int i = 0; i < 8;) {
        if (words[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && words[j] == 0)
            ++j;
        if (j - i > bestLength) {
            best = i;
            bestLength = j - i;
        }
        i = j;
    }
    if (bestLength < 2)
        best = -1;
    CellText t;
    TextBuilder b(t);
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 8; ++i) {
        if (best >= 0 && i >= best && i < best + bestLength) {
            if (i == best)
                b.Put(':');
            continue;
        }
        if (i != 0)
            b.Put(':');
        if (i == 6 && best == 0 && (bestLength == 6 || (bestLength == 5 && words[5] == 0xFFFF))) {
            b.Num(ip[12]).Put('.').Num(ip[13]).Put('.').Num(ip[14]).Put('.').Num(ip[15]);
            return t;
        }
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const int digit = (words[i] >> shift) & 15;
            if (digit != 0 || started || shift == 0) {
                b.Put(kDigits[digit]);
                started = true;
            }
        }
    }
    if (best >= 0 && best + bestLength == 8)
        b.Put(':');
    return t;
}

CellText Ipv6EndpointText(const uint8_t* ip, uint16_t port) {
    CellText out;
    TextBuilder(out).Put('[').Put(ZeroCompressedIpv6Text(ip).view()).Put("]:").Num(port);
    return out;
}

CellText AddressText(const Endpoint& endpoint) {
    if (endpoint.IsIpv6())
        return ZeroCompressedIpv6Text(endpoint.AddressBytes());
    CellText out;
    TextBuilder(out).Put(IpToText(endpoint.AddressBytes()).view());
    return out;
}

CellText EndpointText(const Endpoint& endpoint) {
    if (endpoint.IsIpv6())
        return Ipv6EndpointText(endpoint.AddressBytes(), endpoint.Port());
    CellText out;
    TextBuilder(out).Put(EndpointText(endpoint.AddressBytes(), endpoint.Port()).view());
    return out;
}

ShortText ServiceLabel(const ConnectionRecord& c) {
    return ServiceLabel(c.ClientPort(), c.ServerPort(), c.isTcp ? 6 : 17);
}

ShortText ServiceLabel(uint16_t portA, uint16_t portB, int protocol) {
    const char* label = "";
    if (protocol == 6)
        label = LookUp(kTcpServices, portA, portB, "TCP");
    else if (protocol == 17)
        label = LookUp(kUdpServices, portA, portB, "UDP");
    ShortText t;
    TextBuilder(t).Put(label);
    return t;
}

namespace {

CellText Cell(const ShortText& s) {
    CellText t;
    TextBuilder(t).Put(s.view());
    return t;
}

}  // namespace

CellText ConnectionCellText(size_t connection, int column) {
    const ConnectionRecord& c = g_connectionTable.at(connection);
    CellText t;
    switch (column) {
        case 0:
            TextBuilder(t).Num(connection);
            return t;
        case 1:
            return Cell(TimeToText(c.startTime()));
        case 2:
            return EndpointText(c.Client());
        case 3:
            return EndpointText(c.Server());
        case 4:
            return Cell(ServiceLabel(c));
        case 5:
            TextBuilder(t).Num(c.packetIndices.size());
            return t;
        case 6:
            return Cell(TimeToText(c.lastTime()));
        default:
            throw std::out_of_range("connection column out of range");
    }
}

std::string PayloadPreview(const PacketRecord& packet) {
    std::span<const uint8_t> payload = PacketPayload(packet);
    size_t n = std::min(payload.size(), kPayloadPreviewBytes);
    std::string text(reinterpret_cast<const char*>(payload.data()), n);
    bool cut = payload.size() > kPayloadPreviewBytes;
    if (size_t nul = text.find('\0'); nul != std::string::npos) {
        // The cell is a C string in the list: a NUL byte ends it, and the dots after it with it.
        text.resize(nul);
        cut = false;
    }
    if (cut)
        text += "...";
    return text;
}

std::string PacketCellText(const PacketRecord& packet, int column) {
    ShortText t;
    switch (column) {
        case 0:
            return TimeToText(packet.time()).str();
        case 1:
            TextBuilder(t).Signed(packet.capLen);
            return t.str();
        case 2:
            TextBuilder(t).Signed(packet.payloadLen);
            return t.str();
        case 3:
            return PayloadPreview(packet);
        default:
            throw std::out_of_range("packet column out of range");
    }
}
