// One filter rule: an address condition, a port condition and an action.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/Archive.h"
#include "config/PortLookup.h"

enum MatchResult : int32_t { MATCH_NONE = 0, MATCH_ACCEPT = 1, MATCH_DROP = 2 };

class CFilterItem {
public:
    std::string name;  // bytes in the process's 8-bit encoding (UTF-8)
    int32_t anyIp = 0;
    int32_t anyPort = 0;
    int32_t accept = 0;
    uint8_t ip[4] = {0, 0, 0, 0};  // octets in dotted order, as in an IPv4 header
    std::vector<uint16_t> ports;   // host order, as typed

    // Stores the item into, or loads it from, the archive (which knows its direction).
    // Loading throws ArchiveError on a truncated or impossible item.
    void Serialize(CArchive& ar);

    // MATCH_NONE, MATCH_ACCEPT or MATCH_DROP. Neither allocates nor formats.
    int32_t Match(const uint8_t* srcIp, const uint8_t* dstIp, uint16_t srcPort, uint16_t dstPort) const;
    // The same, with the ports looked up in `lookup` when it was built from this rule's ports.
    int32_t Match(const uint8_t* srcIp, const uint8_t* dstIp, uint16_t srcPort, uint16_t dstPort,
                  const CPortLookup& lookup) const;

    // Match for a packet without IPv4 addresses (IPv6): a rule that names an address never applies.
    int32_t MatchAnyAddress(uint16_t srcPort, uint16_t dstPort) const;

    // The one-line description shown in the rule lists.
    void GetSignature(std::string& out) const;

    bool operator==(const CFilterItem&) const = default;
};
