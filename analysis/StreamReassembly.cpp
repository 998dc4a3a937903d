#include "analysis/StreamReassembly.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "capture/FrameFile.h"
#include "capture/FrameLayout.h"
#include "capture/PacketStore.h"

namespace {

// Unwrapped sequence numbers live far from 0, so that a stream may reach back before its first segment.
constexpr int64_t kOrigin = int64_t{1} << 40;
// A sequence number up to this far behind the next expected byte is old data (a retransmission); anything
// else is ahead of it. So a jump of 2^31 reads as a gap, not as data from the past.
constexpr uint32_t kBackWindow = uint32_t{1} << 30;

size_t Index(StreamDirection d) {
    return static_cast<size_t>(d);
}

StreamDirection Other(StreamDirection d) {
    return d == StreamDirection::ToServer ? StreamDirection::ToClient : StreamDirection::ToServer;
}

// A stored frame's layout; false when the frame is not one the intake keeps.
bool ReadLayout(int linkType, const uint8_t* frame, size_t capLen, FrameLayout& out) {
    return frame && capLen <= UINT32_MAX &&
           ParseFrame(linkType, frame, static_cast<uint32_t>(capLen), out) == FrameVerdict::Kept;
}

}  // namespace

bool ReadTcpSegment(int linkType, const uint8_t* frame, size_t capLen, StreamSegment& out) {
    FrameLayout l;
    if (!ReadLayout(linkType, frame, capLen, l) || l.protocol != kProtocolTcp || l.laterFragment)
        return false;
    const uint8_t* t = frame + l.transport;
    out.seq = ReadBE32(t + 4);
    out.ack = ReadBE32(t + 8);
    out.flags = t[13];
    return true;
}

bool IsLaterFragment(int linkType, const uint8_t* frame, size_t capLen) {
    FrameLayout l;
    return ReadLayout(linkType, frame, capLen, l) && l.laterFragment;
}

// ---------------------------------------------------------------------------------------------------------
// TcpStreamBuilder

int64_t TcpStreamBuilder::Unwrap(const Direction& d, uint32_t seq) const {
    const uint32_t nextSeq = d.seqAtOrigin + static_cast<uint32_t>(d.next - kOrigin);
    const uint32_t delta = seq - nextSeq;
    if (delta >= uint32_t(0) - kBackWindow)
        return d.next - static_cast<int64_t>((uint64_t{1} << 32) - delta);
    return d.next + delta;
}

void TcpStreamBuilder::Start(Direction& d, uint32_t seq, bool syn) {
    d = Direction{};
    d.started = true;
    d.synSeen = syn;
    d.isn = seq;
    d.seqAtOrigin = seq;
    d.next = kOrigin + (syn ? 1 : 0);
    d.streamStart = d.next;
}

uint64_t TcpStreamBuilder::HeldBytes(StreamDirection dir) const {
    uint64_t n = 0;
    for (const auto& [start, held] : m_dirs[Index(dir)].held)
        n += static_cast<uint64_t>(held.end - start);
    return n;
}

void TcpStreamBuilder::Mark(StreamPieceKind kind, StreamDirection dir, uint64_t length, uint32_t packet) {
    StreamPiece p;
    p.kind = kind;
    p.direction = dir;
    p.length = length;
    p.packet = packet;
    m_pieces.push_back(p);
}

uint64_t TcpStreamBuilder::CountDifferent(uint32_t pa, uint32_t a, uint32_t pb, uint32_t b,
                                          uint64_t n) const {
    const std::span<const uint8_t> x = m_source.Payload(pa);
    const std::span<const uint8_t> y = m_source.Payload(pb);
    if (a > x.size() || b > y.size() || n > x.size() - a || n > y.size() - b)
        return 0;  // the store no longer holds what it held: nothing to say
    const uint8_t* p = x.data() + a;
    const uint8_t* q = y.data() + b;
    if (std::memcmp(p, q, n) == 0)
        return 0;
    uint64_t differ = 0;
    for (uint64_t i = 0; i < n; ++i)
        differ += p[i] != q[i];
    return differ;
}

void TcpStreamBuilder::Add(const StreamSegment& s) {
    ++m_packets;
    m_conflicting = 0;
    m_late = 0;
    m_early = 0;
    const StreamDirection dir = s.direction;
    Direction& d = m_dirs[Index(dir)];
    Direction& peer = m_dirs[Index(Other(dir))];
    // A reset's payload (some stacks put a diagnostic text there) is not part of the stream.
    if (s.flags & kTcpRst) {
        CheckHoles(s.packet);
        return;
    }
    if ((s.flags & kTcpAck) && peer.started) {
        const int64_t acked = Unwrap(peer, s.ack);
        if (!peer.peerAckKnown || acked > peer.peerAck) {
            peer.peerAck = acked;
            peer.peerAckKnown = true;
        }
    }
    const bool syn = (s.flags & kTcpSyn) != 0;
    if (!d.started) {
        Start(d, s.seq, syn);
    } else if (syn && !(d.synSeen && s.seq == d.isn)) {
        const int64_t first = Unwrap(d, s.seq) + 1;
        if (d.anyShown && first <= d.streamStart) {
            // The SYN of this stream, captured late: the bytes shown so far stay.
            d.synSeen = true;
            d.isn = s.seq;
        } else if (!d.anyShown && !d.finSeen) {
            // The SYN says where the stream starts; what came before it was captured out of order.
            d.synSeen = true;
            d.isn = s.seq;
            d.next = d.streamStart = first;
            HandOnHeld(d, dir);
        } else {
            // The same addresses and ports begin a new conversation: close this one.
            FlushDirection(d, dir, s.packet);
            Mark(StreamPieceKind::Restart, dir, 0, s.packet);
            Start(d, s.seq, true);
        }
    }
    const int64_t start = Unwrap(d, s.seq) + (syn ? 1 : 0);
    const int64_t end = start + s.length;
    if (s.length) {
        if (!d.anyShown && !d.synSeen && start < d.next) {
            // The first segments came out of order: the stream starts at the earliest.
            d.next = d.streamStart = start;
        }
        // A keep-alive repeats the byte before the next one (often with a garbage byte): not a new copy.
        const bool keepAlive = s.length == 1 && end == d.next && d.anyShown && d.held.empty();
        if (!keepAlive)
            InsertData(d, dir, start, end, s.packet, 0);
    }
    if ((s.flags & kTcpFin) && !d.finSeen) {
        d.finSeen = true;
        d.finAt = std::max(end, d.next);
        // Bytes held beyond the FIN will never be read by the application.
        uint64_t beyond = 0;
        auto it = d.held.lower_bound(d.finAt);
        if (it != d.held.begin() && std::prev(it)->second.end > d.finAt) {
            beyond += static_cast<uint64_t>(std::prev(it)->second.end - d.finAt);
            std::prev(it)->second.end = d.finAt;
        }
        for (; it != d.held.end(); it = d.held.erase(it))
            beyond += static_cast<uint64_t>(it->second.end - it->first);
        if (beyond)
            Mark(StreamPieceKind::AfterEnd, dir, beyond, s.packet);
    }
    if (m_conflicting)
        Mark(StreamPieceKind::Conflict, dir, m_conflicting, s.packet);
    if (m_late)
        Mark(StreamPieceKind::Late, dir, m_late, s.packet);
    if (m_early)
        Mark(StreamPieceKind::Early, dir, m_early, s.packet);
    CheckHoles(s.packet);
}

void TcpStreamBuilder::InsertData(Direction& d, StreamDirection dir, int64_t s, int64_t e, uint32_t packet,
                                  uint32_t off) {
    if (d.finSeen && e > d.finAt) {
        const int64_t cut = std::max(s, d.finAt);
        Mark(StreamPieceKind::AfterEnd, dir, static_cast<uint64_t>(e - cut), packet);
        e = cut;
        if (e <= s)
            return;
    }
    if (s < d.next) {
        const int64_t oldEnd = std::min(e, d.next);
        CompareOld(d, dir, s, oldEnd, packet, off);
        off += static_cast<uint32_t>(oldEnd - s);
        s = oldEnd;
        if (s >= e)
            return;
    }
    if (s == d.next && d.held.empty()) {
        HandOn(d, dir, s, e, packet, off);
        return;
    }
    Hold(d, s, e, packet, off);
    HandOnHeld(d, dir);
}

void TcpStreamBuilder::CompareOld(Direction& d, StreamDirection, int64_t s, int64_t e, uint32_t packet,
                                  uint32_t off) {
    auto it = std::upper_bound(d.shown.begin(), d.shown.end(), s,
                               [](int64_t v, const Shown& x) { return v < x.start; });
    if (it != d.shown.begin())
        --it;
    int64_t pos = s;
    auto late = [&](int64_t from, int64_t to) {
        if (from < d.streamStart) {
            // Before the first byte shown. After a SYN that is no data at all (a keep-alive's garbage).
            if (!d.synSeen)
                m_early += static_cast<uint64_t>(std::min(to, d.streamStart) - from);
            from = d.streamStart;
        }
        if (to > from)
            m_late += static_cast<uint64_t>(to - from);
    };
    for (; it != d.shown.end() && it->start < e; ++it) {
        const StreamPiece& p = m_pieces[it->piece];
        const int64_t ps = it->start;
        const int64_t pe = ps + static_cast<int64_t>(p.length);
        if (pe <= pos)
            continue;
        if (ps > pos)
            late(pos, ps);
        const int64_t a = std::max(pos, ps);
        const int64_t b = std::min(e, pe);
        m_conflicting += CountDifferent(p.packet, p.offset + static_cast<uint32_t>(a - ps), packet,
                                        off + static_cast<uint32_t>(a - s), static_cast<uint64_t>(b - a));
        pos = b;
    }
    late(pos, e);
}

void TcpStreamBuilder::Hold(Direction& d, int64_t s, int64_t e, uint32_t packet, uint32_t off) {
    auto it = d.held.upper_bound(s);
    if (it != d.held.begin()) {
        auto prev = std::prev(it);
        if (prev->second.end > s) {
            const int64_t b = std::min(e, prev->second.end);
            m_conflicting += CountDifferent(prev->second.packet,
                                            prev->second.offset + static_cast<uint32_t>(s - prev->first),
                                            packet, off, static_cast<uint64_t>(b - s));
            off += static_cast<uint32_t>(b - s);
            s = b;
        }
    }
    while (s < e) {
        it = d.held.lower_bound(s);
        if (it == d.held.end() || it->first >= e) {
            d.held.emplace_hint(it, s, Held{e, packet, off});
            return;
        }
        if (it->first > s) {
            d.held.emplace_hint(it, s, Held{it->first, packet, off});
            off += static_cast<uint32_t>(it->first - s);
            s = it->first;
        }
        const int64_t b = std::min(e, it->second.end);
        m_conflicting +=
            CountDifferent(it->second.packet, it->second.offset, packet, off, static_cast<uint64_t>(b - s));
        off += static_cast<uint32_t>(b - s);
        s = b;
    }
}

void TcpStreamBuilder::HandOn(Direction& d, StreamDirection dir, int64_t s, int64_t e, uint32_t packet,
                              uint32_t off) {
    StreamPiece p;
    p.length = static_cast<uint64_t>(e - s);
    p.packet = packet;
    p.offset = off;
    p.direction = dir;
    d.shown.push_back({s, static_cast<uint32_t>(m_pieces.size())});
    m_pieces.push_back(p);
    d.anyShown = true;
    d.next = e;
    m_bytes[Index(dir)] += p.length;
}

void TcpStreamBuilder::HandOnHeld(Direction& d, StreamDirection dir) {
    while (!d.held.empty()) {
        auto it = d.held.begin();
        if (it->first > d.next)
            return;
        const int64_t s = it->first;
        const Held h = it->second;
        d.held.erase(it);
        if (h.end <= d.next)
            continue;  // before where the stream starts (a SYN came late)
        const int64_t from = std::max(s, d.next);
        HandOn(d, dir, from, h.end, h.packet, h.offset + static_cast<uint32_t>(from - s));
    }
}

void TcpStreamBuilder::GiveUpHole(Direction& d, StreamDirection dir, uint32_t packet) {
    if (d.held.empty())
        return;
    const int64_t resume = d.held.begin()->first;
    Mark(StreamPieceKind::Missing, dir, static_cast<uint64_t>(resume - d.next), packet);
    d.next = resume;
    d.anyShown = true;
    HandOnHeld(d, dir);
}

void TcpStreamBuilder::CheckHoles(uint32_t packet) {
    for (size_t i = 0; i < 2; ++i) {
        Direction& d = m_dirs[i];
        if (d.held.empty() || !d.peerAckKnown || d.peerAck < d.held.begin()->first)
            continue;
        // The receiver acknowledged past the hole: it had the bytes, the capture did not see them (yet).
        if (d.holeAckedFor != d.next) {
            d.holeAckedFor = d.next;
            d.holeAckedAt = m_packets;
        } else if (m_packets - d.holeAckedAt >= kLateSlack) {
            GiveUpHole(d, static_cast<StreamDirection>(i), packet);
            d.holeAckedFor = -1;
        }
    }
}

void TcpStreamBuilder::FlushDirection(Direction& d, StreamDirection dir, uint32_t packet) {
    while (!d.held.empty())
        GiveUpHole(d, dir, packet);
    int64_t end = d.next;
    if (d.finSeen)
        end = d.finAt;
    else if (d.peerAckKnown && d.peerAck > d.next && d.peerAck - d.next < kBackWindow)
        end = d.peerAck;  // acknowledged, so sent and received, but never captured
    if (end > d.next) {
        Mark(StreamPieceKind::Missing, dir, static_cast<uint64_t>(end - d.next), packet);
        d.next = end;
        d.anyShown = true;
    }
}

void TcpStreamBuilder::Finish() {
    const uint32_t packet = m_pieces.empty() ? 0 : m_pieces.back().packet;
    // Holes in the order the data behind them was captured, so the turns keep the conversation's order.
    for (;;) {
        Direction* pick = nullptr;
        size_t which = 0;
        for (size_t i = 0; i < 2; ++i) {
            Direction& d = m_dirs[i];
            if (!d.held.empty() &&
                (!pick || d.held.begin()->second.packet < pick->held.begin()->second.packet)) {
                pick = &d;
                which = i;
            }
        }
        if (!pick)
            break;
        GiveUpHole(*pick, static_cast<StreamDirection>(which), packet);
    }
    for (size_t i = 0; i < 2; ++i)
        if (m_dirs[i].started)
            FlushDirection(m_dirs[i], static_cast<StreamDirection>(i), packet);
}

// ---------------------------------------------------------------------------------------------------------
// StreamReassembly

StreamReassembly::StreamReassembly(size_t connection) : m_connection(connection), m_builder(*this) {
    if (connection < g_connectionTable.size())
        m_tcp = g_connectionTable[connection].isTcp != 0;
}

std::span<const uint8_t> StreamReassembly::Payload(uint32_t packet) const {
    if (packet >= g_packetTable.size())
        return {};
    return PacketPayload(g_packetTable[packet]);
}

size_t StreamReassembly::Extend(size_t maxPackets) {
    if (m_connection >= g_connectionTable.size())
        return 0;
    const ConnectionRecord& c = g_connectionTable[m_connection];
    const size_t count = c.packetIndices.size();
    const size_t stop = count - m_read > maxPackets ? m_read + maxPackets : count;
    const size_t packets = g_packetTable.size();
    const size_t first = m_read;
    const int linkType = g_storeLinkType.load(std::memory_order_relaxed);
    for (; m_read < stop; ++m_read) {
        const uint32_t p = c.packetIndices[m_read];
        if (p >= packets) {
            ++m_unreadable;
            continue;
        }
        const PacketRecord& r = g_packetTable[p];
        // A long connection of a file in place would otherwise keep every page it read resident.
        if ((m_read & 4095) == 0)
            DropFramePages();
        if (!FrameBytesPresent(r)) {
            ++m_gone;
            continue;
        }
        const StreamDirection dir = r.toServer.load(std::memory_order_relaxed) ? StreamDirection::ToServer
                                                                               : StreamDirection::ToClient;
        if (m_tcp) {
            StreamSegment s;
            if (!ReadTcpSegment(linkType, r.data, static_cast<size_t>(r.capLen), s)) {
                ++m_unreadable;
                continue;
            }
            s.packet = p;
            s.direction = dir;
            s.length = static_cast<uint32_t>(Payload(p).size());
            m_builder.Add(s);
        } else {
            const size_t n = Payload(p).size();
            if (n == 0)
                continue;
            StreamPiece piece;
            piece.length = n;
            piece.packet = p;
            piece.direction = dir;
            piece.newLine = !IsLaterFragment(linkType, r.data, static_cast<size_t>(r.capLen));
            m_datagrams.push_back(piece);
            m_udpBytes[Index(dir)] += n;
        }
    }
    return m_read - first;
}

void StreamReassembly::Finish() {
    if (m_tcp)
        m_builder.Finish();
}

const std::vector<StreamPiece>& StreamReassembly::Pieces() const {
    return m_tcp ? m_builder.Pieces() : m_datagrams;
}

uint64_t StreamReassembly::Bytes(StreamDirection d) const {
    return m_tcp ? m_builder.Bytes(d) : m_udpBytes[Index(d)];
}
