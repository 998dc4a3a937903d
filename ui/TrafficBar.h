// The "Traffic" bar: a docking bar like the two list bars, holding the traffic graph. It draws the
// connection the packets list shows, and a click on the graph selects that connection's first packet at or
// after the moment clicked in the packets list. Hidden at first start; the View menu's "Traffic Bar"
// toggle (ToggleAction) and its caption's close glyph show and hide it, and the choice is remembered.
#pragma once

#include <QPointer>

#include "ui/SizingControlBar.h"

class CListCtrlRight;
class CSizingControlBarCF;
class CTrafficGraph;
class QAction;

class CTrafficBar : public CSizingControlBar {
    Q_OBJECT

public:
    static constexpr int kBarId = 127;
    // The toggle's command number (the action's data).
    static constexpr int kToggleCommand = 32810;
    // Settings entry of QSettings("Morvane", "Pacterra"): the bar was shown when the user last chose.
    static constexpr char kShownKey[] = "TrafficBar/Shown";

    // Docks itself at the bottom of `frame`, shown or not as the user left it. `packets` may be null.
    CTrafficBar(QMainWindow* frame, CListCtrlRight* packets);

    CTrafficGraph* Graph() const { return m_graph; }
    QAction* ToggleAction() const { return m_toggle; }
    CSizingControlBarCF* m_caption;

private:
    void SetShown(bool shown);
    void SelectPacketAt(qint64 us);

    CTrafficGraph* m_graph;
    QAction* m_toggle;
    QPointer<CListCtrlRight> m_packets;
};
