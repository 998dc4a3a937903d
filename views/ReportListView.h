// What the connections list and the packets list share: a report-style table over a model that reads the
// store, with grid lines, whole-row single selection that stays visible without the focus, one-click
// activation (a click, Enter or a double-click; the arrow keys only move the selection) and a
// "&Copy line" context menu. The highlighted row, the one last activated, is painted white on steel blue in
// every cell whatever the selection and the focus.
#pragma once

#include <QColor>
#include <QPointer>
#include <QStringList>
#include <QTableView>
#include <vector>

class QAction;

class CReportListView : public QTableView {
    Q_OBJECT

public:
    // Models answer true under this role for their highlighted row.
    static constexpr int kHighlightRole = Qt::UserRole + 1;
    static constexpr QColor kHighlightBack{80, 108, 160};
    static constexpr QColor kHighlightText{255, 255, 255};

    // The first selected row, or -1.
    int SelectedRow() const;
    // The cells of `row` in column order joined by single spaces, nothing after the last.
    QString LineText(int row) const;
    // "&Copy line" (also Ctrl+C): the selected row's line to the clipboard; nothing without a selected row.
    void CopyLine();
    QAction* CopyLineAction() const { return m_copyLine; }
    // Adds `action` to the row menu, after "&Copy line"; it acts on the selected row. Not owned.
    void AddRowAction(QAction* action);
    // The row menu's entries, in order.
    QList<QAction*> RowActions() const;
    // Selects `row`, brings it into view and activates it, as a click on it does. Nothing for a row the
    // list does not have.
    void SelectAndActivate(int row);

    // Rows are whole: bringing a cell into view scrolls up or down only, so the first columns stay where
    // they are (Ctrl+End, a click on a wide last column).
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

signals:
    // `row` was activated (a click, Enter, a double-click or SelectAndActivate), after the list's own work.
    void rowActivated(int row);

protected:
    // An empty last cell adds nothing to LineText (a column added at the end keeps the old lines' text).
    bool m_lineSkipsEmptyLastCell = false;
    // `copyCommand` is the command number the "&Copy line" entry carries as its data.
    CReportListView(int copyCommand, QWidget* parent);

    // Gives the columns their widths once the model is set: at least `width`, and wide enough for the
    // header's title and for each of `samples` drawn as wide as the font can draw it (every digit as the
    // font's widest digit), next to the row picture when `picture` is set.
    struct Column {
        int width;
        QStringList samples;
        bool picture = false;
    };
    void SetUpColumns(const std::vector<Column>& columns);
    // The width a cell needs for `text` (and a picture of iconSize()): the delegate's own measure.
    int CellWidth(const QString& text, bool picture) const;
    // `sample` with every digit replaced by the widest digit of the list's font.
    QString WidestDigits(QString sample) const;

    // A row was activated (it is the selected row); rowActivated follows.
    virtual void ActivateRow(int row) = 0;

    bool event(QEvent* event) override;
    // Left and Right scroll sideways; Home and End go to the first and last row.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void Activate();

    QAction* m_copyLine;
    // Guarded: an action may go before the list, or (as the list's own child) while the list is going, when
    // no slot of the list may run any more.
    QList<QPointer<QAction>> m_rowActions;
};
