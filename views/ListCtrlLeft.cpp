#include "views/ListCtrlLeft.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <algorithm>
#include <string>
#include <vector>

#include "analysis/ConnectionFilter.h"
#include "capture/Format.h"
#include "capture/PacketStore.h"
#include "views/ConnectionsModel.h"
#include "views/StoreWatcher.h"

namespace {

// Every label the "Protocol" column can show (found once: it asks about every port).
QStringList FindServiceLabels() {
    std::vector<std::string> labels;
    for (int protocol : {6, 17}) {
        for (int port = 0; port <= 0xFFFF; ++port) {
            const auto p = static_cast<uint16_t>(port);
            const ShortText label = ServiceLabel(p, p, protocol);
            if (std::find(labels.begin(), labels.end(), label.view()) == labels.end())
                labels.emplace_back(label.view());
        }
    }
    QStringList out;
    for (const std::string& label : labels)
        out << QString::fromStdString(label);
    return out;
}

}  // namespace

CListCtrlLeft::CListCtrlLeft(QWidget* parent)
    : CReportListView(kCopyLineCommand, parent), m_model(new CConnectionsModel(this)) {
    setObjectName(QStringLiteral("connectionsList"));
    m_lineSkipsEmptyLastCell = true;  // the Name column
    setModel(m_model);
    // Every column shows its title and its widest value whole: IPv4 endpoints, and seven digits for "#"
    // and "Packets" (a store of 200 MB holds fewer than ten million connections or packets).
    const QString count = QStringLiteral("0000000");
    const QString time = QStringLiteral("00:00:00.000");
    const QString endpoint = QStringLiteral("000.000.000.000:00000");
    static const QStringList kServiceLabels = FindServiceLabels();
    SetUpColumns({{0, {count}},
                  {76, {time}},
                  {120, {endpoint}},
                  {120, {endpoint}},
                  {60, kServiceLabels},
                  {0, {count}},
                  {76, {time}},
                  {160, {QStringLiteral("www.example.com.cdn.example.net")}}});
    // The store was emptied (a capture or a load starts): so is the list, and whatever shows from it.
    connect(CStoreWatcher::Instance(), &CStoreWatcher::cleared, this, [this] {
        ClearAll();
        emit rowsCleared();
    });
    // IPv6 endpoints are wider than the columns were made for: they widen to fit what they hold.
    connect(m_model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { FitEndpointColumns(first, last); });
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

void CListCtrlLeft::FitEndpointColumns(int first, int last) {
    for (int row = first; row <= last; ++row) {
        // Rows are the shown connections: a filter hides some.
        const int connection = m_model->ConnectionAt(row);
        if (connection < 0 || static_cast<size_t>(connection) >= g_connectionTable.size() ||
            !g_connectionTable[static_cast<size_t>(connection)].IsIpv6())
            continue;
        for (int column : {2, 3}) {
            const QString text =
                QString::fromLatin1(ConnectionCellText(static_cast<size_t>(connection), column).view());
            const int wanted = fontMetrics().horizontalAdvance(text) + 16;
            if (columnWidth(column) < wanted)
                setColumnWidth(column, wanted);
        }
    }
}

CListCtrlLeft::~CListCtrlLeft() = default;

void CListCtrlLeft::ClearAll() {
    m_model->Clear();
    viewport()->update();
}

void CListCtrlLeft::Sync() {
    CStoreWatcher::Instance()->Poll();
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
    emit connectionActivated(connection);
    m_model->SetHighlightedRow(row);
    viewport()->update();
}
