// SIGTERM, SIGINT and SIGHUP end the window as a close from the window system does: the close guard asks
// its questions, the capture thread ends, and a save under way finishes before the window goes. A second
// of these signals ends the program at once, without questions: the capture thread ends, and a save under
// way stops and removes its temporary file. The session manager's end-of-session request gets the close
// guard's save question.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class QSocketNotifier;

class CSignalClose : public QObject {
    Q_OBJECT

public:
    // `endNow` ends the program with the status it is given (QCoreApplication::exit unless a test says
    // otherwise). One instance at a time owns the three signals.
    explicit CSignalClose(QWidget* window, std::function<void(int status)> endNow = {},
                          QObject* parent = nullptr);
    ~CSignalClose() override;

    // The end of the desktop session, before the program is asked to end: true lets it end, false asks the
    // session manager to cancel it. Unsaved packets are offered for saving when the user may be asked.
    static bool AnswerEndOfSession(bool mayAsk);

private:
    void OnSignals();

    QPointer<QWidget> m_window;
    std::function<void(int)> m_endNow;
    QSocketNotifier* m_notifier = nullptr;
    int m_received = 0;
};
