#include "analysis/ServerNameTable.h"

#include <algorithm>
#include <cstring>

#include "analysis/StreamReassembly.h"
#include "capture/PacketStore.h"

namespace {

constexpr uint16_t kDnsPort = 53;

bool IsDns(const ConnectionRecord& c) {
    return !c.isTcp && c.ServerPort() == kDnsPort;
}

}  // namespace

bool ServerNameTable::AddressKey::operator==(const AddressKey& o) const {
    return std::memcmp(bytes, o.bytes, sizeof bytes) == 0;
}

size_t ServerNameTable::AddressHash::operator()(const AddressKey& k) const {
    uint64_t a, b;
    std::memcpy(&a, k.bytes + 1, 8);
    std::memcpy(&b, k.bytes + 9, 8);
    return static_cast<size_t>((a * 0x9E3779B97F4A7C15ull) ^ (b + k.bytes[0]) * 0xC2B2AE3D27D4EB4Full);
}

ServerNameTable::ServerNameTable() = default;
ServerNameTable::~ServerNameTable() = default;

ServerNameTable& ConnectionNames() {
    static ServerNameTable table;
    return table;
}

void ServerNameTable::Clear() {
    m_entries.clear();
    m_names.clear();
    m_byPacket.clear();
    m_pending.clear();
    m_dns.clear();
    m_quic.clear();
    m_dnsNames.clear();
    m_dnsOrder.clear();
}

const ConnectionName* ServerNameTable::Find(size_t connection) const {
    // A table of an emptied store names nothing until it is brought up to date.
    if (connection >= m_entries.size() || m_entries[connection].name == UINT32_MAX ||
        g_storeGeneration.load(std::memory_order_relaxed) != m_generation)
        return nullptr;
    return &m_names[m_entries[connection].name];
}

const ConnectionName* ServerNameTable::FindByPacket(size_t packet) const {
    const auto it = m_byPacket.find(static_cast<uint32_t>(packet));
    if (packet >= UINT32_MAX || it == m_byPacket.end())
        return nullptr;
    const ConnectionName* n = Find(it->second);
    return n && n->packet == packet && n->source != NameSource::Dns ? n : nullptr;
}

void ServerNameTable::Update(uint32_t firstGrown, uint32_t lastGrown) {
    const uint64_t generation = g_storeGeneration.load(std::memory_order_acquire);
    const size_t count = g_connectionTable.size();
    if (generation != m_generation || count < m_entries.size()) {
        Clear();
        m_generation = generation;
        firstGrown = 1;
        lastGrown = 0;
    }
    const size_t before = m_entries.size();
    m_entries.resize(count);
    for (size_t i = before; i < count; ++i)
        if (IsDns(g_connectionTable[i]))
            m_dns.push_back(static_cast<uint32_t>(i));
    // Answers first, so that a connection new in this reading finds those stored before its first packet.
    const auto grown = [&](std::vector<uint32_t>& list, auto&& action) {
        const auto lo = std::lower_bound(list.begin(), list.end(), firstGrown);
        for (auto it = lo; it != list.end() && *it <= lastGrown && *it < before; ++it)
            action(*it);
        for (auto it = std::lower_bound(lo, list.end(), static_cast<uint32_t>(before)); it != list.end();
             ++it)
            action(*it);
    };
    static bool noDns = getenv("NO_DNS");
    static bool noLook = getenv("NO_LOOK");
    if (!noDns)
        grown(m_dns, [&](uint32_t c) { ReadDns(c, m_entries[c]); });
    if (firstGrown <= lastGrown)
        grown(m_pending, [&](uint32_t c) {
            if (c < before)
                Look(c);
        });
    for (size_t i = before; i < count; ++i) {
        Entry& e = m_entries[i];
        if (IsDns(g_connectionTable[i])) {
            e.settled = true;
            continue;
        }
        NameFromDns(i, e);
        if (!noLook)
            Look(i);
        if (!e.settled)
            m_pending.push_back(static_cast<uint32_t>(i));
    }
    std::erase_if(m_pending, [&](uint32_t c) { return m_entries[c].settled; });
}

void ServerNameTable::Look(size_t connection) {
    Entry& e = m_entries[connection];
    const size_t packets = g_connectionTable[connection].packetIndices.size();
    if (e.settled || (packets == e.looked && e.looked != 0))
        return;
    if (g_connectionTable[connection].isTcp)
        LookTcp(connection, e);
    else
        LookUdp(connection, e);
    e.looked = static_cast<uint32_t>(std::min(packets, kLookPackets));
    if (packets >= kLookPackets)
        Settle(connection, e);
}

void ServerNameTable::Settle(size_t connection, Entry& e) {
    e.settled = true;
    m_quic.erase(connection);
}

void ServerNameTable::SetName(size_t connection, Entry& e, NameSource source, const std::string& raw,
                              uint32_t packet, int64_t frameOffset) {
    ConnectionName n;
    n.name = EscapeName(raw);
    n.source = source;
    n.packet = packet;
    n.frameOffset = frameOffset >= 0 && frameOffset < INT32_MAX ? static_cast<int32_t>(frameOffset) : -1;
    n.length = static_cast<uint32_t>(raw.size());
    if (e.name != UINT32_MAX) {
        m_names[e.name] = std::move(n);
    } else {
        e.name = static_cast<uint32_t>(m_names.size());
        m_names.push_back(std::move(n));
    }
    e.fromDns = source == NameSource::Dns;
    if (!e.fromDns && packet != UINT32_MAX)
        m_byPacket[packet] = static_cast<uint32_t>(connection);
}

void ServerNameTable::LookTcp(size_t connection, Entry& e) {
    const ConnectionRecord& c = g_connectionTable[connection];
    const size_t count = std::min(c.packetIndices.size(), kLookPackets);
    const size_t stored = g_packetTable.size();
    // The client's first payload tells the protocol; most connections are settled by it alone.
    bool more = false;
    for (size_t i = 0; i < count && !more; ++i) {
        const uint32_t p = c.packetIndices[i];
        if (p >= stored)
            return;
        const PacketRecord& r = g_packetTable[p];
        if (!r.toServer.load(std::memory_order_relaxed) || r.payloadLen <= 0)
            continue;
        const std::span<const uint8_t> payload = PacketPayload(r);
        if (payload.empty())
            continue;
        const bool tls = payload[0] == 22;
        if (!tls && !(payload[0] >= 'A' && payload[0] <= 'Z')) {
            Settle(connection, e);
            return;
        }
        const auto parse = [tls](std::span<const uint8_t> bytes, FoundName& found) {
            return tls ? TlsClientName(bytes, found) : HttpHostName(bytes, found);
        };
        const NameSource source = tls ? NameSource::Tls : NameSource::Http;
        FoundName found;
        NameParse result = parse(payload, found);
        if (result == NameParse::Found) {
            SetName(connection, e, source, found.name, p, (payload.data() - r.data) + found.at);
            Settle(connection, e);
            return;
        }
        if (result == NameParse::None) {
            Settle(connection, e);
            return;
        }
        more = true;
    }
    if (!more)
        return;
    // More than one segment: the client's bytes in order, as the stream reassembly gives them.
    StreamReassembly stream(connection);
    stream.Extend(kLookPackets);
    std::vector<uint8_t> bytes;
    struct Piece {
        size_t at;
        uint32_t packet, offset, length;
    };
    std::vector<Piece> pieces;
    for (const StreamPiece& piece : stream.Pieces()) {
        if (piece.direction != StreamDirection::ToServer)
            continue;
        if (piece.kind != StreamPieceKind::Data || bytes.size() >= kLookBytes)
            break;
        const std::span<const uint8_t> payload = stream.Payload(piece.packet);
        if (piece.offset > payload.size() || piece.length > payload.size() - piece.offset)
            break;
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(piece.length, kLookBytes - bytes.size()));
        pieces.push_back({bytes.size(), piece.packet, piece.offset, n});
        bytes.insert(bytes.end(), payload.begin() + piece.offset, payload.begin() + piece.offset + n);
    }
    if (bytes.empty())
        return;
    const bool tls = bytes[0] == 22;
    FoundName found;
    const NameParse result = tls ? TlsClientName(bytes, found) : HttpHostName(bytes, found);
    if (result == NameParse::Found) {
        // The packet whose bytes hold the name's start; its place in the frame when the name lies there
        // whole.
        uint32_t packet = pieces.empty() ? UINT32_MAX : pieces.back().packet;
        int64_t frameOffset = -1;
        for (const Piece& p : pieces) {
            const auto at = static_cast<size_t>(std::max<int64_t>(found.at, 0));
            if (found.at >= 0 && at >= p.at && at < p.at + p.length) {
                packet = p.packet;
                const std::span<const uint8_t> payload = stream.Payload(p.packet);
                if (at + found.name.size() <= p.at + p.length)
                    frameOffset = (payload.data() - g_packetTable[p.packet].data) + p.offset + (at - p.at);
            }
        }
        SetName(connection, e, tls ? NameSource::Tls : NameSource::Http, found.name, packet, frameOffset);
        Settle(connection, e);
    } else if (result == NameParse::None || bytes.size() >= kLookBytes) {
        Settle(connection, e);
    }
}

void ServerNameTable::LookUdp(size_t connection, Entry& e) {
    const ConnectionRecord& c = g_connectionTable[connection];
    const size_t count = std::min(c.packetIndices.size(), kLookPackets);
    const size_t stored = g_packetTable.size();
    auto it = m_quic.find(connection);
    for (size_t i = e.looked; i < count; ++i) {
        const uint32_t p = c.packetIndices[i];
        if (p >= stored)
            return;
        const PacketRecord& r = g_packetTable[p];
        if (!r.toServer.load(std::memory_order_relaxed))
            continue;
        const std::span<const uint8_t> payload = PacketPayload(r);
        if (it == m_quic.end()) {
            // The client's first datagram opens with a long header of a version read here, or this is no
            // QUIC connection.
            const uint32_t version = payload.size() > 5
                                         ? (uint32_t{payload[1]} << 24) | (uint32_t{payload[2]} << 16) |
                                               (uint32_t{payload[3]} << 8) | payload[4]
                                         : 0;
            if (payload.size() <= 5 || (payload[0] & 0xC0) != 0xC0 ||
                (version != kQuicVersion1 && version != kQuicVersion2) || m_quic.size() >= kMaxQuicReaders) {
                Settle(connection, e);
                return;
            }
            it = m_quic.emplace(connection, std::make_unique<QuicInitialReader>()).first;
        }
        it->second->AddDatagram(payload);
        if (!it->second->SawInitial()) {
            Settle(connection, e);
            return;
        }
        FoundName found;
        const NameParse result = it->second->Name(found);
        if (result == NameParse::Found)
            SetName(connection, e, NameSource::Quic, found.name, p, -1);
        if (result != NameParse::NeedMore) {
            Settle(connection, e);
            return;
        }
    }
}

void ServerNameTable::ReadDns(size_t connection, Entry& e) {
    const ConnectionRecord& c = g_connectionTable[connection];
    const size_t count = c.packetIndices.size();
    const size_t stored = g_packetTable.size();
    std::vector<DnsAddress> answers;
    // Every answer counts here, not only the first ones: they name other connections.
    size_t i = e.looked;
    for (; i < count; ++i) {
        const uint32_t p = c.packetIndices[i];
        if (p >= stored)
            break;
        const PacketRecord& r = g_packetTable[p];
        if (r.toServer.load(std::memory_order_relaxed) || !DnsAnswerAddresses(PacketPayload(r), answers))
            continue;
        for (const DnsAddress& a : answers) {
            AddressKey key{};
            key.bytes[0] = a.ipv6 ? 6 : 4;
            std::memcpy(key.bytes + 1, a.address, a.ipv6 ? 16 : 4);
            DnsName& n = m_dnsNames[key];
            // The same name again keeps its first answer: it was valid from then on.
            if (n.serial == 0 || n.name != a.name) {
                if (n.serial != 0) {
                    n.before.swap(n.name);
                    n.beforePacket = n.packet;
                }
                n.name.assign(a.name);
                n.packet = p;
            }
            n.serial = ++m_serial;
            m_dnsOrder.emplace_back(key, n.serial);
        }
        // The oldest answers go first; a queue entry whose address was answered again since is stale.
        while (m_dnsNames.size() > kMaxDnsAddresses && !m_dnsOrder.empty()) {
            const auto [key, serial] = m_dnsOrder.front();
            m_dnsOrder.pop_front();
            const auto found = m_dnsNames.find(key);
            if (found != m_dnsNames.end() && found->second.serial == serial)
                m_dnsNames.erase(found);
        }
        while (m_dnsOrder.size() > 4 * kMaxDnsAddresses) {
            const auto [key, serial] = m_dnsOrder.front();
            m_dnsOrder.pop_front();
            const auto found = m_dnsNames.find(key);
            if (found != m_dnsNames.end() && found->second.serial == serial)
                m_dnsNames.erase(found);
        }
    }
    e.looked = static_cast<uint32_t>(i);
}

void ServerNameTable::NameFromDns(size_t connection, Entry& e) {
    if (m_dnsNames.empty())
        return;
    const ConnectionRecord& c = g_connectionTable[connection];
    const Endpoint server = c.Server();
    AddressKey key{};
    key.bytes[0] = server.IsIpv6() ? 6 : 4;
    std::memcpy(key.bytes + 1, server.AddressBytes(), server.AddressLength());
    const auto it = m_dnsNames.find(key);
    if (it == m_dnsNames.end())
        return;
    // Only an answer stored before the connection's first packet can have given the client its address.
    const uint32_t first = c.packetIndices[0];
    if (it->second.packet < first)
        SetName(connection, e, NameSource::Dns, it->second.name, it->second.packet, -1);
    else if (it->second.beforePacket < first)
        SetName(connection, e, NameSource::Dns, it->second.before, it->second.beforePacket, -1);
}
