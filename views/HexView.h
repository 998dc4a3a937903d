// The right pane of the "Packet" tab: a view that the hex viewer control fills. The packets list loads the
// activated packet through it, and the protocol tree selects bytes through it.
#pragma once

#include <QWidget>

#include "views/HexViewCtrl.h"

class CHexView : public QWidget {
    Q_OBJECT

public:
    explicit CHexView(QWidget* parent = nullptr);

    CHexViewCtrl* HexCtrl() { return m_wndHexCtrl; }
    const CHexViewCtrl* HexCtrl() const { return m_wndHexCtrl; }

private:
    CHexViewCtrl* m_wndHexCtrl;  // owned as a child
};
