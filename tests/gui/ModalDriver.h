// Drives modal dialogs and message boxes from a test with real key and mouse events: each step waits until a
// widget of its type is the active modal widget, then acts on it. Steps run from fresh timers, so a step
// may open a nested modal loop (a button that runs another dialog) and the next step still runs.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <deque>
#include <functional>

class ModalDriver : public QObject {
public:
    template <class T>
    ModalDriver& Then(std::function<void(T*)> act) {
        m_steps.push_back({&T::staticMetaObject, [act](QWidget* w) { act(static_cast<T*>(w)); }});
        return *this;
    }

    // Answers the next message box with `button`, keeping its text (line ends as shown) in `texts`.
    ModalDriver& Answer(QMessageBox::StandardButton button) {
        return Then<QMessageBox>([this, button](QMessageBox* box) {
            texts << box->text();
            details << box->informativeText();
            QTest::mouseClick(box->button(button), Qt::LeftButton);
        });
    }

    // Starts polling; the steps then run as their widgets appear.
    void Start() {
        m_clock.start();
        QTimer::singleShot(0, this, [this] { Poll(); });
    }

    bool Finished() const { return m_steps.empty(); }
    bool TimedOut() const { return m_timedOut; }

    QStringList texts, details;

private:
    struct Step {
        const QMetaObject* type;
        std::function<void(QWidget*)> act;
    };

    void Poll() {
        if (m_steps.empty())
            return;
        QTimer::singleShot(5, this, [this] { Poll(); });
        QWidget* modal = QApplication::activeModalWidget();
        if (m_clock.elapsed() > kStepTimeoutMs) {
            // A step that never comes: end every modal loop so that the test fails instead of hanging.
            m_timedOut = true;
            Abandon();
            return;
        }
        if (!modal || !modal->isVisible() || !m_steps.front().type->cast(modal))
            return;
        // Keys go where a user's would only once the window is active.
        if (QApplication::activeWindow() != modal) {
            modal->activateWindow();
            return;
        }
        Step step = std::move(m_steps.front());
        m_steps.pop_front();
        m_clock.restart();
        step.act(modal);
        // A check that failed inside a step left its dialog open: close it, or the test would wait forever.
        if (QTest::currentTestFailed())
            Abandon();
    }

    void Abandon() {
        m_steps.clear();
        while (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dialog->done(QDialog::Rejected);
    }

    static constexpr qint64 kStepTimeoutMs = 10000;
    std::deque<Step> m_steps;
    QElapsedTimer m_clock;
    bool m_timedOut = false;
};

// The widget that has the keyboard focus in `window` (where typed keys go). A window that a closed modal
// child left inactive (the offscreen platform does not hand activation back) is activated first, as a
// desktop would, because some keys (arrows in radio groups) act only in the active window.
inline QWidget* Focused(QWidget* window) {
    if (QApplication::activeWindow() != window) {
        window->activateWindow();
        (void)QTest::qWaitForWindowActive(window);
    }
    QWidget* w = QApplication::focusWidget();
    if (w && window->isAncestorOf(w))
        return w;
    return window->focusWidget() ? window->focusWidget() : window;
}

// Types `text` and presses `key` on whatever has the focus in `window`, one event at a time.
inline void Type(QWidget* window, const QString& text) {
    for (QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClicks(Focused(window), QString(c));
        else  // a character without a key of its own on a US keyboard, as an input method delivers it
            QTest::sendKeyEvent(QTest::Click, Focused(window), Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}
inline void Press(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                  int times = 1) {
    for (int i = 0; i < times; ++i)
        QTest::keyClick(Focused(window), key, modifiers);
}
