// The decode tree of frames the wider intake keeps: 802.1Q/802.1ad tags, IPv6 with its extension headers,
// and the Linux cooked headers, each line with the bytes it stands for. Plain Ethernet frames that carry
// anything but a tag or IPv6 decode exactly as DecodePacket has them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "views/PacketDecode.h"

// Decodes a frame of the libpcap link type `linkType`.
std::vector<DecodeLine> DecodeFrame(int linkType, const uint8_t* bytes, size_t length);

// Decodes a frame of the store (whose link type is g_storeLinkType).
std::vector<DecodeLine> DecodeStoredFrame(const uint8_t* bytes, size_t length);
