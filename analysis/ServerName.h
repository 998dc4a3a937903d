// The name a client asked a server for, read from the first bytes of a connection: the server_name of a TLS
// ClientHello (over TCP, or inside QUIC Initial packets, whose keys derive from the packet itself), the
// Host header of an HTTP/1.x request, and the names of DNS answers. Pure functions of the bytes given:
// every length is checked against them, and the work is bounded by their size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class NameSource : uint8_t { None = 0, Tls, Quic, Http, Dns };

// "tls", "quic", "http", "dns" ("" for None): the words of the exports.
const char* NameSourceText(NameSource source);

enum class NameParse {
    Found,     // the name is in `FoundName`
    NeedMore,  // the bytes so far are a plausible start; more may give the name
    None,      // not this protocol, or it carries no name
};

struct FoundName {
    std::string name;  // raw bytes, as sent (escape before showing)
    // Where the name's bytes lie in the input, when they lie there in one piece; -1 otherwise.
    int64_t at = -1;
};

// A name longer than any host name is cut here (a DNS name has at most 253 characters).
inline constexpr size_t kMaxNameBytes = 255;

// The name as text that shows every byte: printable ASCII stays, a backslash and any other byte become
// "\\" and "\xHH".
std::string EscapeName(std::string_view raw);

// A TLS handshake message (from its 4-byte header on) that is a ClientHello: its first host_name entry.
NameParse ClientHelloName(std::span<const uint8_t> message, FoundName& out);

// The client's first bytes of a TCP connection as TLS records: the ClientHello's server name, also when the
// ClientHello spans several records.
NameParse TlsClientName(std::span<const uint8_t> stream, FoundName& out);

// The client's first bytes as an HTTP/1.x request: its Host header's value.
NameParse HttpHostName(std::span<const uint8_t> stream, FoundName& out);

// QUIC versions whose Initial packets can be read.
inline constexpr uint32_t kQuicVersion1 = 0x00000001;
inline constexpr uint32_t kQuicVersion2 = 0x6b3343cf;

// The client's Initial keys of `version` for the Destination Connection ID `dcid`.
struct QuicInitialKeys {
    uint8_t key[16];
    uint8_t iv[12];
    uint8_t hp[16];
};
bool DeriveQuicInitialKeys(uint32_t version, std::span<const uint8_t> dcid, QuicInitialKeys& out);

// The client's QUIC Initial packets of one connection, decrypted and their CRYPTO frames put in order
// (they may come split over several packets and in any order) until the ClientHello is whole.
class QuicInitialReader {
public:
    // Bytes of the CRYPTO stream kept: more than any ClientHello sends before the server answers.
    static constexpr size_t kMaxCrypto = 16384;

    // One UDP datagram from the client. False when it holds no Initial packet that could be read.
    bool AddDatagram(std::span<const uint8_t> datagram);
    // The ClientHello's name, once the CRYPTO stream holds it from its start.
    NameParse Name(FoundName& out) const;
    bool SawInitial() const { return m_sawInitial; }

private:
    bool AddPacket(std::span<const uint8_t> packet, size_t& used);
    void AddFrames(std::span<const uint8_t> plain);
    void AddCrypto(uint64_t offset, std::span<const uint8_t> data);

    std::vector<uint8_t> m_crypto;
    std::vector<uint8_t> m_have;  // one per byte of m_crypto: 1 once received
    size_t m_prefix = 0;          // bytes received from the stream's start without a gap
    bool m_sawInitial = false;
    // The keys of the last Destination Connection ID and version seen (a Retry changes the ID).
    uint8_t m_dcid[20] = {};
    size_t m_dcidLength = SIZE_MAX;
    uint32_t m_version = 0;
    QuicInitialKeys m_keys{};
};

// The A and AAAA answers of one DNS response, each with the name the client looked up for it (CNAMEs
// followed back to the question's name). Its buffers are kept from one response to the next, so that a
// reader of many responses allocates only at its start.
struct DnsAnswers {
    struct Address {
        bool ipv6 = false;
        uint8_t address[16] = {};
        uint32_t name = 0;  // in `names`
    };
    std::vector<Address> addresses;
    std::vector<std::string> names;  // raw, dotted, without the final dot; the first nameCount count
    size_t nameCount = 0;

    std::string_view Name(const Address& a) const { return names[a.name]; }
};

// Reads a DNS response's answers into `out`. False when it is not a response that could be read.
bool DnsAnswerAddresses(std::span<const uint8_t> message, DnsAnswers& out);

// The next whole message of DNS over TCP at `at` of the bytes one side sent in order (each message follows
// its 2-byte length), `at` then past it; false when no whole message is there yet.
bool NextDnsTcpMessage(std::span<const uint8_t> stream, size_t& at, std::span<const uint8_t>& message);
