// The names DNS answers gave addresses, for the connections made to them later: a flat table keyed by
// address, bounded to kMaxAddresses that forgets those answered longest ago. It keeps two generations of
// half that size each: a full newer generation replaces the older one, and an address answered again is
// carried into the newer one. One address costs a fixed slot and its name's bytes, nothing per answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class DnsNameTable {
public:
    static constexpr size_t kMaxAddresses = 65536;

    // An IPv4 (4 bytes) or IPv6 (16 bytes) address.
    struct Key {
        uint8_t bytes[17] = {};  // the family's length, then the address
        Key() = default;
        Key(const uint8_t* address, size_t length);
        bool operator==(const Key& o) const;
    };

    // Stored packet `packet` answered `name` for the address. The same name again keeps its first answer:
    // it was valid from then on.
    void Add(const Key& key, std::string_view name, uint32_t packet);
    // The name of the latest answer for the address stored before `beforePacket` (of the two latest kept),
    // and that answer's packet; false when none.
    bool Find(const Key& key, uint32_t beforePacket, std::string_view& name, uint32_t& packet) const;
    bool Empty() const { return m_newer.count == 0 && m_older.count == 0; }
    size_t Size() const { return m_newer.count + m_older.count; }
    void Clear();

private:
    struct Cell {
        Key key;
        uint8_t used = 0;
        uint8_t nameLength = 0, beforeLength = 0;  // names are at most kMaxNameBytes (255)
        uint32_t nameAt = 0, beforeAt = 0;         // in the generation's text
        uint32_t packet = 0, beforePacket = UINT32_MAX;
    };
    struct Generation {
        std::vector<Cell> cells;  // open addressing, at most half full
        std::string text;         // the names' bytes; an answer's addresses share its name
        size_t count = 0;
        uint32_t lastAt = 0, lastLength = 0;  // the name appended last
        const Cell* Find(const Key& key) const;
        Cell& Insert(const Key& key);
        uint32_t Append(std::string_view name);
        std::string_view Text(uint32_t at, uint32_t length) const { return {text.data() + at, length}; }
        void Clear();
    };

    Generation m_newer, m_older;
};
