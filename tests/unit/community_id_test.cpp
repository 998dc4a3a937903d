#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>

#include "AnalysisStore.h"
#include "analysis/CommunityId.h"

namespace {

// The published Community ID baseline values (Corelight's community-id repository,
// baseline/README.md, baseline_deflt.json and baseline_seed1.json) for TCP and UDP over IPv4 and IPv6, and
// ICMPv6 (whose type and code stand in the ports).
struct Vector {
    int protocol;
    const char *source, *destination;
    uint16_t sourcePort, destinationPort;
    uint16_t seed;
    const char* id;
} const kVectors[] = {
    {6, "1.2.3.4", "5.6.7.8", 1122, 3344, 0, "1:wCb3OG7yAFWelaUydu0D+125CLM="},
    {6, "5.6.7.8", "1.2.3.4", 3344, 1122, 0, "1:wCb3OG7yAFWelaUydu0D+125CLM="},
    {17, "1.2.3.4", "5.6.7.8", 1122, 3344, 0, "1:0Mu9InQx6z4ZiCZM/7HXi2WMhOg="},
    {17, "5.6.7.8", "1.2.3.4", 3344, 1122, 0, "1:0Mu9InQx6z4ZiCZM/7HXi2WMhOg="},
    {6, "1.2.3.4", "5.6.7.8", 1122, 3344, 1, "1:HhA1B+6CoLbiKPEs5nhNYN4XWfk="},
    {17, "5.6.7.8", "1.2.3.4", 3344, 1122, 1, "1:OShq+iKDAMVouh/4bMxB9Sz4amw="},
    {6, "128.232.110.120", "66.35.250.204", 34855, 80, 0, "1:LQU9qZlK+B5F3KDmev6m5PMibrg="},
    {6, "66.35.250.204", "128.232.110.120", 80, 34855, 0, "1:LQU9qZlK+B5F3KDmev6m5PMibrg="},
    {17, "192.168.1.52", "8.8.8.8", 54585, 53, 0, "1:d/FP5EW3wiY1vCndhwleRRKHowQ="},
    {17, "8.8.8.8", "192.168.1.52", 53, 54585, 0, "1:d/FP5EW3wiY1vCndhwleRRKHowQ="},
    {6, "2001:470:e5bf:dead:4957:2174:e82c:4887", "2607:f8b0:400c:c03::1a", 63943, 25, 0,
     "1:/qFaeAR+gFe1KYjMzVDsMv+wgU4="},
    {6, "2607:f8b0:400c:c03::1a", "2001:470:e5bf:dead:4957:2174:e82c:4887", 25, 63943, 0,
     "1:/qFaeAR+gFe1KYjMzVDsMv+wgU4="},
    {6, "2001:470:e5bf:dead:4957:2174:e82c:4887", "2607:f8b0:400c:c03::1a", 63943, 25, 1,
     "1:eJYTW6AOzFLlSUoESovMjnu7rMw="},
    {58, "fe80::200:86ff:fe05:80da", "fe80::260:97ff:fe07:69ea", 135, 136, 0,
     "1:dGHyGvjMfljg6Bppwm3bg0LO8TY="},
    {58, "fe80::260:97ff:fe07:69ea", "fe80::200:86ff:fe05:80da", 136, 135, 0,
     "1:dGHyGvjMfljg6Bppwm3bg0LO8TY="},
    {58, "3ffe:507:0:1:200:86ff:fe05:80da", "3ffe:501:0:1001::2", 128, 129, 1,
     "1:GfZxjAkDk2MkegpBYHV6tadtFXQ="},
};

Endpoint Parse(const char* ip, uint16_t port) {
    return Peer(ip, port).end;
}

class CommunityIdTest : public StoreFixture {};

TEST_F(CommunityIdTest, PublishedBaselineValues) {
    for (const Vector& v : kVectors) {
        CommunityIdHasher hasher(v.seed);
        const Endpoint s = Parse(v.source, v.sourcePort), d = Parse(v.destination, v.destinationPort);
        EXPECT_EQ(hasher.Compute(s, d, static_cast<uint8_t>(v.protocol)).str(), v.id)
            << v.source << " " << v.destination;
    }
}

// Each connection of a capture made through the store, whichever side spoke first, gets the baseline value.
TEST_F(CommunityIdTest, ConnectionsOfACaptureGetTheBaselineValues) {
    CommunityIdHasher hasher;
    for (const Vector& v : kVectors) {
        if (v.seed != 0 || (v.protocol != 6 && v.protocol != 17))
            continue;
        const Peer s(v.source, v.sourcePort), d(v.destination, v.destinationPort);
        ResetCaptureStore();
        g_captureState = CAPTURE_RUNNING;
        ASSERT_EQ(Packet(s, d, v.protocol == 6), 0);
        ASSERT_EQ(Packet(d, s, v.protocol == 6), 0);
        EXPECT_EQ(hasher.Compute(g_connectionTable[0]).str(), v.id) << v.source << " " << v.destination;
    }
}

TEST_F(CommunityIdTest, EqualAddressesAreOrderedByPort) {
    CommunityIdHasher hasher;
    const Endpoint a = Parse("127.0.0.1", 80), b = Parse("127.0.0.1", 1234);
    EXPECT_EQ(hasher.Compute(a, b, 6).str(), hasher.Compute(b, a, 6).str());
    EXPECT_NE(hasher.Compute(a, b, 6).str(), hasher.Compute(a, b, 17).str());
}

}  // namespace
