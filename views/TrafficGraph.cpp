#include "views/TrafficGraph.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "capture/PacketStore.h"
#include "views/StoreWatcher.h"

namespace {

constexpr int64_t kMs = 1000;
constexpr int64_t kSec = 1'000'000;
constexpr int64_t kDay = 86'400 * kSec;
// The narrowest view: a few of the finest bins. The widest: far beyond any real capture.
constexpr int64_t kMinSpanUs = 50 * kMs;
constexpr int64_t kMaxSpanUs = int64_t{1} << 61;
constexpr int kLeft = 56, kRight = 64, kTop = 18, kBottom = 18;
// A moved press of fewer pixels is still a click.
constexpr double kClickSlop = 4;

// 1, 2 or 5 times a power of ten, at least v.
double NiceCeil(double v) {
    if (!(v > 0) || !std::isfinite(v))
        return 1;
    const double p = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= v * 0.999999)
            return m * p;
    return 10 * p;
}

QString Amount(double v, const char* unit) {
    static const char* const kPrefixes[] = {"", "k", "M", "G", "T", "P"};
    int i = 0;
    while (std::abs(v) >= 1000 && i < 5) {
        v /= 1000;
        ++i;
    }
    const int decimals = v == std::floor(v) ? 0 : (std::abs(v) < 10 ? 2 : 1);
    return QStringLiteral("%1 %2%3").arg(v, 0, 'f', decimals).arg(kPrefixes[i]).arg(unit);
}

// `percent` of `a` over `b`.
QColor Blend(const QColor& a, const QColor& b, int percent) {
    auto mix = [percent](int x, int y) { return (x * percent + y * (100 - percent)) / 100; };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

double PerSecond(uint64_t count, int64_t widthUs) {
    return widthUs > 0 ? static_cast<double>(count) * 1e6 / static_cast<double>(widthUs) : 0;
}

QDateTime LocalTime(int64_t us) {
    return QDateTime::fromMSecsSinceEpoch(FloorDiv(us, kMs));
}

// A step between time labels at least `minUs` long.
int64_t TickStep(int64_t minUs) {
    static const int64_t kSteps[] = {
        kMs,         2 * kMs,     5 * kMs,      10 * kMs,     20 * kMs,     50 * kMs,   100 * kMs,
        200 * kMs,   500 * kMs,   kSec,         2 * kSec,     5 * kSec,     10 * kSec,  15 * kSec,
        30 * kSec,   60 * kSec,   120 * kSec,   300 * kSec,   600 * kSec,   900 * kSec, 1800 * kSec,
        3600 * kSec, 7200 * kSec, 10800 * kSec, 21600 * kSec, 43200 * kSec, kDay,       2 * kDay,
        7 * kDay,    30 * kDay,   365 * kDay};
    for (int64_t s : kSteps)
        if (s >= minUs)
            return s;
    int64_t step = 365 * kDay;
    while (step < minUs && step < kMaxSpanUs / 10)
        step *= 10;
    return step;
}

QString TickText(int64_t us, int64_t step) {
    const QDateTime t = LocalTime(us);
    if (step >= kDay)
        return t.toString(QStringLiteral("yyyy-MM-dd"));
    if (step >= 60 * kSec)
        return t.toString(QStringLiteral("hh:mm"));
    if (step >= kSec)
        return t.toString(QStringLiteral("hh:mm:ss"));
    return t.toString(QStringLiteral("hh:mm:ss.zzz"));
}

}  // namespace

CTrafficGraph::CTrafficGraph(QWidget* parent)
    : QWidget(parent),
      m_refresh(new CPacedAction(
          kRefreshMs, [this] { Refresh(); }, this)) {
    setObjectName(QStringLiteral("trafficGraph"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    CStoreWatcher* watcher = CStoreWatcher::Instance();
    connect(watcher, &CStoreWatcher::grew, m_refresh, &CPacedAction::Request);
    // A new capture or file starts in the automatic view: the user's zoom belonged to the last one.
    connect(watcher, &CStoreWatcher::cleared, this, [this] {
        m_automatic = true;
        m_refresh->Request();
    });
    connect(watcher, &CStoreWatcher::stateChanged, m_refresh, &CPacedAction::Request);
    setContextMenuPolicy(Qt::DefaultContextMenu);
}

void CTrafficGraph::SetChosenBinWidth(int64_t us) {
    m_chosenBinUs = std::max<int64_t>(us, 0);
    update();
}

void CTrafficGraph::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QMenu* bins = menu.addMenu(QStringLiteral("&Bin Width"));
    auto* choices = new QActionGroup(&menu);
    const struct {
        const char* text;
        int64_t us;
    } kChoices[] = {{"&Automatic", 0}, {"1 ms", kMs},       {"10 ms", 10 * kMs}, {"100 ms", 100 * kMs},
                    {"1 s", kSec},     {"10 s", 10 * kSec}, {"1 min", 60 * kSec}};
    for (const auto& c : kChoices) {
        QAction* a = bins->addAction(QString::fromLatin1(c.text));
        a->setCheckable(true);
        a->setChecked(c.us == m_chosenBinUs);
        a->setActionGroup(choices);
        connect(a, &QAction::triggered, this, [this, us = c.us] { SetChosenBinWidth(us); });
    }
    menu.addAction(QStringLiteral("&Fit All\tHome"), this, &CTrafficGraph::FitAll);
    menu.exec(event->globalPos());
}

void CTrafficGraph::ShowConnection(int connection) {
    if (connection == m_rates.Connection())
        return;
    m_rates.SetConnection(connection);
    update();
}

void CTrafficGraph::Refresh() {
    // Connections, and the counts, first: the store may have been emptied since.
    bool changed = m_rates.TakeUp();
    // Start and Stop change the automatic view (the last minute, or everything) with no new packet.
    const int state = g_captureState.load(std::memory_order_relaxed);
    if (state != m_shownState) {
        if (state == CAPTURE_RUNNING)
            m_automatic = true;
        m_shownState = state;
        changed = true;
    }
    if (m_connectionSource) {
        const int wanted = m_connectionSource();
        if (wanted != m_rates.Connection()) {
            m_rates.SetConnection(wanted);
            changed = true;
        }
    }
    if (changed && isVisible())
        update();
}

void CTrafficGraph::UpdateAutomaticView() {
    if (!m_automatic)
        return;
    int64_t first = 0, last = 0;
    if (!m_rates.All().Span(first, last)) {
        m_from = 0;
        m_to = kSec;
        return;
    }
    if (g_captureState.load(std::memory_order_relaxed) == CAPTURE_RUNNING) {
        m_to = last + 1;
        m_from = m_to - kLiveSpanUs;
        return;
    }
    // A little room either side, so that the first and last bins do not sit on the axes.
    const int64_t span = std::max<int64_t>(last + 1 - first, kMinSpanUs);
    m_from = first - span / 50;
    m_to = last + 1 + span / 50;
}

void CTrafficGraph::SetView(int64_t fromUs, int64_t toUs) {
    if (toUs - fromUs < kMinSpanUs) {
        const int64_t mid = fromUs / 2 + toUs / 2;
        fromUs = mid - kMinSpanUs / 2;
        toUs = fromUs + kMinSpanUs;
    }
    m_from = fromUs;
    m_to = std::min(toUs, fromUs + kMaxSpanUs);
    m_automatic = false;
    update();
}

void CTrafficGraph::FitAll() {
    m_automatic = true;
    UpdateAutomaticView();
    update();
}

QRect CTrafficGraph::PlotRect() const {
    return QRect(kLeft, kTop, std::max(width() - kLeft - kRight, 1), std::max(height() - kTop - kBottom, 1));
}

int64_t CTrafficGraph::TimeAtX(double x) const {
    const QRect plot = PlotRect();
    const double f = (x - plot.left()) / plot.width();
    return m_from + static_cast<int64_t>(std::llround(f * static_cast<double>(m_to - m_from)));
}

double CTrafficGraph::XOfTime(int64_t us) const {
    const QRect plot = PlotRect();
    return plot.left() + static_cast<double>(us - m_from) * plot.width() / static_cast<double>(m_to - m_from);
}

void CTrafficGraph::ZoomAt(double x, double factor) {
    UpdateAutomaticView();
    const int64_t at = TimeAtX(x);
    const double span = static_cast<double>(m_to - m_from) * factor;
    const double clamped = std::clamp(span, static_cast<double>(kMinSpanUs), static_cast<double>(kMaxSpanUs));
    const double f = (x - PlotRect().left()) / PlotRect().width();
    const int64_t from = at - static_cast<int64_t>(clamped * f);
    SetView(from, from + static_cast<int64_t>(clamped));
}

void CTrafficGraph::PanBy(double dx) {
    UpdateAutomaticView();
    const int64_t shift = static_cast<int64_t>(dx * static_cast<double>(m_to - m_from) / PlotRect().width());
    SetView(m_from - shift, m_to - shift);
}

void CTrafficGraph::ComputeSeries() {
    UpdateAutomaticView();
    // A bin is never narrower than a pixel, nor than the width the user chose.
    const int64_t minWidth =
        std::max<int64_t>({(m_to - m_from + PlotRect().width() - 1) / PlotRect().width(), m_chosenBinUs, 1});
    m_binWidth = m_rates.All().Series(m_from, m_to, minWidth, m_all);
    if (m_rates.Connection() >= 0) {
        m_rates.ToServer().Series(m_from, m_to, minWidth, m_toServer);
        m_rates.ToClient().Series(m_from, m_to, minWidth, m_toClient);
    } else {
        m_toServer.clear();
        m_toClient.clear();
    }
}

const RatePoint* CTrafficGraph::PointAt(const std::vector<RatePoint>& points, int64_t us) {
    auto it = std::upper_bound(points.begin(), points.end(), us,
                               [](int64_t t, const RatePoint& p) { return t < p.startUs; });
    if (it == points.begin())
        return nullptr;
    --it;
    return us < it->startUs + it->widthUs ? &*it : nullptr;
}

QStringList CTrafficGraph::HoverTexts(double x) const {
    QStringList texts;
    const int64_t t = TimeAtX(x);
    const RatePoint* p = PointAt(m_all, t);
    if (!p)
        return texts;
    texts << LocalTime(p->startUs).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) + "  (" +
                 Amount(static_cast<double>(p->widthUs) / 1e6, "s") + " bin)";
    texts << QStringLiteral("%1 packets/s, %2/s (%3 packets)")
                 .arg(PerSecond(p->packets, p->widthUs), 0, 'f', p->widthUs >= kSec ? 1 : 0)
                 .arg(Amount(PerSecond(p->bytes, p->widthUs), "B"))
                 .arg(p->packets);
    if (m_rates.Connection() >= 0) {
        const RatePoint* up = PointAt(m_toServer, t);
        const RatePoint* down = PointAt(m_toClient, t);
        texts << QStringLiteral("Connection No.%1: > %2/s, < %3/s")
                     .arg(m_rates.Connection())
                     .arg(Amount(up ? PerSecond(up->bytes, up->widthUs) : 0, "B"))
                     .arg(Amount(down ? PerSecond(down->bytes, down->widthUs) : 0, "B"));
    }
    return texts;
}

void CTrafficGraph::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    p.fillRect(rect(), pal.base());
    const QRect plot = PlotRect();
    const QColor text = pal.text().color();
    // On a dark page the packets' dark blue would not show, nor a mid grey grid: both are taken towards the
    // text colour there.
    const bool dark = pal.base().color().lightness() < 128;
    const QColor packetsColor = dark ? kPacketsColor.lighter(260) : kPacketsColor;
    const QColor grid = dark ? Blend(text, pal.base().color(), 40) : pal.mid().color();
    p.setPen(text);

    if (m_rates.All().TotalPackets() == 0) {
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("No packets"));
        return;
    }
    ComputeSeries();

    // Scales: the busiest bin in view, rounded up to a round number.
    double maxPackets = 0, maxBytes = 0;
    for (const RatePoint& pt : m_all) {
        maxPackets = std::max(maxPackets, PerSecond(pt.packets, pt.widthUs));
        maxBytes = std::max(maxBytes, PerSecond(pt.bytes, pt.widthUs));
    }
    maxPackets = NiceCeil(maxPackets * 1.05);
    maxBytes = NiceCeil(maxBytes * 1.05);
    const double span = static_cast<double>(m_to - m_from);
    auto xOf = [&](int64_t us) {
        return std::clamp(plot.left() + static_cast<double>(us - m_from) * plot.width() / span,
                          double(plot.left()), double(plot.right() + 1));
    };
    auto yOf = [&](double v, double max) { return plot.bottom() + 1 - v / max * plot.height(); };

    // Grid and axes: four levels up each side, time ticks along the bottom.
    const QFontMetrics fm = p.fontMetrics();
    for (int i = 0; i <= 4; ++i) {
        const double y = plot.bottom() + 1 - plot.height() * i / 4.0;
        p.setPen(QPen(grid, 0, i ? Qt::DotLine : Qt::SolidLine));
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(packetsColor);
        p.drawText(QRectF(0, y - fm.height() / 2.0, kLeft - 4, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, Amount(maxPackets * i / 4, ""));
        p.setPen(kBytesColor);
        p.drawText(QRectF(plot.right() + 4, y - fm.height() / 2.0, kRight - 4, fm.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, Amount(maxBytes * i / 4, "B"));
    }
    const int64_t step = TickStep(static_cast<int64_t>(span * 90 / plot.width()) + 1);
    // Ticks on round local times (the zone's offset at the view's start).
    const int64_t offset = step >= 3600 * kSec ? int64_t{LocalTime(m_from).offsetFromUtc()} * kSec : 0;
    for (int64_t t = FloorDiv(m_from + offset, step) * step - offset + step; t < m_to; t += step) {
        const double x = xOf(t);
        p.setPen(QPen(grid, 0, Qt::DotLine));
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(text);
        p.drawText(QRectF(x - 60, plot.bottom() + 2, 120, kBottom - 2), Qt::AlignHCenter | Qt::AlignTop,
                   TickText(t, step));
    }

    // The connection's two directions, filled in the packets list's colours, on the bytes scale. Their
    // edges are drawn again over the totals: where the connection carries all the traffic of a bin, its own
    // line is the one that shows.
    auto outline = [&](const std::vector<RatePoint>& points) {
        QPolygonF poly;
        poly.reserve(static_cast<qsizetype>(points.size() * 2 + 2));
        poly << QPointF(xOf(points.front().startUs), plot.bottom() + 1);
        for (const RatePoint& pt : points) {
            const double y = yOf(PerSecond(pt.bytes, pt.widthUs), maxBytes);
            poly << QPointF(xOf(pt.startUs), y) << QPointF(xOf(pt.startUs + pt.widthUs), y);
        }
        poly << QPointF(xOf(points.back().startUs + points.back().widthUs), plot.bottom() + 1);
        return poly;
    };
    const struct {
        const std::vector<RatePoint>& points;
        QColor fill, line;
    } directions[] = {{m_toServer, kToServerFill, kToServerLine}, {m_toClient, kToClientFill, kToClientLine}};
    for (const auto& d : directions) {
        if (d.points.empty())
            continue;
        p.setPen(Qt::NoPen);
        p.setBrush(d.fill);
        p.drawPolygon(outline(d.points));
    }
    p.setBrush(Qt::NoBrush);

    auto steps = [&](bool bytes, QColor color) {
        QPolygonF line;
        line.reserve(static_cast<qsizetype>(m_all.size() * 2));
        for (const RatePoint& pt : m_all) {
            const double y = bytes ? yOf(PerSecond(pt.bytes, pt.widthUs), maxBytes)
                                   : yOf(PerSecond(pt.packets, pt.widthUs), maxPackets);
            line << QPointF(xOf(pt.startUs), y) << QPointF(xOf(pt.startUs + pt.widthUs), y);
        }
        // Cosmetic one-pixel pens: wide pens are stroked as paths, which costs far more.
        p.setPen(QPen(color, 0));
        p.drawPolyline(line);
    };
    steps(true, kBytesColor);
    steps(false, packetsColor);
    for (const auto& d : directions) {
        if (d.points.empty())
            continue;
        p.setPen(QPen(d.line, 0));
        p.drawPolyline(outline(d.points));
    }

    // Legend, and a word when some packets lie beyond the bins.
    int x = plot.left() + 2;
    auto legend = [&](const QString& label, QColor color) {
        p.fillRect(QRect(x, 5, 10, 8), color);
        p.setPen(text);
        p.drawText(QPoint(x + 13, 4 + fm.ascent() - 2), label);
        x += 13 + fm.horizontalAdvance(label) + 12;
    };
    legend(QStringLiteral("packets/s"), packetsColor);
    legend(QStringLiteral("bytes/s"), kBytesColor);
    if (m_rates.Connection() >= 0) {
        legend(QStringLiteral("No.%1 client > server").arg(m_rates.Connection()), kToServerLine);
        legend(QStringLiteral("server > client"), kToClientLine);
    }
    QString note = QStringLiteral("bin %1").arg(Amount(static_cast<double>(m_binWidth) / 1e6, "s"));
    if (m_rates.All().IsCut())
        note += QStringLiteral("; span cut: %1 packets lie too far off for the finest bins")
                    .arg(m_rates.All().Level(0).Refused());
    p.setPen(m_rates.All().IsCut() ? QColor(200, 0, 0) : text);
    p.drawText(QRect(x, 0, width() - x - 4, kTop), Qt::AlignRight | Qt::AlignVCenter, note);

    // What lies under the cursor.
    if (m_hoverX >= plot.left() && m_hoverX <= plot.right()) {
        p.setPen(QPen(text, 0, Qt::DashLine));
        p.drawLine(QPointF(m_hoverX, plot.top()), QPointF(m_hoverX, plot.bottom()));
        const QStringList lines = HoverTexts(m_hoverX);
        if (!lines.isEmpty()) {
            int w = 0;
            for (const QString& l : lines)
                w = std::max(w, fm.horizontalAdvance(l));
            QRect box(0, plot.top() + 4, w + 10, fm.height() * static_cast<int>(lines.size()) + 6);
            box.moveLeft(m_hoverX + 8 + box.width() < plot.right() ? int(m_hoverX) + 8
                                                                   : int(m_hoverX) - 8 - box.width());
            p.setPen(grid);
            p.setBrush(pal.toolTipBase());
            p.drawRect(box);
            p.setPen(pal.toolTipText().color());
            for (int i = 0; i < lines.size(); ++i)
                p.drawText(box.left() + 5, box.top() + 3 + fm.ascent() + i * fm.height(), lines[i]);
        }
    }
}

void CTrafficGraph::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0)
        return;
    ZoomAt(event->position().x(), std::pow(0.8, notches));
    event->accept();
}

void CTrafficGraph::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_pressed = true;
    m_dragged = false;
    m_pressPos = m_lastPos = event->position();
}

void CTrafficGraph::mouseMoveEvent(QMouseEvent* event) {
    m_hoverX = event->position().x();
    if (m_pressed && (event->buttons() & Qt::LeftButton)) {
        if (!m_dragged && (event->position() - m_pressPos).manhattanLength() >= kClickSlop)
            m_dragged = true;
        if (m_dragged) {
            PanBy(event->position().x() - m_lastPos.x());
            setCursor(Qt::ClosedHandCursor);
        }
        m_lastPos = event->position();
    }
    update();
}

void CTrafficGraph::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_pressed)
        return QWidget::mouseReleaseEvent(event);
    m_pressed = false;
    unsetCursor();
    if (m_dragged)
        return;
    const QRect plot = PlotRect();
    if (event->position().x() < plot.left() || event->position().x() > plot.right())
        return;
    const int64_t t = TimeAtX(event->position().x());
    const RatePoint* p = PointAt(m_all, t);
    emit momentChosen(p ? p->startUs : t);
}

void CTrafficGraph::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        FitAll();
}

void CTrafficGraph::leaveEvent(QEvent*) {
    m_hoverX = -1;
    update();
}

void CTrafficGraph::keyPressEvent(QKeyEvent* event) {
    const double mid = PlotRect().center().x();
    switch (event->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            ZoomAt(mid, 0.5);
            break;
        case Qt::Key_Minus:
            ZoomAt(mid, 2);
            break;
        case Qt::Key_Left:
            PanBy(PlotRect().width() / 4.0);
            break;
        case Qt::Key_Right:
            PanBy(-PlotRect().width() / 4.0);
            break;
        case Qt::Key_Home:
            FitAll();
            break;
        default:
            QWidget::keyPressEvent(event);
    }
}
