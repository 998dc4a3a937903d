// Turns one captured Ethernet frame into a stored packet of a connection.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>

#include "capture/FrameLayout.h"
#include "capture/PacketStore.h"

// What the intake does with a parsed frame. Short frames are counted here; OtherFamily is the caller's
// to count or to widen.
enum class IntakeStep { Keep, OtherFamily, Skip };

// A frame whose length comes from the frame itself is short when the capture cut it.
inline IntakeStep TriageFrame(FrameVerdict verdict, const FrameLayout& f,
                              const pcap_pkthdr* header) noexcept {
    switch (verdict) {
        case FrameVerdict::Kept:
            if (!f.lengthFromFrame || header->len <= header->caplen)
                return IntakeStep::Keep;
            [[fallthrough]];
        case FrameVerdict::Short:
            g_shortPacketCount.fetch_add(1, std::memory_order_relaxed);
            return IntakeStep::Skip;
        case FrameVerdict::OtherFamily:
            return IntakeStep::OtherFamily;
        case FrameVerdict::Dropped:
            break;
    }
    return IntakeStep::Skip;
}

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
