// The packets list: the packets of the connection last activated in the connections list, in arrival
// order, kept up to date every 300 ms while the store grows (it follows the store's news, at that pace).
// Activating a row emits packetActivated with the packet's index in the store (the window shows it in the
// payload view, the hex viewer and the decode tree, in that order). Its caption ("Packets", or "%d Packets
// in Connection No.%d") goes out through captionChanged; the bar that hosts the list shows it as its title.
#pragma once

#include <cstdint>

#include "views/ReportListView.h"

class CPacedAction;
class CPacketsModel;

class CListCtrlRight : public CReportListView {
    Q_OBJECT

public:
    static constexpr int kCopyLineCommand = 160;
    static constexpr int kFollowIntervalMs = 300;

    explicit CListCtrlRight(QWidget* parent = nullptr);
    ~CListCtrlRight() override;

    // Empty, caption "Packets", no highlight. The detail views keep what they show.
    void ClearAll();
    // Lists the packets of `connection` (an index outside the store shows nothing); no highlight.
    void ShowConnection(int connection);
    // Appends the rows of packets the shown connection received since (the store's news does this).
    void Follow();

    int CurrentConnection() const;
    int HighlightedRow() const;
    const QString& Caption() const { return m_caption; }
    CPacketsModel* Model() const { return m_model; }

signals:
    void captionChanged(const QString& caption);
    // The list shows `connection` now (-1: none): ShowConnection, or ClearAll.
    void connectionShown(int connection);
    // A row was activated: `packetIndex` is its packet's index in the store.
    void packetActivated(int64_t packetIndex);

protected:
    void ActivateRow(int row) override;

private:
    void SetCaption(const QString& caption);
    void UpdateCaption();

    CPacketsModel* m_model;
    CPacedAction* m_follow;
    QString m_caption;
};
