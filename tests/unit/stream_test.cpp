// TCP reassembly and the stream's text over plain segment lists, and the store-level stream of a
// connection fed through the intake.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "FrameBuilder.h"
#include "TcpFrames.h"
#include "WideFrames.h"
#include "analysis/StreamReassembly.h"
#include "analysis/StreamText.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

namespace {

constexpr uint8_t S = kTcpSyn, A = kTcpAck, F = kTcpFin, R = kTcpRst;

// One segment: '>' client to server, '<' server to client.
struct Seg {
    char dir;
    uint32_t seq;
    uint32_t ack;
    uint8_t flags;
    std::string data;
};

class Payloads : public PayloadSource {
public:
    std::span<const uint8_t> Payload(uint32_t packet) const override {
        const std::string& s = m_payloads.at(packet);
        return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
    }
    uint32_t Add(std::string s) {
        m_payloads.push_back(std::move(s));
        return static_cast<uint32_t>(m_payloads.size() - 1);
    }

private:
    std::vector<std::string> m_payloads;
};

StreamSegment Make(Payloads& payloads, const Seg& s) {
    StreamSegment seg;
    seg.packet = payloads.Add(s.data);
    seg.direction = s.dir == '>' ? StreamDirection::ToServer : StreamDirection::ToClient;
    seg.seq = s.seq;
    seg.ack = s.ack;
    seg.flags = s.flags;
    seg.length = static_cast<uint32_t>(s.data.size());
    return seg;
}

std::string Text(const PayloadSource& source, const std::vector<StreamPiece>& pieces) {
    StreamTextOptions o;
    o.turnMarks = true;
    StreamTextWriter w(o);
    std::string text;
    w.Append(source, pieces, 0, pieces.size(), text, nullptr);
    return text;
}

// The text of the segments, reassembled and finished.
std::string Reassemble(const std::vector<Seg>& segs, bool finish = true) {
    Payloads payloads;
    TcpStreamBuilder b(payloads);
    for (const Seg& s : segs)
        b.Add(Make(payloads, s));
    if (finish)
        b.Finish();
    return Text(payloads, b.Pieces());
}

struct Case {
    const char* name;
    std::vector<Seg> segs;
    std::string text;
};

const uint32_t kJump = uint32_t{1} << 31;

// Client ISN 1000 (data from 1001), server ISN 5000 (data from 5001), unless a case says otherwise.
const std::vector<Case> kCases = {
    {"in order, turns on new lines",
     {{'>', 1000, 0, S, ""},
      {'<', 5000, 1001, S | A, ""},
      {'>', 1001, 5001, A, "GET / HTTP/1.1\r\n\r\n"},
      {'<', 5001, 1019, A, "HTTP/1.1 200 OK\r\n\r\nbody"},
      {'>', 1019, 5024, A, "next"}},
     "> GET / HTTP/1.1\n\n< HTTP/1.1 200 OK\n\nbody\n> next"},
    {"segments swapped",
     {{'>', 1000, 0, S, ""}, {'>', 1004, 0, A, "def"}, {'>', 1001, 0, A, "abc"}, {'>', 1007, 0, A, "g"}},
     "> abcdefg"},
    {"retransmission shown once",
     {{'>', 1000, 0, S, ""},
      {'>', 1001, 0, A, "abc"},
      {'>', 1001, 0, A, "abc"},
      {'>', 1004, 0, A, "def"},
      {'>', 1002, 0, A, "bcd"}},
     "> abcdef"},
    {"a later copy with other bytes is marked, the first stays",
     {{'>', 1000, 0, S, ""}, {'>', 1001, 0, A, "abcdef"}, {'>', 1003, 0, A, "XdY"}},
     "> abcdef\n[2 bytes sent again with other contents; the first copy is shown]\n"},
    {"a held copy with other bytes is marked too",
     {{'>', 1000, 0, S, ""}, {'>', 1004, 0, A, "def"}, {'>', 1004, 0, A, "dXf"}, {'>', 1001, 0, A, "abc"}},
     "> [1 byte sent again with other contents; the first copy is shown]\nabcdef"},
    {"a segment overlapping both neighbours",
     {{'>', 1000, 0, S, ""},
      {'>', 1003, 0, A, "cd"},
      {'>', 1007, 0, A, "gh"},
      {'>', 1002, 0, A, "bcdefghi"},
      {'>', 1001, 0, A, "a"}},
     "> abcdefghi"},
    {"overlap with the shown end and the held start",
     {{'>', 1000, 0, S, ""},
      {'>', 1001, 0, A, "abcd"},
      {'>', 1007, 0, A, "ghij"},
      {'>', 1003, 0, A, "cdefgh"}},
     "> abcdefghij"},
    {"sequence numbers wrap around",
     {{'>', 0xFFFFFFFD, 0, S, ""}, {'>', 0xFFFFFFFE, 0, A, "ab"}, {'>', 2, 0, A, "ef"}, {'>', 0, 0, A, "cd"}},
     "> abcdef"},
    {"a jump of 2^31 is a gap",
     {{'>', 1000, 0, S, ""}, {'>', 1001, 0, A, "hello"}, {'>', 1006 + kJump, 0, A, "world"}},
     "> hello\n[2147483648 bytes missing]\nworld"},
    {"a FIN captured before the middle",
     {{'>', 1000, 0, S, ""},
      {'>', 1001, 0, A, "abc"},
      {'>', 1007, 0, A | F, "ghi"},
      {'>', 1004, 0, A, "def"}},
     "> abcdefghi"},
    {"data after the FIN is not part of the stream",
     {{'>', 1000, 0, S, ""}, {'>', 1001, 0, A | F, "abc"}, {'>', 1005, 0, A, "xyz"}},
     "> abc\n[3 bytes sent after the end of the stream (FIN), not shown]\n"},
    {"held data beyond a later FIN is dropped",
     {{'>', 1000, 0, S, ""}, {'>', 1008, 0, A, "zz"}, {'>', 1001, 0, A | F, "abc"}},
     "> abc\n[2 bytes sent after the end of the stream (FIN), not shown]\n"},
    {"zero-window probes",
     {{'>', 1000, 0, S, ""},
      {'>', 1001, 0, A, "abc"},
      {'>', 1004, 0, A, "d"},
      {'>', 1004, 0, A, "d"},
      {'>', 1004, 0, A, "defg"}},
     "> abcdefg"},
    {"a keep-alive's garbage byte is no copy",
     {{'>', 1000, 0, S, ""},
      {'>', 1001, 0, A, "abc"},
      {'>', 1003, 0, A, std::string(1, '\0')},
      {'>', 1004, 0, A, "d"}},
     "> abcd"},
    {"the first packet from the server",
     {{'<', 5000, 1001, S | A, ""},
      {'>', 1001, 5001, A, ""},
      {'<', 5001, 1001, A, "220 ready\r\n"},
      {'>', 1001, 5012, A, "HELO x\r\n"}},
     "< 220 ready\n> HELO x\n"},
    {"no SYN and the first segments out of order: what came first is shown",
     {{'>', 7004, 0, A, "def"}, {'>', 7001, 0, A, "abc"}, {'>', 7007, 0, A, "g"}},
     "> def\n[3 bytes from before the first byte shown, not shown]\ng"},
    {"a SYN captured after the data",
     {{'>', 1004, 0, A, "de"}, {'>', 1000, 0, S, ""}, {'>', 1006, 0, A, "f"}},
     "> def"},
    {"a SYN captured after data that was held back",
     {{'>', 1000, 0, A, ""}, {'>', 1003, 0, A, "def"}, {'>', 999, 0, S, ""}, {'>', 1000, 0, A, "abc"}},
     "> abcdef"},
    {"a hole nobody filled, given up at the end",
     {{'>', 1000, 0, S, ""}, {'>', 1001, 0, A, "abc"}, {'>', 1010, 0, A, "jkl"}},
     "> abc\n[6 bytes missing]\njkl"},
    {"a capture cut before the last segment: the acknowledgement tells its size",
     {{'>', 1000, 0, S, ""},
      {'<', 5000, 1001, S | A, ""},
      {'>', 1001, 5001, A, "abc"},
      {'<', 5001, 1012, A, ""}},
     "> abc\n[8 bytes missing]\n"},
    {"a FIN after a gap tells the gap's size",
     {{'>', 1000, 0, S, ""}, {'>', 1001, 0, A, "abc"}, {'>', 1010, 0, A | F, ""}},
     "> abc\n[6 bytes missing]\n"},
    {"a reset's payload is not stream data",
     {{'>', 1000, 0, S, ""}, {'>', 1001, 0, A, "abc"}, {'<', 5000, 1004, R, "diagnostic"}},
     "> abc"},
    {"a new SYN after the end starts again",
     {{'>', 1000, 0, S, ""},
      {'>', 1001, 0, A | F, "one"},
      {'>', 90000, 0, S, ""},
      {'>', 90001, 0, A, "two"},
      {'>', 1000, 0, S, ""}},
     "> one\n[the connection starts again]\ntwo"},
    {"a retransmitted SYN changes nothing",
     {{'>', 1000, 0, S, ""},
      {'>', 1000, 0, S, ""},
      {'>', 1001, 0, A, "ab"},
      {'>', 1000, 0, S, ""},
      {'>', 1003, 0, A, "c"}},
     "> abc"},
    {"bytes below 32 show as dots, CR LF split over segments as one line break",
     {{'>', 1000, 0, S, ""}, {'>', 1001, 0, A, std::string("a\tb\0\r", 5)}, {'>', 1006, 0, A, "\nc\rd"}},
     "> a.b.\nc\nd"},
};

TEST(StreamBuilder, Cases) {
    for (const Case& c : kCases)
        EXPECT_EQ(Reassemble(c.segs), c.text) << c.name;
}

TEST(StreamBuilder, HoleWaitsUntilTheSegmentComesLate) {
    // Before Finish a hole holds the data behind it back; the late copy then fills it.
    std::vector<Seg> segs = {{'>', 1000, 0, S, ""}, {'>', 1001, 0, A, "ab"}, {'>', 1005, 0, A, "ef"}};
    EXPECT_EQ(Reassemble(segs, false), "> ab");
    segs.push_back({'>', 1003, 0, A, "cd"});
    EXPECT_EQ(Reassemble(segs, false), "> abcdef");
}

TEST(StreamBuilder, AcknowledgedHoleIsGivenUpAfterTheSlack) {
    // The server acknowledged past the hole: the capture missed bytes the server had. The hole is shown as
    // missing once kLateSlack further packets did not fill it, in the turn order of that moment.
    std::vector<Seg> segs = {{'>', 1000, 0, S, ""},
                             {'<', 5000, 1001, S | A, ""},
                             {'>', 1001, 5001, A, "ab"},
                             {'>', 1005, 5001, A, "ef"},
                             {'<', 5001, 1007, A, "ok"}};
    for (uint32_t i = 0; i < TcpStreamBuilder::kLateSlack; ++i)
        segs.push_back({'<', 5003, 1007, A, ""});
    segs.push_back({'<', 5003, 1007, A, "!"});
    EXPECT_EQ(Reassemble(segs, false), "> ab\n< ok\n> [2 bytes missing]\nef\n< !");
    // A copy that comes after that is reported, not inserted.
    segs.push_back({'>', 1003, 5004, A, "cd"});
    EXPECT_EQ(
        Reassemble(segs, false),
        "> ab\n< ok\n> [2 bytes missing]\nef\n< !\n> [2 bytes captured after they were shown as missing]\n");
}

TEST(StreamBuilder, ShuffledDuplicatedAndSplitSegmentsGiveTheBytesSent) {
    // A stream cut into segments, then pieces swapped within a window, sent twice and split into pieces
    // that overlap: both directions come out byte for byte.
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        std::string sent[2];
        for (auto& s : sent) {
            s.resize(2000 + rng() % 5000);
            for (char& c : s)
                c = static_cast<char>(rng());
        }
        const uint32_t isn[2] = {static_cast<uint32_t>(rng()),
                                 static_cast<uint32_t>(0xFFFFF000u + rng() % 4096)};
        std::vector<Seg> segs = {{'>', isn[0], 0, S, ""}, {'<', isn[1], isn[0] + 1, S | A, ""}};
        std::vector<Seg> data;
        for (int d = 0; d < 2; ++d) {
            for (size_t at = 0; at < sent[d].size();) {
                const size_t n = std::min<size_t>(1 + rng() % 300, sent[d].size() - at);
                const uint32_t seq = isn[d] + 1 + static_cast<uint32_t>(at);
                const uint32_t ack = isn[1 - d] + 1;
                data.push_back({d ? '<' : '>', seq, ack, A, sent[d].substr(at, n)});
                if (rng() % 8 == 0)  // sent twice
                    data.push_back(data.back());
                if (rng() % 8 == 0 && n > 4) {  // sent again as two pieces that overlap
                    const size_t cut = 1 + rng() % (n - 2);
                    data.push_back({d ? '<' : '>', seq, ack, A, sent[d].substr(at, cut + 1)});
                    data.push_back({d ? '<' : '>', seq + static_cast<uint32_t>(cut), ack, A,
                                    sent[d].substr(at + cut, n - cut)});
                }
                at += n;
            }
        }
        for (size_t i = 0; i + 1 < data.size(); ++i)  // swaps within a small window
            if (rng() % 3 == 0)
                std::swap(data[i], data[std::min(data.size() - 1, i + 1 + rng() % 6)]);
        segs.insert(segs.end(), data.begin(), data.end());

        Payloads payloads;
        TcpStreamBuilder b(payloads);
        for (const Seg& s : segs)
            b.Add(Make(payloads, s));
        b.Finish();
        for (int d = 0; d < 2; ++d) {
            std::string got;
            WriteStreamBytes(payloads, b.Pieces(), d == 0, d == 1, [&](std::span<const uint8_t> bytes) {
                got.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
                return true;
            });
            ASSERT_EQ(got, sent[d]) << "round " << round << " direction " << d;
        }
        for (const StreamPiece& p : b.Pieces())
            ASSERT_EQ(p.kind, StreamPieceKind::Data) << "round " << round;
    }
}

TEST(StreamBuilder, ManySegmentsInReverseOrderTakeLinearTime) {
    // 100,000 segments captured last first: each is held until the first arrives. A vector-front insertion
    // would take minutes; the ordered holding takes well under a second.
    Payloads payloads;
    TcpStreamBuilder b(payloads);
    b.Add(Make(payloads, {'>', 0, 0, S, ""}));
    const uint32_t n = 100000;
    const auto t0 = std::chrono::steady_clock::now();
    for (uint32_t i = n; i-- > 0;)
        b.Add(Make(payloads, {'>', 1 + 10 * i, 0, A, "0123456789"}));
    b.Finish();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(b.Bytes(StreamDirection::ToServer), uint64_t{10} * n);
    EXPECT_EQ(b.Pieces().size(), n);
    EXPECT_LT(s, 2.0);
}

TEST(StreamBuilder, WriterLimitStopsAndSplitsByDirection) {
    Payloads payloads;
    TcpStreamBuilder b(payloads);
    for (const Seg& s : std::vector<Seg>{{'>', 1000, 0, S, ""},
                                         {'<', 5000, 1001, S | A, ""},
                                         {'>', 1001, 5001, A, "request"},
                                         {'<', 5001, 1008, A, "response"},
                                         {'>', 1008, 5009, A, "more"}})
        b.Add(Make(payloads, s));
    StreamTextOptions serverOnly;
    serverOnly.client = false;
    StreamTextWriter w(serverOnly);
    std::string text;
    std::vector<StreamTextRun> runs;
    EXPECT_TRUE(w.Append(payloads, b.Pieces(), 0, b.Pieces().size(), text, &runs));
    EXPECT_EQ(text, "response");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].turnStart);
    EXPECT_EQ(runs[0].direction, StreamDirection::ToClient);

    StreamTextOptions capped;
    capped.limit = 10;
    StreamTextWriter c(capped);
    text.clear();
    runs.clear();
    EXPECT_FALSE(c.Append(payloads, b.Pieces(), 0, b.Pieces().size(), text, &runs));
    EXPECT_EQ(text, "request\nre");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].start, 8u);
    EXPECT_TRUE(runs[1].turnStart);
    EXPECT_TRUE(c.LimitReached());
}

TEST(StreamBuilder, AppendingPieceByPieceGivesTheSameText) {
    Payloads payloads;
    TcpStreamBuilder b(payloads);
    for (const Seg& s : kCases[0].segs)
        b.Add(Make(payloads, s));
    StreamTextOptions o;
    o.turnMarks = true;
    StreamTextWriter w(o);
    std::string all;
    for (size_t i = 0; i < b.Pieces().size(); ++i) {
        std::string part;
        w.Append(payloads, b.Pieces(), i, i + 1, part, nullptr);
        all += part;
    }
    EXPECT_EQ(all, kCases[0].text);
}

// ---------------------------------------------------------------------------------------------------------
// The stream of a connection of the store.

class StoreStream : public ::testing::Test {
protected:
    void SetUp() override {
        ResetCaptureStore();
        g_config.ApplyDefaults();
        g_skipFilter = 1;
    }
    void TearDown() override {
        ResetCaptureStore();
        g_skipFilter = 0;
    }
    static void Feed(const TcpFrameSpec& s, int capLen = -1) {
        FeedFrame(BuildTcpFrame(s), 1700000000, 0, capLen);
    }
    static std::string TextOf(StreamReassembly& r) { return Text(r, r.Pieces()); }
};

TEST_F(StoreStream, ConnectionWhoseFirstPacketIsFromTheServer) {
    // The capture began after the handshake and the server spoke first: it is the connection's "client"
    // (the first sender), and its bytes open the stream.
    TcpFrameSpec server;
    server.srcPort = 25;
    server.dstPort = 40000;
    server.seq = 5001;
    server.ack = 1001;
    server.payload = "220 mail ready\r\n";
    Feed(server);
    TcpFrameSpec client = Reply(server);
    client.seq = 1001;
    client.ack = 5017;
    client.payload = "EHLO x\r\n";
    Feed(client);
    ASSERT_EQ(g_connectionTable.size(), 1u);
    StreamReassembly r(0);
    EXPECT_EQ(r.Extend(), 2u);
    EXPECT_EQ(TextOf(r), "> 220 mail ready\n< EHLO x\n");
}

TEST_F(StoreStream, CookedAndTaggedCapturesGiveTheBytesSent) {
    // The same conversation behind the link headers of the "any" device (Linux cooked v1 and v2) and a tag.
    for (const LinkSpec& link :
         {LinkSpec{kLinkLinuxCooked, {}, 0x0800, 0}, LinkSpec{kLinkLinuxCooked2, {}, 0x0800, 0},
          LinkSpec{kLinkEthernet, {7}, 0x0800, 6}}) {
        ResetCaptureStore();
        g_config.wideIntake = 1;
        g_storeLinkType = link.linkType;
        for (const auto& [toServer, seq, payload] :
             {std::tuple(true, 100u, "hello "), std::tuple(false, 900u, "ok"),
              std::tuple(true, 106u, "world")}) {
            TcpFrameSpec segment;
            segment.seq = seq;
            segment.payload = payload;
            const std::vector<uint8_t> frame = BuildTcpFrame(toServer ? segment : Reply(segment));
            FeedLinkFrame(link.linkType, WrapPacket(link, {frame.begin() + 14, frame.end()}));
        }
        StreamReassembly r(0);
        EXPECT_EQ(r.Extend(), 3u) << link.linkType;
        r.Finish();
        EXPECT_EQ(r.Unreadable(), 0u) << link.linkType;
        for (bool client : {true, false}) {
            std::string bytes;
            WriteStreamBytes(r, r.Pieces(), client, !client, [&](std::span<const uint8_t> b) {
                return bytes.append(b.begin(), b.end()), true;
            });
            EXPECT_EQ(bytes, client ? "hello world" : "ok") << link.linkType;
        }
    }
    g_config.wideIntake = 0;
}

TEST_F(StoreStream, CaptureCutMidSegment) {
    // The last data segment was cut by the snapshot length: the intake drops it, the acknowledgement shows
    // its size, and the stream ends in a marked gap.
    TcpFrameSpec c;
    c.seq = 1000;
    c.flags = S;
    Feed(c);
    TcpFrameSpec s = Reply(c);
    s.seq = 9000;
    s.ack = 1001;
    s.flags = S | A;
    Feed(s);
    c.seq = 1001;
    c.flags = A;
    c.ack = 9001;
    c.payload = "first";
    Feed(c);
    c.seq = 1006;
    c.payload = std::string(100, 'x');
    Feed(c, 60);  // cut
    s.seq = 9001;
    s.ack = 1106;
    s.flags = A;
    Feed(s);
    StreamReassembly r(0);
    r.Extend();
    EXPECT_EQ(TextOf(r), "> first");
    r.Finish();
    EXPECT_EQ(TextOf(r), "> first\n[100 bytes missing]\n");
    EXPECT_EQ(g_shortPacketCount.load(), 1);
}

TEST_F(StoreStream, ExtendReadsOnlyNewPacketsAndMatchesOneGo) {
    TcpFrameSpec c;
    c.flags = A;
    std::vector<TcpFrameSpec> frames;
    for (uint32_t i = 0; i < 40; ++i) {
        TcpFrameSpec f = i % 3 == 2 ? Reply(c) : c;
        f.seq = i % 3 == 2 ? 7000 + 2 * (i / 3) : 100 + 3 * (i - i / 3);
        f.payload = i % 3 == 2 ? "ok" : "abc";
        frames.push_back(f);
    }
    std::swap(frames[4], frames[5]);
    for (const auto& f : frames)
        Feed(f);
    StreamReassembly once(0);
    once.Extend();
    StreamReassembly steps(0);
    size_t total = 0;
    while (size_t n = steps.Extend(7))
        total += n;
    EXPECT_EQ(total, 40u);
    EXPECT_EQ(steps.PacketsRead(), 40u);
    EXPECT_EQ(TextOf(steps), TextOf(once));
    EXPECT_EQ(steps.Bytes(StreamDirection::ToServer), 27u * 3);
    EXPECT_EQ(steps.Bytes(StreamDirection::ToClient), 13u * 2);
}

TEST_F(StoreStream, UdpDatagramsInCaptureOrderEachOnItsLine) {
    TcpFrameSpec q;
    q.udp = true;
    q.dstPort = 53;
    q.payload = "query";
    Feed(q);
    TcpFrameSpec a = Reply(q);
    a.payload = "answer one";
    Feed(a);
    a.payload = "answer two";
    Feed(a);
    StreamReassembly r(0);
    r.Extend();
    EXPECT_FALSE(r.IsTcp());
    EXPECT_EQ(TextOf(r), "> query\n< answer one\nanswer two");
}

TEST_F(StoreStream, HundredThousandDatagramsInLinearTime) {
    TcpFrameSpec q;
    q.udp = true;
    q.payload = "0123456789";
    const std::vector<uint8_t> frame = BuildTcpFrame(q);
    for (int i = 0; i < 100000; ++i)
        FeedFrame(frame);
    const auto t0 = std::chrono::steady_clock::now();
    StreamReassembly r(0);
    r.Extend();
    StreamTextWriter w;
    std::string text;
    w.Append(r, r.Pieces(), 0, r.Pieces().size(), text, nullptr);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(r.Pieces().size(), 100000u);
    EXPECT_EQ(text.size(), 100000u * 11 - 1);
    EXPECT_LT(s, 2.0);
}

TEST_F(StoreStream, LaterFragmentsAreCountedNotRead) {
    // A later IPv4 fragment joins the connection of its first fragment but has no TCP header to place it.
    TcpFrameSpec c;
    c.seq = 1;
    c.payload = "abc";
    c.fragmentField = 0x2000;  // more fragments
    Feed(c);
    std::vector<uint8_t> later = BuildTcpFrame(c);
    later[14 + 6] = 0x00;
    later[14 + 7] = 0x03;  // at 24 bytes, the last one
    FeedFrame(later);
    ASSERT_EQ(g_packetTable.size(), 2u);
    StreamReassembly r(0);
    r.Extend();
    EXPECT_EQ(r.Unreadable(), 1u);
    EXPECT_EQ(TextOf(r), "> abc");
    EXPECT_EQ(StreamReassembly(5).Extend(), 0u);  // no such connection
}

}  // namespace
