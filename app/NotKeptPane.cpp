#include "app/NotKeptPane.h"

#include <QEvent>

#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "views/StoreWatcher.h"

CNotKeptPane::CNotKeptPane(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("notKeptPane"));
    setAlignment(Qt::AlignCenter);
    setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("Not kept: 100000")) + 8);
    connect(CStoreWatcher::Instance(), &CStoreWatcher::stateChanged, this, &CNotKeptPane::Update);
    Update();
}

bool CNotKeptPane::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip)
        Update();
    return QLabel::event(event);
}

void CNotKeptPane::Update() {
    const QString text = QStringLiteral("Not kept: %1").arg(g_notKeptCount.load(std::memory_order_relaxed));
    if (text != this->text())
        setText(text);
    const QString tip =
        g_config.wideIntake != 0
            ? QStringLiteral(
                  "Frames that carry neither IPv4 nor IPv6 (ARP, for example), which are not kept.")
            : QStringLiteral(
                  "Frames of another family or link (IPv6, VLAN-tagged, ARP, ...), which are not kept.\n"
                  "Configure > \"Also keep IPv6, VLAN-tagged and Linux cooked frames\" keeps IPv6 and tagged "
                  "frames.");
    if (tip != toolTip())
        setToolTip(tip);
}
