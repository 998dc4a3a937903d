// A bar of the main window that docks on any side or floats in a small frame of its own, and remembers
// three sizes: docked at the top or bottom, docked at the left or right, and floating, each kept at or
// above its minimum and stored across runs with LoadBarSizes/SaveBarSizes. Qt's docking does the rest:
// bars in one dock row share its length and are resized by dragging the separators between them.
// A close request is ignored; the close glyph of its title bar hides it, and the main window's View menu
// shows it again. A double-click on its title bar toggles floating.
#pragma once

#include <QDockWidget>
#include <QSize>

class QMainWindow;

class CSizingControlBar : public QDockWidget {
    Q_OBJECT

public:
    // Sizes are the whole bar's, title bar included.
    QSize m_sizeHorz{200, 200};
    QSize m_sizeVert{200, 200};
    // Not valid until the bar first floats: it floats at the size it had docked, and keeps what it is given
    // floating from then on.
    QSize m_sizeFloat;
    QSize m_sizeMinHorz{33, 32};
    QSize m_sizeMinVert{33, 32};
    QSize m_sizeMinFloat{37, 32};

    // `id` names the bar in the settings (123 connections, 125 packets).
    CSizingControlBar(const QString& title, QMainWindow* frame, int id);

    int BarId() const { return m_id; }
    bool IsBarFloating() const { return isFloating(); }
    // Docked at the top or at the bottom.
    bool IsDockedHorizontally() const;
    // The side it is docked at; Qt::NoDockWidgetArea while floating.
    Qt::DockWidgetArea DockArea() const;

    // Settings section "<profile>-SCBar-<id>" of QSettings("Morvane", "Pacterra"): "sizeHorzCX",
    // "sizeHorzCY", "sizeVertCX", "sizeVertCY", "sizeFloatCX", "sizeFloatCY". Loading keeps a size that is
    // not stored and raises a stored one to its minimum, then gives the bar the size for where it is.
    // Part of the bar's own interface; the window keeps its layout whole (app/WindowLayout) and calls
    // neither.
    void LoadBarSizes(const QString& profile);
    void SaveBarSizes(const QString& profile) const;

    // Gives the bar its remembered size for where it is now (docked or floating).
    void ApplyBarSize();
    // While set, a move to another place keeps the size the bar is given there (a saved window layout
    // being restored) instead of taking the one remembered for that place; clearing it remembers the
    // bar's size where it now is.
    void SetKeepSizeOnMove(bool keep);
    // The dock toggle: floats a docked bar a little off where it was, kept on its screen; docks a floating
    // one where it was docked last.
    void ToggleDocking();

signals:
    // Docked, floating, or moved to another side.
    void placeChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnPlaceChanged();
    void RememberSize();

    enum class Place { Horizontal, Vertical, Floating };
    Place CurrentPlace() const;

    int m_id;
    Place m_place = Place::Horizontal;  // where the bar was last told it is
    bool m_keepSizeOnMove = false;
};

// The settings profile the main window keeps its bar sizes under.
inline constexpr char kBarSizesProfile[] = "Bars";
