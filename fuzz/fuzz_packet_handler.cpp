// Feeds arbitrary frames to the intake. Input: records of a 2-byte big-endian captured length followed by
// that many bytes. Each frame gets a buffer of exactly its size, so any read past it is caught.
#include "fuzz/FrameFeed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool once = (g_config = fuzz::SmallConfig(), true);
    (void)once;
    ResetCaptureStore();
    g_skipFilter = size % 2;
    g_captureState = CAPTURE_RUNNING;
    fuzz::FeedFrames(data, size, 0, PacketHandler, [](const std::vector<uint8_t>&) {});
    fuzz::CheckStore([](const PacketRecord&) {});
    return 0;
}
