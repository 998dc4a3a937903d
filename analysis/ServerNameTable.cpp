#include "analysis/ServerNameTable.h"

#include <algorithm>
#include <cstring>

#include "analysis/StreamReassembly.h"
#include "capture/PacketStore.h"

namespace {

constexpr uint16_t kDnsPort = 53;
constexpr int32_t kQuicMinDatagram = 1200;

bool IsDns(const ConnectionRecord& c) {
    return !c.isTcp && c.ServerPort() == kDnsPort;
}

// Either end: a capture that began after the handshake takes the sender of its first packet for the client.
bool IsDnsOverTcp(const ConnectionRecord& c) {
    return c.isTcp && (c.ServerPort() == kDnsPort || c.ClientPort() == kDnsPort);
}

// Asks the memory for a stored packet's record, or for the frame bytes that a look reads first: the
// capture file's record header before the frame, and the frame's headers and first payload bytes.
void FetchRecord(uint32_t packet) {
    __builtin_prefetch(&g_packetTable[packet]);
}
void FetchFrame(const PacketRecord& r) {
    __builtin_prefetch(r.data - 16);
    __builtin_prefetch(r.data + 48);
}

void FetchFirstRecords(const ConnectionRecord& c) {
    const size_t n = std::min<size_t>(c.packetIndices.size(), 4);
    const size_t stored = g_packetTable.size();
    for (size_t k = 0; k < n; ++k)
        if (c.packetIndices.Front(k) < stored)
            FetchRecord(c.packetIndices.Front(k));
}

// The frame of the client's first packet with a payload (of the first 4), when a look would read it.
void FetchFirstPayload(const ConnectionRecord& c) {
    if (IsDns(c))
        return;
    const size_t n = std::min<size_t>(c.packetIndices.size(), 4);
    const size_t stored = g_packetTable.size();
    for (size_t k = 0; k < n; ++k) {
        if (c.packetIndices.Front(k) >= stored)
            return;
        const PacketRecord& r = g_packetTable[c.packetIndices.Front(k)];
        if (r.toServer.load(std::memory_order_relaxed) && r.payloadLen > 0) {
            if (c.isTcp || r.payloadLen >= kQuicMinDatagram)
                FetchFrame(r);
            return;
        }
    }
}

}  // namespace

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
    m_byPacketSorted = 0;
    m_dnsNames.Clear();
}

const ConnectionName* ServerNameTable::Find(size_t connection) const {
    // A table of an emptied store names nothing until it is brought up to date.
    if (connection >= m_entries.size() || m_entries[connection].name == UINT32_MAX ||
        g_storeGeneration.load(std::memory_order_relaxed) != m_generation)
        return nullptr;
    return &m_names[m_entries[connection].name];
}

const ConnectionName* ServerNameTable::FindByPacket(size_t packet) const {
    if (packet >= UINT32_MAX)
        return nullptr;
    if (m_byPacketSorted != m_byPacket.size()) {
        std::sort(m_byPacket.begin(), m_byPacket.end());
        m_byPacketSorted = m_byPacket.size();
    }
    // A packet belongs to one connection: any of its entries will do.
    const auto it =
        std::upper_bound(m_byPacket.begin(), m_byPacket.end(),
                         std::pair<uint32_t, uint32_t>(static_cast<uint32_t>(packet), UINT32_MAX));
    if (it == m_byPacket.begin() || (it - 1)->first != packet)
        return nullptr;
    const ConnectionName* n = Find((it - 1)->second);
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
    grown(m_dns, [&](uint32_t c) { ReadDns(c, m_entries[c]); });
    ReadDnsPackets();
    if (firstGrown <= lastGrown)
        grown(m_pending, [&](uint32_t c) {
            if (c < before)
                Look(c);
        });
    // The first packets of a run of new connections are fetched together: the store's records and frames
    // of a loaded file are long out of the cache, and waiting for one at a time would cost most of the look.
    constexpr size_t kRun = 16;
    for (size_t run = before; run < count; run += kRun) {
        const size_t end = std::min(count, run + kRun);
        for (size_t i = run; i < end; ++i)
            FetchFirstRecords(g_connectionTable[i]);
        for (size_t i = run; i < end; ++i)
            FetchFirstPayload(g_connectionTable[i]);
        for (size_t i = run; i < end; ++i) {
            Entry& e = m_entries[i];
            if (IsDns(g_connectionTable[i])) {
                e.settled = true;
                continue;
            }
            NameFromDns(i, e);
            Look(i);
            if (!e.settled)
                m_pending.push_back(static_cast<uint32_t>(i));
        }
    }
    std::erase_if(m_pending, [&](uint32_t c) { return m_entries[c].settled; });
}

void ServerNameTable::Look(size_t connection) {
    Entry& e = m_entries[connection];
    const size_t packets = g_connectionTable[connection].packetIndices.size();
    if (e.settled || (packets == e.looked && e.looked != 0))
        return;
    if (IsDnsOverTcp(g_connectionTable[connection]))
        ReadDnsTcp(connection, e);
    else if (g_connectionTable[connection].isTcp)
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

void ServerNameTable::SetName(size_t connection, Entry& e, NameSource source, std::string_view raw,
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
        m_byPacket.emplace_back(packet, static_cast<uint32_t>(connection));
}

void ServerNameTable::LookTcp(size_t connection, Entry& e) {
    const ConnectionRecord& c = g_connectionTable[connection];
    const size_t count = std::min(c.packetIndices.size(), kLookPackets);
    const size_t stored = g_packetTable.size();
    // The client's first payload tells the protocol; most connections are settled by it alone.
    bool more = false;
    for (size_t i = 0; i < count && !more; ++i) {
        const uint32_t p = c.packetIndices.Front(i);
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
        const uint32_t p = c.packetIndices.Front(i);
        if (p >= stored)
            return;
        const PacketRecord& r = g_packetTable[p];
        if (!r.toServer.load(std::memory_order_relaxed))
            continue;
        // A client pads each datagram with an Initial packet to 1200 bytes at least (RFC 9000, 14.1): a
        // smaller first datagram settles the connection without a look at its bytes.
        if (it == m_quic.end() && r.payloadLen < kQuicMinDatagram) {
            Settle(connection, e);
            return;
        }
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
    // Every answer counts here, not only the first ones: they name other connections. The packets are read
    // together with those of the other DNS connections (ReadDnsPackets).
    const ConnectionRecord& c = g_connectionTable[connection];
    const size_t count = c.packetIndices.size();
    const size_t stored = g_packetTable.size();
    size_t i = e.looked;
    for (; i < count && c.packetIndices[i] < stored; ++i)
        m_dnsPackets.push_back(c.packetIndices[i]);
    e.looked = static_cast<uint32_t>(i);
}

void ServerNameTable::ReadDnsPackets() {
    // Only the server's responses with answers are read: the record tells the direction and the size (a
    // header and one question at least) before the frame is touched.
    const auto isResponse = [](const PacketRecord& r) {
        return !r.toServer.load(std::memory_order_relaxed) && r.payloadLen >= 12 + 5;
    };
    // The record of a packet a few ahead and the frame of one half as far ahead are asked for while this one
    // is read: they are long out of the cache after a load, and one at a time each would wait its turn.
    constexpr size_t kAhead = 16;
    const size_t n = m_dnsPackets.size();
    for (size_t i = 0; i < n; ++i) {
        if (i + kAhead < n)
            FetchRecord(m_dnsPackets[i + kAhead]);
        if (i + kAhead / 2 < n && isResponse(g_packetTable[m_dnsPackets[i + kAhead / 2]]))
            FetchFrame(g_packetTable[m_dnsPackets[i + kAhead / 2]]);
        const uint32_t p = m_dnsPackets[i];
        const PacketRecord& r = g_packetTable[p];
        if (!isResponse(r))
            continue;
        const std::span<const uint8_t> message = PacketPayload(r);
        if (message.size() < 12 || (message[2] & 0x80) == 0 || (message[6] | message[7]) == 0 ||
            !DnsAnswerAddresses(message, m_answers))
            continue;
        for (const DnsAnswers::Address& a : m_answers.addresses)
            m_dnsNames.Add(DnsNameTable::Key(a.address, a.ipv6 ? 16 : 4), m_answers.Name(a), p);
    }
    m_dnsPackets.clear();
}

void ServerNameTable::ReadDnsTcp(size_t connection, Entry& e) {
    // The server's first bytes in order, as the stream reassembly gives them, with the packet that brought
    // each piece: a message's answers count from the packet that completed it.
    StreamReassembly stream(connection);
    stream.Extend(kLookPackets);
    const StreamDirection server = g_connectionTable[connection].ServerPort() == kDnsPort
                                       ? StreamDirection::ToClient
                                       : StreamDirection::ToServer;
    m_dnsTcpBytes.clear();
    std::vector<std::pair<size_t, uint32_t>> ends;  // bytes so far after each piece, and its packet
    for (const StreamPiece& piece : stream.Pieces()) {
        if (piece.direction != server)
            continue;
        const std::span<const uint8_t> payload = stream.Payload(piece.packet);
        if (piece.kind != StreamPieceKind::Data || m_dnsTcpBytes.size() >= kLookBytes ||
            piece.offset > payload.size() || piece.length > payload.size() - piece.offset)
            break;
        const auto n =
            static_cast<size_t>(std::min<uint64_t>(piece.length, kLookBytes - m_dnsTcpBytes.size()));
        m_dnsTcpBytes.insert(m_dnsTcpBytes.end(), payload.begin() + piece.offset,
                             payload.begin() + piece.offset + n);
        ends.emplace_back(m_dnsTcpBytes.size(), piece.packet);
    }
    size_t at = 0, index = 0;
    std::span<const uint8_t> message;
    while (NextDnsTcpMessage(m_dnsTcpBytes, at, message)) {
        // Those read at an earlier look are read again (the bytes are bounded), but added once.
        if (index++ < e.dnsMessages || !DnsAnswerAddresses(message, m_answers))
            continue;
        const auto end = std::lower_bound(ends.begin(), ends.end(), std::pair<size_t, uint32_t>(at, 0));
        const uint32_t packet = end != ends.end() ? end->second : ends.back().second;
        for (const DnsAnswers::Address& a : m_answers.addresses)
            m_dnsNames.Add(DnsNameTable::Key(a.address, a.ipv6 ? 16 : 4), m_answers.Name(a), packet);
    }
    e.dnsMessages = static_cast<uint16_t>(std::min<size_t>(index, UINT16_MAX));
}

void ServerNameTable::NameFromDns(size_t connection, Entry& e) {
    if (m_dnsNames.Empty())
        return;
    const ConnectionRecord& c = g_connectionTable[connection];
    const Endpoint server = c.Server();
    // Only an answer stored before the connection's first packet can have given the client its address.
    std::string_view name;
    uint32_t packet = 0;
    if (m_dnsNames.Find(DnsNameTable::Key(server.AddressBytes(), server.AddressLength()),
                        c.packetIndices.Front(0), name, packet))
        SetName(connection, e, NameSource::Dns, name, packet, -1);
}
