// The export commands of the File menu and the connections list's context menu: the connections list as
// CSV or JSON Lines, the selected connection's packets, and the packets of the connections shown.
#pragma once

class CMainFrame;
class QFileDialog;

// "Export Connections...": all connections, or only those the filter shows when the user says so.
void ExportConnectionsCommand(CMainFrame* frame);
// "Export Connection Packets...": the selected connection (else the highlighted one) to a capture file.
void ExportConnectionPacketsCommand(CMainFrame* frame);
// "Export Shown Packets...": the packets of every connection the list shows, in stored order.
void ExportShownPacketsCommand(CMainFrame* frame);

// Enables the three commands by what the list holds; none while `allowed` is false.
void UpdateExportStates(CMainFrame* frame, bool allowed);

// The save dialog of Export Connections: CSV or JSON Lines, the suffix following the chosen type.
void SetUpExportConnectionsDialog(QFileDialog& dialog);
