// The configuration record: the Config.cfg bytes and the packet decision over the rule list.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <vector>

#include "config/CaptureConfig.h"
#include "config_alloc_probe.h"
#include "config_test_rules.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Ip = std::array<uint8_t, 4>;

CCaptureConfig Record(int32_t bufferMB, int32_t defaultAccept, std::vector<CFilterItem> rules) {
    CCaptureConfig c;
    c.bufferMB = bufferMB;
    c.defaultAccept = defaultAccept;
    c.filters = std::move(rules);
    return c;
}

void ExpectSameFilePart(const CCaptureConfig& got, const CCaptureConfig& want) {
    EXPECT_EQ(got.bufferMB, want.bufferMB);
    EXPECT_EQ(got.defaultAccept, want.defaultAccept);
    EXPECT_EQ(got.filters, want.filters);
}

Bytes Store(CCaptureConfig c) {
    CArchive ar;
    c.SerializeConfig(ar);
    return ar.Bytes();
}

CCaptureConfig Load(const Bytes& bytes) {
    CArchive ar(bytes);
    CCaptureConfig c;
    c.SerializeConfig(ar);
    return c;
}

// A record that no test file holds, to see that a failed load leaves it alone.
CCaptureConfig Sentinel() {
    return Record(77, 0, {MakeRule(1, 1, 0, {9, 9, 9, 9}, {9}, "sentinel")});
}

CCaptureConfig ThreeRules() {
    return Record(100, 0,
                  {MakeRule(0, 0, 1, {192, 168, 0, 1}, {80, 8080}, "web"),
                   MakeRule(1, 0, 0, {0, 0, 0, 0}, {21, 25}, "Z\xC3\xBCrich"),
                   MakeRule(0, 1, 1, {10, 0, 0, 1}, {}, std::string(300, 'x'))});
}

TEST(ConfigBytes, DefaultRecordIsSevenBytes) {
    const Bytes bytes = {0x32, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
    CCaptureConfig defaults;
    defaults.ApplyDefaults();
    EXPECT_EQ(Store(defaults), bytes);
    ExpectSameFilePart(Load(bytes), defaults);
}

TEST(ConfigBytes, RulesFollowTheHeaderInOrder) {
    const Bytes bytes = {0x64, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03, 0x77, 0x65, 0x62, 0x00,
                         0x00, 0x01, 0xC0, 0xA8, 0x00, 0x01, 0x02, 0x00, 0x50, 0x00, 0x90, 0x1F};
    CCaptureConfig c = Record(100, 0, {ThreeRules().filters[0]});
    EXPECT_EQ(Store(c), bytes);
    ExpectSameFilePart(Load(bytes), c);
    ExpectSameFilePart(Load(Store(ThreeRules())), ThreeRules());
}

TEST(ConfigBytes, RuleCountEscape) {
    struct Case {
        size_t rules;
        Bytes countBytes;
    };
    const Case cases[] = {
        {0xFFFE, {0xFE, 0xFF}},
        {0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {0x10001, {0xFF, 0xFF, 0x01, 0x00, 0x01, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rules);
        CCaptureConfig record = Record(50, 1, {});
        for (size_t i = 0; i < c.rules; ++i)
            record.filters.push_back(MakeRule(0, 0, i % 2, {1, 2, 3, static_cast<uint8_t>(i)}, {}, ""));
        Bytes bytes = Store(record);
        ASSERT_EQ(bytes.size(), 5 + c.countBytes.size() + 10 * c.rules);
        EXPECT_EQ(Bytes(bytes.begin() + 5, bytes.begin() + 5 + c.countBytes.size()), c.countBytes);
        ExpectSameFilePart(Load(bytes), record);
    }
}

TEST(ConfigBytes, EveryPrefixOfAValidFileFailsAndChangesNothing) {
    const Bytes full = Store(ThreeRules());
    for (size_t n = 0; n < full.size(); ++n) {
        SCOPED_TRACE(n);
        Bytes prefix(full.begin(), full.begin() + n);
        CArchive ar(prefix);
        CCaptureConfig c = Sentinel();
        EXPECT_THROW(c.SerializeConfig(ar), ArchiveError);
        ExpectSameFilePart(c, Sentinel());
    }
}

TEST(ConfigBytes, MalformedFilesFailWithoutLargeAllocations) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Bytes head = {0x32, 0x00, 0x00, 0x00, 0x01};
    const Bytes minimalRule = {0x00, 0x00, 0x00, 0x01, 1, 2, 3, 4, 0x00, 0x00};
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const auto& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const Case cases[] = {
        {"count 0xFFFF escape, nothing behind", cat({head, {0xFF, 0xFF}})},
        {"count 0xFFFF, no rules", cat({head, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}})},
        {"count 0xFFFFFFFF, no rules", cat({head, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}})},
        {"count 0xFFFFFFFF, one rule", cat({head, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, minimalRule})},
        {"count 0xFFFE, no rules", cat({head, {0xFE, 0xFF}})},
        {"count 2, one rule and 9 bytes", cat({head, {0x02, 0x00}, minimalRule, Bytes(9, 0)})},
        {"count 1, a rule that claims 0xFFFFFFFF ports",
         cat({head, {0x01, 0x00}, {0x00, 0x00, 0x00, 0x01, 1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CArchive ar(c.bytes);
        CCaptureConfig record = Sentinel();
        size_t largest = 0;
        bool threw = false;
        {
            AllocProbe probe;
            try {
                record.SerializeConfig(ar);
            } catch (const ArchiveError&) {
                threw = true;
            }
            largest = probe.Largest();
        }
        EXPECT_TRUE(threw);
        EXPECT_LT(largest, 4096u);
        ExpectSameFilePart(record, Sentinel());
    }
}

// Nothing is read after the last rule, so bytes there change nothing (files that always loaded still do).
TEST(ConfigBytes, BytesAfterTheLastRuleAreIgnored) {
    CCaptureConfig saved;
    saved.bufferMB = 77;
    saved.defaultAccept = 0;
    CFilterItem rule;
    rule.name = "web";
    rule.ports = {80};
    saved.filters = {rule};
    CArchive out;
    saved.SerializeConfig(out);
    std::vector<uint8_t> bytes = out.Bytes();
    bytes.insert(bytes.end(), {0x00, 0xFF, 0x17});
    CArchive in(bytes);
    CCaptureConfig loaded;
    loaded.SerializeConfig(in);
    EXPECT_EQ(loaded.bufferMB, 77);
    EXPECT_EQ(loaded.defaultAccept, 0);
    EXPECT_EQ(loaded.filters, saved.filters);
}

TEST(ConfigBytes, BufferSizeIsClampedOnLoad) {
    struct Case {
        int32_t stored;
        int32_t loaded;
    };
    const Case cases[] = {{0, 1},     {-1, 1},    {INT32_MIN, 1}, {1, 1},          {50, 50},
                          {200, 200}, {201, 200}, {4096, 200},    {INT32_MAX, 200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        auto v = static_cast<uint32_t>(c.stored);
        Bytes bytes = {static_cast<uint8_t>(v),
                       static_cast<uint8_t>(v >> 8),
                       static_cast<uint8_t>(v >> 16),
                       static_cast<uint8_t>(v >> 24),
                       0x01,
                       0x00,
                       0x00};
        EXPECT_EQ(Load(bytes).bufferMB, c.loaded);
    }
}

TEST(ConfigBytes, PolicyByteAboveOneLoadsWidenedAndAccepts) {
    CCaptureConfig c = Load({0x32, 0x00, 0x00, 0x00, 0xC8, 0x00, 0x00});
    EXPECT_EQ(c.defaultAccept, 200);
    Ip a = {1, 1, 1, 1};
    EXPECT_EQ(c.MatchPacket(a.data(), a.data(), 1, 2), 1);
}

TEST(ConfigBytes, PolicyOutsideAByteIsStoredAsSet) {
    EXPECT_EQ(Store(Record(50, 256, {}))[4], 1);
    EXPECT_EQ(Store(Record(50, -1, {}))[4], 1);
}

TEST(MatchPacket, RuleOrderAndDefaultPolicy) {
    const Ip a = {10, 0, 0, 1}, b = {192, 168, 0, 1}, c = {172, 16, 0, 9};
    const CFilterItem dropA = MakeRule(0, 1, 0, a, {});
    const CFilterItem acceptAll = MakeRule(1, 1, 1, {0, 0, 0, 0}, {});
    const CFilterItem dropAll = MakeRule(1, 1, 0, {0, 0, 0, 0}, {});
    const CFilterItem acceptWeb = MakeRule(1, 0, 1, {0, 0, 0, 0}, {80});
    const CFilterItem noPorts = MakeRule(1, 0, 1, {0, 0, 0, 0}, {});
    struct Case {
        const char* what;
        CCaptureConfig config;
        Ip src, dst;
        uint16_t srcPort, dstPort;
        int32_t expected;
    };
    const Case cases[] = {
        {"no rules, accept", Record(50, 1, {}), a, b, 1, 2, 1},
        {"no rules, drop", Record(50, 0, {}), a, b, 1, 2, 0},
        {"drop A before accept all: from A", Record(50, 1, {dropA, acceptAll}), a, b, 1, 2, 0},
        {"drop A before accept all: to A", Record(50, 1, {dropA, acceptAll}), b, a, 1, 2, 0},
        {"drop A before accept all: elsewhere", Record(50, 0, {dropA, acceptAll}), b, c, 1, 2, 1},
        {"accept all before drop A", Record(50, 0, {acceptAll, dropA}), a, b, 1, 2, 1},
        {"any/any shadows later rules", Record(50, 1, {dropAll, acceptWeb}), a, b, 1234, 80, 0},
        {"a rule without ports is passed over", Record(50, 0, {noPorts}), a, b, 1234, 80, 0},
        {"web only: port 80", Record(50, 0, {acceptWeb}), a, b, 1234, 80, 1},
        {"web only: reply from port 80", Record(50, 0, {acceptWeb}), b, a, 80, 1234, 1},
        {"web only: other port", Record(50, 0, {acceptWeb}), a, b, 1234, 443, 0},
        {"no rule matches, accept", Record(50, 1, {dropA, acceptWeb}), b, c, 1234, 443, 1},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        EXPECT_EQ(k.config.MatchPacket(k.src.data(), k.dst.data(), k.srcPort, k.dstPort), k.expected);
    }
}

TEST(MatchPacket, NeverAllocates) {
    CCaptureConfig config = Record(50, 1, {});
    for (int i = 0; i < 50; ++i)
        config.filters.push_back(
            MakeRule(0, 0, 1, {10, 0, 0, static_cast<uint8_t>(i)}, {1, 2, 3, 4, 5, 6, 7}));
    const Ip src = {10, 0, 0, 49}, dst = {10, 0, 0, 200};
    int32_t accepted = 0;
    AllocProbe probe;
    for (uint16_t port = 0; port < 100; ++port)
        accepted += config.MatchPacket(src.data(), dst.data(), port, 1000);
    EXPECT_EQ(probe.Count(), 0u);
    EXPECT_EQ(accepted, 100);
}

}  // namespace
