// The application: start-up (settings, the main window, start hidden, start capturing, a file to open,
// the tip of the day) and the command line's benchmark modes.
#pragma once

#include <QApplication>

#include <memory>

class CMainFrame;

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

// Reads Config.cfg and the chosen adapter into the configuration. Start-up calls it once the main window
// exists, so that a damaged file is reported in a box over the window.
void LoadStartupConfiguration();
