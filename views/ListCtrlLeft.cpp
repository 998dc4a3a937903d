#include "views/ListCtrlLeft.h"

#include <QItemSelectionModel>

#include "analysis/ConnectionFilter.h"
#include "capture/PacketStore.h"
#include "frontend/FrontEnd.h"
#include "views/ConnectionsModel.h"
#include "views/ListCtrlRight.h"

class CListCtrlLeft::Sink : public IConnectionRows {
public:
    explicit Sink(CListCtrlLeft* list) : m_list(list), m_model(list->m_model) {}

    // New rows follow the store's published count; nothing to mark.
    void InsertRow(int) override {}
    void CellsChanged(int row, int, int) override { m_model->MarkCellsChanged(row); }
    void RowsCleared() override {
        m_list->ClearAll();
        if (m_list->m_packets)
            m_list->m_packets->ClearAll();
    }

private:
    CListCtrlLeft* m_list;
    CConnectionsModel* m_model;
};

CListCtrlLeft::CListCtrlLeft(QWidget* parent)
    : CReportListView(kCopyLineCommand, parent), m_model(new CConnectionsModel(this)) {
    setObjectName(QStringLiteral("connectionsList"));
    setModel(m_model);
    // "#" and "Packets" as wide as their titles (but "#" still shows a few digits).
    SetUpColumns({{-1, "00000"},
                  {76, "00:00:00.000"},
                  {120, "255.255.255.255:65535"},
                  {120, "255.255.255.255:65535"},
                  {60, "TCP:ftp-data"},
                  {-1, nullptr},
                  {76, "00:00:00.000"}});
    m_sink = std::make_unique<Sink>(this);
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_keepSelected = SelectedConnection();
        m_keepTop = m_model->ConnectionAt(rowAt(0));
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        if (const int row = m_model->RowOf(m_keepSelected); row >= 0)
            selectionModel()->select(m_model->index(row, 0),
                                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        // The rows that were at the top stay there, or the next shown ones.
        if (const int top = m_model->FirstRowFrom(m_keepTop); top >= 0)
            scrollTo(m_model->index(top, 0), QAbstractItemView::PositionAtTop);
    });
}

CListCtrlLeft::~CListCtrlLeft() = default;

void CListCtrlLeft::SetPeers(CListCtrlRight* packets) {
    m_packets = packets;
}

void CListCtrlLeft::ClearAll() {
    m_model->Clear();
    viewport()->update();
}

IConnectionRows* CListCtrlLeft::RowSink() {
    return m_sink.get();
}

void CListCtrlLeft::Sync() {
    m_model->Sync();
}

int CListCtrlLeft::HighlightedRow() const {
    return m_model->HighlightedRow();
}

int CListCtrlLeft::HighlightedConnection() const {
    return m_model->HighlightedConnection();
}

int CListCtrlLeft::SelectedConnection() const {
    return m_model->ConnectionAt(SelectedRow());
}

void CListCtrlLeft::SetFilter(std::shared_ptr<const ConnectionFilter> filter) {
    m_model->SetFilter(std::move(filter));
    viewport()->update();
}

bool CListCtrlLeft::IsFiltered() const {
    return m_model->IsFiltered();
}

std::vector<uint32_t> CListCtrlLeft::ShownConnections() const {
    return m_model->ShownConnections();
}

void CListCtrlLeft::ActivateRow(int row) {
    const int connection = m_model->IsFiltered() ? m_model->ConnectionAt(row) : row;
    // A row the store does not hold (any more) does nothing.
    if (connection < 0 || static_cast<size_t>(connection) >= g_connectionTable.size())
        return;
    if (m_packets)
        m_packets->ShowConnection(connection);
    m_model->SetHighlightedRow(row);
    viewport()->update();
}
