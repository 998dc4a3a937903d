// Frames for the list tests: connection c runs between 10.0.0.1:(1000 + c) and 10.0.0.2:80 over TCP.
#pragma once

#include <string>

#include "../unit/FrameBuilder.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

// The list tests keep every frame they feed.
inline void StartFeeding() {
    StartIntake(200, true);
}

// One packet of connection `c`, `usec` after 1700000000 s (22:13:20 UTC).
inline std::vector<uint8_t> PacketFrame(int c, bool toServer, const std::string& payload) {
    FrameSpec s;
    s.srcPort = static_cast<uint16_t>(1000 + c);
    s.payload = payload;
    if (!toServer) {
        std::swap(s.src, s.dst);
        std::swap(s.srcPort, s.dstPort);
    }
    return BuildFrame(s);
}

inline void FeedPacket(int c, bool toServer, const std::string& payload, int usec = 0) {
    FeedFrame(PacketFrame(c, toServer, payload), 1700000000, usec);
}
