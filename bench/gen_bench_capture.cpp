// pacterra-gen-bench-capture [LAYOUT...] OUT.cap [FRAMES] [CONNECTIONS]
// pacterra-gen-bench-capture --stats FILE [N]
//
// Writes a large, deterministic capture for throughput and memory comparisons: FRAMES Ethernet/IPv4 frames
// (default 1 000 000) spread over CONNECTIONS distinct conversations (default 200 000), about 70% TCP and 30%
// UDP, each with traffic in both directions. Conversations are interleaved: every frame belongs to one drawn
// from a pool of a few thousand live ones, so a reader's connection lookups keep hitting many different
// entries. Frame sizes range from 60 to 1514 bytes. Checksums, TCP sequence and acknowledgement numbers and
// flags are correct. Prints "frames N bytes B" (B: captured bytes of all frames) on standard output.
//
// --stats prints the same line for an existing file, counting only its first N frames when N is given.
//
// LAYOUT options reshape every frame (for the wider intake): --ipv6 carries every conversation over IPv6
// (2001:db8::/96 with the IPv4 address as its last 32 bits), --mixed every conversation with an odd client
// port; --ext puts a destination options header before the transport header of one IPv6 conversation in
// four; --vlan N adds N (1 or 2) 802.1Q/802.1ad tags; --link sll or --link sll2 writes Linux cooked frames
// (link types 113, 276) instead of Ethernet.

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int64_t kStartSec = 1773482400;  // 2026-03-14 10:00:00 UTC
constexpr size_t kMinFrame = 60;
constexpr size_t kMss = 1460;
constexpr uint32_t kClientHosts = 16381;
constexpr uint32_t kFirstPort = 32768, kPorts = 28232;  // Linux's ephemeral ports

class Rng {  // splitmix64: same numbers with every standard library
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t Next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(((Next() >> 32) * n) >> 32); }
    uint32_t Range(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }
    bool Chance(unsigned percent) { return Below(100) < percent; }

private:
    uint64_t s_;
};

inline void Put16(uint8_t* p, unsigned v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v >> 16);
    Put16(p + 2, v & 0xFFFF);
}
inline uint32_t Sum16(const uint8_t* p, size_t n, uint32_t acc) {
    for (size_t i = 0; i + 1 < n; i += 2)
        acc += (p[i] << 8) | p[i + 1];
    if (n & 1)
        acc += p[n - 1] << 8;
    return acc;
}
inline uint16_t Fold(uint32_t acc) {
    while (acc >> 16)
        acc = (acc & 0xFFFF) + (acc >> 16);
    return static_cast<uint16_t>(~acc);
}

enum Kind : uint8_t { kTcp, kDns, kQuic, kRtp, kNtp };

struct Conversation {
    uint32_t clientIp, serverIp;
    uint16_t clientPort, serverPort;
    Kind kind;
    uint32_t total;  // frames it will have
    uint32_t sent;   // frames written so far
    uint32_t clientSeq, serverSeq;
    uint16_t clientId, serverId;  // IP identification counters
    uint16_t rtpSize;
};

enum : uint8_t { kFin = 0x01, kSyn = 0x02, kPsh = 0x08, kAck = 0x10 };

struct Layout {
    int ipv6 = 0;  // 0 none, 1 every conversation, 2 those with an odd client port
    bool extensions = false;
    int vlanTags = 0;
    int linkType = DLT_EN10MB;
};

class Writer {
public:
    Writer(uint64_t frames, uint32_t connections, const Layout& layout)
        : frames_(frames), connections_(connections), layout_(layout) {
        for (auto& b : noise_)
            b = static_cast<uint8_t>(rng_.Next() >> 56);
        // Web page text for plain HTTP, so that dissectors see text rather than broken headers.
        static const char* const kWords[] = {"<p>",   "</p>\n",        "garden",
                                             "tea",   "the",           "of",
                                             "and",   "news",          "<a href=\"/en/\">",
                                             "</a>",  "spring",        "opening",
                                             "hours", "<!-- item -->", "shop",
                                             "price", "March",         "2026"};
        size_t at = 0;
        while (at < sizeof text_) {
            const char* w = kWords[rng_.Below(sizeof kWords / sizeof kWords[0])];
            for (; *w && at < sizeof text_; ++w)
                text_[at++] = static_cast<uint8_t>(*w);
            if (at < sizeof text_)
                text_[at++] = ' ';
        }
    }

    bool Run(const char* path) {
        PlanFrameCounts();
        pcap_t* dead = pcap_open_dead(layout_.linkType, 65536);
        FILE* fp = std::fopen(path, "wb");
        if (!dead || !fp) {
            std::perror(path);
            return false;
        }
        std::vector<char> buffer(1 << 20);
        std::setvbuf(fp, buffer.data(), _IOFBF, buffer.size());
        pcap_dumper_t* out = pcap_dump_fopen(dead, fp);
        if (!out) {
            std::fprintf(stderr, "%s: %s\n", path, pcap_geterr(dead));
            return false;
        }

        // A pool of live conversations; a finished one makes room for the next unstarted one.
        const uint32_t poolSize = std::min<uint32_t>(connections_, 4096);
        std::vector<Conversation> pool;
        pool.reserve(poolSize);
        uint32_t started = 0;
        while (started < poolSize)
            pool.push_back(Start(started++));

        uint64_t t = 0;  // microseconds after kStartSec
        while (!pool.empty()) {
            uint32_t slot = rng_.Below(static_cast<uint32_t>(pool.size()));
            Conversation& c = pool[slot];
            size_t n = c.kind == kTcp ? NextTcp(c) : NextUdp(c);
            const uint32_t source = (uint32_t{frame_[26]} << 24) | (uint32_t{frame_[27]} << 16) |
                                    (uint32_t{frame_[28]} << 8) | frame_[29];
            n = Reshape(c, n, source == c.clientIp);
            pcap_pkthdr h{};
            h.ts.tv_sec = static_cast<time_t>(kStartSec + static_cast<int64_t>(t / 1000000));
            h.ts.tv_usec = static_cast<suseconds_t>(t % 1000000);
            h.caplen = h.len = static_cast<bpf_u_int32>(n);
            pcap_dump(reinterpret_cast<u_char*>(out), &h, frame_);
            ++written_;
            bytes_ += n;
            t += rng_.Range(1, 6);
            if (++c.sent == c.total) {
                if (started < connections_) {
                    c = Start(started++);
                } else {
                    c = pool.back();
                    pool.pop_back();
                }
            }
        }
        bool ok = pcap_dump_flush(out) == 0;
        pcap_dump_close(out);  // closes fp
        pcap_close(dead);
        return ok;
    }

    uint64_t Written() const { return written_; }
    uint64_t Bytes() const { return bytes_; }

private:
    // Every conversation gets two frames (one each way) when there are enough; the rest go half to
    // conversations at random and half to one in 64 of them, which become long transfers.
    void PlanFrameCounts() {
        counts_.assign(connections_, frames_ >= 2ull * connections_ ? 2 : 1);
        uint64_t rest = frames_ - static_cast<uint64_t>(counts_[0]) * connections_;
        uint32_t heavy = std::max<uint32_t>(1, connections_ / 64);
        for (uint64_t i = 0; i < rest; ++i) {
            uint32_t c = rng_.Chance(50) ? rng_.Below(connections_) : rng_.Below(heavy) * 64 % connections_;
            ++counts_[c];
        }
    }

    Conversation Start(uint32_t i) {
        Conversation c{};
        // Client address and port together are unique per conversation: for one host, the port is a
        // one-to-one function of i / kClientHosts (7919 and the port range are coprime).
        uint32_t host = i % kClientHosts;
        c.clientIp = 0x0A000100u + host;  // 10.0.1.0 and up
        c.clientPort =
            static_cast<uint16_t>(kFirstPort + ((i / kClientHosts) * 7919ull + host * 31ull) % kPorts);
        uint32_t server = rng_.Below(508);
        c.serverIp =
            (server < 254 ? 0xC6336401u : 0xCB007101u) + server % 254;  // 198.51.100/24, 203.0.113/24
        c.total = counts_[i];
        c.clientSeq = static_cast<uint32_t>(rng_.Next());
        c.serverSeq = static_cast<uint32_t>(rng_.Next());
        c.clientId = static_cast<uint16_t>(rng_.Next());
        c.serverId = static_cast<uint16_t>(rng_.Next());
        unsigned r = rng_.Below(100);
        if (r < 70) {
            c.kind = kTcp;
            unsigned p = rng_.Below(100);
            c.serverPort = p < 75 ? 443 : p < 90 ? 80 : static_cast<uint16_t>(rng_.Range(20000, 29999));
        } else if (r < 82) {
            c.kind = kDns;
            c.serverPort = 53;
        } else if (r < 92) {
            c.kind = kQuic;
            c.serverPort = 443;
        } else if (r < 97) {
            c.kind = kRtp;
            c.serverPort = 5004;
            c.rtpSize = static_cast<uint16_t>(rng_.Range(160, 1200));
        } else {
            c.kind = kNtp;
            c.serverPort = 123;
        }
        return c;
    }

    // Writes Ethernet and IPv4 headers and the transport checksum into frame_; returns the frame length.
    size_t Finish(const Conversation& c, bool fromClient, uint8_t proto, size_t l4Len) {
        uint8_t* f = frame_;
        static const uint8_t kRouter[6] = {0x00, 0x1e, 0x58, 0xb3, 0x7a, 0x01};
        uint8_t client[6] = {
            0x02, 0x00, 0x0a, 0x00, static_cast<uint8_t>(c.clientIp >> 8), static_cast<uint8_t>(c.clientIp)};
        std::memcpy(f, fromClient ? kRouter : client, 6);
        std::memcpy(f + 6, fromClient ? client : kRouter, 6);
        Put16(f + 12, 0x0800);
        uint8_t* ip = f + 14;
        uint32_t src = fromClient ? c.clientIp : c.serverIp;
        uint32_t dst = fromClient ? c.serverIp : c.clientIp;
        ip[0] = 0x45;
        ip[1] = 0;
        Put16(ip + 2, 20 + l4Len);
        Put16(ip + 4, fromClient ? c.clientId : c.serverId);
        Put16(ip + 6, 0x4000);
        ip[8] = fromClient ? 64 : 54;
        ip[9] = proto;
        Put16(ip + 10, 0);
        Put32(ip + 12, src);
        Put32(ip + 16, dst);
        Put16(ip + 10, Fold(Sum16(ip, 20, 0)));

        uint8_t* l4 = ip + 20;
        uint32_t pseudo = (src >> 16) + (src & 0xFFFF) + (dst >> 16) + (dst & 0xFFFF) + proto +
                          static_cast<uint32_t>(l4Len);
        uint16_t sum = Fold(Sum16(l4, l4Len, pseudo));
        if (proto == 17) {
            Put16(l4 + 6, sum == 0 ? 0xFFFF : sum);
        } else {
            Put16(l4 + 16, sum);
        }
        size_t n = 34 + l4Len;
        if (n < kMinFrame) {
            std::memset(f + n, 0, kMinFrame - n);
            n = kMinFrame;
        }
        return n;
    }

    void Payload(uint8_t* to, size_t n) { std::memcpy(to, noise_ + rng_.Below(65536), n); }
    void Text(uint8_t* to, size_t n) { std::memcpy(to, text_ + rng_.Below(65536), n); }

    // A complete GET request of exactly n bytes (n >= 120), padded with a filler header.
    void HttpRequest(const Conversation& c, uint8_t* to, size_t n) {
        char head[120];
        int len = std::snprintf(head, sizeof head,
                                "GET /item/%u HTTP/1.1\r\nHost: www%u.example.com\r\nAccept: */*\r\nX-Pad: ",
                                c.clientPort, c.serverIp & 0xFF);
        std::memcpy(to, head, len);
        std::memset(to + len, 'x', n - len - 4);
        std::memcpy(to + n - 4, "\r\n\r\n", 4);
    }

    // A DNS query, or an answer with `answers` A records, for a name made from the conversation.
    size_t Dns(const Conversation& c, uint8_t* to, bool response, unsigned answers) {
        uint8_t* p = to;
        Put16(p, rng_.Below(65536));
        Put16(p + 2, response ? 0x8180 : 0x0100);
        Put16(p + 4, 1);
        Put16(p + 6, response ? answers : 0);
        Put32(p + 8, 0);
        p += 12;
        char label[16];
        int len = std::snprintf(label, sizeof label, "h%u", c.clientIp & 0xFFFF);
        *p++ = static_cast<uint8_t>(len);
        std::memcpy(p, label, len);
        p += len;
        static const uint8_t kZone[] = {7,   'e', 'x', 'a', 'm', 'p', 'l', 'e', 3,
                                        'c', 'o', 'm', 0,   0,   1,   0,   1};
        std::memcpy(p, kZone, sizeof kZone);
        p += sizeof kZone;
        for (unsigned a = 0; response && a < answers; ++a) {
            static const uint8_t kRecord[] = {0xC0, 12, 0, 1, 0, 1, 0, 0, 0x0E, 0x10, 0, 4, 198, 51, 100};
            std::memcpy(p, kRecord, sizeof kRecord);
            p[sizeof kRecord] = static_cast<uint8_t>(1 + a);
            p += sizeof kRecord + 1;
        }
        return static_cast<size_t>(p - to);
    }

    // An NTP client request or server reply; timestamps are noise.
    void Ntp(uint8_t* to, bool fromClient) {
        Payload(to, 48);
        to[0] = fromClient ? 0x23 : 0x24;  // version 4, client or server
        to[1] = fromClient ? 0 : 2;
        to[2] = 6;
        to[3] = 0xe9;
    }

    // Handshake, then a request and mostly server data with the client's ACKs, then both FINs when the
    // conversation is long enough to have an end.
    size_t NextTcp(Conversation& c) {
        uint32_t k = c.sent;
        bool closing = c.total >= 8 && k >= c.total - 2;
        bool fromClient;
        uint8_t flags;
        size_t payload = 0;
        if (k == 0) {
            fromClient = true;
            flags = kSyn;
        } else if (k == 1) {
            fromClient = false;
            flags = kSyn | kAck;
        } else if (closing) {
            fromClient = k == c.total - 2;
            flags = kFin | kAck;
        } else if (k == 2) {  // the request
            fromClient = true;
            flags = kPsh | kAck;
            payload = rng_.Range(120, 700);
        } else {
            fromClient = rng_.Chance(40);
            flags = kAck;
            if (fromClient) {
                if (rng_.Chance(25)) {
                    payload = rng_.Range(20, 500);
                    flags |= kPsh;
                }
            } else {
                payload = rng_.Chance(55) ? kMss : rng_.Range(1, kMss);
                if (payload < kMss)
                    flags |= kPsh;
            }
        }

        uint8_t* tcp = frame_ + 34;
        uint32_t& mySeq = fromClient ? c.clientSeq : c.serverSeq;
        uint32_t peerSeq = fromClient ? c.serverSeq : c.clientSeq;
        Put16(tcp, fromClient ? c.clientPort : c.serverPort);
        Put16(tcp + 2, fromClient ? c.serverPort : c.clientPort);
        Put32(tcp + 4, mySeq);
        Put32(tcp + 8, (flags & kAck) ? peerSeq : 0);
        size_t hdr = 20;
        if (flags & kSyn) {  // MSS, NOP, window scale, NOP, NOP, SACK permitted
            static const uint8_t kOpts[12] = {0x02, 0x04, 0x05, 0xb4, 0x01, 0x03,
                                              0x03, 0x07, 0x01, 0x01, 0x04, 0x02};
            std::memcpy(tcp + 20, kOpts, sizeof kOpts);
            hdr = 32;
        }
        tcp[12] = static_cast<uint8_t>((hdr / 4) << 4);
        tcp[13] = flags;
        Put16(tcp + 14, (flags & kSyn) ? 64240 : 502);
        Put16(tcp + 16, 0);
        Put16(tcp + 18, 0);
        if (c.serverPort != 80)
            Payload(tcp + hdr, payload);
        else if (k == 2)
            HttpRequest(c, tcp + hdr, payload);
        else
            Text(tcp + hdr, payload);
        mySeq += static_cast<uint32_t>(payload) + ((flags & (kSyn | kFin)) ? 1 : 0);
        size_t n = Finish(c, fromClient, 6, hdr + payload);
        (fromClient ? c.clientId : c.serverId)++;
        return n;
    }

    size_t NextUdp(Conversation& c) {
        uint32_t k = c.sent;
        bool fromClient = k == 0 || (k > 1 && rng_.Chance(50));
        uint8_t* udp = frame_ + 34;
        size_t payload;
        switch (c.kind) {
            case kDns:
                payload = Dns(c, udp + 8, !fromClient, rng_.Range(1, 28));
                break;
            case kQuic:
                payload = k == 0 ? 1252 : rng_.Chance(50) ? rng_.Range(1200, 1350) : rng_.Range(24, 90);
                Payload(udp + 8, payload);
                break;
            case kRtp:
                payload = c.rtpSize;
                Payload(udp + 8, payload);
                break;
            default:
                payload = 48;
                Ntp(udp + 8, fromClient);
                break;
        }
        Put16(udp, fromClient ? c.clientPort : c.serverPort);
        Put16(udp + 2, fromClient ? c.serverPort : c.clientPort);
        Put16(udp + 4, 8 + payload);
        Put16(udp + 6, 0);
        size_t n = Finish(c, fromClient, 17, 8 + payload);
        (fromClient ? c.clientId : c.serverId)++;
        return n;
    }

    // Rewrites the Ethernet/IPv4 frame in frame_ into the layout asked for; returns its new length.
    size_t Reshape(const Conversation& c, size_t n, bool fromClient) {
        const bool ipv6 = layout_.ipv6 == 1 || (layout_.ipv6 == 2 && (c.clientPort & 1));
        if (!ipv6 && layout_.vlanTags == 0 && layout_.linkType == DLT_EN10MB)
            return n;
        uint8_t in[sizeof frame_];
        std::memcpy(in, frame_, n);
        const uint8_t* ip4 = in + 14;
        const size_t total = (size_t{ip4[2]} << 8) | ip4[3];
        const uint8_t proto = ip4[9];
        const size_t l4Len = total - 20;

        // The IP packet first, into its own buffer.
        uint8_t packet[sizeof frame_];
        size_t packetLen;
        if (!ipv6) {
            std::memcpy(packet, ip4, total);
            packetLen = total;
        } else {
            const bool ext = layout_.extensions && (c.clientPort & 2);
            const size_t extLen = ext ? 8 : 0;
            uint8_t* h = packet;
            h[0] = 0x60;
            h[1] = 0;
            Put16(h + 2, c.clientPort & 0xFFFF);  // a flow label of the conversation's own
            Put16(h + 4, extLen + l4Len);
            h[6] = ext ? 60 : proto;
            h[7] = ip4[8];
            for (int side = 0; side < 2; ++side) {
                uint8_t* a = h + 8 + 16 * side;
                std::memset(a, 0, 16);
                Put16(a, 0x2001);
                Put16(a + 2, 0x0db8);
                std::memcpy(a + 12, ip4 + 12 + 4 * side, 4);
            }
            if (ext) {
                uint8_t* d = h + 40;
                d[0] = proto;
                d[1] = 0;  // 8 bytes
                d[2] = 1;  // PadN option, 4 bytes of padding
                d[3] = 4;
                std::memset(d + 4, 0, 4);
            }
            uint8_t* l4 = h + 40 + extLen;
            std::memcpy(l4, ip4 + 20, l4Len);
            uint8_t* sumField = l4 + (proto == 17 ? 6 : 16);
            Put16(sumField, 0);
            uint32_t pseudo = Sum16(h + 8, 32, 0) + static_cast<uint32_t>(l4Len) + proto;
            uint16_t sum = Fold(Sum16(l4, l4Len, pseudo));
            Put16(sumField, proto == 17 && sum == 0 ? 0xFFFF : sum);
            packetLen = 40 + extLen + l4Len;
        }
        const uint16_t etherType = ipv6 ? 0x86DD : 0x0800;

        // Then the link header and the tags in front of it.
        uint8_t* f = frame_;
        size_t at;
        uint16_t firstType = layout_.vlanTags == 2 ? 0x88A8 : layout_.vlanTags == 1 ? 0x8100 : etherType;
        if (layout_.linkType == DLT_LINUX_SLL) {
            Put16(f, fromClient ? 4 : 0);  // sent by us, or to us
            Put16(f + 2, 1);               // ARPHRD_ETHER
            Put16(f + 4, 6);
            std::memcpy(f + 6, in + 6, 6);
            Put16(f + 12, 0);
            Put16(f + 14, firstType);
            at = 16;
        } else if (layout_.linkType == DLT_LINUX_SLL2) {
            Put16(f, firstType);
            Put16(f + 2, 0);
            Put32(f + 4, 2);  // interface index
            Put16(f + 8, 1);
            f[10] = fromClient ? 4 : 0;
            f[11] = 6;
            std::memcpy(f + 12, in + 6, 6);
            Put16(f + 18, 0);
            at = 20;
        } else {
            std::memcpy(f, in, 12);
            Put16(f + 12, firstType);
            at = 14;
        }
        const uint16_t vlan = static_cast<uint16_t>(100 + c.clientPort % 4);
        if (layout_.vlanTags == 2) {
            Put16(f + at, (3u << 13) | 10);  // the outer (service) tag, priority 3
            Put16(f + at + 2, 0x8100);
            at += 4;
        }
        if (layout_.vlanTags >= 1) {
            Put16(f + at, vlan);
            Put16(f + at + 2, etherType);
            at += 4;
        }
        std::memcpy(f + at, packet, packetLen);
        n = at + packetLen;
        if (layout_.linkType == DLT_EN10MB && n < kMinFrame) {
            std::memset(f + n, 0, kMinFrame - n);
            n = kMinFrame;
        }
        return n;
    }

    const uint64_t frames_;
    const uint32_t connections_;
    const Layout layout_;
    Rng rng_{0x42454E4348ull};
    std::vector<uint32_t> counts_;
    uint8_t noise_[65536 + kMss];
    uint8_t text_[65536 + kMss];
    uint8_t frame_[1600];  // 1514 and room for an IPv6 header, tags and a cooked header
    uint64_t written_ = 0;
    uint64_t bytes_ = 0;
};

int Stats(const char* path, uint64_t limit) {
    char err[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(path, err);
    if (!p) {
        std::fprintf(stderr, "%s\n", err);
        return 1;
    }
    uint64_t frames = 0, bytes = 0;
    pcap_pkthdr* h;
    const u_char* data;
    while (frames < limit && pcap_next_ex(p, &h, &data) == 1) {
        ++frames;
        bytes += h->caplen;
    }
    pcap_close(p);
    std::printf("frames %llu bytes %llu\n", static_cast<unsigned long long>(frames),
                static_cast<unsigned long long>(bytes));
    return 0;
}

bool ParseCount(const char* s, uint64_t* out) {
    char* end;
    unsigned long long v = std::strtoull(s, &end, 10);
    if (*s == '\0' || *end != '\0' || *s == '-')
        return false;
    *out = v;
    return true;
}

int Usage() {
    std::fprintf(
        stderr,
        "Usage: pacterra-gen-bench-capture [--ipv6 | --mixed] [--ext] [--vlan 1|2] [--link sll|sll2]\n"
        "                                  OUT.cap [FRAMES] [CONNECTIONS]\n"
        "       pacterra-gen-bench-capture --stats FILE [N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--stats") == 0) {
        uint64_t limit = UINT64_MAX;
        if (argc > 4 || (argc == 4 && !ParseCount(argv[3], &limit)))
            return Usage();
        return Stats(argv[2], limit);
    }
    Layout layout;
    int first = 1;
    for (; first < argc && argv[first][0] == '-' && argv[first][1] != '\0'; ++first) {
        const std::string a = argv[first];
        if (a == "--ipv6") {
            layout.ipv6 = 1;
        } else if (a == "--mixed") {
            layout.ipv6 = 2;
        } else if (a == "--ext") {
            layout.extensions = true;
        } else if (a == "--vlan" && first + 1 < argc &&
                   (std::strcmp(argv[first + 1], "1") == 0 || std::strcmp(argv[first + 1], "2") == 0)) {
            layout.vlanTags = argv[++first][0] - '0';
        } else if (a == "--link" && first + 1 < argc && std::strcmp(argv[first + 1], "sll") == 0) {
            layout.linkType = DLT_LINUX_SLL;
            ++first;
        } else if (a == "--link" && first + 1 < argc && std::strcmp(argv[first + 1], "sll2") == 0) {
            layout.linkType = DLT_LINUX_SLL2;
            ++first;
        } else {
            return Usage();
        }
    }
    argc -= first - 1;
    argv += first - 1;
    uint64_t frames = 1000000, connections = 200000;
    if (argc < 2 || argc > 4 || argv[1][0] == '-' || (argc > 2 && !ParseCount(argv[2], &frames)) ||
        (argc > 3 && !ParseCount(argv[3], &connections)))
        return Usage();
    const uint64_t maxConnections =
        static_cast<uint64_t>(kClientHosts) * kPorts;  // distinct client endpoints
    if (frames == 0 || connections == 0 || connections > maxConnections) {
        std::fprintf(stderr,
                     "pacterra-gen-bench-capture: FRAMES must be positive, CONNECTIONS from 1 to %llu\n",
                     static_cast<unsigned long long>(maxConnections));
        return 2;
    }
    if (connections > frames) {
        std::fprintf(stderr, "pacterra-gen-bench-capture: only %llu conversations fit in %llu frames\n",
                     static_cast<unsigned long long>(frames), static_cast<unsigned long long>(frames));
        connections = frames;
    }
    Writer w(frames, static_cast<uint32_t>(connections), layout);
    if (!w.Run(argv[1]))
        return 1;
    std::printf("frames %llu bytes %llu\n", static_cast<unsigned long long>(w.Written()),
                static_cast<unsigned long long>(w.Bytes()));
    return 0;
}
