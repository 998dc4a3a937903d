// pacterra-viewer: a capture file in a window laid out like the main window: the connections bar and the
// packets bar side by side at the top, the packet views below ("Packet" tab with the decode tree beside the
// hex view, "Data" tab with the payload). It opens on one packet, activated through the lists as a user
// would. With --screenshot PREFIX it saves the whole window as PREFIX-packet.png and PREFIX-data.png (one
// per tab) and exits.
#include <QApplication>
#include <QCommandLineParser>
#include <QMainWindow>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <string_view>

#include "app/ListWiring.h"
#include "app/TrawlerView.h"
#include "capture/CaptureFile.h"
#include "capture/PacketStore.h"
#include "frontend/FrontEnd.h"
#include "ui/ListBars.h"
#include "views/HexView.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/ProtocolTreeView.h"

namespace {

// The first HTTP response with a body, else packet 0: a packet worth looking at.
size_t InterestingPacket() {
    for (size_t i = 0; i < g_packetTable.size(); ++i) {
        auto payload = PacketPayload(g_packetTable[i]);
        std::string_view text(reinterpret_cast<const char*>(payload.data()), payload.size());
        if (text.starts_with("HTTP/") && text.find("<") != std::string_view::npos)
            return i;
    }
    return 0;
}

// The connection of stored packet `index` and its row there.
bool FindPacket(size_t index, int* connection, int* row) {
    for (size_t c = 0; c < g_connectionTable.size(); ++c) {
        const AppendOnlyIndexList& list = g_connectionTable[c].packetIndices;
        for (size_t r = 0; r < list.size(); ++r)
            if (list[r] == index) {
                *connection = static_cast<int>(c);
                *row = static_cast<int>(r);
                return true;
            }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("pacterra-viewer");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Shows a capture file in the connections and packets lists, and one packet in the decode tree, the "
        "hex viewer and the payload view.");
    parser.addHelpOption();
    parser.addPositionalArgument("file", "a capture file (libpcap format, Ethernet)");
    parser.addPositionalArgument("index", "the packet, in stored order from 0 (default: an HTTP response)");
    QCommandLineOption shot("screenshot", "save PREFIX-packet.png and PREFIX-data.png, then exit", "prefix");
    QCommandLineOption line("select", "select the tree line with this text", "text");
    QCommandLineOption connectionOption("connection", "activate this connection (its \"#\")", "N");
    QCommandLineOption packetOption("packet", "then this row of its packets (from 0; default 0)", "I");
    parser.addOptions({shot, line, connectionOption, packetOption});
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty() || args.size() > 2)
        parser.showHelp(2);

    if (!OpenCaptureFile(args[0].toStdString(), false, StandardErrorPrompts()))
        return 1;
    if (g_packetTable.size() == 0) {
        std::fprintf(stderr, "pacterra-viewer: the file holds no TCP or UDP packet over IPv4\n");
        return 1;
    }
    int connection = 0;
    int row = 0;
    bool ok = true;
    if (parser.isSet(connectionOption)) {
        connection = parser.value(connectionOption).toInt(&ok);
        if (!ok || connection < 0 || static_cast<size_t>(connection) >= g_connectionTable.size()) {
            std::fprintf(stderr, "pacterra-viewer: no connection %s (the file holds %zu)\n",
                         qPrintable(parser.value(connectionOption)), g_connectionTable.size());
            return 2;
        }
        row = parser.isSet(packetOption) ? parser.value(packetOption).toInt(&ok) : 0;
        const size_t count = g_connectionTable[static_cast<size_t>(connection)].packetIndices.size();
        if (!ok || row < 0 || static_cast<size_t>(row) >= count) {
            std::fprintf(stderr, "pacterra-viewer: no packet %s in connection %d (it holds %zu)\n",
                         qPrintable(parser.value(packetOption)), connection, count);
            return 2;
        }
    } else {
        const size_t index = args.size() > 1 ? args[1].toULongLong(&ok) : InterestingPacket();
        if (!ok || index >= g_packetTable.size() || !FindPacket(index, &connection, &row)) {
            std::fprintf(stderr, "pacterra-viewer: no packet %s (the file holds %zu)\n",
                         qPrintable(args.value(1)), g_packetTable.size());
            return 2;
        }
    }

    QMainWindow window;
    auto* tabs = new QTabWidget;
    auto* split = new QSplitter(Qt::Horizontal);
    auto* tree = new CProtocolTreeView;
    auto* hex = new CHexView;
    split->addWidget(tree);
    split->addWidget(hex);
    split->setSizes({240, 560});
    auto* data = new CTrawlerView;
    tabs->addTab(split, "Packet");
    tabs->addTab(data, "Data");
    window.setCentralWidget(tabs);
    QObject::connect(tree, &CProtocolTreeView::byteRangeSelected, hex->HexCtrl(),
                     &CHexViewCtrl::SetSelection);
    window.setWindowTitle(QString("%1 - pacterra-viewer").arg(args[0]));
    window.resize(1100, 760);

    auto* connections = new CConnectionsBar(&window);
    auto* packets = new CPacketsBar(&window);
    DockListBars(&window, connections, packets);
    WireListsAndViews(connections->m_wndList, packets->m_wndList, data, hex, tree);
    connections->m_wndList->Sync();
    window.show();

    // As a user would: the connection, then the packet.
    connections->m_wndList->SelectAndActivate(connection);
    packets->m_wndList->SelectAndActivate(row);
    packets->m_wndList->setFocus();
    if (parser.isSet(line)) {
        const auto found = tree->findItems(parser.value(line), Qt::MatchStartsWith | Qt::MatchRecursive);
        if (!found.isEmpty())
            tree->setCurrentItem(found[0]);
    }

    if (parser.isSet(shot)) {
        const QString prefix = parser.value(shot);
        QTimer::singleShot(300, &window, [&window, tabs, &app, prefix] {
            tabs->setCurrentIndex(0);
            window.grab().save(prefix + "-packet.png");
            tabs->setCurrentIndex(1);
            window.grab().save(prefix + "-data.png");
            app.quit();
        });
    }
    return app.exec();
}
