// The view framework: the main window's view area ("Packet" with the decode tree beside the hex view,
// "Data" with the main view, "Stream") built, found, activated and cycled; a layout destroyed.
#include <QtTest>

#include <QMainWindow>
#include <QSplitter>

#include "../WindowHarness.h"
#include "app/TrawlerView.h"
#include "ui/TabWnd.h"
#include "ui/VisualFramework.h"
#include "views/HexView.h"
#include "views/ProtocolTreeView.h"
#include "views/StreamView.h"

namespace {

// The main window's own view area: the tab window, the "Packet" splitter with the tree and the hex view, the
// "Data" and "Stream" views.
struct Frame {
    Frame() : window(NewMainWindow()), main(*window), fw(*window->Framework()) {
        main.resize(800, 500);
        main.show();
        main.activateWindow();  // no window manager under a bare X server
        QVERIFY(QTest::qWaitForWindowActive(&main));
        tabs = qobject_cast<TTabWnd*>(fw.FindNode(1)->window());
        tree = qobject_cast<CProtocolTreeView*>(fw.FindNode(3)->window());
        hex = qobject_cast<CHexView*>(fw.FindNode(4)->window());
        data = qobject_cast<CTrawlerView*>(fw.FindNode(5)->window());
        stream = qobject_cast<CStreamView*>(fw.FindNode(CMainFrame::kStreamNode)->window());
        splitter = qobject_cast<QSplitter*>(fw.FindNode(2)->window());
    }
    ~Frame() { CloseMainWindow(window); }
    std::unique_ptr<CMainFrame> window;
    CMainFrame& main;
    TVisualFramework& fw;
    TTabWnd* tabs = nullptr;
    QSplitter* splitter = nullptr;
    CProtocolTreeView* tree = nullptr;
    CHexView* hex = nullptr;
    CTrawlerView* data = nullptr;
    CStreamView* stream = nullptr;
};

// A small area of plain widgets: a tab window holding a two-pane splitter and a view.
bool DeclarePlainArea(TVisualFramework& fw) {
    auto* tab = TLayoutNode::TabWindow(1, QStringLiteral("tab"));
    auto* panes = TLayoutNode::Splitter(2, QStringLiteral("Panes"), 1, 2);
    auto* left = TLayoutNode::PaneView(3, 0, 0, TLayoutNode::Create<QWidget>(), 100, 0);
    auto* right = TLayoutNode::PaneView(4, 0, 1, TLayoutNode::Create<QWidget>(), 0, 0);
    auto* view = TLayoutNode::View(5, QStringLiteral("View"), TLayoutNode::Create<QWidget>());
    return fw.AddNode(tab) && fw.AddNode(tab, panes) && fw.AddNode(panes, left) && fw.AddNode(panes, right) &&
           fw.AddNode(tab, view);
}

}  // namespace

class VisualFrameworkTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

private slots:
    void initTestCase() { QVERIFY(UseTemporaryHome(m_home)); }

    void buildsTheViewArea() {
        Frame f;
        QVERIFY(f.tabs && f.splitter && f.tree && f.hex && f.data && f.stream);
        QCOMPARE(f.main.centralWidget(), f.tabs);
        QCOMPARE(f.tabs->TabCount(), 3);
        QCOMPARE(f.tabs->TitleOf(0), QStringLiteral("Packet"));
        QCOMPARE(f.tabs->TitleOf(1), QStringLiteral("Data"));
        QCOMPARE(f.tabs->TitleOf(2), QStringLiteral("Stream"));
        for (int tab = 0; tab < 3; ++tab)
            QVERIFY(!f.tabs->Tab(tab)->icon.isNull());
        QCOMPARE(SplitterPane(f.splitter, 0, 0), f.tree);
        QCOMPARE(SplitterPane(f.splitter, 0, 1), f.hex);
        // The decode pane: 240 pixels, or as wide as its longest line needs. It keeps its width when the
        // window grows; the hex view takes the rest.
        const int treeWidth = std::max(240, f.tree->sizeHint().width());
        QCOMPARE(f.tree->width(), treeWidth);
        f.main.resize(1000, 500);
        QTRY_COMPARE(f.tree->width(), treeWidth);

        // "Packet" shown, "Data" hidden and disabled, the tree the active view.
        QCOMPARE(f.tabs->ActiveTab(), 0);
        QVERIFY(f.splitter->isVisible() && f.splitter->isEnabled());
        QVERIFY(!f.data->isVisible() && !f.data->isEnabled());
        QVERIFY(!f.stream->isVisible() && !f.stream->isEnabled());
        QCOMPARE(f.fw.ActiveView(), f.tree);

        for (int id = 1; id <= CMainFrame::kStreamNode; ++id)
            QCOMPARE(f.fw.FindNode(f.fw.FindNode(id)->window()), f.fw.FindNode(id));
        QVERIFY(!f.fw.FindNode(CMainFrame::kStreamNode + 1));
        QVERIFY(!f.fw.FindNode(&f.main));

        if (qEnvironmentVariableIsSet("PACTERRA_SHOTS")) {
            QDir().mkpath(QStringLiteral(PACTERRA_SHOTS_DIR));
            f.tabs->grab().save(QStringLiteral(PACTERRA_SHOTS_DIR "/view-area.png"));
            const QRect strip(0, f.tabs->height() - 34, 300, 34);
            f.tabs->grab(strip)
                .scaled(strip.size() * 3)
                .save(QStringLiteral(PACTERRA_SHOTS_DIR "/tab-strip.png"));
        }
    }

    void declarationMistakes() {
        TVisualFramework fw;
        auto* tab = TLayoutNode::TabWindow(1, QStringLiteral("tab"));
        QVERIFY(fw.AddNode(tab));
        auto* same = TLayoutNode::View(1, QStringLiteral("x"), TLayoutNode::Create<QWidget>());
        QVERIFY(!fw.AddNode(tab, same));  // the caller still owns it
        delete same;
        TLayoutNode stranger(9);
        auto* orphan = TLayoutNode::View(2, QStringLiteral("y"), TLayoutNode::Create<QWidget>());
        QVERIFY(!fw.AddNode(&stranger, orphan));
        delete orphan;

        // A node of no kind, or a view outside a tab window, fails the creation.
        TVisualFramework noKind;
        auto* root = TLayoutNode::TabWindow(1, QStringLiteral("tab"));
        noKind.AddNode(root);
        noKind.AddNode(root, new TLayoutNode(2));
        QMainWindow main;
        QVERIFY(!noKind.CreateLayout(&main));
        TVisualFramework strayView;
        strayView.AddNode(TLayoutNode::View(1, QStringLiteral("v"), TLayoutNode::Create<QWidget>()));
        QWidget plain;
        QVERIFY(!strayView.CreateLayout(&plain));
    }

    void activation() {
        Frame f;
        QSignalSpy changes(&f.fw, &TVisualFramework::activeViewChanged);
        QVERIFY(f.fw.ActivateNode(f.fw.FindNode(5)));
        QCOMPARE(f.tabs->ActiveTab(), 1);
        QVERIFY(!f.splitter->isVisible() && !f.splitter->isEnabled());
        QVERIFY(f.data->isVisible() && f.data->isEnabled());
        QCOMPARE(f.fw.ActiveView(), f.data);

        // A pane inside the splitter page selects that tab first.
        QVERIFY(f.fw.ActivateNode(f.fw.FindNode(4)));
        QCOMPARE(f.tabs->ActiveTab(), 0);
        QCOMPARE(f.fw.ActiveView(), f.hex);
        QVERIFY(changes.size() >= 2);

        // Tab windows and splitters are no views; a node may refuse activation.
        QVERIFY(!f.fw.ActivateNode(f.fw.FindNode(1)));
        QVERIFY(!f.fw.ActivateNode(f.fw.FindNode(2)));
        f.fw.FindNode(5)->activatable = false;
        QVERIFY(!f.fw.ActivateNode(f.fw.FindNode(5)));
        QCOMPARE(f.tabs->ActiveTab(), 0);

        // A click into a view makes it the active view; returning to the tab finds the pane that had focus.
        QTest::mouseClick(f.tree->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(f.fw.ActiveView(), f.tree);
        QTest::keyClick(f.tree, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(f.tabs->ActiveTab(), 1);
        QCOMPARE(f.fw.ActiveView(), f.data);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(f.tabs->ActiveTab(), 2);
        QCOMPARE(f.fw.ActiveView(), f.stream);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(f.tabs->ActiveTab(), 0);
        QCOMPARE(f.fw.ActiveView(), f.tree);

        // The framework's own key handling: Ctrl+Tab from inside a view, and Alt with a hot key.
        QKeyEvent ctrlTab(QEvent::KeyPress, Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(f.fw.HandleKeyMessage(f.tree, ctrlTab));
        QCOMPARE(f.tabs->ActiveTab(), 1);
        QVERIFY(!f.fw.HandleKeyMessage(&f.main, ctrlTab));
        f.fw.FindNode(3)->hotKey = Qt::Key_T;
        QVERIFY(f.fw.HandleKeyMessage(f.data, QKeyEvent(QEvent::KeyPress, Qt::Key_T, Qt::AltModifier)));
        QCOMPARE(f.fw.ActiveView(), f.tree);
    }

    void destroysWhatItMade() {
        {
            QMainWindow main;
            TVisualFramework fw;
            QVERIFY(DeclarePlainArea(fw));
            QVERIFY(fw.CreateLayout(&main));
            QPointer<QWidget> tabs = fw.FindNode(1)->window(), tree = fw.FindNode(3)->window(),
                              data = fw.FindNode(5)->window();
            QVERIFY(tabs && tree && data);
            fw.DestroyLayout();
            QVERIFY(!tabs && !tree && !data);
            QVERIFY(!fw.FindNode(1));
            QVERIFY(fw.Roots().empty());
            fw.DestroyLayout();  // twice is harmless
            QVERIFY(!main.centralWidget());
        }

        // A framework going away with its frame still up takes its windows along.
        QMainWindow main;
        QPointer<QWidget> gone;
        {
            TVisualFramework fw;
            QVERIFY(DeclarePlainArea(fw));
            QVERIFY(fw.CreateLayout(&main));
            gone = fw.FindNode(1)->window();
        }
        QVERIFY(!gone);
    }
};

QTEST_MAIN(VisualFrameworkTest)
#include "visualframework_test.moc"
