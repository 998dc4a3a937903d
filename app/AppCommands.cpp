#include "app/AppCommands.h"

#include <QCoreApplication>
#include <QProcess>

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

bool StartNewWindow() {
    return QProcess::startDetached(QCoreApplication::applicationFilePath(), {});
}

void ConfigureCapture(QWidget* parent) {
    EditConfiguration(g_config, parent);
}

void SelectAdapter(QWidget* parent) {
    // The choice is stored by the dialog itself; the next Start uses it.
    CAdapterDlg dialog(g_config, parent);
    dialog.exec();
}
