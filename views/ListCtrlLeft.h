// The connections list: one row per captured connection, in the order they were created; activating a
// row emits connectionActivated with that connection (the window lists its packets in the packets list).
//
// Live rows: give the engine RowSink() (the main frame forwards IConnectionRows calls to it). Its
// InsertRow and CellsChanged may be called from the capture thread: they only set an atomic mark (no
// lock, no allocation, no event), and the list takes the marks and the store's new connections up on the
// interface thread every CConnectionsModel::kSyncIntervalMs, in one insertion and one repaint. RowsCleared
// must come on the interface thread, after the store was emptied: it empties this list and emits rowsCleared
// (the window empties the packets list on it). The sink lives as long as the list; stop forwarding to it
// before the list is destroyed.
//
// A filter (SetFilter) hides the connections it does not match; "#" keeps showing connection numbers, and
// activation, the highlight and the selection follow connections, not rows.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "views/ReportListView.h"

class CConnectionsModel;
class ConnectionFilter;
class IConnectionRows;

class CListCtrlLeft : public CReportListView {
    Q_OBJECT

public:
    static constexpr int kCopyLineCommand = 159;

    explicit CListCtrlLeft(QWidget* parent = nullptr);
    ~CListCtrlLeft() override;

    // No rows, no highlight (the store was emptied).
    void ClearAll();

    // The engine's row sink; see the top of this file.
    IConnectionRows* RowSink();
    // Takes up new connections and changed cells now instead of at the next tick.
    void Sync();

    // The row last activated, or -1.
    int HighlightedRow() const;
    // The connection last activated, or -1 (it may be hidden by the filter).
    int HighlightedConnection() const;
    // The connection of the selected row, or -1.
    int SelectedConnection() const;

    // Shows only the connections `filter` matches (null or empty: all). The selected connection stays
    // selected when it is still shown.
    void SetFilter(std::shared_ptr<const ConnectionFilter> filter);
    bool IsFiltered() const;
    // The connections the list shows, in order.
    std::vector<uint32_t> ShownConnections() const;
    CConnectionsModel* Model() const { return m_model; }

signals:
    // A row of a connection the store holds was activated.
    void connectionActivated(int connection);
    // The engine emptied the store and this list with it.
    void rowsCleared();

protected:
    void ActivateRow(int row) override;

private:
    // Widens the client and server columns to the IPv6 endpoints of rows first..last.
    void FitEndpointColumns(int first, int last);

    class Sink;

    CConnectionsModel* m_model;
    // Kept across a reset of the rows: the selected connection and the one at the top of the view.
    int m_keepSelected = -1;
    int m_keepTop = -1;
    std::unique_ptr<Sink> m_sink;
};
