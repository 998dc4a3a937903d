// The filter line above the connections list: the list shows only the connections that match what is
// typed (the words of ConnectionFilter), live as connections arrive. A malformed word is painted red, the
// first reason shows below the line and every reason in its tooltip; the list keeps the filter it had
// before the keys that made the text unusable were typed (a prefix typed on the way does not count), and
// says so. Escape clears the line; Ctrl+L anywhere in the window, or "/" in the connections bar, comes to it;
// Return or Down goes to the list.
#pragma once

#include <QElapsedTimer>
#include <QLineEdit>
#include <QList>
#include <QPair>
#include <QPointer>

class CListCtrlLeft;
class ConnectionFilter;
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
    void SetListFilter(ConnectionFilter filter);
    void PaintMalformed();
    void UpdateCount();
    void ShowProblem();

    QPointer<CListCtrlLeft> m_list;
    QList<QPair<int, int>> m_malformed;
    QLabel* m_count = nullptr;
    QLabel* m_problem = nullptr;
    QString m_problemText;  // the first reason the text cannot be used, and what the list shows meanwhile
    QString m_applied;      // the text of the filter the list has
    // What the list showed before the current burst of typing: an unusable text goes back to it, not to a
    // prefix passed through on the way ("port:9999" on the way to "port:99999").
    QString m_settled;
    QElapsedTimer m_lastTyped;  // the last key that changed the text, within the current burst
    bool m_typing = false;      // the text changes under a key press
};
