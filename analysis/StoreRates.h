// The rates of what the store holds: every stored packet, and the chosen connection's packets in each
// direction, counted into RateBins as the reader takes new packets up (the thread that stores packets does
// nothing for it). All bins share one origin, the first stored packet's moment.
//
// Call from one thread only (the interface thread during a live capture); it reads the store below the
// counts it loads, as any reader may while the capture thread appends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "analysis/RateBins.h"

class StoreRates {
public:
    // Takes up the packets stored since the last call (and the chosen connection's new ones). Starts over
    // when the store was emptied meanwhile. Returns true when anything changed.
    bool TakeUp();
    // Counts the packets of `connection` per direction from now on (-1, or a connection the store does not
    // hold: none).
    void SetConnection(int connection);
    int Connection() const { return m_connection; }

    const RateBins& All() const { return m_all; }
    // The chosen connection's packets from its client to its server, and back.
    const RateBins& ToServer() const { return m_toServer; }
    const RateBins& ToClient() const { return m_toClient; }
    size_t Taken() const { return m_taken; }

    // The position in the chosen connection's packet list of its packet closest in time at or after
    // `timeUs` (the first such in arrival order when several share that time); -1 when it has none.
    int64_t ConnectionPacketAtOrAfter(int64_t timeUs) const;

private:
    void StartOver();
    bool TakeUpConnection();

    RateBins m_all;
    RateBins m_toServer;
    RateBins m_toClient;
    uint64_t m_generation = 0;
    size_t m_taken = 0;
    int m_connection = -1;
    size_t m_connectionTaken = 0;
};

// The capture timestamp of a stored packet in microseconds (see StampMicros).
struct PacketRecord;
int64_t PacketMicros(const PacketRecord& packet);
