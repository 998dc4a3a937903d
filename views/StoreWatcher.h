// The store's news for the interface thread. The capture thread (or a file load) writes the store and
// publishes its counts; one watcher per program reads them on a timer of its own and tells what changed:
// `cleared` when the store was emptied (its generation went up), `grew` when packets or connections were
// added, `stateChanged` when the capture state or a counter of dropped frames changed. The lists, the
// traffic graph, the status panes and the Stream tab listen to it instead of reading the globals on timers
// of their own. Signals come in that order within one reading, each at most once.
#pragma once

#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QTimer>
#include <cstddef>
#include <cstdint>
#include <functional>

// What the watcher read last.
struct StoreCounts {
    size_t packets = 0;
    size_t connections = 0;
    uint64_t generation = 0;
    int32_t captureState = 0;
    bool captureOpen = false;  // IsCaptureOpen(): the adapter of a running capture is open
    int32_t notKept = 0;       // g_notKeptCount
    int32_t shortPackets = 0;  // g_shortPacketCount
};
Q_DECLARE_METATYPE(StoreCounts)

class CStoreWatcher : public QObject {
    Q_OBJECT

public:
    // New rows reach the connections list at least this often while packets arrive (100 ms at most).
    static constexpr int kPeriodMs = 50;

    // The program's watcher, made on first use on the interface thread and kept until the end.
    static CStoreWatcher* Instance();

    // A watcher of its own (tests); it reads the store as it is now without telling, then every `periodMs`
    // (0: only when Poll is called).
    explicit CStoreWatcher(int periodMs, QObject* parent = nullptr);

    // Reads the store now and emits what changed since the last reading.
    void Poll();
    const StoreCounts& Counts() const { return m_counts; }

signals:
    void cleared();
    // New packets or connections. Connections firstGrown..lastGrown (none when first > last) of those the
    // store held before gained packets; connections new since the last reading are not in the range.
    void grew(const StoreCounts& counts, uint32_t firstGrown, uint32_t lastGrown);
    void stateChanged(const StoreCounts& counts);

private:
    QTimer m_timer;
    StoreCounts m_counts;
};

// Runs an action on news at most once every `periodMs`: at once when the last run is that long ago,
// otherwise when the period is over, so that the last news never waits for more news. For views whose
// documented refresh is slower than the watcher's period.
class CPacedAction : public QObject {
    Q_OBJECT

public:
    CPacedAction(int periodMs, std::function<void()> action, QObject* parent);
    void Request();

private:
    void Run();

    int m_periodMs;
    std::function<void()> m_action;
    QElapsedTimer m_lastRun;
    QTimer m_due;
};
