// The server-name parsers over well-formed and hostile bytes.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "FrameBuilder.h"
#include "TcpFrames.h"
#include "analysis/ConnectionFilter.h"
#include "analysis/ServerName.h"
#include "analysis/ServerNameTable.h"
#include "analysis/StreamReassembly.h"
#include "capture/PacketStore.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

// A ClientHello handshake message with `extra` extensions before a server_name of `name`.
Bytes ClientHello(const std::string& name, size_t extra = 0) {
    Bytes ext;
    for (size_t i = 0; i < extra; ++i) {
        Put16(ext, 0xFF00 + (i & 0xFF));
        Put16(ext, 0);
    }
    Put16(ext, 0);
    Put16(ext, name.size() + 5);
    Put16(ext, name.size() + 3);
    ext.push_back(0);
    Put16(ext, name.size());
    ext.insert(ext.end(), name.begin(), name.end());
    Bytes body = {3, 3};
    body.resize(2 + 32 + 1, 0);
    Put16(body, 2);
    body.insert(body.end(), {0x13, 0x01, 1, 0});
    Put16(body, ext.size());
    body.insert(body.end(), ext.begin(), ext.end());
    Bytes m = {1, static_cast<uint8_t>(body.size() >> 16), static_cast<uint8_t>(body.size() >> 8),
               static_cast<uint8_t>(body.size())};
    m.insert(m.end(), body.begin(), body.end());
    return m;
}

// `message` in TLS records of at most `recordSize` bytes.
Bytes Records(const Bytes& message, size_t recordSize) {
    Bytes out;
    for (size_t at = 0; at < message.size(); at += recordSize) {
        const size_t n = std::min(recordSize, message.size() - at);
        out.insert(out.end(), {22, 3, 1});
        Put16(out, n);
        out.insert(out.end(), message.begin() + at, message.begin() + at + n);
    }
    return out;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

TEST(ServerName, TlsAndHttp) {
    const Bytes hello = ClientHello("www.example.com");
    const Bytes split = Records(hello, 30);
    Bytes overLength = Records(hello, 4096);
    overLength[overLength.size() - 20] = 0xFF;  // inside the name list: its lengths now run past the data
    Bytes cutLength = hello;
    cutLength[2] += 1;  // the handshake claims more than the record gives
    const struct {
        const char* what;
        Bytes bytes;
        bool http;
        NameParse result;
        std::string name;
        int64_t at;
    } rows[] = {
        {"one record", Records(hello, 4096), false, NameParse::Found, "www.example.com", 61},
        {"over three records", split, false, NameParse::Found, "www.example.com", -1},
        {"first record only", Bytes(split.begin(), split.begin() + 35), false, NameParse::NeedMore, "", -1},
        {"thousands of extensions", Records(ClientHello("a.b", 4000), 16000), false, NameParse::Found, "a.b",
         16066},
        {"a 64 KB name is cut", Records(ClientHello(std::string(65000, 'x')), 16384), false, NameParse::Found,
         std::string(kMaxNameBytes, 'x'), 61},
        {"control characters", Records(ClientHello("a\x01\n.b"), 4096), false, NameParse::Found, "a\x01\n.b",
         61},
        {"lengths past the data", overLength, false, NameParse::None, "", -1},
        {"handshake longer than its records", Records(cutLength, 4096), false, NameParse::NeedMore, "", -1},
        {"an alert record", Bytes{21, 3, 3, 0, 2, 2, 40}, false, NameParse::None, "", -1},
        {"not TLS", Text("SSH-2.0-OpenSSH"), false, NameParse::None, "", -1},
        {"http", Text("GET / HTTP/1.1\r\nUser-Agent: x\r\nhOsT: \t example.org:8080 \r\n\r\n"), true,
         NameParse::Found, "example.org:8080", 39},
        {"http, headers cut", Text("POST /a HTTP/1.0\r\nAccept: *"), true, NameParse::NeedMore, "", -1},
        {"http without host", Text("GET / HTTP/1.0\r\nA: b\r\n\r\nHost: x\r\n"), true, NameParse::None, "",
         -1},
        {"http/2 preface", Text("PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n"), true, NameParse::None, "", -1},
        {"http, empty host", Text("GET / HTTP/1.1\r\nHost:  \r\n\r\n"), true, NameParse::None, "", -1},
    };
    for (const auto& row : rows) {
        FoundName found;
        const NameParse result = row.http ? HttpHostName(row.bytes, found) : TlsClientName(row.bytes, found);
        EXPECT_EQ(result, row.result) << row.what;
        if (result == NameParse::Found) {
            EXPECT_EQ(found.name, row.name) << row.what;
            EXPECT_EQ(found.at, row.at) << row.what;
        }
    }
    EXPECT_EQ(EscapeName("a\\b\x01\xff c"), "a\\\\b\\x01\\xff\\x20c");
}

TEST(ServerName, QuicInitialKeys) {
    // The client keys of the sample Initial packets of RFC 9001 and RFC 9369 (Destination ID
    // 8394c8f03e515708).
    const Bytes dcid = {0x83, 0x94, 0xc8, 0xf0, 0x3e, 0x51, 0x57, 0x08};
    const struct {
        uint32_t version;
        std::string key, iv, hp;
    } rows[] = {
        {kQuicVersion1, "1f369613dd76d5467730efcbe3b1a22d", "fa044b2f42a3fd3b46fb255c",
         "9f50449e04a0e810283a1e9933adedd2"},
        {kQuicVersion2, "8b1a0bc121284290a29e0971b5cd045d", "91f73e2351d8fa91660e909f",
         "45b95e15235d6f45a6b19cbcb0294ba9"},
    };
    auto hex = [](const uint8_t* p, size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i)
            s += "0123456789abcdef"[p[i] >> 4], s += "0123456789abcdef"[p[i] & 15];
        return s;
    };
    for (const auto& row : rows) {
        QuicInitialKeys keys;
        ASSERT_TRUE(DeriveQuicInitialKeys(row.version, dcid, keys));
        EXPECT_EQ(hex(keys.key, 16), row.key);
        EXPECT_EQ(hex(keys.iv, 12), row.iv);
        EXPECT_EQ(hex(keys.hp, 16), row.hp);
    }
    QuicInitialKeys keys;
    EXPECT_FALSE(DeriveQuicInitialKeys(0xff00001d, dcid, keys));
    // Hostile packets: lengths past the datagram, a connection ID longer than 20 bytes, a Retry.
    QuicInitialReader reader;
    const Bytes hostile[] = {
        {0xc0, 0, 0, 0, 1, 8, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0x7f, 0xff},
        {0xc0, 0, 0, 0, 1, 30},
        {0xf0, 0, 0, 0, 1, 0, 0},
        {0xc0, 0, 0, 0, 1, 0, 0, 0, 0x44, 0x00},
    };
    for (const Bytes& b : hostile)
        EXPECT_FALSE(reader.AddDatagram(b));
    FoundName found;
    EXPECT_EQ(reader.Name(found), NameParse::NeedMore);
}

Bytes FromHex(std::string_view hex) {
    Bytes b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        b.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return b;
}

// The ClientHello (for example.com) of the sample client Initial packets of RFC 9001 and RFC 9369, A.2.
const Bytes kSampleHello = FromHex(
    "010000ed0303ebf8fa56f12939b9584a3896472ec40bb863cfd3e86804fe3a47f06a2b69484c00000413011302010000c00000"
    "0010000e00000b6578616d706c652e636f6dff01000100000a00080006001d0017001800100007000504616c706e0005000501"
    "00000000003300260024001d00209370b2c9caa47fbabaf4559fedba753de171fa71f50f1ce15d43e994ec74d748002b000302"
    "0304000d0010000e0403050306030203080408050806002d00020101001c00024001003900320408ffffffffffffffff050480"
    "00ffff07048000ffff0801100104800075300901100f088394c8f03e51570806048000ffff");

// A client Initial packet of `version` to the samples' Destination ID, numbered `pn`, holding one CRYPTO
// frame of kSampleHello's bytes from `from` to `to` and padded to the samples' 1200 bytes.
Bytes ProtectedInitial(uint32_t version, uint32_t pn, size_t from, size_t to) {
    Bytes plain = {6, static_cast<uint8_t>(0x40 | from >> 8), static_cast<uint8_t>(from),
                   static_cast<uint8_t>(0x40 | (to - from) >> 8), static_cast<uint8_t>(to - from)};
    if (from < 64)  // the offset in one byte, as the samples have it
        plain.erase(plain.begin() + 1);
    plain.insert(plain.end(), kSampleHello.begin() + from, kSampleHello.begin() + to);
    plain.resize(1162, 0);
    Bytes p = FromHex(version == kQuicVersion1 ? "c300000001088394c8f03e5157080000449e"
                                               : "d36b3343cf088394c8f03e5157080000449e");
    p.insert(p.end(), {0, 0, 0, static_cast<uint8_t>(pn)});
    QuicInitialKeys k;
    EXPECT_TRUE(DeriveQuicInitialKeys(version, Bytes(p.begin() + 6, p.begin() + 14), k));
    uint8_t nonce[12];
    std::memcpy(nonce, k.iv, 12);
    nonce[11] ^= static_cast<uint8_t>(pn);
    p.resize(22 + plain.size() + 16);
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    int n = 0;
    EVP_EncryptInit_ex(c, EVP_aes_128_gcm(), nullptr, k.key, nonce);
    EVP_EncryptUpdate(c, nullptr, &n, p.data(), 22);
    EVP_EncryptUpdate(c, p.data() + 22, &n, plain.data(), static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(c, p.data() + 22 + n, &n);
    EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_GET_TAG, 16, p.data() + 22 + plain.size());
    uint8_t mask[16];
    EVP_EncryptInit_ex(c, EVP_aes_128_ecb(), nullptr, k.hp, nullptr);
    EVP_EncryptUpdate(c, mask, &n, p.data() + 22, 16);
    EVP_CIPHER_CTX_free(c);
    p[0] ^= mask[0] & 0x0f;
    for (int i = 0; i < 4; ++i)
        p[18 + i] ^= mask[1 + i];
    return p;
}

// A response for www.example.com: CNAME edge.cdn.net, whose A is 192.0.2.`last` and AAAA 2001:db8::7; names
// compressed.
Bytes DnsResponse(uint8_t last) {
    Bytes m = {0x12, 0x34, 0x81, 0x80, 0, 1, 0, 3, 0, 0, 0, 0};
    const Bytes question = {3,   'w', 'w', 'w', 7,   'e', 'x', 'a', 'm', 'p', 'l',
                            'e', 3,   'c', 'o', 'm', 0,   0,   1,   0,   1};
    m.insert(m.end(), question.begin(), question.end());
    m.insert(m.end(), {0xc0, 12,  0,   5,   0, 1,   0,   0,   0, 60,  0,   14,  4,
                       'e',  'd', 'g', 'e', 3, 'c', 'd', 'n', 3, 'n', 'e', 't', 0});
    m.insert(m.end(), {0xc0, 45, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 192, 0, 2, last});
    m.insert(m.end(), {0xc0, 45,   0, 28, 0, 1, 0, 0, 0, 60, 0, 16, 0x20, 1,
                       0x0d, 0xb8, 0, 0,  0, 0, 0, 0, 0, 0,  0, 0,  0,    7});
    return m;
}

TEST(ServerName, DnsAnswers) {
    const Bytes m = DnsResponse(7);
    DnsAnswers out;
    ASSERT_TRUE(DnsAnswerAddresses(m, out));
    ASSERT_EQ(out.addresses.size(), 2u);
    EXPECT_EQ(out.Name(out.addresses[0]), "www.example.com");
    EXPECT_FALSE(out.addresses[0].ipv6);
    EXPECT_EQ(out.addresses[0].address[3], 7);
    EXPECT_TRUE(out.addresses[1].ipv6);
    EXPECT_EQ(out.Name(out.addresses[1]), "www.example.com");

    Bytes loop = {0, 0, 0x81, 0x80, 0, 1, 0, 0, 0, 0, 0, 0, 0xc0, 12, 0, 1, 0, 1};  // a pointer to itself
    EXPECT_FALSE(DnsAnswerAddresses(loop, out));
    Bytes query = m;
    query[2] = 0x01;  // a question, not an answer
    EXPECT_FALSE(DnsAnswerAddresses(query, out));
    Bytes cut(m.begin(), m.end() - 3);
    EXPECT_FALSE(DnsAnswerAddresses(cut, out));
}

// Connections fed through the intake get their names from their first packets, or from a DNS answer stored
// before them; the filter finds them by name.
TEST(ServerName, ConnectionsOfTheStore) {
    StartIntake(50, true);
    const auto feed = [](uint8_t last, uint16_t port, uint32_t seq, uint8_t flags, const Bytes& payload,
                         bool udp = false, bool reply = false) {
        TcpFrameSpec s;
        s.dst[0] = 192, s.dst[1] = 0, s.dst[2] = 2, s.dst[3] = last;
        s.dstPort = port;
        s.srcPort = static_cast<uint16_t>(40000 + last + port);
        s.seq = seq;
        s.flags = flags;
        s.udp = udp;
        s.payload.assign(payload.begin(), payload.end());
        FeedFrame(BuildTcpFrame(reply ? Reply(s) : s));
    };
    feed(8, 22, 0, kTcpSyn, {});                     // 0: before the answer for .8
    feed(53, 53, 0, 0, Bytes(20, 0), true);          // 1: the query
    feed(53, 53, 0, 0, DnsResponse(7), true, true);  // ... its answer names .7
    feed(53, 53, 0, 0, DnsResponse(8), true, true);  // ... and .8
    feed(7, 22, 0, kTcpSyn, {});                     // 2: after it, no name of its own
    feed(7, 22, 1, kTcpAck, Text("SSH-2.0-x\r\n"));
    const Bytes hello = Records(ClientHello("tls.example.net"), 40);
    feed(7, 443, 0, kTcpSyn, {});  // 3: TLS over two segments wins over the answer
    feed(7, 443, 1, kTcpAck, Bytes(hello.begin(), hello.begin() + 50));
    feed(7, 443, 51, kTcpAck, Bytes(hello.begin() + 50, hello.end()));
    feed(9, 80, 1, kTcpAck, Text("GET / HTTP/1.1\r\nHo"));  // 4: HTTP over two segments
    feed(9, 80, 19, kTcpAck, Text("st: a.Example.org\r\n\r\n"));
    // QUIC v1 and v2: the samples' packets (the same bytes: their headers and GCM tags are those printed),
    // and the ClientHello split over two Initial packets that arrive in reverse order.
    const Bytes v1 = ProtectedInitial(kQuicVersion1, 2, 0, kSampleHello.size());
    const Bytes v2 = ProtectedInitial(kQuicVersion2, 2, 0, kSampleHello.size());
    EXPECT_EQ(Bytes(v1.begin(), v1.begin() + 22), FromHex("c000000001088394c8f03e5157080000449e7b9aec34"));
    EXPECT_EQ(Bytes(v1.end() - 16, v1.end()), FromHex("e221af44860018ab0856972e194cd934"));
    EXPECT_EQ(Bytes(v2.begin(), v2.begin() + 22), FromHex("d76b3343cf088394c8f03e5157080000449ea0c95e82"));
    EXPECT_EQ(Bytes(v2.end() - 16, v2.end()), FromHex("a18b2faa745b6fe189cf772a9f84cbfc"));
    feed(20, 443, 0, 0, v1, true);                                                            // 5
    feed(21, 443, 0, 0, v2, true);                                                            // 6
    feed(22, 443, 0, 0, ProtectedInitial(kQuicVersion1, 1, 100, kSampleHello.size()), true);  // 7
    feed(22, 443, 0, 0, ProtectedInitial(kQuicVersion1, 0, 0, 100), true);
    feed(23, 8080, 1, kTcpAck, Text("GET / HTTP/1.1\r\nHost: web.example.info:8080\r\n\r\n"));  // 8
    Bytes overTcp = DnsResponse(30);  // 9: DNS over TCP, its answer over two segments, names 10
    overTcp.insert(overTcp.begin(), {0, static_cast<uint8_t>(overTcp.size())});
    feed(54, 53, 1, kTcpAck, Bytes(overTcp.begin(), overTcp.begin() + 20), false, true);
    feed(54, 53, 21, kTcpAck, Bytes(overTcp.begin() + 20, overTcp.end()), false, true);
    feed(30, 22, 0, kTcpSyn, {});
    ConnectionNames().Update(1, 0);
    const struct {
        NameSource source;
        std::string name;
        bool inFrame;
    } rows[] = {{NameSource::None, "", false},
                {NameSource::None, "", false},
                {NameSource::Dns, "www.example.com", false},
                {NameSource::Tls, "tls.example.net", false},
                {NameSource::Http, "a.Example.org", true},
                {NameSource::Quic, "example.com", false},
                {NameSource::Quic, "example.com", false},
                {NameSource::Quic, "example.com", false},
                {NameSource::Http, "web.example.info:8080", true},
                {NameSource::None, "", false},
                {NameSource::Dns, "www.example.com", false}};
    ASSERT_EQ(g_connectionTable.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const ConnectionName* n = ConnectionNames().Find(i);
        EXPECT_EQ(n ? n->source : NameSource::None, rows[i].source) << i;
        EXPECT_EQ(n ? n->name : "", rows[i].name) << i;
        if (n && rows[i].inFrame) {
            const PacketRecord& p = g_packetTable[n->packet];
            ASSERT_LE(n->frameOffset + n->length, static_cast<uint32_t>(p.capLen));
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data) + n->frameOffset, n->length),
                      rows[i].name);
        }
    }
    const struct {
        const char* filter;
        std::vector<uint32_t> shown;
    } filters[] = {{"name:example.com", {2, 5, 6, 7, 10}},
                   {"name:www.example.com.", {2, 10}},
                   {"name:ample.com", {}},
                   {"name:EXAMPLE.org", {4}},
                   {"example.net", {3}},
                   {"-name:example.com tcp", {0, 3, 4, 8, 9}},
                   {"name:net", {3}},
                   {"name:example.info", {8}},
                   {"name:web.example.info:8080", {8}}};
    for (const auto& f : filters) {
        std::vector<FilterProblem> problems;
        std::vector<uint32_t> shown;
        ConnectionFilter::Parse(f.filter, problems)
            .Scan(g_connectionTable, 0, g_connectionTable.size(), shown);
        EXPECT_TRUE(problems.empty()) << f.filter;
        EXPECT_EQ(shown, f.shown) << f.filter;
    }
    ResetCaptureStore();
}

}  // namespace
