#include "ui/ListBars.h"

#include <QAction>
#include <QMainWindow>

#include "ui/CaptionBars.h"
#include "views/ConnectionFilterLine.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"

namespace {

// The list fills the bar; its own minimum must not hold the bar above the bar's.
void Host(CSizingControlBar* bar, QWidget* list) {
    list->setMinimumSize(1, 1);
    bar->setWidget(list);
}

}  // namespace

CConnectionsBar::CConnectionsBar(QMainWindow* frame)
    : CSizingControlBar(QStringLiteral("Connections"), frame, kBarId), m_wndList(new CListCtrlLeft(this)) {
    m_caption = new CSizingControlBarCF(this);
    // The filter line above the list. Its Ctrl+L belongs to the window as much as to the bar, which may
    // float.
    QWidget* pane = CConnectionFilterLine::CreatePane(m_wndList, this);
    Host(this, pane);
    if (auto* focus = pane->findChild<QAction*>(QStringLiteral("filterConnectionsAction")); focus && frame)
        frame->addAction(focus);
}

CPacketsBar::CPacketsBar(QMainWindow* frame)
    : CSizingControlBar(QStringLiteral("Packets"), frame, kBarId), m_wndList(new CListCtrlRight(this)) {
    m_caption = new CSizingControlBarCF(this);
    Host(this, m_wndList);
    // The bar's title is the list's caption.
    setWindowTitle(m_wndList->Caption());
    connect(m_wndList, &CListCtrlRight::captionChanged, this, &QWidget::setWindowTitle);
}

void DockListBars(QMainWindow* frame, CConnectionsBar* connections, CPacketsBar* packets) {
    const int w = frame->width();
    const int h = frame->height();
    const int c = 2 * w / 3;
    const int b = std::min(h / 3, 200);
    frame->addDockWidget(Qt::TopDockWidgetArea, connections);
    frame->splitDockWidget(connections, packets, Qt::Horizontal);
    connections->m_sizeHorz = QSize(c + 1, b);
    packets->m_sizeHorz = QSize(w - c, b);
    frame->resizeDocks({connections, packets}, {c + 1, w - c}, Qt::Horizontal);
    frame->resizeDocks({connections, packets}, {b, b}, Qt::Vertical);
}
