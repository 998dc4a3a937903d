// The program's only top-level window: menus, toolbar, status bar, the two list bars at the top, the tab
// area with the packet views, the tray icon, the capture and file commands, and the guard on closing. The
// engine's questions go to its front end (WindowFrontEnd.h).
#pragma once

#include <QByteArray>
#include <QHash>
#include <QMainWindow>

#include <functional>
#include <memory>

class QAction;
class CConnectionsBar;
class CPacketsBar;
class CTrafficBar;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class CHexView;
class CProtocolTreeView;
class CTrawlerView;
class CStreamView;
class CListCtrlLeft;
class CListCtrlRight;
class TVisualFramework;
class CWindowFrontEnd;
struct ExportPlace;
enum class OpenResult;

// Command numbers, kept as the actions' data so that tests and scripts can find them.
enum FrameCommand : int {
    ID_TIP_OF_THE_DAY = 147,
    ID_DOCK_CONNECTIONS = 154,
    ID_DOCK_PACKETS = 155,
    ID_DOCK_TRAFFIC = 156,
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
    ID_RESET_LAYOUT = 32842,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    // Beyond the resource script: the exports (File menu and the connections list's context menu).
    ID_EXPORT_CONNECTIONS = 32830,
    ID_EXPORT_CONNECTION_PACKETS = 32831,
    ID_EXPORT_SHOWN_PACKETS = 32832,
};

class CMainFrame : public QMainWindow {
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
    // The tray icon's tip: the program, what this window holds (a file, a stream, an adapter's packets, or no
    // capture) and the message pane's news, so that the icons of two windows tell them apart.
    QString TrayToolTip() const;
    bool IsShown() const { return m_visible; }

    // The commands, callable as the menus call them.
    void OnStart();
    void OnStop();
    void OnOpen();
    void OnSave();
    // View > Reset Layout: the bars, the panes and the columns as at first start.
    void ResetLayout();
    // Opens `path` as the Open command does once a file was chosen (the filter question included); for
    // `pacterra FILE` and `pacterra -`.
    void OpenFileAtStartup(const QString& path);
    void HideMainWindow();
    void ShowMainWindow();
    // Recomputes enabled and checked states and the status panes from the capture state.
    void UpdateCommandStates();

    // The engine's front end for this window: tests script its questions and read its timings.
    CWindowFrontEnd* FrontEnd() const { return m_frontEnd.get(); }

signals:
    // A file load, or the reading of a stream, has ended (completely or not).
    void LoadFinished(bool loaded);
    // The user closed the window and agreed to every question: the program ends.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QAction* AddCommand(int command, const QString& menuText, const QString& help);
    void CreateMenus();
    void CreateToolbar();
    void CreateStatusBar();
    void CreateBars();
    bool CreateTabArea();
    void CreateTray();
    // The command states and panes follow the store's news and the connections list.
    void WireCommandStates();
    // The connections list, the front end and the status bar, for the export commands.
    ExportPlace ExportPlaceOfWindow();
    // Runs a command that may read or write a file: one at a time, with its progress and wait cursor.
    // `onTheCapture`: it is the next command on the capture, so the message about the last one goes.
    void RunFileCommand(const std::function<void()>& command, bool onTheCapture = true);
    // A new command on the capture: the message about the last one goes.
    void ClearStateMessage();
    void UpdateStateMessage(int state);
    // After the Open command's work: LoadFinished now for a file, once the stream ends for a stream.
    void FinishOpen(OpenResult opened);
    // Open's questions run now; a file's load goes on on the capture thread, and the command ends with it.
    // `path`: the file opened, empty when the command asks for one.
    void RunOpenCommand(const std::function<void(std::function<void(OpenResult)>)>& open,
                        const QString& path = {});
    void EndOpen(OpenResult opened);

    std::unique_ptr<CWindowFrontEnd> m_frontEnd;
    QByteArray m_firstRunLayout;  // the layout the window is built with, for Reset Layout
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
    QLabel* m_panes[3] = {};
    QLabel* m_messagePane = nullptr;
    QString m_stateMessage;         // shown instead of "Ready"
    QString m_liveDevice;           // the adapter of the live capture this window started, until it ends
    QString m_captureName;          // what the store holds, for the tray: "" before any capture
    QString m_openPath;             // the running Open's file, when it did not ask for one
    uint64_t m_openGeneration = 0;  // the store's generation when Open began: a changed one was replaced

    bool m_visible = true;          // shown, not hidden to the tray
    bool m_restoreNormal = true;    // comes back normal, not maximised
    bool m_closeAfterSave = false;  // a close came while a save ran: it comes again afterwards
    bool m_streamRunning = false;   // a stream opened by Open is being read
};
