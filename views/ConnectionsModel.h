// The connections list's rows: row i is connection i of the store, its texts made only for the rows that
// are painted. Rows follow the store's published connection count; the capture thread only marks changed
// cells, and the interface thread takes the marks up in batches.
//
// With a filter the rows are the matching connections in their order, and "#" still shows each one's
// number: the interface thread tests new connections as it takes them up (the capture thread does nothing
// more), and, for a filter on packet counts, the connections whose cells changed.
#pragma once

#include <QAbstractTableModel>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class ConnectionFilter;

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

    // The row last activated (-1: none, or hidden by the filter) and its connection.
    int HighlightedRow() const { return m_filter ? RowOf(m_highlight) : m_highlight; }
    int HighlightedConnection() const { return m_highlight; }
    void SetHighlightedRow(int row);

    // Shows only the connections `filter` matches (null: all of them), in one reset.
    void SetFilter(std::shared_ptr<const ConnectionFilter> filter);
    bool IsFiltered() const { return m_filter != nullptr; }
    // The connection of `row`, or -1 outside the rows.
    int ConnectionAt(int row) const;
    // The row showing `connection`, or -1 when it is not shown.
    int RowOf(int connection) const;
    // The first row showing `connection` or a later one, or -1.
    int FirstRowFrom(int connection) const;
    // The connections shown, in order (every connection taken up when no filter is set).
    std::vector<uint32_t> ShownConnections() const;

private:
    // Filtered rows: tests the connections the store gained, and those whose cells changed when the filter
    // reads packet counts.
    void SyncFiltered(size_t stored, uint64_t changed);
    static constexpr uint64_t kNoChange = uint64_t{UINT32_MAX} << 32;  // first > last: empty

    int m_rows = 0;
    int m_highlight = -1;  // a connection
    std::shared_ptr<const ConnectionFilter> m_filter;
    std::vector<uint32_t> m_shown;  // with a filter: the rows' connections, ascending
    size_t m_scanned = 0;           // with a filter: connections tested so far
    // Rows whose cells changed: the first in the high half, the last in the low half (one word, so that
    // taking the range is one exchange and no mark is lost between two reads).
    std::atomic<uint64_t> m_changed{kNoChange};
    QTimer m_sync;
};
