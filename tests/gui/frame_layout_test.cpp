// The main window's keyboard and layout: its shortcuts work whatever view has the focus, the lists and the
// decode pane show their titles and values whole and never scroll the first columns away, the separator
// under the bars drags both ways, the bars' close glyphs hide them and the View menu brings them back, and
// the layout is remembered from one run to the next (a damaged one is ignored).
#include <QHeaderView>
#include <QMenuBar>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include "../WindowHarness.h"
#include "../unit/FrameBuilder.h"
#include "app/MainFrame.h"
#include "app/TrawlerView.h"
#include "app/WindowLayout.h"
#include "capture/CaptureFile.h"
#include "capture/PacketStore.h"
#include "ui/CaptionBars.h"
#include "ui/ListBars.h"
#include "ui/TabWnd.h"
#include "ui/VisualFramework.h"
#include "views/HexView.h"
#include "views/HexViewCtrl.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/PayloadTextCtrl.h"
#include "views/ProtocolTreeView.h"
#include "views/StreamView.h"

namespace {

const QString kSample = QStringLiteral(PACTERRA_SOURCE_DIR "/res/sample.cap");

// `pattern` with every '0' replaced by `digit`.
QString WithDigit(QString pattern, QChar digit) {
    pattern.replace(QLatin1Char('0'), digit);
    return pattern;
}

// The width the list's own delegate asks for to show `text` (beside a picture when `picture`).
int CellWidth(QTableView* list, const QString& text, bool picture) {
    QStandardItemModel probe(1, 1);
    probe.setData(probe.index(0, 0), text);
    if (picture) {
        QPixmap blank(list->iconSize());
        blank.fill(Qt::transparent);
        probe.setData(probe.index(0, 0), blank, Qt::DecorationRole);
    }
    QStyleOptionViewItem option;
    option.initFrom(list->viewport());
    option.font = list->font();
    option.fontMetrics = list->fontMetrics();
    option.decorationSize = list->iconSize();
    option.features |= QStyleOptionViewItem::HasDisplay;
    if (picture)
        option.features |= QStyleOptionViewItem::HasDecoration;
    return list->itemDelegate()->sizeHint(option, probe.index(0, 0)).width();
}

// A TCP frame with these MAC bytes, sequence and acknowledgement numbers and ports.
std::vector<uint8_t> TcpFrame(uint8_t macByte, uint32_t sequence, uint16_t port) {
    FrameSpec s;
    s.srcPort = port;
    s.dstPort = port;
    s.payload = "x";
    std::vector<uint8_t> frame = BuildFrame(s);
    std::fill(frame.begin(), frame.begin() + 12, macByte);
    for (int i = 0; i < 4; ++i) {
        frame[38 + i] = uint8_t(sequence >> (24 - 8 * i));
        frame[42 + i] = uint8_t(sequence >> (24 - 8 * i));
    }
    return frame;
}

}  // namespace

class FrameLayoutTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<CMainFrame> m_frame;
    QStringList m_shown;  // the messages the window showed
    int m_fileQuestions = 0;

    QAction* Action(int id) const { return m_frame->Action(id); }

    std::unique_ptr<CMainFrame> NewFrame() {
        auto frame = std::make_unique<CMainFrame>();
        LoadStartupConfiguration();
        frame->FrontEnd()->SetPromptScript([this](const QString& text, MsgButtons, const QString&) {
            m_shown << text;
            return MsgAnswer::No;
        });
        frame->FrontEnd()->SetFileScript([this](IPromptService::FileQuestion) {
            ++m_fileQuestions;
            return QString();  // the file dialog is cancelled
        });
        return frame;
    }

    void ShowFrame(CMainFrame& frame) {
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
    }

    // The separator between the bars at the top and the tab area, in the window's coordinates.
    QPoint SeparatorBelowBars() const {
        const QRect bars = m_frame->ConnectionsBar()->geometry();
        const QRect tabs = m_frame->centralWidget()->geometry();
        return QPoint(bars.center().x(), (bars.bottom() + tabs.top() + 1) / 2);
    }

    void DragSeparator(QPoint from, int dy) {
        QTest::mouseMove(m_frame.get(), from);
        QTest::mousePress(m_frame.get(), Qt::LeftButton, {}, from);
        // Qt moves the separator on a zero timer after each move: events are handled between moves.
        for (int step = 1; step <= 4; ++step) {
            QTest::mouseMove(m_frame.get(), from + QPoint(0, dy * step / 4));
            QTest::qWait(20);
        }
        QTest::mouseRelease(m_frame.get(), Qt::LeftButton, {}, from + QPoint(0, dy));
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase() { QVERIFY(UseTemporaryHome(m_home)); }

    void init() {
        ResetCaptureStore();
        QSettings("Morvane", "Pacterra").clear();
        m_shown.clear();
        m_fileQuestions = 0;
        m_frame = NewFrame();
        ShowFrame(*m_frame);
    }

    void cleanup() { CloseMainWindow(m_frame); }

    // ---- shortcuts ----

    void shortcutsWorkWhateverHasTheFocus_data() {
        QTest::addColumn<QString>("view");
        QTest::newRow("hex view") << "hex";
        QTest::newRow("Data view") << "data";
        QTest::newRow("decode tree") << "tree";
        QTest::newRow("connections list") << "connections";
    }
    void shortcutsWorkWhateverHasTheFocus() {
        QFETCH(QString, view);
        QWidget* target = nullptr;
        if (view == "hex") {
            target = m_frame->HexView()->HexCtrl();
        } else if (view == "data") {
            QVERIFY(m_frame->Framework()->ActivateNode(m_frame->Framework()->FindNode(5)));
            target = m_frame->MainView()->PayloadViewer();
            m_frame->MainView()->PayloadViewer()->ShowText("GET / HTTP/1.1\r\n", 16);
        } else if (view == "tree") {
            target = m_frame->TreeView();
        } else {
            target = m_frame->ConnectionsList();
        }
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        target->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), target);

        // New Window would start another program: only that its action fires is looked at.
        Action(ID_NEW_WINDOW)->disconnect();
        QSignalSpy newWindow(Action(ID_NEW_WINDOW), &QAction::triggered);
        QTest::keyClick(target, Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(newWindow.count(), 1);
        // Open asks for a file; Save of an empty capture says there is nothing to save.
        QTest::keyClick(target, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(m_fileQuestions, 1);
        QSignalSpy save(Action(ID_SAVE), &QAction::triggered);
        QTest::keyClick(target, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(save.count(), 1);
        QCOMPARE(QApplication::focusWidget(), target);
    }

    // Ctrl+Tab and Ctrl+Shift+Tab step through the tabs from any view inside them; Ctrl+Tab from the lists
    // outside the tabs changes nothing.
    void ctrlTabCyclesTheTabsFromEveryView_data() {
        QTest::addColumn<QString>("view");
        QTest::addColumn<int>("startTab");
        QTest::addColumn<int>("afterCtrlTab");
        QTest::newRow("hex view") << "hex" << 0 << 1;
        QTest::newRow("decode tree") << "tree" << 0 << 1;
        QTest::newRow("Data view") << "data" << 1 << 2;
        QTest::newRow("Stream view") << "stream" << 2 << 0;
        QTest::newRow("connections list") << "connections" << 0 << 0;
    }
    void ctrlTabCyclesTheTabsFromEveryView() {
        QFETCH(QString, view);
        QFETCH(int, startTab);
        QFETCH(int, afterCtrlTab);
        auto* tabs = qobject_cast<TTabWnd*>(m_frame->TabArea());
        QVERIFY(tabs);
        QVERIFY(tabs->SelectTab(startTab, true));
        QWidget* target = view == "hex"      ? m_frame->HexView()->HexCtrl()
                          : view == "tree"   ? static_cast<QWidget*>(m_frame->TreeView())
                          : view == "data"   ? m_frame->MainView()->PayloadViewer()
                          : view == "stream" ? static_cast<QWidget*>(m_frame->StreamView())
                                             : m_frame->ConnectionsList();
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        target->setFocus();
        QTRY_VERIFY(target->hasFocus() || target->isAncestorOf(QApplication::focusWidget()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(tabs->ActiveTab(), afterCtrlTab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(tabs->ActiveTab(), startTab);
        QCOMPARE(m_fileQuestions, 0);
    }

    // The views keep their own keys: Select All and Copy in the hex view.
    void viewsKeepTheirOwnKeys() {
        CHexViewCtrl* hex = m_frame->HexView()->HexCtrl();
        const std::vector<uint8_t> frame = TcpFrame(0x11, 1, 80);
        hex->SetData(frame.data(), int(frame.size()));
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        hex->setFocus();
        QTRY_VERIFY(hex->hasFocus());
        QTest::keyClick(hex, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(hex->SelectionFirst(), 0);
        QCOMPARE(hex->SelectionLast(), int(frame.size()) - 1);
        QTest::keyClick(hex, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(hex->CaretAddress(), int(frame.size()) - 1);
        QCOMPARE(m_fileQuestions, 0);
    }

    // ---- column widths and the decode pane ----

    void columnsShowTitlesAndValuesWhole_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("values");  // each '0' stands for any digit
        QTest::addColumn<bool>("picture");
        const QString time = "00:00:00.000", endpoint = "000.000.000.000:00000";
        QTest::newRow("#") << "connections" << 0 << QStringList{"000000"} << false;
        QTest::newRow("Start Time") << "connections" << 1 << QStringList{time} << false;
        QTest::newRow("Client") << "connections" << 2 << QStringList{endpoint} << false;
        QTest::newRow("Server") << "connections" << 3 << QStringList{endpoint} << false;
        QTest::newRow("Protocol") << "connections" << 4
                                  << QStringList{"TCP:ftp-data", "UDP:snmp-trap", "TCP:pop3ssl",
                                                 "UDP:netbios"}
                                  << false;
        QTest::newRow("Packets") << "connections" << 5 << QStringList{"000000"} << false;
        QTest::newRow("Last Time") << "connections" << 6 << QStringList{time} << false;
        QTest::newRow("Time Offset") << "packets" << 0 << QStringList{time} << true;
        QTest::newRow("Packet Len") << "packets" << 1 << QStringList{"00000"} << false;
        QTest::newRow("Data Len") << "packets" << 2 << QStringList{"00000"} << false;
    }
    void columnsShowTitlesAndValuesWhole() {
        QFETCH(QString, list);
        QFETCH(int, column);
        QFETCH(QStringList, values);
        QFETCH(bool, picture);
        QTableView* view = list == "connections" ? static_cast<QTableView*>(m_frame->ConnectionsList())
                                                 : static_cast<QTableView*>(m_frame->PacketsList());
        QHeaderView* header = view->horizontalHeader();
        const int width = header->sectionSize(column);
        QVERIFY2(
            width >= header->sectionSizeHint(column),
            qPrintable(QString("title needs %1, has %2").arg(header->sectionSizeHint(column)).arg(width)));
        for (const QString& value : values) {
            for (char d = '0'; d <= '9'; ++d) {
                const QString text = WithDigit(value, QLatin1Char(d));
                const int needed = CellWidth(view, text, picture);
                QVERIFY2(width >= needed,
                         qPrintable(QString("%1 needs %2, has %3").arg(text).arg(needed).arg(width)));
            }
        }
    }

    // The decode pane of the window as it opens shows the longest lines whole: no sideways scrolling.
    void decodePaneShowsLongestLines() {
        CProtocolTreeView* tree = m_frame->TreeView();
        QVERIFY(tree->width() >= 240);
        const uint32_t sequences[] = {4294967295u, 4000000000u, 3999999999u, 3888888888u,
                                      3777777777u, 3666666666u, 3555555555u, 3444444444u,
                                      3333333333u, 2222222222u, 1111111111u};
        for (int mac = 0; mac <= 0xFF; mac += 0x11) {
            for (uint32_t sequence : sequences) {
                const std::vector<uint8_t> frame = TcpFrame(uint8_t(mac), sequence, 65535);
                tree->ShowPacket(frame.data(), int(frame.size()));
                QCoreApplication::processEvents();
                QVERIFY2(tree->horizontalScrollBar()->maximum() == 0,
                         qPrintable(QString("mac byte %1, sequence %2: %3 pixels too wide")
                                        .arg(mac, 2, 16, QLatin1Char('0'))
                                        .arg(sequence)
                                        .arg(tree->horizontalScrollBar()->maximum())));
            }
        }
    }

    // ---- the lists stay on their first columns: rows are whole, moving between them never scrolls sideways
    // ----

    void ctrlEndKeepsTheFirstColumns() {
        QVERIFY(OpenCaptureFile(kSample.toStdString(), false, StandardErrorPrompts()));
        CListCtrlLeft* connections = m_frame->ConnectionsList();
        connections->Sync();
        QVERIFY(connections->model()->rowCount() > 10);
        // Narrow bars, so that both lists need their sideways scroll bars.
        m_frame->resizeDocks({m_frame->ConnectionsBar(), m_frame->PacketsBar()}, {300, 250}, Qt::Horizontal);
        QCoreApplication::processEvents();
        QVERIFY(connections->horizontalScrollBar()->maximum() > 0);

        connections->SelectAndActivate(2);
        connections->setFocus();
        QTest::keyClick(connections, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(connections->SelectedRow(), connections->model()->rowCount() - 1);
        QCOMPARE(connections->horizontalScrollBar()->value(), 0);
        QTest::keyClick(connections, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(connections->SelectedRow(), 0);
        QCOMPARE(connections->horizontalScrollBar()->value(), 0);
        // Without Ctrl too, Home and End go to the first and last row.
        QTest::keyClick(connections, Qt::Key_End);
        QCOMPARE(connections->SelectedRow(), connections->model()->rowCount() - 1);
        QTest::keyClick(connections, Qt::Key_Home);
        QCOMPARE(connections->SelectedRow(), 0);
        QCOMPARE(connections->horizontalScrollBar()->value(), 0);
        // Right and Left scroll sideways instead, and leave the row where it is.
        QTest::keyClick(connections, Qt::Key_Right);
        QVERIFY(connections->horizontalScrollBar()->value() > 0);
        QCOMPARE(connections->SelectedRow(), 0);
        QTest::keyClick(connections, Qt::Key_Left);
        QCOMPARE(connections->horizontalScrollBar()->value(), 0);
    }

    // A click on the part of the Data cell that shows leaves "Time Offset" in view.
    void clickOnDataKeepsTheFirstColumns() {
        QVERIFY(OpenCaptureFile(kSample.toStdString(), false, StandardErrorPrompts()));
        CListCtrlLeft* connections = m_frame->ConnectionsList();
        connections->Sync();
        // The Data column would fit in the list, but starts near its right edge.
        m_frame->resizeDocks({m_frame->ConnectionsBar(), m_frame->PacketsBar()}, {560, 430}, Qt::Horizontal);
        connections->SelectAndActivate(2);
        CListCtrlRight* packets = m_frame->PacketsList();
        QVERIFY(packets->model()->rowCount() > 3);
        QCoreApplication::processEvents();
        QVERIFY(packets->horizontalScrollBar()->maximum() > 0);
        const QRect data = packets->visualRect(packets->model()->index(3, 3));
        QVERIFY(data.left() < packets->viewport()->width());
        QVERIFY(data.width() < packets->viewport()->width());
        QTest::mouseClick(packets->viewport(), Qt::LeftButton, {},
                          QPoint((data.left() + packets->viewport()->width()) / 2, data.center().y()));
        // The list brings the pressed cell into view once a double-click can no longer come.
        QTest::qWait(QApplication::doubleClickInterval() + 300);
        QCOMPARE(packets->HighlightedRow(), 3);
        QCOMPARE(packets->horizontalScrollBar()->value(), 0);
    }

    // ---- the separator under the bars ----

    void separatorDragsBothWaysAfterTheWindowGrows() {
        m_frame->resize(1000, 950);
        QTRY_COMPARE(m_frame->height(), 950);
        CConnectionsBar* bar = m_frame->ConnectionsBar();
        const int before = bar->height();
        DragSeparator(SeparatorBelowBars(), 180);
        QTRY_VERIFY(bar->height() >= before + 150);
        const int grown = bar->height();
        DragSeparator(SeparatorBelowBars(), -120);
        QTRY_VERIFY(bar->height() <= grown - 100);
        QCOMPARE(m_frame->PacketsBar()->height(), bar->height());
    }

    // ---- the close glyph and the View menu ----

    void closeGlyphHidesABarTheViewMenuShowsIt_data() {
        QTest::addColumn<bool>("connections");
        QTest::newRow("Connections") << true;
        QTest::newRow("Packets") << false;
    }
    void closeGlyphHidesABarTheViewMenuShowsIt() {
        QFETCH(bool, connections);
        CSizingControlBar* bar = connections ? static_cast<CSizingControlBar*>(m_frame->ConnectionsBar())
                                             : static_cast<CSizingControlBar*>(m_frame->PacketsBar());
        CSizingControlBarCF* caption =
            connections ? m_frame->ConnectionsBar()->m_caption : m_frame->PacketsBar()->m_caption;
        QAction* show = Action(connections ? ID_VIEW_CONNECTIONS_BAR : ID_VIEW_PACKETS_BAR);
        QVERIFY(show->isCheckable());
        QVERIFY(show->isChecked());
        // In the View menu, after the dock toggles.
        QMenu* view = nullptr;
        for (QAction* menu : m_frame->menuBar()->actions())
            if (menu->text() == "&View")
                view = menu->menu();
        QVERIFY(view);
        QVERIFY(view->actions().contains(show));

        const QPoint glyph = caption->GlyphRect().center();
        QTest::mouseClick(caption, Qt::LeftButton, {}, glyph);
        QTRY_VERIFY(bar->isHidden());
        QTRY_VERIFY(!show->isChecked());

        show->trigger();
        QTRY_VERIFY(bar->isVisible());
        QVERIFY(show->isChecked());
        QVERIFY(!bar->IsBarFloating());
        QCOMPARE(m_frame->dockWidgetArea(bar), Qt::TopDockWidgetArea);
        show->trigger();
        QTRY_VERIFY(bar->isHidden());
    }

    // ---- the layout across runs ----

    void layoutIsRememberedAcrossRuns_data() {
        QTest::addColumn<bool>("maximised");
        QTest::newRow("normal") << false;
        QTest::newRow("maximised") << true;
    }
    void layoutIsRememberedAcrossRuns() {
        QFETCH(bool, maximised);
        // The user's changes: size and place, a bar at the left, the other floating, a hidden toolbar,
        // the decode pane wider, two columns wider.
        m_frame->setGeometry(60, 50, 900, 640);
        CConnectionsBar* conns = m_frame->ConnectionsBar();
        CPacketsBar* packets = m_frame->PacketsBar();
        m_frame->addDockWidget(Qt::LeftDockWidgetArea, conns);
        m_frame->resizeDocks({conns}, {330}, Qt::Horizontal);
        packets->setFloating(true);
        packets->setGeometry(400, 300, 420, 260);
        m_frame->findChild<QToolBar*>("toolbar")->hide();
        auto* panes = qobject_cast<QSplitter*>(m_frame->TreeView()->parentWidget());
        QVERIFY(panes);
        panes->setSizes({310, 400});
        m_frame->ConnectionsList()->horizontalHeader()->resizeSection(2, 190);
        m_frame->PacketsList()->horizontalHeader()->resizeSection(3, 420);
        const int startTime = m_frame->ConnectionsList()->horizontalHeader()->sectionSize(1);
        m_frame->ConnectionsList()->horizontalHeader()->resizeSection(
            1, 20);  // as narrow as under another style
        if (maximised)
            m_frame->showMaximized();
        QCoreApplication::processEvents();
        QTRY_COMPARE(m_frame->isMaximized(), maximised);
        const QRect normal = m_frame->normalGeometry();
        const int connsWidth = conns->width();
        const QList<int> paneSizes = panes->sizes();
        const QSize floatingSize = packets->size();

        QVERIFY(m_frame->close());
        m_frame.reset();

        m_frame = NewFrame();
        QVERIFY(LoadWindowLayout(*m_frame));
        // The floating bar is shown after the window (a window manager keeps it above the window then).
        struct ShowOrder : QObject {
            QList<QObject*> shown;
            bool eventFilter(QObject* o, QEvent* e) override {
                if (e->type() == QEvent::Show)
                    shown << o;
                return false;
            }
        } order;
        m_frame->installEventFilter(&order);
        m_frame->PacketsBar()->installEventFilter(&order);
        ShowWithFloatingBars(*m_frame);
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        QCOMPARE(order.shown, (QList<QObject*>{m_frame.get(), m_frame->PacketsBar()}));
        m_frame->removeEventFilter(&order);
        m_frame->PacketsBar()->removeEventFilter(&order);
        QVERIFY(m_frame->PacketsBar()->toggleViewAction()->isChecked());
        conns = m_frame->ConnectionsBar();
        packets = m_frame->PacketsBar();
        QTRY_COMPARE(m_frame->isMaximized(), maximised);
        QCOMPARE(m_frame->normalGeometry().size(), normal.size());
        QCOMPARE(m_frame->dockWidgetArea(conns), Qt::LeftDockWidgetArea);
        QTRY_VERIFY(std::abs(conns->width() - connsWidth) <= 2);
        QVERIFY(packets->isFloating());
        QTRY_COMPARE(packets->size(), floatingSize);
        QVERIFY(m_frame->findChild<QToolBar*>("toolbar")->isHidden());
        panes = qobject_cast<QSplitter*>(m_frame->TreeView()->parentWidget());
        QTRY_COMPARE(panes->sizes().first(), paneSizes.first());
        QCOMPARE(m_frame->ConnectionsList()->horizontalHeader()->sectionSize(2), 190);
        QCOMPARE(m_frame->PacketsList()->horizontalHeader()->sectionSize(3), 420);
        QCOMPARE(m_frame->ConnectionsList()->horizontalHeader()->sectionSize(1), startTime);  // re-fitted
        // The bars remember these sizes for where they are now.
        QCOMPARE(packets->m_sizeFloat, floatingSize);

        // View > Reset Layout: the first start's again.
        m_frame->Action(ID_RESET_LAYOUT)->trigger();
        QTRY_COMPARE(m_frame->dockWidgetArea(conns), Qt::TopDockWidgetArea);
        QVERIFY(!packets->isFloating());
        QVERIFY(!m_frame->findChild<QToolBar*>("toolbar")->isHidden());
        QTRY_VERIFY(conns->x() < packets->x() && conns->y() == packets->y());
    }

    void damagedOrForeignLayoutIsIgnored_data() {
        QTest::addColumn<QString>("damage");
        QTest::newRow("empty") << "empty";
        QTest::newRow("text") << "text";
        QTest::newRow("cut short") << "cut";
        QTest::newRow("a byte changed") << "flip";
        QTest::newRow("a byte added") << "append";
        QTest::newRow("Qt's own state of the window") << "foreign";
        QTest::newRow("a megabyte") << "huge";
        QTest::newRow("another type of value") << "number";
    }
    void damagedOrForeignLayoutIsIgnored() {
        QFETCH(QString, damage);
        CConnectionsBar* conns = m_frame->ConnectionsBar();
        const QByteArray good = SaveWindowLayout(*m_frame);
        QVERIFY(RestoreWindowLayout(*m_frame, good));  // the window's own layout is sound

        // A layout that would move the bars, made by another window.
        auto other = NewFrame();
        other->addDockWidget(Qt::BottomDockWidgetArea, other->ConnectionsBar());
        other->ConnectionsList()->horizontalHeader()->resizeSection(0, 222);
        QByteArray bytes = SaveWindowLayout(*other);
        QVariant stored = bytes;
        if (damage == "empty")
            stored = QByteArray();
        else if (damage == "text")
            stored = QByteArray("[Window]\nLayout=1\n");
        else if (damage == "cut")
            stored = bytes.left(bytes.size() / 2);
        else if (damage == "flip")
            stored = QByteArray(bytes).replace(bytes.size() / 3, 1,
                                               QByteArray(1, char(bytes[bytes.size() / 3] ^ 4)));
        else if (damage == "append")
            stored = bytes + 'x';
        else if (damage == "foreign")
            stored = other->saveState();
        else if (damage == "huge")
            stored = QByteArray(1 << 20, '\x5a');
        else if (damage == "number")
            stored = 42;
        other.reset();
        OpenSettingsForTest().setValue("Window/Layout", stored);

        const QRect geometry = m_frame->geometry();
        const int width0 = m_frame->ConnectionsList()->horizontalHeader()->sectionSize(0);
        QVERIFY(!LoadWindowLayout(*m_frame));
        if (stored.typeId() == QMetaType::QByteArray)
            QVERIFY(!RestoreWindowLayout(*m_frame, stored.toByteArray()));
        QCoreApplication::processEvents();
        QCOMPARE(m_frame->geometry(), geometry);
        QCOMPARE(m_frame->dockWidgetArea(conns), Qt::TopDockWidgetArea);
        QCOMPARE(m_frame->ConnectionsList()->horizontalHeader()->sectionSize(0), width0);
        // A window without the lists and bars the layout names takes none of it.
        QMainWindow plain;
        QVERIFY(!RestoreWindowLayout(plain, bytes));
        // The undamaged bytes do move it.
        QVERIFY(RestoreWindowLayout(*m_frame, bytes));
        QCOMPARE(m_frame->dockWidgetArea(conns), Qt::BottomDockWidgetArea);
        QCOMPARE(m_frame->ConnectionsList()->horizontalHeader()->sectionSize(0), 222);
    }

    // The layout lives under a name of its own: the other settings are left as they were.
    void layoutKeepsOtherSettings() {
        {
            QSettings settings("Morvane", "Pacterra");
            settings.setValue("Filter/Minimized", 1);
            settings.setValue("Bars-SCBar-123/sizeHorzCX", 77);
        }
        StoreWindowLayout(*m_frame);
        QSettings settings("Morvane", "Pacterra");
        QCOMPARE(settings.allKeys().size(), 3);
        QCOMPARE(settings.value("Filter/Minimized").toInt(), 1);
        QCOMPARE(settings.value("Bars-SCBar-123/sizeHorzCX").toInt(), 77);
        QVERIFY(settings.value("Window/Layout").toByteArray().size() > 100);
        // The file stays text, as the start-up's check of the settings file wants it.
        settings.sync();
        QFile file(settings.fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(!bytes.contains('\0'));
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString text = utf8.decode(bytes);
        QVERIFY(!utf8.hasError());
        QVERIFY(text.contains("[Window]"));
    }

private:
    static QSettings OpenSettingsForTest() { return QSettings("Morvane", "Pacterra"); }
};

QTEST_MAIN(FrameLayoutTest)
#include "frame_layout_test.moc"
