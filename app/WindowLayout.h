// The main window's layout, kept from one run to the next in the settings store: its size and place
// (maximised or not), the bars (side, floating, sizes, shown or hidden), the split between the decode tree
// and the hex view, and the column widths of both lists. It is one value under "Window/Layout", checked as
// a whole: a damaged value, or one from another program or format, is ignored and the window keeps its
// defaults.
#pragma once

#include <QByteArray>

class QMainWindow;

// The layout of `frame` as the bytes stored.
QByteArray SaveWindowLayout(const QMainWindow& frame);
// Gives `frame` the layout in `bytes`; false, with `frame` left as it was, when they are not a sound layout
// of this program (call before the window is first shown).
bool RestoreWindowLayout(QMainWindow& frame, const QByteArray& bytes);

// SaveWindowLayout into the settings store, and RestoreWindowLayout from it.
void StoreWindowLayout(const QMainWindow& frame);

// Shows the window, then the bars that a layout left floating. Shown with it, they would be mapped before
// it, and a window manager that meets them first does not keep them above it: a click on the window
// would cover them, as it never does a bar floated later.
void ShowWithFloatingBars(QMainWindow& frame);
bool LoadWindowLayout(QMainWindow& frame);
