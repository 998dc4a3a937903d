// The adapter list and the default choice, on device lists built by hand the way the capture library
// reports them (Linux lists a link-layer entry first).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>

#include <cstdio>
#include <deque>
#include <string>
#include <tuple>
#include <vector>

#include "config/Adapters.h"

namespace {

// Owns the devices, entries and socket addresses of a hand-made list.
class DeviceListBuilder {
public:
    // Entries: "ipv4 ADDR MASK", "ipv6 ADDR", "link" (AF_PACKET); devices are linked in the order added.
    void Add(const char* name, const char* description, bpf_u_int32 flags, std::vector<std::string> entries) {
        pcap_if_t& dev = m_devices.emplace_back();
        dev.name = const_cast<char*>(name);
        dev.description = const_cast<char*>(description);
        dev.flags = flags;
        pcap_addr_t** tail = &dev.addresses;
        for (const std::string& e : entries) {
            pcap_addr_t& a = m_addresses.emplace_back();
            char kind[8] = {}, addr[64] = {}, mask[64] = {};
            std::sscanf(e.c_str(), "%7s %63s %63s", kind, addr, mask);
            if (std::string(kind) == "ipv4") {
                a.addr = V4(addr);
                if (*mask)
                    a.netmask = V4(mask);
            } else if (std::string(kind) == "ipv6") {
                auto& s = m_v6.emplace_back();
                s.sin6_family = AF_INET6;
                inet_pton(AF_INET6, addr, &s.sin6_addr);
                a.addr = reinterpret_cast<sockaddr*>(&s);
            } else {
                auto& s = m_other.emplace_back();
                s.sa_family = 17;  // AF_PACKET
                a.addr = &s;
            }
            *tail = &a;
            tail = &a.next;
        }
        if (m_devices.size() > 1)
            m_devices[m_devices.size() - 2].next = &dev;
    }
    const pcap_if_t* Head() const { return m_devices.empty() ? nullptr : &m_devices.front(); }

private:
    sockaddr* V4(const char* text) {
        auto& s = m_v4.emplace_back();
        s.sin_family = AF_INET;
        inet_pton(AF_INET, text, &s.sin_addr);
        return reinterpret_cast<sockaddr*>(&s);
    }
    std::deque<pcap_if_t> m_devices;
    std::deque<pcap_addr_t> m_addresses;
    std::deque<sockaddr_in> m_v4;
    std::deque<sockaddr_in6> m_v6;
    std::deque<sockaddr> m_other;
};

constexpr bpf_u_int32 kUp = PCAP_IF_UP | PCAP_IF_RUNNING;

TEST(AdapterRowsTest, EachDeviceShowsItsChosenAddress) {
    DeviceListBuilder list;
    list.Add("eth0", "Intel Ethernet", kUp, {"link", "ipv4 192.168.1.23 255.255.255.0", "ipv6 fe80::1"});
    list.Add("wlan0", nullptr, kUp, {"ipv6 2001:db8::5", "ipv4 10.0.0.7 255.0.0.0"});
    list.Add("v6only", nullptr, kUp, {"link", "ipv6 2001:db8::9"});
    list.Add("ifb0", nullptr, 0, {"link"});
    list.Add("any", "Pseudo-device", kUp, {});
    list.Add("plain", nullptr, kUp, {"ipv4 172.16.0.1"});

    const std::vector<AdapterRow> rows = AdapterRows(list.Head());
    struct Expected {
        const char* device;
        const char* description;
        const char* ip;
        const char* mask;
    } expected[] = {
        {"eth0", "eth0 (Intel Ethernet)", "192.168.1.23", "255.255.255.0"},  // the link-layer entry first
        {"wlan0", "wlan0", "10.0.0.7", "255.0.0.0"},  // IPv6 first, IPv4 second; no description: the name
        {"v6only", "v6only", "2001:db8::9", ""},
        {"ifb0", "ifb0", "", ""},  // only a link-layer entry: nothing to show
        {"plain", "plain", "172.16.0.1", ""},
    };  // "any" has no address entry and is not listed
    ASSERT_EQ(rows.size(), std::size(expected));
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].device, expected[i].device);
        EXPECT_EQ(rows[i].description, expected[i].description);
        EXPECT_EQ(rows[i].ip, expected[i].ip) << rows[i].device;
        EXPECT_EQ(rows[i].netmask, expected[i].mask) << rows[i].device;
        EXPECT_EQ(rows[i].dataLink, "");
    }
}

TEST(AdapterRowsTest, DefaultAdapter) {
    struct Case {
        const char* what;
        std::vector<std::tuple<const char*, bpf_u_int32, std::vector<std::string>>> devices;
        const char* chosen;
    } cases[] = {
        {"loopback and a down device are passed over",
         {{"lo", kUp | PCAP_IF_LOOPBACK, {"link", "ipv4 127.0.0.1 255.0.0.0"}},
          {"eth1", 0, {"link", "ipv4 192.168.5.5 255.255.255.0"}},
          {"eth0", kUp, {"link", "ipv4 192.168.1.23 255.255.255.0"}}},
         "eth0"},
        {"an address of 0.0.0.0 does not count",
         {{"tun0", kUp, {"link", "ipv4 0.0.0.0"}}, {"eth0", kUp, {"link", "ipv4 10.1.1.1"}}},
         "eth0"},
        {"IPv6 only never qualifies", {{"eth0", kUp, {"link", "ipv6 2001:db8::1"}}}, ""},
        {"a Windows capture device comes first, if its address is not 0.0.0.0",
         {{"eth0", kUp, {"ipv4 10.1.1.1"}},
          {"\\Device\\NPF_{AAAA}", kUp, {"ipv4 0.0.0.0"}},
          {"\\Device\\NPF_{BBBB}", 0, {"ipv4 192.168.0.9"}}},
         "\\Device\\NPF_{BBBB}"},
        {"nothing qualifies", {{"lo", kUp | PCAP_IF_LOOPBACK, {"ipv4 127.0.0.1"}}}, ""},
        {"a tunnel or PPP device (raw IP) is passed over",
         {{"tun0", kUp, {"ipv4 10.8.0.2 255.255.255.0"}},
          {"ppp0", kUp, {"ipv4 10.64.0.1"}},
          {"eth0", kUp, {"link", "ipv4 10.1.1.1"}}},
         "eth0"},
        {"only raw-IP devices", {{"tun0", kUp, {"ipv4 10.8.0.2"}}}, ""},
    };
    // The link types of the hand-made devices: tunnels and PPP deliver raw IP.
    auto isEthernet = [](const char* name) {
        const std::string n = name;
        return n.rfind("tun", 0) != 0 && n.rfind("ppp", 0) != 0;
    };
    for (const Case& c : cases) {
        DeviceListBuilder list;
        for (const auto& [name, flags, entries] : c.devices)
            list.Add(name, nullptr, flags, entries);
        EXPECT_EQ(ChooseDefaultAdapter(list.Head(), isEthernet), c.chosen) << c.what;
    }
}

TEST(AdapterRowsTest, DataLinkTexts) {
    struct Case {
        int type;
        const char* text;
    } cases[] = {
        {0, "no link-layer encapsulation"}, {1, "Ethernet (10Mb)"},    {12, "raw IP"},
        {13, "Unknown Data-link"},          {14, "Unknown Data-link"}, {16, "BSD/OS Point-to-point Protocol"},
        {17, "Unknown Data-link"},          {104, "Cisco HDLC"},       {105, "Unknown Data-link"},
        {113, "Unknown Data-link"}};
    for (const Case& c : cases)
        EXPECT_STREQ(DataLinkText(c.type), c.text) << c.type;
    EXPECT_EQ(QueryDataLink("pacterra-no-such-device0"), kNoPromiscuousText);
    // What nothing can be captured from, whatever the rights: pseudo-devices, other link types.
    struct Usable {
        const char* device;
        std::string dataLink;
        bool wide, usable;
    } usable[] = {
        {"lo", kNoPromiscuousText, false, true},      {"dbus-session", kNoPromiscuousText, true, false},
        {"any", kNoPromiscuousText, true, true},      {"eth0", "Ethernet (10Mb)", false, true},
        {"nflog", DataLinkText(239), true, false},    {"any", WideDataLinkText(113), true, true},
        {"any", WideDataLinkText(113), false, false}, {"bluetooth-monitor", kNoPromiscuousText, true, false}};
    for (const Usable& u : usable)
        EXPECT_EQ(AdapterUnusableReason({u.device, u.device, "", "", u.dataLink}, u.wide).empty(), u.usable)
            << u.device << " " << u.dataLink;
}

}  // namespace

namespace {

// With the wider intake on, devices without addresses (Linux's "any") are listed, and the cooked link
// types are named; without it the list and the names are as they were.
TEST(AdapterRowsTest, WideListsAddresslessDevicesAndNamesCookedLinks) {
    DeviceListBuilder list;
    list.Add("any", "Pseudo-device that captures on all interfaces", 0, {});
    list.Add("eth0", nullptr, 0, {"link", "ipv4 192.0.2.5 255.255.255.0"});
    EXPECT_EQ(AdapterRows(list.Head()).size(), 1u);
    const std::vector<AdapterRow> rows = AdapterRows(list.Head(), true);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].device, "any");
    EXPECT_EQ(rows[0].ip, "");
    EXPECT_EQ(rows[1].ip, "192.0.2.5");
    EXPECT_STREQ(WideDataLinkText(113), "Linux cooked capture (113)");
    EXPECT_STREQ(WideDataLinkText(276), "Linux cooked capture v2 (276)");
    EXPECT_STREQ(WideDataLinkText(1), "Ethernet (10Mb)");
    EXPECT_STREQ(DataLinkText(113), "Unknown Data-link");
}

}  // namespace
