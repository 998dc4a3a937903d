// Connections put straight into the store for the analysis tests.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

struct Endpoint {
    uint8_t ip[4];
    uint16_t port;
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
    static int Packet(const Endpoint& from, const Endpoint& to, int tcp = 1, int len = 60, int64_t sec = 0,
                      int32_t usec = 0) {
        std::vector<uint8_t> frame(static_cast<size_t>(len), 0xAB);
        size_t index = 0;
        EXPECT_EQ(StorePacket(PacketTimestamp{sec, usec}, frame.data(), len, 0, &index), 1);
        return FindOrAddConnection(tcp, to.ip, from.ip, to.port, from.port, index);
    }
};
