// A large store of connections for the filter and export benchmarks, put straight into the tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <random>

#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

namespace bench {

// Connection i: a unique 10.x.y.z client on an ephemeral port to one of 4096 servers 192.168.a.b on a few
// well-known services, 70% TCP, with `packetsEach` packets of 54 bytes taking turns from the server side.
inline void FillStore(size_t connections, int packetsEach) {
    static constexpr uint16_t kServices[] = {80, 443, 53, 22, 25, 8080, 3306, 123};
    ResetCaptureStore();
    g_config = CCaptureConfig();
    g_skipFilter = 1;
    g_captureState = CAPTURE_RUNNING;
    std::mt19937_64 rng(1);
    uint8_t frame[54] = {};
    for (size_t i = 0; i < connections; ++i) {
        const uint8_t client[4] = {10, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8),
                                   static_cast<uint8_t>(i)};
        const uint32_t s = static_cast<uint32_t>(rng() % 4096);
        const uint8_t server[4] = {192, 168, static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s | 1)};
        const uint16_t clientPort = static_cast<uint16_t>(32768 + rng() % 28000);
        const uint16_t serverPort = kServices[rng() % std::size(kServices)];
        const int tcp = rng() % 10 < 7;
        for (int p = 0; p < packetsEach; ++p) {
            size_t index = 0;
            const PacketTimestamp stamp{1700000000 + static_cast<int64_t>(i / 1000), static_cast<int32_t>(p)};
            if (!StorePacket(stamp, frame, sizeof frame, 0, &index))
                return;
            if (p % 2 == 0)
                FindOrAddConnection(tcp, server, client, serverPort, clientPort, index);
            else
                FindOrAddConnection(tcp, client, server, clientPort, serverPort, index);
        }
    }
    g_captureState = CAPTURE_IDLE;
}

}  // namespace bench
