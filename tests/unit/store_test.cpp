#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

namespace {

struct Peer {
    uint8_t ip[4];
    uint16_t port;
};

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetCaptureStore();
        g_config = CCaptureConfig();
        g_config.bufferMB = 1;
        g_skipFilter = 0;
        g_captureState = CAPTURE_RUNNING;
    }
    void TearDown() override {
        g_packetLimit = 0;
        ResetCaptureStore();
    }

    // Stores a frame of `len` bytes and attaches it from `from` to `to`; returns the connection.
    int Packet(const Peer& from, const Peer& to, int tcp = 1, int len = 60) {
        std::vector<uint8_t> frame(static_cast<size_t>(len), 0xAB);
        size_t index = 0;
        EXPECT_EQ(StorePacket(PacketTimestamp{}, frame.data(), len, 0, &index), 1);
        return FindOrAddConnection(tcp, to.ip, from.ip, to.port, from.port, index);
    }
    int ToServer(size_t packet) { return g_packetTable.at(packet).toServer.load(); }
};

const Peer kA{{10, 0, 0, 1}, 1234};
const Peer kB{{10, 0, 0, 2}, 80};

TEST_F(StoreTest, FirstSenderIsClientAndReplyJoinsBackwards) {
    EXPECT_EQ(Packet(kA, kB), 0);
    EXPECT_EQ(Packet(kB, kA), 0);
    EXPECT_EQ(Packet(kA, kB), 0);
    ASSERT_EQ(g_connectionTable.size(), 1u);
    const ConnectionRecord& c = g_connectionTable[0];
    EXPECT_EQ(c.Client(), Endpoint::Ipv4(kA.ip, 1234));
    EXPECT_EQ(c.Server(), Endpoint::Ipv4(kB.ip, 80));
    ASSERT_EQ(c.packetIndices.size(), 3u);
    EXPECT_EQ(ToServer(0), 1);
    EXPECT_EQ(ToServer(1), 0);
    EXPECT_EQ(ToServer(2), 1);
}

TEST_F(StoreTest, ConnectionsAreKeptApartByProtocolPortAndAddress) {
    struct Case {
        const char* what;
        Peer from, to;
        int tcp;
        int expected;
    };
    const Case cases[] = {
        {"first TCP", kA, kB, 1, 0},
        {"same endpoints over UDP", kA, kB, 0, 1},
        {"reply over UDP", kB, kA, 0, 1},
        {"other client port", {{10, 0, 0, 1}, 1235}, kB, 1, 2},
        {"other server address", kA, {{10, 0, 0, 3}, 80}, 1, 3},
        {"ports swapped between the hosts", {{10, 0, 0, 1}, 80}, {{10, 0, 0, 2}, 1234}, 1, 4},
        {"back to the first", kB, kA, 1, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Packet(c.from, c.to, c.tcp), c.expected) << c.what;
    EXPECT_EQ(g_connectionTable.size(), 5u);
}

TEST_F(StoreTest, PacketToItselfMatchesForwards) {
    EXPECT_EQ(Packet(kA, kA), 0);
    EXPECT_EQ(Packet(kA, kA), 0);
    EXPECT_EQ(ToServer(1), 1);
}

TEST_F(StoreTest, ManyConnectionsAreFoundAgainInBothDirections) {
    // Enough to grow the index and the tables across several segments.
    std::vector<Peer> clients;
    for (int i = 0; i < 5000; ++i) {
        Peer e{{10, 1, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}, static_cast<uint16_t>(i)};
        clients.push_back(e);
        ASSERT_EQ(Packet(e, kB, i % 2), i);
    }
    for (int i = 4999; i >= 0; --i)
        ASSERT_EQ(Packet(kB, clients[static_cast<size_t>(i)], i % 2), i);
    for (size_t i = 0; i < 5000; ++i) {
        const ConnectionRecord& c = g_connectionTable[i];
        ASSERT_EQ(c.packetIndices.size(), 2u);
        EXPECT_EQ(ToServer(c.packetIndices[1]), 0);
    }
}

TEST_F(StoreTest, ALongConnectionKeepsEveryIndexInOrder) {
    for (int i = 0; i < 3000; ++i)
        Packet(i % 3 ? kA : kB, i % 3 ? kB : kA);
    const ConnectionRecord& c = g_connectionTable[0];
    ASSERT_EQ(c.packetIndices.size(), 3000u);
    for (size_t i = 0; i < 3000; ++i)
        ASSERT_EQ(c.packetIndices[i], i);
    EXPECT_THROW(c.packetIndices.at(3000), std::out_of_range);
}

TEST_F(StoreTest, BufferLimitRequestsStopOnlyBeyondTheLimit) {
    const int limit = 1 << 20;
    Packet(kA, kB, 1, limit - 100);
    Packet(kA, kB, 1, 100);  // exactly at the limit
    EXPECT_EQ(g_captureState.load(), CAPTURE_RUNNING);
    EXPECT_EQ(g_bufferPercent.load(), 100);
    Packet(kA, kB, 1, 1);  // one byte beyond: stored, then the stop
    EXPECT_EQ(g_captureState.load(), CAPTURE_STOPPING);
    EXPECT_EQ(g_packetTable.size(), 3u);
    EXPECT_EQ(g_storedBytes.load(), limit + 1);
}

TEST_F(StoreTest, PercentOfLargeBuffersAndSkippedLimit) {
    g_config.bufferMB = 200;
    const int chunk = 30 << 20;
    for (int i = 0; i < 5; ++i)
        Packet(kA, kB, 1, chunk);  // 150 MB
    EXPECT_EQ(g_bufferPercent.load(), 75);
    EXPECT_EQ(g_captureState.load(), CAPTURE_RUNNING);

    ResetCaptureStore();
    g_captureState = CAPTURE_RUNNING;
    g_skipFilter = 1;
    g_config.bufferMB = 1;
    for (int i = 0; i < 3; ++i)
        Packet(kA, kB, 1, 1 << 20);
    EXPECT_EQ(g_bufferPercent.load(), 300);
    EXPECT_EQ(g_captureState.load(), CAPTURE_RUNNING);
}

TEST_F(StoreTest, BogusBufferSizeNeitherDividesByZeroNorOverflows) {
    // Sizes below 1 MB act as 1 MB; a huge one never stops and shows a small store as 0 percent.
    struct Case {
        int mb;
        int firstBytes;  // stored first
        int percent;     // after the first packet
        bool stopsOneByteLater;
    } cases[] = {
        {0, 1 << 20, 100, true},
        {-5, 1 << 20, 100, true},
        {INT32_MAX, 100, 0, false},
    };
    for (const Case& c : cases) {
        ResetCaptureStore();
        g_captureState = CAPTURE_RUNNING;
        g_config.bufferMB = c.mb;
        Packet(kA, kB, 1, c.firstBytes);
        EXPECT_EQ(g_bufferPercent.load(), c.percent) << c.mb;
        EXPECT_EQ(g_captureState.load(), CAPTURE_RUNNING) << c.mb;
        Packet(kA, kB, 1, 1);
        EXPECT_EQ(g_captureState.load(), c.stopsOneByteLater ? CAPTURE_STOPPING : CAPTURE_RUNNING) << c.mb;
        EXPECT_EQ(g_packetTable.size(), 2u) << c.mb;
    }
}

TEST_F(StoreTest, PacketLimitRefusesThePacketBeyondItAndRequestsAStop) {
    g_packetLimit = 3;
    for (int i = 0; i < 3; ++i)
        Packet(kA, kB);
    std::vector<uint8_t> frame(60, 0xCD);
    size_t index = 99;
    EXPECT_EQ(StorePacket(PacketTimestamp{}, frame.data(), 60, 0, &index), 0);
    g_packetLimit = 0;
    EXPECT_EQ(index, 99u);
    EXPECT_EQ(g_packetTable.size(), 3u);
    EXPECT_EQ(g_storedBytes.load(), 3 * 60);
    EXPECT_EQ(g_captureState.load(), CAPTURE_STOPPING);
}

TEST_F(StoreTest, StorePacketCopiesTheFrameAndMarksUnsaved) {
    std::vector<uint8_t> frame = {1, 2, 3, 4, 5};
    size_t index = 99;
    ASSERT_EQ(StorePacket(PacketTimestamp{7, 8}, frame.data(), 5, 0, &index), 1);
    frame[0] = 42;
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(g_unsavedPackets.load(), 1);
    const PacketRecord& p = g_packetTable[0];
    EXPECT_EQ(p.data[0], 1);
    EXPECT_EQ(p.capLen, 5);
    EXPECT_EQ(p.stamp.sec, 7);
    EXPECT_EQ(p.stamp.usec, 8);
}

TEST_F(StoreTest, ClearEmptiesBothTablesAndIndexOutsideThrows) {
    Packet(kA, kB);
    Packet(kB, kA);
    ClearPacketStore();
    EXPECT_EQ(g_packetTable.size(), 0u);
    EXPECT_EQ(g_connectionTable.size(), 0u);
    EXPECT_EQ(StoreReservedBytes(), 0u);
    EXPECT_THROW(g_packetTable.at(0), std::out_of_range);
    EXPECT_THROW(g_connectionTable.at(0), std::out_of_range);
    EXPECT_THROW(FindOrAddConnection(1, kB.ip, kA.ip, 80, 1234, 0), std::out_of_range);
    // The old connection is forgotten: the next packet opens connection 0 again, the other way round.
    EXPECT_EQ(Packet(kB, kA), 0);
    EXPECT_EQ(g_connectionTable[0].ClientPort(), 80);
}

}  // namespace
