// The decode tree of one frame: Ethernet, IPv4 and TCP or UDP headers, a line per field, each with the bytes
// it stands for. A pure function of the bytes, shared by the tree view and the command-line tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The picture a line shows.
enum class TreeImage { Packet = 0, Header = 1, Field = 2, FlagOff = 3, FlagOn = 4 };

// Bytes of the frame a line stands for; length 0 for none.
struct ByteRange {
    int offset = 0;
    int length = 0;
    bool empty() const { return length <= 0; }
    bool operator==(const ByteRange&) const = default;
};

struct DecodeLine {
    std::string text;
    TreeImage image = TreeImage::Field;
    ByteRange range;
    int parent = -1;  // index of the parent line; -1 for the root
    bool expanded = false;
};

// Lines with every parent before its children (the order the tree view adds them in). Every range lies
// inside the frame. The transport header is placed after the IP header's real length, so packets with IP
// options decode right; a fragment after the first of its datagram shows no transport header.
std::vector<DecodeLine> DecodePacket(const uint8_t* bytes, size_t length);

// The decode as indented text, one line per tree line in the order the tree shows them (depth first): two
// spaces per level, the text, a tab and the range as [offset,length] (or [] for none).
std::string DecodeAsText(const std::vector<DecodeLine>& lines);
