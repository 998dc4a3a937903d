// Random segment lists into the TCP reassembly. Each segment's bytes are a function of their sequence
// number, as if every copy came from one sender, so no copy may ever be reported as different; every data
// piece lies inside its payload; the bytes handed on add up; the text writer takes any result.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "analysis/StreamReassembly.h"
#include "analysis/StreamText.h"

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

uint8_t ByteAt(uint32_t seq, int direction) {
    return static_cast<uint8_t>((seq * 2654435761u) >> 24) ^ static_cast<uint8_t>(direction * 0x5A);
}

class Payloads : public PayloadSource {
public:
    std::vector<std::vector<uint8_t>> all;
    std::span<const uint8_t> Payload(uint32_t packet) const override {
        Check(packet < all.size());
        return all[packet];
    }
};

// Reads the input as records: direction and flags, a sequence step (small, or now and then any 32 bits), an
// acknowledgement step and a length.
class Reader {
public:
    Reader(const uint8_t* d, size_t n) : m_d(d), m_n(n) {}
    bool More() const { return m_at < m_n; }
    uint32_t Take(int bytes) {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = (v << 8) | (m_at < m_n ? m_d[m_at++] : 0);
        return v;
    }

private:
    const uint8_t* m_d;
    size_t m_n;
    size_t m_at = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    Payloads payloads;
    TcpStreamBuilder builder(payloads);
    uint32_t base[2] = {in.Take(4), in.Take(4)};
    size_t segments = 0;
    while (in.More() && segments < 4096) {
        const uint8_t head = static_cast<uint8_t>(in.Take(1));
        const int dir = head & 1;
        StreamSegment s;
        s.direction = dir ? StreamDirection::ToClient : StreamDirection::ToServer;
        s.flags = static_cast<uint8_t>(head >> 1) & (kTcpFin | kTcpSyn | kTcpRst | 0x08 | kTcpAck);
        if (head & 0x80)
            s.seq = in.Take(4);
        else
            s.seq = base[dir] + static_cast<uint32_t>(static_cast<int16_t>(in.Take(2)));
        s.ack = base[1 - dir] + static_cast<uint32_t>(static_cast<int16_t>(in.Take(2)));
        const uint32_t length = in.Take(1) * ((head & 0x40) ? 8u : 1u);
        const uint32_t first = s.seq + ((s.flags & kTcpSyn) ? 1 : 0);
        std::vector<uint8_t> bytes(length);
        for (uint32_t i = 0; i < length; ++i)
            bytes[i] = ByteAt(first + i, dir);
        s.packet = static_cast<uint32_t>(payloads.all.size());
        s.length = length;
        payloads.all.push_back(std::move(bytes));
        builder.Add(s);
        ++segments;
    }
    if (size % 2)
        builder.Finish();

    uint64_t handed[2] = {};
    for (const StreamPiece& p : builder.Pieces()) {
        Check(p.kind != StreamPieceKind::Conflict);
        if (p.kind != StreamPieceKind::Data)
            continue;
        Check(p.length > 0);
        Check(p.packet < payloads.all.size());
        Check(p.offset <= payloads.all[p.packet].size());
        Check(p.length <= payloads.all[p.packet].size() - p.offset);
        handed[static_cast<int>(p.direction)] += p.length;
    }
    Check(handed[0] == builder.Bytes(StreamDirection::ToServer));
    Check(handed[1] == builder.Bytes(StreamDirection::ToClient));

    StreamTextOptions options;
    options.turnMarks = true;
    options.limit = size * 8;
    StreamTextWriter writer(options);
    std::string text;
    std::vector<StreamTextRun> runs;
    writer.Append(payloads, builder.Pieces(), 0, builder.Pieces().size(), text, &runs);
    Check(text.size() <= options.limit);
    size_t covered = 0;
    for (const StreamTextRun& r : runs) {
        Check(r.start == covered && r.length > 0);
        covered += r.length;
    }
    Check(covered == text.size());
    return 0;
}
