#include "app/WindowFrontEnd.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QThread>

#include <algorithm>
#include <chrono>

#include "app/ExportCommands.h"
#include "capture/CaptureFile.h"
#include "dialogs/DialogPrompt.h"

namespace {

// While a load runs without the dialog, events are still handled this often, so that the window repaints
// and the lists fill.
constexpr qint64 kEventSliceMs = 30;

QString FileFilters() {
    return QStringLiteral("Captured Files (*.cap);;Capture files (*.cap *.pcap *.pcapng);;All Files (*)");
}
// Open starts on this one: files from other tools end in .pcap or .pcapng.
constexpr char kEveryCaptureFile[] = "Capture files (*.cap *.pcap *.pcapng)";

}  // namespace

CWindowFrontEnd::CWindowFrontEnd(QWidget* window) : m_window(window) {
    g_pMainFrame = this;
    // Holds the window's input while a load or save shows its progress.
    qApp->installEventFilter(this);
}

CWindowFrontEnd::~CWindowFrontEnd() {
    if (g_pMainFrame == this)
        g_pMainFrame = nullptr;
    EndProgress();
}

void CWindowFrontEnd::BeginCommand() {
    m_commandRunning = true;
    m_cancel.Reset();
    {
        std::lock_guard lock(m_reportMutex);
        m_reportPending = false;
    }
    m_clock.start();
    m_lastEventsMs = 0;
    m_longestStallMs = 0;
    for (QString& path : m_chosen)
        path.clear();
}

void CWindowFrontEnd::EndCommand() {
    EndProgress();
    m_waitCursor.Hide();
    m_commandRunning = false;
}

// --- Questions and messages -----------------------------------------------------------------------------

MsgAnswer CWindowFrontEnd::Prompt(const std::string& text, MsgButtons buttons, const std::string& detail) {
    const QString message = QString::fromStdString(text);
    const QString more = QString::fromStdString(detail);
    if (QThread::currentThread() != thread()) {
        // From the capture thread: shown by the interface thread later; the capture thread goes on (the
        // interface thread may be waiting for it to end).
        QMetaObject::invokeMethod(
            this, [this, message, buttons, more] { ShowBox(message, buttons, more); }, Qt::QueuedConnection);
        return MsgAnswer::Ok;
    }
    return ShowBox(message, buttons, more);
}

MsgAnswer CWindowFrontEnd::ShowBox(const QString& text, MsgButtons buttons, const QString& detail) {
    // The box reports or asks about the work the progress showed: that dialog must not stay behind it.
    EndProgress();
    // A question is answered with the normal cursor, whatever work waits behind it.
    const CWaitCursor::Lift lift(m_waitCursor);
    if (m_promptScript)
        return m_promptScript(text, buttons, detail);
    return AskUser(m_window, text.toStdString(), buttons, QMessageBox::Warning, detail.toStdString());
}

bool CWindowFrontEnd::AnswerOpenQuestions() {
    bool answered = false;
    // The progress dialog is not modal: the work it shows goes on.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(w);
            dialog && dialog->isVisible() && dialog->windowModality() != Qt::NonModal) {
            dialog->reject();
            answered = true;
        }
    return answered;
}

std::string CWindowFrontEnd::AskFilePath(FileQuestion question) {
    EndProgress();
    QString path;
    {
        const CWaitCursor::Lift lift(m_waitCursor);
        path = m_fileScript ? m_fileScript(question) : ChooseFile(question);
    }
    m_chosen[static_cast<int>(question)] = path;
    // The work on the file starts now.
    if (!path.isEmpty() && m_commandRunning)
        m_waitCursor.Show();
    return path.toStdString();
}

QString CWindowFrontEnd::ChooseFile(FileQuestion question) {
    static const char* const kTitles[] = {"Save Captured Packets As", "Open Captured Packets",
                                          "Export Connections", "Export Packets"};
    const QString title =
        m_suggestedTitle.isEmpty() ? QString(kTitles[static_cast<int>(question)]) : m_suggestedTitle;
    const QString name = m_suggestedName;
    m_suggestedTitle.clear();
    m_suggestedName.clear();
    QString& folder = m_folders[question == FileQuestion::ExportConnections ? 1 : 0];
    QFileDialog dialog(m_window, title);
    if (!folder.isEmpty())
        dialog.setDirectory(folder);
    dialog.setNameFilters(FileFilters().split(";;"));
    dialog.setDefaultSuffix("cap");
    if (question == FileQuestion::SaveCapture || question == FileQuestion::ExportPackets) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.selectFile(!name.isEmpty()                         ? name
                          : question == FileQuestion::SaveCapture ? "CapturedData.cap"
                                                                  : "ExportedPackets.cap");
    } else if (question == FileQuestion::ExportConnections) {
        SetUpExportConnectionsDialog(dialog);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.selectNameFilter(kEveryCaptureFile);
        // Named pipes are listed too: a capture can arrive through one.
        dialog.setFilter(dialog.filter() | QDir::System);
    }
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        folder = QFileInfo(dialog.selectedFiles().first()).absolutePath();
        return dialog.selectedFiles().first();
    }
    return {};
}

// --- Progress -------------------------------------------------------------------------------------------

void CWindowFrontEnd::ShowLoadProgress(int64_t done, int64_t total) {
    if (QThread::currentThread() != thread()) {
        // A load on the capture thread: the interface thread shows it, and Cancel sets the command's token.
        // One report is in flight at a time, so that the window is never flooded. Until the dialog is due,
        // the load runs free and a report is dropped while the last one is not taken; from then on, the
        // load waits for the window, so that a Cancel takes effect within a batch of what the dialog says.
        // A cancel or Stop ends the wait.
        {
            std::unique_lock lock(m_reportMutex);
            // (The clock and the delay are set before the load starts.)
            const bool dialogDue =
                m_dialogShown.load() || (m_clock.isValid() && m_clock.elapsed() >= m_progressDelayMs);
            if (m_reportPending && !dialogDue)
                return;
            while (m_reportPending && !m_cancel.IsCancelled() && g_captureState.load() == CAPTURE_RUNNING)
                m_reportTaken.wait_for(lock, std::chrono::milliseconds(10));
            m_reportPending = true;
        }
        QMetaObject::invokeMethod(
            this,
            [this, done, total] {
                StepLoadProgress(done, total);
                {
                    std::lock_guard lock(m_reportMutex);
                    m_reportPending = false;
                }
                m_reportTaken.notify_one();
            },
            Qt::QueuedConnection);
        return;
    }
    if (!StepProgress("Reading the captured packets file...", done, total) &&
        g_captureState.load() == CAPTURE_RUNNING) {
        g_captureState = CAPTURE_STOPPING;
    }
}

bool CWindowFrontEnd::ShowSaveProgress(int64_t done, int64_t total) {
    // A save asked for by Start, Open or close runs before their work: the same dialog serves.
    return StepProgress("Saving the captured packets...", done, total);
}

void CWindowFrontEnd::StepLoadProgress(int64_t done, int64_t total) {
    // After the load ended, or once it was cancelled, its last reports change nothing.
    if (!m_commandRunning || m_cancel.IsCancelled() || g_captureState.load() != CAPTURE_RUNNING)
        return;
    // How long the window went without hearing of the load: it is busy with other events meanwhile.
    const qint64 now = m_clock.isValid() ? m_clock.elapsed() : 0;
    m_longestStallMs = std::max(m_longestStallMs, now - m_lastEventsMs);
    m_lastEventsMs = now;
    if (!UpdateProgress("Reading the captured packets file...", done, total)) {
        m_cancel.Cancel();
        EndProgress();
    }
}

bool CWindowFrontEnd::UpdateProgress(const QString& label, int64_t done, int64_t total) {
    const qint64 now = m_clock.isValid() ? m_clock.elapsed() : 0;
    if (!m_progress && now >= m_progressDelayMs) {
        auto* dialog = new QProgressDialog(label, "Cancel", 0, 1000, m_window);
        dialog->setWindowTitle("Pacterra");
        dialog->setWindowModality(Qt::NonModal);
        dialog->setMinimumDuration(0);
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        m_progress = dialog;
        m_dialogShown = true;
        // A load on the capture thread hears of Cancel through the command's token.
        connect(dialog, &QProgressDialog::canceled, this, [this] { m_cancel.Cancel(); });
        // The dialog shows that work goes on; its Cancel button wants the normal cursor.
        m_waitCursor.Hide();
        dialog->show();
    }
    if (m_progress) {
        m_progress->setLabelText(label);
        if (total > 0)
            m_progress->setValue(static_cast<int>(std::clamp<int64_t>(done * 1000 / total, 0, 1000)));
    }
    return !(m_progress && m_progress->wasCanceled());
}

bool CWindowFrontEnd::StepProgress(const QString& label, int64_t done, int64_t total) {
    if (QThread::currentThread() != thread())
        return true;
    UpdateProgress(label, done, total);
    const qint64 now = m_clock.isValid() ? m_clock.elapsed() : 0;
    if (m_progress || now - m_lastEventsMs >= kEventSliceMs) {
        m_longestStallMs = std::max(m_longestStallMs, now - m_lastEventsMs);
        // Until the dialog shows, input waits; then the window takes none but the dialog's: a click must not
        // start another command while the store is being filled or written.
        QCoreApplication::processEvents(m_progress ? QEventLoop::AllEvents
                                                   : QEventLoop::ExcludeUserInputEvents);
        m_lastEventsMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    }
    if (m_progress && m_progress->wasCanceled()) {
        // One Cancel ends one piece of work: the next gets a fresh dialog.
        EndProgress();
        return false;
    }
    return true;
}

void CWindowFrontEnd::EndProgress() {
    m_dialogShown = false;
    if (m_progress) {
        m_progress->close();
        m_progress->deleteLater();
        m_progress = nullptr;
    }
}

bool CWindowFrontEnd::eventFilter(QObject* watched, QEvent* event) {
    return m_progress && IsBlockedInput(watched, event);
}

bool CWindowFrontEnd::IsBlockedInput(QObject* watched, QEvent* event) const {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ContextMenu:
        case QEvent::Drop:
        case QEvent::TouchBegin:
            break;
        case QEvent::Shortcut:  // a command's key, sent to its action
            return watched->parent() == m_window;
        default:
            return false;
    }
    if (!watched->isWidgetType())
        return false;
    // The window, its floating bars and its menus; not the progress dialog.
    for (QWidget* w = static_cast<QWidget*>(watched)->window(); w; w = w->parentWidget()) {
        if (w == m_progress)
            return false;
        if (w == m_window)
            return true;
    }
    return false;
}
