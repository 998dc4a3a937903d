// The packets list: the packets of the connection last activated in the connections list, in arrival
// order, kept up to date every 300 ms. Activating a row shows the packet in the payload view, the hex
// viewer and the decode tree, in that order. Its caption ("Packets", or "%d Packets in Connection No.%d")
// becomes the window title of the bar given to SetBar.
#pragma once

#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "views/ReportListView.h"

class CHexView;
class CListCtrlLeft;
class CPacketsModel;
class CProtocolTreeView;

class CListCtrlRight : public CReportListView {
    Q_OBJECT

public:
    static constexpr int kCopyLineCommand = 160;
    static constexpr int kFollowIntervalMs = 300;
    // The main view's ShowPayload (the views library does not know the main view).
    using ShowPayloadFn = std::function<void(int64_t packetIndex)>;

    explicit CListCtrlRight(QWidget* parent = nullptr);
    ~CListCtrlRight() override;

    // The connections list, the main view's ShowPayload, the hex view and the decode tree. Not owned; any
    // may be null.
    void SetPeers(CListCtrlLeft* connections, ShowPayloadFn showPayload, CHexView* hex,
                  CProtocolTreeView* tree);
    // The bar whose window title shows the caption. Not owned.
    void SetBar(QWidget* bar);

    // Empty, caption "Packets", no highlight. The detail views keep what they show.
    void ClearAll();
    // Lists the packets of `connection` (an index outside the store shows nothing); no highlight.
    void ShowConnection(int connection);
    // Appends the rows of packets the shown connection received since (its timer does this).
    void Follow();

    int CurrentConnection() const;
    int HighlightedRow() const;
    const QString& Caption() const { return m_caption; }
    CPacketsModel* Model() const { return m_model; }

signals:
    void captionChanged(const QString& caption);

protected:
    void ActivateRow(int row) override;

private:
    void SetCaption(const QString& caption);
    void UpdateCaption();

    CPacketsModel* m_model;
    QTimer m_follow;
    QString m_caption;
    QPointer<QWidget> m_bar;
    QPointer<CListCtrlLeft> m_connections;
    ShowPayloadFn m_showPayload;
    QPointer<CHexView> m_hex;
    QPointer<CProtocolTreeView> m_tree;
};
