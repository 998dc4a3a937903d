#include "analysis/CommunityId.h"

#include <QCryptographicHash>

#include <cstring>
#include <utility>

struct CommunityIdHasher::Impl {
    QCryptographicHash sha1{QCryptographicHash::Sha1};
};

CommunityIdHasher::CommunityIdHasher(uint16_t seed) : m_impl(new Impl), m_seed(seed) {}

CommunityIdHasher::~CommunityIdHasher() {
    delete m_impl;
}

ShortText CommunityIdHasher::Compute(const uint8_t* ipA, uint16_t portA, const uint8_t* ipB, uint16_t portB,
                                     uint8_t protocol) {
    // The smaller address (then port) first, so that both directions hash alike.
    const int order = std::memcmp(ipA, ipB, 4);
    if (order > 0 || (order == 0 && portA > portB)) {
        std::swap(ipA, ipB);
        std::swap(portA, portB);
    }
    // seed, address, address, protocol, a zero byte, port, port: all in network order.
    uint8_t input[16];
    input[0] = static_cast<uint8_t>(m_seed >> 8);
    input[1] = static_cast<uint8_t>(m_seed);
    std::memcpy(input + 2, ipA, 4);
    std::memcpy(input + 6, ipB, 4);
    input[10] = protocol;
    input[11] = 0;
    input[12] = static_cast<uint8_t>(portA >> 8);
    input[13] = static_cast<uint8_t>(portA);
    input[14] = static_cast<uint8_t>(portB >> 8);
    input[15] = static_cast<uint8_t>(portB);
    QCryptographicHash& sha1 = m_impl->sha1;
    sha1.reset();
    sha1.addData(QByteArrayView(reinterpret_cast<const char*>(input), sizeof input));
    const QByteArrayView digest = sha1.resultView();

    static constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    ShortText out;
    char* p = out.text;
    *p++ = '1';
    *p++ = ':';
    const auto* d = reinterpret_cast<const uint8_t*>(digest.data());
    // 20 bytes: six groups of three, then two bytes and one "=".
    for (int i = 0; i < 18; i += 3) {
        const uint32_t v = (uint32_t{d[i]} << 16) | (uint32_t{d[i + 1]} << 8) | d[i + 2];
        *p++ = kBase64[v >> 18];
        *p++ = kBase64[(v >> 12) & 63];
        *p++ = kBase64[(v >> 6) & 63];
        *p++ = kBase64[v & 63];
    }
    const uint32_t v = (uint32_t{d[18]} << 16) | (uint32_t{d[19]} << 8);
    *p++ = kBase64[v >> 18];
    *p++ = kBase64[(v >> 12) & 63];
    *p++ = kBase64[(v >> 6) & 63];
    *p++ = '=';
    *p = '\0';
    out.length = static_cast<uint8_t>(p - out.text);
    return out;
}

ShortText CommunityIdHasher::Compute(const ConnectionRecord& c) {
    return Compute(c.clientIp, c.clientPort, c.serverIp, c.serverPort, c.isTcp ? 6 : 17);
}
