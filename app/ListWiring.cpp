#include "app/ListWiring.h"

#include "app/TrawlerView.h"
#include "capture/FrameFile.h"
#include "capture/PacketStore.h"
#include "frontend/Messages.h"
#include "views/HexView.h"
#include "views/HexViewCtrl.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/ProtocolTreeView.h"

namespace {

// The packet the list activated; null for an index the store does not hold.
const PacketRecord* ActivatedPacket(int64_t packetIndex) {
    if (packetIndex < 0 || static_cast<uint64_t>(packetIndex) >= g_packetTable.size())
        return nullptr;
    return &g_packetTable[static_cast<size_t>(packetIndex)];
}

}  // namespace

void WireListsAndViews(CListCtrlLeft* connections, CListCtrlRight* packets, CTrawlerView* view, CHexView* hex,
                       CProtocolTreeView* tree) {
    QObject::connect(connections, &CListCtrlLeft::connectionActivated, packets,
                     &CListCtrlRight::ShowConnection);
    QObject::connect(connections, &CListCtrlLeft::rowsCleared, packets, &CListCtrlRight::ClearAll);
    if (view)
        QObject::connect(packets, &CListCtrlRight::packetActivated, view, &CTrawlerView::ShowPayload);
    if (hex) {
        QObject::connect(packets, &CListCtrlRight::packetActivated, hex, [hex](int64_t packetIndex) {
            if (const PacketRecord* packet = ActivatedPacket(packetIndex)) {
                CHexViewCtrl* ctrl = hex->HexCtrl();
                // No bytes rather than wrong ones: the tree says why.
                if (FrameBytesPresent(*packet, true))
                    ctrl->SetData(packet->data, packet->capLen);
                else
                    ctrl->SetData(nullptr, 0);
                // Painted at once, before the decode takes its time.
                ctrl->viewport()->repaint();
            }
        });
    }
    if (tree) {
        QObject::connect(packets, &CListCtrlRight::packetActivated, tree, [tree](int64_t packetIndex) {
            const PacketRecord* packet = ActivatedPacket(packetIndex);
            if (packet && FrameBytesPresent(*packet, true))
                tree->ShowPacket(packet->data, packet->capLen, packetIndex);
            else if (packet)
                tree->ShowNote(msg::kFrameBytesGone);
        });
    }
}
