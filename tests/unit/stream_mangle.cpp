// Derives a capture from a clean one with the faults a network (or a capture) adds, since these kernels have
// no netem qdisc: data segments swapped, sent twice, sent again as two overlapping pieces, first copies lost
// and sent later, or one segment dropped for good.
//
//   pacterra-stream-mangle IN OUT MODE SEED
//
// MODE: swap, twice, overlap, late, all (the four at once), or drop (one data segment of the direction that
// carries the most, from the middle; prints "dropped > OFFSET LENGTH" or "dropped < ...", the offset counted
// from the first byte of that direction).
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Frame {
    pcap_pkthdr header{};
    std::vector<uint8_t> bytes;
};

// Where the TCP segment of an Ethernet/IPv4 frame lies; ok false for anything else.
struct Tcp {
    bool ok = false;
    size_t ip = 14, tcp = 0, payload = 0, end = 0;
    uint32_t seq = 0;
    uint8_t flags = 0;
    uint32_t key = 0;  // source address and port, to tell the directions apart
};

uint32_t Be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

Tcp Parse(const Frame& f) {
    Tcp t;
    const auto& b = f.bytes;
    if (b.size() < 54 || b[12] != 0x08 || b[13] != 0x00 || b[23] != 6)
        return t;
    t.tcp = t.ip + (b[14] & 0x0F) * 4u;
    t.end = t.ip + ((b[16] << 8) | b[17]);
    if (t.end > b.size() || t.tcp + 20 > t.end)
        return t;
    t.payload = t.tcp + (b[t.tcp + 12] >> 4) * 4u;
    if (t.payload > t.end)
        return t;
    t.seq = Be32(&b[t.tcp + 4]);
    t.flags = b[t.tcp + 13];
    t.key = Be32(&b[26]) ^ ((uint32_t{b[t.tcp]} << 8) | b[t.tcp + 1]);
    t.ok = true;
    return t;
}

// A copy of data frame `f` carrying its payload bytes [from, to).
Frame Piece(const Frame& f, const Tcp& t, size_t from, size_t to) {
    Frame p;
    p.header = f.header;
    p.bytes.assign(f.bytes.begin(), f.bytes.begin() + static_cast<long>(t.payload));
    p.bytes.insert(p.bytes.end(), f.bytes.begin() + static_cast<long>(t.payload + from),
                   f.bytes.begin() + static_cast<long>(t.payload + to));
    const size_t total = p.bytes.size() - t.ip;
    p.bytes[16] = static_cast<uint8_t>(total >> 8);
    p.bytes[17] = static_cast<uint8_t>(total);
    const uint32_t seq = t.seq + static_cast<uint32_t>(from);
    for (int i = 0; i < 4; ++i)
        p.bytes[t.tcp + 4 + i] = static_cast<uint8_t>(seq >> (24 - 8 * i));
    if (to < t.end - t.payload)
        p.bytes[t.tcp + 13] &= static_cast<uint8_t>(~0x01);  // only the last piece keeps the FIN
    p.header.caplen = p.header.len = static_cast<bpf_u_int32>(p.bytes.size());
    return p;
}

// The frames that open their connection stay in place, so that the connections keep their numbers and
// their clients.
std::vector<bool> g_opens;

void FindOpeners(const std::vector<Frame>& frames) {
    std::vector<std::string> seen;
    g_opens.assign(frames.size(), false);
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto& b = frames[i].bytes;
        if (b.size() < 38 || b[12] != 0x08 || b[13] != 0x00)
            continue;
        const size_t l4 = 14 + (b[14] & 0x0F) * 4u;
        if (b.size() < l4 + 4)
            continue;
        std::string x(reinterpret_cast<const char*>(&b[26]), 4), y(reinterpret_cast<const char*>(&b[30]), 4);
        x.append(reinterpret_cast<const char*>(&b[l4]), 2);
        y.append(reinterpret_cast<const char*>(&b[l4 + 2]), 2);
        const std::string conn = std::string(1, static_cast<char>(b[23])) + std::min(x, y) + std::max(x, y);
        if (std::find(seen.begin(), seen.end(), conn) == seen.end()) {
            seen.push_back(conn);
            g_opens[i] = true;
        }
    }
}

bool IsData(const Frame& f) {
    const Tcp t = Parse(f);
    return t.ok && t.end > t.payload;
}

// A data frame that may move.
bool Movable(const std::vector<Frame>& frames, size_t i) {
    return i < g_opens.size() && !g_opens[i] && IsData(frames[i]);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s IN OUT swap|twice|overlap|late|all|drop SEED\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[3];
    std::mt19937 rng(static_cast<uint32_t>(std::stoul(argv[4])));
    char err[PCAP_ERRBUF_SIZE];
    pcap_t* in = pcap_open_offline(argv[1], err);
    if (!in) {
        std::fprintf(stderr, "%s\n", err);
        return 1;
    }
    std::vector<Frame> frames;
    pcap_pkthdr* h;
    const u_char* bytes;
    while (pcap_next_ex(in, &h, &bytes) == 1) {
        Frame f;
        f.header = *h;
        f.bytes.assign(bytes, bytes + h->caplen);
        frames.push_back(std::move(f));
    }
    const int link = pcap_datalink(in);
    pcap_close(in);

    const bool all = mode == "all";
    if (mode == "overlap" || all) {
        std::vector<Frame> out;
        for (const Frame& f : frames) {
            const Tcp t = Parse(f);
            const size_t n = t.ok ? t.end - t.payload : 0;
            if (n > 16 && rng() % 5 == 0) {
                const size_t cut = 1 + rng() % (n - 2);
                const size_t overlap = std::min<size_t>(1 + rng() % 16, n - cut);
                out.push_back(Piece(f, t, 0, cut + overlap));
                out.push_back(Piece(f, t, cut, n));
                out.push_back(f);  // and the whole segment, once more
            } else {
                out.push_back(f);
            }
        }
        frames = std::move(out);
    }
    if (mode == "twice" || all) {
        for (size_t i = 0; i < frames.size(); ++i) {
            if (IsData(frames[i]) && rng() % 5 == 0) {
                const size_t at = std::min(frames.size(), i + 1 + rng() % 4);
                frames.insert(frames.begin() + static_cast<long>(at), frames[i]);
                ++i;
            }
        }
    }
    if (mode == "swap" || all) {
        FindOpeners(frames);
        for (size_t i = 0; i < frames.size(); ++i) {
            if (!Movable(frames, i) || rng() % 4)
                continue;
            const uint32_t key = Parse(frames[i]).key;
            for (size_t j = i + 1; j < std::min(frames.size(), i + 6); ++j) {
                if (Movable(frames, j) && Parse(frames[j]).key == key) {
                    std::swap(frames[i].bytes, frames[j].bytes);
                    break;
                }
            }
        }
    }
    if (mode == "late" || all) {
        FindOpeners(frames);
        for (size_t i = 0; i + 1 < frames.size(); ++i) {
            if (Movable(frames, i) && rng() % 10 == 0) {
                const size_t at = std::min(frames.size() - 1, i + 5 + rng() % 16);
                std::rotate(frames.begin() + static_cast<long>(i), frames.begin() + static_cast<long>(i) + 1,
                            frames.begin() + static_cast<long>(at) + 1);
                FindOpeners(frames);
            }
        }
    }
    if (mode == "drop") {
        // The first sender's key and SYN numbers tell the directions and their first bytes.
        uint32_t clientKey = 0, isn[2] = {}, carried[2] = {};
        bool haveClient = false;
        std::vector<size_t> data[2];
        for (size_t i = 0; i < frames.size(); ++i) {
            const Tcp t = Parse(frames[i]);
            if (!t.ok)
                continue;
            if (!haveClient) {
                clientKey = t.key;
                haveClient = true;
            }
            const int d = t.key == clientKey ? 0 : 1;
            if (t.flags & 0x02)
                isn[d] = t.seq;
            if (t.end > t.payload) {
                data[d].push_back(i);
                carried[d] += static_cast<uint32_t>(t.end - t.payload);
            }
        }
        const int d = carried[1] > carried[0] ? 1 : 0;
        if (data[d].size() < 3) {
            std::fprintf(stderr, "too few data segments to drop one\n");
            return 1;
        }
        const size_t victim = data[d][data[d].size() / 2 + rng() % (data[d].size() / 4 + 1)];
        const Tcp t = Parse(frames[victim]);
        std::printf("dropped %c %u %zu\n", d ? '<' : '>', t.seq - isn[d] - 1, t.end - t.payload);
        frames.erase(frames.begin() + static_cast<long>(victim));
    } else if (!all && mode != "overlap" && mode != "twice" && mode != "swap" && mode != "late") {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 2;
    }

    // Capture times stay in order: each frame takes the time of the place it now holds.
    for (size_t i = 1; i < frames.size(); ++i)
        if (timercmp(&frames[i].header.ts, &frames[i - 1].header.ts, <))
            frames[i].header.ts = frames[i - 1].header.ts;
    pcap_t* dead = pcap_open_dead(link, 262144);
    pcap_dumper_t* out = pcap_dump_open(dead, argv[2]);
    if (!out) {
        std::fprintf(stderr, "%s\n", pcap_geterr(dead));
        return 1;
    }
    for (Frame& f : frames) {
        f.header.caplen = f.header.len = static_cast<bpf_u_int32>(f.bytes.size());
        pcap_dump(reinterpret_cast<u_char*>(out), &f.header, f.bytes.data());
    }
    pcap_dump_close(out);
    pcap_close(dead);
    return 0;
}
