#include "app/SignalClose.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include "capture/CaptureFile.h"
#include "capture/LiveCapture.h"
#include "capture/PacketStore.h"
#include "frontend/FrontEnd.h"

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_pipe[2] = {-1, -1};  // the handler writes the signal's number; the notifier reads it

// Does only what a handler may: one write, errno kept.
void OnSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    (void)!::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

CSignalClose::CSignalClose(QWidget* window, std::function<void(int)> endNow, QObject* parent)
    : QObject(parent), m_window(window), m_endNow(std::move(endNow)) {
    if (!m_endNow)
        m_endNow = [](int status) { QCoreApplication::exit(status); };
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;  // the signals keep their default: the program ends as before
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CSignalClose::OnSignals);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals) {
        // One ignored from the start (nohup, a background job) stays ignored.
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(gui, &QGuiApplication::commitDataRequest, this, [](QSessionManager& manager) {
            const bool mayAsk = manager.allowsInteraction();
            const bool end = AnswerEndOfSession(mayAsk);
            if (mayAsk)
                manager.release();
            if (!end)
                manager.cancel();
        });
}

CSignalClose::~CSignalClose() {
    if (!m_notifier)
        return;
    for (int signal : kSignals) {
        struct sigaction now {};
        if (::sigaction(signal, nullptr, &now) == 0 && now.sa_handler == OnSignal)
            std::signal(signal, SIG_DFL);
    }
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void CSignalClose::OnSignals() {
    unsigned char numbers[16];
    const ssize_t n = ::read(g_pipe[0], numbers, sizeof numbers);
    for (ssize_t i = 0; i < n; ++i) {
        if (++m_received == 1) {
            // As the window system asks: the close guard's questions, a save under way finished first.
            if (m_window)
                m_window->close();
            continue;
        }
        // Asked again (or again while the first close waits for an answer or a save): end now.
        g_abandonSaves = true;
        StopCaptureAndWait();
        g_unsavedPackets = 0;  // nothing more is asked on the way out
        m_endNow(128 + numbers[i]);
        return;
    }
}

bool CSignalClose::AnswerEndOfSession(bool mayAsk) {
    if (!mayAsk || g_unsavedPackets.load() == 0)
        return true;
    return OfferToSaveUnsavedPackets(g_pMainFrame ? static_cast<IPromptService&>(*g_pMainFrame)
                                                  : StandardErrorPrompts());
}
