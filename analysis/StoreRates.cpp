#include "analysis/StoreRates.h"

#include "capture/PacketStore.h"

int64_t PacketMicros(const PacketRecord& packet) {
    return StampMicrosFast(packet.stamp.sec, packet.stamp.usec);
}

void StoreRates::StartOver() {
    m_generation = g_storeGeneration.load(std::memory_order_acquire);
    m_taken = 0;
    m_connectionTaken = 0;
    m_connection = -1;
    m_all = RateBins();
    m_toServer = RateBins();
    m_toClient = RateBins();
}

bool StoreRates::TakeUp() {
    bool changed = false;
    if (g_storeGeneration.load(std::memory_order_acquire) != m_generation) {
        changed = m_taken > 0 || m_connection >= 0;
        StartOver();
    }
    const size_t n = g_packetTable.size();
    if (n > m_taken) {
        if (!m_all.HasOrigin()) {
            const int64_t origin = PacketMicros(g_packetTable[0]);
            m_all.Reset(origin);
            m_toServer.Reset(origin);
            m_toClient.Reset(origin);
        }
        for (size_t i = m_taken; i < n; ++i) {
            const PacketRecord& p = g_packetTable[i];
            m_all.Add(PacketMicros(p), static_cast<uint32_t>(p.capLen));
        }
        m_all.Flush();
        m_taken = n;
        changed = true;
    }
    return TakeUpConnection() || changed;
}

bool StoreRates::TakeUpConnection() {
    if (m_connection < 0 || static_cast<size_t>(m_connection) >= g_connectionTable.size())
        return false;
    const AppendOnlyIndexList& indices = g_connectionTable[static_cast<size_t>(m_connection)].packetIndices;
    const size_t n = indices.size();
    if (n <= m_connectionTaken)
        return false;
    for (size_t i = m_connectionTaken; i < n; ++i) {
        const uint32_t index = indices[i];
        if (index >= m_taken)  // not taken up into the capture's bins yet: next time
            break;
        const PacketRecord& p = g_packetTable[index];
        (p.toServer.load(std::memory_order_relaxed) ? m_toServer : m_toClient)
            .Add(PacketMicros(p), static_cast<uint32_t>(p.capLen));
        m_connectionTaken = i + 1;
    }
    m_toServer.Flush();
    m_toClient.Flush();
    return true;
}

void StoreRates::SetConnection(int connection) {
    if (connection == m_connection)
        return;
    const int64_t origin = m_all.OriginUs();
    m_toServer.Reset(origin);
    m_toClient.Reset(origin);
    m_connectionTaken = 0;
    m_connection =
        connection < 0 || static_cast<size_t>(connection) >= g_connectionTable.size() ? -1 : connection;
    TakeUpConnection();
}

int64_t StoreRates::ConnectionPacketAtOrAfter(int64_t timeUs) const {
    if (m_connection < 0 || static_cast<size_t>(m_connection) >= g_connectionTable.size())
        return -1;
    const AppendOnlyIndexList& indices = g_connectionTable[static_cast<size_t>(m_connection)].packetIndices;
    const size_t n = indices.size();
    int64_t best = -1;
    int64_t bestTime = INT64_MAX;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t index = indices[i];
        if (index >= g_packetTable.size())
            continue;
        const int64_t t = PacketMicros(g_packetTable[index]);
        if (t >= timeUs && t < bestTime) {
            best = static_cast<int64_t>(i);
            bestTime = t;
            if (t == timeUs)
                break;
        }
    }
    return best;
}
