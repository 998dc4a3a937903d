// Any bytes through every server-name parser: as a client's first TCP bytes (TLS, HTTP), as QUIC datagrams
// (the input split at its first bytes' lengths), as a DNS response and as DNS over TCP. None may read outside
// the input.
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/ServerName.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    FoundName found;
    if (TlsClientName(bytes, found) == NameParse::Found && found.at >= 0 &&
        static_cast<size_t>(found.at) + found.name.size() > size)
        __builtin_trap();
    HttpHostName(bytes, found);
    DnsAnswers addresses;
    DnsAnswerAddresses(bytes, addresses);
    // As a DNS over TCP server's bytes: length-prefixed messages.
    size_t at = 0;
    std::span<const uint8_t> message;
    while (NextDnsTcpMessage(bytes, at, message))
        DnsAnswerAddresses(message, addresses);
    // The first byte says how many datagrams follow; each takes a 2-byte length.
    QuicInitialReader reader;
    std::span<const uint8_t> rest = bytes;
    for (int n = size ? data[0] % 4 + 1 : 0; n > 0 && rest.size() > 3; --n) {
        const size_t length = std::min<size_t>(((size_t{rest[1]} << 8) | rest[2]), rest.size() - 3);
        reader.AddDatagram(rest.subspan(3, length));
        rest = rest.subspan(3 + length);
    }
    reader.Name(found);
    EscapeName(found.name);
    return 0;
}
