// The server name of each connection of the store and where it came from, read from its first packets
// only: a connection is looked at while it has fewer than kLookPackets packets, then never again. DNS
// answers are remembered per address (in a bounded table that forgets the oldest) and name a later
// connection to that address when its own first bytes give no name.
//
// Kept by the reader of the store's news (the connections list, or pacterra-cli after a load): Update takes
// up what the store gained, on the one thread that reads the store's news.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "analysis/DnsNameTable.h"
#include "analysis/ServerName.h"

struct ConnectionName {
    std::string name;  // escaped (EscapeName), ready to show
    NameSource source = NameSource::None;
    uint32_t packet = UINT32_MAX;  // the stored packet that gave it (for DNS, the answer's)
    int32_t frameOffset = -1;  // where its bytes lie in that packet's frame; -1 when not in one piece there
    uint32_t length = 0;       // bytes of the name in the frame
};

class ServerNameTable {
public:
    // Packets of a connection looked at: enough for a handshake, a retransmission and a ClientHello over
    // several segments or Initial packets.
    static constexpr size_t kLookPackets = 12;
    // Client bytes of a TCP connection reassembled for a ClientHello or a request's headers.
    static constexpr size_t kLookBytes = 16384;
    static constexpr size_t kMaxDnsAddresses = DnsNameTable::kMaxAddresses;
    // QUIC connections read at once (each keeps its CRYPTO bytes until its ClientHello is whole).
    static constexpr size_t kMaxQuicReaders = 1024;

    ServerNameTable();
    ~ServerNameTable();

    // Takes up the connections the store gained and those firstGrown..lastGrown (none when first > last)
    // that gained packets. Starts over when the store was emptied.
    void Update(uint32_t firstGrown, uint32_t lastGrown);
    void Clear();

    // The connection's name; null when it has none (yet).
    const ConnectionName* Find(size_t connection) const;
    // The name that stored packet `packet` gave its connection from its own bytes; null when none.
    const ConnectionName* FindByPacket(size_t packet) const;

private:
    struct Entry {
        uint32_t name = UINT32_MAX;  // in m_names
        uint32_t looked = 0;         // packets of the connection seen at the last look
        bool settled = false;        // no more looks
        bool fromDns = false;        // the name is a DNS answer's: the connection's own bytes may replace it
        uint16_t dnsMessages = 0;    // DNS over TCP: the server's messages read at earlier looks
    };
    void Look(size_t connection);
    void LookTcp(size_t connection, Entry& e);
    void LookUdp(size_t connection, Entry& e);
    void ReadDns(size_t connection, Entry& e);
    void ReadDnsPackets();
    void ReadDnsTcp(size_t connection, Entry& e);
    void NameFromDns(size_t connection, Entry& e);
    void SetName(size_t connection, Entry& e, NameSource source, std::string_view raw, uint32_t packet,
                 int64_t frameOffset);
    void Settle(size_t connection, Entry& e);

    uint64_t m_generation = 0;
    std::vector<Entry> m_entries;
    std::vector<ConnectionName> m_names;
    // The packet that gave a name, and its connection: sorted when looked up, as the decode does now and
    // then.
    mutable std::vector<std::pair<uint32_t, uint32_t>> m_byPacket;
    mutable size_t m_byPacketSorted = 0;
    std::vector<uint32_t> m_pending;  // ascending
    std::vector<uint32_t> m_dns;      // connections to port 53 over UDP, ascending
    std::unordered_map<size_t, std::unique_ptr<QuicInitialReader>> m_quic;
    DnsNameTable m_dnsNames;
    DnsAnswers m_answers;                // the buffers of the last response read
    std::vector<uint32_t> m_dnsPackets;  // the DNS connections' packets to read next
    std::vector<uint8_t> m_dnsTcpBytes;  // a DNS over TCP server's first bytes, in order
};

// The program's table, read by the lists, the filter, the exports and the decode.
ServerNameTable& ConnectionNames();
