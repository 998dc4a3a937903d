#include "app/ExportCommands.h"

#include <QFileDialog>
#include <QStatusBar>

#include <cctype>

#include <string>
#include <vector>

#include "analysis/Export.h"
#include "app/WindowFrontEnd.h"
#include "capture/CaptureFile.h"
#include "capture/PacketStore.h"
#include "frontend/FrontEnd.h"
#include "views/ListCtrlLeft.h"

namespace {

constexpr int kStatusMs = 10000;

bool EndsWith(const std::string& s, const char* suffix) {
    const std::string end(suffix);
    if (s.size() < end.size())
        return false;
    for (size_t i = 0; i < end.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - end.size() + i])) != end[i])
            return false;
    return true;
}

// JSON Lines for .jsonl, .ndjson and .json; CSV for anything else.
ConnectionFormat FormatOf(const std::string& path) {
    return EndsWith(path, ".jsonl") || EndsWith(path, ".ndjson") || EndsWith(path, ".json")
               ? ConnectionFormat::JsonLines
               : ConnectionFormat::Csv;
}

int ChosenConnection(CListCtrlLeft* list) {
    const int selected = list->SelectedConnection();
    return selected >= 0 ? selected : list->HighlightedConnection();
}

void SavePackets(const ExportPlace& place, const std::vector<uint32_t>& connections, const QString& what,
                 const QString& title, const QString& name) {
    if (place.window)
        place.window->SuggestFile(title, name);
    const std::string path = place.prompts->AskFilePath(IPromptService::FileQuestion::ExportPackets);
    if (path.empty())
        return;
    const std::vector<uint32_t> packets = PacketsOfConnections(connections);
    // Failures are told by the save itself; a cancelled save leaves nothing behind.
    if (SaveCaptureFile(g_packetTable, path, packets, *place.prompts) == CommandResult::Done)
        place.status->showMessage(QStringLiteral("%1 packets of %2 exported to %3.")
                                      .arg(packets.size())
                                      .arg(what, QString::fromStdString(path)),
                                  kStatusMs);
}

}  // namespace

void ExportConnectionsCommand(const ExportPlace& place) {
    CListCtrlLeft* list = place.list;
    const size_t total = g_connectionTable.size();
    if (total == 0)
        return;
    std::vector<uint32_t> shown;
    bool onlyShown = false;
    if (list->IsFiltered()) {
        shown = list->ShownConnections();
        if (shown.size() < total) {
            const MsgAnswer answer = place.prompts->Prompt(
                "The filter shows " + std::to_string(shown.size()) + " of " + std::to_string(total) +
                    " connections.\r\n\r\nDo you want to export only the connections shown? (No "
                    "exports all of them.)",
                MsgButtons::YesNoCancel, {});
            if (answer != MsgAnswer::Yes && answer != MsgAnswer::No)
                return;
            onlyShown = answer == MsgAnswer::Yes;
        }
    }
    const std::string path = place.prompts->AskFilePath(IPromptService::FileQuestion::ExportConnections);
    if (path.empty())
        return;
    const size_t count = onlyShown ? shown.size() : g_connectionTable.size();
    const ExportResult result = ExportConnectionsToFile(
        FormatOf(path), onlyShown ? &shown : nullptr, path, [&place](size_t done, size_t all) {
            return place.prompts->ShowSaveProgress(static_cast<int64_t>(done), static_cast<int64_t>(all));
        });
    if (result.status == CommandResult::Cancelled) {
        place.status->showMessage(QStringLiteral("The export was cancelled; nothing was written."),
                                  kStatusMs);
    } else if (result.status == CommandResult::Failed) {
        place.prompts->Prompt("Error when exporting the connections! Nothing was written.", MsgButtons::Ok,
                              result.error);
    } else {
        place.status->showMessage(
            QStringLiteral("%1 connections exported to %2.").arg(count).arg(QString::fromStdString(path)),
            kStatusMs);
    }
}

void ExportConnectionPacketsCommand(const ExportPlace& place) {
    const int connection = ChosenConnection(place.list);
    if (connection < 0 || static_cast<size_t>(connection) >= g_connectionTable.size())
        return;
    SavePackets(place, {static_cast<uint32_t>(connection)}, QStringLiteral("connection %1").arg(connection),
                QStringLiteral("Export Connection Packets"),
                QStringLiteral("Connection%1.cap").arg(connection));
}

void ExportShownPacketsCommand(const ExportPlace& place) {
    const std::vector<uint32_t> shown = place.list->ShownConnections();
    if (shown.empty())
        return;
    SavePackets(place, shown, QStringLiteral("%1 connections").arg(shown.size()),
                QStringLiteral("Export Shown Packets"), QStringLiteral("ShownPackets.cap"));
}

ExportStates ExportCommandStates(CListCtrlLeft* list) {
    ExportStates states;
    states.connections = !g_connectionTable.empty();
    states.connectionPackets = ChosenConnection(list) >= 0;
    states.shownPackets = list->model()->rowCount() > 0;
    return states;
}

void SetUpExportConnectionsDialog(QFileDialog& dialog) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("CSV files (*.csv)"), QStringLiteral("JSON Lines files (*.jsonl)"),
                           QStringLiteral("All Files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(QStringLiteral("Connections.csv"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        const bool json = filter.contains(QLatin1String("jsonl"));
        dialog.setDefaultSuffix(json ? QStringLiteral("jsonl") : QStringLiteral("csv"));
        dialog.selectFile(json ? QStringLiteral("Connections.jsonl") : QStringLiteral("Connections.csv"));
    });
}
