#include "analysis/DnsNameTable.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kPerGeneration = DnsNameTable::kMaxAddresses / 2;
constexpr size_t kFirstCells = 64;  // a power of two; a table grows by doubling, to twice its addresses
// Names' bytes of a generation: addresses answered again and again with new names fill it up too.
constexpr size_t kMaxText = kPerGeneration * 64;

// The address's bytes mixed into every bit (an IPv4 network's addresses differ in their last byte only).
size_t Hash(const DnsNameTable::Key& k) {
    uint64_t a, b;
    std::memcpy(&a, k.bytes + 1, 8);
    std::memcpy(&b, k.bytes + 9, 8);
    uint64_t h = a ^ (b * 0x9E3779B97F4A7C15ull) ^ k.bytes[0];
    h = (h ^ (h >> 33)) * 0xff51afd7ed558ccdull;
    h = (h ^ (h >> 33)) * 0xc4ceb9fe1a85ec53ull;
    return static_cast<size_t>(h ^ (h >> 33));
}

// Names compared in place, 8 bytes at a time: most answers repeat the name their address has already.
bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    size_t i = 0;
    for (; i + 8 <= a.size(); i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y)
            return false;
    }
    for (; i < a.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

}  // namespace

DnsNameTable::Key::Key(const uint8_t* address, size_t length) {
    bytes[0] = static_cast<uint8_t>(length);
    if (length == 4)
        std::memcpy(bytes + 1, address, 4);
    else
        std::memcpy(bytes + 1, address, std::min<size_t>(length, 16));
}

bool DnsNameTable::Key::operator==(const Key& o) const {
    uint64_t a[2], b[2];
    std::memcpy(a, bytes + 1, 16);
    std::memcpy(b, o.bytes + 1, 16);
    return bytes[0] == o.bytes[0] && ((a[0] ^ b[0]) | (a[1] ^ b[1])) == 0;
}

const DnsNameTable::Cell* DnsNameTable::Generation::Find(const Key& key) const {
    if (count == 0)
        return nullptr;
    const size_t mask = cells.size() - 1;
    for (size_t i = Hash(key) & mask;; i = (i + 1) & mask) {
        if (!cells[i].used)
            return nullptr;
        if (cells[i].key == key)
            return &cells[i];
    }
}

DnsNameTable::Cell& DnsNameTable::Generation::Insert(const Key& key) {
    // Small while few addresses are known, so that its lookups stay in the cache.
    if (cells.size() < 2 * (count + 1)) {
        std::vector<Cell> old(std::max(kFirstCells, 2 * cells.size()));
        old.swap(cells);
        const size_t mask = cells.size() - 1;
        for (const Cell& c : old) {
            if (!c.used)
                continue;
            size_t i = Hash(c.key) & mask;
            while (cells[i].used)
                i = (i + 1) & mask;
            cells[i] = c;
        }
    }
    const size_t mask = cells.size() - 1;
    size_t i = Hash(key) & mask;
    while (cells[i].used && !(cells[i].key == key))
        i = (i + 1) & mask;
    if (!cells[i].used) {
        cells[i] = Cell();
        cells[i].key = key;
        cells[i].used = 1;
        ++count;
    }
    return cells[i];
}

uint32_t DnsNameTable::Generation::Append(std::string_view name) {
    if (!SameText(name, Text(lastAt, lastLength))) {
        lastAt = static_cast<uint32_t>(text.size());
        lastLength = static_cast<uint32_t>(name.size());
        text.append(name);
    }
    return lastAt;
}

void DnsNameTable::Generation::Clear() {
    std::fill(cells.begin(), cells.end(), Cell());
    text.clear();
    count = 0;
    lastAt = lastLength = 0;
}

void DnsNameTable::Clear() {
    m_newer.Clear();
    m_older.Clear();
}

void DnsNameTable::Add(const Key& key, std::string_view name, uint32_t packet) {
    name = name.substr(0, 255);
    Cell* slot = const_cast<Cell*>(m_newer.Find(key));
    if (!slot) {
        // A full newer generation becomes the older one, and the older is forgotten.
        if (m_newer.count >= kPerGeneration || m_newer.text.size() >= kMaxText) {
            std::swap(m_newer, m_older);
            m_newer.Clear();
        }
        const Cell* old = m_older.Find(key);
        slot = &m_newer.Insert(key);
        if (old) {
            slot->nameLength = old->nameLength;
            slot->nameAt = m_newer.Append(m_older.Text(old->nameAt, old->nameLength));
            slot->packet = old->packet;
            if (old->beforePacket != UINT32_MAX) {
                slot->beforeLength = old->beforeLength;
                slot->beforeAt = m_newer.Append(m_older.Text(old->beforeAt, old->beforeLength));
                slot->beforePacket = old->beforePacket;
            }
        } else {
            slot->nameLength = static_cast<uint8_t>(name.size());
            slot->nameAt = m_newer.Append(name);
            slot->packet = packet;
            return;
        }
    }
    if (SameText(m_newer.Text(slot->nameAt, slot->nameLength), name))
        return;
    if (m_newer.text.size() >= kMaxText &&
        !SameText(name, m_newer.Text(m_newer.lastAt, m_newer.lastLength))) {
        // No room for another name: this answer starts the next generation, which carries its address.
        std::swap(m_newer, m_older);
        m_newer.Clear();
        Add(key, name, packet);
        return;
    }
    slot->beforeAt = slot->nameAt;
    slot->beforeLength = slot->nameLength;
    slot->beforePacket = slot->packet;
    slot->nameLength = static_cast<uint8_t>(name.size());
    slot->nameAt = m_newer.Append(name);
    slot->packet = packet;
}

bool DnsNameTable::Find(const Key& key, uint32_t beforePacket, std::string_view& name,
                        uint32_t& packet) const {
    const Generation* g = &m_newer;
    const Cell* slot = m_newer.Find(key);
    if (!slot) {
        g = &m_older;
        slot = m_older.Find(key);
    }
    if (!slot)
        return false;
    if (slot->packet < beforePacket) {
        name = g->Text(slot->nameAt, slot->nameLength);
        packet = slot->packet;
        return true;
    }
    if (slot->beforePacket < beforePacket) {
        name = g->Text(slot->beforeAt, slot->beforeLength);
        packet = slot->beforePacket;
        return true;
    }
    return false;
}
