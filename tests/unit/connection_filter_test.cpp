#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "AnalysisStore.h"
#include "analysis/ConnectionFilter.h"
#include "capture/Format.h"
#include "capture/ProcessOwner.h"

namespace {

class ConnectionFilterTest : public StoreFixture {
protected:
    // The connection numbers that `expression` shows.
    static std::vector<uint32_t> Shown(const std::string& expression) {
        std::vector<FilterProblem> problems;
        const ConnectionFilter f = ConnectionFilter::Parse(expression, problems);
        EXPECT_TRUE(problems.empty()) << expression << ": " << DescribeFilterProblems(expression, problems);
        std::vector<uint32_t> out;
        f.Scan(g_connectionTable, 0, g_connectionTable.size(), out);
        return out;
    }
};

const Peer kClient{{192, 168, 1, 23}, 40441};
const Peer kWeb{{198, 51, 100, 10}, 80};
const Peer kDns{{198, 51, 100, 53}, 53};
const Peer kOther{{10, 0, 0, 7}, 5000};

TEST_F(ConnectionFilterTest, WordsAreAndedAndNegated) {
    Packet(kClient, kWeb);                                        // 0 TCP:http
    Packet(kWeb, kClient);                                        //   a reply: 2 packets
    Packet(kClient, kDns, 0);                                     // 1 UDP:Domain
    Packet(kOther, kClient, 1);                                   // 2 TCP
    Packet({{10, 0, 0, 7}, 6000}, kDns, 0);                       // 3 UDP:Domain
    Packet({"2001:db8::23", 40000}, {"2001:db8:0:1::10", 8001});  // 4 TCP, IPv6
    Packet({"::1", 50000}, {"::1", 8766}, 0);                     // 5 UDP, IPv6
    SetConnectionOwners(&g_connectionTable[0], {{4121, 1000, "curl", "/usr/bin/curl", "alice"},
                                                {3977, 0, "python3", "/usr/bin/python3.11", "root"}});
    SetConnectionOwners(&g_connectionTable[5], {{0, 1000, "", "", "alice"}, {}});  // the user alone
    using V = std::vector<uint32_t>;
    struct Case {
        const char* expression;
        V shown;
    } cases[] = {
        {"", V{0, 1, 2, 3, 4, 5}},
        {"   ", V{0, 1, 2, 3, 4, 5}},
        {"tcp", V{0, 2, 4}},
        {"UDP", V{1, 3, 5}},
        {"-tcp", V{1, 3, 5}},
        {"port:80", V{0}},
        {"port:40441", V{0, 1, 2}},
        {"port:53 -host:10.0.0.7", V{1}},
        {"host:198.51.100.53", V{1, 3}},
        {"host:10.0.0.0/8", V{2, 3}},
        {"host:0.0.0.0/0", V{0, 1, 2, 3}},
        {"host:2001:db8::1", V{}},
        {"packets>1", V{0}},
        {"packets<2", V{1, 2, 3, 4, 5}},
        {"packets=2", V{0}},
        {"packets>=1 packets<=1", V{1, 2, 3, 4, 5}},
        {"http", V{0}},
        {"domain", V{1, 3}},
        {"TCP:HTTP", V{0}},
        {"\"udp:domain\"", V{1, 3}},
        {"\"port:80\"", V{}},
        {"-\"domain\"", V{0, 2, 4, 5}},
        {"100.10:80", V{0}},
        {".23:4044", V{0, 1, 2}},
        {"7:5000", V{2}},
        {"8.1.2", V{0, 1, 2}},
        {"0.7:", V{2, 3}},
        {"tcp port:80 http", V{0}},
        {"tcp udp", V{}},
        // IPv6: a connection of one family never matches an address of the other.
        {"0.0.0.0", V{}},
        {"host:0.0.0.0/8", V{}},
        {"-host:0.0.0.0/0", V{4, 5}},
        {"host:::/0", V{4, 5}},
        {"host:::1", V{5}},
        {"host:2001:db8::/32", V{4}},
        {"host:2001:db8:0:1::/64", V{4}},
        {"host:2001:db8::/48", V{4}},
        {"host:2001:db8:0:2::/64", V{}},
        {"host:[::1]:8766", V{5}},
        {"host:[::1]:8001", V{}},
        {"host:[2001:db8:0:1::10]:8001", V{4}},
        {"host:[::/0]:40000", V{4}},
        {"host:[192.168.1.23]:40441", V{0, 1, 2}},
        {"host:[192.168.1.23]:80", V{}},
        {"[::1]:8766", V{5}},
        {"::1", V{4, 5}},
        {"[::1]", V{5}},
        {"DB8::23]:4", V{4}},
        {"port:8766", V{5}},
        {"udp host:::1", V{5}},
        {"proc:CURL", V{0}},
        {"proc:python3.1", V{0}},
        {"-proc:curl", V{1, 2, 3, 4, 5}},
        {"pid:3977", V{0}},
        {"pid:0", V{}},
        {"user:alice", V{0, 5}},
        {"user:0 tcp", V{0}},
        {"\"proc:curl\"", V{}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Shown(c.expression), c.shown) << c.expression;
}

TEST_F(ConnectionFilterTest, MalformedWordsAreNamedWithTheirPlace) {
    struct Case {
        std::string expression;
        size_t position, length;
        const char* reason;  // a part of it
    } cases[] = {
        {"port:99999", 0, 10, "not a port number"},
        {"tcp port:", 4, 5, "needs a port number"},
        {"port:-1", 0, 7, "not a port number"},
        {"port:8O", 0, 7, "not a port number"},
        {"host:not-an-address", 0, 19, "not an IPv4 or IPv6 address"},
        {"host:1.2.3", 0, 10, "not an IPv4"},
        {"host:10.0.0.0/33", 0, 16, "prefix length"},
        {"host:10.0.0.0/", 0, 14, "prefix length"},
        {"host:2001:db8::/129", 0, 19, "prefix length"},
        {"host:[::1]", 0, 10, "not an endpoint"},
        {"host:[::1]:", 0, 11, "not a port number"},
        {"host:[::1]:70000", 0, 16, "not a port number"},
        {"host:[nope]:80", 0, 14, "not an IPv4 or IPv6 address"},
        {"packets>", 0, 8, "whole number"},
        {"packets>x", 0, 9, "whole number"},
        {"packets>99999999999", 0, 19, "whole number"},
        {"packets", 0, 7, "comparison"},
        {"pid:12a", 0, 7, "process number"},
        {"tcp proc:", 4, 5, "needs a name"},
        {"http \"abc", 5, 4, "not closed"},
        {"a\"b c", 0, 5, "not closed"},
        {"-", 0, 1, "negates nothing"},
        {"\"\"", 0, 2, "empty"},
        {"h\xC3\xA9llo", 0, 6, "ASCII"},
        {"a\x01"
         "b",
         0, 3, "ASCII"},
        {std::string(65, 'a'), 0, 65, "longer than"},
    };
    for (const Case& c : cases) {
        std::vector<FilterProblem> problems;
        const ConnectionFilter f = ConnectionFilter::Parse(c.expression, problems);
        ASSERT_EQ(problems.size(), 1u) << c.expression;
        EXPECT_EQ(problems[0].position, c.position) << c.expression;
        EXPECT_EQ(problems[0].length, c.length) << c.expression;
        EXPECT_NE(problems[0].reason.find(c.reason), std::string::npos)
            << c.expression << ": " << problems[0].reason;
        EXPECT_TRUE(f.IsEmpty()) << "a malformed expression filters nothing";
    }
}

TEST_F(ConnectionFilterTest, HostileExpressionsEndQuickly) {
    Packet(kClient, kWeb);
    // 10,000 characters: one word, many short words, many quotes.
    std::string many;
    for (int i = 0; i < 5000; ++i)
        many += "a ";
    for (const std::string& text :
         {std::string(10000, '9'), many, std::string(10000, '"'), std::string(9999, '"'),
          std::string(10000, '-'), "port:" + std::string(100000, '9'), "host:" + std::string(100000, '1'),
          "host:[::1]:" + std::string(100000, '1'), "host:10.0.0.0/" + std::string(100000, '1')}) {
        std::vector<FilterProblem> problems;
        ConnectionFilter::Parse(text, problems);
        EXPECT_FALSE(problems.empty()) << text.substr(0, 20);
        EXPECT_LT(problems.empty() ? 0 : problems[0].reason.size(), 200u) << "the word is cut in its reason";
        EXPECT_FALSE(DescribeFilterProblems(text, problems).empty());
    }
    std::vector<FilterProblem> problems;
    ConnectionFilter::Parse(many, problems);
    EXPECT_EQ(problems.size(), 5000 - ConnectionFilter::kMaxWords);
    EXPECT_NE(DescribeFilterProblems(many, problems).find("more malformed words"), std::string::npos);
}

// The compiled words against the plain way: format the texts and look for the word in them.
TEST_F(ConnectionFilterTest, TextWordsAgreeWithTheFormattedTexts) {
    std::mt19937 rng(7);
    const uint16_t ports[] = {80, 443, 53, 21, 25, 110, 137, 161, 42, 995, 8080, 0, 65535, 1, 10};
    for (int i = 0; i < 3000; ++i) {
        Peer a{{static_cast<uint8_t>(rng() % 3 ? 10 : rng()), static_cast<uint8_t>(rng()),
                static_cast<uint8_t>(rng() % 4), static_cast<uint8_t>(rng())},
               rng() % 2 ? ports[rng() % std::size(ports)] : static_cast<uint16_t>(rng())};
        Peer b{{static_cast<uint8_t>(rng()), 0, static_cast<uint8_t>(rng() % 200), 1},
               ports[rng() % std::size(ports)]};
        Packet(a, b, static_cast<int>(rng() % 2));
        if (i % 8 == 0)
            Packet({{0x20, 1, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(rng() % 3), 1},
                    a.end.Port()},
                   {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(rng() % 2)},
                    b.end.Port()},
                   static_cast<int>(rng() % 2));
    }
    auto lower = [](std::string s) {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const char* words[] = {"0",    "1",    "10.",   ".0.",  "0.1",   ":80",   "80",    "5:",     "255",
                           "10.1", ":",    "..",    "http", "tcp:h", "p:",    "https", "domain", "s",
                           "ud",   "3:44", "9.2",   "0:1",  "t",     "65535", "1.1.1", "00",     "netbios",
                           "pop3", "-",    "snmp-", "db8",  "[::",   "::1]",  "]:80",  "2001:",  "1::"};
    const size_t n = g_connectionTable.size();
    for (const char* w : words) {
        std::vector<uint32_t> expected;
        for (size_t i = 0; i < n; ++i) {
            const ConnectionRecord& c = g_connectionTable[i];
            const std::string texts[] = {EndpointText(c.Client()).str(), EndpointText(c.Server()).str(),
                                         lower(ServiceLabel(c).str()), c.isTcp ? "tcp" : "udp"};
            if (std::any_of(std::begin(texts), std::end(texts),
                            [&](const std::string& t) { return t.find(w) != std::string::npos; }))
                expected.push_back(static_cast<uint32_t>(i));
        }
        EXPECT_EQ(Shown(std::string("\"") + w + "\""), expected) << w;
    }
}

TEST_F(ConnectionFilterTest, ScanTakesUpARangeAndKnowsWhatGrows) {
    for (int i = 0; i < 10; ++i)
        Packet({{10, 0, 0, static_cast<uint8_t>(i)}, 1000}, kWeb);
    std::vector<FilterProblem> problems;
    const ConnectionFilter f = ConnectionFilter::Parse("-host:10.0.0.3", problems);
    std::vector<uint32_t> out;
    f.Scan(g_connectionTable, 2, 5, out);
    EXPECT_EQ(out, (std::vector<uint32_t>{2, 4}));
    EXPECT_FALSE(f.DependsOnPacketCount());
    EXPECT_TRUE(ConnectionFilter::Parse("http packets>3", problems).DependsOnPacketCount());
    EXPECT_TRUE(ConnectionFilter::Parse("proc:curl", problems).DependsOnPacketCount());
}

}  // namespace
