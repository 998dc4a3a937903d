#include "ui/TabWnd.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>
#include <QSplitter>

#include <algorithm>

namespace {

// Pane placeholders of a fresh grid, until a view takes their place.
const char kPlaceholder[] = "pacterra-empty-pane";
// Marks the outer splitter of a grid with more than one row and column (its rows are splitters).
const char kGridProperty[] = "pacterraSplitterGrid";

QColor Face(const QPalette& pal) {
    return pal.color(QPalette::Button);
}
QColor Hilite(const QPalette& pal) {
    return pal.color(QPalette::Light);
}
QColor Light3D(const QPalette& pal) {
    return pal.color(QPalette::Midlight);
}
QColor Shadow(const QPalette& pal) {
    return pal.color(QPalette::Dark);
}

// GDI's LineTo leaves out the end point; the pixel art was laid out for that.
void Line(QPainter& p, int x1, int y1, int x2, int y2) {
    if (x1 == x2 && y1 == y2)
        return;
    const int dx = (x2 > x1) - (x2 < x1);
    const int dy = (y2 > y1) - (y2 < y1);
    p.drawLine(x1, y1, x2 - dx, y2 - dy);
}

// FrameRect: a 1-pixel frame inside [left, right) x [top, bottom).
void Frame(QPainter& p, int left, int top, int right, int bottom, const QColor& c) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRect(left, top, right - left, 1);
    p.drawRect(left, bottom - 1, right - left, 1);
    p.drawRect(left, top, 1, bottom - top);
    p.drawRect(right - 1, top, 1, bottom - top);
    p.setBrush(Qt::NoBrush);
}

void Draw3dRect(QPainter& p, int x, int y, int cx, int cy, const QColor& topLeft, const QColor& bottomRight) {
    p.fillRect(x, y, cx - 1, 1, topLeft);
    p.fillRect(x, y, 1, cy - 1, topLeft);
    p.fillRect(x + cx, y, -1, cy, bottomRight);
    p.fillRect(x, y + cy, cx, -1, bottomRight);
}

QPen Pen(const QColor& c, int width = 1) {
    QPen pen(c, width);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

}  // namespace

TTabPage::~TTabPage() {
    delete label;
}

TTabWnd::TTabWnd(QWidget* parent) : QWidget(parent) {
    // The status bar's font, as the strip of a frame window expects; measured with the same font.
    m_fontTabs = QApplication::font("QStatusBar");
    setFocusPolicy(Qt::NoFocus);
    struct Key {
        QKeySequence seq;
        bool backwards;
    };
    for (const Key& k : {Key{QKeySequence(Qt::CTRL | Qt::Key_Tab), false},
                         Key{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), true},
                         Key{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), true},
                         Key{QKeySequence(Qt::CTRL | Qt::Key_PageDown), false},
                         Key{QKeySequence(Qt::CTRL | Qt::Key_PageUp), true}}) {
        auto* shortcut = new QShortcut(k.seq, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        const bool back = k.backwards;
        connect(shortcut, &QShortcut::activated, this, [this, back] { OnShortcut(back); });
        // Nested tab windows share the key: the one nearest to the focus takes it.
        connect(shortcut, &QShortcut::activatedAmbiguously, this, [this, back] {
            for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget())
                if (auto* tabs = qobject_cast<TTabWnd*>(w)) {
                    if (tabs == this)
                        OnShortcut(back);
                    return;
                }
        });
    }
}

TTabWnd::~TTabWnd() = default;

void TTabWnd::OnShortcut(bool backwards) {
    if (m_bCtrlTab)
        CycleTab(backwards);
}

TTabPage* TTabWnd::AddTab(QWidget* page, const QString& title) {
    auto tab = std::make_unique<TTabPage>();
    tab->page = page;
    tab->label = new QLabel(title, this);
    tab->label->setTextFormat(Qt::PlainText);
    tab->label->setAlignment(Qt::AlignCenter);
    tab->label->setFont(m_fontTabs);
    // Clicks on a title belong to the strip.
    tab->label->setAttribute(Qt::WA_TransparentForMouseEvents);
    tab->label->show();
    if (!m_tabs.empty()) {
        page->setEnabled(false);
        page->hide();
    } else {
        page->show();
    }
    m_tabs.push_back(std::move(tab));
    RecalcTabLayout();
    LayoutStrip();
    InvalidateStrip();
    return m_tabs.back().get();
}

TTabPage* TTabWnd::AddSplitterPage(const QString& title, int rows, int cols, QSplitter* splitter) {
    if (!splitter)
        return nullptr;
    splitter->setParent(this);
    if (!CreateSplitterGrid(splitter, rows, cols))
        return nullptr;
    return AddTab(splitter, title);
}

TTabPage* TTabWnd::AddViewPage(const QString& title, QWidget* view) {
    if (!view)
        return nullptr;
    view->setParent(this);
    return AddTab(view, title);
}

TTabPage* TTabWnd::Tab(int index) const {
    if (index < 0 || index >= TabCount())
        return nullptr;
    return m_tabs[static_cast<size_t>(index)].get();
}

int TTabWnd::IndexOfPage(const QWidget* page) const {
    if (!page)
        return -1;
    for (int i = 0; i < TabCount(); ++i)
        if (m_tabs[static_cast<size_t>(i)]->page == page)
            return i;
    return -1;
}

QWidget* TTabWnd::PageOf(int index) const {
    const TTabPage* tab = Tab(index);
    return tab ? tab->page.data() : nullptr;
}

QString TTabWnd::TitleOf(int index) const {
    const TTabPage* tab = Tab(index);
    return tab ? tab->label->text() : QString();
}

void TTabWnd::SetTabIcon(int index, const QIcon& icon) {
    if (TTabPage* tab = Tab(index)) {
        tab->icon = icon;
        LayoutStrip();
        InvalidateStrip();
    }
}

void TTabWnd::SetPosition(TabPosition position) {
    m_nTabPosition = position;
    RecalcTabLayout();
    LayoutStrip();
    update();
}

void TTabWnd::RecalcTabLayout() {
    if (m_bInLayout)
        return;
    m_bInLayout = true;
    const int w = width();
    const int h = height();
    const QRect area = m_nTabPosition == Bottom ? QRect(1, 0, std::max(w - 2, 0), std::max(h - 30, 0))
                                                : QRect(1, 31, std::max(w - 2, 0), std::max(h - 32, 0));
    for (const auto& tab : m_tabs)
        if (tab->page)
            tab->page->setGeometry(area);
    m_bInLayout = false;
}

int TTabWnd::TabWidth(const TTabPage& tab) const {
    const int tw = QFontMetrics(m_fontTabs).horizontalAdvance(tab.label->text());
    const int b = std::min(tw + 4, kMaxLabelWidth);
    const int w = tab.icon.isNull() ? b : b + 18;
    return w + 6;
}

void TTabWnd::LayoutStrip() {
    const int H = height();
    const int th = QFontMetrics(m_fontTabs).height();
    int x = 0;
    for (const auto& tab : m_tabs) {
        if (tab->bShown) {
            tab->xLeft = x;
            const int b =
                std::min(QFontMetrics(m_fontTabs).horizontalAdvance(tab->label->text()) + 4, kMaxLabelWidth);
            const int left = x + (tab->icon.isNull() ? 3 : 21);
            const int top = (m_nTabPosition == Top ? 7 : H - 25) + (20 - th) / 2;
            tab->label->setGeometry(left, top, b, th);
            tab->label->show();
            x += TabWidth(*tab);
        } else {
            tab->label->hide();
        }
        tab->xRight = x;
    }
}

void TTabWnd::InvalidateStrip() {
    if (m_nTabPosition == Bottom)
        update(0, height() - 33, width(), 33);
    else
        update(0, 0, width(), 31);
}

int TTabWnd::TabAt(int x, int y) const {
    const int H = height();
    const bool inBand = m_nTabPosition == Bottom ? (y >= H - 26 && y <= H - 6) : (y >= 6 && y <= 26);
    if (!inBand)
        return -1;
    for (int i = 0; i < TabCount(); ++i) {
        const TTabPage& tab = *m_tabs[static_cast<size_t>(i)];
        if (tab.bSelectable && tab.bShown && tab.xLeft <= x && x <= tab.xRight)
            return i;
    }
    return -1;
}

QWidget* TTabWnd::ViewOfPage(QWidget* page) {
    if (!page)
        return nullptr;
    if (auto* tabs = qobject_cast<TTabWnd*>(page))
        return ViewOfPage(tabs->PageOf(tabs->ActiveTab()));
    auto* splitter = qobject_cast<QSplitter*>(page);
    if (!splitter)
        return page;
    if (QWidget* last = splitter->focusWidget()) {
        for (int i = 0; i < splitter->count(); ++i) {
            QWidget* pane = splitter->widget(i);
            if (pane == last || pane->isAncestorOf(last))
                return ViewOfPage(pane);
        }
    }
    for (int i = 0; i < splitter->count(); ++i) {
        QWidget* pane = splitter->widget(i);
        if (pane->isEnabled() && pane->objectName() != QLatin1String(kPlaceholder))
            if (QWidget* view = ViewOfPage(pane); view && view->objectName() != QLatin1String(kPlaceholder))
                return view;
    }
    return splitter->count() > 0 ? splitter->widget(0) : nullptr;
}

bool TTabWnd::SelectTab(int index, bool activateView) {
    if (index == -1)
        return false;
    if (index == m_nActiveTab)
        return true;
    TTabPage* tab = Tab(index);
    if (!tab || !tab->bSelectable || !tab->bShown || !tab->page)
        return false;
    QWidget* oldPage = PageOf(m_nActiveTab);
    QWidget* newPage = tab->page;
    if (!CanSelectTab(oldPage, newPage))
        return false;
    // Whether the keyboard was in this window: a selection by code while the user types elsewhere must not
    // steal the focus.
    const QWidget* focus = QApplication::focusWidget();
    const bool hadFocus = focus && (isAncestorOf(focus) || !focus->isVisible());
    if (oldPage) {
        oldPage->setEnabled(false);
        oldPage->hide();
    }
    newPage->setEnabled(tab->bPageEnabled);
    newPage->show();
    QWidget* view = ViewOfPage(newPage);
    if (view && (hadFocus || activateView || !focus))
        view->setFocus(Qt::TabFocusReason);
    m_nActiveTab = index;
    InvalidateStrip();
    OnTabSelected(oldPage, newPage);
    emit tabSelected(index);
    if (activateView && view)
        emit activeViewChanged(view);
    return true;
}

bool TTabWnd::CanSelectTab(QWidget*, QWidget*) {
    return true;
}

void TTabWnd::OnTabSelected(QWidget*, QWidget*) {}

bool TTabWnd::CycleTab(bool backwards) {
    const int n = TabCount();
    if (n == 0)
        return false;
    int i = m_nActiveTab;
    for (int step = 1; step < n || (m_nActiveTab < 0 && step <= n); ++step) {
        i = backwards ? (i <= 0 ? n - 1 : i - 1) : (i + 1) % n;
        if (i == m_nActiveTab)
            break;
        if (SelectTab(i, true))
            break;
    }
    return true;
}

void TTabWnd::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    RecalcTabLayout();
    LayoutStrip();
}

void TTabWnd::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange) {
        m_fontTabs = QApplication::font("QStatusBar");
        for (const auto& tab : m_tabs)
            tab->label->setFont(m_fontTabs);
        LayoutStrip();
        update();
    }
}

void TTabWnd::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        SelectTab(TabAtPoint(event->position().toPoint()), true);
    QWidget::mouseReleaseEvent(event);
}

void TTabWnd::DrawFrame(QPainter& p) {
    const QPalette& pal = palette();
    const int w = width();
    const int h = height();
    if (qobject_cast<QMainWindow*>(parentWidget())) {
        // An etched edge where the strip meets the frame's border.
        const int y = m_nTabPosition == Bottom ? h - 2 : 0;
        p.fillRect(0, y, w, 1, Shadow(pal));
        p.fillRect(0, y + 1, w, 1, Hilite(pal));
    }
    if (m_nTabPosition == Bottom) {
        Draw3dRect(p, 0, 0, w, h - 29, Shadow(pal), Hilite(pal));
        Draw3dRect(p, 1, 1, w - 2, h - 31, Qt::black, Light3D(pal));
    } else {
        Draw3dRect(p, 0, 30, w, h - 30, Shadow(pal), Hilite(pal));
        Draw3dRect(p, 1, 31, w - 2, h - 32, Qt::black, Light3D(pal));
    }
}

void TTabWnd::DrawTab(QPainter& p, const TTabPage& tab, int x, bool active) {
    const QPalette& pal = palette();
    const int H = height();
    const int R = width();
    const int w = TabWidth(tab) - 6;
    const QPen black = Pen(Qt::black), face = Pen(Face(pal)), hilite = Pen(Hilite(pal)),
               hilite2 = Pen(Hilite(pal), 2), shadow = Pen(Shadow(pal)), shadow2 = Pen(Shadow(pal), 2);
    if (m_nTabPosition == Bottom && active) {
        p.setPen(black);
        Line(p, x, H - 26, x, H - 7);
        Line(p, x + 3, H - 6, x + 3 + w, H - 6);
        Line(p, x + 3 + w, H - 6, x + w + 5, H - 8);
        Line(p, x + w + 5, H - 8, x + w + 5, H - 26);
        p.setPen(hilite);
        Line(p, x + 1, H - 25, x + 1, H - 7);
        p.setPen(shadow);
        Line(p, x + 1, H - 7, x + w + 5, H - 7);
        Line(p, x + w + 4, H - 25, x + w + 4, H - 7);
        p.setPen(black);
        Line(p, 0, H - 26, x, H - 26);
        Line(p, x + w + 6, H - 26, R, H - 26);
        p.setPen(shadow);
        if (x != 0)
            Line(p, 0, H - 27, x, H - 27);
        Line(p, x + w + 5, H - 27, R, H - 27);
        p.fillRect(x + 3, H - 26, w, 18, Face(pal));
    } else if (m_nTabPosition == Bottom) {
        Frame(p, x, H - 26, x + w + 6, H - 5, Qt::black);
        p.setPen(shadow);
        Line(p, x + 1, H - 7, x + w + 5, H - 7);
        Line(p, x + w + 4, H - 26, x + w + 4, H - 7);
        Line(p, x + w + 3, H - 8, x + w + 5, H - 6);
        p.setPen(face);
        Line(p, x + w + 3, H - 5, x + w + 6, H - 6);
        Line(p, x + w + 3, H - 5, x + w + 6, H - 5);
        Line(p, x + w + 4, H - 5, x + w + 6, H - 4);
        p.fillRect(QRect(QPoint(x + 1, H - 25), QPoint(x + w + 2, H - 9)), Face(pal));
    } else if (active) {
        p.setPen(black);
        Line(p, x, 25, x, 6);
        Line(p, x, 6, x + w + 5, 6);
        Line(p, x + w + 5, 6, x + w + 5, 26);
        p.setPen(hilite2);
        Line(p, x + 2, 25, x + 2, 8);
        Line(p, x + 2, 8, x + w + 2, 8);
        p.setPen(shadow2);
        Line(p, x + w + 4, 8, x + w + 4, 25);
        p.setPen(face);
        Line(p, x - 1, 26, x + w + 6, 26);
        Line(p, x - 1, 27, x + w + 6, 27);
        p.setPen(black);
        Line(p, 0, 25, x, 25);
        Line(p, x + w + 7, 25, R, 25);
        p.setPen(hilite2);
        if (x != 0)
            Line(p, 0, 27, x, 27);
        Line(p, x + w + 6, 27, R, 27);
        p.fillRect(x + 3, 9, w, 20, Face(pal));
    } else {
        Frame(p, x, 6, x + w + 6, 26, Qt::black);
        p.setPen(hilite);
        Line(p, x + 1, 7, x + 1, 25);
        Line(p, x + 1, 7, x + w + 4, 7);
        p.setPen(shadow);
        Line(p, x + w + 4, 7, x + w + 4, 25);
        p.fillRect(QRect(QPoint(x + 2, 8), QPoint(x + w + 3, 24)), Face(pal));
    }
    if (!tab.icon.isNull())
        tab.icon.paint(&p, QRect(x + 4, m_nTabPosition == Top ? 8 : H - 24, 16, 16));
}

void TTabWnd::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int w = width();
    const int h = height();
    if (m_nTabPosition == Bottom)
        p.fillRect(0, h - 33, w, 33, Face(palette()));
    else
        p.fillRect(0, 0, w, 31, Face(palette()));
    DrawFrame(p);
    LayoutStrip();
    for (int i = 0; i < TabCount(); ++i) {
        const TTabPage& tab = *m_tabs[static_cast<size_t>(i)];
        if (tab.bShown)
            DrawTab(p, tab, tab.xLeft, i == m_nActiveTab);
    }
}

bool CreateSplitterGrid(QSplitter* splitter, int rows, int cols) {
    // The static splitters of the view area are small grids; anything else is a declaration mistake.
    if (!splitter || rows < 1 || cols < 1 || rows > 16 || cols > 16 || splitter->count() != 0)
        return false;
    auto placeholder = [] {
        auto* w = new QWidget;
        w->setObjectName(QLatin1String(kPlaceholder));
        return w;
    };
    splitter->setChildrenCollapsible(false);
    if (rows == 1 || cols == 1) {
        splitter->setOrientation(rows == 1 ? Qt::Horizontal : Qt::Vertical);
        for (int i = 0; i < std::max(rows, cols); ++i)
            splitter->addWidget(placeholder());
        return true;
    }
    splitter->setOrientation(Qt::Vertical);
    splitter->setProperty(kGridProperty, true);
    for (int r = 0; r < rows; ++r) {
        auto* row = new QSplitter(Qt::Horizontal);
        row->setChildrenCollapsible(false);
        for (int c = 0; c < cols; ++c)
            row->addWidget(placeholder());
        splitter->addWidget(row);
    }
    return true;
}

namespace {

// The splitter and index that hold pane (row, col), or null.
QSplitter* PaneSlot(QSplitter* splitter, int row, int col, int* index) {
    if (!splitter || row < 0 || col < 0)
        return nullptr;
    if (splitter->property(kGridProperty).toBool()) {
        if (row >= splitter->count())
            return nullptr;
        auto* line = qobject_cast<QSplitter*>(splitter->widget(row));
        if (!line || col >= line->count())
            return nullptr;
        *index = col;
        return line;
    }
    const int i = splitter->orientation() == Qt::Horizontal ? (row == 0 ? col : -1) : (col == 0 ? row : -1);
    if (i < 0 || i >= splitter->count())
        return nullptr;
    *index = i;
    return splitter;
}

}  // namespace

QWidget* SplitterPane(QSplitter* splitter, int row, int col) {
    int index = 0;
    QSplitter* holder = PaneSlot(splitter, row, col, &index);
    return holder ? holder->widget(index) : nullptr;
}

bool SetSplitterPane(QSplitter* splitter, int row, int col, QWidget* view) {
    int index = 0;
    QSplitter* holder = PaneSlot(splitter, row, col, &index);
    if (!holder || !view)
        return false;
    QWidget* old = holder->replaceWidget(index, view);
    if (!old)
        return false;
    view->setEnabled(holder->isEnabled());
    view->show();
    delete old;
    return true;
}
