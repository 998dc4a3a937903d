#include "views/PacketsModel.h"

#include <QPainter>
#include <QPixmap>
#include <algorithm>

#include "capture/Format.h"
#include "capture/PacketStore.h"
#include "views/ReportListView.h"

namespace {

// The packet count of a connection the store holds, or -1.
int64_t PacketCount(int connection) {
    if (connection < 0 || static_cast<size_t>(connection) >= g_connectionTable.size())
        return -1;
    return static_cast<int64_t>(
        std::min<size_t>(g_connectionTable[static_cast<size_t>(connection)].packetIndices.size(), INT32_MAX));
}

QPixmap DrawArrow(bool right) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, false);
    // A right-pointing arrow; the left one is its mirror image.
    QPolygon arrow({QPoint(1, 5), QPoint(8, 5), QPoint(8, 1), QPoint(14, 7), QPoint(14, 8), QPoint(8, 14),
                    QPoint(8, 10), QPoint(1, 10)});
    if (!right)
        for (QPoint& pt : arrow)
            pt.setX(15 - pt.x());
    p.setPen(right ? QColor(0, 0, 255) : QColor(255, 0, 0));
    p.setBrush(right ? QColor(0, 200, 0) : QColor(255, 255, 0));
    p.drawPolygon(arrow);
    return pixmap;
}

}  // namespace

CPacketsModel::CPacketsModel(QObject* parent) : QAbstractTableModel(parent) {}

QIcon CPacketsModel::DirectionIcon(bool toServer) {
    static const QIcon right(DrawArrow(true));
    static const QIcon left(DrawArrow(false));
    return toServer ? right : left;
}

int CPacketsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int CPacketsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kPacketColumns;
}

int64_t CPacketsModel::PacketAt(int row) const {
    if (row < 0 || row >= m_rows || row >= PacketCount(m_connection))
        return -1;
    const uint32_t p =
        g_connectionTable[static_cast<size_t>(m_connection)].packetIndices[static_cast<size_t>(row)];
    return p < g_packetTable.size() ? static_cast<int64_t>(p) : -1;
}

QVariant CPacketsModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int64_t p = PacketAt(index.row());
    if (p < 0)
        return {};
    const PacketRecord& packet = g_packetTable[static_cast<size_t>(p)];
    const bool highlighted = index.row() == m_highlight;
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return QString::fromLatin1(PacketCellText(packet, index.column()));
        case Qt::DecorationRole:
            if (index.column() == 0)
                return DirectionIcon(packet.toServer.load(std::memory_order_relaxed) != 0);
            return {};
        case Qt::BackgroundRole:
            if (highlighted)
                return CReportListView::kHighlightBack;
            if (packet.payloadLen <= 0)
                return kNoPayloadBack;
            return packet.toServer.load(std::memory_order_relaxed) ? kToServerBack : kToClientBack;
        case Qt::ForegroundRole:
            // Black on the light backgrounds, also where the desktop's text is light.
            return highlighted ? CReportListView::kHighlightText : kRowText;
        case CReportListView::kHighlightRole:
            return highlighted;
        case kToServerRole:
            return packet.toServer.load(std::memory_order_relaxed) != 0;
        default:
            return {};
    }
}

QVariant CPacketsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kPacketColumns)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kPacketColumnTitles[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

void CPacketsModel::ShowConnection(int connection) {
    beginResetModel();
    const int64_t n = PacketCount(connection);
    m_connection = n < 0 ? -1 : connection;
    m_rows = n < 0 ? 0 : static_cast<int>(n);
    m_highlight = -1;
    endResetModel();
}

void CPacketsModel::Clear() {
    ShowConnection(-1);
}

bool CPacketsModel::Follow() {
    const int64_t n = PacketCount(m_connection);
    if (n < m_rows) {
        // The store was emptied under the list: it shows nothing until a connection is activated.
        Clear();
        return true;
    }
    if (n == m_rows)
        return false;
    beginInsertRows({}, m_rows, static_cast<int>(n) - 1);
    m_rows = static_cast<int>(n);
    endInsertRows();
    return true;
}
