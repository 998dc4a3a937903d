#include "analysis/CommunityId.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <cstring>

struct CommunityIdHasher::Impl {
    QCryptographicHash sha1{QCryptographicHash::Sha1};
};

CommunityIdHasher::CommunityIdHasher(uint16_t seed) : m_impl(new Impl), m_seed(seed) {}

CommunityIdHasher::~CommunityIdHasher() {
    delete m_impl;
}

ShortText CommunityIdHasher::Compute(const Endpoint& a, const Endpoint& b, uint8_t protocol) {
    // The smaller address (then port) first, so that both directions hash alike.
    const Endpoint& first = b < a ? b : a;
    const Endpoint& second = b < a ? a : b;
    // seed, address, address, protocol, a zero byte, port, port: all in network order.
    const size_t length = first.AddressLength();
    uint8_t input[2 + 16 + 16 + 2 + 4];
    uint8_t* p = input;
    *p++ = static_cast<uint8_t>(m_seed >> 8);
    *p++ = static_cast<uint8_t>(m_seed);
    std::memcpy(p, first.AddressBytes(), length);
    std::memcpy(p + length, second.AddressBytes(), length);
    p += 2 * length;
    *p++ = protocol;
    *p++ = 0;
    *p++ = static_cast<uint8_t>(first.Port() >> 8);
    *p++ = static_cast<uint8_t>(first.Port());
    *p++ = static_cast<uint8_t>(second.Port() >> 8);
    *p++ = static_cast<uint8_t>(second.Port());
    QCryptographicHash& sha1 = m_impl->sha1;
    sha1.reset();
    sha1.addData(QByteArrayView(reinterpret_cast<const char*>(input), p - input));
    const QByteArrayView digest = sha1.resultView();
    const QByteArray base64 = QByteArray::fromRawData(digest.data(), digest.size()).toBase64();

    ShortText out;
    out.text[0] = '1';
    out.text[1] = ':';
    std::memcpy(out.text + 2, base64.constData(), static_cast<size_t>(base64.size()));  // 28 characters
    out.length = static_cast<uint8_t>(2 + base64.size());
    out.text[out.length] = '\0';
    return out;
}

ShortText CommunityIdHasher::Compute(const ConnectionRecord& c) {
    return Compute(c.Client(), c.Server(), c.isTcp ? 6 : 17);
}
