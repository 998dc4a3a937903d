// Community ID v1: the flow hash that other network tools (Zeek, Suricata, Wireshark, Elastic) write beside
// their records, so that records of one flow can be joined across tools. Both directions of a flow give the
// same value: "1:" and the base64 of a SHA-1 over the seed, the ordered endpoints and the protocol.
#pragma once

#include <cstdint>

#include "capture/Format.h"
#include "capture/PacketStore.h"

// Reuses one hash object: make one per thread and call it for many connections.
class CommunityIdHasher {
public:
    explicit CommunityIdHasher(uint16_t seed = 0);
    ~CommunityIdHasher();
    CommunityIdHasher(const CommunityIdHasher&) = delete;
    CommunityIdHasher& operator=(const CommunityIdHasher&) = delete;

    // The two ends of a flow (both of one family) and its IP protocol number (6 TCP, 17 UDP).
    ShortText Compute(const Endpoint& a, const Endpoint& b, uint8_t protocol);
    ShortText Compute(const ConnectionRecord& connection);

private:
    struct Impl;
    Impl* m_impl;
    uint16_t m_seed;
};
