#include "ui/TrafficBar.h"

#include <QAction>
#include <QMainWindow>

#include "config/SettingsStore.h"
#include "ui/CaptionBars.h"
#include "views/ListCtrlRight.h"
#include "views/TrafficGraph.h"

CTrafficBar::CTrafficBar(QMainWindow* frame, CListCtrlRight* packets)
    : CSizingControlBar(QStringLiteral("Traffic"), frame, kBarId),
      m_graph(new CTrafficGraph(this)),
      m_toggle(new QAction(QStringLiteral("T&raffic Bar"), this)),
      m_packets(packets) {
    m_caption = new CSizingControlBarCF(this);
    m_graph->setMinimumSize(1, 1);
    setWidget(m_graph);
    m_graph->SetConnectionSource([this] { return m_packets ? m_packets->CurrentConnection() : -1; });
    // Another connection in the list: the graph draws its lines now, not at the store's next news.
    if (m_packets)
        connect(m_packets, &CListCtrlRight::connectionShown, m_graph, &CTrafficGraph::Refresh);
    connect(m_graph, &CTrafficGraph::momentChosen, this, &CTrafficBar::SelectPacketAt);

    m_toggle->setData(kToggleCommand);
    m_toggle->setCheckable(true);
    m_toggle->setStatusTip(QStringLiteral("Show or hide the traffic graph"));
    m_toggle->setToolTip(QStringLiteral("Toggle Traffic Bar"));
    connect(m_toggle, &QAction::triggered, this, &CTrafficBar::SetShown);
    // The close glyph of its caption hides it too: the toggle and the setting follow. Hiding with its window
    // (closed, or sent to the tray) is not the user's choice about the bar.
    connect(this, &QDockWidget::visibilityChanged, this, [this, frame] {
        if (frame->isVisible() && m_toggle->isChecked() == isHidden()) {
            m_toggle->setChecked(!isHidden());
            OpenSettingsStore().setValue(kShownKey, !isHidden());
        }
    });

    m_sizeHorz = QSize(frame->width(), 170);
    frame->addDockWidget(Qt::BottomDockWidgetArea, this);
    const bool shown = OpenSettingsStore().value(kShownKey, false).toBool();
    setVisible(shown);
    m_toggle->setChecked(shown);
    if (shown)
        ApplyBarSize();
}

void CTrafficBar::SetShown(bool shown) {
    setVisible(shown);
    m_toggle->setChecked(shown);
    if (shown) {
        ApplyBarSize();
        m_graph->Refresh();
    }
    OpenSettingsStore().setValue(kShownKey, shown);
}

void CTrafficBar::SelectPacketAt(qint64 us) {
    if (!m_packets)
        return;
    // The graph draws the list's connection; make sure it is the one the positions come from.
    m_graph->ShowConnection(m_packets->CurrentConnection());
    m_packets->Follow();
    const int64_t row = m_graph->Rates().ConnectionPacketAtOrAfter(us);
    if (row >= 0 && row < INT32_MAX)
        m_packets->SelectAndActivate(static_cast<int>(row));
}
