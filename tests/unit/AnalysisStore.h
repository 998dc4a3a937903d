// Connections put straight into the store for the analysis tests.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <initializer_list>

#include <vector>

#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

// A connection's end: `{{192, 168, 1, 23}, 40441}`, or an address of either family as text.
struct Peer {
    Endpoint end;

    Peer(std::initializer_list<uint8_t> ip, uint16_t port) {
        EXPECT_TRUE(ip.size() == 4 || ip.size() == 16);
        end = ip.size() == 16 ? Endpoint::Ipv6(ip.begin(), port) : Endpoint::Ipv4(ip.begin(), port);
    }
    Peer(const char* address, uint16_t port) {
        uint8_t ip[16];
        if (::inet_pton(AF_INET, address, ip) == 1)
            end = Endpoint::Ipv4(ip, port);
        else if (::inet_pton(AF_INET6, address, ip) == 1)
            end = Endpoint::Ipv6(ip, port);
        else
            ADD_FAILURE() << address;
    }
};

class StoreFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ResetCaptureStore();
        g_config = CCaptureConfig();
        g_skipFilter = 1;
        g_captureState = CAPTURE_RUNNING;
    }
    void TearDown() override { ResetCaptureStore(); }

    // Stores a frame of `len` bytes sent from `from` to `to` at `sec`.`usec`; returns its connection.
    static int Packet(const Peer& from, const Peer& to, int tcp = 1, int len = 60, int64_t sec = 0,
                      int32_t usec = 0) {
        std::vector<uint8_t> frame(static_cast<size_t>(len), 0xAB);
        size_t index = 0;
        EXPECT_EQ(StorePacket(PacketTimestamp{sec, usec}, frame.data(), len, 0, &index), 1);
        const Endpoint &f = from.end, &t = to.end;
        EXPECT_EQ(f.IsIpv6(), t.IsIpv6());
        return (f.IsIpv6() ? FindOrAddConnectionIpv6 : FindOrAddConnection)(
            tcp, t.AddressBytes(), f.AddressBytes(), t.Port(), f.Port(), index);
    }
};
