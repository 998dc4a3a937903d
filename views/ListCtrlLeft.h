// The connections list: one row per captured connection, in the order they were created; activating a
// row emits connectionActivated with that connection (the window lists its packets in the packets list).
//
// Live rows: the list follows the store's news (CStoreWatcher): new connections and grown counts in one
// insertion and one repaint per reading of the watcher; when the store was emptied it empties itself and
// emits rowsCleared (the window empties the packets list on it). The capture thread does nothing for it.
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

class CListCtrlLeft : public CReportListView {
    Q_OBJECT

public:
    static constexpr int kCopyLineCommand = 159;

    explicit CListCtrlLeft(QWidget* parent = nullptr);
    ~CListCtrlLeft() override;

    // No rows, no highlight (the store was emptied).
    void ClearAll();

    // Takes up the store's news now instead of at the watcher's next reading (every view that follows the
    // store does so with it).
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

    CConnectionsModel* m_model;
    // Kept across a reset of the rows: the selected connection and the one at the top of the view.
    int m_keepSelected = -1;
    int m_keepTop = -1;
};
