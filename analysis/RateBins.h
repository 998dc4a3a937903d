// Packets and bytes per time bin, kept at several resolutions at once (10 ms up to 1 hour), so that a graph
// of a long capture draws from a few hundred bins at any zoom instead of from every packet.
//
// Bins are counted from an origin (the first packet's moment), so bin k of a level of width w covers
// [origin + k w, origin + (k + 1) w), as `tshark -z io,stat` counts. Each level is a dense run of bins that
// grows in both directions as packets arrive in any order, up to a cap: a packet that would stretch a level
// past its cap is left out of that level only (the level is "cut") and still counted by the coarser ones,
// so a capture whose clock jumps by years keeps its fine bins where most packets lie and stays drawable.
// Times are microseconds, clamped so that no timestamp, however bogus, overflows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

// Microseconds since 1970 of a capture timestamp; seconds beyond about +-139,000 years are clamped and a
// microsecond part outside 0..999999 is brought into it.
int64_t StampMicros(int64_t sec, int64_t usec);
inline int64_t StampMicrosFast(int64_t sec, int64_t usec) {
    // The usual case, a sane clock, without the clamping.
    if (usec >= 0 && usec < 1'000'000 && sec > -(int64_t{1} << 42) && sec < (int64_t{1} << 42)) [[likely]]
        return sec * 1'000'000 + usec;
    return StampMicros(sec, usec);
}

// floor(a / b) for b > 0.
constexpr int64_t FloorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b < 0) ? q - 1 : q;
}

// One bin of a series: [startUs, startUs + widthUs).
struct RatePoint {
    int64_t startUs = 0;
    int64_t widthUs = 0;
    uint64_t packets = 0;
    uint64_t bytes = 0;
};

// One resolution: dense bins of one width, numbered from the origin.
class RateLevel {
public:
    RateLevel(int64_t widthUs, size_t maxBins) : m_width(widthUs), m_maxBins(maxBins) {}

    int64_t WidthUs() const { return m_width; }
    size_t MaxBins() const { return m_maxBins; }
    // Adds to bin `bin` (from the origin). false when the bin lies beyond the cap: nothing is counted.
    bool Add(int64_t bin, uint64_t packets, uint64_t bytes) {
        const uint64_t rel = static_cast<uint64_t>(bin - m_first);
        if (rel < m_packets.size()) [[likely]] {
            m_packets[rel] += static_cast<uint32_t>(packets);
            m_bytes[rel] += bytes;
            m_lo = bin < m_lo ? bin : m_lo;
            m_hi = bin > m_hi ? bin : m_hi;
            return true;
        }
        return AddOutside(bin, packets, bytes);
    }
    void Clear();

    // The first and last bin that hold packets; false when none does.
    bool Range(int64_t& lo, int64_t& hi) const;
    uint64_t Packets(int64_t bin) const;
    uint64_t Bytes(int64_t bin) const;
    // Packets this level left out, and the bins they fell in.
    uint64_t Refused() const { return m_refused; }
    bool RefusedWithin(int64_t loBin, int64_t hiBin) const {
        return m_refused && loBin <= m_refusedHi && hiBin >= m_refusedLo;
    }
    size_t AllocatedBins() const { return m_packets.size(); }

private:
    bool AddOutside(int64_t bin, uint64_t packets, uint64_t bytes);

    int64_t m_width;
    size_t m_maxBins;
    int64_t m_first = 0;  // bin number of element 0
    std::vector<uint32_t> m_packets;
    std::vector<uint64_t> m_bytes;
    int64_t m_lo = INT64_MAX;
    int64_t m_hi = INT64_MIN;
    uint64_t m_refused = 0;
    int64_t m_refusedLo = INT64_MAX;
    int64_t m_refusedHi = INT64_MIN;
};

class RateBins {
public:
    // 10 ms, 100 ms, 1 s, 10 s, 1 min, 10 min, 1 h. Each width divides the next.
    static constexpr int64_t kWidthsUs[] = {10'000,     100'000,     1'000'000,    10'000'000,
                                            60'000'000, 600'000'000, 3'600'000'000};
    static constexpr int kLevels = 7;
    // Per level: 2^19 bins (87 minutes at 10 ms, 14 hours at 100 ms), 2^18 from 1 s to 10 min, 2^21 at
    // 1 h (239 years, so that times before 1970 and today's fit together). About 28 MB at the very most.
    static constexpr size_t kMaxBins[] = {size_t{1} << 19, size_t{1} << 19, size_t{1} << 18, size_t{1} << 18,
                                          size_t{1} << 18, size_t{1} << 18, size_t{1} << 21};

    RateBins();
    // Levels of the given widths (each a multiple of the first), each capped at `maxBins`.
    RateBins(std::initializer_list<int64_t> widthsUs, size_t maxBins);

    // Forgets everything; bins are counted from `originUs` from now on.
    void Reset(int64_t originUs);
    bool HasOrigin() const { return m_hasOrigin; }
    int64_t OriginUs() const { return m_origin; }

    // Counts one packet. Call Flush before reading. Packets arriving close together in time are gathered
    // first, so the levels are touched once per finest bin, not once per packet.
    void Add(int64_t timeUs, uint32_t bytes) {
        if (timeUs >= m_pendingLo && timeUs < m_pendingHi) [[likely]] {
            ++m_pendingPackets;
            m_pendingBytes += bytes;
            return;
        }
        AddSlow(timeUs, bytes);
    }
    void Flush();

    int Levels() const { return static_cast<int>(m_levels.size()); }
    const RateLevel& Level(int i) const { return m_levels[static_cast<size_t>(i)]; }

    uint64_t TotalPackets() const { return m_totalPackets; }
    uint64_t TotalBytes() const { return m_totalBytes; }
    // The first and last moment of the bins with packets, of the finest level that left none out (else
    // the coarsest); false when there is none.
    bool Span(int64_t& firstUs, int64_t& lastUs) const;
    // Some packets were left out of some level (the finest bins do not cover the whole capture).
    bool IsCut() const;
    // Packets that even the coarsest level could not hold (times absurdly far from the others).
    uint64_t Outside() const { return m_outside; }

    // The bins over [fromUs, toUs) of the finest level whose bins are at least `minWidthUs` wide and that
    // left no packet out there; past the coarsest level, neighbouring bins are added up into one. Only
    // bins between the first and last that hold packets come out, empty ones among them included. `out` is
    // reused (no allocation once it has grown). Returns the chosen width.
    int64_t Series(int64_t fromUs, int64_t toUs, int64_t minWidthUs, std::vector<RatePoint>& out) const;

    // The bin of `timeUs` at the width Series would choose, as a point with its counts.
    RatePoint At(int64_t timeUs, int64_t minWidthUs) const;

    size_t AllocatedBytes() const;

private:
    void AddSlow(int64_t timeUs, uint32_t bytes);
    // The level Series uses and how many of its bins make one point.
    void Choose(int64_t fromUs, int64_t toUs, int64_t minWidthUs, int& level, int64_t& group) const;

    // What each level gathers for one of its bins before it counts it, and hands on to the next level
    // when its bin changes: a packet costs the levels nothing while it falls in the bins of the last one.
    struct CoarseBin {
        int64_t ratio = 1;  // level width / finest width
        int64_t first = 0;  // finest bins [first, first + ratio) make bin `bin` of the level
        int64_t bin = 0;
        uint64_t packets = 0;  // gathered, not yet counted
        uint64_t bytes = 0;
    };
    void Carry(size_t level, int64_t finestBin, uint64_t packets, uint64_t bytes);
    void FlushLevel(size_t level);
    void FlushFinest();

    std::vector<RateLevel> m_levels;
    std::vector<CoarseBin> m_coarse;
    bool m_hasOrigin = false;
    int64_t m_origin = 0;

    // The finest bin being gathered: [m_pendingLo, m_pendingHi), bin m_pendingBin.
    int64_t m_pendingLo = 0;
    int64_t m_pendingHi = 0;
    int64_t m_pendingBin = 0;
    uint64_t m_pendingPackets = 0;
    uint64_t m_pendingBytes = 0;

    uint64_t m_totalPackets = 0;
    uint64_t m_totalBytes = 0;
    uint64_t m_outside = 0;
};
