#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "FrameBuilder.h"
#include "capture/Format.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "frontend/FrontEnd.h"

namespace {

// Records what a reader of the store learns after a frame: the connections created, and those that grew.
struct StoreNews {
    std::vector<std::string> log;
    size_t known = 0;
    void Take() {
        uint32_t first, last;
        TakeGrownConnections(&first, &last);
        if (first <= last)
            log.push_back("grew " + std::to_string(first) + "-" + std::to_string(last));
        for (; known < g_connectionTable.size(); ++known)
            log.push_back("insert " + std::to_string(known));
    }
};

class IntakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        StartIntake(50, false);
    }
    void TearDown() override { ResetCaptureStore(); }
    StoreNews rows;
};

TEST_F(IntakeTest, MalformedFramesAreDroppedWithoutReadingPastTheCapture) {
    struct Case {
        const char* what;
        FrameSpec frame;
        int capLenDelta;  // captured length relative to the built frame
        int shortCount;
    };
    FrameSpec tcp;
    tcp.payload = "GET / HTTP/1.1\r\n";
    FrameSpec udp = tcp;
    udp.protocol = 17;
    auto with = [](FrameSpec s, auto change) {
        change(s);
        return s;
    };
    const Case cases[] = {
        {"not IPv4 (ARP)", with(tcp, [](FrameSpec& s) { s.etherType = 0x0806; }), 0, 0},
        {"VLAN tag", with(tcp, [](FrameSpec& s) { s.etherType = 0x8100; }), 0, 0},
        {"ICMP", with(tcp, [](FrameSpec& s) { s.protocol = 1; }), 0, 0},
        // The length check comes before the protocol check: a short frame counts whatever it carries.
        {"ICMP, IP length beyond the capture", with(tcp, [](FrameSpec& s) { s.protocol = 1; }), -1, 1},
        {"IP length beyond the capture", tcp, -1, 1},
        {"IP length beyond the capture, UDP", udp, -5, 1},
        {"IHL below 5", with(tcp, [](FrameSpec& s) { s.ihlOverride = 4; }), 0, 0},
        {"IHL 0", with(udp, [](FrameSpec& s) { s.ihlOverride = 0; }), 0, 0},
        {"IHL past the IP packet", with(udp, [](FrameSpec& s) { s.ihlOverride = 15; }), 0, 0},
        {"TCP header length past the end",
         with(tcp,
              [](FrameSpec& s) {
                  s.tcpHeaderWords = 15;
                  s.payload.clear();
                  s.totalLengthDelta = -40;
              }),
         0, 0},
        {"TCP header length below 5", with(tcp, [](FrameSpec& s) { s.tcpHeaderWords = 4; }), 0, 0},
        {"TCP header cut by the IP length",
         with(tcp,
              [](FrameSpec& s) {
                  s.payload.clear();
                  s.totalLengthDelta = -8;
                  s.padding = 8;
              }),
         0, 0},
        {"UDP header cut by the IP length",
         with(udp,
              [](FrameSpec& s) {
                  s.payload.clear();
                  s.totalLengthDelta = -4;
                  s.padding = 4;
              }),
         0, 0},
    };
    for (const Case& c : cases) {
        ResetCaptureStore();
        g_captureState = CAPTURE_RUNNING;
        std::vector<uint8_t> frame = BuildFrame(c.frame);
        int capLen = static_cast<int>(frame.size()) + c.capLenDelta;
        // An exact-size heap copy lets the sanitizers catch any read past the captured bytes.
        std::vector<uint8_t> exact(frame.begin(), frame.begin() + capLen);
        FeedFrame(exact);
        rows.known = 0;
        rows.Take();
        EXPECT_EQ(g_packetTable.size(), 0u) << c.what;
        EXPECT_EQ(g_shortPacketCount.load(), c.shortCount) << c.what;
    }
    EXPECT_TRUE(rows.log.empty());
}

TEST_F(IntakeTest, LengthThresholds) {
    FrameSpec s;
    s.protocol = 17;
    const std::vector<uint8_t> frame = BuildFrame(s);  // 42 bytes
    // Exact-size heap copies: the sanitizers catch any read past the captured bytes.
    auto cut = [&](size_t n) { return std::vector<uint8_t>(frame.begin(), frame.begin() + n); };
    FeedFrame(cut(34));
    EXPECT_EQ(g_shortPacketCount.load(), 0) << "34 bytes are ignored before any check";
    FeedFrame(cut(35));
    EXPECT_EQ(g_shortPacketCount.load(), 1) << "35 bytes reach the length check";
    FeedFrame(frame);
    EXPECT_EQ(g_packetTable.size(), 1u);
}

TEST_F(IntakeTest, PayloadComesFromTheIpLengthNotThePadding) {
    FrameSpec s;
    s.protocol = 17;
    s.payload = "hi";
    s.padding = 16;  // Ethernet minimum-size padding
    FeedFrame(BuildFrame(s));
    ASSERT_EQ(g_packetTable.size(), 1u);
    const PacketRecord& p = g_packetTable[0];
    EXPECT_EQ(p.capLen, 60);
    EXPECT_EQ(p.payloadLen, 2);
    std::span<const uint8_t> payload = PacketPayload(p);
    EXPECT_EQ(std::string(payload.begin(), payload.end()), "hi");
}

TEST_F(IntakeTest, PortsFollowTheRealIpHeaderLength) {
    FrameSpec s;
    s.ipOptionsWords = 2;
    s.srcPort = 5555;
    s.dstPort = 443;
    s.tcpHeaderWords = 8;
    s.payload = "xyz";
    s.padding = 5;
    FeedFrame(BuildFrame(s));
    ASSERT_EQ(g_connectionTable.size(), 1u);
    EXPECT_EQ(g_connectionTable[0].ClientPort(), 5555);
    EXPECT_EQ(g_connectionTable[0].ServerPort(), 443);
    EXPECT_EQ(g_packetTable[0].payloadLen, 3);
    std::span<const uint8_t> payload = PacketPayload(g_packetTable[0]);
    EXPECT_EQ(std::string(payload.begin(), payload.end()), "xyz");
    EXPECT_EQ(ConnectionCellText(0, 4), "TCP:https");
}

TEST_F(IntakeTest, RowsAreInsertedOnceThenUpdated) {
    FrameSpec a;
    FrameSpec reply = a;
    std::swap(reply.src, reply.dst);
    std::swap(reply.srcPort, reply.dstPort);
    FrameSpec other = a;
    other.protocol = 17;
    FeedFrame(BuildFrame(a), 1700000000, 5000);
    rows.Take();
    FeedFrame(BuildFrame(reply), 1700000001, 250000);
    rows.Take();
    FeedFrame(BuildFrame(other), 1700000002, 0);
    rows.Take();
    EXPECT_EQ(rows.log, (std::vector<std::string>{"insert 0", "grew 0-0", "insert 1"}));
    const char* expected[] = {"0", "22:13:20.005", "10.0.0.1:1234", "10.0.0.2:80", "TCP:http",
                              "2", "22:13:21.250"};
    for (int column = 0; column < kConnectionColumns; ++column)
        EXPECT_EQ(ConnectionCellText(0, column), expected[column]) << column;
    EXPECT_EQ(ConnectionCellText(1, 4), "UDP");
}

TEST_F(IntakeTest, FileTimestampsBecomeLocalTime) {
    FrameSpec s;
    FeedFrame(BuildFrame(s), 0, 999999);
    const SystemTime t = g_packetTable[0].time();
    EXPECT_EQ(t.wYear, 1970);
    EXPECT_EQ(t.wMonth, 1);
    EXPECT_EQ(t.wDay, 1);
    EXPECT_EQ(t.wDayOfWeek, 4);
    EXPECT_EQ(TimeToText(t), "00:00:00.999");
}

TEST_F(IntakeTest, RulesDecideUnlessSkipped) {
    CFilterItem dropWeb;
    dropWeb.anyIp = 1;
    dropWeb.ports = {80};
    dropWeb.accept = 0;
    g_config.filters = {dropWeb};
    FrameSpec web, dns;
    dns.protocol = 17;
    dns.dstPort = 53;
    FeedFrame(BuildFrame(web));
    FeedFrame(BuildFrame(dns));
    EXPECT_EQ(g_packetTable.size(), 1u);
    EXPECT_EQ(ConnectionCellText(0, 4), "UDP:Domain");

    g_skipFilter = 1;
    FeedFrame(BuildFrame(web));
    EXPECT_EQ(g_packetTable.size(), 2u);
}

TEST_F(IntakeTest, LaterFragmentsJoinTheirDatagramsConnection) {
    FrameSpec first;
    first.protocol = 17;
    first.srcPort = 5000;
    first.dstPort = 53;
    first.payload = std::string(16, 'a');
    first.fragmentField = 0x2000;  // more fragments
    FrameSpec later = first;
    later.protocol = 17;
    later.fragmentField = 3;  // offset 24 bytes, last fragment
    // A later fragment carries no UDP header: its first bytes are data that must not be read as ports.
    FeedFrame(BuildFrame(first));
    std::vector<uint8_t> frag = BuildFrame(later);
    frag[34] = 0x12;  // would-be source port 0x1234
    FeedFrame(frag);
    ASSERT_EQ(g_connectionTable.size(), 1u);
    EXPECT_EQ(g_connectionTable[0].packetIndices.size(), 2u);
    EXPECT_EQ(g_packetTable[1].payloadLen, 8 + 16);
    EXPECT_EQ(g_packetTable[1].toServer.load(), 1);

    // A fragment of a datagram whose start was never seen is dropped.
    later.ipId = 0x4321;
    FeedFrame(BuildFrame(later));
    EXPECT_EQ(g_packetTable.size(), 2u);
}

// A later fragment joins only a first fragment that was stored in the current store, whatever the protocol.
TEST_F(IntakeTest, LaterFragmentsNeedTheirStoredFirstFragment) {
    struct Case {
        const char* what;
        int protocol;
        const char* steps;  // F first fragment, L later fragment, R the store is reset
        bool dropPort53;
        size_t packets;  // stored after the last reset
    } cases[] = {
        {"TCP pair", 6, "FL", false, 2},
        {"UDP pair", 17, "FL", false, 2},
        {"first dropped by a rule", 17, "FL", true, 0},
        {"first dropped by a rule, TCP", 6, "FL", true, 0},
        {"later before its first", 17, "LF", false, 1},
        {"store reset in between", 17, "FRL", false, 0},
        {"store reset in between, TCP", 6, "FRL", false, 0},
    };
    for (const Case& c : cases) {
        ResetCaptureStore();
        g_captureState = CAPTURE_RUNNING;
        g_config.filters.clear();
        if (c.dropPort53) {
            CFilterItem drop;
            drop.anyIp = 1;
            drop.ports = {53};
            drop.accept = 0;
            g_config.filters = {drop};
        }
        FrameSpec first;
        first.protocol = c.protocol;
        first.srcPort = 5000;
        first.dstPort = 53;
        first.payload = std::string(16, 'a');
        first.fragmentField = 0x2000;  // more fragments
        FrameSpec later = first;
        later.fragmentField = 5;  // offset 40 bytes, last fragment
        std::vector<uint8_t> laterFrame = BuildFrame(later);
        // Data where a transport header would be: read as ports it would make a connection of its own.
        laterFrame[34] = 0x77;
        laterFrame[36] = 0x66;
        for (char step : std::string(c.steps)) {
            if (step == 'F') {
                FeedFrame(BuildFrame(first));
            } else if (step == 'L') {
                FeedFrame(laterFrame);
            } else {
                ResetCaptureStore();
                g_captureState = CAPTURE_RUNNING;
            }
        }
        ASSERT_EQ(g_packetTable.size(), c.packets) << c.what;
        if (c.packets == 2) {
            ASSERT_EQ(g_connectionTable.size(), 1u) << c.what;
            const ConnectionRecord& conn = g_connectionTable[0];
            EXPECT_EQ(conn.isTcp, c.protocol == 6) << c.what;
            EXPECT_EQ(conn.ClientPort(), 5000) << c.what;
            EXPECT_EQ(conn.ServerPort(), 53) << c.what;
            ASSERT_EQ(conn.packetIndices.size(), 2u) << c.what;
            // The whole IP payload of the later fragment is its payload.
            const PacketRecord& p = g_packetTable[1];
            const int transport = c.protocol == 6 ? 20 : 8;
            EXPECT_EQ(p.payloadLen, transport + 16) << c.what;
            std::span<const uint8_t> payload = PacketPayload(p);
            ASSERT_EQ(payload.size(), static_cast<size_t>(transport + 16)) << c.what;
            EXPECT_EQ(payload[0], 0x77) << c.what;
        }
    }
    g_config.filters.clear();
}

TEST_F(IntakeTest, BufferLimitStopsFurtherIntakeRequests) {
    g_config.bufferMB = 1;
    FrameSpec s;
    s.protocol = 17;
    s.payload = std::string(1400, 'x');
    int stored = 0;
    while (g_captureState.load() == CAPTURE_RUNNING && stored < 10000) {
        FeedFrame(BuildFrame(s));
        ++stored;
    }
    EXPECT_EQ(g_captureState.load(), CAPTURE_STOPPING);
    EXPECT_GT(g_storedBytes.load(), 1 << 20);
    EXPECT_LE(g_storedBytes.load(), (1 << 20) + 1442);
}

}  // namespace
