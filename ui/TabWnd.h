// The tab window of the view area: a self-drawn strip of tabs (at the bottom by default) that also holds the
// tabs' pages. Each tab owns a page (a view or a splitter); only the active page is shown and enabled.
#pragma once

#include <QIcon>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <vector>

class QLabel;
class QSplitter;

// One tab. The page is not owned (it is a child of the tab window); the label is.
class TTabPage {
public:
    virtual ~TTabPage();

    QPointer<QWidget> page;
    QLabel* label = nullptr;   // the tab's title, placed on the tab at every layout of the strip
    bool bPageEnabled = true;  // the page is enabled when its tab becomes active
    bool bSelectable = true;   // the tab can be selected and hit
    bool bShown = true;        // the tab is drawn in the strip and can be hit
    int xLeft = 0;             // horizontal extent in the strip, recomputed at every layout
    int xRight = 0;
    QIcon icon;  // 16x16, optional
};

class TTabWnd : public QWidget {
    Q_OBJECT

public:
    enum TabPosition { Top = 0, Bottom = 1 };

    explicit TTabWnd(QWidget* parent = nullptr);
    ~TTabWnd() override;

    // Makes `splitter` a page: it becomes a grid of rows x cols empty panes (SetSplitterPane fills them).
    // Null, and no tab, when the grid cannot be made.
    virtual TTabPage* AddSplitterPage(const QString& title, int rows, int cols, QSplitter* splitter);
    // Makes `view` (created by the caller) a page. Null, and no tab, for a null view.
    virtual TTabPage* AddViewPage(const QString& title, QWidget* view);

    virtual int TabAtPoint(const QPoint& point) const { return TabAt(point.x(), point.y()); }
    // The selectable, shown tab under (x, y) in the strip; -1 outside every tab. At a shared edge the left
    // tab wins.
    virtual int TabAt(int x, int y) const;
    // Makes tab `index` active: the old page is hidden and disabled, the new one shown, enabled (as its tab
    // says) and focused. With `activateView` the view inside the new page becomes the active view
    // (activeViewChanged). False for -1, a tab that cannot be selected, or a refusal by CanSelectTab.
    virtual bool SelectTab(int index, bool activateView);
    // Hooks for subclasses: a veto before, and a notice after a selection.
    virtual bool CanSelectTab(QWidget* oldPage, QWidget* newPage);
    virtual void OnTabSelected(QWidget* oldPage, QWidget* newPage);
    // Places every page in the area beside the strip.
    virtual void RecalcTabLayout();

    // Steps to the next (or previous) selectable tab, wrapping; true when there is any tab (the key is
    // taken even when nothing else can be selected).
    bool CycleTab(bool backwards);

    int TabCount() const { return static_cast<int>(m_tabs.size()); }
    TTabPage* Tab(int index) const;
    int ActiveTab() const { return m_nActiveTab; }
    int IndexOfPage(const QWidget* page) const;
    QWidget* PageOf(int index) const;
    QString TitleOf(int index) const;
    void SetTabIcon(int index, const QIcon& icon);

    TabPosition Position() const { return m_nTabPosition; }
    void SetPosition(TabPosition position);

    // Ctrl+Tab / Ctrl+Shift+Tab and Ctrl+PgDown / Ctrl+PgUp cycle the tabs while the focus is inside.
    void SetCtrlTabEnabled(bool enabled) { m_bCtrlTab = enabled; }

    // The view a page stands for: a view page itself; in a splitter the pane that had the focus last, else
    // the first enabled pane that yields a view, else the first pane; in a nested tab window, the view of its
    // active page.
    static QWidget* ViewOfPage(QWidget* page);

    // A longer title is cut: its label is at most this wide.
    static constexpr int kMaxLabelWidth = 200;

signals:
    void tabSelected(int index);
    void activeViewChanged(QWidget* view);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    TTabPage* AddTab(QWidget* page, const QString& title);
    void LayoutStrip();
    void InvalidateStrip();
    void DrawFrame(QPainter& p);
    void DrawTab(QPainter& p, const TTabPage& tab, int x, bool active);
    int TabWidth(const TTabPage& tab) const;
    void OnShortcut(bool backwards);

    QFont m_fontTabs;
    int m_nActiveTab = 0;  // -1: none
    bool m_bInLayout = false;
    bool m_bCtrlTab = true;
    std::vector<std::unique_ptr<TTabPage>> m_tabs;
    TabPosition m_nTabPosition = Bottom;
};

// Static splitter grids on QSplitter: rows x cols panes, nested (a vertical splitter of horizontal ones) when
// both exceed 1; panes start as empty placeholders.
bool CreateSplitterGrid(QSplitter* splitter, int rows, int cols);
QWidget* SplitterPane(QSplitter* splitter, int row, int col);
// Puts `view` in pane (row, col) in place of what was there (deleted). False when there is no such pane.
bool SetSplitterPane(QSplitter* splitter, int row, int col, QWidget* view);
