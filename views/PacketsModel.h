// The packets list's rows: row i is the i-th packet of the shown connection, its texts made only for the
// rows that are painted. Showing a connection is a reset with a count, whatever its size.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <cstdint>

class CPacketsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // true for a packet from the client to the server (under the first column).
    static constexpr int kToServerRole = Qt::UserRole + 2;

    // Row backgrounds, fixed whatever the desktop's colours; their text is fixed with them.
    static constexpr QColor kToServerBack{200, 252, 200};
    static constexpr QColor kToClientBack{248, 232, 216};
    static constexpr QColor kNoPayloadBack{255, 255, 255};
    static constexpr QColor kRowText{0, 0, 0};

    explicit CPacketsModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Shows connection `connection` with the packets it holds now; an index outside the store shows nothing
    // (connection -1). No row is highlighted afterwards.
    void ShowConnection(int connection);
    void Clear();
    // Appends the rows for packets the shown connection received since; true when the rows changed (an
    // emptied store empties the list).
    bool Follow();

    int Connection() const { return m_connection; }
    // The stored packet of `row`, or -1 when the row or its packet lies outside the store.
    int64_t PacketAt(int row) const;

    int HighlightedRow() const { return m_highlight; }
    void SetHighlightedRow(int row) { m_highlight = row; }

    // The direction arrows: right (client to server) blue on green, left (server to client) red on yellow.
    static QIcon DirectionIcon(bool toServer);

private:
    int m_connection = -1;
    int m_rows = 0;
    int m_highlight = -1;
};
