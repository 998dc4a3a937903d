// The decode tree: its lines, texts and byte ranges for real frames, and the widget's selection, right
// click and copy.
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "../unit/FrameBuilder.h"
#include "views/HexView.h"
#include "views/PacketDecode.h"
#include "views/ProtocolTreeView.h"

namespace {

// The line with this text (the first one), or -1.
int Find(const std::vector<DecodeLine>& lines, const std::string& text) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].text == text)
            return static_cast<int>(i);
    return -1;
}

std::vector<DecodeLine> Decode(const std::vector<uint8_t>& frame, size_t length = SIZE_MAX) {
    return DecodePacket(frame.data(), std::min(length, frame.size()));
}

FrameSpec Syn() {
    FrameSpec s;
    s.srcPort = 40000;
    s.dstPort = 80;
    return s;
}

// Sets the TCP flags byte of a frame built from `s`.
std::vector<uint8_t> WithTcpFlags(const FrameSpec& s, uint8_t flags) {
    std::vector<uint8_t> f = BuildFrame(s);
    f[14 + 20 + 4 * static_cast<size_t>(s.ipOptionsWords) + 13] = flags;
    return f;
}

}  // namespace

class TreeTest : public QObject {
    Q_OBJECT

private slots:
    void fullTcpDecode() {
        std::vector<uint8_t> f = WithTcpFlags(Syn(), 0x02);
        f[20] = 0x40;  // Don't Fragment, offset 0
        const auto lines = Decode(f);
        QCOMPARE(lines.size(), size_t{33});
        // The root shows the packet, the four headers their own picture, fields a field, flag bits a square.
        for (const DecodeLine& l : lines) {
            const bool header = l.text.ends_with(" Header");
            const bool bit = l.parent >= 0 && lines[static_cast<size_t>(l.parent)].text.starts_with("Flag: ");
            const TreeImage want = l.parent < 0 ? TreeImage::Packet
                                   : header     ? TreeImage::Header
                                   : bit ? (l.text.ends_with("1") ? TreeImage::FlagOn : TreeImage::FlagOff)
                                         : TreeImage::Field;
            QVERIFY2(l.image == want, l.text.c_str());
        }
        const char* expanded[] = {"Packet: 54 bytes", "Ethernet Header", "IP Header", "TCP Header",
                                  "Flag: 0x2"};
        for (const char* text : expanded) {
            const int i = Find(lines, text);
            QVERIFY2(i >= 0, text);
            QVERIFY2(lines[static_cast<size_t>(i)].expanded, text);
        }
        QCOMPARE(lines[0].range, (ByteRange{0, 54}));
        QCOMPARE(lines[static_cast<size_t>(Find(lines, "Offset: 16384"))].range, (ByteRange{20, 2}));
        QCOMPARE(lines[static_cast<size_t>(Find(lines, "Src IP: 10.0.0.1"))].range, (ByteRange{26, 4}));
        QCOMPARE(lines[static_cast<size_t>(Find(lines, "Src Port: 40000"))].range, (ByteRange{34, 2}));
        QCOMPARE(lines[static_cast<size_t>(Find(lines, "Dst Port: 80"))].range, (ByteRange{36, 2}));
        // SYN on, the other five off; flag lines have no bytes of their own.
        const int syn = Find(lines, "SYN: 1");
        QVERIFY(syn >= 0);
        QCOMPARE(lines[static_cast<size_t>(syn)].image, TreeImage::FlagOn);
        QVERIFY(lines[static_cast<size_t>(syn)].range.empty());
        for (const char* off : {"FIN: 0", "RST: 0", "PSH: 0", "ACK: 0", "URG: 0"}) {
            const int i = Find(lines, off);
            QVERIFY2(i >= 0, off);
            QCOMPARE(lines[static_cast<size_t>(i)].image, TreeImage::FlagOff);
        }
    }

    void transportFollowsTheRealIpHeaderLength() {
        struct Case {
            const char* what;
            int protocol;
            int optionWords;
            int rootLength;
            ByteRange ipHeader, srcPort;
        } cases[] = {
            {"TCP, no options", 6, 0, 54, {14, 20}, {34, 2}},
            {"TCP, one option word", 6, 1, 58, {14, 24}, {38, 2}},
            {"TCP, ten option words", 6, 10, 94, {14, 60}, {74, 2}},
            {"UDP, no options", 17, 0, 42, {14, 20}, {34, 2}},
            {"UDP, two option words", 17, 2, 50, {14, 28}, {42, 2}},
        };
        for (const Case& c : cases) {
            FrameSpec s = Syn();
            s.protocol = c.protocol;
            s.ipOptionsWords = c.optionWords;
            s.srcPort = 5555;
            const auto lines = Decode(BuildFrame(s));
            QVERIFY2(Find(lines, "Header Length: " + std::to_string(5 + c.optionWords)) >= 0, c.what);
            QCOMPARE(lines[0].range, (ByteRange{0, c.rootLength}));
            QCOMPARE(lines[static_cast<size_t>(Find(lines, "IP Header"))].range, c.ipHeader);
            const int src = Find(lines, "Src Port: 5555");
            QVERIFY2(src >= 0, c.what);
            QCOMPARE(lines[static_cast<size_t>(src)].range, c.srcPort);
            QVERIFY2(Find(lines, "Dst Port: 80") >= 0, c.what);
        }
    }

    void shortAndOtherFramesStopWhereTheirBytesEnd() {
        struct Case {
            const char* what;
            int protocol;
            uint16_t etherType;
            size_t length;
            const char* lastHeader;  // the last header line present
            bool ipExpanded;
        } cases[] = {
            {"TCP one byte short of its header", 6, 0x0800, 53, "IP Header", true},
            {"UDP one byte short of its header", 17, 0x0800, 41, "IP Header", true},
            {"UDP exactly its header", 17, 0x0800, 42, "UDP Header", true},
            {"ARP", 6, 0x0806, 60, "Ethernet Header", false},
            {"IPv4 cut at 18 bytes", 6, 0x0800, 18, "Ethernet Header", false},
            {"ICMP: nothing unfolded", 1, 0x0800, 60, "IP Header", false},
        };
        for (const Case& c : cases) {
            FrameSpec s = Syn();
            s.protocol = c.protocol;
            s.etherType = c.etherType;
            s.padding = 40;
            const auto lines = Decode(BuildFrame(s), c.length);
            QCOMPARE(lines[0].text, "Packet: " + std::to_string(c.length) + " bytes");
            QVERIFY2(Find(lines, c.lastHeader) >= 0, c.what);
            QVERIFY2(Find(lines, "TCP Header") < 0 || std::string(c.lastHeader) == "TCP Header", c.what);
            QVERIFY2(Find(lines, "UDP Header") < 0 || std::string(c.lastHeader) == "UDP Header", c.what);
            const int ip = Find(lines, "IP Header");
            if (ip >= 0)
                QCOMPARE(lines[static_cast<size_t>(ip)].expanded, c.ipExpanded);
            for (const DecodeLine& l : lines)
                QVERIFY2(l.range.empty() || static_cast<size_t>(l.range.offset + l.range.length) <= c.length,
                         (std::string(c.what) + ": " + l.text).c_str());
        }
        const std::vector<uint8_t> tiny(10, 0);
        QCOMPARE(Decode(tiny).size(), size_t{1});

        // A header length of 15 words in a 40-byte frame: the header stands for the bytes there are.
        FrameSpec cut = Syn();
        cut.ihlOverride = 15;
        const auto lines = Decode(BuildFrame(cut), 40);
        QCOMPARE(lines[static_cast<size_t>(Find(lines, "IP Header"))].range, (ByteRange{14, 26}));
        QVERIFY(Find(lines, "TCP Header") < 0);
    }

    void fieldTextsAndNumberFormats() {
        FrameSpec s = Syn();
        s.srcPort = 65535;
        std::vector<uint8_t> f = WithTcpFlags(s, 0xC2);
        for (int i = 38; i < 46; ++i)
            f[static_cast<size_t>(i)] = 0xFF;  // sequence and acknowledgement
        f[22] = 255;                           // TTL
        const std::string text = DecodeAsText(Decode(f));
        for (const char* line :
             {"    Type: 2048\t[12,2]", "    Total length: 40\t[16,2]", "    Identifier: 4660\t[18,2]",
              "    TTL: 255\t[22,1]", "    Protocol: 6\t[23,1]", "    Src Port: 65535\t[34,2]",
              "    Sequence: 4294967295\t[38,4]", "    Acknowledgement: 4294967295\t[42,4]",
              "    Head Len: 5\t[46,1]", "    Flag: 0xc2\t[47,1]", "      SYN: 1\t[]", "      URG: 0\t[]",
              "    Urgent Point: 0\t[52,2]"})
            QVERIFY2(text.find(std::string(line) + "\n") != std::string::npos, line);
    }

    void laterFragmentsShowNoTransportHeader() {
        FrameSpec s = Syn();
        s.fragmentField = 0x00B9;  // offset 1480 bytes: its first bytes are data
        const auto lines = Decode(BuildFrame(s));
        QVERIFY(Find(lines, "IP Header") >= 0);
        QVERIFY(Find(lines, "TCP Header") < 0);
        QVERIFY(lines[0].range.empty());
        QVERIFY(lines[static_cast<size_t>(Find(lines, "IP Header"))].expanded);
        s.fragmentField = 0x2000;  // the first fragment has its header
        QVERIFY(Find(Decode(BuildFrame(s)), "TCP Header") >= 0);
    }

    void selectingATreeLineSelectsTheHexBytes() {
        QWidget window;
        auto* tree = new CProtocolTreeView(&window);
        auto* hex = new CHexView(&window);
        connect(tree, &CProtocolTreeView::byteRangeSelected, hex->HexCtrl(), &CHexViewCtrl::SetSelection);
        // An IP header cut short: 20 bytes of frame after the Ethernet header.
        FrameSpec cut = Syn();
        cut.ihlOverride = 15;
        std::vector<uint8_t> f = BuildFrame(cut);
        f.resize(34);
        hex->HexCtrl()->SetData(f.data(), static_cast<int>(f.size()));
        tree->ShowPacket(f.data(), static_cast<int>(f.size()));
        tree->setCurrentItem(tree->findItems("IP Header", Qt::MatchExactly | Qt::MatchRecursive)[0]);
        QVERIFY(hex->HexCtrl()->HasSelection());
        QCOMPARE(hex->HexCtrl()->SelectionFirst(), 14);
        QCOMPARE(hex->HexCtrl()->SelectionLast(), 33);
    }

    void wholeFrameIsShown() {
        FrameSpec s = Syn();
        s.protocol = 17;
        s.payload = std::string(65000, 'x');
        const auto lines = Decode(BuildFrame(s));
        QCOMPARE(lines[0].text, std::string("Packet: 65042 bytes"));
    }

    void decodeAsTextIndentsAndShowsRanges() {
        const std::string text = DecodeAsText(Decode(WithTcpFlags(Syn(), 0x12)));
        QVERIFY(text.rfind("Packet: 54 bytes\t[0,54]\n  Ethernet Header\t[0,14]\n    Dst Mac Address: "
                           "00.00.00.00.00.00\t[0,6]\n",
                           0) == 0);
        QVERIFY(text.find("\n      SYN: 1\t[]\n") != std::string::npos);
        QVERIFY(text.find("\n      ACK: 1\t[]\n") != std::string::npos);
        QVERIFY(text.find("\n    Flag: 0x12\t[47,1]\n") != std::string::npos);
    }

    void selectingALineSelectsItsBytes() {
        CProtocolTreeView view;
        view.resize(300, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy spy(&view, &CProtocolTreeView::byteRangeSelected);
        std::vector<uint8_t> f = WithTcpFlags(Syn(), 0x02);
        view.ShowPacket(f.data(), static_cast<int>(f.size()));
        QCOMPARE(view.currentItem(), nullptr);
        QCOMPARE(spy.count(), 0);

        auto select = [&](const QString& text) {
            const auto found = view.findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
            QVERIFY2(found.size() == 1, qPrintable(text));
            view.setCurrentItem(found[0]);
        };
        select("Src IP: 10.0.0.1");
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.last(), (QList<QVariant>{26, 30}));
        select("SYN: 1");  // a flag bit has no bytes: the hex selection stays
        QCOMPARE(spy.count(), 1);
        select("Packet: 54 bytes");
        QCOMPARE(spy.last(), (QList<QVariant>{0, 54}));

        // The root of a frame too short for its transport header has no bytes.
        view.ShowPacket(f.data(), 50);
        select("Packet: 50 bytes");
        QCOMPARE(spy.count(), 2);
    }

    void rightClickSelectsTheLineThenOffersCopy() {
        CProtocolTreeView view;
        view.resize(300, 1000);  // room below the last line
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        std::vector<uint8_t> f = WithTcpFlags(Syn(), 0x02);
        view.ShowPacket(f.data(), static_cast<int>(f.size()));
        QSignalSpy spy(&view, &CProtocolTreeView::byteRangeSelected);
        QTreeWidgetItem* dst = view.findItems("Dst IP: 10.0.0.2", Qt::MatchExactly | Qt::MatchRecursive)[0];
        const QPoint at = view.visualItemRect(dst).center();

        // The press alone selects nothing.
        QTest::mousePress(view.viewport(), Qt::RightButton, {}, at);
        QCOMPARE(view.currentItem(), nullptr);
        QTest::mouseRelease(view.viewport(), Qt::RightButton, {}, at);

        // The menu request selects the line (and its bytes), then shows "&Copy line"; choose it.
        QString menuText;
        QTimer::singleShot(0, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                menuText = menu->actions().value(0)->text();
                menu->actions().value(0)->trigger();
                menu->close();
            }
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view.viewport()->mapToGlobal(at));
        QApplication::sendEvent(view.viewport(), &event);
        QCOMPARE(view.currentItem(), dst);
        QCOMPARE(spy.last(), (QList<QVariant>{30, 34}));
        QCOMPARE(menuText, QString("&Copy line"));
        QCOMPARE(QApplication::clipboard()->text(), QString("Dst IP: 10.0.0.2"));

        // Empty space: no menu, nothing changes.
        const QPoint below(10, view.viewport()->height() - 2);
        bool menuShown = false;
        QTimer::singleShot(0, [&] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                menuShown = true;
                popup->close();
            }
        });
        QContextMenuEvent empty(QContextMenuEvent::Mouse, below, view.viewport()->mapToGlobal(below));
        QApplication::sendEvent(view.viewport(), &empty);
        QTest::qWait(20);
        QVERIFY(!menuShown);
        QCOMPARE(view.currentItem(), dst);
    }
};

QTEST_MAIN(TreeTest)
#include "tree_test.moc"
