#include "config/CaptureConfig.h"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

CCaptureConfig g_config;

namespace {

// The smallest stored rule: a 1-byte name length, three flags, the address and a 2-byte port count.
constexpr size_t kMinRuleBytes = 1 + 3 + 4 + 2;

}  // namespace

int32_t CCaptureConfig::MatchPacket(const uint8_t* srcIp, const uint8_t* dstIp, uint16_t srcPort,
                                    uint16_t dstPort) const {
    // Look-ups built for another list of rules (copied, grown or replaced since) are not used.
    const bool prepared = m_portLookups.items.size() == filters.size();
    static const CPortLookup kNone;
    for (size_t i = 0; i < filters.size(); ++i) {
        switch (filters[i].Match(srcIp, dstIp, srcPort, dstPort, prepared ? m_portLookups.items[i] : kNone)) {
            case MATCH_ACCEPT:
                return 1;
            case MATCH_DROP:
                return 0;
            default:
                break;
        }
    }
    // A policy byte other than 0 or 1 in the file counts as set, and callers get a plain 1 or 0.
    return defaultAccept != 0 ? 1 : 0;
}

int32_t CCaptureConfig::MatchPacketIpv6(uint16_t srcPort, uint16_t dstPort) const {
    for (const CFilterItem& rule : filters) {
        switch (rule.MatchAnyAddress(srcPort, dstPort)) {
            case MATCH_ACCEPT:
                return 1;
            case MATCH_DROP:
                return 0;
            default:
                break;
        }
    }
    return defaultAccept != 0 ? 1 : 0;
}

void CCaptureConfig::SerializeConfig(CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteU32(static_cast<uint32_t>(bufferMB));
        ar.WriteFlag(defaultAccept);
        if (filters.size() > std::numeric_limits<uint32_t>::max())
            throw ArchiveError("too many rules to store");
        ar.WriteCount(static_cast<uint32_t>(filters.size()));
        for (CFilterItem& rule : filters)
            rule.Serialize(ar);
        return;
    }

    // Everything is read into locals first: a file that fails part-way changes nothing.
    auto buffer = static_cast<int32_t>(ar.ReadU32());
    int32_t accept = ar.ReadU8();
    uint32_t count = ar.ReadCount();
    if (count > ar.Remaining() / kMinRuleBytes)
        throw ArchiveError("it claims " + std::to_string(count) + " rules, more than its " +
                           std::to_string(ar.Remaining()) + " remaining bytes can hold");
    std::vector<CFilterItem> rules(count);
    for (CFilterItem& rule : rules)
        rule.Serialize(ar);
    // Nothing is read after the last rule: bytes there are ignored, as they always were.

    // The packet store divides by a limit derived from this; the dialog offers the same range.
    bufferMB = std::clamp(buffer, kMinBufferMB, kMaxBufferMB);
    defaultAccept = accept;
    filters = std::move(rules);
    PrepareMatching();
}

void CCaptureConfig::PrepareMatching() {
    m_portLookups.items.clear();
    m_portLookups.items.reserve(filters.size());
    for (const CFilterItem& rule : filters)
        m_portLookups.items.emplace_back(rule.ports);
}

void CCaptureConfig::ApplyDefaults() {
    bufferMB = kDefaultBufferMB;
    defaultAccept = 1;
    filters.clear();
    PrepareMatching();
}
