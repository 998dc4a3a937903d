#include "views/HexLines.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void PutHex(char* at, unsigned value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        at[i] = kHexDigits[value & 15];
}

}  // namespace

size_t FormatHexViewLine(const uint8_t* data, size_t length, size_t offset, char (&out)[kHexLineColumns]) {
    length = std::min(length, kHexViewMaxBytes);
    if (offset >= length)
        return 0;
    const size_t count = std::min<size_t>(kHexBytesPerLine, length - offset);
    std::memset(out, ' ', sizeof out);
    PutHex(out, static_cast<unsigned>(offset), kHexOffsetDigits);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = data[offset + i];
        PutHex(out + kHexAreaColumn + kHexCellColumns * i, byte, 2);
        out[kHexCharColumn + i] = HexViewChar(byte);
    }
    return kHexCharColumn + count;
}

std::vector<std::string> HexViewLines(const uint8_t* data, size_t length) {
    length = std::min(length, kHexViewMaxBytes);
    std::vector<std::string> lines;
    lines.reserve((length + kHexBytesPerLine - 1) / kHexBytesPerLine);
    char buffer[kHexLineColumns];
    for (size_t offset = 0; offset < length; offset += kHexBytesPerLine)
        lines.emplace_back(buffer, FormatHexViewLine(data, length, offset, buffer));
    return lines;
}

std::string HexViewHexText(const uint8_t* data, size_t length) {
    std::string text(length * kHexCellColumns, ' ');
    for (size_t i = 0; i < length; ++i)
        PutHex(&text[i * kHexCellColumns], data[i], 2);
    return text;
}

std::string HexViewCharText(const uint8_t* data, size_t length) {
    std::string text(length, '.');
    for (size_t i = 0; i < length; ++i)
        text[i] = HexViewChar(data[i]);
    return text;
}
