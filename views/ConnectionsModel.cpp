#include "views/ConnectionsModel.h"

#include <algorithm>

#include "capture/Format.h"
#include "capture/PacketStore.h"
#include "views/ReportListView.h"

CConnectionsModel::CConnectionsModel(QObject* parent) : QAbstractTableModel(parent) {
    connect(&m_sync, &QTimer::timeout, this, &CConnectionsModel::Sync);
    m_sync.start(kSyncIntervalMs);
}

int CConnectionsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int CConnectionsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kConnectionColumns;
}

QVariant CConnectionsModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const size_t row = static_cast<size_t>(index.row());
    // A row the store no longer holds (it was cleared just now) shows nothing.
    if (row >= g_connectionTable.size())
        return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return QString::fromLatin1(ConnectionCellText(row, index.column()).view());
        case Qt::BackgroundRole:
            if (index.row() == m_highlight)
                return CReportListView::kHighlightBack;
            return {};
        case Qt::ForegroundRole:
            if (index.row() == m_highlight)
                return CReportListView::kHighlightText;
            return {};
        case CReportListView::kHighlightRole:
            return index.row() == m_highlight;
        default:
            return {};
    }
}

QVariant CConnectionsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kConnectionColumns)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kConnectionColumnTitles[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

void CConnectionsModel::MarkCellsChanged(int row) {
    if (row < 0)
        return;
    const uint64_t r = static_cast<uint32_t>(row);
    uint64_t old = m_changed.load(std::memory_order_relaxed);
    for (;;) {
        const uint64_t first = std::min(old >> 32, r);
        const uint64_t last = std::max(old & UINT32_MAX, r);
        const uint64_t next = (first << 32) | last;
        if (next == old || m_changed.compare_exchange_weak(old, next, std::memory_order_relaxed))
            return;
    }
}

void CConnectionsModel::Sync() {
    const size_t stored = std::min<size_t>(g_connectionTable.size(), INT32_MAX);
    const uint64_t changed = m_changed.exchange(kNoChange, std::memory_order_relaxed);
    if (static_cast<int>(stored) < m_rows) {
        // The store was emptied without word to the list: start again from what it holds now.
        beginResetModel();
        m_rows = static_cast<int>(stored);
        m_highlight = -1;
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
    const int64_t first = static_cast<int64_t>(changed >> 32);
    const int64_t last = std::min<int64_t>(static_cast<int64_t>(changed & UINT32_MAX), before - 1);
    if (first <= last)
        emit dataChanged(index(static_cast<int>(first), 5), index(static_cast<int>(last), 6),
                         {Qt::DisplayRole});
}

void CConnectionsModel::Clear() {
    beginResetModel();
    m_rows = 0;
    m_highlight = -1;
    m_changed.store(kNoChange, std::memory_order_relaxed);
    endResetModel();
}

void CConnectionsModel::SetHighlightedRow(int row) {
    m_highlight = row;
    // The caller repaints the whole list, as the highlight moves from one row to another.
}
