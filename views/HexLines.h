// The text of the hex viewer: its lines (offset, sixteen bytes in hexadecimal, the same bytes as
// characters) and the two text forms of a copied selection. The widget paints these very strings and the
// command-line tool prints them, so both show a packet the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The viewer holds one whole frame, at most the live snapshot length; its four-digit offsets cover exactly
// that much. Longer data is cut to its first kHexViewMaxBytes bytes.
inline constexpr size_t kHexViewMaxBytes = 65536;
inline constexpr int kHexBytesPerLine = 16;

// Columns of a line, in character cells from the left edge:
//   0-3 offset, 4-5 blank, 6-53 sixteen cells "XX ", 54 blank, 55-70 one character per byte.
inline constexpr int kHexOffsetDigits = 4;
inline constexpr int kHexAreaColumn = 6;
inline constexpr int kHexCellColumns = 3;
inline constexpr int kHexCharColumn = kHexAreaColumn + kHexCellColumns * kHexBytesPerLine + 1;  // 55
inline constexpr int kHexLineColumns = kHexCharColumn + kHexBytesPerLine;                       // 71

// A byte as the character area shows it: itself when printable in the C locale (0x20-0x7E), else '.'.
constexpr char HexViewChar(uint8_t byte) {
    return byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
}

// Writes the line whose first byte is `offset` (a multiple of 16 below the length) into `out` and returns
// its length: 55 plus the number of bytes on the line, so a full line has 71 characters and a short last
// line ends after its last character (its missing hexadecimal cells are blanks). Returns 0 and writes
// nothing when the offset lies at or past the end of the (possibly cut) data.
size_t FormatHexViewLine(const uint8_t* data, size_t length, size_t offset, char (&out)[kHexLineColumns]);

// Every line of the data, as the viewer draws them.
std::vector<std::string> HexViewLines(const uint8_t* data, size_t length);

// The copied selection as text: every byte as two upper-case hexadecimal digits and a blank (so the text
// ends in a blank and has no line breaks), or the bytes as the character area shows them.
std::string HexViewHexText(const uint8_t* data, size_t length);
std::string HexViewCharText(const uint8_t* data, size_t length);
