// The filter line above the connections list: the list shows only the connections that match what is
// typed (the words of ConnectionFilter), live as connections arrive. A malformed word is painted red, the
// first reason shows below the line and every reason in its tooltip; the list keeps the last filter that
// could be used meanwhile, and says so. Escape
// clears the line; Ctrl+L anywhere in the window, or "/" in the connections bar, comes to it; Return or
// Down goes to the list.
#pragma once

#include <QLineEdit>
#include <QList>
#include <QPair>
#include <QPointer>

class CListCtrlLeft;
class QLabel;

class CConnectionFilterLine : public QLineEdit {
    Q_OBJECT

public:
    explicit CConnectionFilterLine(CListCtrlLeft* list, QWidget* parent = nullptr);

    // The malformed words as (start, length) in characters of text(); empty when the text is usable.
    const QList<QPair<int, int>>& MalformedRanges() const { return m_malformed; }
    // "12 of 345 connections" while a filter hides some, else empty.
    QString CountText() const;

    // The connections bar's content: this line (and the count of shown connections) above `list`.
    static QWidget* CreatePane(CListCtrlLeft* list, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Apply();
    void PaintMalformed();
    void UpdateCount();
    void ShowProblem();

    QPointer<CListCtrlLeft> m_list;
    QList<QPair<int, int>> m_malformed;
    QLabel* m_count = nullptr;
    QLabel* m_problem = nullptr;
    QString m_problemText;  // the first reason the text cannot be used, and what the list shows meanwhile
    QString m_applied;      // the text of the filter the list has
};
