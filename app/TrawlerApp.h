// The application: start-up (settings, the main window, start hidden, start capturing, a file to open,
// the tip of the day) and the commands that do not depend on the window.
#pragma once

#include <QApplication>

#include <memory>

class CMainFrame;
class QWidget;

class CTrawlerApp : public QApplication {
    Q_OBJECT

public:
    CTrawlerApp(int& argc, char** argv);
    ~CTrawlerApp() override;

    // Parses the command line and shows the main window. false when the program should end at once with
    // *exitCode (--help, --version, a bad argument).
    bool InitInstance(int* exitCode);
    CMainFrame* MainFrame() const { return m_frame.get(); }

private:
    void RunLoadBenchmark(const QString& path);
    void RunCaptureBenchmark(const QString& device, long long count);

    std::unique_ptr<CMainFrame> m_frame;
};

// The text of the About box and of --version.
inline constexpr char kProductVersion[] = PACTERRA_VERSION;

// The application's commands; `parent` owns the dialogs they show.
void ShowAboutBox(QWidget* parent);
void ShowTipOfTheDay(QWidget* parent);
// The tip of the day, when the user has not switched it off.
void ShowTipAtStartup(QWidget* parent);
void OpenHelpContents();
void OpenTutorial();
void OpenHomePage();
// A second, independent instance of this program. false when it could not be started.
bool StartNewWindow();

// Reads Config.cfg and the chosen adapter into the configuration. Start-up calls it once the main window
// exists, so that a damaged file is reported in a box over the window.
void LoadStartupConfiguration();

// The configuration dialogs (only while no capture runs).
void ConfigureCapture(QWidget* parent);
void SelectAdapter(QWidget* parent);
