#include "app/AppCommands.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QWidget>

#include <algorithm>

#include "app/AboutDlg.h"
#include "config/CaptureConfig.h"
#include "dialogs/AdapterDlg.h"
#include "dialogs/ConfigDlg.h"
#include "frontend/Addresses.h"
#include "ui/DailyTipDlg.h"
#include "ui/DataFiles.h"
#include "ui/LinkLabel.h"

namespace {

void OpenDataFile(const QString& name) {
    // A missing page is said so (with where it was looked for), rather than the command doing nothing.
    const QString path = FindProgramDataFile(name);
    CLinkLabel::OpenAndReport(path, path);
}

}  // namespace

void ShowAboutBox(QWidget* parent) {
    CAboutDlg dialog(parent);
    dialog.exec();
}

void ShowTipOfTheDay(QWidget* parent) {
    CDailyTipDlg dialog(parent);
    dialog.exec();
}

void ShowTipAtStartup(QWidget* parent) {
    // Asked first, so that a tip is only used up when it is shown.
    if (!CDailyTipDlg::WantedAtStartup())
        return;
    CDailyTipDlg dialog(parent);
    if (dialog.ShowAtStartup())
        dialog.exec();
}

void OpenHelpContents() {
    OpenDataFile("help/index.html");
}

void OpenTutorial() {
    OpenDataFile("help/tutorial.html");
}

void OpenHomePage() {
    CLinkLabel::OpenAndReport(kHomePageUrl, kHomePageUrl);
}

bool StartNewWindow(const QWidget* from) {
    QStringList arguments;
    if (from)
        arguments << QStringLiteral("--near")
                  << QStringLiteral("%1,%2").arg(from->frameGeometry().x()).arg(from->frameGeometry().y());
    return QProcess::startDetached(QCoreApplication::applicationFilePath(), arguments);
}

void KeepOnScreen(QWidget& window) {
    if (window.isMaximized() || window.isFullScreen())
        return;
    const QScreen* screen = QGuiApplication::screenAt(window.frameGeometry().center());
    if (!screen)
        screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry();
    // The window manager's frame around the window, as far as it is known yet.
    const QSize frame = window.frameGeometry().size() - window.geometry().size();
    const QSize most = room.size() - frame.expandedTo(QSize(0, 0));
    if (window.width() > most.width() || window.height() > most.height())
        window.resize(window.size().boundedTo(most));
    QRect outer = window.frameGeometry();
    outer.setSize(window.size() + frame.expandedTo(QSize(0, 0)));
    const int x = std::clamp(outer.x(), room.left(), std::max(room.left(), room.right() + 1 - outer.width()));
    const int y = std::clamp(outer.y(), room.top(), std::max(room.top(), room.bottom() + 1 - outer.height()));
    // Only a window that is off its screen moves: before the window manager has framed it, its frame
    // position is not known yet, and moving it anyway would shift it by the title bar at every start.
    if (x != outer.x() || y != outer.y())
        window.move(x, y);
}

void ConfigureCapture(QWidget* parent) {
    EditConfiguration(g_config, parent);
}

void SelectAdapter(QWidget* parent) {
    // The choice is stored by the dialog itself; the next Start uses it.
    CAdapterDlg dialog(g_config, parent);
    dialog.exec();
}
