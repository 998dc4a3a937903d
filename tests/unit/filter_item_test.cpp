// One filter rule: its stored bytes, its matching and its one-line description.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/FilterItem.h"
#include "config_alloc_probe.h"
#include "config_test_rules.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kWebBytes = {0x03, 0x77, 0x65, 0x62, 0x00, 0x00, 0x01, 0xC0, 0xA8,
                         0x00, 0x01, 0x02, 0x00, 0x50, 0x00, 0x90, 0x1F};

Bytes Store(CFilterItem item) {
    CArchive ar;
    item.Serialize(ar);
    return ar.Bytes();
}

// Loads one item and insists that it used every byte.
CFilterItem Load(const Bytes& bytes) {
    CArchive ar(bytes);
    CFilterItem item;
    item.Serialize(ar);
    EXPECT_EQ(ar.Remaining(), 0u);
    return item;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Utf16(std::initializer_list<uint16_t> units) {
    Bytes out;
    for (uint16_t u : units) {
        out.push_back(static_cast<uint8_t>(u));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
    return out;
}

// Flags, address and an empty port list after a name.
const Bytes kTail = {0x00, 0x00, 0x01, 0xC0, 0xA8, 0x00, 0x01, 0x00, 0x00};

TEST(FilterItemBytes, WebRuleStoresAsItsSeventeenBytes) {
    EXPECT_EQ(Store(WebRule()), kWebBytes);
}

TEST(FilterItemBytes, WebRuleLoadsFromItsSeventeenBytes) {
    EXPECT_EQ(Load(kWebBytes), WebRule());
}

TEST(FilterItemBytes, NameLengthPrefixes) {
    struct Case {
        size_t length;
        Bytes prefix;
    };
    const Case cases[] = {
        {0, {0x00}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {0xFFFD, {0xFF, 0xFD, 0xFF}},
        // 0xFFFE after 0xFF marks a 16-bit-character name, so this length needs the 32-bit form.
        {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {0x10000, {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        CFilterItem item = WebRule();
        item.name.assign(c.length, 'n');
        Bytes bytes = Store(item);
        ASSERT_EQ(bytes.size(), c.prefix.size() + c.length + 3 + 4 + 2 + 4);
        EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + c.prefix.size()), c.prefix);
        EXPECT_EQ(Load(bytes), item);
    }
}

TEST(FilterItemBytes, PortCountEscape) {
    struct Case {
        size_t count;
        Bytes prefix;
    };
    const Case cases[] = {
        {0, {0x00, 0x00}},
        {0xFFFE, {0xFE, 0xFF}},
        {0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
        {0x10000, {0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}},
    };
    const size_t countAt = 1 + 1 + 3 + 4;  // after the name "r", the flags and the address
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        CFilterItem item = MakeRule(0, 0, 1, {1, 2, 3, 4}, {});
        for (size_t i = 0; i < c.count; ++i)
            item.ports.push_back(static_cast<uint16_t>(i * 7 + 1));
        Bytes bytes = Store(item);
        ASSERT_EQ(bytes.size(), countAt + c.prefix.size() + 2 * c.count);
        EXPECT_EQ(Bytes(bytes.begin() + countAt, bytes.begin() + countAt + c.prefix.size()), c.prefix);
        EXPECT_EQ(Load(bytes), item);
    }
}

// Every name form a file may hold; all load as UTF-8 bytes.
TEST(FilterItemBytes, NameFormsThatLoad) {
    struct Case {
        const char* what;
        Bytes name;
        std::string expected;
    };
    const Case cases[] = {
        {"short", {0x03, 'w', 'e', 'b'}, "web"},
        {"16-bit length below 255", {0xFF, 0x03, 0x00, 'w', 'e', 'b'}, "web"},
        {"32-bit length", {0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0x00, 'w', 'e', 'b'}, "web"},
        {"utf-16 ascii", Cat({{0xFF, 0xFE, 0xFF, 0x03}, Utf16({'w', 'e', 'b'})}), "web"},
        {"utf-16 non-ascii and a surrogate pair",
         Cat({{0xFF, 0xFE, 0xFF, 0x09}, Utf16({'Z', 0xFC, 'r', 'i', 'c', 'h', 0x20AC, 0xD83D, 0xDE00})}),
         "Z\xC3\xBCrich\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"utf-16 encoding boundaries", Cat({{0xFF, 0xFE, 0xFF, 0x04}, Utf16({0x7F, 0x80, 0x7FF, 0x800})}),
         "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},
        {"utf-16 last BMP character", Cat({{0xFF, 0xFE, 0xFF, 0x01}, Utf16({0xFFFF})}), "\xEF\xBF\xBF"},
        {"utf-16 highest code point", Cat({{0xFF, 0xFE, 0xFF, 0x02}, Utf16({0xDBFF, 0xDFFF})}),
         "\xF4\x8F\xBF\xBF"},
        {"utf-16 lone high surrogate at the end", Cat({{0xFF, 0xFE, 0xFF, 0x02}, Utf16({'a', 0xD800})}),
         "a\xEF\xBF\xBD"},
        {"utf-16 lone low surrogate", Cat({{0xFF, 0xFE, 0xFF, 0x02}, Utf16({0xDC00, 'A'})}),
         "\xEF\xBF\xBD"
         "A"},
        {"utf-16 high surrogate before a letter", Cat({{0xFF, 0xFE, 0xFF, 0x02}, Utf16({0xD83D, 'A'})}),
         "\xEF\xBF\xBD"
         "A"},
        {"utf-16 high surrogate before a private-use character",
         Cat({{0xFF, 0xFE, 0xFF, 0x02}, Utf16({0xD83D, 0xE000})}), "\xEF\xBF\xBD\xEE\x80\x80"},
        {"utf-16 pair in the wrong order", Cat({{0xFF, 0xFE, 0xFF, 0x02}, Utf16({0xDE00, 0xD83D})}),
         "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"utf-16 empty", {0xFF, 0xFE, 0xFF, 0x00}, ""},
        {"utf-16 32-bit length",
         Cat({{0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00}, Utf16({'o', 'k'})}), "ok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CFilterItem item = Load(Cat({c.name, kTail}));
        EXPECT_EQ(item.name, c.expected);
        EXPECT_EQ(item.ip[0], 0xC0);  // the name used exactly its own bytes
    }
}

TEST(FilterItemBytes, Utf16NameWithSixteenBitInnerLengthLoads) {
    std::vector<uint16_t> units(300, 0x00E9);  // é
    Bytes name = {0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01};
    for (uint16_t u : units) {
        name.push_back(static_cast<uint8_t>(u));
        name.push_back(static_cast<uint8_t>(u >> 8));
    }
    CFilterItem item = Load(Cat({name, kTail}));
    std::string expected;
    for (int i = 0; i < 300; ++i)
        expected += "\xC3\xA9";
    EXPECT_EQ(item.name, expected);
}

TEST(FilterItemBytes, Utf16NameIsStoredAgainAsUtf8Bytes) {
    Bytes wide = Cat(
        {{0xFF, 0xFE, 0xFF, 0x09}, Utf16({'Z', 0xFC, 'r', 'i', 'c', 'h', 0x20AC, 0xD83D, 0xDE00}), kTail});
    const std::string utf8 = "Z\xC3\xBCrich\xE2\x82\xAC\xF0\x9F\x98\x80";
    Bytes expected = {static_cast<uint8_t>(utf8.size())};
    expected.insert(expected.end(), utf8.begin(), utf8.end());
    expected.insert(expected.end(), kTail.begin(), kTail.end());
    EXPECT_EQ(Store(Load(wide)), expected);
}

TEST(FilterItemBytes, FlagBytesWidenWithoutSignAndStoreBack) {
    Bytes bytes = {0x01, 'x', 0xFE, 0x02, 0x80, 1, 2, 3, 4, 0x00, 0x00};
    CFilterItem item = Load(bytes);
    EXPECT_EQ(item.anyIp, 254);
    EXPECT_EQ(item.anyPort, 2);
    EXPECT_EQ(item.accept, 128);
    EXPECT_EQ(Store(item), bytes);
}

TEST(FilterItemBytes, SetFlagsOutsideAByteStayStoredAsSet) {
    struct Case {
        int32_t flag;
        uint8_t stored;
    };
    const Case cases[] = {{0, 0}, {1, 1}, {255, 255}, {256, 1}, {-1, 1}, {0x100000, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flag);
        Bytes bytes = Store(MakeRule(c.flag, c.flag, c.flag, {0, 0, 0, 0}, {}));
        EXPECT_EQ(bytes[2], c.stored);
        EXPECT_EQ(bytes[3], c.stored);
        EXPECT_EQ(bytes[4], c.stored);
    }
}

TEST(FilterItemBytes, EveryTruncationThrowsAndLeavesTheItem) {
    for (size_t n = 0; n < kWebBytes.size(); ++n) {
        SCOPED_TRACE(n);
        Bytes prefix(kWebBytes.begin(), kWebBytes.begin() + n);
        CArchive ar(prefix);
        CFilterItem item = MakeRule(1, 1, 0, {9, 9, 9, 9}, {7}, "keep");
        EXPECT_THROW(item.Serialize(ar), ArchiveError);
        EXPECT_EQ(item, MakeRule(1, 1, 0, {9, 9, 9, 9}, {7}, "keep"));
    }
}

// A count that the bytes behind it cannot back must fail before anything is sized from it.
TEST(FilterItemBytes, BogusCountsNeverAllocate) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Bytes head = {0x00, 0x00, 0x00, 0x01, 1, 2, 3, 4};  // empty name, flags, address
    const Case cases[] = {
        {"name length 0xFFFFFFFF", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"name length 0xFFFD, 3 bytes", {0xFF, 0xFD, 0xFF, 'a', 'b', 'c'}},
        {"utf-16 length 0xFFFFFFFF", {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"utf-16 length 0x80000001 (doubles past 32 bits)",
         {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x80, 'a', 0}},
        {"utf-16 length 3, one unit", {0xFF, 0xFE, 0xFF, 0x03, 'a', 0x00}},
        {"utf-16 length 1, one byte", {0xFF, 0xFE, 0xFF, 0x01, 'a'}},
        {"port count 0xFFFFFFFF", Cat({head, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}})},
        {"port count 0xFFFE", Cat({head, {0xFE, 0xFF}})},
        {"port count 2, three bytes", Cat({head, {0x02, 0x00, 0x50, 0x00, 0x90}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CArchive ar(c.bytes);
        CFilterItem item;
        size_t largest = 0;
        {
            AllocProbe probe;
            try {
                item.Serialize(ar);
                ADD_FAILURE() << "loaded";
            } catch (const ArchiveError&) {
            }
            largest = probe.Largest();
        }
        EXPECT_LT(largest, 1024u);
    }
}

// A packet from 10.0.0.1 port 1234 to 192.168.0.1 port 80 unless a case says otherwise.
TEST(FilterItemMatch, Conditions) {
    using Ip = std::array<uint8_t, 4>;
    const Ip a = {10, 0, 0, 1}, b = {192, 168, 0, 1}, zero = {0, 0, 0, 0};
    struct Case {
        const char* what;
        CFilterItem rule;
        Ip src, dst;
        uint16_t srcPort, dstPort;
        int32_t expected;
    };
    const Case cases[] = {
        {"any address, any port, accept", MakeRule(1, 1, 1, zero, {}), a, b, 1234, 80, MATCH_ACCEPT},
        {"any address, any port, drop", MakeRule(1, 1, 0, zero, {}), a, b, 1234, 80, MATCH_DROP},
        {"no ports listed never match", MakeRule(1, 0, 1, zero, {}), a, b, 1234, 80, MATCH_NONE},
        {"port as destination", MakeRule(1, 0, 1, zero, {80}), a, b, 4000, 80, MATCH_ACCEPT},
        {"port as source", MakeRule(1, 0, 1, zero, {80}), a, b, 80, 4000, MATCH_ACCEPT},
        {"port at neither end", MakeRule(1, 0, 1, zero, {80}), a, b, 4000, 4001, MATCH_NONE},
        {"port late in the list", MakeRule(1, 0, 0, zero, {21, 25, 80}), a, b, 1234, 80, MATCH_DROP},
        {"port in the other byte order", MakeRule(1, 0, 1, zero, {80}), a, b, 1234, 0x5000, MATCH_NONE},
        {"ports kept but any port set", MakeRule(1, 1, 1, zero, {22}), a, b, 1234, 80, MATCH_ACCEPT},
        {"address as source", MakeRule(0, 1, 1, a, {}), a, b, 1234, 80, MATCH_ACCEPT},
        {"address as destination", MakeRule(0, 1, 0, b, {}), a, b, 1234, 80, MATCH_DROP},
        {"address at neither end", MakeRule(0, 1, 1, {10, 0, 0, 2}, {}), a, b, 1234, 80, MATCH_NONE},
        {"address differs in its last octet", MakeRule(0, 1, 1, {192, 168, 0, 2}, {}), a, b, 1, 2,
         MATCH_NONE},
        {"address differs in its first octet", MakeRule(0, 1, 1, {11, 0, 0, 1}, {}), a, b, 1, 2, MATCH_NONE},
        {"0.0.0.0 is an address like any other", MakeRule(0, 1, 1, zero, {}), a, b, 1234, 80, MATCH_NONE},
        {"0.0.0.0 as source", MakeRule(0, 1, 1, zero, {}), zero, b, 68, 67, MATCH_ACCEPT},
        {"address holds, port fails", MakeRule(0, 0, 1, a, {443}), a, b, 1234, 80, MATCH_NONE},
        {"port holds, address fails", MakeRule(0, 0, 1, {8, 8, 8, 8}, {80}), a, b, 1234, 80, MATCH_NONE},
        // Address and port are tested independently against both ends.
        {"address of one end, port of the other", MakeRule(0, 0, 1, a, {80}), a, b, 1234, 80, MATCH_ACCEPT},
        {"flag bytes above 1 count as set", MakeRule(2, 254, 128, zero, {}), a, b, 1234, 80, MATCH_ACCEPT},
        {"set flags with a clear action drop", MakeRule(2, 2, 0, zero, {}), a, b, 1234, 80, MATCH_DROP},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.rule.Match(c.src.data(), c.dst.data(), c.srcPort, c.dstPort), c.expected);
    }
}

TEST(FilterItemSignature, Texts) {
    struct Case {
        CFilterItem rule;
        const char* expected;
    };
    const Case cases[] = {
        {MakeRule(1, 1, 1, {1, 2, 3, 4}, {80}), "Accept packets with any IP or port"},
        {MakeRule(1, 1, 0, {0, 0, 0, 0}, {}), "Drop packets with any IP or port"},
        {MakeRule(1, 0, 1, {0, 0, 0, 0}, {80}), "Accept packets with port including 80"},
        {MakeRule(1, 0, 1, {0, 0, 0, 0}, {1, 2}), "Accept packets with port including 1 or 2"},
        {MakeRule(1, 0, 1, {0, 0, 0, 0}, {21, 25, 80}), "Accept packets with port including 21, 25 or 80"},
        {MakeRule(1, 0, 1, {0, 0, 0, 0}, {1, 2, 3, 4, 5}),
         "Accept packets with port including 1, 2, 3, 4 or 5"},
        {MakeRule(1, 0, 1, {0, 0, 0, 0}, {1, 2, 3, 4, 5, 6}),
         "Accept packets with port including 1, 2, 3, 4, 5 or 6"},
        {MakeRule(1, 0, 1, {0, 0, 0, 0}, {1, 2, 3, 4, 5, 6, 7}),
         "Accept packets with port including 1, 2, 3, 4, 5 or 6..."},
        {MakeRule(1, 0, 1, {0, 0, 0, 0}, {1, 2, 3, 4, 5, 6, 7, 8}),
         "Accept packets with port including 1, 2, 3, 4, 5 or 6..."},
        {MakeRule(1, 0, 0, {0, 0, 0, 0}, {}), "Drop packets with port including "},
        {MakeRule(0, 1, 0, {10, 0, 0, 1}, {21}), "Drop packets with IP including 10.0.0.1"},
        {MakeRule(0, 0, 0, {10, 0, 0, 1}, {21, 25, 80}),
         "Drop packets with IP including 10.0.0.1 and port including 21, 25 or 80"},
        {MakeRule(0, 0, 2, {255, 255, 255, 255}, {65535, 65535, 65535, 65535, 65535, 65535, 65535}),
         "Accept packets with IP including 255.255.255.255 and port including 65535, 65535, 65535, 65535, "
         "65535 or 65535..."},
    };
    for (const auto& c : cases) {
        std::string text = "old text";
        c.rule.GetSignature(text);
        EXPECT_EQ(text, c.expected);
    }
}

}  // namespace
