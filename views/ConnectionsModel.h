// The connections list's rows: row i is connection i of the store, its texts made only for the rows that
// are painted. Rows follow the store's news (CStoreWatcher::grew): the new connections in one insertion, and
// the packet counts, last times and owners of the connections that grew in one dataChanged.
//
// With a filter the rows are the matching connections in their order, and "#" still shows each one's
// number: the interface thread tests new connections as it takes them up (the capture thread does nothing
// more), and, for a filter on packet counts, the connections whose cells changed.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <memory>
#include <vector>

#include "capture/Format.h"

class ConnectionFilter;

class CConnectionsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // After the store's columns: the server name the client asked for (ServerNameTable).
    static constexpr int kNameColumn = kConnectionColumns;
    // Then, once an owner is known, the local programs of both sides (ProcessOwner).
    static constexpr int kProcessColumn = kNameColumn + 1;

    explicit CConnectionsModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Takes up what the store gained: one rowsInserted for all new connections and one dataChanged for the
    // cells of connections firstGrown..lastGrown (none when first > last). The watcher's `grew` calls it.
    void TakeUp(uint32_t firstGrown, uint32_t lastGrown);
    // No rows, no highlight.
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
    void TakeUpFiltered(size_t stored, uint32_t firstGrown, uint32_t lastGrown);

    // The Process column, after the others: shown once a connection's owner is known, until the rows are
    // cleared.
    void ShowProcessColumn();
    static QString ProcessText(int connection);

    bool m_processColumn = false;
    int m_rows = 0;
    int m_highlight = -1;  // a connection
    std::shared_ptr<const ConnectionFilter> m_filter;
    std::vector<uint32_t> m_shown;  // with a filter: the rows' connections, ascending
    size_t m_scanned = 0;           // with a filter: connections tested so far
};
