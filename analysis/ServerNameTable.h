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
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

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
    static constexpr size_t kMaxDnsAddresses = 65536;
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
    };
    struct AddressKey {
        uint8_t bytes[17];
        bool operator==(const AddressKey& o) const;
    };
    struct AddressHash {
        size_t operator()(const AddressKey& k) const;
    };
    struct DnsName {
        std::string name, before;  // the latest answer's name and the one before it
        uint32_t packet = 0, beforePacket = UINT32_MAX;
        uint64_t serial = 0;
    };

    void Look(size_t connection);
    void LookTcp(size_t connection, Entry& e);
    void LookUdp(size_t connection, Entry& e);
    void ReadDns(size_t connection, Entry& e);
    void NameFromDns(size_t connection, Entry& e);
    void SetName(size_t connection, Entry& e, NameSource source, const std::string& raw, uint32_t packet,
                 int64_t frameOffset);
    void Settle(size_t connection, Entry& e);

    uint64_t m_generation = 0;
    std::vector<Entry> m_entries;
    std::vector<ConnectionName> m_names;
    std::unordered_map<uint32_t, uint32_t> m_byPacket;  // the packet that gave a name, and its connection
    std::vector<uint32_t> m_pending;                    // ascending
    std::vector<uint32_t> m_dns;                        // connections to port 53 over UDP, ascending
    std::unordered_map<size_t, std::unique_ptr<QuicInitialReader>> m_quic;
    std::unordered_map<AddressKey, DnsName, AddressHash> m_dnsNames;
    std::deque<std::pair<AddressKey, uint64_t>> m_dnsOrder;  // oldest first, with the serial it was given
    uint64_t m_serial = 0;
};

// The program's table, read by the lists, the filter, the exports and the decode.
ServerNameTable& ConnectionNames();
