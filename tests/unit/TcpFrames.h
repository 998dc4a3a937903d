// Ethernet/IPv4/TCP frames with sequence numbers and flags, for the stream tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TcpFrameSpec {
    uint8_t src[4] = {198, 51, 100, 1};
    uint8_t dst[4] = {198, 51, 100, 2};
    uint16_t srcPort = 40000;
    uint16_t dstPort = 80;
    uint32_t seq = 0;
    uint32_t ack = 0;
    uint8_t flags = 0x10;  // ACK
    std::string payload;
    bool udp = false;
    uint16_t fragmentField = 0;
};

inline std::vector<uint8_t> BuildTcpFrame(const TcpFrameSpec& s) {
    const size_t l4 = s.udp ? 8 : 20;
    const size_t total = 20 + l4 + s.payload.size();
    std::vector<uint8_t> f(14 + total, 0);
    f[12] = 0x08;
    uint8_t* ip = f.data() + 14;
    ip[0] = 0x45;
    ip[2] = static_cast<uint8_t>(total >> 8);
    ip[3] = static_cast<uint8_t>(total);
    ip[6] = static_cast<uint8_t>(s.fragmentField >> 8);
    ip[7] = static_cast<uint8_t>(s.fragmentField);
    ip[8] = 64;
    ip[9] = s.udp ? 17 : 6;
    for (int i = 0; i < 4; ++i) {
        ip[12 + i] = s.src[i];
        ip[16 + i] = s.dst[i];
    }
    uint8_t* t = ip + 20;
    t[0] = static_cast<uint8_t>(s.srcPort >> 8);
    t[1] = static_cast<uint8_t>(s.srcPort);
    t[2] = static_cast<uint8_t>(s.dstPort >> 8);
    t[3] = static_cast<uint8_t>(s.dstPort);
    if (s.udp) {
        t[4] = static_cast<uint8_t>((8 + s.payload.size()) >> 8);
        t[5] = static_cast<uint8_t>(8 + s.payload.size());
    } else {
        for (int i = 0; i < 4; ++i) {
            t[4 + i] = static_cast<uint8_t>(s.seq >> (24 - 8 * i));
            t[8 + i] = static_cast<uint8_t>(s.ack >> (24 - 8 * i));
        }
        t[12] = 0x50;
        t[13] = s.flags;
        t[14] = 0xFF;
    }
    std::copy(s.payload.begin(), s.payload.end(), t + l4);
    return f;
}

// The same frame from the other end.
inline TcpFrameSpec Reply(TcpFrameSpec s) {
    for (int i = 0; i < 4; ++i)
        std::swap(s.src[i], s.dst[i]);
    std::swap(s.srcPort, s.dstPort);
    return s;
}
