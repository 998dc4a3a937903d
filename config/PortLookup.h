// A rule's ports as a set that says at once whether a port is listed, however many ports the rule lists (a
// Config.cfg may hold millions, duplicates included). The rule keeps its ports as typed; this is built
// beside it when the configuration is loaded and before every capture or file load.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CPortLookup {
public:
    // Lists up to this long are scanned as they are: as quick as a look-up, and nothing to build.
    static constexpr size_t kScannedPorts = 8;

    CPortLookup() = default;
    explicit CPortLookup(const std::vector<uint16_t>& ports);

    // True when this was built from this very list (the same array, of the same length). A list changed in
    // place after that is not seen: whoever changes the rules builds the look-ups again.
    bool Covers(const std::vector<uint16_t>& ports) const noexcept {
        return m_bits && m_source == ports.data() && m_count == ports.size();
    }
    bool Has(uint16_t port) const noexcept { return ((*m_bits)[port >> 6] >> (port & 63)) & 1u; }

private:
    using Bits = std::array<uint64_t, 65536 / 64>;
    std::shared_ptr<const Bits> m_bits;  // shared by copies of the configuration
    const uint16_t* m_source = nullptr;
    size_t m_count = 0;
};
