// The wider intake: IPv6, VLAN tags and Linux cooked frames when the option is on; nothing of it when off.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "WideFrames.h"
#include "capture/CaptureFile.h"
#include "capture/Format.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "views/WideDecode.h"

namespace {

std::string PayloadText(const PacketRecord& p) {
    std::span<const uint8_t> payload = PacketPayload(p);
    return {payload.begin(), payload.end()};
}

class WideIntakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        StartIntake(50, false);
        g_config.wideIntake = 1;
    }
    void TearDown() override {
        ResetCaptureStore();
        g_config = CCaptureConfig();
    }
};

Ipv6Spec Http6() {
    Ipv6Spec s;
    s.payload = "GET / HTTP/1.1\r\n";
    return s;
}

TEST_F(WideIntakeTest, KeepsIpv6TaggedAndCookedFramesWithTheirEndpointsAndPayload) {
    FrameSpec v4;
    v4.payload = "GET / HTTP/1.1\r\n";
    Ipv6Spec udp6 = Http6();
    udp6.protocol = 17;
    udp6.dstPort = 53;
    Ipv6Spec ext6 = Http6();
    ext6.extensions = {0, 60, 43};
    ext6.extensionWords = 1;
    struct Case {
        const char* what;
        LinkSpec link;
        std::vector<uint8_t> packet;
        const char* client;
        const char* server;
        const char* service;
    };
    const std::vector<uint8_t> tcp6 = Ipv6Packet(Http6());
    const Case cases[] = {
        {"IPv6 TCP",
         {kLinkEthernet, {}, 0x86DD, 0},
         tcp6,
         "[2001:db8::1]:1234",
         "[2001:db8::2]:80",
         "TCP:http"},
        {"IPv6 UDP, padded",
         {kLinkEthernet, {}, 0x86DD, 6},
         Ipv6Packet(udp6),
         "[2001:db8::1]:1234",
         "[2001:db8::2]:53",
         "UDP:Domain"},
        {"IPv6 behind hop-by-hop, destination options and routing headers",
         {kLinkEthernet, {}, 0x86DD, 0},
         Ipv6Packet(ext6),
         "[2001:db8::1]:1234",
         "[2001:db8::2]:80",
         "TCP:http"},
        {"one 802.1Q tag, IPv4",
         {kLinkEthernet, {0x2064}, 0x0800, 0},
         Ipv4Packet(v4),
         "10.0.0.1:1234",
         "10.0.0.2:80",
         "TCP:http"},
        {"802.1ad and 802.1Q tags, IPv6",
         {kLinkEthernet, {0x000A, 0x0064}, 0x86DD, 0},
         tcp6,
         "[2001:db8::1]:1234",
         "[2001:db8::2]:80",
         "TCP:http"},
        {"Linux cooked, IPv4",
         {kLinkLinuxCooked, {}, 0x0800, 0},
         Ipv4Packet(v4),
         "10.0.0.1:1234",
         "10.0.0.2:80",
         "TCP:http"},
        {"Linux cooked, tagged IPv6",
         {kLinkLinuxCooked, {0x0064}, 0x86DD, 0},
         tcp6,
         "[2001:db8::1]:1234",
         "[2001:db8::2]:80",
         "TCP:http"},
        {"Linux cooked v2, IPv6",
         {kLinkLinuxCooked2, {}, 0x86DD, 0},
         tcp6,
         "[2001:db8::1]:1234",
         "[2001:db8::2]:80",
         "TCP:http"},
    };
    for (const Case& c : cases) {
        ResetCaptureStore();
        g_captureState = CAPTURE_RUNNING;
        g_storeLinkType = c.link.linkType;
        FeedLinkFrame(c.link.linkType, WrapPacket(c.link, c.packet));
        ASSERT_EQ(g_packetTable.size(), 1u) << c.what;
        ASSERT_EQ(g_connectionTable.size(), 1u) << c.what;
        EXPECT_EQ(ConnectionCellText(0, 2), c.client) << c.what;
        EXPECT_EQ(ConnectionCellText(0, 3), c.server) << c.what;
        EXPECT_EQ(ConnectionCellText(0, 4), c.service) << c.what;
        const std::string expected = c.service[0] == 'U' ? udp6.payload : v4.payload;
        EXPECT_EQ(PayloadText(g_packetTable[0]), expected) << c.what;
        EXPECT_EQ(g_notKeptCount.load(), 0) << c.what;
    }
}

// The one frame parser: every kind of frame the intake reads, whole, padded, and cut at every length.
TEST(FrameLayoutTest, PlacesEveryHeaderAndNeverReadsPastACutFrame) {
    FrameSpec v4, options, first4, later4;
    v4.payload = options.payload = first4.payload = later4.payload = "data";
    options.ipOptionsWords = 2;
    options.protocol = 17;
    first4.fragmentField = 0x2000;
    later4.fragmentField = 0x0004;
    auto v6 = [](std::vector<uint8_t> extensions, uint16_t offset = 0) {
        Ipv6Spec s = Http6();
        s.extensions = std::move(extensions);
        s.extensionWords = 1;
        s.fragmentOffset = offset;
        s.moreFragments = offset == 0;
        return Ipv6Packet(s);
    };
    const LinkSpec eth4{kLinkEthernet, {}, 0x0800, 0}, eth6{kLinkEthernet, {}, 0x86DD, 0};
    struct Case {
        const char* what;
        LinkSpec link;
        std::vector<uint8_t> packet;
        uint32_t ip, transport, payload;
        int extensions;
        char fragment;  // '-' none, 'F' first, 'L' later
    } cases[] = {
        {"Ethernet, IPv4", eth4, Ipv4Packet(v4), 14, 34, 54, 0, '-'},
        {"IPv4 options, UDP", eth4, Ipv4Packet(options), 14, 42, 50, 0, '-'},
        {"one tag", {kLinkEthernet, {0x64}, 0x0800, 0}, Ipv4Packet(v4), 18, 38, 58, 0, '-'},
        {"two tags, IPv6", {kLinkEthernet, {1, 2}, 0x86DD, 0}, v6({}), 22, 62, 82, 0, '-'},
        {"cooked v1", {kLinkLinuxCooked, {}, 0x0800, 0}, Ipv4Packet(v4), 16, 36, 56, 0, '-'},
        {"cooked v2", {kLinkLinuxCooked2, {}, 0x86DD, 0}, v6({}), 20, 60, 80, 0, '-'},
        {"hop-by-hop", eth6, v6({0}), 14, 70, 90, 1, '-'},
        {"routing", eth6, v6({43}), 14, 70, 90, 1, '-'},
        {"destination options", eth6, v6({60}), 14, 70, 90, 1, '-'},
        {"IPv6 first fragment", eth6, v6({0, 43, 60, 44}), 14, 110, 130, 4, 'F'},
        {"IPv6 later fragment", eth6, v6({44}, 4), 14, 62, 62, 1, 'L'},
        {"IPv4 first fragment", eth4, Ipv4Packet(first4), 14, 34, 54, 0, 'F'},
        {"IPv4 later fragment", eth4, Ipv4Packet(later4), 14, 34, 34, 0, 'L'},
    };
    for (const Case& c : cases) {
        const bool ipv6 = c.link.etherType == 0x86DD;
        std::vector<uint8_t> frame = WrapPacket(c.link, c.packet);
        const auto size = static_cast<uint32_t>(frame.size());
        frame.resize(size + 6, 0xEE);  // Ethernet padding: no part of the IP packet
        for (uint32_t n = 0; n <= size + 6; ++n) {
            const std::vector<uint8_t> cut(frame.begin(), frame.begin() + n);  // exact, for the sanitizers
            FrameLayout f, fast;
            const FrameVerdict v = ParseFrame(c.link.linkType, cut.data(), n, f);
            const bool dropped = n < c.ip || (!ipv6 && n <= c.ip + 20);
            ASSERT_EQ(v, n >= size ? FrameVerdict::Kept
                         : dropped ? FrameVerdict::Dropped
                                   : FrameVerdict::Short)
                << c.what << ", " << n << " bytes";
            // The intake's own path gives the same for plain Ethernet IPv4.
            if (c.link.linkType == kLinkEthernet && !ipv6 && c.link.tags.empty())
                EXPECT_TRUE(ParseEthernetIpv4(cut.data(), n, fast) == v && fast.payloadLen == f.payloadLen);
            if (v == FrameVerdict::Kept)
                EXPECT_EQ(std::tuple(f.family, f.tagCount, f.extensionCount, f.ip, f.transport, f.payload,
                                     f.ipEnd, f.payloadLen, f.firstFragment, f.laterFragment),
                          std::tuple(ipv6 ? 6 : 4, int(c.link.tags.size()), c.extensions, c.ip, c.transport,
                                     c.payload, size, int32_t(size - c.payload), c.fragment == 'F',
                                     c.fragment == 'L'))
                    << c.what;
        }
    }
    FrameLayout f;
    EXPECT_EQ(ParseFrame(101, nullptr, 0, f), FrameVerdict::OtherFamily);  // raw IP: no link type read
}

TEST_F(WideIntakeTest, BadFramesAreDroppedWithoutReadingPastTheCapture) {
    struct Case {
        const char* what;
        LinkSpec link;
        std::vector<uint8_t> packet;
        int capLenDelta;
        int shortCount;
        int notKept;
    };
    auto with = [](Ipv6Spec s, auto change) {
        change(s);
        return Ipv6Packet(s);
    };
    const LinkSpec eth6{kLinkEthernet, {}, 0x86DD, 0};
    std::vector<uint8_t> chain = with(Http6(), [](Ipv6Spec& s) { s.extensions.assign(255, 60); });
    std::vector<uint8_t> jumbo = with(Http6(), [](Ipv6Spec& s) { s.extensions = {0}; });
    jumbo[4] = jumbo[5] = 0;
    const Case cases[] = {
        {"IPv6 header cut off", eth6, Ipv6Packet(Http6()), -50, 1, 0},
        {"IPv6 payload length past the capture", eth6, Ipv6Packet(Http6()), -1, 1, 0},
        {"extension chain cut off by the capture", eth6,
         with(Http6(),
              [](Ipv6Spec& s) {
                  s.extensions = {0};
                  s.payload.clear();
                  s.protocol = 59;
              }),
         -4, 1, 0},
        {"extension header length past the frame", eth6,
         with(Http6(),
              [](Ipv6Spec& s) {
                  s.extensions = {60};
                  s.extensionWords = 40;
                  s.payloadLengthDelta = -(40 * 8) + 8;
                  s.payload.clear();
              }),
         -(40 * 8) + 8 - 20, 1, 0},
        {"extension header length past the IP packet, inside padding",
         {kLinkEthernet, {}, 0x86DD, 64},
         with(Http6(),
              [](Ipv6Spec& s) {
                  s.extensions = {60};
                  s.extensionWords = 6;
                  s.payloadLengthDelta = -40;
                  s.payload.clear();
              }),
         0,
         0,
         0},
        {"255 chained extension headers", eth6, chain, 0, 0, 1},
        {"nine chained extension headers", eth6,
         with(Http6(), [](Ipv6Spec& s) { s.extensions.assign(9, 60); }), 0, 0, 1},
        {"a jumbogram", eth6, jumbo, 0, 0, 1},
        {"ICMPv6", eth6, with(Http6(), [](Ipv6Spec& s) { s.protocol = 58; }), 0, 0, 0},
        {"version 4 behind the IPv6 type", eth6, with(Http6(), [](Ipv6Spec& s) { s.version = 4; }), 0, 0, 0},
        {"TCP header cut by the payload length", eth6,
         with(Http6(),
              [](Ipv6Spec& s) {
                  s.payload.clear();
                  s.payloadLengthDelta = -4;
              }),
         0, 0, 0},
        {"a VLAN tag at the end of the frame", {kLinkEthernet, {0x0064}, 0x86DD, 0}, {}, -2, 0, 0},
        {"three tags", {kLinkEthernet, {1, 2, 3}, 0x86DD, 0}, Ipv6Packet(Http6()), 0, 0, 1},
        {"ARP", {kLinkEthernet, {}, 0x0806, 0}, std::vector<uint8_t>(28, 0), 0, 0, 1},
        {"cooked header with an unknown protocol",
         {kLinkLinuxCooked, {}, 0x0004, 0},
         std::vector<uint8_t>(40, 0),
         0,
         0,
         1},
        {"cooked header cut off", {kLinkLinuxCooked2, {}, 0x86DD, 0}, {}, -1, 0, 0},
    };
    for (const Case& c : cases) {
        ResetCaptureStore();
        g_captureState = CAPTURE_RUNNING;
        const std::vector<uint8_t> frame = WrapPacket(c.link, c.packet);
        const int capLen = static_cast<int>(frame.size()) + c.capLenDelta;
        ASSERT_GT(capLen, 0) << c.what;
        // An exact-size heap copy lets the sanitizers catch any read past the captured bytes.
        const std::vector<uint8_t> exact(frame.begin(), frame.begin() + capLen);
        FeedLinkFrame(c.link.linkType, exact);
        EXPECT_EQ(g_packetTable.size(), 0u) << c.what;
        EXPECT_EQ(g_shortPacketCount.load(), c.shortCount) << c.what;
        EXPECT_EQ(g_notKeptCount.load(), c.notKept) << c.what;
        // The decode of such a frame stays inside it as well.
        for (const DecodeLine& l : DecodeFrame(c.link.linkType, exact.data(), exact.size()))
            EXPECT_LE(l.range.offset + l.range.length, capLen) << c.what << ": " << l.text;
    }
}

TEST_F(WideIntakeTest, ALengthOfZeroIsTheFrameOnlyWhereOffloadMadeAPacketAbove64KiB) {
    // Segmentation offload hands over packets above 64 KiB with an IP length of 0 and the frame's own.
    auto v4 = [](size_t payload) {
        FrameSpec s;
        s.payload.assign(payload, 'x');
        s.totalLengthDelta = -static_cast<int>(payload + 40);
        return BuildFrame(s);
    };
    auto v6 = [](size_t payload) {
        Ipv6Spec s = Http6();
        s.payload.assign(payload, 'x');
        s.payloadLengthDelta = -static_cast<int>(payload + 20);
        return WrapPacket({kLinkEthernet, {}, 0x86DD, 0}, Ipv6Packet(s));
    };
    const struct Case {
        const char* what;
        std::vector<uint8_t> frame;
        int cut, kept, shortCount;
    } cases[] = {
        {"IPv4, 200,000 bytes of payload", v4(200000), 0, 1, 0},
        {"IPv4, cut by the capture", v4(200000), 1, 0, 1},
        {"IPv4, a small frame", v4(100), 0, 0, 0},
        {"IPv6, 200,000 bytes of payload", v6(200000), 0, 1, 0},
        {"IPv6, cut by the capture", v6(200000), 1, 0, 1},
        {"IPv6, a small frame", v6(100), 0, 0, 0},
    };
    for (const Case& c : cases) {
        ResetCaptureStore();
        g_captureState = CAPTURE_RUNNING;
        FeedLinkFrame(kLinkEthernet, c.frame, static_cast<int>(c.frame.size()) - c.cut);
        ASSERT_EQ(g_packetTable.size(), size_t(c.kept)) << c.what;
        EXPECT_EQ(g_shortPacketCount.load(), c.shortCount) << c.what;
        if (c.kept) {
            EXPECT_EQ(PayloadText(g_packetTable[0]), std::string(200000, 'x')) << c.what;
        }
    }
}

TEST_F(WideIntakeTest, WithTheOptionOffOnlyPlainIpv4IsKeptAndTheRestIsCountedAsNotKept) {
    g_config.wideIntake = 0;
    FrameSpec v4;
    FrameSpec icmp;
    icmp.protocol = 1;
    FeedFrame(BuildFrame(v4));
    FeedFrame(BuildFrame(icmp));  // IPv4 all the same: not counted
    FeedLinkFrame(kLinkEthernet, WrapPacket({kLinkEthernet, {}, 0x86DD, 0}, Ipv6Packet(Http6())));
    FeedLinkFrame(kLinkEthernet, WrapPacket({kLinkEthernet, {0x64}, 0x0800, 0}, Ipv4Packet(v4)));
    FeedLinkFrame(kLinkEthernet, WrapPacket({kLinkEthernet, {}, 0x0806, 0}, std::vector<uint8_t>(28, 0)));
    EXPECT_EQ(g_packetTable.size(), 1u);
    EXPECT_EQ(g_notKeptCount.load(), 3);
    // Cooked frames cannot be read at all then.
    EXPECT_EQ(IntakeHandlerFor(kLinkLinuxCooked, PacketHandler), nullptr);
    EXPECT_EQ(IntakeHandlerFor(kLinkLinuxCooked2, PacketHandler), nullptr);
    EXPECT_EQ(IntakeHandlerFor(kLinkEthernet, PacketHandler), &PacketHandler);
    ResetCaptureStore();
    EXPECT_EQ(g_notKeptCount.load(), 0);
}

TEST_F(WideIntakeTest, Ipv6FragmentsFollowTheirFirstFragment) {
    Ipv6Spec first = Http6();
    first.extensions = {44};
    first.moreFragments = true;
    first.fragmentId = 0xABCDEF01;
    Ipv6Spec later = first;
    later.fragmentOffset = 4;
    later.moreFragments = false;
    later.payload = "rest of the datagram";
    Ipv6Spec stray = later;
    stray.fragmentId = 99;
    const LinkSpec eth6{kLinkEthernet, {}, 0x86DD, 0};
    FeedLinkFrame(kLinkEthernet, WrapPacket(eth6, Ipv6Packet(stray)));
    EXPECT_EQ(g_packetTable.size(), 0u) << "a later fragment whose first was not seen is dropped";
    FeedLinkFrame(kLinkEthernet, WrapPacket(eth6, Ipv6Packet(first)));
    FeedLinkFrame(kLinkEthernet, WrapPacket(eth6, Ipv6Packet(later)));
    ASSERT_EQ(g_packetTable.size(), 2u);
    ASSERT_EQ(g_connectionTable.size(), 1u);
    EXPECT_EQ(g_connectionTable[0].packetIndices.size(), 2u);
    EXPECT_EQ(g_connectionTable[0].isTcp, 1);
    EXPECT_EQ(PayloadText(g_packetTable[1]), later.payload);
    // The later fragment shows no transport header: its first bytes are data.
    const std::string text =
        DecodeAsText(DecodeFrame(kLinkEthernet, g_packetTable[1].data, g_packetTable[1].capLen));
    EXPECT_NE(text.find("Fragment Header"), std::string::npos);
    EXPECT_EQ(text.find("TCP Header"), std::string::npos);
    // Tagged IPv4 fragments follow their first fragment too.
    FrameSpec v4first;
    v4first.fragmentField = 0x2000;
    FrameSpec v4later = v4first;
    v4later.fragmentField = 0x0004;
    v4later.protocol = 6;
    const LinkSpec tagged{kLinkEthernet, {0x64}, 0x0800, 0};
    FeedLinkFrame(kLinkEthernet, WrapPacket(tagged, Ipv4Packet(v4first)));
    FeedLinkFrame(kLinkEthernet, WrapPacket(tagged, Ipv4Packet(v4later)));
    ASSERT_EQ(g_connectionTable.size(), 2u);
    EXPECT_EQ(g_connectionTable[1].packetIndices.size(), 2u);
}

TEST_F(WideIntakeTest, ConnectionsNeverMixFamiliesAndKeepTheFirstSender) {
    // 10.0.0.1 and 2001:db8::a00:1 share their last four bytes; the same ports on both families.
    Ipv6Spec s = Http6();
    s.src[12] = 10;
    s.src[15] = 1;
    s.dst[12] = 10;
    s.dst[15] = 2;
    FrameSpec v4;
    const LinkSpec eth6{kLinkEthernet, {}, 0x86DD, 0};
    FeedFrame(BuildFrame(v4));
    FeedLinkFrame(kLinkEthernet, WrapPacket(eth6, Ipv6Packet(s)));
    Ipv6Spec reply = s;
    std::swap(reply.src, reply.dst);
    std::swap(reply.srcPort, reply.dstPort);
    FeedLinkFrame(kLinkEthernet, WrapPacket(eth6, Ipv6Packet(reply)));
    ASSERT_EQ(g_connectionTable.size(), 2u);
    EXPECT_EQ(ConnectionCellText(1, 2), "[2001:db8::a00:1]:1234");
    EXPECT_EQ(ConnectionCellText(1, 5), "2");
    EXPECT_EQ(g_packetTable[2].toServer.load(), 0);
    EXPECT_EQ(g_connectionTable[0].packetIndices.size(), 1u);
}

TEST_F(WideIntakeTest, RulesThatNameAnIpv4AddressNeverMatchIpv6) {
    auto rule = [](bool anyIp, std::vector<uint16_t> ports, bool accept) {
        CFilterItem r;
        r.name = "r";
        r.anyIp = anyIp;
        r.anyPort = ports.empty();
        r.ports = std::move(ports);
        r.accept = accept;
        return r;
    };
    struct Case {
        const char* what;
        std::vector<CFilterItem> rules;
        int32_t defaultAccept;
        size_t kept;
    };
    // 0.0.0.0 is what an IPv6 address would be if it were read as IPv4 bytes of zeros.
    const Case cases[] = {
        {"an address rule that drops everything", {rule(false, {}, false)}, 1, 1},
        {"an address rule that accepts everything, default drop", {rule(false, {}, true)}, 0, 0},
        {"any address, port 80, drop", {rule(true, {80}, false)}, 1, 0},
        {"any address, port 80, accept, default drop", {rule(true, {80}, true)}, 0, 1},
        {"any address, other port, drop", {rule(true, {443}, false)}, 1, 1},
        {"any address and port, drop", {rule(true, {}, false)}, 1, 0},
    };
    for (const Case& c : cases) {
        ResetCaptureStore();
        g_captureState = CAPTURE_RUNNING;
        g_config.filters = c.rules;
        g_config.defaultAccept = c.defaultAccept;
        FeedLinkFrame(kLinkEthernet, WrapPacket({kLinkEthernet, {}, 0x86DD, 0}, Ipv6Packet(Http6())));
        EXPECT_EQ(g_packetTable.size(), c.kept) << c.what;
    }
}

TEST_F(WideIntakeTest, DecodeShowsTagsIpv6ExtensionsAndCookedHeadersWithTheirBytes) {
    Ipv6Spec s = Http6();
    s.extensions = {0, 44};
    const std::vector<uint8_t> frame = WrapPacket({kLinkEthernet, {0x6064}, 0x86DD, 0}, Ipv6Packet(s));
    const std::string text = DecodeAsText(DecodeFrame(kLinkEthernet, frame.data(), frame.size()));
    const char* expected[] = {
        "  VLAN Tag\t[14,4]\n",
        "    Priority: 3\t[14,2]\n",
        "    DEI: 0\t[14,2]\n",
        "    VLAN ID: 100\t[14,2]\n",
        "    Type: 34525\t[16,2]\n",
        "  IPv6 Header\t[18,40]\n",
        "    Version: 6\t[18,1]\n",
        "    Traffic Class: 0\t[18,2]\n",
        "    Flow Label: 4660\t[19,3]\n",
        "    Payload Length: 52\t[22,2]\n",
        "    Next Header: 0\t[24,1]\n",
        "    Hop Limit: 64\t[25,1]\n",
        "    Src IP: 2001:db8::1\t[26,16]\n",
        "    Dst IP: 2001:db8::2\t[42,16]\n",
        "    Hop-by-Hop Options Header\t[58,8]\n",
        "    Fragment Header\t[66,8]\n",
        "      Identification: 7\t[70,4]\n",
        "  TCP Header\t[74,20]\n",
        "    Src Port: 1234\t[74,2]\n",
    };
    for (const char* line : expected)
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin\n" << text;
    EXPECT_EQ(text.rfind("Packet: 110 bytes\t[0,94]\n", 0), 0u) << text;

    const std::vector<uint8_t> cooked = WrapPacket({kLinkLinuxCooked2, {}, 0x86DD, 0}, Ipv6Packet(Http6()));
    const std::string cookedText = DecodeAsText(DecodeFrame(kLinkLinuxCooked2, cooked.data(), cooked.size()));
    for (const char* line :
         {"  Linux Cooked Header\t[0,20]\n", "    Protocol: 34525\t[0,2]\n",
          "    Interface Index: 3\t[4,4]\n", "  IPv6 Header\t[20,40]\n", "  TCP Header\t[60,20]\n"})
        EXPECT_NE(cookedText.find(line), std::string::npos) << line << "\nin\n" << cookedText;

    // A plain Ethernet IPv4 frame decodes exactly as before.
    FrameSpec v4;
    const std::vector<uint8_t> plain = BuildFrame(v4);
    EXPECT_EQ(DecodeAsText(DecodeFrame(kLinkEthernet, plain.data(), plain.size())),
              DecodeAsText(DecodePacket(plain.data(), plain.size())));
}

TEST_F(WideIntakeTest, SavingKeepsTheLinkTypeTheFramesCameWith) {
    g_storeLinkType = kLinkLinuxCooked;
    g_skipFilter = 1;
    FeedLinkFrame(kLinkLinuxCooked, WrapPacket({kLinkLinuxCooked, {}, 0x86DD, 0}, Ipv6Packet(Http6())));
    ASSERT_EQ(g_packetTable.size(), 1u);
    const std::string path =
        (std::filesystem::temp_directory_path() / ("pacterra-wide-" + std::to_string(::getpid()) + ".cap"))
            .string();
    ASSERT_EQ(SaveCaptureFile(g_packetTable, path, StandardErrorPrompts()), CommandResult::Done);
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(path.c_str(), error);
    ASSERT_NE(p, nullptr) << error;
    EXPECT_EQ(pcap_datalink(p), kLinkLinuxCooked);
    pcap_close(p);

    // Read back with the option on, the file gives the same connection.
    ResetCaptureStore();
    g_captureState = CAPTURE_RUNNING;
    ASSERT_EQ(LoadCaptureFile(PacketHandler, path, StandardErrorPrompts()), 1);
    EXPECT_EQ(g_storeLinkType.load(), kLinkLinuxCooked);
    ASSERT_EQ(g_connectionTable.size(), 1u);
    EXPECT_EQ(ConnectionCellText(0, 3), "[2001:db8::2]:80");
    std::filesystem::remove(path);
}

}  // namespace

namespace {

// The endpoint text is the C library's inet_ntop text (RFC 5952), written without printf.
TEST(Ipv6TextTest, MatchesInetNtop) {
    std::vector<std::array<uint8_t, 16>> addresses;
    auto parse = [&](const char* text) {
        std::array<uint8_t, 16> a{};
        ASSERT_EQ(::inet_pton(AF_INET6, text, a.data()), 1) << text;
        addresses.push_back(a);
    };
    for (const char* text : {"::", "::1", "1::", "2001:db8::1", "2001:db8:0:0:1:0:0:1", "2001:0:0:1:0:0:0:1",
                             "fe80::1:2:3:4", "::ffff:192.0.2.1", "::192.0.2.1", "::ffff:0:192.0.2.1",
                             "1:2:3:4:5:6:7:8", "0:1:2:3:4:5:6:0", "1:0:2:3:4:5:6:7", "64:ff9b::c000:221",
                             "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "::ffff:ffff:ffff"})
        parse(text);
    // Random words, each zero with probability one half: every shape of zero runs.
    uint64_t x = 42;
    for (int i = 0; i < 20000; ++i) {
        std::array<uint8_t, 16> a{};
        for (int w = 0; w < 8; ++w) {
            x = x * 6364136223846793005ull + 1442695040888963407ull;
            if ((x >> 63) == 0) {
                a[2 * w] = static_cast<uint8_t>(x >> 40);
                a[2 * w + 1] = static_cast<uint8_t>(x >> 32);
            }
        }
        addresses.push_back(a);
    }
    for (const auto& a : addresses) {
        char expected[INET6_ADDRSTRLEN];
        ASSERT_NE(::inet_ntop(AF_INET6, a.data(), expected, sizeof expected), nullptr);
        ASSERT_EQ(ZeroCompressedIpv6Text(a.data()), std::string_view(expected));
        ASSERT_EQ(Ipv6EndpointText(a.data(), 65535), "[" + std::string(expected) + "]:65535");
    }
}

}  // namespace
