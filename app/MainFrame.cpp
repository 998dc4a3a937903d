#include "app/MainFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QWindowStateChangeEvent>

#include <algorithm>

#include "app/AppCommands.h"
#include "app/ExportCommands.h"
#include "app/ListWiring.h"
#include "app/NotKeptPane.h"
#include "app/Pictures.h"
#include "app/StreamWiring.h"
#include "app/TrawlerView.h"
#include "app/WindowFrontEnd.h"
#include "app/WindowLayout.h"
#include "capture/CaptureFile.h"
#include "capture/FrameFile.h"
#include "capture/LiveCapture.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "frontend/Addresses.h"
#include "frontend/Messages.h"
#include "ui/ListBars.h"
#include "ui/TabIcons.h"
#include "ui/TrafficBar.h"
#include "ui/VisualFramework.h"
#include "views/HexView.h"
#include "views/HexViewCtrl.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/PayloadTextCtrl.h"
#include "views/ProtocolTreeView.h"
#include "views/StoreWatcher.h"
#include "views/StreamView.h"

namespace {

constexpr char kTitle[] = "Pacterra Packet Sniffer";
// Often enough that the counters look live, rarely enough to cost nothing while packets pour in.
constexpr int kUpdateIntervalMs = 250;

// The caption strip, frames and margins around a docked list.
constexpr int kBarFrameAllowance = 24;

const char* const kPaneWidths[3] = {"Buffer: 100%", "Conns: 10000", "Packets: 100000"};

}  // namespace

CMainFrame::CMainFrame(QWidget* parent)
    : QMainWindow(parent),
      m_frontEnd(std::make_unique<CWindowFrontEnd>(this)),
      m_framework(new TVisualFramework(this)) {
    setWindowTitle(kTitle);
    setWindowIcon(ApplicationPicture());
    setDockNestingEnabled(true);
    CreateMenus();
    CreateToolbar();
    CreateStatusBar();
    CreateBars();
    if (!CreateTabArea())
        qFatal("the view area of the main window cannot be created");
    CreateTray();

    WireCommandStates();
    UpdateCommandStates();
    // Before a remembered layout replaces it.
    m_firstRunLayout = SaveWindowLayout(*this);
}

void CMainFrame::ResetLayout() {
    // The first-run layout where the window is now: only its size and the bars' places go back.
    const QPoint at = pos();
    const bool maximised = isMaximized();
    if (maximised)
        showNormal();
    // A restored column keeps at least the width it has: the first start's widths must not be held up.
    for (QTableView* list :
         {static_cast<QTableView*>(m_connectionsList), static_cast<QTableView*>(m_packetsList)})
        for (int i = 0; i < list->horizontalHeader()->count(); ++i)
            list->horizontalHeader()->resizeSection(i, list->horizontalHeader()->minimumSectionSize());
    if (RestoreWindowLayout(*this, m_firstRunLayout))
        move(at);
    for (CSizingControlBar* bar :
         {static_cast<CSizingControlBar*>(m_connectionsBar), static_cast<CSizingControlBar*>(m_packetsBar)})
        bar->show();
    UpdateCommandStates();
}

void CMainFrame::WireCommandStates() {
    // The counts of a growing store at the panes' pace.
    CStoreWatcher* watcher = CStoreWatcher::Instance();
    auto* panes = new CPacedAction(
        kUpdateIntervalMs, [this] { UpdateCommandStates(); }, this);
    connect(watcher, &CStoreWatcher::grew, panes, &CPacedAction::Request);
    connect(watcher, &CStoreWatcher::cleared, this, &CMainFrame::UpdateCommandStates);
    // Start and Stop at once; the counters of dropped frames, which may change at every reading, at that
    // pace.
    connect(watcher, &CStoreWatcher::stateChanged, this,
            [this, panes, state = -1](const StoreCounts& counts) mutable {
                if (counts.captureState == state) {
                    panes->Request();
                    return;
                }
                state = counts.captureState;
                UpdateCommandStates();
            });
    // The exports follow the connections list's selection, highlight and filter.
    connect(m_connectionsList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CMainFrame::UpdateCommandStates);
    connect(m_connectionsList, &CListCtrlLeft::connectionActivated, this, &CMainFrame::UpdateCommandStates);
    connect(m_connectionsList->model(), &QAbstractItemModel::modelReset, this,
            &CMainFrame::UpdateCommandStates);
    if (auto* toolbar = findChild<QToolBar*>("toolbar"))
        connect(toolbar, &QToolBar::visibilityChanged, this, &CMainFrame::UpdateCommandStates);
}

CMainFrame::~CMainFrame() {
    // The capture thread writes the store the lists read, and asks through the front end: it must have ended
    // first. The front end, a member, goes before the lists, which are children.
    StopCaptureAndWait();
    // The bars are hidden as the window goes: their signals must not reach a frame half destroyed.
    m_connectionsBar->disconnect(this);
    m_packetsBar->disconnect(this);
    m_trafficBar->disconnect(this);
    m_framework->DestroyLayout();
    if (m_tray)
        m_tray->hide();
}

QAction* CMainFrame::AddCommand(int command, const QString& menuText, const QString& help) {
    auto* action = new QAction(menuText, this);
    action->setData(command);
    // The string table's two parts: the status text, then the tooltip.
    const int newline = help.indexOf('\n');
    action->setStatusTip(help.left(newline));
    if (newline >= 0)
        action->setToolTip(help.mid(newline + 1));
    if (const QIcon picture = CommandPicture(command); !picture.isNull())
        action->setIcon(picture);
    m_actions.insert(command, action);
    return action;
}

void CMainFrame::CreateMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction(AddCommand(ID_NEW_WINDOW, "&New Window\tCtrl+N",
                               "Open another window with a capture of its own\nNew Window"));
    file->addSeparator();
    file->addAction(
        AddCommand(ID_EXPORT_CONNECTIONS, "Export &Connections...",
                   "Export the connections list to a CSV or JSON Lines file\nExport Connections"));
    file->addAction(
        AddCommand(ID_EXPORT_CONNECTION_PACKETS, "Export Connection &Packets...",
                   "Save the packets of the selected connection to a capture file\nExport Connection "
                   "Packets"));
    file->addAction(AddCommand(ID_EXPORT_SHOWN_PACKETS, "Export &Shown Packets...",
                               "Save the packets of the connections the list shows to a capture file\nExport "
                               "Shown Packets"));
    file->addSeparator();
    file->addAction(AddCommand(ID_APP_EXIT, "E&xit", "Quit the application\nExit"));

    QMenu* view = m_viewMenu = menuBar()->addMenu("&View");
    view->addAction(AddCommand(ID_VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar"));
    view->addAction(
        AddCommand(ID_VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar\nToggle StatusBar"));
    view->addSeparator();
    view->addAction(AddCommand(ID_DOCK_CONNECTIONS, "Dock &Connections Bar",
                               "Dock or float the connections bar\nDock Connections Bar"));
    view->addAction(
        AddCommand(ID_DOCK_PACKETS, "Dock &Packets Bar", "Dock or float the packets bar\nDock Packets Bar"));
    view->addAction(
        AddCommand(ID_DOCK_TRAFFIC, "Dock Tra&ffic Bar", "Dock or float the traffic bar\nDock Traffic Bar"));
    view->addSeparator();
    view->addAction(AddCommand(ID_VIEW_CONNECTIONS_BAR, "Co&nnections Bar",
                               "Show or hide the connections bar\nConnections Bar"));
    view->addAction(
        AddCommand(ID_VIEW_PACKETS_BAR, "Pac&kets Bar", "Show or hide the packets bar\nPackets Bar"));
    AddCommand(ID_RESET_LAYOUT, "Reset &Layout",
               "Put the window and its bars back as they were at first start\nReset Layout");
    for (int id : {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, ID_DOCK_CONNECTIONS, ID_DOCK_PACKETS, ID_DOCK_TRAFFIC,
                   ID_VIEW_CONNECTIONS_BAR, ID_VIEW_PACKETS_BAR})
        Action(id)->setCheckable(true);

    QMenu* sniffer = menuBar()->addMenu("&Sniffer");
    sniffer->addAction(AddCommand(ID_START, "S&tart", "Start packets capturing\nStart"));
    sniffer->addAction(AddCommand(ID_STOP, "Sto&p", "Stop packets capturing\nStop"));
    sniffer->addSeparator();
    sniffer->addAction(
        AddCommand(ID_CONFIGURE, "&Configure", "Configure the filter rules and the buffer size\nConfigure"));
    sniffer->addAction(AddCommand(ID_SELECT_ADAPTER, "Select Network &Adapter",
                                  "Select the network adapter to capture on\nSelect Network Adapter"));
    sniffer->addSeparator();
    sniffer->addAction(AddCommand(ID_OPEN, "&Open\tCtrl+O", "Open a captured packets file\nOpen"));
    sniffer->addAction(AddCommand(ID_SAVE, "&Save\tCtrl+S", "Save the captured packets to a file\nSave"));

    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction(AddCommand(ID_TIP_OF_THE_DAY, "Ti&p of the Day...", "Tip of the Day\nTip of the Day"));
    help->addSeparator();
    help->addAction(AddCommand(ID_HELP_CONTENTS, "Help &Contents", "Show the help contents\nHelp Contents"));
    help->addAction(AddCommand(ID_TUTORIAL, "&Tutorial", "Show the tutorial\nTutorial"));
    help->addSeparator();
    help->addAction(AddCommand(ID_HOME_PAGE, QString("&Home Page (%1)").arg(kHomePageUrl),
                               "Visit the home page online\nHome Page"));
    help->addSeparator();
    help->addAction(AddCommand(ID_APP_ABOUT, "&About Pacterra Packet Sniffer...",
                               "Display program information and version\nAbout"));

    Action(ID_NEW_WINDOW)->setShortcut(QKeySequence("Ctrl+N"));
    Action(ID_OPEN)->setShortcut(QKeySequence("Ctrl+O"));
    Action(ID_SAVE)->setShortcut(QKeySequence("Ctrl+S"));

    // The tray menu shares the actions, so its enabled states follow the main menu's.
    m_trayMenu = new QMenu(this);
    m_trayMenu->addAction(Action(ID_CONFIGURE));
    m_trayMenu->addAction(Action(ID_SELECT_ADAPTER));
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(
        AddCommand(ID_SHOW_HIDE, "&Hide Pacterra Packet Sniffer", "Show or hide the main window\nShow/Hide"));
    m_trayMenu->addSeparator();
    // The tray's About is the same command under a shorter text.
    auto* trayAbout = new QAction("&About", this);
    trayAbout->setData(ID_APP_ABOUT);
    m_trayMenu->addAction(trayAbout);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(Action(ID_APP_EXIT));

    connect(Action(ID_NEW_WINDOW), &QAction::triggered, this, [this] { StartNewWindow(this); });
    connect(Action(ID_APP_EXIT), &QAction::triggered, this, &QWidget::close);
    connect(Action(ID_RESET_LAYOUT), &QAction::triggered, this, &CMainFrame::ResetLayout);
    connect(Action(ID_START), &QAction::triggered, this, &CMainFrame::OnStart);
    connect(Action(ID_STOP), &QAction::triggered, this, &CMainFrame::OnStop);
    connect(Action(ID_OPEN), &QAction::triggered, this, &CMainFrame::OnOpen);
    connect(Action(ID_SAVE), &QAction::triggered, this, &CMainFrame::OnSave);
    connect(Action(ID_EXPORT_CONNECTIONS), &QAction::triggered, this,
            [this] { RunFileCommand([this] { ExportConnectionsCommand(ExportPlaceOfWindow()); }); });
    connect(Action(ID_EXPORT_CONNECTION_PACKETS), &QAction::triggered, this,
            [this] { RunFileCommand([this] { ExportConnectionPacketsCommand(ExportPlaceOfWindow()); }); });
    connect(Action(ID_EXPORT_SHOWN_PACKETS), &QAction::triggered, this,
            [this] { RunFileCommand([this] { ExportShownPacketsCommand(ExportPlaceOfWindow()); }); });
    connect(Action(ID_TIP_OF_THE_DAY), &QAction::triggered, this, [this] { ShowTipOfTheDay(this); });
    connect(Action(ID_HELP_CONTENTS), &QAction::triggered, this, [] { OpenHelpContents(); });
    connect(Action(ID_TUTORIAL), &QAction::triggered, this, [] { OpenTutorial(); });
    connect(Action(ID_HOME_PAGE), &QAction::triggered, this, [] { OpenHomePage(); });
    connect(Action(ID_APP_ABOUT), &QAction::triggered, this, [this] { ShowAboutBox(this); });
    connect(trayAbout, &QAction::triggered, this, [this] { ShowAboutBox(this); });
    connect(Action(ID_SHOW_HIDE), &QAction::triggered, this, [this] {
        if (m_visible)
            HideMainWindow();
        else
            ShowMainWindow();
    });
    connect(Action(ID_CONFIGURE), &QAction::triggered, this, [this] {
        ClearStateMessage();
        ConfigureCapture(this);
    });
    connect(Action(ID_SELECT_ADAPTER), &QAction::triggered, this, [this] {
        ClearStateMessage();
        SelectAdapter(this);
    });
}

ExportPlace CMainFrame::ExportPlaceOfWindow() {
    return {m_connectionsList, m_frontEnd.get(), statusBar(), m_frontEnd.get()};
}

void CMainFrame::CreateToolbar() {
    auto* toolbar = addToolBar("Toolbar");
    toolbar->setObjectName("toolbar");
    toolbar->setIconSize(QSize(16, 15));
    toolbar->setMovable(true);  // the gripper of its band
    const int order[] = {ID_NEW_WINDOW,     0, ID_START,    ID_STOP, 0, ID_CONFIGURE,
                         ID_SELECT_ADAPTER, 0, ID_OPEN,     ID_SAVE, 0, ID_HELP_CONTENTS,
                         ID_APP_ABOUT,      0, ID_HOME_PAGE};
    for (int id : order) {
        if (id == 0)
            toolbar->addSeparator();
        else
            toolbar->addAction(Action(id));
    }
    connect(Action(ID_VIEW_TOOLBAR), &QAction::toggled, toolbar, &QWidget::setVisible);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    // A normal widget: fly-by help (the hovered entry's status text) covers it while it shows.
    m_messagePane = new QLabel("Ready");
    bar->addWidget(m_messagePane, 1);
    bar->addPermanentWidget(new CNotKeptPane(bar));
    for (int i = 0; i < 3; ++i) {
        m_panes[i] = new QLabel;
        m_panes[i]->setAlignment(Qt::AlignCenter);
        m_panes[i]->setMinimumWidth(m_panes[i]->fontMetrics().horizontalAdvance(kPaneWidths[i]) + 8);
        bar->addPermanentWidget(m_panes[i]);
    }
    connect(Action(ID_VIEW_STATUS_BAR), &QAction::toggled, bar, &QWidget::setVisible);
}

void CMainFrame::CreateBars() {
    m_connectionsBar = new CConnectionsBar(this);
    m_packetsBar = new CPacketsBar(this);
    m_connectionsList = m_connectionsBar->m_wndList;
    m_packetsList = m_packetsBar->m_wndList;
    for (int id : {ID_EXPORT_CONNECTIONS, ID_EXPORT_CONNECTION_PACKETS, ID_EXPORT_SHOWN_PACKETS})
        m_connectionsList->AddRowAction(Action(id));
    // One row at the top, the connections on the left, sized from the frame's first size: wide enough that
    // the connections bar (two thirds of it) shows every column of its list, as far as the screen allows.
    const int columns = m_connectionsList->horizontalHeader()->length() +
                        m_connectionsList->verticalScrollBar()->sizeHint().width() + 2 * kBarFrameAllowance;
    int width = std::max(1000, columns * 3 / 2 + 1);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        width = std::min(width, screen->availableGeometry().width() - 2 * kBarFrameAllowance);
    resize(std::max(width, 1000), 700);
    DockListBars(this, m_connectionsBar, m_packetsBar);
    for (CSizingControlBar* bar :
         {static_cast<CSizingControlBar*>(m_connectionsBar), static_cast<CSizingControlBar*>(m_packetsBar)}) {
        connect(bar, &CSizingControlBar::placeChanged, this, &CMainFrame::UpdateCommandStates);
        connect(bar, &QDockWidget::topLevelChanged, this, &CMainFrame::UpdateCommandStates);
    }
    connect(Action(ID_DOCK_CONNECTIONS), &QAction::triggered, m_connectionsBar,
            &CSizingControlBar::ToggleDocking);
    connect(Action(ID_DOCK_PACKETS), &QAction::triggered, m_packetsBar, &CSizingControlBar::ToggleDocking);
    // A bar hidden by its close glyph comes back here.
    for (auto [id, bar] : {std::pair<int, CSizingControlBar*>{ID_VIEW_CONNECTIONS_BAR, m_connectionsBar},
                           std::pair<int, CSizingControlBar*>{ID_VIEW_PACKETS_BAR, m_packetsBar}}) {
        connect(Action(id), &QAction::triggered, bar, &QWidget::setVisible);
        connect(bar, &QDockWidget::visibilityChanged, this, &CMainFrame::UpdateCommandStates);
    }
    // The traffic graph, below the tab area; it looks after its own toggle and setting.
    m_trafficBar = new CTrafficBar(this, m_packetsList);
    m_viewMenu->addAction(m_trafficBar->ToggleAction());
    m_viewMenu->addSeparator();
    m_viewMenu->addAction(Action(ID_RESET_LAYOUT));
    connect(Action(ID_DOCK_TRAFFIC), &QAction::triggered, m_trafficBar, &CSizingControlBar::ToggleDocking);
    connect(m_trafficBar, &CSizingControlBar::placeChanged, this, &CMainFrame::UpdateCommandStates);
}

bool CMainFrame::CreateTabArea() {
    // A tab window with "Packet" (the decode tree beside the hex view) and "Data" (the main view).
    auto* tab = TLayoutNode::TabWindow(1, "tab");
    auto* packet = TLayoutNode::Splitter(2, "Packet", 1, 2);
    packet->SetIcon(PacketTabIcon());
    auto* tree = TLayoutNode::PaneView(3, 0, 0, TLayoutNode::Create<CProtocolTreeView>(), 240, 0);
    auto* hex = TLayoutNode::PaneView(4, 0, 1, TLayoutNode::Create<CHexView>(), 0, 0);
    auto* data = TLayoutNode::View(5, "Data", TLayoutNode::Create<CTrawlerView>());
    data->SetIcon(DataTabIcon());
    auto* stream = TLayoutNode::View(kStreamNode, "Stream", TLayoutNode::Create<CStreamView>());
    stream->SetIcon(StreamTabIcon());
    const bool declared = m_framework->AddNode(tab) && m_framework->AddNode(tab, packet) &&
                          m_framework->AddNode(packet, tree) && m_framework->AddNode(packet, hex) &&
                          m_framework->AddNode(tab, data) && m_framework->AddNode(tab, stream);
    if (!declared || !m_framework->CreateLayout(this))
        return false;
    m_treeView = qobject_cast<CProtocolTreeView*>(tree->window());
    m_hexView = qobject_cast<CHexView*>(hex->window());
    m_tabArea = tab->window();
    // The decode pane: 240 pixels, or as wide as its longest line needs.
    if (auto* panes = qobject_cast<QSplitter*>(m_treeView ? m_treeView->parentWidget() : nullptr))
        panes->setSizes({std::max(240, m_treeView->sizeHint().width()), 1 << 16});
    connect(m_treeView, &CProtocolTreeView::byteRangeSelected, m_hexView->HexCtrl(),
            &CHexViewCtrl::SetSelection);
    WireViews(qobject_cast<CTrawlerView*>(data->window()));
    m_streamView = qobject_cast<CStreamView*>(stream->window());
    WireStreamView(m_connectionsList, m_packetsList, m_streamView,
                   [this] { m_framework->ActivateNode(m_framework->FindNode(kStreamNode)); });
    if (m_streamView) {
        // A file command like Save: no other command meanwhile, Save's progress dialog and Cancel.
        m_streamView->SetSaveCommand([this](const std::function<void()>& save) { RunFileCommand(save); },
                                     [this](int64_t done, int64_t total) {
                                         return m_frontEnd->ShowWorkProgress(tr("Saving the stream..."), done,
                                                                             total);
                                     });
        // A Find past the shown part is a command of the window too, but not one on the capture.
        m_streamView->SetFindCommand(
            [this](const std::function<void()>& find) {
                RunFileCommand(
                    [&] {
                        m_frontEnd->ShowWaitCursor();
                        find();
                    },
                    false);
            },
            [this](int64_t done, int64_t total) {
                return m_frontEnd->ShowWorkProgress(tr("Finding in the stream..."), done, total);
            });
        connect(m_streamView, &CStreamView::saved, this, [this](const QString& path, qint64 bytes) {
            statusBar()->showMessage(
                tr("The stream was saved to %1 (%2 bytes).").arg(path, QLocale().toString(bytes)), 10000);
        });
    }
    return m_treeView && m_hexView && m_mainView && m_streamView;
}

void CMainFrame::WireViews(CTrawlerView* view) {
    m_mainView = view;
    if (view)
        WireListsAndViews(m_connectionsList, m_packetsList, view, m_hexView, m_treeView);
}

void CMainFrame::CreateTray() {
    m_tray = new QSystemTrayIcon(ApplicationPicture(), this);
    m_tray->setToolTip(kTitle);
    m_tray->setContextMenu(m_trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::Trigger)
            return;
        if (m_visible)
            HideMainWindow();
        else
            ShowMainWindow();
    });
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_tray->show();
}

QString CMainFrame::PaneText(int pane) const {
    switch (pane) {
        case 0: {
            // A file opened in place copies nothing: what counts is how far it is indexed, and the index.
            if (const int64_t size = g_frameFileSize.load(); size > 0)
                return QString("Indexed: %1% of %2, index %3")
                    .arg(g_indexedFileBytes.load() * 100 / size)
                    .arg(QLocale::system().formattedDataSize(size))
                    .arg(QLocale::system().formattedDataSize(static_cast<qint64>(StoreIndexBytes())));
            // A stream read without the rules goes past the buffer size: the gauge then stays full and its
            // tip says by how much the packets exceed it.
            return QString("Buffer: %1%").arg(std::min(g_bufferPercent.load(), 100));
        }
        case 1:
            return QString("Conns: %1").arg(g_connectionTable.size());
        default:
            return QString("Packets: %1").arg(g_packetTable.size());
    }
}

void CMainFrame::UpdateCommandStates() {
    const int state = g_captureState.load();
    Action(ID_START)->setEnabled(state == CAPTURE_IDLE);
    Action(ID_STOP)->setEnabled(state == CAPTURE_RUNNING);
    // The capture thread reads the rules and the adapter: they change only while it does not run.
    Action(ID_CONFIGURE)->setEnabled(state == CAPTURE_IDLE && !m_frontEnd->IsCommandRunning());
    Action(ID_SELECT_ADAPTER)->setEnabled(state == CAPTURE_IDLE && !m_frontEnd->IsCommandRunning());
    // The exports: none while a file command runs.
    const bool allowed = !m_frontEnd->IsCommandRunning();
    const ExportStates exports = ExportCommandStates(m_connectionsList);
    Action(ID_EXPORT_CONNECTIONS)->setEnabled(allowed && exports.connections);
    Action(ID_EXPORT_CONNECTION_PACKETS)->setEnabled(allowed && exports.connectionPackets);
    Action(ID_EXPORT_SHOWN_PACKETS)->setEnabled(allowed && exports.shownPackets);
    Action(ID_DOCK_CONNECTIONS)->setChecked(!m_connectionsBar->IsBarFloating());
    Action(ID_DOCK_PACKETS)->setChecked(!m_packetsBar->IsBarFloating());
    Action(ID_DOCK_TRAFFIC)->setChecked(!m_trafficBar->IsBarFloating());
    Action(ID_VIEW_CONNECTIONS_BAR)->setChecked(!m_connectionsBar->isHidden());
    Action(ID_VIEW_PACKETS_BAR)->setChecked(!m_packetsBar->isHidden());
    if (auto* toolbar = findChild<QToolBar*>("toolbar"))
        Action(ID_VIEW_TOOLBAR)->setChecked(!toolbar->isHidden());
    Action(ID_VIEW_STATUS_BAR)->setChecked(!statusBar()->isHidden());
    Action(ID_SHOW_HIDE)
        ->setText(m_visible ? "&Hide Pacterra Packet Sniffer" : "&Show Pacterra Packet Sniffer");
    for (int i = 0; i < 3; ++i)
        m_panes[i]->setText(PaneText(i));
    const int percent = g_bufferPercent.load();
    m_panes[0]->setToolTip(percent <= 100 || g_frameFileSize.load() > 0
                               ? QString()
                               : QString("The packets held take %1% of the buffer size: the file was "
                                         "read whole, without the buffer limit.")
                                     .arg(percent));
    if (m_streamRunning && state == CAPTURE_IDLE) {
        m_streamRunning = false;
        const CaptureStats stats = LastCaptureStats();
        if (g_storeStop.load() == STORE_STOP_BUFFER_FULL)
            m_stateMessage = QString::fromStdString(BufferFilledMessage(g_packetTable.size(), true));
        else
            statusBar()->showMessage(
                QString("The stream ended: %1 packets were read.").arg(g_packetTable.size()), 10000);
        emit LoadFinished(stats.opened && !stats.readFailed);
    }
    UpdateStateMessage(state);
}

void CMainFrame::UpdateStateMessage(int state) {
    if (!m_liveDevice.isEmpty() && state == CAPTURE_IDLE) {
        // A full buffer ends a capture without a message box: the status bar and the tray say it.
        if (g_storeStop.load() == STORE_STOP_BUFFER_FULL)
            m_stateMessage = QString("Capture stopped: the buffer of %1 MB is full")
                                 .arg(std::max(1, static_cast<int>(g_config.bufferMB)));
        else
            m_stateMessage.clear();
        m_liveDevice.clear();
    } else if (!m_liveDevice.isEmpty()) {
        // Not "capturing" before the adapter is open: traffic until then is not seen.
        m_stateMessage = IsCaptureOpen() ? QString("Capturing on %1").arg(m_liveDevice)
                                         : QString("Opening %1…").arg(m_liveDevice);
        // Said at once, not only in the box at Stop: the frames are being lost now.
        if (const int cut = g_shortPacketCount.load(); cut > 0)
            m_stateMessage += QString(" (%1 packets captured shorter than their actual lengths)").arg(cut);
    }
    m_messagePane->setText(MessagePaneText());
    if (m_tray)
        m_tray->setToolTip(TrayToolTip());
}

void CMainFrame::ClearStateMessage() {
    m_stateMessage.clear();
    UpdateStateMessage(g_captureState.load());
}

QString CMainFrame::MessagePaneText() const {
    return m_stateMessage.isEmpty() ? QStringLiteral("Ready") : m_stateMessage;
}

QString CMainFrame::TrayToolTip() const {
    QStringList lines{kTitle};
    // While a live capture runs the message ("Capturing on lo") names it already.
    if (m_liveDevice.isEmpty())
        lines << (m_captureName.isEmpty() ? tr("No capture") : m_captureName);
    if (!m_stateMessage.isEmpty())
        lines << m_stateMessage;
    return lines.join('\n');
}

// --- Commands -------------------------------------------------------------------------------------------

void CMainFrame::RunFileCommand(const std::function<void()>& command, bool onTheCapture) {
    if (m_frontEnd->IsCommandRunning())
        return;
    m_frontEnd->BeginCommand();
    UpdateCommandStates();
    if (onTheCapture)
        ClearStateMessage();
    command();
    // What the command did to the store shows now, not at the watcher's next reading.
    CStoreWatcher::Instance()->Poll();
    m_frontEnd->EndCommand();
    UpdateCommandStates();
    if (m_closeAfterSave) {
        m_closeAfterSave = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void CMainFrame::RunOpenCommand(const std::function<void(OpenDone)>& open, const QString& path) {
    if (m_frontEnd->IsCommandRunning())
        return;
    m_frontEnd->BeginCommand();
    m_openPath = path;
    m_openGeneration = g_storeGeneration.load();
    ClearStateMessage();
    open([this](OpenResult opened) {
        // After a load the capture thread reports here: the window hears of it on its own thread.
        if (QThread::currentThread() == thread())
            EndOpen(opened);
        else
            QMetaObject::invokeMethod(
                this,
                [this, opened] {
                    JoinCaptureThread();  // it ends with this report
                    EndOpen(opened);
                },
                Qt::QueuedConnection);
    });
}

void CMainFrame::EndOpen(OpenResult opened) {
    FinishOpen(opened);
    m_frontEnd->EndCommand();
    UpdateCommandStates();
    if (m_closeAfterSave) {
        m_closeAfterSave = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void CMainFrame::OnStart() {
    // Its offer to save may write a large file: the same cursor and progress as the Save command.
    RunFileCommand([this] {
        if (StartCapture(*m_frontEnd) == CommandResult::Done) {
            m_liveDevice = QString::fromStdString(g_config.adapter);
            m_captureName = tr("Packets captured on %1").arg(m_liveDevice);
        }
    });
}

void CMainFrame::OnStop() {
    ClearStateMessage();
    StopCapture();
    UpdateCommandStates();
}

void CMainFrame::OnOpen() {
    RunOpenCommand([this](OpenDone done) {
        OpenCommandInBackground(*m_frontEnd, m_frontEnd->CommandCancel(), std::move(done));
    });
}

void CMainFrame::FinishOpen(OpenResult opened) {
    // An Open that failed or was cancelled before it emptied the store leaves what the window held.
    if (g_storeGeneration.load() != m_openGeneration) {
        const QString path = m_openPath.isEmpty()
                                 ? m_frontEnd->ChosenPath(IPromptService::FileQuestion::OpenCapture)
                                 : m_openPath;
        m_captureName = path == QLatin1String("-") ? tr("Standard input") : QFileInfo(path).fileName();
    }
    // A stream goes on arriving on the capture thread: it is finished when the capture state says so.
    m_streamRunning = opened == OpenResult::StreamStarted;
    if (opened == OpenResult::BufferFilled)
        m_stateMessage = QString::fromStdString(BufferFilledMessage(g_packetTable.size(), false));
    // A load the user stopped did not open the file "successfully": the status bar says what happened.
    if (opened == OpenResult::Stopped)
        statusBar()->showMessage(QString("Reading stopped: %1 packets were read.").arg(g_packetTable.size()),
                                 10000);
    if (m_streamRunning)
        statusBar()->showMessage("Reading the stream until it ends (Stop ends it now)...");
    else
        emit LoadFinished(opened == OpenResult::Loaded || opened == OpenResult::Stopped);
}

void CMainFrame::OnSave() {
    RunFileCommand([this] {
        // The packets are that file's now, unless a running capture goes on adding to them.
        if (SaveCommand(*m_frontEnd) == CommandResult::Done && g_captureState.load() == CAPTURE_IDLE)
            m_captureName =
                QFileInfo(m_frontEnd->ChosenPath(IPromptService::FileQuestion::SaveCapture)).fileName();
    });
}

void CMainFrame::OpenFileAtStartup(const QString& path) {
    RunOpenCommand(
        [this, path](OpenDone done) {
            const bool apply = AskToApplyRules(*m_frontEnd);
            m_frontEnd->ShowWaitCursor();
            OpenCaptureSourceInBackground(path.toStdString(), apply, *m_frontEnd, m_frontEnd->CommandCancel(),
                                          std::move(done));
        },
        path);
}

// --- Window states and closing --------------------------------------------------------------------------

void CMainFrame::HideMainWindow() {
    if (QSystemTrayIcon::isSystemTrayAvailable() && m_tray && m_tray->isVisible()) {
        hide();
    } else {
        // Without a tray the window would be lost: it goes to the taskbar instead.
        showMinimized();
    }
    m_visible = false;
    UpdateCommandStates();
}

void CMainFrame::ShowMainWindow() {
    if (m_restoreNormal)
        showNormal();
    else
        showMaximized();
    raise();
    activateWindow();
    m_visible = true;
    UpdateCommandStates();
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if (windowState() & Qt::WindowMinimized) {
        m_restoreNormal = !(change->oldState() & Qt::WindowMaximized);
        if (QSystemTrayIcon::isSystemTrayAvailable() && m_tray && m_tray->isVisible())
            QTimer::singleShot(0, this, &CMainFrame::HideMainWindow);
        else
            m_visible = false;
    } else {
        m_restoreNormal = !(windowState() & Qt::WindowMaximized);
        if (isVisible())
            m_visible = true;
    }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    event->ignore();
    // A question open meanwhile (start-up's, a command's) is answered as its close box would; the close
    // comes again once the work that asked has gone on, and then asks its own questions.
    if (m_frontEnd->AnswerOpenQuestions()) {
        if (m_frontEnd->IsCommandRunning())
            m_closeAfterSave = true;
        else
            QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    if (g_captureState.load() != CAPTURE_IDLE) {
        if (m_frontEnd->Prompt(msg::kStopCapturingQuestion, MsgButtons::OkCancel, {}) != MsgAnswer::Ok)
            return;
        // A load on the capture thread ends after its batch (cancelled, not a success) and is joined; its
        // end, already posted here, is taken now so that the close goes on.
        m_frontEnd->CommandCancel().Cancel();
        StopCaptureAndWait();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    if (m_frontEnd->IsCommandRunning()) {
        // A file is being written further down this stack: the questions come again once it is done.
        m_closeAfterSave = true;
        return;
    }
    // A cancelled or failed save keeps the window open, so no packet is lost without the user saying so.
    bool dropStore = false;
    RunFileCommand([this, &dropStore] { dropStore = OfferToSaveUnsavedPackets(*m_frontEnd); });
    if (!dropStore)
        return;
    StoreWindowLayout(*this);
    // The lists and views let go of the store before it is released.
    ResetCapture();
    if (m_tray)
        m_tray->hide();
    event->accept();
    emit Closed();
}
