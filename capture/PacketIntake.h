// Turns one captured Ethernet frame into a stored packet of a connection.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>

// The capture library's packet callback. `user` is the live flag (non-zero during a live capture); both
// live and file packets keep the library's timestamp.
void PacketHandler(u_char* user, const struct pcap_pkthdr* header, const u_char* bytes) noexcept;

// pcap_dispatch into `handler`, ending the call at once when the capture is asked to stop (buffer full,
// packet limit, no memory, Stop), so that no packet is stored beyond the limit that asked for it. The packet
// in hand when the user's Stop arrives is still delivered.
int DispatchPackets(pcap_t* pcap, int count, pcap_handler handler, u_char* user);

// Forgets the fragments seen so far (part of clearing the store).
void ClearFragmentIndex();

// The ports of the first fragment of the IPv4 datagram whose header is at `ip`; false when it was not seen.
bool FindFirstFragmentPorts(const u_char* ip, uint16_t& srcPort, uint16_t& dstPort);
// Remembers the ports of a first fragment (its header at `ip`) for the fragments that follow it.
void RememberFirstFragmentPorts(const u_char* ip, uint16_t srcPort, uint16_t dstPort);
