// The export commands of the File menu and the connections list's context menu: the connections list as
// CSV or JSON Lines, the selected connection's packets, and the packets of the connections shown.
#pragma once

class CListCtrlLeft;
class CWindowFrontEnd;
class IPromptService;
class QFileDialog;
class QStatusBar;

// What the exports work with: the list they export from, the front end that asks for the file and shows
// the progress, and the status bar that says what was written.
struct ExportPlace {
    CListCtrlLeft* list;
    IPromptService* prompts;
    QStatusBar* status;
    CWindowFrontEnd* window = nullptr;  // names the file dialog by what is exported
};

// "Export Connections...": all connections, or only those the filter shows when the user says so.
void ExportConnectionsCommand(const ExportPlace& place);
// "Export Connection Packets...": the selected connection (else the highlighted one) to a capture file.
void ExportConnectionPacketsCommand(const ExportPlace& place);
// "Export Shown Packets...": the packets of every connection the list shows, in stored order.
void ExportShownPacketsCommand(const ExportPlace& place);

// Which of the three commands have something to export, by what the store and `list` hold.
struct ExportStates {
    bool connections = false;
    bool connectionPackets = false;
    bool shownPackets = false;
};
ExportStates ExportCommandStates(CListCtrlLeft* list);

// The save dialog of Export Connections: CSV or JSON Lines, the suffix following the chosen type.
void SetUpExportConnectionsDialog(QFileDialog& dialog);
