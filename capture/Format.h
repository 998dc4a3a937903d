// Text forms of addresses, times, endpoints and services, and the cell texts of the two lists, shared by
// the window and the command-line tool so that both show the same text. Every function returns a value:
// nothing is shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "capture/PacketStore.h"
#include "capture/SystemTime.h"

// A short text held by value (no allocation).
template <size_t N>
struct FixedText {
    char text[N] = {};
    uint8_t length = 0;

    const char* c_str() const { return text; }
    std::string_view view() const { return {text, length}; }
    std::string str() const { return std::string(view()); }
    bool operator==(std::string_view other) const { return view() == other; }
};
using ShortText = FixedText<32>;
// Room for an IPv6 endpoint: "[" 39 characters "]:" and 5 digits.
using CellText = FixedText<64>;

constexpr uint16_t NetToHost16(uint16_t v) {
    return static_cast<uint16_t>((v << 8) | (v >> 8));
}
constexpr uint32_t NetToHost32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
// Big-endian 16/32-bit fields read from bytes.
inline uint16_t ReadBE16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t ReadBE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

ShortText IpToText(const uint8_t* ip);                                 // 192.168.0.1
ShortText MacToText(const uint8_t* mac);                               // 00.1a.2b.3c.4d.5e
ShortText TimeToText(const SystemTime& time);                          // 13:05:09.042, 24-hour clock
ShortText EndpointText(const uint8_t* ip, uint16_t port);              // 192.168.0.1:80
CellText ZeroCompressedIpv6Text(const uint8_t* ip);                    // 2001:db8::1, as inet_ntop writes it
CellText Ipv6EndpointText(const uint8_t* ip, uint16_t port);           // [2001:db8::1]:443 (RFC 5952)
ShortText ServiceLabel(uint16_t portA, uint16_t portB, int protocol);  // TCP:http, UDP, ...
CellText AddressText(const Endpoint& endpoint);                        // 192.168.0.1 or 2001:db8::1
CellText EndpointText(const Endpoint& endpoint);                       // 192.168.0.1:80 or [2001:db8::1]:443
// The protocol label of a connection's two ports ("TCP:http").
ShortText ServiceLabel(const ConnectionRecord& connection);

// Connections list: "#", "Start Time", "Client (IP:Port)", "Server (IP:Port)", "Protocol", "Packets",
// "Last Time".
inline constexpr int kConnectionColumns = 7;
extern const char* const kConnectionColumnTitles[kConnectionColumns];
CellText ConnectionCellText(size_t connection, int column);

// Packets list: "Time Offset", "Packet Len", "Data Len", "Data".
inline constexpr int kPacketColumns = 4;
extern const char* const kPacketColumnTitles[kPacketColumns];
inline constexpr size_t kPayloadPreviewBytes = 50;
// The "Data" cell: the first 50 payload bytes as characters (a NUL ends it), "..." when longer.
std::string PayloadPreview(const PacketRecord& packet);
std::string PacketCellText(const PacketRecord& packet, int column);
