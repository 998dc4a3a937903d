// One thread feeds packets while another reads the tables below the counts it loaded, as the window does
// during a live capture. Meant to run under ThreadSanitizer as well as in the plain build.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "FrameBuilder.h"
#include "capture/Format.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

namespace {

TEST(StoreConcurrencyTest, ReaderSeesCompleteRecordsWhileWriterAppends) {
    constexpr int kPackets = 1000000;
    constexpr int kConnections = 5000;
    StartIntake(200, true);

    // Frames for every connection, both directions, made up front.
    std::vector<std::vector<uint8_t>> frames;
    for (int c = 0; c < kConnections; ++c) {
        FrameSpec s;
        s.protocol = c % 3 ? 6 : 17;
        s.src[2] = static_cast<uint8_t>(c >> 8);
        s.src[3] = static_cast<uint8_t>(c);
        s.srcPort = static_cast<uint16_t>(10000 + c);
        s.payload = std::string(static_cast<size_t>(c % 40), 'p');
        frames.push_back(BuildFrame(s));
        std::swap(s.src, s.dst);
        std::swap(s.srcPort, s.dstPort);
        frames.push_back(BuildFrame(s));
    }

    std::atomic<bool> done{false};
    std::thread writer([&] {
        std::mt19937 rng(7);
        for (int i = 0; i < kPackets; ++i) {
            // The first packets of each connection go client to server, so roles are known.
            size_t f = i < kConnections ? static_cast<size_t>(2 * i) : rng() % frames.size();
            FeedFrame(frames[f], 1700000000 + i / 1000, (i % 1000) * 1000);
        }
        done = true;
    });

    std::mt19937 rng(11);
    uint64_t checks = 0;
    // A failed assertion returns from the lambda; the writer is joined either way.
    auto read = [&] {
        while (!done.load()) {
            size_t packets = g_packetTable.size();
            if (packets) {
                const PacketRecord& p = g_packetTable[packets - 1];
                ASSERT_GE(p.capLen, 42);
                ASSERT_EQ(p.data[12], 0x08);  // the frame bytes are there
                ASSERT_LE(p.payloadLen, 39);
            }
            size_t connections = g_connectionTable.size();
            if (connections) {
                size_t c = rng() % connections;
                const ConnectionRecord& conn = g_connectionTable[c];
                size_t n = conn.packetIndices.size();
                ASSERT_GE(n, 1u);
                // Every index below the count: in arrival order, of a stored packet, and that packet
                // belongs to this connection in the direction it says.
                const size_t stored = g_packetTable.size();
                int64_t previous = -1;
                for (size_t i = 0; i < n; ++i) {
                    const uint32_t index = conn.packetIndices[i];
                    ASSERT_GT(int64_t{index}, previous) << "connection " << c << " position " << i;
                    ASSERT_LT(index, stored);
                    previous = index;
                    const PacketRecord& p = g_packetTable[index];
                    const uint8_t* src = p.data + 26;
                    const uint8_t* dst = p.data + 30;
                    const bool toServer = p.toServer.load(std::memory_order_relaxed) != 0;
                    const Endpoint client = conn.Client(), server = conn.Server();
                    ASSERT_EQ(std::memcmp(src, (toServer ? client : server).AddressBytes(), 4), 0) << index;
                    ASSERT_EQ(std::memcmp(dst, (toServer ? server : client).AddressBytes(), 4), 0) << index;
                }
                for (int column = 0; column < kConnectionColumns; ++column)
                    ASSERT_GT(ConnectionCellText(c, column).length, 0u);
                ASSERT_LE(g_storedBytes.load(), int64_t{kPackets} * 200);
                ++checks;
            }
        }
    };
    read();
    writer.join();
    EXPECT_GT(checks, 0u);
    EXPECT_EQ(g_packetTable.size(), static_cast<size_t>(kPackets));
    EXPECT_EQ(g_connectionTable.size(), static_cast<size_t>(kConnections));
    size_t total = 0;
    for (size_t c = 0; c < g_connectionTable.size(); ++c)
        total += g_connectionTable[c].packetIndices.size();
    EXPECT_EQ(total, static_cast<size_t>(kPackets));
    ResetCaptureStore();
}

}  // namespace
