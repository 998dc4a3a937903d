#include "views/ListCtrlRight.h"

#include <QHeaderView>
#include <QScrollBar>

#include "capture/PacketStore.h"
#include "views/HexView.h"
#include "views/ListCtrlLeft.h"
#include "views/PacketsModel.h"
#include "views/ProtocolTreeView.h"

CListCtrlRight::CListCtrlRight(QWidget* parent)
    : CReportListView(kCopyLineCommand, parent), m_model(new CPacketsModel(this)) {
    setObjectName(QStringLiteral("packetsList"));
    setModel(m_model);
    setIconSize(QSize(16, 16));
    verticalHeader()->setDefaultSectionSize(std::max(verticalHeader()->defaultSectionSize(), 18));
    // Titles and values whole; the payload preview keeps its width and is cut.
    const QString length = QStringLiteral("00000");
    SetUpColumns({{100, {QStringLiteral("00:00:00.000")}, true}, {40, {length}}, {40, {length}}, {300, {}}});
    m_caption = QStringLiteral("Packets");
    connect(&m_follow, &QTimer::timeout, this, &CListCtrlRight::Follow);
    m_follow.start(kFollowIntervalMs);
}

CListCtrlRight::~CListCtrlRight() = default;

void CListCtrlRight::SetPeers(CListCtrlLeft* connections, ShowPayloadFn showPayload, CHexView* hex,
                              CProtocolTreeView* tree) {
    m_connections = connections;
    m_showPayload = std::move(showPayload);
    m_hex = hex;
    m_tree = tree;
}

void CListCtrlRight::SetBar(QWidget* bar) {
    m_bar = bar;
    if (m_bar)
        m_bar->setWindowTitle(m_caption);
}

void CListCtrlRight::ClearAll() {
    m_model->Clear();
    SetCaption(QStringLiteral("Packets"));
    viewport()->update();
}

void CListCtrlRight::ShowConnection(int connection) {
    m_model->ShowConnection(connection);
    UpdateCaption();
    scrollToTop();
    viewport()->update();
}

void CListCtrlRight::Follow() {
    if (m_model->Follow())
        UpdateCaption();
}

int CListCtrlRight::CurrentConnection() const {
    return m_model->Connection();
}

int CListCtrlRight::HighlightedRow() const {
    return m_model->HighlightedRow();
}

void CListCtrlRight::UpdateCaption() {
    if (m_model->Connection() < 0)
        SetCaption(QStringLiteral("Packets"));
    else
        SetCaption(QStringLiteral("%1 Packets in Connection No.%2")
                       .arg(m_model->rowCount())
                       .arg(m_model->Connection()));
}

void CListCtrlRight::SetCaption(const QString& caption) {
    if (caption == m_caption)
        return;
    m_caption = caption;
    if (m_bar)
        m_bar->setWindowTitle(caption);
    emit captionChanged(caption);
}

void CListCtrlRight::ActivateRow(int row) {
    const int64_t p = m_model->PacketAt(row);
    if (p < 0)
        return;
    const PacketRecord& packet = g_packetTable[static_cast<size_t>(p)];
    // Payload first, then the bytes painted at once, then the decode: the order the user sees them fill.
    if (m_showPayload)
        m_showPayload(p);
    if (m_hex) {
        CHexViewCtrl* ctrl = m_hex->HexCtrl();
        ctrl->SetData(packet.data, packet.capLen);
        ctrl->viewport()->repaint();
    }
    if (m_tree)
        m_tree->ShowPacket(packet.data, packet.capLen);
    m_model->SetHighlightedRow(row);
    viewport()->update();
}
