#include "views/ConnectionsModel.h"

#include <algorithm>

#include "analysis/ConnectionFilter.h"
#include "analysis/ServerNameTable.h"
#include "capture/Format.h"
#include "capture/PacketStore.h"
#include "capture/ProcessOwner.h"
#include "views/ReportListView.h"
#include "views/StoreWatcher.h"

CConnectionsModel::CConnectionsModel(QObject* parent) : QAbstractTableModel(parent) {
    CStoreWatcher* watcher = CStoreWatcher::Instance();
    connect(watcher, &CStoreWatcher::grew, this,
            [this](const StoreCounts&, uint32_t first, uint32_t last) { TakeUp(first, last); });
    // What the store holds already: the watcher tells only what changes from now on.
    TakeUp(1, 0);
}

int CConnectionsModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return m_filter ? static_cast<int>(m_shown.size()) : m_rows;
}

int CConnectionsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kNameColumn + 1 + (m_processColumn ? 1 : 0);
}

QString CConnectionsModel::ProcessText(int connection) {
    ConnectionOwners owners;
    if (!GetConnectionOwners(&g_connectionTable[static_cast<size_t>(connection)], owners))
        return {};
    return QString::fromStdString(OwnersCellText(owners));
}

void CConnectionsModel::ShowProcessColumn() {
    if (m_processColumn || g_ownedConnections.load(std::memory_order_relaxed) == 0)
        return;
    beginInsertColumns({}, kProcessColumn, kProcessColumn);
    m_processColumn = true;
    endInsertColumns();
}

QVariant CConnectionsModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int connection = ConnectionAt(index.row());
    // A row the store no longer holds (it was cleared just now) shows nothing.
    if (connection < 0 || static_cast<size_t>(connection) >= g_connectionTable.size())
        return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            if (index.column() == kNameColumn) {
                const ConnectionName* name = ConnectionNames().Find(static_cast<size_t>(connection));
                if (!name)
                    return QString();
                const QString text = QString::fromLatin1(name->name);
                return role == Qt::ToolTipRole
                           ? tr("%1 (from %2)").arg(text, QString::fromLatin1(NameSourceText(name->source)))
                           : text;
            }
            if (index.column() == kProcessColumn)
                return ProcessText(connection);
            return QString::fromLatin1(
                ConnectionCellText(static_cast<size_t>(connection), index.column()).view());
        case Qt::BackgroundRole:
            if (connection == m_highlight)
                return CReportListView::kHighlightBack;
            return {};
        case Qt::ForegroundRole:
            if (connection == m_highlight)
                return CReportListView::kHighlightText;
            return {};
        case CReportListView::kHighlightRole:
            return connection == m_highlight;
        default:
            return {};
    }
}

QVariant CConnectionsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole && section == kProcessColumn)
        return QStringLiteral("Process");
    if (role == Qt::DisplayRole)
        return section == kNameColumn ? tr("Name") : QString::fromLatin1(kConnectionColumnTitles[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

void CConnectionsModel::TakeUp(uint32_t firstGrown, uint32_t lastGrown) {
    // Names first, so that the filter tests new connections with theirs.
    ConnectionNames().Update(firstGrown, lastGrown);
    ShowProcessColumn();
    const size_t stored = std::min<size_t>(g_connectionTable.size(), INT32_MAX);
    if (m_filter) {
        TakeUpFiltered(stored, firstGrown, lastGrown);
        return;
    }
    if (static_cast<int>(stored) < m_rows) {
        // The store was emptied without word to the list: start again from what it holds now.
        beginResetModel();
        m_rows = static_cast<int>(stored);
        m_highlight = -1;
        m_processColumn = g_ownedConnections.load(std::memory_order_relaxed) != 0;
        endResetModel();
        return;
    }
    const int before = m_rows;
    if (static_cast<int>(stored) > m_rows) {
        beginInsertRows({}, m_rows, static_cast<int>(stored) - 1);
        m_rows = static_cast<int>(stored);
        endInsertRows();
    }
    // Only rows that were there already: new rows are painted fresh anyway.
    const int64_t first = firstGrown;
    const int64_t last = std::min<int64_t>(lastGrown, before - 1);
    if (first <= last)
        emit dataChanged(index(static_cast<int>(first), 5), index(static_cast<int>(last), columnCount() - 1),
                         {Qt::DisplayRole});
}

void CConnectionsModel::TakeUpFiltered(size_t stored, uint32_t firstGrown, uint32_t lastGrown) {
    if (stored < m_scanned) {
        // The store was emptied without word to the list: test what it holds now.
        beginResetModel();
        m_shown.clear();
        m_filter->Scan(g_connectionTable, 0, stored, m_shown);
        m_scanned = stored;
        m_rows = static_cast<int>(stored);
        m_highlight = -1;
        m_processColumn = g_ownedConnections.load(std::memory_order_relaxed) != 0;
        endResetModel();
        return;
    }
    const size_t before = m_scanned;
    const size_t first = firstGrown;
    const size_t last = std::min<size_t>(lastGrown, before == 0 ? 0 : before - 1);
    const auto lo = std::lower_bound(m_shown.begin(), m_shown.end(), static_cast<uint32_t>(first));
    const auto hi = std::upper_bound(lo, m_shown.end(), static_cast<uint32_t>(last));
    if (first <= last && before > 0 && m_filter->DependsOnPacketCount()) {
        // A count crossed the filter's bound: the rows of the changed range are tested again, and only when
        // they differ is the list laid out anew.
        std::vector<uint32_t> fresh;
        m_filter->Scan(g_connectionTable, first, last + 1, fresh);
        if (!std::equal(lo, hi, fresh.begin(), fresh.end())) {
            std::vector<uint32_t> shown(m_shown.begin(), lo);
            shown.insert(shown.end(), fresh.begin(), fresh.end());
            shown.insert(shown.end(), hi, m_shown.end());
            m_filter->Scan(g_connectionTable, before, stored, shown);
            beginResetModel();
            m_shown = std::move(shown);
            m_scanned = stored;
            m_rows = static_cast<int>(stored);
            endResetModel();
            return;
        }
    }
    const int firstRow = static_cast<int>(lo - m_shown.begin());
    const int lastRow = static_cast<int>(hi - m_shown.begin()) - 1;
    if (stored > before) {
        std::vector<uint32_t> added;
        m_filter->Scan(g_connectionTable, before, stored, added);
        m_scanned = stored;
        m_rows = static_cast<int>(stored);
        if (!added.empty()) {
            const int at = static_cast<int>(m_shown.size());
            beginInsertRows({}, at, at + static_cast<int>(added.size()) - 1);
            m_shown.insert(m_shown.end(), added.begin(), added.end());
            endInsertRows();
        }
    }
    if (first <= last && firstRow <= lastRow)
        emit dataChanged(index(firstRow, 5), index(lastRow, columnCount() - 1), {Qt::DisplayRole});
}

void CConnectionsModel::SetFilter(std::shared_ptr<const ConnectionFilter> filter) {
    if (filter && filter->IsEmpty())
        filter = nullptr;
    if (!filter && !m_filter)
        return;
    const size_t stored = std::min<size_t>(g_connectionTable.size(), INT32_MAX);
    beginResetModel();
    m_filter = std::move(filter);
    m_shown.clear();
    if (m_filter) {
        m_shown.shrink_to_fit();
        m_filter->Scan(g_connectionTable, 0, stored, m_shown);
    }
    m_scanned = stored;
    m_rows = static_cast<int>(stored);
    endResetModel();
}

int CConnectionsModel::ConnectionAt(int row) const {
    if (row < 0 || row >= rowCount())
        return -1;
    return m_filter ? static_cast<int>(m_shown[static_cast<size_t>(row)]) : row;
}

int CConnectionsModel::RowOf(int connection) const {
    if (connection < 0)
        return -1;
    if (!m_filter)
        return connection < m_rows ? connection : -1;
    const auto it = std::lower_bound(m_shown.begin(), m_shown.end(), static_cast<uint32_t>(connection));
    return it != m_shown.end() && *it == static_cast<uint32_t>(connection)
               ? static_cast<int>(it - m_shown.begin())
               : -1;
}

int CConnectionsModel::FirstRowFrom(int connection) const {
    if (connection < 0)
        return -1;
    if (!m_filter)
        return connection < m_rows ? connection : -1;
    const auto it = std::lower_bound(m_shown.begin(), m_shown.end(), static_cast<uint32_t>(connection));
    return it != m_shown.end() ? static_cast<int>(it - m_shown.begin()) : -1;
}

std::vector<uint32_t> CConnectionsModel::ShownConnections() const {
    if (m_filter)
        return m_shown;
    std::vector<uint32_t> all(static_cast<size_t>(m_rows));
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<uint32_t>(i);
    return all;
}

void CConnectionsModel::Clear() {
    beginResetModel();
    m_rows = 0;
    m_shown.clear();
    m_scanned = 0;
    m_highlight = -1;
    m_processColumn = false;
    endResetModel();
}

void CConnectionsModel::SetHighlightedRow(int row) {
    m_highlight = m_filter ? ConnectionAt(row) : row;
    // The caller repaints the whole list, as the highlight moves from one row to another.
}
