// The program's only top-level window: menus, toolbar, status bar, the two list bars at the top, the tab
// area with the packet views, the tray icon, and the capture and file commands with their questions. It is
// also the engine's front end (rows of the connections list, messages, file questions, load progress).
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <QPointer>

#include <functional>

#include "frontend/FrontEnd.h"

class QAction;
class CConnectionsBar;
class CPacketsBar;
class CTrafficBar;
class QLabel;
class QMenu;
class QProgressDialog;
class QSystemTrayIcon;
class QTimer;
class CHexView;
class CProtocolTreeView;
class CTrawlerView;
class CStreamView;
class CListCtrlLeft;
class CListCtrlRight;
class TVisualFramework;

// Command numbers, kept as the actions' data so that tests and scripts can find them.
enum FrameCommand : int {
    ID_TIP_OF_THE_DAY = 147,
    ID_DOCK_CONNECTIONS = 154,
    ID_DOCK_PACKETS = 155,
    ID_START = 32771,
    ID_STOP = 32772,
    ID_CONFIGURE = 32773,
    ID_SELECT_ADAPTER = 32781,
    ID_SAVE = 32786,
    ID_OPEN = 32787,
    ID_TUTORIAL = 32789,
    ID_HELP_CONTENTS = 32790,
    ID_HOME_PAGE = 32791,
    ID_SHOW_HIDE = 32798,
    ID_NEW_WINDOW = 32799,
    ID_VIEW_CONNECTIONS_BAR = 32840,  // show or hide the bars (their close glyphs hide them)
    ID_VIEW_PACKETS_BAR = 32841,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    // Beyond the resource script: the exports (File menu and the connections list's context menu).
    ID_EXPORT_CONNECTIONS = 32830,
    ID_EXPORT_CONNECTION_PACKETS = 32831,
    ID_EXPORT_SHOWN_PACKETS = 32832,
};

class CMainFrame : public QMainWindow, public IMainFrame {
    Q_OBJECT

public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The action of a command number (menus, toolbar and tray share one action per command).
    QAction* Action(int command) const { return m_actions.value(command); }
    QMenu* TrayMenu() const { return m_trayMenu; }
    CConnectionsBar* ConnectionsBar() const { return m_connectionsBar; }
    CPacketsBar* PacketsBar() const { return m_packetsBar; }
    CTrafficBar* TrafficBar() const { return m_trafficBar; }
    CProtocolTreeView* TreeView() const { return m_treeView; }
    CHexView* HexView() const { return m_hexView; }
    CTrawlerView* MainView() const { return m_mainView; }
    // The "Stream" tab, and its node in the view framework.
    CStreamView* StreamView() const { return m_streamView; }
    static constexpr int kStreamNode = 6;
    QWidget* TabArea() const { return m_tabArea; }
    CListCtrlLeft* ConnectionsList() const { return m_connectionsList; }
    CListCtrlRight* PacketsList() const { return m_packetsList; }
    TVisualFramework* Framework() const { return m_framework; }
    // Connects the lists' activations to the main view and the packet views (see ListWiring.h).
    void WireViews(CTrawlerView* view);
    // The texts of the status panes: "Buffer: %d%%", "Conns: %d", "Packets: %d".
    QString PaneText(int pane) const;
    // The status bar's message pane when no fly-by help covers it: "Ready", or what the capture is doing or
    // why it ended, which stands until the next command on the capture.
    QString MessagePaneText() const;
    QString TrayToolTip() const;
    bool IsShown() const { return m_visible; }

    // The commands, callable as the menus call them.
    void OnStart();
    void OnStop();
    void OnOpen();
    void OnSave();
    // Opens `path` as the Open command does once a file was chosen (the filter question included); for
    // `pacterra FILE` and `pacterra -`.
    void OpenFileAtStartup(const QString& path);
    void HideMainWindow();
    void ShowMainWindow();
    // Recomputes enabled and checked states and the status panes from the capture state.
    void UpdateCommandStates();

    // Tests answer the questions instead of a user: every message box goes to `prompt` (on the interface
    // thread), every file question to `file` ("" cancels).
    using PromptScript = std::function<MsgAnswer(const QString& text, MsgButtons, const QString& detail)>;
    using FileScript = std::function<QString(FileQuestion)>;
    void SetPromptScript(PromptScript prompt) { m_promptScript = std::move(prompt); }
    void SetFileScript(FileScript file) { m_fileScript = std::move(file); }

    // IConnectionRows: forwarded to the connections list, from either thread.
    void RowsCleared() override;
    void InsertRow(int row) override;
    void CellsChanged(int row, int first, int last) override;
    // IPromptService.
    MsgAnswer Prompt(const std::string& text, MsgButtons buttons, const std::string& detail) override;
    std::string AskFilePath(FileQuestion question) override;
    void ShowLoadProgress(int64_t done, int64_t total) override;
    bool ShowSaveProgress(int64_t done, int64_t total) override;

    void SetProgressDelay(qint64 ms) { m_progressDelayMs = ms; }
    // Longest time, in milliseconds, between two rounds of event handling during the last file load.
    qint64 LongestLoadStallMs() const { return m_longestStallMs; }

signals:
    // A file load, or the reading of a stream, has ended (completely or not).
    void LoadFinished(bool loaded);
    // The user closed the window and agreed to every question: the program ends.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* AddCommand(int command, const QString& menuText, const QString& help);
    void CreateMenus();
    void CreateToolbar();
    void CreateStatusBar();
    void CreateBars();
    bool CreateTabArea();
    void CreateTray();
    MsgAnswer ShowBox(const QString& text, MsgButtons buttons, const QString& detail);
    // Runs a command that may read a file, with the wait cursor while it works.
    void RunFileCommand(const std::function<void()>& command);
    // Shows progress once the work has run for a while and handles events; false when the user cancelled.
    bool StepProgress(const QString& label, int64_t done, int64_t total);
    void EndLoadProgress();
    // While the progress dialog shows, the rest of the window takes no input: the dialog is not modal, so
    // that a close from the window system still reaches the window (a modal one would swallow it).
    bool IsBlockedInput(QObject* watched, QEvent* event) const;
    // A new command on the capture: the message about the last one goes.
    void ClearStateMessage();
    void UpdateStateMessage(int state);
    // After the Open command's work: LoadFinished now for a file, once the stream ends for a stream.
    void FinishOpen(int opened);

    TVisualFramework* m_framework;
    CListCtrlLeft* m_connectionsList = nullptr;
    CListCtrlRight* m_packetsList = nullptr;
    QHash<int, QAction*> m_actions;
    QMenu* m_trayMenu = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    CConnectionsBar* m_connectionsBar = nullptr;
    CPacketsBar* m_packetsBar = nullptr;
    CTrafficBar* m_trafficBar = nullptr;
    QMenu* m_viewMenu = nullptr;
    QWidget* m_tabArea = nullptr;
    CProtocolTreeView* m_treeView = nullptr;
    CHexView* m_hexView = nullptr;
    CTrawlerView* m_mainView = nullptr;
    CStreamView* m_streamView = nullptr;
    IConnectionRows* m_rows = nullptr;
    QLabel* m_panes[3] = {};
    QLabel* m_messagePane = nullptr;
    QString m_stateMessage;  // shown instead of "Ready"
    QString m_liveDevice;    // the adapter of the live capture this window started, until it ends
    QTimer* m_updateTimer = nullptr;

    bool m_visible = true;        // shown, not hidden to the tray
    bool m_restoreNormal = true;  // comes back normal, not maximised
    bool m_fileCommandRunning = false;
    bool m_closeAfterLoad = false;
    bool m_waitCursor = false;
    bool m_streamRunning = false;  // a stream opened by Open is being read
    // A load or save that runs longer than this gets a progress dialog with Cancel.
    qint64 m_progressDelayMs = 500;

    // Load progress: the dialog appears once a load has run for a while.
    QElapsedTimer m_loadClock;
    qint64 m_lastEventsMs = 0;
    qint64 m_longestStallMs = 0;
    QPointer<QProgressDialog> m_progress;

    PromptScript m_promptScript;
    FileScript m_fileScript;
};
