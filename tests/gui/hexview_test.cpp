// The hex viewer: the text of its lines, and the control driven by real key, mouse and wheel events with
// the real clipboard: caret moves, selections, copying, scrolling, its context menu and the keys it keeps
// from the application's shortcuts.
#include <pcap/pcap.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QWheelEvent>
#include <QtTest>
#include <memory>
#include <string>
#include <vector>

#include "KeptKeysTable.h"
#include "views/HexLines.h"
#include "views/HexView.h"
#include "views/HexViewCtrl.h"

namespace {

using Area = CHexViewCtrl::CaretArea;
using Bytes = std::vector<uint8_t>;

Bytes Ramp(size_t length) {
    Bytes b(length);
    for (size_t i = 0; i < length; ++i)
        b[i] = static_cast<uint8_t>(i);
    return b;
}

Bytes FromText(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

const std::string kRequest = "GET /index.html HTTP/1.1\r\nHost: example.com\r\n\r\n";  // "Host" at 26..29

// A window with the control and a button beside it (somewhere else for the focus to be). The control is
// sized so that exactly `visibleLines` whole lines fit and all 71 columns show.
class Harness {
public:
    explicit Harness(const Bytes& data, int visibleLines = 10) {
        ctrl = new CHexViewCtrl(&window);
        other = new QPushButton(QStringLiteral("Other"), &window);
        const int width =
            kHexLineColumns * ctrl->CharWidth() + ctrl->verticalScrollBar()->sizeHint().width() + 40;
        ctrl->setGeometry(0, 0, width, 200);
        other->setGeometry(0, 1000, 80, 30);
        window.resize(width, 1040);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        SetVisibleLines(visibleLines);
        ctrl->SetData(data.data(), static_cast<int>(data.size()));
        ctrl->setFocus();
        QVERIFY(ctrl->hasFocus());
    }

    void SetVisibleLines(int lines) {
        const int want = lines * ctrl->LineHeight() + ctrl->LineHeight() / 2;
        ctrl->resize(ctrl->width(), ctrl->height() + want - ctrl->viewport()->height());
        QCoreApplication::processEvents();
        QCOMPARE(ctrl->viewport()->height(), want);
    }

    QWidget* viewport() const { return ctrl->viewport(); }

    // The middle of a byte's cell in the given area, from the line layout: offset in columns 0-3, the
    // cells "XX " from column 6, the characters from column 55.
    QPoint Cell(int address, Area area) const {
        const int row = address / 16 - ctrl->TopOffset() / 16;
        const int c = address % 16;
        int column = 1;
        if (area == CHexViewCtrl::kCharacterArea)
            column = 55 + c;
        else if (area == CHexViewCtrl::kHighNibble)
            column = 6 + 3 * c;
        else if (area == CHexViewCtrl::kLowNibble)
            column = 7 + 3 * c;
        return {column * ctrl->CharWidth() + ctrl->CharWidth() / 2,
                row * ctrl->LineHeight() + ctrl->LineHeight() / 2};
    }

    void Click(int address, Area area, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(viewport(), Qt::LeftButton, modifiers, Cell(address, area));
    }

    QWidget window;
    CHexViewCtrl* ctrl;
    QPushButton* other;
};

QByteArray ClipboardBytes() {
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    return mime ? mime->data(QString::fromLatin1(CHexViewCtrl::kBinaryDataMimeType)) : QByteArray();
}

QString ClipboardText() {
    return QGuiApplication::clipboard()->text();
}

QByteArray Slice(const Bytes& data, int first, int last) {
    return QByteArray(reinterpret_cast<const char*>(data.data()) + first, last - first + 1);
}

// Keys for the table-driven tests: one letter per key.
void Press(CHexViewCtrl* ctrl, const QString& keys, Qt::KeyboardModifiers modifiers) {
    static const QHash<QChar, Qt::Key> kKeys = {
        {'l', Qt::Key_Left}, {'r', Qt::Key_Right}, {'u', Qt::Key_Up},       {'d', Qt::Key_Down},
        {'h', Qt::Key_Home}, {'e', Qt::Key_End},   {'p', Qt::Key_PageDown}, {'P', Qt::Key_PageUp}};
    for (QChar k : keys) {
        QVERIFY2(kKeys.contains(k), "unknown key letter");
        QTest::keyClick(ctrl, kKeys.value(k), modifiers);
    }
}

void Wheel(QWidget* viewport, int delta) {
    const QPointF at(10, 10);
    QWheelEvent event(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &event);
}

QColor Pixel(CHexViewCtrl* ctrl, QPoint at) {
    return ctrl->viewport()->grab().toImage().pixelColor(at);
}

// A point of the blank that ends a byte's hexadecimal cell, and of the top edge of its character cell:
// both show the background only.
QPoint HexBlank(const Harness& h, int address) {
    return h.Cell(address, CHexViewCtrl::kLowNibble) + QPoint(h.ctrl->CharWidth(), 0);
}
QPoint CharTop(const Harness& h, int address) {
    QPoint p = h.Cell(address, CHexViewCtrl::kCharacterArea);
    p.setY(p.y() - h.ctrl->LineHeight() / 2);
    return p;
}

// The frames of the shipped sample capture.
std::vector<Bytes> SampleFrames() {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(PACTERRA_SOURCE_DIR "/res/sample.cap", error);
    if (!p)
        return {};
    std::vector<Bytes> frames;
    pcap_pkthdr* header;
    const u_char* data;
    while (pcap_next_ex(p, &header, &data) == 1)
        frames.emplace_back(data, data + header->caplen);
    pcap_close(p);
    return frames;
}

}  // namespace

class HexViewTest : public QObject {
    Q_OBJECT

private slots:
    // ---- the lines' text ----

    void lines_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("lineCount");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("text");
        const QByteArray ramp = Slice(Ramp(256), 0, 255);
        QTest::newRow("ramp, first line")
            << ramp << 16 << 0 << "0000  00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  ................";
        QTest::newRow("ramp, blank and punctuation")
            << ramp << 16 << 2 << "0020  20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F   !\"#$%&'()*+,-./";
        QTest::newRow("ramp, 7F is not printable")
            << ramp << 16 << 7 << "0070  70 71 72 73 74 75 76 77 78 79 7A 7B 7C 7D 7E 7F  pqrstuvwxyz{|}~.";
        QTest::newRow("ramp, high bytes")
            << ramp << 16 << 15 << "00F0  F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF  ................";
        const QByteArray twenty = "GET / HTTP/1.1\r\nHost";
        QTest::newRow("short tail: four cells, blanks, four characters")
            << twenty << 2 << 1 << "0010  48 6F 73 74                                      Host";
        QTest::newRow("one byte") << QByteArray("\x7f", 1) << 1 << 0
                                  << "0000  7F                                               .";
        const QByteArray full = Slice(Ramp(65536), 0, 65535);
        QTest::newRow("65536 bytes: the last offset fits four digits")
            << full << 4096 << 4095
            << "FFF0  F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF  ................";
        QTest::newRow("longer data is cut to 65536 bytes")
            << Slice(Ramp(70000), 0, 69999) << 4096 << 4095
            << "FFF0  F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF  ................";
    }
    void lines() {
        QFETCH(QByteArray, data);
        QFETCH(int, lineCount);
        QFETCH(int, line);
        QFETCH(QString, text);
        const auto lines = HexViewLines(reinterpret_cast<const uint8_t*>(data.constData()),
                                        static_cast<size_t>(data.size()));
        QCOMPARE(static_cast<int>(lines.size()), lineCount);
        QCOMPARE(QString::fromStdString(lines[static_cast<size_t>(line)]), text);
    }

    void noLinesForNoData() { QVERIFY(HexViewLines(nullptr, 0).empty()); }

    void textForms_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("hex");
        QTest::addColumn<QString>("chars");
        QTest::newRow("letters") << QByteArray("Host") << "48 6F 73 74 "
                                 << "Host";
        QTest::newRow("control and high bytes")
            << QByteArray("\x00\x1f\x20\x7e\x7f\x80\xff", 7) << "00 1F 20 7E 7F 80 FF "
            << ".. ~...";
        QTest::newRow("empty") << QByteArray() << ""
                               << "";
    }
    void textForms() {
        QFETCH(QByteArray, data);
        QFETCH(QString, hex);
        QFETCH(QString, chars);
        const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
        const size_t n = static_cast<size_t>(data.size());
        QCOMPARE(QString::fromStdString(HexViewHexText(bytes, n)), hex);
        QCOMPARE(QString::fromStdString(HexViewCharText(bytes, n)), chars);
    }

    // ---- layout and scroll bar ----

    void scrollRange_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("shown");  // data length held
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("barMaximum");
        QTest::newRow("20 bytes: two lines, nothing to scroll") << 20 << 20 << 2 << 0;
        QTest::newRow("a whole page") << 160 << 160 << 10 << 0;
        QTest::newRow("one line more") << 161 << 161 << 10 << 1;
        QTest::newRow("65536 bytes") << 65536 << 65536 << 10 << 4096 - 10;
        QTest::newRow("longer: cut to 65536") << 70000 << 65536 << 10 << 4096 - 10;
    }
    void scrollRange() {
        QFETCH(int, length);
        QFETCH(int, shown);
        QFETCH(int, lines);
        QFETCH(int, barMaximum);
        const Bytes data = Ramp(static_cast<size_t>(length));
        Harness h(data, 10);
        QCOMPARE(h.ctrl->DataLength(), shown);
        QCOMPARE(h.ctrl->LinesPerPage(), lines);
        QScrollBar* bar = h.ctrl->verticalScrollBar();
        QVERIFY(bar->isVisible());  // shown even when there is nothing to scroll, then disabled
        QCOMPARE(bar->isEnabled(), barMaximum > 0);
        QCOMPARE(bar->maximum(), barMaximum);
        QVERIFY(!h.ctrl->horizontalScrollBar()->isVisible());
        bar->setValue(bar->maximum());
        QCOMPARE(h.ctrl->TopOffset(), 16 * barMaximum);
        QTest::keyClick(h.ctrl, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(h.ctrl->CaretAddress(), shown - 1);
        // New data starts over at the top, on the first byte's high nibble.
        h.ctrl->SetData(data.data(), length);
        QCOMPARE(h.ctrl->TopOffset(), 0);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(h.ctrl->CaretAddress(), 0);
        QCOMPARE(h.ctrl->Area(), CHexViewCtrl::kHighNibble);
    }

    void narrowWindowScrollsSideways() {
        Harness h(Ramp(64));
        h.ctrl->resize(30 * h.ctrl->CharWidth(), h.ctrl->height());
        QCoreApplication::processEvents();
        QScrollBar* across = h.ctrl->horizontalScrollBar();
        QVERIFY(across->isVisible());
        across->setValue(across->maximum());
        // The last character column now lies inside the window; clicking it hits byte 15's character.
        const int x = 70 * h.ctrl->CharWidth() - across->value() + h.ctrl->CharWidth() / 2;
        QVERIFY(x < h.viewport()->width());
        QTest::mouseClick(h.viewport(), Qt::LeftButton, {}, QPoint(x, h.ctrl->LineHeight() / 2));
        QCOMPARE(h.ctrl->CaretAddress(), 15);
        QCOMPARE(h.ctrl->Area(), CHexViewCtrl::kCharacterArea);
    }

    // ---- mouse ----

    void clickPutsTheCaretOnTheCell_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("area");
        QTest::addColumn<int>("column");  // of the caret's left edge
        QTest::addColumn<int>("width");   // in character widths
        QTest::newRow("high nibble") << 37 << int(CHexViewCtrl::kHighNibble) << 6 + 15 << 1;
        QTest::newRow("low nibble") << 37 << int(CHexViewCtrl::kLowNibble) << 7 + 15 << 1;
        QTest::newRow("character") << 37 << int(CHexViewCtrl::kCharacterArea) << 55 + 5 << 1;
        QTest::newRow("offset column") << 32 << int(CHexViewCtrl::kOffsetColumn) << 0 << 4;
    }
    void clickPutsTheCaretOnTheCell() {
        QFETCH(int, address);
        QFETCH(int, area);
        QFETCH(int, column);
        QFETCH(int, width);
        Harness h(Ramp(64));
        h.Click(address, Area(area));
        QCOMPARE(h.ctrl->CaretAddress(), address);
        QCOMPARE(int(h.ctrl->Area()), area);
        const int cw = h.ctrl->CharWidth();
        QCOMPARE(h.ctrl->CaretRect(),
                 QRect(column * cw, 2 * h.ctrl->LineHeight(), width * cw, h.ctrl->LineHeight()));
        QVERIFY(h.ctrl->IsCaretShown());
    }

    void clickBehindAShortLastLineStopsOnTheLastByte() {
        Harness h(Ramp(20));
        h.Click(16 + 9, CHexViewCtrl::kHighNibble);  // the blank cell of a byte that does not exist
        QCOMPARE(h.ctrl->CaretAddress(), 19);
        h.Click(16 + 12, CHexViewCtrl::kCharacterArea);
        QCOMPARE(h.ctrl->CaretAddress(), 19);
        // Below the data there is nothing to hit: the caret stays.
        QTest::mouseClick(h.viewport(), Qt::LeftButton, {}, QPoint(10, 5 * h.ctrl->LineHeight()));
        QCOMPARE(h.ctrl->CaretAddress(), 19);
    }

    void drags_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("area");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<QString>("text");
        QTest::newRow("backwards in hexadecimal")
            << 40 << 20 << int(CHexViewCtrl::kHighNibble) << 20 << 40
            << "14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20 21 22 23 24 25 26 27 28 ";
        QTest::newRow("forwards in characters")
            << 1 << 9 << int(CHexViewCtrl::kCharacterArea) << 1 << 9 << "ET /index";
        QTest::newRow("backwards in characters")
            << 29 << 26 << int(CHexViewCtrl::kCharacterArea) << 26 << 29 << "Host";
    }
    void drags() {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, area);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(QString, text);
        const Bytes data = area == CHexViewCtrl::kCharacterArea ? FromText(kRequest) : Ramp(64);
        Harness h(data);
        QTest::mousePress(h.viewport(), Qt::LeftButton, {}, h.Cell(from, Area(area)));
        QTest::mouseMove(h.viewport(), h.Cell((from + to) / 2, Area(area)));
        QTest::mouseMove(h.viewport(), h.Cell(to, Area(area)));
        QTest::mouseRelease(h.viewport(), Qt::LeftButton, {}, h.Cell(to, Area(area)));
        QCOMPARE(h.ctrl->SelectionFirst(), first);
        QCOMPARE(h.ctrl->SelectionLast(), last);
        QVERIFY(!h.ctrl->IsCaretShown());  // hidden while a dragged selection stands
        QTest::keyClick(h.ctrl, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(ClipboardBytes(), Slice(data, first, last));
        QCOMPARE(ClipboardText(), text);
    }

    void clickWithoutDragRemovesTheSelection() {
        Harness h(Ramp(64));
        h.ctrl->SetSelection(10, 20);
        QVERIFY(h.ctrl->HasSelection());
        h.Click(40, CHexViewCtrl::kHighNibble);
        QVERIFY(!h.ctrl->HasSelection());
        QCOMPARE(h.ctrl->CaretAddress(), 40);
    }

    void shiftClickSelectsFromTheCaret_data() {
        QTest::addColumn<int>("area");
        QTest::addColumn<int>("last");
        // In the hexadecimal area the byte after the clicked one is taken too.
        QTest::newRow("hexadecimal") << int(CHexViewCtrl::kHighNibble) << 31;
        QTest::newRow("characters") << int(CHexViewCtrl::kCharacterArea) << 30;
    }
    void shiftClickSelectsFromTheCaret() {
        QFETCH(int, area);
        QFETCH(int, last);
        Harness h(Ramp(64));
        h.Click(10, Area(area));
        h.Click(30, Area(area), Qt::ShiftModifier);
        QCOMPARE(h.ctrl->SelectionFirst(), 10);
        QCOMPARE(h.ctrl->SelectionLast(), last);
        QCOMPARE(h.ctrl->CaretAddress(), 30);
    }

    void dragBelowTheWindowScrollsUntilReleased() {
        Harness h(Ramp(4096), 10);
        QTest::mousePress(h.viewport(), Qt::LeftButton, {}, h.Cell(20, CHexViewCtrl::kHighNibble));
        const QPoint below(h.Cell(20, CHexViewCtrl::kHighNibble).x(), h.viewport()->height() + 20);
        QTest::mouseMove(h.viewport(), below);
        QCOMPARE(h.ctrl->TopOffset(), 16);
        // Holding the mouse there keeps scrolling, and the selection follows to the bottom line.
        QTRY_VERIFY(h.ctrl->TopOffset() >= 64);
        QTest::mouseRelease(h.viewport(), Qt::LeftButton, {}, below);
        const int top = h.ctrl->TopOffset();
        QCOMPARE(h.ctrl->SelectionFirst(), 20);
        QCOMPARE(h.ctrl->SelectionLast() / 16, top / 16 + 9);
        QTest::qWait(200);
        QCOMPARE(h.ctrl->TopOffset(), top);
        // And back up above the window.
        QTest::mousePress(h.viewport(), Qt::LeftButton, {}, h.Cell(top + 20, CHexViewCtrl::kHighNibble));
        QTest::mouseMove(h.viewport(), QPoint(below.x(), -5));
        QCOMPARE(h.ctrl->TopOffset(), top - 16);
        QTest::mouseRelease(h.viewport(), Qt::LeftButton, {}, QPoint(below.x(), -5));
        QCOMPARE(h.ctrl->SelectionLast(), top + 20);
        QCOMPARE(h.ctrl->SelectionFirst() / 16, (top - 16) / 16);
    }

    // ---- keys ----

    void plainArrows_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("startArea");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("area");
        const int high = CHexViewCtrl::kHighNibble, low = CHexViewCtrl::kLowNibble;
        const int chars = CHexViewCtrl::kCharacterArea;
        QTest::newRow("Right: high to low nibble") << 64 << 5 << high << "r" << 5 << low;
        QTest::newRow("Right twice: to the next byte") << 64 << 5 << high << "rr" << 6 << high;
        QTest::newRow("Right through a line end") << 64 << 15 << high << "rr" << 16 << high;
        QTest::newRow("Left: to the previous low nibble") << 64 << 5 << high << "l" << 4 << low;
        QTest::newRow("Left from a low nibble") << 64 << 5 << low << "l" << 5 << high;
        QTest::newRow("Left at the first byte stays") << 64 << 0 << high << "l" << 0 << high;
        QTest::newRow("Right at the last nibble stays") << 64 << 63 << low << "r" << 63 << low;
        QTest::newRow("characters: Right stays in the area") << 64 << 5 << chars << "rr" << 7 << chars;
        QTest::newRow("characters: Left") << 64 << 5 << chars << "l" << 4 << chars;
        QTest::newRow("Down a line") << 64 << 5 << chars << "d" << 21 << chars;
        QTest::newRow("Up from the first line: first byte") << 64 << 5 << high << "u" << 0 << high;
        QTest::newRow("Down into a short last line's gap stays") << 40 << 28 << high << "d" << 28 << high;
        QTest::newRow("Home") << 64 << 37 << chars << "h" << 32 << chars;
        QTest::newRow("End") << 64 << 37 << low << "e" << 47 << low;
        QTest::newRow("End on a short last line: its last byte") << 20 << 17 << high << "e" << 19 << high;
        QTest::newRow("offset column: keys go on in hexadecimal")
            << 64 << 32 << int(CHexViewCtrl::kOffsetColumn) << "r" << 32 << low;
    }
    void plainArrows() {
        QFETCH(int, length);
        QFETCH(int, start);
        QFETCH(int, startArea);
        QFETCH(QString, keys);
        QFETCH(int, address);
        QFETCH(int, area);
        Harness h(Ramp(static_cast<size_t>(length)));
        h.Click(start, Area(startArea));
        h.Click(start, Area(startArea), Qt::ShiftModifier);
        QCOMPARE(h.ctrl->CaretAddress(), start);
        QVERIFY(h.ctrl->HasSelection());
        Press(h.ctrl, keys, Qt::NoModifier);
        QCOMPARE(h.ctrl->CaretAddress(), address);
        QCOMPARE(int(h.ctrl->Area()), area);
        QVERIFY(!h.ctrl->HasSelection());
    }

    void shiftArrows_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("startArea");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        const int high = CHexViewCtrl::kHighNibble, chars = CHexViewCtrl::kCharacterArea;
        // Forward moves in the hexadecimal area take the byte after the caret as well.
        QTest::newRow("hex: Shift+Right takes the caret's byte and the next") << 5 << high << "r" << 5 << 6;
        QTest::newRow("hex: Shift+Right twice") << 5 << high << "rr" << 5 << 7;
        QTest::newRow("hex: Shift+Left, caret's byte to the anchor") << 5 << high << "l" << 4 << 5;
        QTest::newRow("hex: Shift+Down") << 5 << high << "d" << 5 << 22;
        QTest::newRow("hex: Shift+Up") << 21 << high << "u" << 5 << 21;
        QTest::newRow("hex: back over the anchor") << 5 << high << "rlll" << 4 << 5;
        QTest::newRow("chars: Shift+Right") << 5 << chars << "r" << 5 << 6;
        QTest::newRow("chars: Shift+Right three times") << 5 << chars << "rrr" << 5 << 8;
        QTest::newRow("chars: Shift+Left") << 5 << chars << "l" << 4 << 5;
        QTest::newRow("chars: Shift+Down") << 5 << chars << "d" << 5 << 21;
        QTest::newRow("chars: Shift+End") << 5 << chars << "e" << 5 << 15;
        QTest::newRow("chars: Shift+Home") << 21 << chars << "h" << 16 << 21;
    }
    void shiftArrows() {
        QFETCH(int, start);
        QFETCH(int, startArea);
        QFETCH(QString, keys);
        QFETCH(int, first);
        QFETCH(int, last);
        const Bytes data = Ramp(64);
        Harness h(data);
        h.Click(start, Area(startArea));
        Press(h.ctrl, keys, Qt::ShiftModifier);
        QCOMPARE(h.ctrl->SelectionFirst(), first);
        QCOMPARE(h.ctrl->SelectionLast(), last);
        if (startArea == CHexViewCtrl::kCharacterArea)
            QCOMPARE(h.ctrl->Area(), CHexViewCtrl::kCharacterArea);
        h.ctrl->CopySelection();
        QCOMPARE(ClipboardBytes(), Slice(data, first, last));
        // A key without Shift ends the selection.
        QTest::keyClick(h.ctrl, Qt::Key_Left);
        QVERIFY(!h.ctrl->HasSelection());
    }

    void ctrlHomeAndEnd_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("top");  // after Ctrl+End
        QTest::newRow("fits the window") << 100 << 0;
        QTest::newRow("long, full last line") << 65536 << 65536 - 10 * 16;
        QTest::newRow("long, short last line") << 1000 << (63 - 10) * 16;
    }
    void ctrlHomeAndEnd() {
        QFETCH(int, length);
        QFETCH(int, top);
        Harness h(Ramp(static_cast<size_t>(length)), 10);
        QTest::keyClick(h.ctrl, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(h.ctrl->CaretAddress(), length - 1);
        QCOMPARE(h.ctrl->TopOffset(), top);
        QCOMPARE(h.ctrl->verticalScrollBar()->value(), top / 16);
        // On a long packet the last line is the bottom one shown.
        const int lastRow = (length - 1) / 16 - top / 16;
        QCOMPARE(h.ctrl->CaretRect().top(), lastRow * h.ctrl->LineHeight());
        QCOMPARE(lastRow, std::min(10, (length + 15) / 16) - 1);
        QVERIFY(h.ctrl->IsCaretShown());

        QTest::keyClick(h.ctrl, Qt::Key_Home, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(h.ctrl->CaretAddress(), 0);
        QCOMPARE(h.ctrl->TopOffset(), 0);
        QCOMPARE(h.ctrl->SelectionFirst(), 0);
        QCOMPARE(h.ctrl->SelectionLast(), length - 1);
    }

    void pageKeysMoveTheViewAndTheCaret() {
        Harness h(Ramp(4096), 10);
        h.Click(16 * 3 + 4, CHexViewCtrl::kCharacterArea);
        QTest::keyClick(h.ctrl, Qt::Key_PageDown);
        QCOMPARE(h.ctrl->TopOffset(), 160);
        QCOMPARE(h.ctrl->CaretAddress(), 160 + 52);
        QCOMPARE(h.ctrl->CaretRect().top(), 3 * h.ctrl->LineHeight());  // same place in the window
        QTest::keyClick(h.ctrl, Qt::Key_PageDown, Qt::ShiftModifier);
        QCOMPARE(h.ctrl->SelectionFirst(), 212);
        QCOMPARE(h.ctrl->SelectionLast(), 372);
        QTest::keyClick(h.ctrl, Qt::Key_PageUp);
        QCOMPARE(h.ctrl->TopOffset(), 160);
        QCOMPARE(h.ctrl->CaretAddress(), 212);
        QTest::keyClick(h.ctrl, Qt::Key_PageUp);
        QTest::keyClick(h.ctrl, Qt::Key_PageUp);
        QCOMPARE(h.ctrl->TopOffset(), 0);
        QCOMPARE(h.ctrl->CaretAddress(), 4);  // the first line, same column
        QTest::keyClick(h.ctrl, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(h.ctrl, Qt::Key_Home);
        QTest::keyClick(h.ctrl, Qt::Key_PageDown);
        QCOMPARE(h.ctrl->CaretAddress(), 4096 - 16);  // already on the last page: stays on the last line
    }

    void arrowsFollowTheCaretLineByLine() {
        Harness h(Ramp(4096), 10);
        h.Click(9 * 16 + 2, CHexViewCtrl::kHighNibble);
        QTest::keyClick(h.ctrl, Qt::Key_Down);
        QCOMPARE(h.ctrl->TopOffset(), 16);
        QCOMPARE(h.ctrl->CaretRect().top(), 9 * h.ctrl->LineHeight());
        QTest::keyClick(h.ctrl, Qt::Key_Up);
        QCOMPARE(h.ctrl->TopOffset(), 16);
        // Scrolled away with the wheel, the caret's byte comes back into view with the next key.
        for (int i = 0; i < 20; ++i)
            Wheel(h.viewport(), -120);
        QCOMPARE(h.ctrl->TopOffset(), 21 * 16);
        QVERIFY(!h.ctrl->IsCaretShown());
        QTest::keyClick(h.ctrl, Qt::Key_Right);
        QCOMPARE(h.ctrl->TopOffset(), 9 * 16);
        QVERIFY(h.ctrl->IsCaretShown());
    }

    void tabSwitchesAreasAndKeepsTheFocus_data() {
        QTest::addColumn<int>("startArea");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("area");
        const int tab = Qt::Key_Tab, backtab = Qt::Key_Backtab;
        QTest::newRow("hex to characters")
            << int(CHexViewCtrl::kHighNibble) << tab << int(CHexViewCtrl::kCharacterArea);
        QTest::newRow("low nibble to characters")
            << int(CHexViewCtrl::kLowNibble) << tab << int(CHexViewCtrl::kCharacterArea);
        QTest::newRow("characters to hex")
            << int(CHexViewCtrl::kCharacterArea) << tab << int(CHexViewCtrl::kHighNibble);
        QTest::newRow("offset column to hex")
            << int(CHexViewCtrl::kOffsetColumn) << tab << int(CHexViewCtrl::kHighNibble);
        QTest::newRow("Shift+Tab too")
            << int(CHexViewCtrl::kCharacterArea) << backtab << int(CHexViewCtrl::kHighNibble);
    }
    void tabSwitchesAreasAndKeepsTheFocus() {
        QFETCH(int, startArea);
        QFETCH(int, key);
        QFETCH(int, area);
        Harness h(Ramp(64));
        h.ctrl->SetSelection(30, 34);
        h.Click(32, Area(startArea), Qt::ShiftModifier);
        const int first = h.ctrl->SelectionFirst(), last = h.ctrl->SelectionLast();
        QTest::keyClick(h.ctrl, Qt::Key(key), key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
        QVERIFY(h.ctrl->hasFocus());
        QCOMPARE(int(h.ctrl->Area()), area);
        QCOMPARE(h.ctrl->CaretAddress(), 32);
        QCOMPARE(h.ctrl->SelectionFirst(), first);  // the selection stays
        QCOMPARE(h.ctrl->SelectionLast(), last);
    }

    void ctrlTabLeavesTheControl() {
        Harness h(Ramp(64));
        h.other->setFocusPolicy(Qt::StrongFocus);
        QTest::keyClick(h.ctrl, Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(!h.ctrl->hasFocus());
    }

    void typingAndBackspace() {
        Harness h(Ramp(64));
        h.Click(20, CHexViewCtrl::kCharacterArea);
        h.ctrl->SelectAll();
        QTest::keyClick(h.ctrl, Qt::Key_Backspace);
        QCOMPARE(h.ctrl->CaretAddress(), 19);
        QVERIFY(h.ctrl->HasSelection());
        QTest::keyClicks(h.ctrl, "x");
        QVERIFY(!h.ctrl->HasSelection());
        QCOMPARE(h.ctrl->Data(), Ramp(64));  // nothing is ever edited
    }

    // ---- copying ----

    void copy_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<bool>("characters");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        const int ctrl = Qt::ControlModifier;
        QTest::newRow("hex, Ctrl+C") << 26 << 30 << false << int(Qt::Key_C) << ctrl << "48 6F 73 74 ";
        QTest::newRow("hex, Ctrl+Insert")
            << 26 << 30 << false << int(Qt::Key_Insert) << ctrl << "48 6F 73 74 ";
        QTest::newRow("characters, Ctrl+C") << 26 << 30 << true << int(Qt::Key_C) << ctrl << "Host";
        QTest::newRow("characters, whole request")
            << 0 << int(kRequest.size()) << true << int(Qt::Key_C) << ctrl
            << "GET /index.html HTTP/1.1..Host: example.com....";
    }
    void copy() {
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(bool, characters);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        const Bytes data = FromText(kRequest);
        Harness h(data);
        h.ctrl->SetSelection(start, end);
        if (characters)
            QTest::keyClick(h.ctrl, Qt::Key_Tab);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::keyClick(h.ctrl, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(ClipboardBytes(), Slice(data, start, end - 1));
        QCOMPARE(ClipboardText(), text);
    }

    void selectAllThenCopyCharacters() {
        Bytes data = FromText(kRequest);
        data.push_back(0x00);
        data.push_back(0xFF);
        Harness h(data);
        h.Click(0, CHexViewCtrl::kCharacterArea);
        QTest::keyClick(h.ctrl, Qt::Key_A, Qt::ControlModifier);
        QVERIFY(!h.ctrl->IsCaretShown());
        QTest::keyClick(h.ctrl, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(ClipboardBytes(), Slice(data, 0, static_cast<int>(data.size()) - 1));
        QCOMPARE(ClipboardText(), QString("GET /index.html HTTP/1.1..Host: example.com......"));
    }

    void copyWithoutSelectionLeavesTheClipboard() {
        Harness h(Ramp(64));
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::keyClick(h.ctrl, Qt::Key_C, Qt::ControlModifier);
        h.ctrl->CopySelection();
        QCOMPARE(ClipboardText(), QStringLiteral("before"));
    }

    void setSelectionRanges_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::newRow("a field") << 26 << 30 << 26 << 29;
        QTest::newRow("removed") << -1 << -1 << -1 << -1;
        QTest::newRow("empty range") << 5 << 5 << -1 << -1;
        QTest::newRow("past the data") << 60 << 70 << 60 << 63;
        QTest::newRow("wholly past the data") << 64 << 70 << -1 << -1;
    }
    void setSelectionRanges() {
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(int, first);
        QFETCH(int, last);
        Harness h(Ramp(64));
        h.Click(3, CHexViewCtrl::kCharacterArea);
        h.ctrl->SetSelection(start, end);
        QCOMPARE(h.ctrl->SelectionFirst(), first);
        QCOMPARE(h.ctrl->SelectionLast(), last);
        QCOMPARE(h.ctrl->Area(), CHexViewCtrl::kHighNibble);
        QCOMPARE(h.ctrl->CaretAddress(), 3);
    }

    void setSelectionDoesNotScroll() {
        Harness h(Ramp(65536), 10);
        QTest::keyClick(h.ctrl, Qt::Key_End, Qt::ControlModifier);
        const int top = h.ctrl->TopOffset();
        QVERIFY(top > 0);
        h.ctrl->SetSelection(26, 30);
        QCOMPARE(h.ctrl->TopOffset(), top);
        QCOMPARE(h.ctrl->verticalScrollBar()->value(), top / 16);
        h.ctrl->verticalScrollBar()->setValue(0);
        const QColor highlight = h.ctrl->palette().color(QPalette::Highlight);
        QCOMPARE(Pixel(h.ctrl, HexBlank(h, 26)), highlight);
    }

    // ---- painting ----

    void selectionIsHighlightedInBothAreas() {
        Harness h(Ramp(64));
        h.other->setFocus();  // no caret over the cells
        const QColor highlight = h.ctrl->palette().color(QPalette::Highlight);
        const QImage plain = h.viewport()->grab().toImage();
        for (int a : {25, 26, 29, 30})
            QVERIFY(plain.pixelColor(HexBlank(h, a)) != highlight);
        h.ctrl->SetSelection(26, 30);
        const QImage image = h.viewport()->grab().toImage();
        struct {
            int address;
            bool selected;
        } cells[] = {{25, false}, {26, true}, {29, true}, {30, false}, {15, false}, {42, false}};
        for (const auto& c : cells) {
            QCOMPARE(image.pixelColor(HexBlank(h, c.address)) == highlight, c.selected);
            QCOMPARE(image.pixelColor(CharTop(h, c.address)) == highlight, c.selected);
        }
        // The offset column is never highlighted, and glyphs are drawn (the first line is not blank).
        QCOMPARE(image.pixelColor(QPoint(1, h.ctrl->LineHeight() + 1)), QColor(Qt::white));
        bool ink = false;
        for (int x = 0; x < 4 * h.ctrl->CharWidth() && !ink; ++x)
            for (int y = 0; y < h.ctrl->LineHeight() && !ink; ++y)
                ink = image.pixelColor(x, y).lightness() < 128;
        QVERIFY(ink);
    }

    void onlyWholeLinesArePainted() {
        Harness h(Ramp(4096), 10);
        const QImage image = h.viewport()->grab().toImage();
        const int y0 = 10 * h.ctrl->LineHeight();
        for (int y = y0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                QCOMPARE(image.pixelColor(x, y), QColor(Qt::white));
    }

    // ---- scrolling ----

    void wheel_data() {
        QTest::addColumn<QList<int>>("deltas");
        QTest::addColumn<int>("top");
        QTest::newRow("one notch down") << QList<int>{-120} << 16;
        QTest::newRow("three notches at once") << QList<int>{-360} << 48;
        QTest::newRow("up past the first line") << QList<int>{-120, 360} << 0;
        QTest::newRow("fine wheel: three thirds make a line") << QList<int>{-40, -40, -40} << 16;
        QTest::newRow("fine wheel: two thirds do not") << QList<int>{-40, -40} << 0;
        QTest::newRow("not past the last page") << QList<int>{-120 * 1000} << 4096 - 160;
    }
    void wheel() {
        QFETCH(QList<int>, deltas);
        QFETCH(int, top);
        Harness h(Ramp(4096), 10);
        for (int d : deltas)
            Wheel(h.viewport(), d);
        QCOMPARE(h.ctrl->TopOffset(), top);
        QCOMPARE(h.ctrl->verticalScrollBar()->value(), top / 16);
        QCOMPARE(h.ctrl->CaretAddress(), 0);  // the wheel never moves the caret
    }

    void scrollBarCarriesTheCaret() {
        Harness h(Ramp(4096), 10);
        h.Click(20, CHexViewCtrl::kHighNibble);
        h.ctrl->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(h.ctrl->TopOffset(), 16);
        QCOMPARE(h.ctrl->CaretAddress(), 36);
        h.ctrl->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(h.ctrl->TopOffset(), 176);
        QCOMPARE(h.ctrl->CaretAddress(), 196);
        QCOMPARE(h.ctrl->CaretRect().top(), h.ctrl->LineHeight());
    }

    void growingWindowShowsTheEnd() {
        Harness h(Ramp(320), 10);
        QTest::keyClick(h.ctrl, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(h.ctrl->TopOffset(), 160);
        h.SetVisibleLines(15);
        QCOMPARE(h.ctrl->TopOffset(), 80);
        h.SetVisibleLines(25);
        QCOMPARE(h.ctrl->TopOffset(), 0);
        QVERIFY(!h.ctrl->verticalScrollBar()->isEnabled());
    }

    // ---- context menu and shortcuts ----

    void contextMenu_data() {
        QTest::addColumn<bool>("selection");
        QTest::newRow("without a selection: Copy greyed") << false;
        QTest::newRow("with a selection") << true;
    }
    void contextMenu() {
        QFETCH(bool, selection);
        Harness h(Ramp(64));
        if (selection)
            h.ctrl->SetSelection(1, 2);
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(-1, -1), QPoint(-1, -1));
        QApplication::sendEvent(h.ctrl, &event);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QCOMPARE(menu->pos(), h.viewport()->mapToGlobal(QPoint(5, 5)));
        const QList<QAction*> actions = menu->actions();
        QCOMPARE(actions.size(), 2);
        QCOMPARE(actions[0]->text(), QStringLiteral("&Copy"));
        QCOMPARE(actions[0]->data().toInt(), CHexViewCtrl::kCopyCommand);
        QCOMPARE(actions[0]->isEnabled(), selection);
        QCOMPARE(actions[1]->text(), QStringLiteral("Select A&ll"));
        QCOMPARE(actions[1]->data().toInt(), CHexViewCtrl::kSelectAllCommand);
        QVERIFY(actions[1]->isEnabled());
        // Choosing "Select A&ll" with the keyboard selects every byte.
        QTest::keyClick(menu, Qt::Key_L);
        QTRY_VERIFY(!menu->isVisible());
        QCOMPARE(h.ctrl->SelectionFirst(), 0);
        QCOMPARE(h.ctrl->SelectionLast(), 63);
    }

    void applicationShortcutsStayInTheControl_data() {
        AddKeptKeyColumns();
        AddKeptKeyRows();
        const int ctrl = Qt::ControlModifier, none = Qt::NoModifier;
        QTest::newRow("Ctrl+V") << int(Qt::Key_V) << ctrl << true;
        QTest::newRow("Ctrl+Z") << int(Qt::Key_Z) << ctrl << true;
        QTest::newRow("Ctrl+End") << int(Qt::Key_End) << ctrl << true;
        QTest::newRow("Shift+Left") << int(Qt::Key_Left) << int(Qt::ShiftModifier) << true;
        QTest::newRow("Right") << int(Qt::Key_Right) << none << true;
        QTest::newRow("Ctrl+Q is not the viewer's") << int(Qt::Key_Q) << ctrl << false;
        QTest::newRow("F1 is not the viewer's") << int(Qt::Key_F1) << none << false;
        QTest::newRow("Escape is not the viewer's") << int(Qt::Key_Escape) << none << false;
    }
    void applicationShortcutsStayInTheControl() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, owned);
        Harness h(Ramp(64));
        int fired = 0;
        auto* shortcut = new QShortcut(QKeySequence(key | modifiers), &h.window);
        connect(shortcut, &QShortcut::activated, [&fired] { ++fired; });

        QTest::keyClick(h.ctrl, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(fired, owned ? 0 : 1);
        // Elsewhere in the window the same key does reach the shortcut.
        h.other->setFocus();
        QTest::keyClick(h.other, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(fired, owned ? 1 : 2);
    }

    // ---- the view ----

    void viewIsFilledByTheControl() {
        CHexView view;
        view.resize(600, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.HexCtrl()->geometry(), view.rect());
        view.resize(700, 420);
        QCoreApplication::processEvents();
        QCOMPARE(view.HexCtrl()->geometry(), view.rect());
        QCOMPARE(view.HexCtrl()->windowTitle(), QStringLiteral("Hex Viewer"));
        QCOMPARE(view.focusProxy(), view.HexCtrl());
    }

    // A real HTTP request from the sample capture, with its IP header selected as the protocol tree would:
    // saved as hexview-http.png beside the test program for a look, and checked for its highlight.
    void httpPacketPicture() {
        const std::vector<Bytes> frames = SampleFrames();
        QVERIFY(!frames.empty());
        const std::string get = "GET /en/ HTTP/1.1";
        const Bytes* request = nullptr;
        for (const Bytes& f : frames)
            if (std::search(f.begin(), f.end(), get.begin(), get.end()) != f.end()) {
                request = &f;
                break;
            }
        QVERIFY(request);
        CHexView view;
        CHexViewCtrl* ctrl = view.HexCtrl();
        view.resize(kHexLineColumns * ctrl->CharWidth() + 40, 40 * ctrl->LineHeight());
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        ctrl->SetData(request->data(), static_cast<int>(request->size()));
        ctrl->SetSelection(14, 34);
        const QString path = QCoreApplication::applicationDirPath() + "/hexview-http.png";
        QVERIFY(view.grab().save(path));
        qInfo("picture: %s (%d bytes shown)", qPrintable(path), ctrl->DataLength());
        // Byte 20 (second line, fifth cell) lies in the selection; byte 40 does not.
        const QImage image = ctrl->viewport()->grab().toImage();
        const int cw = ctrl->CharWidth(), lh = ctrl->LineHeight();
        const QColor highlight = ctrl->palette().color(QPalette::Highlight);
        QCOMPARE(image.pixelColor((8 + 3 * 4) * cw + cw / 2, lh + lh / 2), highlight);
        QVERIFY(image.pixelColor((8 + 3 * 8) * cw + cw / 2, 2 * lh + lh / 2) != highlight);
    }
};

QTEST_MAIN(HexViewTest)
#include "hexview_test.moc"
