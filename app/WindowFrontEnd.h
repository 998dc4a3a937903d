// How the engine reaches the user of the window: it asks its questions in message boxes and file dialogs (or
// of a test's scripts), shows the progress of long loads and saves, and keeps the wait cursor while a file
// command works. While it lives it is the engine's front end (g_pMainFrame).
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "app/WaitCursor.h"
#include "capture/Command.h"
#include "frontend/FrontEnd.h"

class QProgressDialog;
class QWidget;

class CWindowFrontEnd : public QObject, public IMainFrame {
    Q_OBJECT

public:
    // `window` owns the dialogs; its input is held while a progress dialog shows.
    explicit CWindowFrontEnd(QWidget* window);
    ~CWindowFrontEnd() override;

    // Tests answer the questions instead of a user: every message box goes to `prompt` (on the interface
    // thread), every file question to `file` ("" cancels).
    using PromptScript = std::function<MsgAnswer(const QString& text, MsgButtons, const QString& detail)>;
    using FileScript = std::function<QString(FileQuestion)>;
    void SetPromptScript(PromptScript prompt) { m_promptScript = std::move(prompt); }
    void SetFileScript(FileScript file) { m_fileScript = std::move(file); }
    // The title and file name of the next file dialog, by what is exported (the question alone does not
    // say which packets).
    void SuggestFile(const QString& title, const QString& name) {
        m_suggestedTitle = title;
        m_suggestedName = name;
    }

    // A load or save that runs longer than this gets a progress dialog with Cancel.
    void SetProgressDelay(qint64 ms) { m_progressDelayMs = ms; }
    // Longest time, in milliseconds, between two rounds of event handling during the last file command (for
    // a load on the capture thread: between two of its progress reports taken by the window).
    qint64 LongestLoadStallMs() const { return m_longestStallMs; }

    // A command that may read or write a file: its progress is timed from here, and when it ends the progress
    // dialog and the wait cursor go. Commands do not nest.
    void BeginCommand();
    void EndCommand();
    bool IsCommandRunning() const { return m_commandRunning; }
    // Cancels the running command: set by the progress dialog's Cancel, cleared when a command begins.
    CancelToken& CommandCancel() { return m_cancel; }
    // The file the user chose for `question` during the running (or last) command; empty when none.
    QString ChosenPath(FileQuestion question) const { return m_chosen[static_cast<int>(question)]; }
    // The command's work on a file starts now (a file chosen without the file dialog).
    void ShowWaitCursor() { m_waitCursor.Show(); }

    // Answers the questions open in the window's dialogs as their close box does (Cancel, or No where there
    // is no Cancel), so that a close request is not held up behind one; false when none was open.
    bool AnswerOpenQuestions();

    // IPromptService.
    MsgAnswer Prompt(const std::string& text, MsgButtons buttons, const std::string& detail) override;
    std::string AskFilePath(FileQuestion question) override;
    void ShowLoadProgress(int64_t done, int64_t total) override;
    bool ShowSaveProgress(int64_t done, int64_t total) override;
    // The same dialog for other work of a file command (Save Stream As...), under `label`.
    bool ShowWorkProgress(const QString& label, int64_t done, int64_t total) {
        return StepProgress(label, done, total);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    MsgAnswer ShowBox(const QString& text, MsgButtons buttons, const QString& detail);
    QString ChooseFile(FileQuestion question);
    // Shows progress once the work has run for a while and handles events; false when the user cancelled.
    bool StepProgress(const QString& label, int64_t done, int64_t total);
    // The dialog part of it: shown after the delay, then updated; false once the user cancelled.
    bool UpdateProgress(const QString& label, int64_t done, int64_t total);
    // Progress of a load on the capture thread, handed to the interface thread.
    void StepLoadProgress(int64_t done, int64_t total);
    void EndProgress();
    // While the progress dialog shows, the rest of the window takes no input: the dialog is not modal, so
    // that a close from the window system still reaches the window (a modal one would swallow it).
    bool IsBlockedInput(QObject* watched, QEvent* event) const;

    QWidget* m_window;
    PromptScript m_promptScript;
    FileScript m_fileScript;
    QString m_suggestedTitle, m_suggestedName;
    // Each kind of file (capture files, exported connections) opens where the last dialog of its kind
    // ended, not in the working folder each time.
    QString m_folders[2];
    QString m_chosen[4];  // by FileQuestion

    bool m_commandRunning = false;
    CancelToken m_cancel;
    // One progress report of a load on the capture thread is in flight at a time.
    std::mutex m_reportMutex;
    std::condition_variable m_reportTaken;
    bool m_reportPending = false;
    std::atomic<bool> m_dialogShown{false};  // m_progress is there, for the capture thread
    CWaitCursor m_waitCursor;
    qint64 m_progressDelayMs = 500;
    // The dialog appears once a command has run for a while.
    QElapsedTimer m_clock;
    qint64 m_lastEventsMs = 0;
    qint64 m_longestStallMs = 0;
    QPointer<QProgressDialog> m_progress;
};
