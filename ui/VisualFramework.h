// The view area of a frame, declared as a tree of layout nodes (tab windows, splitters, views placed as tab
// pages or splitter panes) and built in one go. The caller creates the views through factories, so the
// framework knows nothing of their classes.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <map>
#include <vector>

class QKeyEvent;
class QSplitter;
class QWidget;
class TTabWnd;
class TVisualFramework;

class TLayoutNode {
public:
    enum class Kind { None, Splitter, PaneView, TabWnd, View };
    // Style bits.
    static constexpr unsigned kTabsTop = 0x1;     // the node's tab window shows its tabs at the top
    static constexpr unsigned kTabsBottom = 0x2;  // ... at the bottom
    static constexpr unsigned kActiveTab = 0x4;   // the node's page is the active tab of its tab window

    using ViewFactory = std::function<QWidget*(QWidget* parent)>;
    using TabWndFactory = std::function<TTabWnd*(QWidget* parent)>;

    template <class T>
    static ViewFactory Create() {
        return [](QWidget* parent) -> QWidget* { return new T(parent); };
    }

    // A node of no kind: it makes CreateLayout fail.
    explicit TLayoutNode(int id);
    virtual ~TLayoutNode() = default;
    TLayoutNode(const TLayoutNode&) = delete;
    TLayoutNode& operator=(const TLayoutNode&) = delete;

    // A tab window; `create` defaults to a plain TTabWnd.
    static TLayoutNode* TabWindow(int id, const QString& title, unsigned style = 0,
                                  TabWndFactory create = {});
    // A splitter of rows x cols panes: a page titled `title` in a tab window, or the frame's own area.
    static TLayoutNode* Splitter(int id, const QString& title, int rows, int cols, unsigned style = 0);
    // A view in pane (row, col) of the parent splitter, with an initial width cx / height cy (0: share the
    // rest).
    static TLayoutNode* PaneView(int id, int row, int col, ViewFactory create, int cx, int cy,
                                 unsigned style = 0);
    // A view as a page of the parent tab window.
    static TLayoutNode* View(int id, const QString& title, ViewFactory create, unsigned style = 0);

    // The 16x16 picture of the node's tab. False when the node already has one (a null icon clears it).
    bool SetIcon(const QIcon& icon);

    Kind kind() const { return m_kind; }
    int id() const { return m_id; }
    QWidget* window() const { return m_window; }
    QWidget* parentWindow() const { return m_parentWindow; }
    QString title() const { return m_title; }
    int rows() const { return m_rows; }
    int cols() const { return m_cols; }
    int row() const { return m_row; }
    int col() const { return m_col; }
    QSize initialSize() const { return {m_cx, m_cy}; }
    unsigned style() const { return m_style; }
    QIcon icon() const { return m_icon; }
    TLayoutNode* parentNode() const { return m_parent; }
    TVisualFramework* framework() const { return m_framework; }
    const std::vector<TLayoutNode*>& children() const { return m_children; }

    bool activatable = true;  // false: ActivateNode refuses it
    int hotKey = 0;           // Qt::Key that activates the node with Alt (0: none)

private:
    friend class TVisualFramework;

    Kind m_kind = Kind::None;
    int m_id = 0;
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_parentWindow;
    QString m_title;
    int m_rows = 0, m_cols = 0;
    int m_row = 0, m_col = 0;
    ViewFactory m_createView;
    TabWndFactory m_createTabs;
    int m_cx = 0, m_cy = 0;
    unsigned m_style = 0;
    QIcon m_icon;
    TLayoutNode* m_parent = nullptr;
    TVisualFramework* m_framework = nullptr;
    std::vector<TLayoutNode*> m_children;
};

class TVisualFramework : public QObject {
    Q_OBJECT

public:
    explicit TVisualFramework(QObject* parent = nullptr);
    ~TVisualFramework() override;

    // Adds a root, or a child of `parent` (after its earlier children). On success the framework owns the
    // node; false (and the caller keeps it) when its id is taken, it is null or already added, or `parent`
    // is not in this framework.
    bool AddNode(TLayoutNode* node);
    bool AddNode(TLayoutNode* parent, TLayoutNode* node);

    // Creates every window depth-first in `frame` (a QMainWindow gets the first root as its central widget;
    // another widget gets the roots in its layout) and activates the first node, in id order, that is not
    // a splitter or tab window. False when a node cannot be created, or the layout exists already.
    virtual bool CreateLayout(QWidget* frame);
    // Deletes the windows it made and every node. Safe to call twice.
    virtual void DestroyLayout();
    // The splitter for a splitter node; a subclass may supply its own kind.
    virtual QSplitter* NewSplitter();
    // Ctrl+Tab / Ctrl+Shift+Tab on a widget inside a tab window cycles that window's tabs; Alt with a node's
    // hot key activates it. True when the key was used.
    virtual bool HandleKeyMessage(QWidget* target, const QKeyEvent& event);

    TLayoutNode* FindNode(int id) const;
    TLayoutNode* FindNode(const QWidget* window) const;
    // Selects every tab on the way to `node` and makes its window the active view. False for a splitter or
    // tab window node, a node that is not activatable or not created, or a tab that refuses selection.
    bool ActivateNode(TLayoutNode* node);

    // The view that the last activation or focus change made active (null before creation).
    QWidget* ActiveView() const { return m_activeView; }
    QWidget* Frame() const { return m_frame; }
    const std::vector<TLayoutNode*>& Roots() const { return m_roots; }
    void EnableCtrlTab(bool enabled);

signals:
    void activeViewChanged(QWidget* view);

private:
    bool CreateNode(TLayoutNode* node, QWidget* parent);
    void ApplyStyle(TLayoutNode* node);
    void DestroyWindows(TLayoutNode* node);
    void SetActiveView(QWidget* view);
    void OnFocusChanged(QWidget* now);

    QPointer<QWidget> m_frame;
    std::vector<TLayoutNode*> m_roots;
    std::map<int, TLayoutNode*> m_nodes;  // owns them
    bool m_bCtrlTab = true;
    QPointer<QWidget> m_activeView;
    QMetaObject::Connection m_focusWatch;
};
