// The configuration record: start-up options, adapter, buffer size, default policy and rules.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "config/FilterItem.h"

class CCaptureConfig {
public:
    int32_t minimized = 0;
    int32_t startCapture = 0;
    int32_t autostart = 0;
    // Also keep IPv6, VLAN-tagged and Linux cooked frames (off by default; kept in the settings file only).
    int32_t wideIntake = 0;
    std::string programDir;
    std::string adapter;
    std::string adapterName;
    int32_t bufferMB = 0;
    int32_t defaultAccept = 0;
    std::vector<CFilterItem> filters;

    // 1 accepts the packet, 0 drops it: the first rule that matches decides, else `defaultAccept`. Once
    // PrepareMatching has run for the rules as they are, its cost grows with neither the number of rules
    // nor the ports they list.
    int32_t MatchPacket(const uint8_t* srcIp, const uint8_t* dstIp, uint16_t srcPort, uint16_t dstPort) const;
    // The same decision, also adding to `looked` the rules it tried and the index entries it looked up:
    // the work a packet costs, which tests hold without timing anything.
    int32_t MatchPacket(const uint8_t* srcIp, const uint8_t* dstIp, uint16_t srcPort, uint16_t dstPort,
                        uint32_t& looked) const;
    // The same for an IPv6 packet: only rules for any address can apply to it.
    int32_t MatchPacketIpv6(uint16_t srcPort, uint16_t dstPort) const;
    // Builds the rules' index. Loading the configuration does, and so does every capture and file
    // load as it starts; code that changes `filters` in place and then matches calls it too.
    void PrepareMatching();

    // Loads or stores the Config.cfg part (buffer size, policy, rules). Loading throws ArchiveError on a
    // truncated or malformed file and then leaves the record unchanged; bytes after the last rule are
    // ignored; a loaded bufferMB is clamped to kMinBufferMB..kMaxBufferMB.
    void SerializeConfig(CArchive& ar);

    // --- Config.cfg and the settings store (QtCore; see ConfigFile.cpp) ---
    // Loads Config.cfg (defaults when missing or damaged) and the three options; returns the file path.
    std::string LoadConfig();
    // true when the file was opened and read; false when it cannot be opened. A damaged file (also one over
    // 16 MB, or a device or pipe, which are not read) loads the defaults, is reported once through
    // ShowMessage and is left in place; with `damage`, that reason is stored there instead, for a caller
    // that refuses to go on without the file.
    bool ReadConfigFile(const std::string& path, std::string* damage = nullptr);
    // true when Config.cfg was written (atomically); then also writes the options and the autostart entry.
    bool SaveConfig(const std::string& path);
    // LoadConfig, then LoadAdapterSetting.
    void LoadStartupSettings();
    // The stored adapter, else the default adapter (which is not stored).
    void LoadAdapterSetting();

    void ApplyDefaults();  // bufferMB 50, defaultAccept 1, no rules

    static constexpr int32_t kMinBufferMB = 1;
    static constexpr int32_t kMaxBufferMB = 200;
    static constexpr int32_t kDefaultBufferMB = 50;

private:
    template <typename Count>
    int32_t Match(const uint8_t* srcIp, const uint8_t* dstIp, uint16_t srcPort, uint16_t dstPort,
                  Count count) const;
    // The first rule that can match a packet, looked up by the packet's addresses and ports instead of
    // trying the rules in turn (a Config.cfg may hold hundreds of thousands). It belongs to the very rules
    // it was built from: a copy of the record starts without it (and tries the rules in turn) until
    // PrepareMatching runs for it.
    struct RuleIndex {
        static constexpr uint32_t kNone = UINT32_MAX;
        uint32_t catchAll = kNone;         // the first rule for any address and port
        std::vector<uint32_t> anyAddress;  // by port: 65,536 of them, or none when no rule is for any address
        std::unordered_map<uint32_t, uint32_t> anyPort;         // by address
        std::unordered_map<uint64_t, uint32_t> addressAndPort;  // by address << 16 | port
        // What it was built from: the list, and the first and last rules as they were (a list replaced by
        // one of the same length in the same place is told apart by them).
        const CFilterItem* source = nullptr;
        size_t count = 0;
        struct Stamp {
            const uint16_t* ports = nullptr;
            size_t portCount = 0;
            int32_t anyIp = 0, anyPort = 0, accept = 0;
            uint8_t ip[4] = {};
            bool operator==(const Stamp&) const = default;
        };
        Stamp firstRule, lastRule;
        static Stamp StampOf(const std::vector<CFilterItem>& rules, bool last);
        RuleIndex() = default;
        RuleIndex(const RuleIndex&) {}
        RuleIndex(RuleIndex&&) noexcept = default;
        RuleIndex& operator=(const RuleIndex&) {
            *this = RuleIndex();
            return *this;
        }
        RuleIndex& operator=(RuleIndex&&) noexcept = default;
    };
    bool IsIndexed() const {
        return m_index.source == filters.data() && m_index.count == filters.size() &&
               m_index.firstRule == RuleIndex::StampOf(filters, false) &&
               m_index.lastRule == RuleIndex::StampOf(filters, true);
    }
    RuleIndex m_index;
};

extern CCaptureConfig g_config;

// Directory of the running executable, ending in a path separator.
std::string GetProgramDirectory();
