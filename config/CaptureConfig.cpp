#include "config/CaptureConfig.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

CCaptureConfig g_config;

namespace {

// The smallest stored rule: a 1-byte name length, three flags, the address and a 2-byte port count.
constexpr size_t kMinRuleBytes = 1 + 3 + 4 + 2;

}  // namespace

namespace {

uint32_t AddressOf(const uint8_t* ip) {
    uint32_t value;
    std::memcpy(&value, ip, sizeof value);
    return value;
}

template <typename Map, typename Key>
void TakeEarlier(const Map& map, Key key, uint32_t& best) {
    if (const auto it = map.find(key); it != map.end() && it->second < best)
        best = it->second;
}

}  // namespace

int32_t CCaptureConfig::MatchPacket(const uint8_t* srcIp, const uint8_t* dstIp, uint16_t srcPort,
                                    uint16_t dstPort) const {
    return Match(srcIp, dstIp, srcPort, dstPort, [](uint32_t) {});
}

int32_t CCaptureConfig::MatchPacket(const uint8_t* srcIp, const uint8_t* dstIp, uint16_t srcPort,
                                    uint16_t dstPort, uint32_t& looked) const {
    return Match(srcIp, dstIp, srcPort, dstPort, [&looked](uint32_t n) { looked += n; });
}

// Inlined into both callers, so that MatchPacket compiles as if it had no counting (without that, the
// second caller made the compiler call the look-ups out of line: a fifth more time per packet).
template <typename Count>
[[gnu::always_inline]] inline int32_t CCaptureConfig::Match(const uint8_t* srcIp, const uint8_t* dstIp,
                                                            uint16_t srcPort, uint16_t dstPort,
                                                            Count count) const {
    if (IsIndexed()) {
        // A rule holds when its address is either address and its port either port: the earliest of the
        // rules each combination finds is the one the rules in turn would find.
        uint32_t first = m_index.catchAll;
        const uint32_t src = AddressOf(srcIp), dst = AddressOf(dstIp);
        if (!m_index.anyAddress.empty()) {
            first = std::min({first, m_index.anyAddress[srcPort], m_index.anyAddress[dstPort]});
            count(2);
        }
        if (!m_index.anyPort.empty()) {
            TakeEarlier(m_index.anyPort, src, first);
            TakeEarlier(m_index.anyPort, dst, first);
            count(2);
        }
        if (!m_index.addressAndPort.empty()) {
            count(4);
            for (uint64_t address : {src, dst})
                for (uint16_t port : {srcPort, dstPort})
                    TakeEarlier(m_index.addressAndPort, address << 16 | port, first);
        }
        if (first != RuleIndex::kNone)
            return filters[first].accept != 0 ? 1 : 0;
        return defaultAccept != 0 ? 1 : 0;
    }
    for (const CFilterItem& rule : filters) {
        count(1);
        switch (rule.Match(srcIp, dstIp, srcPort, dstPort)) {
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
    if (IsIndexed()) {
        uint32_t first = m_index.catchAll;
        if (!m_index.anyAddress.empty())
            first = std::min({first, m_index.anyAddress[srcPort], m_index.anyAddress[dstPort]});
        if (first != RuleIndex::kNone)
            return filters[first].accept != 0 ? 1 : 0;
        return defaultAccept != 0 ? 1 : 0;
    }
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

CCaptureConfig::RuleIndex::Stamp CCaptureConfig::RuleIndex::StampOf(const std::vector<CFilterItem>& rules,
                                                                    bool last) {
    Stamp stamp;
    if (rules.empty())
        return stamp;
    const CFilterItem& rule = last ? rules.back() : rules.front();
    stamp = {rule.ports.data(), rule.ports.size(), rule.anyIp, rule.anyPort, rule.accept, {}};
    std::memcpy(stamp.ip, rule.ip, sizeof stamp.ip);
    return stamp;
}

void CCaptureConfig::PrepareMatching() {
    RuleIndex index;
    // Each key keeps the first rule that has it; nothing after a rule for any address and port can apply.
    for (uint32_t i = 0; i < filters.size() && index.catchAll == RuleIndex::kNone; ++i) {
        const CFilterItem& rule = filters[i];
        const uint32_t address = AddressOf(rule.ip);
        if (rule.anyIp != 0 && rule.anyPort != 0)
            index.catchAll = i;
        else if (rule.anyPort != 0)
            index.anyPort.try_emplace(address, i);
        else if (rule.anyIp != 0)
            for (uint16_t port : rule.ports) {
                index.anyAddress.resize(65536, RuleIndex::kNone);
                index.anyAddress[port] = std::min(index.anyAddress[port], i);
            }
        else
            for (uint16_t port : rule.ports)
                index.addressAndPort.try_emplace(uint64_t{address} << 16 | port, i);
    }
    index.source = filters.data();
    index.count = filters.size();
    index.firstRule = RuleIndex::StampOf(filters, false);
    index.lastRule = RuleIndex::StampOf(filters, true);
    m_index = std::move(index);
}

void CCaptureConfig::ApplyDefaults() {
    bufferMB = kDefaultBufferMB;
    defaultAccept = 1;
    filters.clear();
    PrepareMatching();
}
