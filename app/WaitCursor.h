// The application's wait cursor while a command works on a file, owned by one object: it is restored when
// that object goes, however the command ends, and lifted while a question waits for the user.
#pragma once

#include <QCursor>
#include <QGuiApplication>

class CWaitCursor {
public:
    CWaitCursor() = default;
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
    ~CWaitCursor() { Hide(); }

    void Show() {
        if (!m_shown)
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        m_shown = true;
    }
    void Hide() {
        if (m_shown)
            QGuiApplication::restoreOverrideCursor();
        m_shown = false;
    }
    bool IsShown() const { return m_shown; }

    // The normal cursor for as long as the lift lives (a message box or a file dialog), then the wait cursor
    // again if it showed before.
    class Lift {
    public:
        explicit Lift(CWaitCursor& cursor) : m_cursor(cursor), m_wasShown(cursor.IsShown()) { cursor.Hide(); }
        Lift(const Lift&) = delete;
        Lift& operator=(const Lift&) = delete;
        ~Lift() {
            if (m_wasShown)
                m_cursor.Show();
        }

    private:
        CWaitCursor& m_cursor;
        const bool m_wasShown;
    };

private:
    bool m_shown = false;
};
