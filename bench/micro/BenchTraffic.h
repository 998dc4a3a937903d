// Synthetic Ethernet/IPv4/TCP-or-UDP traffic for the micro benchmarks: connections between client and
// server endpoints, and frames of realistic sizes built into memory before any timing starts.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace bench {

// One conversation. Client ports are ephemeral (32768..60999); server ports are a few well-known ones, so
// rules on other ports never match.
struct Endpoints {
    uint8_t clientIp[4];
    uint8_t serverIp[4];
    uint16_t clientPort;
    uint16_t serverPort;
    bool tcp;
};

// Addresses 10.0.0.0/8 (clients) and 192.168.0.0/16 (servers): the benchmark rules use 172.16.0.0/12.
inline Endpoints MakeEndpoints(std::mt19937_64& rng) {
    static constexpr uint16_t kTcpServices[] = {80, 443, 22, 25, 110, 143, 3306, 8080};
    static constexpr uint16_t kUdpServices[] = {53, 123, 161, 514};
    Endpoints e{};
    uint32_t client = static_cast<uint32_t>(rng());
    e.clientIp[0] = 10;
    e.clientIp[1] = static_cast<uint8_t>(client >> 16);
    e.clientIp[2] = static_cast<uint8_t>(client >> 8);
    e.clientIp[3] = static_cast<uint8_t>(client | 1);
    uint32_t server = static_cast<uint32_t>(rng());
    e.serverIp[0] = 192;
    e.serverIp[1] = 168;
    e.serverIp[2] = static_cast<uint8_t>(server >> 8);
    e.serverIp[3] = static_cast<uint8_t>(server | 1);
    e.clientPort = static_cast<uint16_t>(32768 + rng() % (61000 - 32768));
    e.tcp = rng() % 10 < 7;  // mostly TCP, as on a typical desktop link
    e.serverPort =
        e.tcp ? kTcpServices[rng() % std::size(kTcpServices)] : kUdpServices[rng() % std::size(kUdpServices)];
    return e;
}

// Payload length of one packet: TCP is a mix of bare ACKs, full segments and everything between; UDP
// datagrams are small.
inline int PayloadLength(std::mt19937_64& rng, bool tcp) {
    if (!tcp)
        return 20 + static_cast<int>(rng() % 493);
    switch (rng() % 10) {
        case 0:
        case 1:
        case 2:
        case 3:
            return 0;
        case 4:
        case 5:
        case 6:
            return 1460;
        default:
            return 1 + static_cast<int>(rng() % 1400);
    }
}

inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

// Appends one frame (Ethernet II, IPv4 without options, TCP with a 20-byte header or UDP) to `out`;
// returns its length.
inline uint32_t AppendFrame(std::vector<uint8_t>& out, const Endpoints& e, bool toServer, int payloadLen) {
    const uint32_t l4Header = e.tcp ? 20 : 8;
    const uint32_t ipTotal = 20 + l4Header + static_cast<uint32_t>(payloadLen);
    const uint32_t frameLen = 14 + ipTotal;
    const size_t at = out.size();
    out.resize(at + frameLen, 0);
    uint8_t* f = out.data() + at;
    for (int i = 0; i < 12; ++i)
        f[i] = static_cast<uint8_t>(0x02 + i);  // locally administered MAC addresses
    Put16(f + 12, 0x0800);
    uint8_t* ip = f + 14;
    ip[0] = 0x45;
    Put16(ip + 2, static_cast<uint16_t>(ipTotal));
    Put16(ip + 4, static_cast<uint16_t>(at));
    Put16(ip + 6, 0x4000);  // don't fragment
    ip[8] = 64;
    ip[9] = e.tcp ? 6 : 17;
    std::memcpy(ip + 12, toServer ? e.clientIp : e.serverIp, 4);
    std::memcpy(ip + 16, toServer ? e.serverIp : e.clientIp, 4);
    uint8_t* l4 = ip + 20;
    Put16(l4, toServer ? e.clientPort : e.serverPort);
    Put16(l4 + 2, toServer ? e.serverPort : e.clientPort);
    if (e.tcp) {
        l4[12] = 5 << 4;
        l4[13] = payloadLen ? 0x18 : 0x10;  // PSH+ACK or ACK
    } else {
        Put16(l4 + 4, static_cast<uint16_t>(8 + payloadLen));
    }
    for (int i = 0; i < payloadLen; ++i)
        l4[l4Header + i] = static_cast<uint8_t>('a' + i % 26);
    return frameLen;
}

// Frames in one contiguous buffer with the headers the capture library would hand over.
struct Traffic {
    std::vector<uint8_t> bytes;
    std::vector<pcap_pkthdr> headers;
    std::vector<size_t> offsets;
    uint64_t totalBytes = 0;
};

// `packets` frames over `connections` conversations, interleaved at random, both directions (the client
// speaks first in each conversation, so it is its client in the store too). Timestamps 20 us apart.
inline Traffic MakeTraffic(size_t connections, size_t packets, uint64_t seed = 42) {
    std::mt19937_64 rng(seed);
    std::vector<Endpoints> conns(connections);
    for (auto& c : conns)
        c = MakeEndpoints(rng);
    std::vector<uint8_t> started(connections, 0);

    Traffic t;
    t.bytes.reserve(packets * 700);
    t.headers.reserve(packets);
    t.offsets.reserve(packets);
    int64_t usec = 0;
    for (size_t i = 0; i < packets; ++i) {
        size_t c = rng() % connections;
        bool toServer = !started[c] || (rng() & 1);
        started[c] = 1;
        size_t at = t.bytes.size();
        uint32_t len = AppendFrame(t.bytes, conns[c], toServer, PayloadLength(rng, conns[c].tcp));
        pcap_pkthdr h{};
        usec += 20;
        h.ts.tv_sec = 1700000000 + usec / 1000000;
        h.ts.tv_usec = static_cast<suseconds_t>(usec % 1000000);
        h.caplen = h.len = len;
        t.headers.push_back(h);
        t.offsets.push_back(at);
        t.totalBytes += len;
    }
    return t;
}

}  // namespace bench
