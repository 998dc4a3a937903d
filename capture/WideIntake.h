// The wider intake, an option that is off by default: IPv6 (with the extension headers that can be skipped
// safely), one or two 802.1Q/802.1ad tags before IPv4 or IPv6, and Linux cooked captures (link types 113 and
// 276). Plain Ethernet IPv4 frames never come here: PacketHandler keeps them as it always did.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>

#include "capture/FrameLayout.h"

// The wider intake of one frame: kept frames are stored and joined to their connections as PacketHandler
// does; the verdict says what happened to the others (and the counters follow it).
void WideIntake(int linkType, const struct pcap_pkthdr* header, const u_char* bytes) noexcept;

// Packet callbacks for the two Linux cooked link types.
void LinuxCookedPacketHandler(u_char* user, const struct pcap_pkthdr* header, const u_char* bytes) noexcept;
void LinuxCooked2PacketHandler(u_char* user, const struct pcap_pkthdr* header, const u_char* bytes) noexcept;

// The callback that reads frames of `linkType`: `ethernetHandler` for Ethernet; with the wider intake on, the
// cooked handlers for 113 and 276 when `ethernetHandler` is PacketHandler. nullptr: frames of that type
// cannot be read.
pcap_handler IntakeHandlerFor(int linkType, pcap_handler ethernetHandler);

// The detail of the message that refuses a file, stream or adapter of `linkType`.
const char* ReadableLinkTypesText();

// Forgets the IPv6 fragments seen so far (part of clearing the store).
void ClearIpv6FragmentIndex();
