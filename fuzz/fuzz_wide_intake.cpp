// Feeds arbitrary frames to the wider intake (IPv6, VLAN tags, Linux cooked) and decodes what it keeps.
// Input: one byte that picks the link type (Ethernet, cooked v1, cooked v2), then records of a 2-byte
// big-endian captured length followed by that many bytes. Each frame gets a buffer of exactly its size, so
// any read past it is caught.
#include "capture/WideIntake.h"
#include "fuzz/FrameFeed.h"
#include "views/WideDecode.h"

namespace {

void Setup() {
    g_config = fuzz::SmallConfig();
    g_config.wideIntake = 1;
    CFilterItem dropHost;
    dropHost.anyPort = 1;
    dropHost.ip[0] = 10;
    g_config.filters.push_back(dropHost);
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
    fuzz::Check(handler != nullptr);
    fuzz::FeedFrames(data, size, 1, handler, [link](const std::vector<uint8_t>& frame) {
        // The parser places a kept frame's parts in order, inside its bytes; the intake's own path agrees.
        const auto n = static_cast<uint32_t>(frame.size());
        FrameLayout f, fast;
        const FrameVerdict v = ParseFrame(link, frame.data(), n, f);
        fuzz::Check(v != FrameVerdict::Kept ||
                    (f.ip < f.transport && f.transport <= f.payload &&
                     f.payload + uint32_t(f.payloadLen) == f.ipEnd && f.ipEnd <= n));
        const FrameVerdict quick =
            link == kLinkEthernet ? ParseEthernetIpv4(frame.data(), n, fast) : FrameVerdict::OtherFamily;
        fuzz::Check(quick == FrameVerdict::OtherFamily || (quick == v && fast.payloadLen == f.payloadLen));
        // Every frame decodes inside its bytes, kept or not.
        for (const DecodeLine& l : DecodeFrame(link, frame.data(), frame.size()))
            fuzz::Check(l.range.offset >= 0 &&
                        static_cast<size_t>(l.range.offset + l.range.length) <= frame.size());
    });
    fuzz::CheckStore([](const PacketRecord& p) { DecodeStoredFrame(p.data, static_cast<size_t>(p.capLen)); });
    return 0;
}
