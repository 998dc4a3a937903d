// Config.cfg bytes into the configuration record: loading must fail only with ArchiveError, never read
// past the end or allocate from a bogus count, and whatever loads must store and load back the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "config/CaptureConfig.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_config: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CCaptureConfig loaded;
    try {
        CArchive in(std::span(data, size));
        loaded.SerializeConfig(in);
    } catch (const ArchiveError&) {
        return 0;
    }
    Check(loaded.bufferMB >= CCaptureConfig::kMinBufferMB && loaded.bufferMB <= CCaptureConfig::kMaxBufferMB,
          "buffer size outside its range");

    CArchive out;
    loaded.SerializeConfig(out);
    CCaptureConfig again;
    try {
        CArchive in(out.Bytes());
        again.SerializeConfig(in);
    } catch (const ArchiveError&) {
        Check(false, "a stored configuration does not load");
    }
    Check(again.bufferMB == loaded.bufferMB && again.defaultAccept == loaded.defaultAccept &&
              again.filters == loaded.filters,
          "a stored configuration loads differently");
    CArchive outAgain;
    again.SerializeConfig(outAgain);
    Check(outAgain.Bytes() == out.Bytes(), "storing is not stable");

    // The loaded rules also drive matching and their descriptions.
    const uint8_t src[4] = {10, 0, 0, 1}, dst[4] = {192, 168, 0, 1};
    int32_t verdict = loaded.MatchPacket(src, dst, 1234, 80);
    Check(verdict == 0 || verdict == 1, "a verdict other than 0 or 1");
    std::string text;
    for (const CFilterItem& rule : loaded.filters)
        rule.GetSignature(text);
    return 0;
}
