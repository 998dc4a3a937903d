#include "analysis/RateBins.h"

#include <algorithm>

namespace {

// +-2^42 s: far beyond any real clock, and the difference of two clamped times still fits in 64 bits.
constexpr int64_t kMaxSeconds = int64_t{1} << 42;
constexpr int64_t kMaxMicros = kMaxSeconds * 1'000'000;

// Any time handed in, in the range where bins and differences of times cannot overflow.
int64_t ClampMicros(int64_t us) {
    return std::clamp(us, -kMaxMicros, kMaxMicros);
}

}  // namespace

int64_t StampMicros(int64_t sec, int64_t usec) {
    // A microsecond field out of range carries into the seconds, as the clock would have.
    const int64_t u = std::clamp(usec, -kMaxSeconds, kMaxSeconds);
    sec = std::clamp(sec, -kMaxSeconds, kMaxSeconds) + FloorDiv(u, 1'000'000);
    return std::clamp(sec, -kMaxSeconds, kMaxSeconds) * 1'000'000 + (u - FloorDiv(u, 1'000'000) * 1'000'000);
}

// --- RateLevel -------------------------------------------------------------------------------------------

void RateLevel::Clear() {
    m_first = 0;
    m_packets.clear();
    m_packets.shrink_to_fit();
    m_bytes.clear();
    m_bytes.shrink_to_fit();
    m_lo = INT64_MAX;
    m_hi = INT64_MIN;
    m_refused = 0;
    m_refusedLo = INT64_MAX;
    m_refusedHi = INT64_MIN;
}

bool RateLevel::AddOutside(int64_t bin, uint64_t packets, uint64_t bytes) {
    const size_t size = m_packets.size();
    auto refuse = [&] {
        m_refused += packets;
        m_refusedLo = std::min(m_refusedLo, bin);
        m_refusedHi = std::max(m_refusedHi, bin);
        return false;
    };
    if (size == 0) {
        m_first = bin;
        m_packets.assign(1, 0);
        m_bytes.assign(1, 0);
    } else {
        const int64_t end = m_first + static_cast<int64_t>(size);
        // The span the bins would need, in unsigned arithmetic so that no bogus distance overflows.
        const uint64_t needed = bin < m_first
                                    ? static_cast<uint64_t>(end) - static_cast<uint64_t>(bin)
                                    : static_cast<uint64_t>(bin) - static_cast<uint64_t>(m_first) + 1;
        if (needed > m_maxBins)
            return refuse();
        // Grow by at least half again (within the cap), so that packets arriving in time order, or in
        // reverse, cost amortised constant time.
        const size_t grown = std::min<uint64_t>(m_maxBins, std::max<uint64_t>(needed, size + size / 2 + 16));
        if (bin < m_first) {
            const size_t front = grown - size;
            m_packets.insert(m_packets.begin(), front, 0);
            m_bytes.insert(m_bytes.begin(), front, 0);
            m_first -= static_cast<int64_t>(front);
        } else {
            m_packets.resize(grown, 0);
            m_bytes.resize(grown, 0);
        }
    }
    const size_t rel = static_cast<size_t>(bin - m_first);
    m_packets[rel] += static_cast<uint32_t>(packets);
    m_bytes[rel] += bytes;
    m_lo = std::min(m_lo, bin);
    m_hi = std::max(m_hi, bin);
    return true;
}

bool RateLevel::Range(int64_t& lo, int64_t& hi) const {
    if (m_lo > m_hi)
        return false;
    lo = m_lo;
    hi = m_hi;
    return true;
}

uint64_t RateLevel::Packets(int64_t bin) const {
    const uint64_t rel = static_cast<uint64_t>(bin - m_first);
    return rel < m_packets.size() ? m_packets[rel] : 0;
}

uint64_t RateLevel::Bytes(int64_t bin) const {
    const uint64_t rel = static_cast<uint64_t>(bin - m_first);
    return rel < m_bytes.size() ? m_bytes[rel] : 0;
}

// --- RateBins --------------------------------------------------------------------------------------------

RateBins::RateBins() {
    for (int i = 0; i < kLevels; ++i) {
        m_levels.emplace_back(kWidthsUs[i], kMaxBins[i]);
        m_coarse.push_back({kWidthsUs[i] / kWidthsUs[0]});
    }
}

RateBins::RateBins(std::initializer_list<int64_t> widthsUs, size_t maxBins) {
    for (int64_t w : widthsUs) {
        w = std::max<int64_t>(w, 1);
        if (!m_levels.empty())
            w = std::max<int64_t>(w / m_levels.front().WidthUs(), 1) * m_levels.front().WidthUs();
        m_levels.emplace_back(w, maxBins);
        m_coarse.push_back({w / m_levels.front().WidthUs()});
    }
}

void RateBins::Reset(int64_t originUs) {
    for (RateLevel& level : m_levels)
        level.Clear();
    for (CoarseBin& c : m_coarse)
        c.packets = c.bytes = 0;
    m_hasOrigin = true;
    m_origin = ClampMicros(originUs);
    m_pendingLo = m_pendingHi = 0;
    m_pendingPackets = m_pendingBytes = 0;
    m_totalPackets = m_totalBytes = m_outside = 0;
}

void RateBins::AddSlow(int64_t timeUs, uint32_t bytes) {
    if (m_levels.empty())
        return;
    timeUs = ClampMicros(timeUs);
    if (!m_hasOrigin)
        Reset(timeUs);
    const bool had = m_pendingPackets > 0;
    FlushFinest();
    const int64_t width = m_levels.front().WidthUs();
    // Times mostly move on by a bin or two: counting up is cheaper than a division.
    const int64_t ahead = timeUs - m_pendingHi;
    if (had && ahead >= 0 && ahead < 4 * width) {
        int64_t step = 1;
        for (int64_t rest = ahead; rest >= width; rest -= width)
            ++step;
        m_pendingBin += step;
    } else {
        m_pendingBin = FloorDiv(timeUs - m_origin, width);
    }
    m_pendingLo = m_origin + m_pendingBin * width;
    m_pendingHi = m_pendingLo + width;
    m_pendingPackets = 1;
    m_pendingBytes = bytes;
}

void RateBins::Carry(size_t level, int64_t finestBin, uint64_t packets, uint64_t bytes) {
    CoarseBin& c = m_coarse[level];
    if (c.packets && static_cast<uint64_t>(finestBin - c.first) < static_cast<uint64_t>(c.ratio)) {
        c.packets += packets;
        c.bytes += bytes;
        return;
    }
    FlushLevel(level);
    c.bin = FloorDiv(finestBin, c.ratio);
    c.first = c.bin * c.ratio;
    c.packets = packets;
    c.bytes = bytes;
}

void RateBins::FlushLevel(size_t level) {
    CoarseBin& c = m_coarse[level];
    if (!c.packets)
        return;
    const bool held = m_levels[level].Add(c.bin, c.packets, c.bytes);
    if (level + 1 < m_levels.size())
        Carry(level + 1, c.first, c.packets, c.bytes);
    else if (!held)
        m_outside += c.packets;
    c.packets = c.bytes = 0;
}

void RateBins::FlushFinest() {
    if (m_pendingPackets == 0)
        return;
    m_totalPackets += m_pendingPackets;
    m_totalBytes += m_pendingBytes;
    // The finest level takes every gathered bin; each coarser one gathers until its own bin changes.
    Carry(0, m_pendingBin, m_pendingPackets, m_pendingBytes);
    m_pendingPackets = m_pendingBytes = 0;
}

void RateBins::Flush() {
    FlushFinest();
    for (size_t i = 0; i < m_coarse.size(); ++i)
        FlushLevel(i);
}

bool RateBins::Span(int64_t& firstUs, int64_t& lastUs) const {
    // From the finest level that left nothing out (else the coarsest): exact to its bins.
    for (size_t i = 0; i < m_levels.size(); ++i) {
        const RateLevel& l = m_levels[i];
        if (l.Refused() && i + 1 < m_levels.size())
            continue;
        int64_t lo = 0, hi = 0;
        if (!l.Range(lo, hi))
            return false;
        firstUs = m_origin + lo * l.WidthUs();
        lastUs = m_origin + (hi + 1) * l.WidthUs() - 1;
        return true;
    }
    return false;
}

bool RateBins::IsCut() const {
    return std::any_of(m_levels.begin(), m_levels.end(), [](const RateLevel& l) { return l.Refused() > 0; });
}

void RateBins::Choose(int64_t fromUs, int64_t toUs, int64_t minWidthUs, int& level, int64_t& group) const {
    const int last = Levels() - 1;
    level = last;
    for (int i = 0; i < last; ++i) {
        const RateLevel& l = m_levels[static_cast<size_t>(i)];
        if (l.WidthUs() < minWidthUs)
            continue;
        const int64_t lo = FloorDiv(fromUs - m_origin, l.WidthUs());
        const int64_t hi = FloorDiv(toUs - 1 - m_origin, l.WidthUs());
        if (!l.RefusedWithin(lo, hi)) {
            level = i;
            break;
        }
    }
    const int64_t width = m_levels[static_cast<size_t>(level)].WidthUs();
    group = width >= minWidthUs ? 1 : (minWidthUs + width - 1) / width;
}

int64_t RateBins::Series(int64_t fromUs, int64_t toUs, int64_t minWidthUs,
                         std::vector<RatePoint>& out) const {
    out.clear();
    fromUs = ClampMicros(fromUs);
    toUs = ClampMicros(toUs);
    if (m_levels.empty() || toUs <= fromUs)
        return 0;
    // Never more than about 100,000 points, whatever the caller asks.
    const uint64_t span = static_cast<uint64_t>(toUs) - static_cast<uint64_t>(fromUs);
    minWidthUs = std::max<int64_t>(
        {minWidthUs, 1, static_cast<int64_t>(std::min<uint64_t>(span / 100'000, INT64_MAX))});
    int index = 0;
    int64_t group = 1;
    Choose(fromUs, toUs, minWidthUs, index, group);
    const RateLevel& level = m_levels[static_cast<size_t>(index)];
    const int64_t width = level.WidthUs() * group;
    int64_t lo = 0, hi = 0;
    if (!level.Range(lo, hi))
        return width;
    // Points are groups of bins aligned on the origin, so that they stay put while the view pans.
    lo = std::max(FloorDiv(lo, group), FloorDiv(fromUs - m_origin, width));
    hi = std::min(FloorDiv(hi, group), FloorDiv(toUs - 1 - m_origin, width));
    for (int64_t g = lo; g <= hi; ++g) {
        RatePoint p;
        p.startUs = m_origin + g * width;
        p.widthUs = width;
        for (int64_t b = g * group; b < (g + 1) * group; ++b) {
            p.packets += level.Packets(b);
            p.bytes += level.Bytes(b);
        }
        out.push_back(p);
    }
    return width;
}

RatePoint RateBins::At(int64_t timeUs, int64_t minWidthUs) const {
    RatePoint p;
    if (m_levels.empty())
        return p;
    minWidthUs = std::clamp<int64_t>(minWidthUs, 1, kMaxMicros);
    timeUs = ClampMicros(timeUs);
    int index = 0;
    int64_t group = 1;
    Choose(timeUs, timeUs + minWidthUs, minWidthUs, index, group);
    const RateLevel& level = m_levels[static_cast<size_t>(index)];
    const int64_t width = level.WidthUs() * group;
    const int64_t g = FloorDiv(timeUs - m_origin, width);
    p.startUs = m_origin + g * width;
    p.widthUs = width;
    for (int64_t b = g * group; b < (g + 1) * group; ++b) {
        p.packets += level.Packets(b);
        p.bytes += level.Bytes(b);
    }
    return p;
}

size_t RateBins::AllocatedBytes() const {
    size_t total = 0;
    for (const RateLevel& l : m_levels)
        total += l.AllocatedBins() * (sizeof(uint32_t) + sizeof(uint64_t));
    return total;
}
