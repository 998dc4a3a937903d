#include "app/WindowLayout.h"

#include "views/ConnectionsModel.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDockWidget>
#include <QHeaderView>
#include <QIODevice>
#include <QList>
#include <QMainWindow>
#include <QSettings>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableView>

#include "config/ConfigFile.h"
#include "ui/ListBars.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/ProtocolTreeView.h"

namespace {

constexpr char kLayoutKey[] = "Window/Layout";
constexpr quint32 kMagic = 0x50544C59;  // "PTLY"
constexpr quint16 kFormat = 1;
constexpr int kStateVersion = 1;  // QMainWindow::saveState's version
constexpr auto kHash = QCryptographicHash::Sha256;
constexpr qsizetype kHashBytes = 32;
// A layout is a few hundred bytes; anything much larger is not one of ours.
constexpr qsizetype kMaxLayoutBytes = 64 * 1024;
constexpr quint8 kMaxCount = 32;
constexpr int kMaxExtent = 100000;  // pixels

// The window's parts that the layout covers, found by their types: the window holds one of each.
CListCtrlLeft* ConnectionsList(const QMainWindow& frame) {
    return frame.findChild<CListCtrlLeft*>();
}
CListCtrlRight* PacketsList(const QMainWindow& frame) {
    return frame.findChild<CListCtrlRight*>();
}
QSplitter* PacketPanes(const QMainWindow& frame) {
    const auto* tree = frame.findChild<CProtocolTreeView*>();
    return tree ? qobject_cast<QSplitter*>(tree->parentWidget()) : nullptr;
}

QList<int> ColumnWidths(const QTableView* list) {
    QList<int> widths;
    if (list)
        for (int i = 0; i < list->horizontalHeader()->count(); ++i)
            widths << list->horizontalHeader()->sectionSize(i);
    return widths;
}

void WriteInts(QDataStream& out, const QList<int>& values) {
    out << quint8(std::min<qsizetype>(values.size(), kMaxCount));
    for (qsizetype i = 0; i < values.size() && i < kMaxCount; ++i)
        out << qint32(values[i]);
}

// Counts are read as one byte, so a damaged count cannot ask for much.
QList<int> ReadInts(QDataStream& in) {
    quint8 count = 0;
    in >> count;
    QList<int> values;
    for (int i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        qint32 v = 0;
        in >> v;
        values << v;
    }
    return values;
}

bool InRange(const QList<int>& values, int low) {
    return std::all_of(values.begin(), values.end(), [low](int v) { return v >= low && v <= kMaxExtent; });
}

// Widths for every column of `list`, none narrower than the header allows.
bool FitsColumns(const QTableView* list, const QList<int>& widths) {
    return list && widths.size() == list->horizontalHeader()->count() &&
           InRange(widths, list->horizontalHeader()->minimumSectionSize());
}

// A width saved under another style or font may be too narrow for what the list's own widths were made
// to hold ("09:26:53..." for a time): those come back at least as wide as the list now makes them.
void SetColumnWidths(QTableView* list, const QList<int>& widths) {
    const QList<int> fitted = ColumnWidths(list);
    for (int i = 0; i < widths.size(); ++i)
        list->horizontalHeader()->resizeSection(i, std::max(widths[i], fitted.value(i)));
}

}  // namespace

QByteArray SaveWindowLayout(const QMainWindow& frame) {
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kMagic << kFormat << frame.saveGeometry() << frame.saveState(kStateVersion);
    const QSplitter* panes = PacketPanes(frame);
    WriteInts(out, panes ? panes->sizes() : QList<int>());
    // The Process column comes and goes with the capture: the widths of the fixed columns only.
    WriteInts(out, ColumnWidths(ConnectionsList(frame)).mid(0, CConnectionsModel::kProcessColumn));
    WriteInts(out, ColumnWidths(PacketsList(frame)));
    return payload + QCryptographicHash::hash(payload, kHash);
}

bool RestoreWindowLayout(QMainWindow& frame, const QByteArray& bytes) {
    if (bytes.size() <= kHashBytes || bytes.size() > kMaxLayoutBytes)
        return false;
    const QByteArray payload = bytes.first(bytes.size() - kHashBytes);
    if (QCryptographicHash::hash(payload, kHash) != bytes.last(kHashBytes))
        return false;  // damaged

    QDataStream in(payload);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0;
    quint16 format = 0;
    in >> magic >> format;
    if (in.status() != QDataStream::Ok || magic != kMagic || format != kFormat)
        return false;
    QByteArray geometry, state;
    in >> geometry >> state;
    const QList<int> panes = ReadInts(in);
    const QList<int> connections = ReadInts(in);
    const QList<int> packets = ReadInts(in);
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return false;

    QSplitter* splitter = PacketPanes(frame);
    const bool panesFit = splitter && panes.size() == splitter->count() && InRange(panes, 0) &&
                          std::any_of(panes.begin(), panes.end(), [](int v) { return v > 0; });
    if (!panesFit || !FitsColumns(ConnectionsList(frame), connections) ||
        !FitsColumns(PacketsList(frame), packets))
        return false;

    const QByteArray before = frame.saveGeometry();
    if (!frame.restoreGeometry(geometry))
        return false;
    // The bars take the sizes the layout gives them, not the ones they remember for their new places.
    const QList<CSizingControlBar*> bars = {frame.findChild<CConnectionsBar*>(),
                                            frame.findChild<CPacketsBar*>()};
    for (CSizingControlBar* bar : bars)
        if (bar)
            bar->SetKeepSizeOnMove(true);
    const bool restored = frame.restoreState(state, kStateVersion);
    for (CSizingControlBar* bar : bars)
        if (bar)
            bar->SetKeepSizeOnMove(false);
    if (!restored) {
        frame.restoreGeometry(before);
        return false;
    }
    splitter->setSizes(panes);
    SetColumnWidths(ConnectionsList(frame), connections);
    SetColumnWidths(PacketsList(frame), packets);
    return true;
}

void StoreWindowLayout(const QMainWindow& frame) {
    QSettings settings = OpenSettings();
    settings.setValue(QLatin1String(kLayoutKey), SaveWindowLayout(frame));
}

bool LoadWindowLayout(QMainWindow& frame) {
    const QVariant stored = OpenSettings().value(QLatin1String(kLayoutKey));
    return stored.typeId() == QMetaType::QByteArray && RestoreWindowLayout(frame, stored.toByteArray());
}

void ShowWithFloatingBars(QMainWindow& frame) {
    QList<QDockWidget*> floating;
    for (QDockWidget* bar : frame.findChildren<QDockWidget*>()) {
        if (bar->isFloating() && !bar->isHidden()) {
            const QSignalBlocker quiet(bar);  // the bar stays shown as far as the View menu knows
            bar->hide();
            floating.append(bar);
        }
    }
    frame.show();
    for (QDockWidget* bar : floating) {
        const QSignalBlocker quiet(bar);
        bar->show();
    }
}
