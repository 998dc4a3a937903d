// A byte archive in the little-endian layout of Config.cfg: stores into a growing buffer, or loads from
// a byte range with every read checked against the end.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

class ArchiveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CArchive {
public:
    // A storing archive.
    CArchive() = default;
    // A loading archive over bytes that must outlive it.
    explicit CArchive(std::span<const uint8_t> bytes) : m_in(bytes), m_loading(true) {}

    bool IsStoring() const { return !m_loading; }
    bool IsLoading() const { return m_loading; }

    // Storing.
    void WriteU8(uint8_t v) { m_out.push_back(v); }
    void WriteU16(uint16_t v) {
        WriteU8(static_cast<uint8_t>(v));
        WriteU8(static_cast<uint8_t>(v >> 8));
    }
    void WriteU32(uint32_t v) {
        WriteU16(static_cast<uint16_t>(v));
        WriteU16(static_cast<uint16_t>(v >> 16));
    }
    void WriteBytes(const void* p, size_t n) {
        auto* b = static_cast<const uint8_t*>(p);
        m_out.insert(m_out.end(), b, b + n);
    }
    // A 32-bit flag as its one stored byte: 0..255 keep their byte, any other set value becomes 1 so that
    // a set flag never reads back as clear.
    void WriteFlag(int32_t flag) { WriteU8((flag & ~0xFF) == 0 ? static_cast<uint8_t>(flag) : 1); }
    // A count: 16 bits below 0xFFFF, else 0xFFFF and 32 bits.
    void WriteCount(uint32_t n) {
        if (n < 0xFFFF) {
            WriteU16(static_cast<uint16_t>(n));
        } else {
            WriteU16(0xFFFF);
            WriteU32(n);
        }
    }
    const std::vector<uint8_t>& Bytes() const { return m_out; }

    // Loading; each throws ArchiveError when the bytes end early.
    uint8_t ReadU8() {
        Need(1);
        return m_in[m_pos++];
    }
    uint16_t ReadU16() {
        uint16_t lo = ReadU8();
        return static_cast<uint16_t>(lo | (ReadU8() << 8));
    }
    uint32_t ReadU32() {
        uint32_t lo = ReadU16();
        return lo | (static_cast<uint32_t>(ReadU16()) << 16);
    }
    void ReadBytes(void* p, size_t n) {
        Need(n);
        if (n)
            std::copy_n(m_in.data() + m_pos, n, static_cast<uint8_t*>(p));
        m_pos += n;
    }
    uint32_t ReadCount() {
        uint16_t n = ReadU16();
        return n == 0xFFFF ? ReadU32() : n;
    }
    size_t Remaining() const { return m_in.size() - m_pos; }
    // Throws unless at least n more bytes follow (used before sizing anything from a count).
    void Need(size_t n) const {
        if (n > Remaining())
            throw ArchiveError("the file ends early");
    }

private:
    std::span<const uint8_t> m_in;
    size_t m_pos = 0;
    bool m_loading = false;
    std::vector<uint8_t> m_out;
};
