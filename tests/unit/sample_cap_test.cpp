// Checks the shipped sample capture (res/sample.cap) as another tool would read it: well-formed headers,
// valid checksums, coherent TCP streams, and the kinds of frames that the program's first run and its tests
// rely on finding there.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

struct Frame {
    int64_t sec;
    int64_t usec;
    std::vector<uint8_t> bytes;
};

const std::string kSample = std::string(PACTERRA_SOURCE_DIR) + "/res/sample.cap";

std::vector<Frame> ReadSample(int* linkType) {
    char err[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(kSample.c_str(), err);
    if (!p) {
        ADD_FAILURE() << err;
        return {};
    }
    *linkType = pcap_datalink(p);
    std::vector<Frame> frames;
    pcap_pkthdr* h;
    const u_char* data;
    while (pcap_next_ex(p, &h, &data) == 1) {
        EXPECT_EQ(h->caplen, h->len) << "frame " << frames.size() + 1 << " is truncated";
        frames.push_back({h->ts.tv_sec, h->ts.tv_usec, std::vector<uint8_t>(data, data + h->caplen)});
    }
    pcap_close(p);
    return frames;
}

unsigned Get16(const std::vector<uint8_t>& b, size_t at) {
    return (b[at] << 8) | b[at + 1];
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return (Get16(b, at) << 16) | Get16(b, at + 2);
}

// One's-complement sum of a region that includes its checksum field: 0xFFFF when the checksum is right.
uint32_t Sum(const uint8_t* p, size_t n, uint32_t acc = 0) {
    for (size_t i = 0; i < n; ++i)
        acc += (i & 1) ? p[i] : p[i] << 8;
    return acc;
}
uint16_t Folded(uint32_t acc) {
    while (acc >> 16)
        acc = (acc & 0xFFFF) + (acc >> 16);
    return static_cast<uint16_t>(acc);
}

struct Ipv4 {
    size_t ihl;    // bytes
    size_t total;  // bytes
    uint8_t proto;
    size_t l4;  // offset of the transport header in the frame
};

bool ParseIpv4(const Frame& f, Ipv4* ip) {
    const auto& b = f.bytes;
    if (b.size() < 34 || Get16(b, 12) != 0x0800)
        return false;
    *ip = {static_cast<size_t>(b[14] & 0x0F) * 4, Get16(b, 16), b[23],
           14 + static_cast<size_t>(b[14] & 0x0F) * 4};
    return true;
}

class SampleCapture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { frames_ = ReadSample(&linkType_); }
    static std::vector<Frame> frames_;
    static int linkType_;
};
std::vector<Frame> SampleCapture::frames_;
int SampleCapture::linkType_ = -1;

TEST_F(SampleCapture, IsASmallEthernetFileOfAFewMinutes) {
    ASSERT_FALSE(frames_.empty());
    EXPECT_EQ(linkType_, DLT_EN10MB);
    EXPECT_LT(std::filesystem::file_size(kSample), 200u * 1024);
    EXPECT_EQ(frames_.front().sec, 1773480413);  // 2026-03-14 09:26:53 UTC
    int64_t span = frames_.back().sec - frames_.front().sec;
    EXPECT_GE(span, 120);
    EXPECT_LE(span, 240);
    for (size_t i = 1; i < frames_.size(); ++i) {
        const Frame& a = frames_[i - 1];
        const Frame& b = frames_[i];
        EXPECT_TRUE(b.sec > a.sec || (b.sec == a.sec && b.usec >= a.usec))
            << "frame " << i + 1 << " goes back";
        EXPECT_LT(b.usec, 1000000);
    }
}

TEST_F(SampleCapture, FramesAreWireSizedWithValidIpHeaders) {
    for (size_t i = 0; i < frames_.size(); ++i) {
        const Frame& f = frames_[i];
        SCOPED_TRACE("frame " + std::to_string(i + 1));
        EXPECT_GE(f.bytes.size(), 60u);
        EXPECT_LE(f.bytes.size(), 1514u);
        Ipv4 ip;
        if (!ParseIpv4(f, &ip))
            continue;
        EXPECT_EQ(f.bytes[14] >> 4, 4);
        ASSERT_GE(ip.ihl, 20u);
        ASSERT_LE(14 + ip.total, f.bytes.size());
        EXPECT_EQ(Folded(Sum(f.bytes.data() + 14, ip.ihl)), 0xFFFF) << "IP header checksum";
        // Anything after the IP packet is Ethernet padding up to the 60-byte minimum, and zero.
        if (14 + ip.total < f.bytes.size()) {
            EXPECT_EQ(f.bytes.size(), 60u);
            for (size_t k = 14 + ip.total; k < f.bytes.size(); ++k)
                EXPECT_EQ(f.bytes[k], 0);
        }
    }
}

TEST_F(SampleCapture, TransportChecksumsAreValid) {
    int checked = 0;
    for (size_t i = 0; i < frames_.size(); ++i) {
        const Frame& f = frames_[i];
        Ipv4 ip;
        if (!ParseIpv4(f, &ip))
            continue;
        SCOPED_TRACE("frame " + std::to_string(i + 1));
        const uint8_t* l4 = f.bytes.data() + ip.l4;
        size_t len = ip.total - ip.ihl;
        if (ip.proto == 1) {
            EXPECT_EQ(Folded(Sum(l4, len)), 0xFFFF);
        } else if (ip.proto == 6 || ip.proto == 17) {
            uint32_t pseudo = Sum(f.bytes.data() + 26, 8) + ip.proto + static_cast<uint32_t>(len);
            EXPECT_EQ(Folded(Sum(l4, len, pseudo)), 0xFFFF);
            if (ip.proto == 17) {
                EXPECT_EQ(Get16(f.bytes, ip.l4 + 4), len) << "UDP length";
                EXPECT_NE(Get16(f.bytes, ip.l4 + 6), 0u) << "UDP checksum present";
            }
        } else {
            continue;
        }
        ++checked;
    }
    EXPECT_GT(checked, 100);
}

// With nothing lost, every segment starts where the previous one of its direction ended, and
// acknowledgements never go back nor cover more than the other side has sent.
TEST_F(SampleCapture, TcpStreamsAreContinuous) {
    struct Direction {
        bool seen = false;
        uint32_t next = 0;  // next sequence number expected
        bool finished = false;
        uint32_t lastAck = 0;
    };
    using Key = std::tuple<uint32_t, unsigned, uint32_t, unsigned>;
    std::map<Key, Direction> dirs;
    int syns = 0, fins = 0;
    for (size_t i = 0; i < frames_.size(); ++i) {
        const Frame& f = frames_[i];
        Ipv4 ip;
        if (!ParseIpv4(f, &ip) || ip.proto != 6)
            continue;
        SCOPED_TRACE("frame " + std::to_string(i + 1));
        const auto& b = f.bytes;
        size_t off = ip.l4;
        Key me{Get32(b, 26), Get16(b, off), Get32(b, 30), Get16(b, off + 2)};
        Key peer{Get32(b, 30), Get16(b, off + 2), Get32(b, 26), Get16(b, off)};
        uint32_t seq = Get32(b, off + 4);
        uint32_t ack = Get32(b, off + 8);
        size_t hdr = (b[off + 12] >> 4) * 4;
        ASSERT_GE(hdr, 20u);
        uint8_t flags = b[off + 13];
        size_t payload = ip.total - ip.ihl - hdr;
        bool syn = flags & 0x02, fin = flags & 0x01, rst = flags & 0x04, hasAck = flags & 0x10;

        Direction& d = dirs[me];
        if (syn) {
            EXPECT_FALSE(d.seen) << "second SYN in one direction";
            EXPECT_EQ(payload, 0u);
            d = {true, seq + 1, false, 0};
            ++syns;
        } else if (rst) {
            // A reset of a refused SYN carries the acknowledgement of that SYN.
            EXPECT_TRUE(hasAck);
            EXPECT_EQ(ack, dirs[peer].next);
            continue;
        } else {
            ASSERT_TRUE(d.seen) << "data before the SYN";
            EXPECT_FALSE(d.finished && (payload > 0 || fin)) << "data after the FIN";
            EXPECT_EQ(seq, d.next) << "gap or overlap";
            EXPECT_LE(payload, 1460u);
            d.next += static_cast<uint32_t>(payload) + (fin ? 1 : 0);
            if (fin) {
                d.finished = true;
                ++fins;
            }
        }
        if (hasAck) {
            const Direction& other = dirs[peer];
            ASSERT_TRUE(other.seen) << "acknowledges a direction that never started";
            EXPECT_LE(static_cast<int32_t>(ack - other.next), 0) << "acknowledges what the peer has not sent";
            if (!syn && d.lastAck != 0) {
                EXPECT_GE(static_cast<int32_t>(ack - d.lastAck), 0) << "acknowledgement goes back";
            }
            d.lastAck = ack;
        } else {
            EXPECT_TRUE(syn) << "only the first SYN goes without ACK";
        }
    }
    EXPECT_GE(syns, 10);
    EXPECT_GE(fins, 10);
}

TEST_F(SampleCapture, HoldsTheFramesThatExerciseTheIntake) {
    int arp = 0, icmp = 0, tcpWithIpOptions = 0, paddedUdp = 0, fullSegments = 0, kept = 0;
    for (const Frame& f : frames_) {
        Ipv4 ip;
        if (Get16(f.bytes, 12) == 0x0806)
            ++arp;
        if (!ParseIpv4(f, &ip))
            continue;
        if (ip.proto == 1)
            ++icmp;
        if (ip.proto != 6 && ip.proto != 17)
            continue;
        ++kept;
        if (ip.proto == 6 && ip.ihl > 20) {
            size_t hdr = (f.bytes[ip.l4 + 12] >> 4) * 4;
            if (ip.total > ip.ihl + hdr)  // carries data, so the payload length depends on the IHL
                ++tcpWithIpOptions;
        }
        if (ip.proto == 17 && 14 + ip.total < f.bytes.size())
            ++paddedUdp;
        if (ip.proto == 6 && f.bytes.size() == 1514)
            ++fullSegments;
    }
    EXPECT_GE(arp, 1);
    EXPECT_GE(icmp, 1);
    EXPECT_GE(tcpWithIpOptions, 1);
    EXPECT_GE(paddedUdp, 1);
    EXPECT_GE(fullSegments, 3);
    EXPECT_GT(kept, 100);
}

TEST_F(SampleCapture, CarriesTheApplicationProtocolsShownInTheViews) {
    std::map<unsigned, int> udpPorts, tcpPorts;
    std::string tcpText;
    for (const Frame& f : frames_) {
        Ipv4 ip;
        if (!ParseIpv4(f, &ip))
            continue;
        if (ip.proto == 17) {
            ++udpPorts[std::min(Get16(f.bytes, ip.l4), Get16(f.bytes, ip.l4 + 2))];
        } else if (ip.proto == 6) {
            ++tcpPorts[std::min(Get16(f.bytes, ip.l4), Get16(f.bytes, ip.l4 + 2))];
            size_t start = ip.l4 + (f.bytes[ip.l4 + 12] >> 4) * 4;
            tcpText.append(f.bytes.begin() + start, f.bytes.begin() + 14 + ip.total);
        }
    }
    for (unsigned port : {53u, 123u, 137u, 161u})
        EXPECT_GT(udpPorts[port], 0) << "UDP port " << port;
    for (unsigned port : {22u, 25u, 80u, 443u})
        EXPECT_GT(tcpPorts[port], 0) << "TCP port " << port;
    for (std::string_view text : {"GET / HTTP/1.1\r\n", "POST /cart/add HTTP/1.1\r\n", "HTTP/1.1 200 OK\r\n",
                                  "HTTP/1.1 301 Moved Permanently\r\n", "HTTP/1.1 404 Not Found\r\n",
                                  "\r\nSet-Cookie: ", "\r\nCookie: ", "\r\nLast-Modified: ",
                                  "\r\nContent-Length: ", "<!--", "220 mail.example.com", "SSH-2.0-"})
        EXPECT_NE(tcpText.find(text), std::string::npos) << text;
}

}  // namespace
