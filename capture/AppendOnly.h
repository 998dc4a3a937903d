// Append-only containers that one writer thread grows while other threads read below a count they have
// loaded. Elements never move, so a reader may keep a reference until the container is cleared, and
// clearing is only allowed once no other thread touches the container.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

// Bump allocator for blocks that live until the store is cleared. Not thread-safe: only the writer
// allocates. Chunks start small and double up to a cap, so a short capture stays small.
class ByteArena {
public:
    static constexpr size_t kFirstChunk = size_t{64} << 10;
    static constexpr size_t kMaxChunk = size_t{4} << 20;

    ByteArena() = default;
    ByteArena(const ByteArena&) = delete;
    ByteArena& operator=(const ByteArena&) = delete;
    ~ByteArena() { Clear(); }

    // nullptr when memory runs out.
    void* Allocate(size_t size, size_t align = 1) noexcept {
        size_t at = (m_used + align - 1) & ~(align - 1);
        if (m_chunks.empty() || at + size > m_capacity) {
            size_t next = m_chunks.empty() ? kFirstChunk : std::min(m_capacity * 2, kMaxChunk);
            size_t cap = size > next ? size : next;
            void* chunk;
            if (m_spare && cap <= kMaxChunk) {
                chunk = std::exchange(m_spare, nullptr);
                cap = kMaxChunk;
            } else {
                chunk = std::malloc(cap);
            }
            if (!chunk)
                return nullptr;
            try {
                m_chunks.push_back(chunk);
            } catch (...) {
                std::free(chunk);
                return nullptr;
            }
            m_capacity = cap;
            at = 0;
            m_reserved += cap;
            // The chunk after this one is made now, so that its pages can be faulted in elsewhere while
            // this one fills.
            if (m_prefault && !m_spare && (m_spare = std::malloc(kMaxChunk)))
                m_prefault(m_spare, kMaxChunk);
        }
        m_used = at + size;
        return static_cast<uint8_t*>(m_chunks.back()) + at;
    }
    // `prefault` (or nullptr) is told of each chunk made ahead of its use; it may fault the pages in on
    // another thread.
    void SetPrefault(void (*prefault)(void*, size_t)) noexcept { m_prefault = prefault; }
    void Clear() noexcept {
        for (void* c : m_chunks)
            std::free(c);
        std::free(std::exchange(m_spare, nullptr));
        m_chunks.clear();
        m_chunks.shrink_to_fit();
        m_used = m_capacity = 0;
        m_reserved = 0;
    }
    size_t ReservedBytes() const { return m_reserved; }

private:
    std::vector<void*> m_chunks;
    void* m_spare = nullptr;
    void (*m_prefault)(void*, size_t) = nullptr;
    size_t m_used = 0;
    size_t m_capacity = 0;
    size_t m_reserved = 0;
};

// A table of T in segments of growing size (the first holds 2^FirstLog2 elements, each next one twice
// the previous), so appends never move elements and indexing stays O(1).
template <typename T, unsigned FirstLog2 = 10>
class SegmentedTable {
public:
    SegmentedTable() = default;
    SegmentedTable(const SegmentedTable&) = delete;
    SegmentedTable& operator=(const SegmentedTable&) = delete;
    ~SegmentedTable() { Clear(); }

    // The published element count; elements below it are complete.
    size_t size() const { return m_count.load(std::memory_order_acquire); }
    bool empty() const { return size() == 0; }

    T& operator[](size_t i) { return *Slot(i); }
    const T& operator[](size_t i) const { return *Slot(i); }
    T& at(size_t i) {
        if (i >= size())
            throw std::out_of_range("table index out of range");
        return *Slot(i);
    }
    const T& at(size_t i) const { return const_cast<SegmentedTable*>(this)->at(i); }

    // Writer only. Constructs the element, then publishes it. nullptr when memory runs out.
    template <typename... Args>
    T* emplace_back(Args&&... args) {
        size_t n = m_count.load(std::memory_order_relaxed);
        auto [seg, off] = Locate(n);
        T* base = m_segments[seg].load(std::memory_order_relaxed);
        if (!base) {
            base = static_cast<T*>(std::malloc(sizeof(T) * SegmentSize(seg)));
            if (!base)
                return nullptr;
            m_segments[seg].store(base, std::memory_order_relaxed);
        }
        T* p = new (base + off) T(std::forward<Args>(args)...);
        m_count.store(n + 1, std::memory_order_release);
        return p;
    }

    // Only while no other thread uses the table.
    void Clear() noexcept {
        size_t n = m_count.load(std::memory_order_relaxed);
        for (size_t i = 0; i < n; ++i)
            Slot(i)->~T();
        for (auto& s : m_segments) {
            std::free(s.load(std::memory_order_relaxed));
            s.store(nullptr, std::memory_order_relaxed);
        }
        m_count.store(0, std::memory_order_release);
    }

    size_t ReservedBytes() const {
        size_t total = 0;
        for (unsigned s = 0; s < kSegments; ++s)
            if (m_segments[s].load(std::memory_order_relaxed))
                total += sizeof(T) * SegmentSize(s);
        return total;
    }

private:
    static constexpr unsigned kSegments = 64 - FirstLog2;  // enough for any size_t index
    static constexpr size_t SegmentSize(unsigned seg) { return size_t{1} << (FirstLog2 + seg); }
    struct Place {
        unsigned seg;
        size_t off;
    };
    static Place Locate(size_t i) {
        size_t j = i + (size_t{1} << FirstLog2);
        unsigned seg = static_cast<unsigned>(std::bit_width(j)) - 1 - FirstLog2;
        if (seg >= kSegments)  // cannot happen for a size_t index; tells the optimiser so
            __builtin_unreachable();
        return {seg, j - (size_t{1} << (FirstLog2 + seg))};
    }
    T* Slot(size_t i) const {
        auto [seg, off] = Locate(i);
        return m_segments[seg].load(std::memory_order_relaxed) + off;
    }

    std::atomic<T*> m_segments[kSegments] = {};
    std::atomic<size_t> m_count{0};
};

// A growable array of 32-bit values for one writer and many readers. Grows by moving into a larger block
// from an arena; the old block stays readable (the arena keeps it) until the store is cleared, so a
// reader that loaded a count never reads freed memory. Small lists live inside the object.
class AppendOnlyIndexList {
public:
    static constexpr uint32_t kInline = 4;

    AppendOnlyIndexList() = default;
    explicit AppendOnlyIndexList(uint32_t first) : m_count(1), m_inline{first} {}
    AppendOnlyIndexList(const AppendOnlyIndexList&) = delete;
    AppendOnlyIndexList& operator=(const AppendOnlyIndexList&) = delete;

    size_t size() const { return m_count.load(std::memory_order_acquire); }
    bool empty() const { return size() == 0; }
    // Valid for i below a count loaded with size().
    uint32_t operator[](size_t i) const { return Items()[i]; }
    // The same as operator[] for i below kInline: the first values stay in the object after the list grew
    // out of it, so a reader of them touches no other memory.
    uint32_t Front(size_t i) const { return i < kInline ? m_inline[i] : Items()[i]; }
    uint32_t at(size_t i) const {
        if (i >= size())
            throw std::out_of_range("packet index list position out of range");
        return Items()[i];
    }

    // Writer only. false when memory runs out (nothing changes then).
    bool push_back(uint32_t v, ByteArena& arena) noexcept {
        uint32_t n = m_count.load(std::memory_order_relaxed);
        uint32_t* items = m_items.load(std::memory_order_relaxed);
        if (!items)
            items = m_inline;
        if (n == m_capacity) {
            if (n > UINT32_MAX / 2)
                return false;
            uint32_t cap = n * 2;
            auto* grown = static_cast<uint32_t*>(arena.Allocate(cap * sizeof(uint32_t), alignof(uint32_t)));
            if (!grown)
                return false;
            std::copy_n(items, n, grown);
            m_capacity = cap;
            items = grown;
            m_items.store(grown, std::memory_order_release);
        }
        items[n] = v;
        m_count.store(n + 1, std::memory_order_release);
        return true;
    }

private:
    const uint32_t* Items() const {
        const uint32_t* p = m_items.load(std::memory_order_acquire);
        return p ? p : m_inline;
    }

    std::atomic<uint32_t*> m_items{nullptr};  // null while the inline block is used
    std::atomic<uint32_t> m_count{0};
    uint32_t m_capacity = kInline;
    uint32_t m_inline[kInline] = {};
};
