// The connections list's rows: row i is connection i of the store, its texts made only for the rows that
// are painted. Rows follow the store's published connection count; the capture thread only marks changed
// cells, and the interface thread takes the marks up in batches.
#pragma once

#include <QAbstractTableModel>
#include <QTimer>
#include <atomic>
#include <cstdint>

class CConnectionsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // How often the interface thread takes up new rows and changed cells.
    static constexpr int kSyncIntervalMs = 50;

    explicit CConnectionsModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Any thread, wait-free: cells of `row` changed. No lock, no allocation, no event.
    void MarkCellsChanged(int row);

    // Interface thread. Takes up what the store gained since the last call: one rowsInserted for all new
    // connections and one dataChanged for the changed cells. Runs on its own timer as well.
    void Sync();
    // Interface thread: no rows, no highlight, no pending marks.
    void Clear();

    int HighlightedRow() const { return m_highlight; }
    void SetHighlightedRow(int row);

private:
    static constexpr uint64_t kNoChange = uint64_t{UINT32_MAX} << 32;  // first > last: empty

    int m_rows = 0;
    int m_highlight = -1;
    // Rows whose cells changed: the first in the high half, the last in the low half (one word, so that
    // taking the range is one exchange and no mark is lost between two reads).
    std::atomic<uint64_t> m_changed{kNoChange};
    QTimer m_sync;
};
