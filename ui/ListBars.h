// The two bars that hold the lists: "Connections" (id 123) with the connections list and "Packets" (id 125)
// with the packets list, whose caption the packets list keeps current. Both have the gradient caption and
// their list always fills them.
#pragma once

#include "ui/SizingControlBar.h"

class CListCtrlLeft;
class CListCtrlRight;
class CSizingControlBarCF;
class QMainWindow;

class CConnectionsBar : public CSizingControlBar {
    Q_OBJECT

public:
    static constexpr int kBarId = 123;
    explicit CConnectionsBar(QMainWindow* frame);

    CListCtrlLeft* m_wndList;
    CSizingControlBarCF* m_caption;
};

class CPacketsBar : public CSizingControlBar {
    Q_OBJECT

public:
    static constexpr int kBarId = 125;
    explicit CPacketsBar(QMainWindow* frame);

    CListCtrlRight* m_wndList;
    CSizingControlBarCF* m_caption;
};

// Docks both bars in one row at the top of `frame`, the connections on the left: of the frame's width w
// and height h, the connections bar takes 2w/3 and the row is min(h/3, 200) tall. Call once the frame has
// its size. Their remembered docked sizes become these.
void DockListBars(QMainWindow* frame, CConnectionsBar* connections, CPacketsBar* packets);
