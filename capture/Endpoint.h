// One end of a conversation: an IPv4 or IPv6 address and a port, compared and written the same way
// wherever a connection's ends are read (lists, filter, exports, Community ID).
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

class Endpoint {
public:
    Endpoint() = default;  // 0.0.0.0:0

    // `address` in network order: 4 bytes for IPv4, 16 for IPv6.
    static Endpoint Ipv4(const uint8_t* address, uint16_t port) { return Endpoint(false, address, 4, port); }
    static Endpoint Ipv6(const uint8_t* address, uint16_t port) { return Endpoint(true, address, 16, port); }

    bool IsIpv6() const { return m_ipv6; }
    const uint8_t* AddressBytes() const { return m_address; }
    size_t AddressLength() const { return m_ipv6 ? 16 : 4; }
    std::span<const uint8_t> Address() const { return {m_address, AddressLength()}; }
    uint16_t Port() const { return m_port; }

    // IPv4 before IPv6, then by address in network order, then by port. An IPv4 address leaves its last
    // twelve bytes zero, so comparing all sixteen orders it as its four do.
    friend auto operator<=>(const Endpoint&, const Endpoint&) = default;
    friend bool operator==(const Endpoint&, const Endpoint&) = default;

private:
    Endpoint(bool ipv6, const uint8_t* address, size_t length, uint16_t port) : m_ipv6(ipv6), m_port(port) {
        std::memcpy(m_address, address, length);
    }

    bool m_ipv6 = false;
    uint8_t m_address[16] = {};
    uint16_t m_port = 0;
};
