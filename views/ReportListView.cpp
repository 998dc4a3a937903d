#include "views/ReportListView.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyledItemDelegate>

#include "views/Clipboard.h"

namespace {

// Lets the highlighted row's own colours win over the selection colours, and keeps each cell on one line:
// payload bytes such as CR and LF are painted as spaces (the cell's text itself keeps them).
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QString displayText(const QVariant& value, const QLocale& locale) const override {
        QString text = QStyledItemDelegate::displayText(value, locale);
        for (QChar& c : text)
            if (c.unicode() < 0x20 || c == QChar(0x2028) || c.unicode() == 0x7F)
                c = QLatin1Char(' ');
        return text;
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(CReportListView::kHighlightRole).toBool()) {
            option->state &= ~QStyle::State_Selected;
            option->backgroundBrush = CReportListView::kHighlightBack;
            option->palette.setColor(QPalette::Text, CReportListView::kHighlightText);
        }
    }
};

}  // namespace

CReportListView::CReportListView(int copyCommand, QWidget* parent) : QTableView(parent) {
    setItemDelegate(new RowDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setSortingEnabled(false);
    setAlternatingRowColors(false);
    setTabKeyNavigation(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // A list of a million rows: every row has the same height, so nothing is measured per row.
    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(fontMetrics().height() + 4);
    QHeaderView* columns = horizontalHeader();
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setHighlightSections(false);
    columns->setSectionsClickable(false);
    columns->setStretchLastSection(false);

    m_copyLine = new QAction(tr("&Copy line"), this);
    m_copyLine->setData(copyCommand);
    connect(m_copyLine, &QAction::triggered, this, &CReportListView::CopyLine);
}

void CReportListView::SetUpColumns(const std::vector<Column>& list) {
    QHeaderView* header = horizontalHeader();
    for (int i = 0; i < static_cast<int>(list.size()); ++i) {
        const Column& c = list[static_cast<size_t>(i)];
        int width = std::max(c.width, header->sectionSizeHint(i));
        for (const QString& sample : c.samples)
            width = std::max(width, CellWidth(WidestDigits(sample), c.picture));
        header->resizeSection(i, width);
    }
}

int CReportListView::CellWidth(const QString& text, bool picture) const {
    QStandardItemModel probe(1, 1);
    const QModelIndex cell = probe.index(0, 0);
    probe.setData(cell, text);
    if (picture) {
        QPixmap blank(iconSize().isValid() ? iconSize() : QSize(16, 16));
        blank.fill(Qt::transparent);
        probe.setData(cell, blank, Qt::DecorationRole);
    }
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    // The grid line takes a pixel of every cell.
    return itemDelegate()->sizeHint(option, cell).width() + (showGrid() ? 1 : 0);
}

QString CReportListView::WidestDigits(QString sample) const {
    const QFontMetrics metrics = fontMetrics();
    QChar widest = QLatin1Char('0');
    for (char d = '1'; d <= '9'; ++d)
        if (metrics.horizontalAdvance(QLatin1Char(d)) > metrics.horizontalAdvance(widest))
            widest = QLatin1Char(d);
    for (QChar& c : sample)
        if (c.isDigit())
            c = widest;
    return sample;
}

void CReportListView::AddRowAction(QAction* action) {
    m_rowActions.append(action);
}

int CReportListView::SelectedRow() const {
    if (!selectionModel())
        return -1;
    const QModelIndexList rows = selectionModel()->selectedRows();
    int first = -1;
    for (const QModelIndex& i : rows)
        if (first < 0 || i.row() < first)
            first = i.row();
    return first;
}

QString CReportListView::LineText(int row) const {
    QString line;
    if (!model() || row < 0 || row >= model()->rowCount())
        return line;
    const int columns = model()->columnCount();
    for (int c = 0; c < columns; ++c) {
        const QString cell = model()->index(row, c).data().toString();
        if (c == columns - 1 && c > 0 && m_lineSkipsEmptyLastCell && cell.isEmpty())
            break;
        if (c)
            line += QLatin1Char(' ');
        line += cell;
    }
    return line;
}

void CReportListView::CopyLine() {
    const int row = SelectedRow();
    if (row >= 0)
        CopyTextToClipboard(LineText(row));
}

void CReportListView::SelectAndActivate(int row) {
    if (!model() || row < 0 || row >= model()->rowCount())
        return;
    selectRow(row);
    scrollTo(model()->index(row, 0));
    Activate();
}

void CReportListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    QScrollBar* sideways = horizontalScrollBar();
    const int x = sideways->value();
    QTableView::scrollTo(index, hint);
    sideways->setValue(x);
}

QModelIndex CReportListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    switch (action) {
        case MoveLeft:
        case MoveRight:
            horizontalScrollBar()->triggerAction(action == MoveLeft ? QAbstractSlider::SliderSingleStepSub
                                                                    : QAbstractSlider::SliderSingleStepAdd);
            return currentIndex();
        case MoveHome:
        case MoveEnd:
            modifiers |= Qt::ControlModifier;
            break;
        default:
            break;
    }
    const QModelIndex next = QTableView::moveCursor(action, modifiers);
    // The current cell stays in its column: only the row changes.
    const QModelIndex current = currentIndex();
    return next.isValid() && current.isValid() ? next.siblingAtColumn(current.column()) : next;
}

void CReportListView::Activate() {
    const int row = SelectedRow();
    if (row < 0)
        return;
    ActivateRow(row);
    emit rowActivated(row);
}

void CReportListView::mousePressEvent(QMouseEvent* event) {
    QTableView::mousePressEvent(event);
    // One click activates; a click below the last row selects nothing and activates nothing.
    if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid())
        Activate();
}

void CReportListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid())
        Activate();
}

bool CReportListView::event(QEvent* event) {
    // Ctrl+C belongs to the list while it has the focus, even where the window has a copy shortcut.
    if (event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        event->accept();
        return true;
    }
    return QTableView::event(event);
}

void CReportListView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        CopyLine();
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !(event->modifiers() & ~Qt::KeypadModifier)) {
        Activate();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

QList<QAction*> CReportListView::RowActions() const {
    QList<QAction*> all{m_copyLine};
    for (QAction* action : m_rowActions)
        if (action)
            all.append(action);
    return all;
}

void CReportListView::contextMenuEvent(QContextMenuEvent* event) {
    const int row = SelectedRow();
    if (row < 0)
        return;
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        const QRect cell = visualRect(model()->index(row, 0));
        at = viewport()->mapToGlobal(cell.isValid() ? cell.bottomLeft() : QPoint(0, 0));
    }
    QMenu menu(this);
    const QList<QAction*> actions = RowActions();
    menu.addActions(actions.mid(0, 1));
    if (actions.size() > 1)
        menu.addSeparator();
    menu.addActions(actions.mid(1));
    menu.exec(at);
}
