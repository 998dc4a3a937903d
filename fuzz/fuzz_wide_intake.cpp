// Feeds arbitrary frames to the wider intake (IPv6, VLAN tags, Linux cooked) and decodes what it keeps.
// Input: one byte that picks the link type (Ethernet, cooked v1, cooked v2), then records of a 2-byte
// big-endian captured length followed by that many bytes. Each frame gets a buffer of exactly its size, so
// any read past it is caught.
#include <pcap/pcap.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/Format.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "capture/WideIntake.h"
#include "config/CaptureConfig.h"
#include "views/WideDecode.h"

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

void Setup() {
    g_config = CCaptureConfig();
    g_config.bufferMB = 1;
    g_config.defaultAccept = 1;
    g_config.wideIntake = 1;
    CFilterItem dropSsh;
    dropSsh.anyIp = 1;
    dropSsh.ports = {22};
    CFilterItem dropHost;
    dropHost.anyPort = 1;
    dropHost.ip[0] = 10;
    g_config.filters = {dropSsh, dropHost};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool once = (Setup(), true);
    (void)once;
    if (size < 1)
        return 0;
    static constexpr int kLinks[] = {kLinkEthernet, kLinkLinuxCooked, kLinkLinuxCooked2};
    const int link = kLinks[data[0] % 3];
    ResetCaptureStore();
    g_storeLinkType = link;
    g_skipFilter = (data[0] >> 2) & 1;
    g_captureState = CAPTURE_RUNNING;
    const pcap_handler handler = IntakeHandlerFor(link, PacketHandler);
    Check(handler != nullptr);
    size_t at = 1;
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
        // Every frame decodes inside its bytes, kept or not.
        for (const DecodeLine& l : DecodeFrame(link, frame.data(), frame.size()))
            Check(l.range.offset >= 0 &&
                  static_cast<size_t>(l.range.offset + l.range.length) <= frame.size());
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
        DecodeStoredFrame(p.data, static_cast<size_t>(p.capLen));
    }
    return 0;
}
