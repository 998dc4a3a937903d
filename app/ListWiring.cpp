#include "app/ListWiring.h"

#include <QPointer>

#include "app/TrawlerView.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"

void WireListsAndViews(CListCtrlLeft* connections, CListCtrlRight* packets, CTrawlerView* view, CHexView* hex,
                       CProtocolTreeView* tree) {
    connections->SetPeers(packets);
    QPointer<CTrawlerView> guarded(view);
    packets->SetPeers(
        connections,
        [guarded](int64_t packet) {
            if (guarded)
                guarded->ShowPayload(packet);
        },
        hex, tree);
}
