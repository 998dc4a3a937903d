// What the intake fuzzers share: the input's frame records, the configuration they capture with, and the
// checks on what the store kept.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "capture/Format.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

namespace fuzz {

// Aborts, which libFuzzer reports as a crash with the input that caused it.
inline void Check(bool ok) {
    if (!ok)
        std::abort();
}

// A small store that keeps by default, with a rule that drops port 22 so that the filter path runs too.
inline CCaptureConfig SmallConfig() {
    CCaptureConfig config;
    config.bufferMB = 1;
    config.defaultAccept = 1;
    CFilterItem dropSsh;
    dropSsh.anyIp = 1;
    dropSsh.ports = {22};
    config.filters = {dropSsh};
    return config;
}

// Hands the records of `data` from `at` on to `handler`: each a 2-byte big-endian captured length followed
// by that many bytes (fewer at the input's end), one second apart. Each frame gets a buffer of exactly its
// size, so any read past it is caught; `inspect(frame)` runs after the handler.
template <typename Inspect>
void FeedFrames(const uint8_t* data, size_t size, size_t at, pcap_handler handler, Inspect inspect) {
    int64_t sec = 1700000000;
    while (at + 2 <= size) {
        size_t len = (size_t{data[at]} << 8) | data[at + 1];
        at += 2;
        if (len > size - at)
            len = size - at;
        std::vector<uint8_t> frame(data + at, data + at + len);
        at += len;
        pcap_pkthdr h{};
        h.ts.tv_sec = sec++;
        h.caplen = static_cast<bpf_u_int32>(len);
        h.len = h.caplen;
        handler(nullptr, &h, frame.data());
        inspect(frame);
    }
}

// Whatever was kept is consistent: payloads inside their frames, every packet in one connection, every
// cell text made without a fault. `inspect(packet)` runs on each kept packet.
template <typename Inspect>
void CheckStore(Inspect inspect) {
    size_t attached = 0;
    for (size_t c = 0; c < g_connectionTable.size(); ++c) {
        const ConnectionRecord& conn = g_connectionTable[c];
        attached += conn.packetIndices.size();
        for (int column = 0; column < kConnectionColumns; ++column)
            ConnectionCellText(c, column);
    }
    Check(attached == g_packetTable.size());
    for (size_t i = 0; i < g_packetTable.size(); ++i) {
        const PacketRecord& p = g_packetTable[i];
        Check(p.payloadLen >= 0 && p.payloadLen <= p.capLen);
        auto payload = PacketPayload(p);
        Check(payload.size() == static_cast<size_t>(p.payloadLen));
        Check(p.payloadLen == 0 ||
              (payload.data() >= p.data && payload.data() + payload.size() <= p.data + p.capLen));
        for (int column = 0; column < kPacketColumns; ++column)
            PacketCellText(p, column);
        inspect(p);
    }
}

}  // namespace fuzz
