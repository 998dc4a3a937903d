#include "views/ListCtrlRight.h"

#include <QHeaderView>
#include <QScrollBar>

#include "views/PacketsModel.h"
#include "views/StoreWatcher.h"

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
    m_follow = new CPacedAction(
        kFollowIntervalMs, [this] { Follow(); }, this);
    CStoreWatcher* watcher = CStoreWatcher::Instance();
    // Any news may concern the shown connection (a store emptied under it, too); Follow is cheap otherwise.
    auto news = [this] {
        if (m_model->Connection() >= 0)
            m_follow->Request();
    };
    connect(watcher, &CStoreWatcher::grew, this, news);
    connect(watcher, &CStoreWatcher::cleared, this, news);
}

CListCtrlRight::~CListCtrlRight() = default;

void CListCtrlRight::ClearAll() {
    m_model->Clear();
    SetCaption(QStringLiteral("Packets"));
    viewport()->update();
    emit connectionShown(-1);
}

void CListCtrlRight::ShowConnection(int connection) {
    m_model->ShowConnection(connection);
    UpdateCaption();
    scrollToTop();
    viewport()->update();
    emit connectionShown(m_model->Connection());
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
    emit captionChanged(caption);
}

void CListCtrlRight::ActivateRow(int row) {
    const int64_t p = m_model->PacketAt(row);
    if (p < 0)
        return;
    emit packetActivated(p);
    m_model->SetHighlightedRow(row);
    viewport()->update();
}
