// Random frames into the decode tree: every line's bytes lie inside the frame, and every parent comes
// before its children.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "views/PacketDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> frame(data, data + size);  // exact size: a read past it is caught
    const std::vector<DecodeLine> lines = DecodePacket(frame.data(), frame.size());
    if (lines.empty() || lines[0].parent != -1)
        std::abort();
    for (size_t i = 0; i < lines.size(); ++i) {
        const DecodeLine& l = lines[i];
        if (i > 0 && (l.parent < 0 || static_cast<size_t>(l.parent) >= i))
            std::abort();
        if (!l.range.empty() &&
            (l.range.offset < 0 || static_cast<size_t>(l.range.offset + l.range.length) > size))
            std::abort();
    }
    DecodeAsText(lines);
    return 0;
}
