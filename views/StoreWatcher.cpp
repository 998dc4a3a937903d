#include "views/StoreWatcher.h"

#include <QCoreApplication>

#include "capture/LiveCapture.h"
#include "capture/PacketStore.h"

namespace {

StoreCounts ReadCounts() {
    StoreCounts c;
    // The generation first: counts read after it belong to that store or a later one, never an earlier.
    c.generation = g_storeGeneration.load(std::memory_order_acquire);
    c.packets = g_packetTable.size();
    c.connections = g_connectionTable.size();
    c.captureState = g_captureState.load(std::memory_order_relaxed);
    c.captureOpen = IsCaptureOpen();
    c.notKept = g_notKeptCount.load(std::memory_order_relaxed);
    c.shortPackets = g_shortPacketCount.load(std::memory_order_relaxed);
    return c;
}

}  // namespace

CStoreWatcher* CStoreWatcher::Instance() {
    // Parented to the application, so that it goes before the store's globals.
    static CStoreWatcher* watcher = new CStoreWatcher(kPeriodMs, QCoreApplication::instance());
    return watcher;
}

CStoreWatcher::CStoreWatcher(int periodMs, QObject* parent) : QObject(parent), m_counts(ReadCounts()) {
    uint32_t first, last;
    TakeGrownConnections(&first, &last);  // marks of before: the listeners read the store as it is now
    connect(&m_timer, &QTimer::timeout, this, &CStoreWatcher::Poll);
    if (periodMs > 0)
        m_timer.start(periodMs);
}

void CStoreWatcher::Poll() {
    // The marks before the counts: a packet marked is then counted as well.
    uint32_t first, last;
    TakeGrownConnections(&first, &last);
    const StoreCounts now = ReadCounts();
    const StoreCounts before = m_counts;
    m_counts = now;
    bool grown = first <= last;
    if (now.generation != before.generation) {
        emit cleared();
        // Whatever the new store already holds is news; marks do not outlive the store they were made in.
        first = 1;
        last = 0;
        grown = now.packets != 0 || now.connections != 0;
    } else {
        grown = grown || now.packets != before.packets || now.connections != before.connections;
    }
    if (grown)
        emit grew(now, first, last);
    if (now.captureState != before.captureState || now.captureOpen != before.captureOpen ||
        now.notKept != before.notKept || now.shortPackets != before.shortPackets)
        emit stateChanged(now);
}

CPacedAction::CPacedAction(int periodMs, std::function<void()> action, QObject* parent)
    : QObject(parent), m_periodMs(periodMs), m_action(std::move(action)) {
    m_due.setSingleShot(true);
    connect(&m_due, &QTimer::timeout, this, &CPacedAction::Run);
}

void CPacedAction::Request() {
    if (m_due.isActive())
        return;
    const qint64 since = m_lastRun.isValid() ? m_lastRun.elapsed() : m_periodMs;
    if (since >= m_periodMs)
        Run();
    else
        m_due.start(static_cast<int>(m_periodMs - since));
}

void CPacedAction::Run() {
    m_lastRun.start();
    m_action();
}
