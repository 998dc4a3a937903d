#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>

#include "AnalysisStore.h"
#include "analysis/CommunityId.h"

namespace {

// The published Community ID baseline values (Corelight's community-id repository,
// baseline/README.md and baseline_deflt.json) for TCP and UDP over IPv4.
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
};

Endpoint Parse(const char* ip, uint16_t port) {
    Endpoint e{};
    EXPECT_EQ(::inet_pton(AF_INET, ip, e.ip), 1);
    e.port = port;
    return e;
}

class CommunityIdTest : public StoreFixture {};

TEST_F(CommunityIdTest, PublishedBaselineValues) {
    for (const Vector& v : kVectors) {
        CommunityIdHasher hasher(v.seed);
        const Endpoint s = Parse(v.source, v.sourcePort), d = Parse(v.destination, v.destinationPort);
        EXPECT_EQ(hasher.Compute(s.ip, s.port, d.ip, d.port, static_cast<uint8_t>(v.protocol)).str(), v.id)
            << v.source << " " << v.destination;
    }
}

// Each connection of a capture made through the store, whichever side spoke first, gets the baseline value.
TEST_F(CommunityIdTest, ConnectionsOfACaptureGetTheBaselineValues) {
    CommunityIdHasher hasher;
    for (const Vector& v : kVectors) {
        if (v.seed != 0)
            continue;
        const Endpoint s = Parse(v.source, v.sourcePort), d = Parse(v.destination, v.destinationPort);
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
    EXPECT_EQ(hasher.Compute(a.ip, a.port, b.ip, b.port, 6).str(),
              hasher.Compute(b.ip, b.port, a.ip, a.port, 6).str());
    EXPECT_NE(hasher.Compute(a.ip, a.port, b.ip, b.port, 6).str(),
              hasher.Compute(a.ip, a.port, b.ip, b.port, 17).str());
}

}  // namespace
