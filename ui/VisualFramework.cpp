#include "ui/VisualFramework.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMdiSubWindow>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/TabWnd.h"

TLayoutNode::TLayoutNode(int id) : m_id(id) {}

TLayoutNode* TLayoutNode::TabWindow(int id, const QString& title, unsigned style, TabWndFactory create) {
    auto* node = new TLayoutNode(id);
    node->m_kind = Kind::TabWnd;
    node->m_title = title;
    node->m_style = style;
    node->m_createTabs = create ? std::move(create) : [](QWidget* parent) { return new TTabWnd(parent); };
    return node;
}

TLayoutNode* TLayoutNode::Splitter(int id, const QString& title, int rows, int cols, unsigned style) {
    auto* node = new TLayoutNode(id);
    node->m_kind = Kind::Splitter;
    node->m_title = title;
    node->m_rows = rows;
    node->m_cols = cols;
    node->m_style = style;
    return node;
}

TLayoutNode* TLayoutNode::PaneView(int id, int row, int col, ViewFactory create, int cx, int cy,
                                   unsigned style) {
    auto* node = new TLayoutNode(id);
    node->m_kind = create ? Kind::PaneView : Kind::None;
    node->m_row = row;
    node->m_col = col;
    node->m_createView = std::move(create);
    node->m_cx = cx;
    node->m_cy = cy;
    node->m_style = style;
    return node;
}

TLayoutNode* TLayoutNode::View(int id, const QString& title, ViewFactory create, unsigned style) {
    auto* node = new TLayoutNode(id);
    node->m_kind = create ? Kind::View : Kind::None;
    node->m_title = title;
    node->m_createView = std::move(create);
    node->m_style = style;
    return node;
}

bool TLayoutNode::SetIcon(const QIcon& icon) {
    if (icon.isNull()) {
        m_icon = QIcon();
        return true;
    }
    if (!m_icon.isNull())
        return false;
    m_icon = icon;
    return true;
}

TVisualFramework::TVisualFramework(QObject* parent) : QObject(parent) {}

TVisualFramework::~TVisualFramework() {
    if (!m_nodes.empty() && !m_roots.empty())
        DestroyLayout();
    for (auto& [id, node] : m_nodes)
        delete node;
}

bool TVisualFramework::AddNode(TLayoutNode* node) {
    if (!node || node->m_framework || m_nodes.count(node->id()))
        return false;
    m_roots.push_back(node);
    node->m_framework = this;
    m_nodes[node->id()] = node;
    return true;
}

bool TVisualFramework::AddNode(TLayoutNode* parent, TLayoutNode* node) {
    if (!parent || parent->m_framework != this || !node || node->m_framework || m_nodes.count(node->id()))
        return false;
    parent->m_children.push_back(node);
    node->m_parent = parent;
    node->m_framework = this;
    m_nodes[node->id()] = node;
    return true;
}

QSplitter* TVisualFramework::NewSplitter() {
    return new QSplitter;
}

bool TVisualFramework::CreateLayout(QWidget* frame) {
    if (!frame || m_frame)
        return false;
    m_frame = frame;
    if (qobject_cast<QMdiSubWindow*>(frame))
        m_bCtrlTab = false;  // the MDI area cycles its windows with that key
    for (TLayoutNode* root : m_roots) {
        if (!CreateNode(root, frame))
            return false;
        QWidget* w = root->window();
        auto* main = qobject_cast<QMainWindow*>(frame);
        if (main && !main->centralWidget()) {
            main->setCentralWidget(w);
        } else if (!main) {
            if (!frame->layout()) {
                auto* layout = new QVBoxLayout(frame);
                layout->setContentsMargins(0, 0, 0, 0);
                layout->setSpacing(0);
            }
            frame->layout()->addWidget(w);
        }
    }
    // A view that gets the keyboard becomes the active view, as a click into it would make it.
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this,
                           [this](QWidget*, QWidget* now) { OnFocusChanged(now); });
    for (auto& [id, node] : m_nodes) {
        QWidget* w = node->window();
        if (qobject_cast<QSplitter*>(w) || qobject_cast<TTabWnd*>(w))
            continue;
        ActivateNode(node);
        break;
    }
    return true;
}

namespace {

// Gives the panes that asked for a width (or height) that size, and the rest the remaining space; the sized
// panes keep their size when the window grows.
void ApplyPaneSizes(QSplitter* splitter, const std::vector<TLayoutNode*>& panes, bool horizontal, int row) {
    QList<int> sizes(splitter->count(), 0);
    bool any = false;
    for (TLayoutNode* pane : panes) {
        if (pane->kind() != TLayoutNode::Kind::PaneView || (horizontal && pane->row() != row))
            continue;
        const int index = horizontal ? pane->col() : pane->row();
        const int size = horizontal ? pane->initialSize().width() : pane->initialSize().height();
        if (index < 0 || index >= splitter->count() || size <= 0)
            continue;
        sizes[index] = size;
        any = true;
    }
    if (!any)
        return;
    for (int i = 0; i < splitter->count(); ++i) {
        splitter->setStretchFactor(i, sizes[i] > 0 ? 0 : 1);
        if (sizes[i] == 0)
            sizes[i] = 1 << 16;  // shares whatever the sized panes leave
    }
    splitter->setSizes(sizes);
}

}  // namespace

bool TVisualFramework::CreateNode(TLayoutNode* node, QWidget* parent) {
    node->m_parentWindow = parent;
    auto* parentTabs = qobject_cast<TTabWnd*>(parent);
    switch (node->kind()) {
        case TLayoutNode::Kind::Splitter: {
            QSplitter* splitter = NewSplitter();
            if (!splitter)
                return false;
            if (parentTabs) {
                if (!parentTabs->AddSplitterPage(node->title(), node->rows(), node->cols(), splitter)) {
                    delete splitter;
                    return false;
                }
                parentTabs->SetTabIcon(parentTabs->IndexOfPage(splitter), node->icon());
            } else {
                splitter->setParent(parent);
                if (!CreateSplitterGrid(splitter, node->rows(), node->cols())) {
                    delete splitter;
                    return false;
                }
            }
            node->m_window = splitter;
            ApplyStyle(node);
            for (TLayoutNode* child : node->children())
                if (!CreateNode(child, splitter))
                    return false;
            if (node->rows() == 1 || node->cols() == 1) {
                ApplyPaneSizes(splitter, node->children(), node->rows() == 1, 0);
            } else {
                for (int r = 0; r < node->rows(); ++r)
                    ApplyPaneSizes(qobject_cast<QSplitter*>(splitter->widget(r)), node->children(), true, r);
            }
            return true;
        }
        case TLayoutNode::Kind::PaneView: {
            auto* splitter = qobject_cast<QSplitter*>(parent);
            if (!splitter)
                return false;
            QWidget* view = node->m_createView(nullptr);
            if (!view)
                return false;
            if (!SetSplitterPane(splitter, node->row(), node->col(), view)) {
                delete view;
                return false;
            }
            node->m_window = view;
            ApplyStyle(node);
            for (TLayoutNode* child : node->children())
                if (!CreateNode(child, view))
                    return false;
            return true;
        }
        case TLayoutNode::Kind::TabWnd: {
            TTabWnd* tabs = node->m_createTabs(nullptr);
            if (!tabs)
                return false;
            tabs->SetCtrlTabEnabled(m_bCtrlTab);
            connect(tabs, &TTabWnd::activeViewChanged, this, &TVisualFramework::SetActiveView);
            if (parentTabs) {
                if (!parentTabs->AddViewPage(node->title(), tabs)) {
                    delete tabs;
                    return false;
                }
                parentTabs->SetTabIcon(parentTabs->IndexOfPage(tabs), node->icon());
            } else {
                tabs->setParent(parent);
                tabs->show();
            }
            node->m_window = tabs;
            ApplyStyle(node);
            for (TLayoutNode* child : node->children())
                if (!CreateNode(child, tabs))
                    return false;
            return true;
        }
        case TLayoutNode::Kind::View: {
            if (!parentTabs)
                return false;
            QWidget* view = node->m_createView(nullptr);
            if (!view)
                return false;
            if (!parentTabs->AddViewPage(node->title(), view)) {
                delete view;
                return false;
            }
            parentTabs->SetTabIcon(parentTabs->IndexOfPage(view), node->icon());
            node->m_window = view;
            ApplyStyle(node);
            return true;
        }
        case TLayoutNode::Kind::None:
            break;
    }
    return false;
}

void TVisualFramework::ApplyStyle(TLayoutNode* node) {
    if (auto* tabs = qobject_cast<TTabWnd*>(node->window())) {
        if (node->style() & TLayoutNode::kTabsTop)
            tabs->SetPosition(TTabWnd::Top);
        else if (node->style() & TLayoutNode::kTabsBottom)
            tabs->SetPosition(TTabWnd::Bottom);
    }
    if (auto* parentTabs = qobject_cast<TTabWnd*>(node->parentWindow()))
        if (node->style() & TLayoutNode::kActiveTab)
            parentTabs->SelectTab(parentTabs->IndexOfPage(node->window()), true);
}

void TVisualFramework::DestroyWindows(TLayoutNode* node) {
    QWidget* w = node->window();
    if (!w || !(qobject_cast<TTabWnd*>(w) || qobject_cast<QSplitter*>(w)))
        return;  // views go with the windows that hold them
    for (TLayoutNode* child : node->children())
        DestroyWindows(child);
    delete w;
}

void TVisualFramework::DestroyLayout() {
    disconnect(m_focusWatch);
    for (TLayoutNode* root : m_roots)
        DestroyWindows(root);
    for (auto& [id, node] : m_nodes)
        delete node;
    m_nodes.clear();
    m_roots.clear();
    m_activeView = nullptr;
    m_frame = nullptr;
}

TLayoutNode* TVisualFramework::FindNode(int id) const {
    const auto it = m_nodes.find(id);
    return it == m_nodes.end() ? nullptr : it->second;
}

TLayoutNode* TVisualFramework::FindNode(const QWidget* window) const {
    if (!window)
        return nullptr;
    for (const auto& [id, node] : m_nodes)
        if (node->window() == window)
            return node;
    return nullptr;
}

bool TVisualFramework::ActivateNode(TLayoutNode* node) {
    if (!node || node->framework() != this || !node->window() || !node->activatable)
        return false;
    if (qobject_cast<QSplitter*>(node->window()) || qobject_cast<TTabWnd*>(node->window()))
        return false;
    std::vector<TLayoutNode*> path;
    for (TLayoutNode* n = node; n; n = n->parentNode())
        path.push_back(n);
    std::reverse(path.begin(), path.end());
    for (TLayoutNode* n : path) {
        TLayoutNode* up = n->parentNode();
        if (auto* tabs = up ? qobject_cast<TTabWnd*>(up->window()) : nullptr)
            if (!tabs->SelectTab(tabs->IndexOfPage(n->window()), true))
                return false;
    }
    node->window()->setFocus(Qt::OtherFocusReason);
    SetActiveView(node->window());
    return true;
}

void TVisualFramework::SetActiveView(QWidget* view) {
    if (view == m_activeView)
        return;
    m_activeView = view;
    emit activeViewChanged(view);
}

void TVisualFramework::OnFocusChanged(QWidget* now) {
    for (QWidget* w = now; w; w = w->parentWidget()) {
        if (w == m_frame)
            return;
        if (const TLayoutNode* node = FindNode(w)) {
            if (node->kind() == TLayoutNode::Kind::View || node->kind() == TLayoutNode::Kind::PaneView)
                SetActiveView(w);
            return;
        }
    }
}

void TVisualFramework::EnableCtrlTab(bool enabled) {
    m_bCtrlTab = enabled;
    for (auto& [id, node] : m_nodes)
        if (auto* tabs = qobject_cast<TTabWnd*>(node->window()))
            tabs->SetCtrlTabEnabled(enabled);
}

bool TVisualFramework::HandleKeyMessage(QWidget* target, const QKeyEvent& event) {
    if (event.type() != QEvent::KeyPress)
        return false;
    const bool tab = event.key() == Qt::Key_Tab || event.key() == Qt::Key_Backtab;
    if (tab && (event.modifiers() & Qt::ControlModifier)) {
        if (!m_bCtrlTab || !target || target == m_frame)
            return false;
        const TLayoutNode* node = nullptr;
        for (QWidget* w = target; w && !node; w = w->parentWidget())
            node = FindNode(w);
        for (; node; node = node->parentNode())
            if (auto* tabs = qobject_cast<TTabWnd*>(node->window()))
                return tabs->CycleTab(event.key() == Qt::Key_Backtab ||
                                      (event.modifiers() & Qt::ShiftModifier));
        return false;
    }
    if (event.modifiers() == Qt::AltModifier && event.key() != 0) {
        for (auto& [id, node] : m_nodes)
            if (node->hotKey == event.key() && ActivateNode(node))
                return true;
    }
    return false;
}
