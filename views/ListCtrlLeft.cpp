#include "views/ListCtrlLeft.h"

#include <QHeaderView>

#include "capture/Format.h"
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
    // IPv6 endpoints are wider than the columns were made for: they widen to fit what they hold.
    connect(m_model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { FitEndpointColumns(first, last); });
}

void CListCtrlLeft::FitEndpointColumns(int first, int last) {
    for (int row = first; row <= last && static_cast<size_t>(row) < g_connectionTable.size(); ++row) {
        if (!g_connectionTable[static_cast<size_t>(row)].isIpv6)
            continue;
        for (int column : {2, 3}) {
            const QString text =
                QString::fromLatin1(ConnectionCellText(static_cast<size_t>(row), column).view());
            const int wanted = fontMetrics().horizontalAdvance(text) + 16;
            if (columnWidth(column) < wanted)
                setColumnWidth(column, wanted);
        }
    }
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

void CListCtrlLeft::ActivateRow(int row) {
    // A row the store does not hold (any more) does nothing.
    if (static_cast<size_t>(row) >= g_connectionTable.size())
        return;
    if (m_packets)
        m_packets->ShowConnection(row);
    m_model->SetHighlightedRow(row);
    viewport()->update();
}
