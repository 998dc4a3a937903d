// pacterra-viewer: the three packet views (decode tree, hex viewer, payload text) on one packet of a
// capture file, wired as in the main window: "Packet" tab with the tree beside the hex view, "Data" tab with
// the payload. With --screenshot PREFIX it saves PREFIX-packet.png and PREFIX-data.png and exits.
#include <QApplication>
#include <QCommandLineParser>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidgetItem>

#include <cstdio>
#include <string_view>

#include "app/TrawlerView.h"
#include "capture/CaptureFile.h"
#include "capture/PacketStore.h"
#include "views/HexView.h"
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

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("pacterra-viewer");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Shows one packet of a capture file in the decode tree, the hex viewer and "
        "the payload view.");
    parser.addHelpOption();
    parser.addPositionalArgument("file", "a capture file (libpcap format, Ethernet)");
    parser.addPositionalArgument("index", "the packet, in stored order from 0 (default: an HTTP response)");
    QCommandLineOption shot("screenshot", "save PREFIX-packet.png and PREFIX-data.png, then exit", "prefix");
    QCommandLineOption line("select", "select the tree line with this text", "text");
    parser.addOption(shot);
    parser.addOption(line);
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty() || args.size() > 2)
        parser.showHelp(2);

    if (!OpenCaptureFile(args[0].toStdString(), false))
        return 1;
    if (g_packetTable.size() == 0) {
        std::fprintf(stderr, "pacterra-viewer: the file holds no TCP or UDP packet over IPv4\n");
        return 1;
    }
    bool ok = true;
    const size_t index = args.size() > 1 ? args[1].toULongLong(&ok) : InterestingPacket();
    if (!ok || index >= g_packetTable.size()) {
        std::fprintf(stderr, "pacterra-viewer: no packet %s (the file holds %zu)\n",
                     qPrintable(args.value(1)), g_packetTable.size());
        return 2;
    }

    QTabWidget tabs;
    auto* split = new QSplitter(Qt::Horizontal);
    auto* tree = new CProtocolTreeView;
    auto* hex = new CHexView;
    split->addWidget(tree);
    split->addWidget(hex);
    split->setSizes({240, 560});
    auto* data = new CTrawlerView;
    tabs.addTab(split, "Packet");
    tabs.addTab(data, "Data");
    QObject::connect(tree, &CProtocolTreeView::byteRangeSelected, hex->HexCtrl(),
                     &CHexViewCtrl::SetSelection);
    tabs.setWindowTitle(QString("Packet %1 of %2").arg(index).arg(args[0]));
    tabs.resize(900, 560);

    // As the packets list does on activation: payload, bytes, then the decode.
    const PacketRecord& packet = g_packetTable[index];
    data->ShowPayload(static_cast<int64_t>(index));
    hex->HexCtrl()->SetData(packet.data, packet.capLen);
    tree->ShowPacket(packet.data, packet.capLen);
    if (parser.isSet(line)) {
        const auto found = tree->findItems(parser.value(line), Qt::MatchStartsWith | Qt::MatchRecursive);
        if (!found.isEmpty())
            tree->setCurrentItem(found[0]);
    }
    tabs.show();

    if (parser.isSet(shot)) {
        const QString prefix = parser.value(shot);
        QTimer::singleShot(300, [&tabs, &app, prefix] {
            tabs.setCurrentIndex(0);
            tabs.grab().save(prefix + "-packet.png");
            tabs.setCurrentIndex(1);
            tabs.grab().save(prefix + "-data.png");
            app.quit();
        });
    }
    return app.exec();
}
