// Builds Ethernet/IPv4/TCP-or-UDP frames for the engine's tests, with knobs to break each header.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

struct FrameSpec {
    uint8_t src[4] = {10, 0, 0, 1};
    uint8_t dst[4] = {10, 0, 0, 2};
    uint16_t srcPort = 1234;
    uint16_t dstPort = 80;
    int protocol = 6;  // 6 TCP, 17 UDP, anything else as given
    std::string payload;
    int ipOptionsWords = 0;  // extra 32-bit words of IP options
    int tcpHeaderWords = 5;
    uint16_t etherType = 0x0800;
    int ihlOverride = -1;      // written into the header instead of the real IHL
    int totalLengthDelta = 0;  // added to the real IP total length
    int padding = 0;           // bytes after the IP packet
    uint16_t ipId = 0x1234;
    uint16_t fragmentField = 0;  // flags and fragment offset
};

inline std::vector<uint8_t> BuildFrame(const FrameSpec& s) {
    const int ipHeader = 20 + 4 * s.ipOptionsWords;
    const int l4Header = s.protocol == 6 ? 4 * s.tcpHeaderWords : s.protocol == 17 ? 8 : 0;
    const int total = ipHeader + l4Header + static_cast<int>(s.payload.size()) + s.totalLengthDelta;
    std::vector<uint8_t> f(14, 0);
    f[12] = static_cast<uint8_t>(s.etherType >> 8);
    f[13] = static_cast<uint8_t>(s.etherType);
    auto put16 = [&](uint16_t v) {
        f.push_back(static_cast<uint8_t>(v >> 8));
        f.push_back(static_cast<uint8_t>(v));
    };
    const int ihl = s.ihlOverride >= 0 ? s.ihlOverride : ipHeader / 4;
    f.push_back(static_cast<uint8_t>(0x40 | (ihl & 0x0F)));
    f.push_back(0);
    put16(static_cast<uint16_t>(total));
    put16(s.ipId);
    put16(s.fragmentField);
    f.push_back(64);
    f.push_back(static_cast<uint8_t>(s.protocol));
    put16(0);
    f.insert(f.end(), s.src, s.src + 4);
    f.insert(f.end(), s.dst, s.dst + 4);
    for (int i = 0; i < s.ipOptionsWords * 4; ++i)
        f.push_back(1);  // NOP options
    if (l4Header) {
        put16(s.srcPort);
        put16(s.dstPort);
        if (s.protocol == 6) {
            for (int i = 0; i < 8; ++i)
                f.push_back(0);
            f.push_back(static_cast<uint8_t>(s.tcpHeaderWords << 4));
            f.push_back(0x18);
            for (int i = 14; i < l4Header; ++i)
                f.push_back(0);
        } else {
            put16(static_cast<uint16_t>(8 + s.payload.size()));
            put16(0);
        }
    }
    f.insert(f.end(), s.payload.begin(), s.payload.end());
    f.insert(f.end(), static_cast<size_t>(s.padding), 0xEE);
    return f;
}

// Hands one frame to the intake as the capture library would (capLen -1: the whole frame).
inline void FeedFrame(const std::vector<uint8_t>& frame, int64_t sec = 1700000000, int32_t usec = 0,
                      int capLen = -1) {
    pcap_pkthdr h{};
    h.ts.tv_sec = sec;
    h.ts.tv_usec = usec;
    h.caplen = static_cast<bpf_u_int32>(capLen < 0 ? static_cast<int>(frame.size()) : capLen);
    h.len = static_cast<bpf_u_int32>(frame.size());
    PacketHandler(nullptr, &h, frame.data());
}

// Empties the store and starts a capture that keeps by default, in a store of `bufferMB`; with
// `skipFilter` every frame is kept, even past the buffer size.
inline void StartIntake(int bufferMB, bool skipFilter) {
    ResetCaptureStore();
    g_config = CCaptureConfig();
    g_config.bufferMB = bufferMB;
    g_config.defaultAccept = 1;
    g_skipFilter = skipFilter ? 1 : 0;
    g_captureState = CAPTURE_RUNNING;
}
