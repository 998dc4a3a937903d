// What the window and pacterra-cli read from the capture helper, and the rights hint that names it.
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/Adapters.h"
#include "frontend/CaptureHelper.h"
#include "frontend/FrontEnd.h"
#include "helper/HelperProtocol.h"

namespace fs = std::filesystem;

namespace {

TEST(CaptureHelperProtocol, DeviceNames) {
    struct Case {
        std::string name;
        bool valid;
    } cases[] = {
        {"eth0", true},
        {"lo", true},
        {"any", true},
        {"veth-a.10", true},
        {"bluetooth-monitor", true},
        {"enp0s31f6@if3", true},
        {"usbmon1", true},
        {std::string(64, 'e'), true},
        {"", false},
        {std::string(65, 'e'), false},
        {std::string(200, 'e'), false},
        {"../etc/passwd", false},
        {"/tmp/x", false},
        {"a/b", false},
        {"eth0\n", false},
        {"eth 0", false},
        {"-w", false},
        {".hidden", false},
        {"eth0;rm", false},
        {std::string("e\0x", 3), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(capture_helper::IsValidDeviceName(c.name), c.valid) << c.name;
}

TEST(CaptureHelperProtocol, ReadsTheAdapterList) {
    const std::string text =
        "pacterra-capture adapters 1\n"
        "device\teth0\t6\t1\t\n"
        "address\t4\t198.51.100.2\t255.255.255.0\n"
        "address\t6\tfe80::1\t\n"
        "device\tany\t8\t113\tPseudo-device that captures on all interfaces\n"
        "device\tnflog\t0\t-1\tLinux netfilter log (NFLOG) interface\n";
    std::vector<HelperDevice> devices;
    ASSERT_TRUE(ParseHelperList(text, devices));
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].name, "eth0");
    EXPECT_EQ(devices[0].flags, 6u);
    EXPECT_EQ(devices[0].linkType, 1);
    EXPECT_EQ(devices[0].description, "");
    ASSERT_EQ(devices[0].addresses.size(), 2u);
    EXPECT_EQ(devices[0].addresses[0].address, "198.51.100.2");
    EXPECT_EQ(devices[0].addresses[0].netmask, "255.255.255.0");
    EXPECT_EQ(devices[0].addresses[1].family, 6);
    EXPECT_EQ(devices[0].addresses[1].netmask, "");
    EXPECT_EQ(devices[1].linkType, 113);
    EXPECT_EQ(devices[2].linkType, -1);
}

TEST(CaptureHelperProtocol, RefusesWhatIsNoAdapterList) {
    const std::string header = "pacterra-capture adapters 1\n";
    const std::string bad[] = {
        "",
        "pacterra-capture adapters 2\ndevice\teth0\t0\t1\t\n",
        header + "address\t4\t1.2.3.4\t\n",           // an address before any device
        header + "device\teth0\t0\t1\n",              // a field missing
        header + "device\teth/0\t0\t1\t\n",           // no device name
        header + "device\teth0\tx\t1\t\n",            // flags
        header + "device\teth0\t0\t\t\n",             // no link type
        header + "device\teth0\t0\t-2\t\n",           // link type
        header + "device\teth0\t0\t99999999999\t\n",  // link type
        header + "device\teth0\t99999999999\t1\t\n",  // flags
        header + "device\teth0\t0\t1\t\naddress\t5\t1.2.3.4\t\n",
        header + "something else\n",
    };
    for (const std::string& text : bad) {
        std::vector<HelperDevice> devices;
        EXPECT_FALSE(ParseHelperList(text, devices)) << text;
    }
}

TEST(CaptureHelperProtocol, ReadsCountersAndMessages) {
    struct Case {
        std::string text, messages;
        bool stats;
        unsigned long long received, dropped, ifdropped;
    } cases[] = {
        {"pacterra-capture: stats received=10 dropped=2 ifdropped=1\n", "", true, 10, 2, 1},
        {"pacterra-capture: stats received=10 dropped=2 ifdropped=1\npacterra-capture: read error: gone\n",
         "read error: gone", true, 10, 2, 1},
        {"pacterra-capture: lo: You don't have permission\n", "lo: You don't have permission", false, 0, 0,
         0},
        {"pacterra-capture: stats received=x\nother\n", "other", false, 0, 0, 0},
        {"", "", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        HelperResult r;
        ParseHelperMessages(c.text, r);
        EXPECT_EQ(r.messages, c.messages) << c.text;
        EXPECT_EQ(r.haveStats, c.stats) << c.text;
        if (c.stats) {
            EXPECT_EQ(r.received, c.received);
            EXPECT_EQ(r.dropped, c.dropped);
            EXPECT_EQ(r.interfaceDropped, c.ifdropped);
        }
    }
}

TEST(CaptureHelperProtocol, FillsOnlyTheLinkTypesTheProgramCouldNotLearn) {
    std::vector<AdapterRow> rows = {{"eth0", "eth0", "", "", kNoPromiscuousText},
                                    {"any", "any", "", "", kNoPromiscuousText},
                                    {"lo", "lo", "", "", "Ethernet (10Mb)"},
                                    {"nflog", "nflog", "", "", kNoPromiscuousText}};
    std::vector<HelperDevice> devices(4);
    devices[0].name = "eth0", devices[0].linkType = 1;
    devices[1].name = "any", devices[1].linkType = 113;
    devices[2].name = "lo", devices[2].linkType = 12;
    devices[3].name = "nflog", devices[3].linkType = -1;
    ApplyHelperLinkTypes(rows, devices, true);
    EXPECT_EQ(rows[0].dataLink, "Ethernet (10Mb)");
    EXPECT_EQ(rows[1].dataLink, "Linux cooked capture (113)");
    EXPECT_EQ(rows[2].dataLink, "Ethernet (10Mb)");
    EXPECT_EQ(rows[3].dataLink, kNoPromiscuousText);
}

// The hint names the helper's group when it is installed for a group, the helper alone when it is a build
// tree's, and the program when there is no helper.
TEST(CaptureHelperHint, NamesTheGroupOfAnInstalledHelper) {
    char folder[] = "/tmp/pacterra-hint-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string helper = std::string(folder) + "/pacterra-capture";
    std::ofstream(helper) << "#!/bin/sh\n";
    ::chmod(helper.c_str(), 0755);
    ::setenv("PACTERRA_CAPTURE_HELPER", helper.c_str(), 1);
    EXPECT_NE(CaptureRightsHint().find("sudo setcap cap_net_raw,cap_net_admin=eip " + helper),
              std::string::npos)
        << CaptureRightsHint();
    EXPECT_EQ(CaptureRightsHint().find("usermod"), std::string::npos);

    const group* g = ::getgrnam("daemon");
    if (::geteuid() == 0 && g && ::chown(helper.c_str(), 0, g->gr_gid) == 0) {
        ::chmod(helper.c_str(), 0750);
        EXPECT_EQ(CaptureHelperGroup(helper), "daemon");
        const std::string hint = CaptureRightsHint();
        EXPECT_NE(hint.find("sudo usermod -aG daemon $USER"), std::string::npos) << hint;
        EXPECT_NE(hint.find(helper), std::string::npos) << hint;
        EXPECT_EQ(hint.find("setcap"), std::string::npos) << hint;
    }

    ::setenv("PACTERRA_CAPTURE_HELPER", "", 1);
    EXPECT_EQ(FindCaptureHelper(), "");
    EXPECT_NE(CaptureRightsHint().find("give the program the two capabilities"), std::string::npos);
    ::unsetenv("PACTERRA_CAPTURE_HELPER");
    fs::remove_all(folder);
}

}  // namespace
