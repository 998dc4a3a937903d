#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "capture/Format.h"
#include "capture/SystemTime.h"

namespace {

TEST(FormatTest, AddressesAndTimes) {
    const uint8_t lan[4] = {192, 168, 0, 1};
    const uint8_t all[4] = {255, 255, 255, 255};
    const uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(IpToText(lan), "192.168.0.1");
    EXPECT_EQ(IpToText(all), "255.255.255.255");
    EXPECT_EQ(MacToText(mac), "00.1a.2b.3c.4d.5e");
    EXPECT_EQ(EndpointText(all, 65535), "255.255.255.255:65535");

    SystemTime t{};
    t.wHour = 9, t.wMinute = 5, t.wSecond = 3, t.wMilliseconds = 7;
    EXPECT_EQ(TimeToText(t), "09:05:03.007");
    t.wHour = 21, t.wMinute = 0, t.wSecond = 0, t.wMilliseconds = 0;
    EXPECT_EQ(TimeToText(t), "21:00:00.000");
}

TEST(FormatTest, ServiceLabelsTakeTheFirstMatchingEntry) {
    struct Case {
        uint16_t a, b;
        int protocol;
        const char* label;
    } cases[] = {
        {1025, 8080, 6, "TCP"},
        {80, 25, 6, "TCP:smtp"},
        {20, 21, 6, "TCP:ftp-data"},
        {3000, 42, 6, "TCP:Domain"},
        {995, 1, 6, "TCP:pop3ssl"},
        {5000, 137, 17, "UDP:netbios"},
        {53, 161, 17, "UDP:Domain"},
        {162, 9, 17, "UDP:snmp-trap"},
        {80, 443, 17, "UDP"},
        {80, 80, 1, ""},
        // A one-port entry matches neither port 0 nor its own missing second port.
        {0, 1234, 6, "TCP"},
        {0, 0, 17, "UDP"},
        // Both ports hit an entry: the earlier entry of the table wins, not the first port.
        {43, 53, 6, "TCP:Domain"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ServiceLabel(c.a, c.b, c.protocol), c.label) << c.a << " " << c.b << " " << c.protocol;
}

TEST(FormatTest, ByteOrder) {
    EXPECT_EQ(NetToHost16(0x1234), 0x3412);
    EXPECT_EQ(NetToHost32(0x12345678u), 0x78563412u);
}

// Packets of one second share a cached conversion: a change of zone in the running process must still show.
TEST(FormatTest, LocalTimeFollowsAChangeOfZone) {
    const char* old = std::getenv("TZ");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    struct Case {
        const char* zone;  // POSIX form: needs no time-zone database
        int64_t sec;
        const char* time;
    } cases[] = {
        {"UTC", 0, "00:00:00.000"},
        {"IST-5:30", 0, "05:30:00.000"},
        {"UTC", 0, "00:00:00.000"},
        // Same name and standard offset, different summer time: 1 July 1970, 00:00 UTC.
        {"EST5", 15638400, "19:00:00.000"},
        {"EST5EDT,M3.2.0,M11.1.0", 15638400, "20:00:00.000"},
    };
    for (const Case& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        EXPECT_EQ(TimeToText(LocalTimeFromStamp(c.sec, 0)).str(), c.time) << c.zone;
    }
    if (saved)
        setenv("TZ", saved->c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// A stored frame whose payload is `payload` (an IPv4/UDP frame, as the intake keeps them).
struct StoredFrame {
    std::vector<uint8_t> bytes;
    PacketRecord record;
    explicit StoredFrame(const std::string& payload) : bytes(42, 0) {
        // Ethernet, IPv4, UDP: a frame the intake keeps.
        bytes[12] = 0x08;
        bytes[14] = 0x45;
        bytes[23] = 17;
        uint16_t total = static_cast<uint16_t>(28 + payload.size());
        bytes[16] = static_cast<uint8_t>(total >> 8);
        bytes[17] = static_cast<uint8_t>(total);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        record.data = bytes.data();
        record.capLen = static_cast<int32_t>(bytes.size());
        record.payloadLen = static_cast<int32_t>(payload.size());
    }
};

TEST(FormatTest, PacketCellsAndPayloadPreview) {
    struct Case {
        std::string payload;
        std::string cell;
    } cases[] = {
        {"", ""},
        {std::string(50, 'a'), std::string(50, 'a')},
        {std::string(51, 'b'), std::string(50, 'b') + "..."},
        {std::string("ab\0cd", 5), "ab"},
        // A NUL past the 50 shown bytes does not cut the dots.
        {std::string(55, 'a') + std::string("\0wxyz", 5), std::string(50, 'a') + "..."},
        {"\r\n\t\xff", "\r\n\t\xff"},
    };
    for (const Case& c : cases) {
        StoredFrame f(c.payload);
        EXPECT_EQ(PacketCellText(f.record, 3), c.cell);
        EXPECT_EQ(PacketCellText(f.record, 2), std::to_string(c.payload.size()));
        EXPECT_EQ(PacketCellText(f.record, 1), std::to_string(42 + c.payload.size()));
    }
    StoredFrame f("x");
    EXPECT_THROW(PacketCellText(f.record, 4), std::out_of_range);
}

}  // namespace
