// The configuration record: start-up options, adapter, buffer size, default policy and rules.
#pragma once

#include <cstdint>
#include <string>
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

    // 1 accepts the packet, 0 drops it. Uses only `filters` and `defaultAccept`; its cost does not grow with
    // the number of ports a rule lists once PrepareMatching has run for the rules as they are.
    int32_t MatchPacket(const uint8_t* srcIp, const uint8_t* dstIp, uint16_t srcPort, uint16_t dstPort) const;
    // The same for an IPv6 packet: only rules for any address can apply to it.
    int32_t MatchPacketIpv6(uint16_t srcPort, uint16_t dstPort) const;
    // Builds the rules' port look-ups. Loading the configuration does, and so does every capture and file
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
    // One per rule, in rule order. They belong to the very rules they were built from: a copy of the record
    // starts without them (and scans its ports) until PrepareMatching runs for it.
    struct PortLookups {
        std::vector<CPortLookup> items;
        PortLookups() = default;
        PortLookups(const PortLookups&) {}
        PortLookups(PortLookups&&) noexcept = default;
        PortLookups& operator=(const PortLookups&) {
            items.clear();
            return *this;
        }
        PortLookups& operator=(PortLookups&&) noexcept = default;
    };
    PortLookups m_portLookups;
};

extern CCaptureConfig g_config;

// Directory of the running executable, ending in a path separator.
std::string GetProgramDirectory();
