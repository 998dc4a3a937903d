// The command-line tool's decode text lists the lines in the order the tree widget shows them.
#include <QTreeWidgetItem>
#include <QtTest>

#include "../unit/FrameBuilder.h"
#include "views/PacketDecode.h"
#include "views/ProtocolTreeView.h"

namespace {

// The widget's lines, depth first, indented two spaces per level.
void Walk(const QTreeWidgetItem* item, int depth, QString& out) {
    out += QString(depth * 2, ' ') + item->text(0) + '\n';
    for (int i = 0; i < item->childCount(); ++i)
        Walk(item->child(i), depth + 1, out);
}

// DecodeAsText without the byte ranges.
QString WithoutRanges(const std::string& text) {
    QString out;
    for (const QString& line : QString::fromStdString(text).split('\n', Qt::SkipEmptyParts))
        out += line.section('\t', 0, 0) + '\n';
    return out;
}

}  // namespace

class DecodeTextTest : public QObject {
    Q_OBJECT

private slots:
    void textFollowsTheWidgetsTree_data() {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<int>("ipOptionsWords");
        QTest::newRow("TCP") << 6 << 0;
        QTest::newRow("TCP with IP options") << 6 << 2;
        QTest::newRow("UDP") << 17 << 0;
        QTest::newRow("ICMP") << 1 << 0;
    }
    void textFollowsTheWidgetsTree() {
        QFETCH(int, protocol);
        QFETCH(int, ipOptionsWords);
        FrameSpec s;
        s.protocol = protocol;
        s.ipOptionsWords = ipOptionsWords;
        s.payload = "data";
        const std::vector<uint8_t> frame = BuildFrame(s);
        CProtocolTreeView view;
        view.ShowPacket(frame.data(), static_cast<int>(frame.size()));
        QString shown;
        for (int i = 0; i < view.topLevelItemCount(); ++i)
            Walk(view.topLevelItem(i), 0, shown);
        QCOMPARE(WithoutRanges(DecodeAsText(DecodePacket(frame.data(), frame.size()))), shown);
    }

    void flagBitsComeRightAfterTheirFlagLine() {
        FrameSpec s;
        const std::vector<uint8_t> frame = BuildFrame(s);
        const std::string text = DecodeAsText(DecodePacket(frame.data(), frame.size()));
        QVERIFY2(text.find("    Flag: 0x18\t[47,1]\n      FIN: 0\t[]\n      SYN: 0\t[]\n      RST: 0\t[]\n"
                           "      PSH: 1\t[]\n      ACK: 1\t[]\n      URG: 0\t[]\n    Window: ") !=
                     std::string::npos,
                 text.c_str());
        QVERIFY(text.ends_with("    Urgent Point: 0\t[52,2]\n"));
    }
};

QTEST_MAIN(DecodeTextTest)
#include "decode_text_test.moc"
