// Rules with long port lists match as they always did, through the port look-ups built when the
// configuration loads, and a rule keeps its ports as typed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <vector>

#include "config/CaptureConfig.h"
#include "config_test_rules.h"

namespace {

using Ip = std::array<uint8_t, 4>;

// 17 ports (more than are scanned as they are), with duplicates and both ends of the range.
std::vector<uint16_t> LongList() {
    return {65535, 22, 0, 80, 22, 443, 8080, 1, 2, 3, 4, 5, 6, 7, 8, 65535, 9000};
}

std::vector<uint16_t> Range(uint16_t from, uint16_t to) {
    std::vector<uint16_t> ports(static_cast<size_t>(to - from) + 1);
    std::iota(ports.begin(), ports.end(), from);
    return ports;
}

CCaptureConfig Config(std::vector<CFilterItem> rules, int32_t defaultAccept) {
    CCaptureConfig c;
    c.bufferMB = 50;
    c.defaultAccept = defaultAccept;
    c.filters = std::move(rules);
    return c;
}

TEST(PortLookup, MatchingIsUnchanged) {
    const Ip a = {10, 0, 0, 1}, b = {10, 0, 0, 2}, other = {192, 0, 2, 7};
    const CFilterItem dropLong = MakeRule(1, 0, 0, {0, 0, 0, 0}, LongList());
    const CFilterItem acceptLongAtA = MakeRule(0, 0, 1, a, LongList());
    // As many ports as are scanned as they are, and one more.
    constexpr auto kLast = static_cast<uint16_t>(100 + CPortLookup::kScannedPorts - 1);
    const CFilterItem acceptScanned = MakeRule(1, 0, 1, {0, 0, 0, 0}, Range(100, kLast));
    const CFilterItem acceptLooked = MakeRule(1, 0, 1, {0, 0, 0, 0}, Range(100, kLast + 1));
    const CFilterItem dropHigh = MakeRule(1, 0, 0, {0, 0, 0, 0}, Range(30000, 65535));
    const CFilterItem anyPortKeepsList = MakeRule(1, 1, 0, {0, 0, 0, 0}, Range(1, 100));
    struct Case {
        const char* what;
        std::vector<CFilterItem> rules;
        int32_t defaultAccept;
        Ip src, dst;
        uint16_t srcPort, dstPort;
        int32_t expected;
    } cases[] = {
        {"listed destination port", {dropLong}, 1, a, b, 5555, 443, 0},
        {"listed source port", {dropLong}, 1, a, b, 443, 5555, 0},
        {"port 0", {dropLong}, 1, a, b, 0, 5555, 0},
        {"port 65535", {dropLong}, 1, a, b, 5555, 65535, 0},
        {"a port listed twice", {dropLong}, 1, a, b, 22, 5555, 0},
        {"the last port listed", {dropLong}, 1, a, b, 5555, 9000, 0},
        {"unlisted ports", {dropLong}, 1, a, b, 5555, 9001, 1},
        {"unlisted ports, drop by default", {dropLong}, 0, a, b, 5555, 9001, 0},
        {"listed port at the rule's address", {acceptLongAtA}, 0, b, a, 8080, 5555, 1},
        {"listed port elsewhere", {acceptLongAtA}, 0, b, other, 8080, 5555, 0},
        {"scanned ports, the last", {acceptScanned}, 0, a, b, 5555, kLast, 1},
        {"scanned ports, one past", {acceptScanned}, 0, a, b, 5555, kLast + 1, 0},
        {"one port more, the last", {acceptLooked}, 0, a, b, 5555, kLast + 1, 1},
        {"one port more, one past", {acceptLooked}, 0, a, b, 5555, kLast + 2, 0},
        {"a long range, inside", {dropHigh, acceptLooked}, 1, a, b, 40000, 100, 0},
        {"a long range, below it the next rule", {dropHigh, acceptLooked}, 0, a, b, 29999, 100, 1},
        {"any port with a list kept", {anyPortKeepsList}, 1, a, b, 5555, 6666, 0},
        {"first rule decides", {acceptLooked, dropLong}, 1, a, b, 8, kLast + 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CCaptureConfig config = Config(c.rules, c.defaultAccept);
        // As typed, without look-ups: the reference.
        EXPECT_EQ(config.MatchPacket(c.src.data(), c.dst.data(), c.srcPort, c.dstPort), c.expected);
        config.PrepareMatching();
        EXPECT_EQ(config.MatchPacket(c.src.data(), c.dst.data(), c.srcPort, c.dstPort), c.expected);
        // Loaded from its bytes, as at start-up.
        CArchive out;
        config.SerializeConfig(out);
        CCaptureConfig loaded;
        CArchive in(std::span(out.Bytes()));
        loaded.SerializeConfig(in);
        EXPECT_EQ(loaded.MatchPacket(c.src.data(), c.dst.data(), c.srcPort, c.dstPort), c.expected);
        // A copy, and a copy whose rules were replaced since: look-ups of other lists are not used.
        CCaptureConfig copy = loaded;
        EXPECT_EQ(copy.MatchPacket(c.src.data(), c.dst.data(), c.srcPort, c.dstPort), c.expected);
        loaded.filters = {MakeRule(1, 0, 1, {0, 0, 0, 0}, Range(c.dstPort, c.dstPort))};
        EXPECT_EQ(loaded.MatchPacket(c.src.data(), c.dst.data(), c.srcPort, c.dstPort), 1);
    }
}

// The look-up is beside the rule, not in it: the bytes stored and the text shown keep every port as typed.
TEST(PortLookup, TheRuleKeepsItsPortsAsTyped) {
    CCaptureConfig config = Config({MakeRule(1, 0, 1, {0, 0, 0, 0}, LongList(), "long")}, 1);
    CArchive before;
    config.SerializeConfig(before);
    CArchive in(std::span(before.Bytes()));
    CCaptureConfig loaded;
    loaded.SerializeConfig(in);
    EXPECT_EQ(loaded.filters[0].ports, LongList());
    CArchive after;
    loaded.SerializeConfig(after);
    EXPECT_EQ(after.Bytes(), before.Bytes());
    std::string signature;
    loaded.filters[0].GetSignature(signature);
    EXPECT_EQ(signature, "Accept packets with port including 65535, 22, 0, 80, 22 or 443...");
}

// A legal Config.cfg with one rule of eight million ports: a packet costs what it costs with few ports
// (scanning them took some 10 ms a packet).
TEST(PortLookup, ThePerPacketCostDoesNotGrowWithThePorts) {
    std::vector<uint16_t> ports(8'000'000);
    for (size_t i = 0; i < ports.size(); ++i)
        ports[i] = static_cast<uint16_t>(1000 + i % 20000);
    CCaptureConfig config = Config({MakeRule(1, 0, 0, {0, 0, 0, 0}, std::move(ports))}, 1);
    CArchive bytes;
    config.SerializeConfig(bytes);
    CArchive in(std::span(bytes.Bytes()));
    CCaptureConfig loaded;
    loaded.SerializeConfig(in);
    const Ip a = {10, 0, 0, 1}, b = {10, 0, 0, 2};
    int32_t accepted = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i)
        accepted += loaded.MatchPacket(a.data(), b.data(), 40000, static_cast<uint16_t>(50000 + i));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(accepted, 1000);
    EXPECT_LT(seconds, 0.5) << "1000 packets against eight million ports";
}

// 300,000 rules of one address and port each, then a catch-all: a packet looks up at most eight index
// entries, where trying the rules in turn tried all of them (bench_rules shows the time).
TEST(PortLookup, APacketLooksUpAFewEntriesWhateverTheNumberOfRules) {
    std::vector<CFilterItem> rules;
    for (uint32_t i = 0; i < 300'000; ++i)
        rules.push_back(
            MakeRule(0, 0, 1, {10, 1, uint8_t(i >> 8), uint8_t(i)}, {uint16_t(1000 + i % 20000)}));
    rules.push_back(MakeRule(1, 1, 0, {0, 0, 0, 0}, {}));
    CCaptureConfig config = Config(std::move(rules), 1);
    config.PrepareMatching();
    const Ip a = {10, 0, 0, 1}, b = {10, 0, 0, 2}, rule1200 = {10, 1, 4, 176};
    uint32_t looked = 0;
    int32_t accepted = config.MatchPacket(a.data(), rule1200.data(), 40000, 2200, looked);
    for (int i = 0; i < 1000; ++i)
        accepted += config.MatchPacket(a.data(), b.data(), 40000, static_cast<uint16_t>(50000 + i), looked);
    EXPECT_EQ(accepted, 1);
    EXPECT_LE(looked, 8u * 1001);
}

// The index finds the rule the rules in turn find, whatever mix of addresses, ports and actions they hold.
TEST(PortLookup, TheIndexFindsTheFirstMatchingRule) {
    std::srand(7);
    for (int set = 0; set < 200; ++set) {
        std::vector<CFilterItem> rules(static_cast<size_t>(std::rand() % 40));
        for (CFilterItem& r : rules)
            r = MakeRule(std::rand() % 3 == 0, std::rand() % 4 == 0, std::rand() % 2,
                         {10, 0, 0, uint8_t(std::rand() % 4)},
                         {uint16_t(std::rand() % 6), uint16_t(std::rand() % 6)});
        const CCaptureConfig inTurn = Config(rules, set % 2);
        CCaptureConfig indexed = inTurn;
        indexed.PrepareMatching();
        for (int p = 0; p < 50; ++p) {
            const Ip s = {10, 0, 0, uint8_t(std::rand() % 5)}, d = {10, 0, 0, uint8_t(std::rand() % 5)};
            const auto sp = uint16_t(std::rand() % 7), dp = uint16_t(std::rand() % 7);
            ASSERT_EQ(indexed.MatchPacket(s.data(), d.data(), sp, dp),
                      inTurn.MatchPacket(s.data(), d.data(), sp, dp));
            ASSERT_EQ(indexed.MatchPacketIpv6(sp, dp), inTurn.MatchPacketIpv6(sp, dp));
        }
    }
}

}  // namespace
