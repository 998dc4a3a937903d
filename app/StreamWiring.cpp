#include "app/StreamWiring.h"

#include <QAction>
#include <QPointer>

#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/StreamView.h"

void WireStreamView(CListCtrlLeft* connections, CListCtrlRight* packets, CStreamView* stream,
                    std::function<void()> showTab) {
    if (!connections || !packets || !stream)
        return;
    QPointer<CListCtrlRight> list(packets);
    // The stream shows the packets list's connection; it follows the store's news by itself.
    QObject::connect(packets, &CListCtrlRight::connectionShown, stream, [stream](int connection) {
        if (connection != stream->Connection())
            stream->ShowConnection(connection);
        else
            stream->Follow();
    });
    auto follow = [stream, showTab](int connection) {
        if (connection < 0)
            return;
        if (connection != stream->Connection())
            stream->ShowConnection(connection);
        if (showTab)
            showTab();
        stream->TextCtrl()->setFocus();
    };
    auto* onConnection = new QAction(QObject::tr("Follow Stream"), connections);
    onConnection->setStatusTip(QObject::tr("Show the whole conversation of this connection"));
    QObject::connect(onConnection, &QAction::triggered, connections, [connections, follow] {
        const int row = connections->SelectedRow();
        connections->SelectAndActivate(row);
        follow(row);
    });
    connections->AddRowAction(onConnection);
    auto* onPacket = new QAction(QObject::tr("Follow Stream"), packets);
    onPacket->setStatusTip(QObject::tr("Show the whole conversation of this packet's connection"));
    QObject::connect(onPacket, &QAction::triggered, packets, [list, follow] {
        if (list && list->SelectedRow() >= 0)
            follow(list->CurrentConnection());
    });
    packets->AddRowAction(onPacket);
}
