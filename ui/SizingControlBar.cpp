#include "ui/SizingControlBar.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>

#include <QSettings>
#include <algorithm>

#include "config/SettingsStore.h"

CSizingControlBar::CSizingControlBar(const QString& title, QMainWindow* frame, int id)
    : QDockWidget(title, frame), m_id(id) {
    setObjectName(QStringLiteral("bar%1").arg(id));
    setAllowedAreas(Qt::AllDockWidgetAreas);
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    setMinimumSize(m_sizeMinHorz);
    connect(this, &QDockWidget::topLevelChanged, this, &CSizingControlBar::OnPlaceChanged);
    connect(this, &QDockWidget::dockLocationChanged, this, &CSizingControlBar::OnPlaceChanged);
    if (frame)
        frame->installEventFilter(this);
}

bool CSizingControlBar::eventFilter(QObject* watched, QEvent* event) {
    // Floating, the bar stays above its window: some window managers put the window that was clicked, or
    // that came up after the bar (a layout restored at start-up), over it.
    if (event->type() == QEvent::WindowActivate && watched == parentWidget() && isFloating() && isVisible())
        raise();
    return QDockWidget::eventFilter(watched, event);
}

Qt::DockWidgetArea CSizingControlBar::DockArea() const {
    auto* frame = qobject_cast<QMainWindow*>(parentWidget());
    return frame && !isFloating() ? frame->dockWidgetArea(const_cast<CSizingControlBar*>(this))
                                  : Qt::NoDockWidgetArea;
}

bool CSizingControlBar::IsDockedHorizontally() const {
    const Qt::DockWidgetArea area = DockArea();
    return area == Qt::TopDockWidgetArea || area == Qt::BottomDockWidgetArea;
}

CSizingControlBar::Place CSizingControlBar::CurrentPlace() const {
    return isFloating() ? Place::Floating : IsDockedHorizontally() ? Place::Horizontal : Place::Vertical;
}

void CSizingControlBar::closeEvent(QCloseEvent* event) {
    // While its window is open a close request leaves the bar where it is. Once the window has closed, a
    // floating bar goes with it: the program ends only when every window agrees to close.
    const QWidget* frame = parentWidget();
    if (frame && frame->isVisible())
        event->ignore();
    else
        event->accept();
}

void CSizingControlBar::resizeEvent(QResizeEvent* event) {
    QDockWidget::resizeEvent(event);
    RememberSize();
}

void CSizingControlBar::RememberSize() {
    // Qt resizes a bar on its way to a new place before it says where it went: those sizes belong to
    // neither place.
    if (CurrentPlace() != m_place)
        return;
    switch (m_place) {
        case Place::Floating:
            m_sizeFloat = size();
            break;
        case Place::Horizontal:
            m_sizeHorz = size();
            break;
        case Place::Vertical:
            m_sizeVert = size();
            break;
    }
}

void CSizingControlBar::OnPlaceChanged() {
    const Place place = CurrentPlace();
    setMinimumSize(place == Place::Floating     ? m_sizeMinFloat
                   : place == Place::Horizontal ? m_sizeMinHorz
                                                : m_sizeMinVert);
    emit placeChanged();
    if (place == m_place)
        return;
    if (place == Place::Floating && !m_sizeFloat.isValid())
        m_sizeFloat = m_place == Place::Horizontal ? m_sizeHorz : m_sizeVert;
    m_place = place;
    if (!m_keepSizeOnMove)
        ApplyBarSize();
}

void CSizingControlBar::SetKeepSizeOnMove(bool keep) {
    m_keepSizeOnMove = keep;
    if (keep)
        return;
    m_place = CurrentPlace();
    RememberSize();
}

void CSizingControlBar::ApplyBarSize() {
    if (isFloating()) {
        if (m_sizeFloat.isValid())
            resize(m_sizeFloat.expandedTo(m_sizeMinFloat));
        return;
    }
    auto* frame = qobject_cast<QMainWindow*>(parentWidget());
    if (!frame)
        return;
    const bool horz = IsDockedHorizontally();
    const QSize s = horz ? m_sizeHorz.expandedTo(m_sizeMinHorz) : m_sizeVert.expandedTo(m_sizeMinVert);
    // Thickness first; the length is shared with the other bars of the row.
    frame->resizeDocks({this}, {horz ? s.height() : s.width()}, horz ? Qt::Vertical : Qt::Horizontal);
    frame->resizeDocks({this}, {horz ? s.width() : s.height()}, horz ? Qt::Horizontal : Qt::Vertical);
}

void CSizingControlBar::ToggleDocking() {
    show();  // a bar hidden by its close glyph comes back to be docked or floated
    if (isFloating()) {
        setFloating(false);
        return;
    }
    // A little off where it was docked, so that it is seen to float.
    const QPoint docked = mapToGlobal(QPoint(0, 0)) + QPoint(40, 40);
    setFloating(true);
    if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        const QRect room = screen->availableGeometry();
        move(std::clamp(docked.x(), room.left(), std::max(room.left(), room.right() - width())),
             std::clamp(docked.y(), room.top(), std::max(room.top(), room.bottom() - height())));
    }
}

namespace {

QString Section(const QString& profile, int id) {
    return QStringLiteral("%1-SCBar-%2").arg(profile).arg(id).left(255);
}

}  // namespace

void CSizingControlBar::LoadBarSizes(const QString& profile) {
    QSettings settings = OpenSettingsStore();
    settings.beginGroup(Section(profile, m_id));
    auto read = [&](const char* key, int current, int minimum) {
        bool ok = false;
        const int value = settings.value(QLatin1String(key), current).toInt(&ok);
        return std::max(ok ? value : current, minimum);
    };
    m_sizeHorz = QSize(read("sizeHorzCX", m_sizeHorz.width(), m_sizeMinHorz.width()),
                       read("sizeHorzCY", m_sizeHorz.height(), m_sizeMinHorz.height()));
    m_sizeVert = QSize(read("sizeVertCX", m_sizeVert.width(), m_sizeMinVert.width()),
                       read("sizeVertCY", m_sizeVert.height(), m_sizeMinVert.height()));
    // Earlier versions stored their 200 by 200 default whether or not the bar had floated: that size says
    // nothing of the user's and is too small to use.
    const QSize storedFloat(settings.value(QStringLiteral("sizeFloatCX")).toInt(),
                            settings.value(QStringLiteral("sizeFloatCY")).toInt());
    if (settings.contains(QStringLiteral("sizeFloatCX")) && storedFloat != QSize(200, 200))
        m_sizeFloat = QSize(read("sizeFloatCX", m_sizeFloat.width(), m_sizeMinFloat.width()),
                            read("sizeFloatCY", m_sizeFloat.height(), m_sizeMinFloat.height()));
    ApplyBarSize();
}

void CSizingControlBar::SaveBarSizes(const QString& profile) const {
    QSettings settings = OpenSettingsStore();
    settings.beginGroup(Section(profile, m_id));
    settings.setValue(QStringLiteral("sizeHorzCX"), m_sizeHorz.width());
    settings.setValue(QStringLiteral("sizeHorzCY"), m_sizeHorz.height());
    settings.setValue(QStringLiteral("sizeVertCX"), m_sizeVert.width());
    settings.setValue(QStringLiteral("sizeVertCY"), m_sizeVert.height());
    if (m_sizeFloat.isValid()) {
        settings.setValue(QStringLiteral("sizeFloatCX"), m_sizeFloat.width());
        settings.setValue(QStringLiteral("sizeFloatCY"), m_sizeFloat.height());
    }
}
