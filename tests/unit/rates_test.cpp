#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/RateBins.h"
#include "analysis/StoreRates.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

namespace {

constexpr int64_t kSecond = 1'000'000;
constexpr int64_t kT0 = 1'700'000'000 * kSecond;  // 2023

struct Packet {
    int64_t us;
    uint32_t bytes;
};

RateBins Count(const std::vector<Packet>& packets) {
    RateBins bins;
    for (const Packet& p : packets)
        bins.Add(p.us, p.bytes);
    bins.Flush();
    return bins;
}

// Packets and bytes of every non-empty bin of `level`, as (bin, packets, bytes).
std::vector<std::array<int64_t, 3>> Bins(const RateBins& bins, int level) {
    std::vector<std::array<int64_t, 3>> out;
    int64_t lo = 0, hi = 0;
    const RateLevel& l = bins.Level(level);
    if (!l.Range(lo, hi))
        return out;
    for (int64_t b = lo; b <= hi; ++b)
        if (l.Packets(b))
            out.push_back({b, static_cast<int64_t>(l.Packets(b)), static_cast<int64_t>(l.Bytes(b))});
    return out;
}

TEST(RateBinsTest, CountsEachLevelFromTheFirstPacket) {
    // 0 s, +5 ms, +15 ms, +1.2 s, +61 s, +2 h.
    const std::vector<Packet> packets = {{kT0, 60},
                                         {kT0 + 5'000, 100},
                                         {kT0 + 15'000, 1000},
                                         {kT0 + 1'200'000, 70},
                                         {kT0 + 61 * kSecond, 80},
                                         {kT0 + 7200 * kSecond, 90}};
    const RateBins bins = Count(packets);
    EXPECT_EQ(bins.OriginUs(), kT0);
    EXPECT_EQ(bins.TotalPackets(), 6u);
    EXPECT_EQ(bins.TotalBytes(), 1400u);
    struct Case {
        int level;
        std::vector<std::array<int64_t, 3>> bins;
    };
    const Case cases[] = {
        // 2 h of 10 ms bins (720,000) exceed the finest level's cap (2^19): the last packet is left out.
        {0, {{0, 2, 160}, {1, 1, 1000}, {120, 1, 70}, {6100, 1, 80}}},
        {1, {{0, 3, 1160}, {12, 1, 70}, {610, 1, 80}, {72000, 1, 90}}},
        {2, {{0, 3, 1160}, {1, 1, 70}, {61, 1, 80}, {7200, 1, 90}}},
        {3, {{0, 4, 1230}, {6, 1, 80}, {720, 1, 90}}},
        {4, {{0, 4, 1230}, {1, 1, 80}, {120, 1, 90}}},
        {5, {{0, 5, 1310}, {12, 1, 90}}},
        {6, {{0, 5, 1310}, {2, 1, 90}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Bins(bins, c.level), c.bins) << "level " << c.level;
    EXPECT_EQ(bins.Level(0).Refused(), 1u);
    EXPECT_EQ(bins.Level(1).Refused(), 0u);
    EXPECT_TRUE(bins.IsCut());
    EXPECT_EQ(bins.Outside(), 0u);

    // Around the last packet the finest level has nothing: the series comes from the next one.
    std::vector<RatePoint> points;
    EXPECT_EQ(bins.Series(kT0 + 7199 * kSecond, kT0 + 7201 * kSecond, 1, points), 100'000);
    // Empty bins up to the last packet, none after it.
    ASSERT_EQ(points.size(), 11u);
    EXPECT_EQ(points.back().startUs, kT0 + 7200 * kSecond);
    EXPECT_EQ(points.back().packets, 1u);
    // Around the first ones it does.
    EXPECT_EQ(bins.Series(kT0, kT0 + kSecond, 1, points), 10'000);
    ASSERT_EQ(points.size(), 100u);
    EXPECT_EQ(points[0].packets, 2u);
    EXPECT_EQ(points[1].bytes, 1000u);
}

TEST(RateBinsTest, OrderOfArrivalDoesNotMatter) {
    std::vector<Packet> packets;
    std::mt19937 random(7);
    for (int i = 0; i < 5000; ++i)
        packets.push_back({kT0 + static_cast<int64_t>(random() % (600 * kSecond)),
                           static_cast<uint32_t>(40 + random() % 1500)});
    const RateBins sorted = [&] {
        std::vector<Packet> copy = packets;
        std::sort(copy.begin(), copy.end(), [](const Packet& a, const Packet& b) { return a.us < b.us; });
        // The same origin as the shuffled run: the first packet's moment.
        RateBins bins;
        bins.Reset(packets.front().us);
        for (const Packet& p : copy)
            bins.Add(p.us, p.bytes);
        bins.Flush();
        return bins;
    }();
    const RateBins shuffled = Count(packets);
    for (int level = 0; level < RateBins::kLevels; ++level)
        EXPECT_EQ(Bins(sorted, level), Bins(shuffled, level)) << "level " << level;
    EXPECT_FALSE(shuffled.IsCut());
}

TEST(RateBinsTest, SeriesFollowsTheWidthAskedForAndFillsGapsWithEmptyBins) {
    std::vector<Packet> packets;
    // One packet of 100 bytes every 250 ms for a minute.
    for (int i = 0; i < 240; ++i)
        packets.push_back({kT0 + i * 250'000, 100});
    const RateBins bins = Count(packets);
    std::vector<RatePoint> points;
    struct Case {
        int64_t minWidth;
        int64_t width;
        size_t points;
        uint64_t firstPackets;
    };
    const Case cases[] = {
        {1, 10'000, 5976, 1},                              // 10 ms: 59.76 s of bins, most of them empty
        {50'000, 100'000, 598, 1},                         // 100 ms
        {kSecond, kSecond, 60, 4},                         // 1 s
        {2 * kSecond, 10 * kSecond, 6, 40},                // 10 s
        {2 * 3600 * kSecond, 2 * 3600 * kSecond, 1, 240},  // past the coarsest level: hours added up
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bins.Series(kT0 - kSecond, kT0 + 100 * kSecond, c.minWidth, points), c.width);
        ASSERT_EQ(points.size(), c.points) << c.minWidth;
        EXPECT_EQ(points.front().packets, c.firstPackets) << c.minWidth;
        uint64_t total = 0;
        for (const RatePoint& p : points)
            total += p.packets;
        EXPECT_EQ(total, 240u) << c.minWidth;
    }
    // At(): the bin under a moment at the chosen width.
    const RatePoint at = bins.At(kT0 + 1'500'000, kSecond);
    EXPECT_EQ(at.startUs, kT0 + kSecond);
    EXPECT_EQ(at.widthUs, kSecond);
    EXPECT_EQ(at.packets, 4u);
    EXPECT_EQ(at.bytes, 400u);
}

TEST(RateBinsTest, BadTimesStayFiniteAndDrawable) {
    struct Case {
        const char* name;
        std::vector<Packet> packets;
        uint64_t outside;
        bool cut;
    };
    const int64_t year = 365 * 24 * 3600 * kSecond;
    std::vector<Packet> jump;  // a clock that jumps by 30 years and back, in the middle of the capture
    for (int i = 0; i < 1000; ++i)
        jump.push_back({kT0 + i * 1000 + (i == 500 ? 30 * year : 0), 60});
    const Case cases[] = {
        {"empty", {}, 0, false},
        {"single packet", {{kT0, 60}}, 0, false},
        {"before 1970", {{-5 * kSecond - 500'000, 60}, {-kSecond, 60}, {kSecond, 60}}, 0, false},
        {"jump by years", jump, 0, true},
        {"years before the first", {{kT0, 60}, {kT0 - 40 * year, 60}, {kT0 + 1000, 60}}, 0, true},
        {"absurd seconds", {{kT0, 60}, {INT64_MAX, 60}, {INT64_MIN, 60}, {kT0 + 1, 60}}, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RateBins bins = Count(c.packets);
        EXPECT_EQ(bins.TotalPackets(), c.packets.size());
        EXPECT_EQ(bins.Outside(), c.outside);
        EXPECT_EQ(bins.IsCut(), c.cut);
        EXPECT_LT(bins.AllocatedBytes(), size_t{30} << 20);
        int64_t first = 0, last = 0;
        const bool any = bins.Span(first, last);
        EXPECT_EQ(any, !c.packets.empty());
        if (!any)
            continue;
        // Fit-all at 1,000 pixels: a few points at most per pixel, every held packet counted once.
        std::vector<RatePoint> points;
        const int64_t width = bins.Series(first, last + 1, (last + 1 - first + 999) / 1000, points);
        EXPECT_GT(width, 0);
        EXPECT_LE(points.size(), 1002u);
        uint64_t total = 0;
        for (const RatePoint& p : points)
            total += p.packets;
        EXPECT_EQ(total, c.packets.size() - c.outside);
    }
}

TEST(RateBinsTest, TimesBefore1970AreBinnedFromTheOrigin) {
    const RateBins bins = Count({{-1'500'000, 10}, {-1'400'000, 20}, {-400'000, 30}, {600'000, 40}});
    EXPECT_EQ(Bins(bins, 2), (std::vector<std::array<int64_t, 3>>{{0, 2, 30}, {1, 1, 30}, {2, 1, 40}}));
    EXPECT_EQ(StampMicros(-2, 500'000), -1'500'000);
    // A microsecond field out of range carries into the seconds.
    EXPECT_EQ(StampMicros(10, 2'000'001), 12'000'001);
    EXPECT_EQ(StampMicros(10, -1), 9'999'999);
}

// --- From the store ---------------------------------------------------------------------------------------

class StoreRatesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetCaptureStore();
        g_config = CCaptureConfig();
        g_config.bufferMB = 10;
        g_captureState = CAPTURE_RUNNING;
    }
    void TearDown() override { ResetCaptureStore(); }

    // A packet of `len` bytes at `us` from A to B (or back), over IPv4 or IPv6; returns its connection.
    static int Store(int64_t us, int len, bool aToB, uint16_t port = 80, bool ipv6 = false) {
        static const uint8_t a[16] = {10, 0, 0, 1}, b[16] = {10, 0, 0, 2};
        std::vector<uint8_t> frame(static_cast<size_t>(len), 0);
        size_t index = 0;
        const PacketTimestamp stamp{FloorDiv(us, kSecond),
                                    static_cast<int32_t>(us - FloorDiv(us, kSecond) * kSecond)};
        EXPECT_EQ(StorePacket(stamp, frame.data(), len, 0, &index), 1);
        const auto add = ipv6 ? FindOrAddConnectionIpv6 : FindOrAddConnection;
        return aToB ? add(1, b, a, port, 1234, index) : add(1, a, b, 1234, port, index);
    }
};

TEST_F(StoreRatesTest, TakesUpNewPacketsAndTheChosenConnectionPerDirection) {
    StoreRates rates;
    EXPECT_FALSE(rates.TakeUp());
    Store(kT0, 100, true);
    Store(kT0 + 300'000, 200, false);
    Store(kT0 + 400'000, 50, true, 443);  // another connection
    EXPECT_TRUE(rates.TakeUp());
    EXPECT_EQ(rates.All().TotalPackets(), 3u);
    EXPECT_EQ(rates.All().OriginUs(), kT0);
    rates.SetConnection(0);
    EXPECT_EQ(rates.ToServer().TotalBytes(), 100u);
    EXPECT_EQ(rates.ToClient().TotalBytes(), 200u);
    EXPECT_FALSE(rates.TakeUp());

    // Later packets are taken up at the next call, never twice.
    Store(kT0 + 1'100'000, 300, true);
    EXPECT_TRUE(rates.TakeUp());
    EXPECT_EQ(rates.All().TotalPackets(), 4u);
    EXPECT_EQ(rates.All().TotalBytes(), 650u);
    EXPECT_EQ(rates.ToServer().TotalBytes(), 400u);
    EXPECT_EQ(rates.ToServer().Level(2).Bytes(1), 300u);
    EXPECT_EQ(rates.ToServer().OriginUs(), kT0);

    // The first packet of the connection at or after a moment.
    EXPECT_EQ(rates.ConnectionPacketAtOrAfter(kT0), 0);
    EXPECT_EQ(rates.ConnectionPacketAtOrAfter(kT0 + 1), 1);
    EXPECT_EQ(rates.ConnectionPacketAtOrAfter(kT0 + 300'001), 2);
    EXPECT_EQ(rates.ConnectionPacketAtOrAfter(kT0 + 2 * kSecond), -1);

    // Another connection; one that is not there shows none.
    rates.SetConnection(1);
    EXPECT_EQ(rates.ToServer().TotalBytes(), 50u);
    EXPECT_EQ(rates.ToClient().TotalBytes(), 0u);
    rates.SetConnection(7);
    EXPECT_EQ(rates.Connection(), -1);
    EXPECT_EQ(rates.ConnectionPacketAtOrAfter(kT0), -1);

    // An IPv6 conversation between the same ends' bytes is a connection of its own, with its directions.
    EXPECT_EQ(Store(kT0 + 1'200'000, 60, true, 80, true), 2);
    EXPECT_EQ(Store(kT0 + 1'300'000, 90, false, 80, true), 2);
    EXPECT_TRUE(rates.TakeUp());
    rates.SetConnection(2);
    EXPECT_EQ(rates.ToServer().TotalBytes(), 60u);
    EXPECT_EQ(rates.ToClient().TotalBytes(), 90u);
}

TEST_F(StoreRatesTest, StartsOverWhenTheStoreWasEmptied) {
    StoreRates rates;
    for (int i = 0; i < 5; ++i)
        Store(kT0 + i * kSecond, 100, true);
    rates.TakeUp();
    rates.SetConnection(0);
    // Emptied and refilled with more packets between two calls: nothing of the old capture may stay.
    ResetCaptureStore();
    g_captureState = CAPTURE_RUNNING;
    for (int i = 0; i < 7; ++i)
        Store(kT0 + 3600 * kSecond + i, 10, false);
    EXPECT_TRUE(rates.TakeUp());
    EXPECT_EQ(rates.All().TotalPackets(), 7u);
    EXPECT_EQ(rates.All().TotalBytes(), 70u);
    EXPECT_EQ(rates.All().OriginUs(), kT0 + 3600 * kSecond);
    EXPECT_EQ(rates.Connection(), -1);
}

TEST_F(StoreRatesTest, OutOfOrderPacketsFindTheClosestLaterPacket) {
    StoreRates rates;
    Store(kT0 + 5 * kSecond, 10, true);
    Store(kT0 + 1 * kSecond, 10, false);
    Store(kT0 + 3 * kSecond, 10, true);
    rates.TakeUp();
    rates.SetConnection(0);
    EXPECT_EQ(rates.ConnectionPacketAtOrAfter(kT0 + 2 * kSecond), 2);
    EXPECT_EQ(rates.ConnectionPacketAtOrAfter(kT0), 1);
    // Bins before the origin (the first stored packet) count too.
    EXPECT_EQ(rates.All().Level(2).Packets(-4), 1u);
}

}  // namespace
