// The decode tree's line for the server name a packet gave its connection (ServerNameTable): under a line of
// its protocol, with the name's bytes as its range where they lie in the frame (not in a QUIC packet, whose
// ClientHello is encrypted, nor in a name split over segments).
#pragma once

#include <cstddef>
#include <vector>

#include "views/PacketDecode.h"

// Appends the lines when stored packet `packet` (of `frameLength` captured bytes) gave a name.
void AppendServerNameLines(size_t packet, size_t frameLength, std::vector<DecodeLine>& lines);
