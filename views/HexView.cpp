#include "views/HexView.h"

#include <QVBoxLayout>

CHexView::CHexView(QWidget* parent) : QWidget(parent), m_wndHexCtrl(new CHexViewCtrl(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_wndHexCtrl);
    setFocusProxy(m_wndHexCtrl);  // activating the view puts the keyboard into the viewer
}
