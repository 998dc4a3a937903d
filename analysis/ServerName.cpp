#include "analysis/ServerName.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

uint32_t Be16(const uint8_t* p) {
    return (uint32_t{p[0]} << 8) | p[1];
}
uint32_t Be24(const uint8_t* p) {
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}
uint32_t Be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// A reader that never goes past its end: a read that does not fit fails and leaves it failed.
class Cursor {
public:
    explicit Cursor(std::span<const uint8_t> d) : m_d(d) {}
    bool Ok() const { return m_ok; }
    size_t At() const { return m_at; }
    size_t Left() const { return m_ok ? m_d.size() - m_at : 0; }
    bool Skip(size_t n) {
        if (!m_ok || n > m_d.size() - m_at)
            return m_ok = false;
        m_at += n;
        return true;
    }
    uint32_t U8() { return Fits(1) ? m_d[m_at++] : 0; }
    uint32_t U16() {
        if (!Fits(2))
            return 0;
        m_at += 2;
        return Be16(m_d.data() + m_at - 2);
    }
    uint32_t U24() {
        if (!Fits(3))
            return 0;
        m_at += 3;
        return Be24(m_d.data() + m_at - 3);
    }
    uint32_t U32() {
        if (!Fits(4))
            return 0;
        m_at += 4;
        return Be32(m_d.data() + m_at - 4);
    }
    // QUIC's variable-length integer.
    uint64_t Varint() {
        if (!Fits(1))
            return 0;
        const size_t n = size_t{1} << (m_d[m_at] >> 6);
        if (!Fits(n))
            return 0;
        uint64_t v = m_d[m_at] & 0x3Fu;
        for (size_t i = 1; i < n; ++i)
            v = (v << 8) | m_d[m_at + i];
        m_at += n;
        return v;
    }
    std::span<const uint8_t> Take(size_t n) {
        if (!Fits(n))
            return {};
        m_at += n;
        return m_d.subspan(m_at - n, n);
    }

private:
    bool Fits(size_t n) {
        if (m_ok && n <= m_d.size() - m_at)
            return true;
        m_ok = false;
        return false;
    }
    std::span<const uint8_t> m_d;
    size_t m_at = 0;
    bool m_ok = true;
};

constexpr uint8_t kHandshakeRecord = 22;
constexpr uint8_t kClientHello = 1;
// A ClientHello larger than this is not one a client sends (post-quantum key shares stay far below).
constexpr size_t kMaxClientHello = 65536;
constexpr size_t kMaxTlsRecord = 16384 + 2048;
// HTTP headers past this are not looked through.
constexpr size_t kMaxHttpHead = 8192;

void TakeName(std::span<const uint8_t> bytes, int64_t at, FoundName& out) {
    const size_t n = std::min(bytes.size(), kMaxNameBytes);
    out.name.assign(reinterpret_cast<const char*>(bytes.data()), n);
    out.at = at;
}

}  // namespace

const char* NameSourceText(NameSource source) {
    switch (source) {
        case NameSource::Tls:
            return "tls";
        case NameSource::Quic:
            return "quic";
        case NameSource::Http:
            return "http";
        case NameSource::Dns:
            return "dns";
        case NameSource::None:
            break;
    }
    return "";
}

std::string EscapeName(std::string_view raw) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(raw.size());
    for (const char ch : raw) {
        const auto c = static_cast<uint8_t>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (c > 0x20 && c < 0x7F) {
            out += ch;
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

NameParse ClientHelloName(std::span<const uint8_t> message, FoundName& out) {
    Cursor c(message);
    if (c.U8() != kClientHello)
        return NameParse::None;
    const size_t length = c.U24();
    if (!c.Ok() || length > c.Left())
        return NameParse::None;
    Cursor body(message.subspan(4, length));
    body.Skip(2 + 32);      // version, random
    body.Skip(body.U8());   // session id
    body.Skip(body.U16());  // cipher suites
    body.Skip(body.U8());   // compression methods
    const size_t extensions = body.U16();
    if (!body.Ok() || extensions > body.Left())
        return NameParse::None;
    const size_t base = 4 + body.At();
    Cursor ext(message.subspan(base, extensions));
    while (ext.Ok() && ext.Left() >= 4) {
        const uint32_t type = ext.U16();
        const size_t size = ext.U16();
        const size_t start = ext.At();
        if (!ext.Skip(size))
            return NameParse::None;
        if (type != 0)  // server_name
            continue;
        Cursor list(message.subspan(base + start, size));
        const size_t listLength = list.U16();
        if (!list.Ok() || listLength > list.Left())
            return NameParse::None;
        while (list.Ok() && list.Left() >= 3) {
            const uint32_t nameType = list.U8();
            const size_t nameLength = list.U16();
            const size_t at = list.At();
            const std::span<const uint8_t> name = list.Take(nameLength);
            if (!list.Ok())
                return NameParse::None;
            if (nameType == 0 && !name.empty()) {  // host_name
                TakeName(name, static_cast<int64_t>(base + start + at), out);
                return NameParse::Found;
            }
        }
        return NameParse::None;
    }
    return NameParse::None;
}

NameParse TlsClientName(std::span<const uint8_t> stream, FoundName& out) {
    // The handshake bytes of the records so far, and where each record's piece begins in `stream`.
    std::vector<uint8_t> handshake;
    struct Piece {
        size_t handshakeAt, streamAt, length;
    };
    std::vector<Piece> pieces;
    size_t at = 0;
    while (stream.size() - at >= 5) {
        const uint8_t* r = stream.data() + at;
        if (r[0] != kHandshakeRecord || r[1] != 3)
            return NameParse::None;
        const size_t length = Be16(r + 3);
        if (length == 0 || length > kMaxTlsRecord)
            return NameParse::None;
        const size_t have = std::min(length, stream.size() - at - 5);
        pieces.push_back({handshake.size(), at + 5, have});
        handshake.insert(handshake.end(), r + 5, r + 5 + have);
        if (handshake.size() >= 4) {
            if (handshake[0] != kClientHello)
                return NameParse::None;
            const size_t need = 4 + size_t{Be24(handshake.data() + 1)};
            if (need > kMaxClientHello)
                return NameParse::None;
            if (handshake.size() >= need) {
                const NameParse result = ClientHelloName({handshake.data(), need}, out);
                if (result != NameParse::Found)
                    return result;
                // The name lies in the stream in one piece when it lies inside one record.
                const auto start = static_cast<size_t>(out.at);
                out.at = -1;
                for (const Piece& p : pieces)
                    if (start >= p.handshakeAt && start + out.name.size() <= p.handshakeAt + p.length)
                        out.at = static_cast<int64_t>(p.streamAt + (start - p.handshakeAt));
                return NameParse::Found;
            }
        }
        if (have < length)
            return NameParse::NeedMore;
        at += 5 + length;
    }
    return at == 0 && !stream.empty() && stream[0] != kHandshakeRecord ? NameParse::None
                                                                       : NameParse::NeedMore;
}

NameParse HttpHostName(std::span<const uint8_t> stream, FoundName& out) {
    static constexpr std::string_view kMethods[] = {"GET ",     "POST ",  "HEAD ",    "PUT ",  "DELETE ",
                                                    "OPTIONS ", "PATCH ", "CONNECT ", "TRACE "};
    const std::string_view text(reinterpret_cast<const char*>(stream.data()),
                                std::min(stream.size(), kMaxHttpHead));
    bool method = false;
    for (const std::string_view m : kMethods) {
        const size_t n = std::min(m.size(), text.size());
        if (text.substr(0, n) == m.substr(0, n))
            method = method || n == m.size() || n == text.size();
    }
    if (!method)
        return NameParse::None;
    const size_t requestEnd = text.find("\r\n");
    if (requestEnd == std::string_view::npos)
        return text.size() < kMaxHttpHead ? NameParse::NeedMore : NameParse::None;
    const std::string_view request = text.substr(0, requestEnd);
    if (request.size() < 9 || request.substr(request.size() - 9, 7) != " HTTP/1")
        return NameParse::None;
    size_t line = requestEnd + 2;
    for (;;) {
        const size_t end = text.find("\r\n", line);
        if (end == std::string_view::npos)
            return text.size() < kMaxHttpHead ? NameParse::NeedMore : NameParse::None;
        if (end == line)
            return NameParse::None;  // the headers ended without a Host
        const std::string_view header = text.substr(line, end - line);
        if (header.size() >= 5 && (header[0] | 0x20) == 'h' && (header[1] | 0x20) == 'o' &&
            (header[2] | 0x20) == 's' && (header[3] | 0x20) == 't' && header[4] == ':') {
            size_t a = 5, b = header.size();
            while (a < b && (header[a] == ' ' || header[a] == '\t'))
                ++a;
            while (b > a && (header[b - 1] == ' ' || header[b - 1] == '\t'))
                --b;
            if (a == b)
                return NameParse::None;
            TakeName(stream.subspan(line + a, b - a), static_cast<int64_t>(line + a), out);
            return NameParse::Found;
        }
        line = end + 2;
    }
}

// ---- QUIC Initial packets

namespace {

constexpr uint8_t kSaltV1[20] = {0x38, 0x76, 0x2c, 0xf7, 0xf5, 0x59, 0x34, 0xb3, 0x4d, 0x17,
                                 0x9a, 0xe6, 0xa4, 0xc8, 0x0c, 0xad, 0xcc, 0xbb, 0x7f, 0x0a};
constexpr uint8_t kSaltV2[20] = {0x0d, 0xed, 0xe3, 0xde, 0xf7, 0x00, 0xa6, 0xdb, 0x81, 0x93,
                                 0x81, 0xbe, 0x6e, 0x26, 0x9d, 0xcb, 0xf9, 0xbd, 0x2e, 0xd9};

struct KdfDeleter {
    void operator()(EVP_KDF_CTX* c) const { EVP_KDF_CTX_free(c); }
};
struct CipherDeleter {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

bool Hkdf(int mode, std::span<const uint8_t> salt, std::span<const uint8_t> key,
          std::span<const uint8_t> info, uint8_t* out, size_t outLength) {
    static EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    if (!kdf)
        return false;
    std::unique_ptr<EVP_KDF_CTX, KdfDeleter> ctx(EVP_KDF_CTX_new(kdf));
    if (!ctx)
        return false;
    char digest[] = "SHA256";
    OSSL_PARAM params[5];
    size_t n = 0;
    params[n++] = OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode);
    params[n++] = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0);
    params[n++] =
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<uint8_t*>(key.data()), key.size());
    if (mode == EVP_KDF_HKDF_MODE_EXTRACT_ONLY)
        params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT,
                                                        const_cast<uint8_t*>(salt.data()), salt.size());
    else
        params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO,
                                                        const_cast<uint8_t*>(info.data()), info.size());
    params[n] = OSSL_PARAM_construct_end();
    return EVP_KDF_derive(ctx.get(), out, outLength, params) == 1;
}

// TLS 1.3's HKDF-Expand-Label with an empty context.
bool ExpandLabel(const uint8_t* secret, std::string_view label, uint8_t* out, size_t length) {
    uint8_t info[2 + 1 + 6 + 32 + 1];
    const std::string full = "tls13 " + std::string(label);
    if (full.size() > 38)
        return false;
    size_t n = 0;
    info[n++] = static_cast<uint8_t>(length >> 8);
    info[n++] = static_cast<uint8_t>(length);
    info[n++] = static_cast<uint8_t>(full.size());
    std::memcpy(info + n, full.data(), full.size());
    n += full.size();
    info[n++] = 0;
    return Hkdf(EVP_KDF_HKDF_MODE_EXPAND_ONLY, {}, {secret, 32}, {info, n}, out, length);
}

bool AesEcbBlock(const uint8_t* key, const uint8_t* in, uint8_t* out) {
    std::unique_ptr<EVP_CIPHER_CTX, CipherDeleter> ctx(EVP_CIPHER_CTX_new());
    int n = 0;
    return ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key, nullptr) == 1 &&
           EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
           EVP_EncryptUpdate(ctx.get(), out, &n, in, 16) == 1 && n == 16;
}

bool AesGcmOpen(const QuicInitialKeys& keys, uint64_t packetNumber, std::span<const uint8_t> header,
                std::span<const uint8_t> sealed, std::vector<uint8_t>& plain) {
    if (sealed.size() < 16)
        return false;
    uint8_t nonce[12];
    std::memcpy(nonce, keys.iv, 12);
    for (int i = 0; i < 8; ++i)
        nonce[11 - i] ^= static_cast<uint8_t>(packetNumber >> (8 * i));
    const size_t length = sealed.size() - 16;
    plain.resize(length);
    std::unique_ptr<EVP_CIPHER_CTX, CipherDeleter> ctx(EVP_CIPHER_CTX_new());
    int n = 0;
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, 12, nullptr) != 1 ||
        EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, keys.key, nonce) != 1 ||
        EVP_DecryptUpdate(ctx.get(), nullptr, &n, header.data(), static_cast<int>(header.size())) != 1 ||
        EVP_DecryptUpdate(ctx.get(), plain.data(), &n, sealed.data(), static_cast<int>(length)) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, 16,
                            const_cast<uint8_t*>(sealed.data() + length)) != 1)
        return false;
    int last = 0;
    return EVP_DecryptFinal_ex(ctx.get(), plain.data() + n, &last) == 1;
}

}  // namespace

bool DeriveQuicInitialKeys(uint32_t version, std::span<const uint8_t> dcid, QuicInitialKeys& out) {
    const bool v2 = version == kQuicVersion2;
    if (!v2 && version != kQuicVersion1)
        return false;
    uint8_t initial[32], client[32];
    return Hkdf(EVP_KDF_HKDF_MODE_EXTRACT_ONLY, {v2 ? kSaltV2 : kSaltV1, 20}, dcid, {}, initial, 32) &&
           ExpandLabel(initial, "client in", client, 32) &&
           ExpandLabel(client, v2 ? "quicv2 key" : "quic key", out.key, 16) &&
           ExpandLabel(client, v2 ? "quicv2 iv" : "quic iv", out.iv, 12) &&
           ExpandLabel(client, v2 ? "quicv2 hp" : "quic hp", out.hp, 16);
}

bool QuicInitialReader::AddDatagram(std::span<const uint8_t> datagram) {
    bool any = false;
    // Coalesced packets follow each other in one datagram; each long header gives its own length.
    while (!datagram.empty() && (datagram[0] & 0x80) != 0) {
        size_t used = 0;
        any = AddPacket(datagram, used) || any;
        if (used == 0 || used > datagram.size())
            break;
        datagram = datagram.subspan(used);
    }
    return any;
}

bool QuicInitialReader::AddPacket(std::span<const uint8_t> packet, size_t& used) {
    Cursor c(packet);
    const uint8_t first = static_cast<uint8_t>(c.U8());
    const uint32_t version = c.U32();
    const size_t dcidLength = c.U8();
    if (!c.Ok() || dcidLength > 20)
        return false;
    const std::span<const uint8_t> dcid = c.Take(dcidLength);
    const size_t scidLength = c.U8();
    if (scidLength > 20)
        return false;
    c.Skip(scidLength);
    const uint32_t type = (first >> 4) & 3;
    // Initial is type 0 in version 1 and type 1 in version 2; anything else is skipped by its length.
    const bool initial = (version == kQuicVersion1 && type == 0) || (version == kQuicVersion2 && type == 1);
    if (version != kQuicVersion1 && version != kQuicVersion2)
        return false;
    if (initial)
        c.Skip(static_cast<size_t>(std::min<uint64_t>(c.Varint(), SIZE_MAX / 2)));  // token
    else if (type == 3)
        return false;  // Retry: no length; nothing to read
    const uint64_t length = c.Varint();
    if (!c.Ok() || length > c.Left())
        return false;
    const size_t pnOffset = c.At();
    used = pnOffset + static_cast<size_t>(length);
    if (!initial || length < 4 + 16)
        return false;
    m_sawInitial = true;
    if (version != m_version || dcidLength != m_dcidLength || !std::equal(dcid.begin(), dcid.end(), m_dcid)) {
        if (!DeriveQuicInitialKeys(version, dcid, m_keys))
            return false;
        m_version = version;
        m_dcidLength = dcidLength;
        std::copy(dcid.begin(), dcid.end(), m_dcid);
    }
    uint8_t mask[16];
    if (!AesEcbBlock(m_keys.hp, packet.data() + pnOffset + 4, mask))
        return false;
    // The header as it was before protection: the first byte's low bits and the packet number unmasked.
    std::vector<uint8_t> header(packet.begin(), packet.begin() + static_cast<ptrdiff_t>(pnOffset + 4));
    header[0] ^= mask[0] & 0x0F;
    const size_t pnLength = (header[0] & 3u) + 1;
    uint64_t pn = 0;
    for (size_t i = 0; i < pnLength; ++i) {
        header[pnOffset + i] ^= mask[1 + i];
        pn = (pn << 8) | header[pnOffset + i];
    }
    std::vector<uint8_t> plain;
    if (!AesGcmOpen(m_keys, pn, {header.data(), pnOffset + pnLength},
                    packet.subspan(pnOffset + pnLength, static_cast<size_t>(length) - pnLength), plain))
        return false;
    AddFrames(plain);
    return true;
}

void QuicInitialReader::AddFrames(std::span<const uint8_t> plain) {
    Cursor c(plain);
    while (c.Ok() && c.Left() > 0) {
        const uint64_t type = c.Varint();
        switch (type) {
            case 0x00:  // PADDING
            case 0x01:  // PING
                break;
            case 0x02:  // ACK
            case 0x03: {
                c.Varint();
                c.Varint();
                const uint64_t ranges = c.Varint();
                c.Varint();
                // Each range takes two bytes at least: a count past the packet ends the reading.
                if (ranges > c.Left())
                    return;
                for (uint64_t i = 0; i < ranges && c.Ok(); ++i) {
                    c.Varint();
                    c.Varint();
                }
                if (type == 0x03) {
                    c.Varint();
                    c.Varint();
                    c.Varint();
                }
                break;
            }
            case 0x06: {  // CRYPTO
                const uint64_t offset = c.Varint();
                const uint64_t length = c.Varint();
                if (!c.Ok() || length > c.Left())
                    return;
                AddCrypto(offset, c.Take(static_cast<size_t>(length)));
                break;
            }
            default:  // CONNECTION_CLOSE or a frame an Initial may not hold: the rest is not read
                return;
        }
    }
}

void QuicInitialReader::AddCrypto(uint64_t offset, std::span<const uint8_t> data) {
    if (offset >= kMaxCrypto)
        return;
    const size_t at = static_cast<size_t>(offset);
    const size_t n = std::min(data.size(), kMaxCrypto - at);
    if (m_crypto.size() < at + n) {
        m_crypto.resize(at + n);
        m_have.resize(at + n);
    }
    for (size_t i = 0; i < n; ++i) {
        if (!m_have[at + i]) {  // the first copy stays
            m_crypto[at + i] = data[i];
            m_have[at + i] = 1;
        }
    }
    while (m_prefix < m_have.size() && m_have[m_prefix])
        ++m_prefix;
}

NameParse QuicInitialReader::Name(FoundName& out) const {
    if (m_prefix < 4)
        return NameParse::NeedMore;
    if (m_crypto[0] != kClientHello)
        return NameParse::None;
    const size_t need = 4 + size_t{Be24(m_crypto.data() + 1)};
    if (need > kMaxCrypto)
        return NameParse::None;
    if (m_prefix < need)
        return NameParse::NeedMore;
    const NameParse result = ClientHelloName({m_crypto.data(), need}, out);
    out.at = -1;  // the name lies in decrypted bytes, not in the captured ones
    return result;
}

// ---- DNS answers

namespace {

// A name at `at` of `message`, compression pointers followed (a bounded number of times, so a loop ends),
// written dotted to `out`. The end of the name where it started (after its first pointer) goes to `next`.
bool ReadDnsName(std::span<const uint8_t> message, size_t at, std::string& out, size_t& next) {
    out.clear();
    bool jumped = false;
    for (int steps = 0; steps < 128; ++steps) {
        if (at >= message.size())
            return false;
        const uint8_t length = message[at];
        if (length == 0) {
            if (!jumped)
                next = at + 1;
            return true;
        }
        if ((length & 0xC0) == 0xC0) {
            if (at + 1 >= message.size())
                return false;
            if (!jumped)
                next = at + 2;
            jumped = true;
            at = ((length & 0x3Fu) << 8) | message[at + 1];
            continue;
        }
        if ((length & 0xC0) != 0 || at + 1 + length > message.size())
            return false;
        if (!out.empty())
            out += '.';
        if (out.size() + length > kMaxNameBytes)
            return false;
        out.append(reinterpret_cast<const char*>(message.data() + at + 1), length);
        at += 1 + length;
    }
    return false;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

// Distinct names of one response: owners and CNAME targets. A response with more is read up to them.
constexpr size_t kMaxDnsNames = 32;

constexpr size_t kUnreadable = SIZE_MAX, kTooMany = SIZE_MAX - 1;

// The name at `at` as an index of out.names (the same name read before keeps its index), or kUnreadable, or
// kTooMany when it would be one name too many.
size_t DnsNameIndex(std::span<const uint8_t> message, size_t at, size_t& next, DnsAnswers& out) {
    if (out.nameCount == out.names.size())
        out.names.emplace_back();
    std::string& name = out.names[out.nameCount];
    if (!ReadDnsName(message, at, name, next))
        return kUnreadable;
    for (size_t i = 0; i < out.nameCount; ++i)
        if (SameName(out.names[i], name))
            return i;
    return out.nameCount < kMaxDnsNames ? out.nameCount++ : kTooMany;
}

}  // namespace

bool DnsAnswerAddresses(std::span<const uint8_t> message, DnsAnswers& out) {
    out.addresses.clear();
    out.nameCount = 0;
    if (message.size() < 12 || (message[2] & 0x80) == 0)  // a response
        return false;
    const size_t questions = Be16(message.data() + 4);
    const size_t answers = std::min<size_t>(Be16(message.data() + 6), 256);
    size_t at = 12;
    for (size_t i = 0; i < questions; ++i) {
        if (out.names.empty())
            out.names.emplace_back();
        if (!ReadDnsName(message, at, out.names[0], at) || at + 4 > message.size())
            return false;
        at += 4;
    }
    // CNAME owner and target, as indices of out.names.
    uint32_t aliasOwner[kMaxDnsNames], aliasTarget[kMaxDnsNames];
    size_t aliasCount = 0;
    // Owners are mostly one pointer to the question's name, read once.
    size_t lastPointer = SIZE_MAX, owner = 0;
    for (size_t i = 0; i < answers; ++i) {
        const size_t pointer = at + 1 < message.size() && (message[at] & 0xC0) == 0xC0
                                   ? ((message[at] & 0x3Fu) << 8) | message[at + 1]
                                   : SIZE_MAX;
        if (pointer != SIZE_MAX && pointer == lastPointer) {
            at += 2;
        } else {
            owner = DnsNameIndex(message, at, at, out);
            if (owner == kUnreadable)
                return false;
            if (owner == kTooMany)
                break;
        }
        lastPointer = pointer;
        if (at + 10 > message.size())
            return false;
        const uint32_t type = Be16(message.data() + at);
        const size_t length = Be16(message.data() + at + 8);
        at += 10;
        if (at + length > message.size())
            return false;
        if (type == 5 && aliasCount < kMaxDnsNames) {  // CNAME
            size_t unused = 0;
            const size_t target = DnsNameIndex(message, at, unused, out);
            if (target < kTooMany) {
                aliasOwner[aliasCount] = static_cast<uint32_t>(owner);
                aliasTarget[aliasCount++] = static_cast<uint32_t>(target);
            }
        } else if ((type == 1 && length == 4) || (type == 28 && length == 16)) {
            DnsAnswers::Address& a = out.addresses.emplace_back();
            a.ipv6 = type == 28;
            if (a.ipv6)
                std::memcpy(a.address, message.data() + at, 16);
            else
                std::memcpy(a.address, message.data() + at, 4);
            a.name = static_cast<uint32_t>(owner);
        }
        at += length;
    }
    // Back along the CNAMEs to the name the client asked for; a cycle ends after as many steps as aliases.
    for (size_t k = 0; k < out.addresses.size() && aliasCount > 0; ++k) {
        DnsAnswers::Address& a = out.addresses[k];
        for (size_t step = 0; step < aliasCount; ++step) {
            const uint32_t* it = std::find(aliasTarget, aliasTarget + aliasCount, a.name);
            if (it == aliasTarget + aliasCount)
                break;
            a.name = aliasOwner[it - aliasTarget];
        }
    }
    return true;
}

bool NextDnsTcpMessage(std::span<const uint8_t> stream, size_t& at, std::span<const uint8_t>& message) {
    if (at > stream.size() || stream.size() - at < 2)
        return false;
    const size_t length = Be16(stream.data() + at);
    if (stream.size() - at - 2 < length)
        return false;
    message = stream.subspan(at + 2, length);
    at += 2 + length;
    return true;
}
