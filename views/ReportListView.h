// What the connections list and the packets list share: a report-style table over a model that reads the
// store, with grid lines, whole-row single selection that stays visible without the focus, one-click
// activation (a click, Enter or a double-click; the arrow keys only move the selection) and a
// "&Copy line" context menu. The highlighted row, the one last activated, is painted white on steel blue in
// every cell whatever the selection and the focus.
#pragma once

#include <QColor>
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
    // Adds `action` to the context menu, below "&Copy line" (the menu still shows only on a selected row).
    void AddContextAction(QAction* action);
    // Selects `row`, brings it into view and activates it, as a click on it does. Nothing for a row the
    // list does not have.
    void SelectAndActivate(int row);

protected:
    // `copyCommand` is the command number the "&Copy line" entry carries as its data.
    CReportListView(int copyCommand, QWidget* parent);

    // Gives the columns their widths once the model is set. A width is widened where `fitText` (the widest
    // usual cell, or empty) would not fit in the list's font; a width of -1 fits the header text.
    struct Column {
        int width;
        const char* fitText;
    };
    void SetUpColumns(const std::vector<Column>& columns);

    // A row was activated (it is the selected row).
    virtual void ActivateRow(int row) = 0;

    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void Activate();

    QAction* m_copyLine;
    QList<QAction*> m_contextActions;
};
