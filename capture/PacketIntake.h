// Turns one captured Ethernet frame into a stored packet of a connection.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>

// The capture library's packet callback. `user` is the live flag (non-zero during a live capture); both
// live and file packets keep the library's timestamp.
void PacketHandler(u_char* user, const struct pcap_pkthdr* header, const u_char* bytes);

// Forgets the fragments seen so far (part of clearing the store).
void ClearFragmentIndex();
