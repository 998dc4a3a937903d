// Feeds arbitrary frames to the intake. Input: records of a 2-byte big-endian captured length followed by
// that many bytes. Each frame gets a buffer of exactly its size, so any read past it is caught.
#include <pcap/pcap.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/Format.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

void Setup() {
    g_config = CCaptureConfig();
    g_config.bufferMB = 1;
    g_config.defaultAccept = 1;
    CFilterItem dropSsh;
    dropSsh.anyIp = 1;
    dropSsh.ports = {22};
    g_config.filters = {dropSsh};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool once = (Setup(), true);
    (void)once;
    ResetCaptureStore();
    g_skipFilter = size % 2;
    g_captureState = CAPTURE_RUNNING;
    size_t at = 0;
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
        PacketHandler(nullptr, &h, frame.data());
    }
    // Whatever was kept is consistent: payloads inside their frames, every packet in one connection.
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
    }
    return 0;
}
