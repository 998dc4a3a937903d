#include "ui/CaptionBars.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>

#include "ui/SizingControlBar.h"

namespace {

constexpr int kMargin = 2;                                          // around the strip, docked
constexpr int kStripThickness = CSizingControlBarG::kGripSize + 4;  // the title bar's thickness, docked

QColor Blend(const QColor& a, const QColor& b, int bWeight64) {
    auto mix = [&](int x, int y) { return (x * (64 - bWeight64) + y * bWeight64) >> 6; };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

// A 3-D frame: `topLeft` on the top and left edges, `bottomRight` on the others.
void Draw3dRect(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
    p.setPen(topLeft);
    p.drawLine(r.topLeft(), r.topRight() - QPoint(1, 0));
    p.drawLine(r.topLeft(), r.bottomLeft() - QPoint(0, 1));
    p.setPen(bottomRight);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
}

QFont CaptionFontFor(const QString& family) {
    QFont font(family);
    font.setPixelSize(11);  // 8.5 points on a 96-dpi screen
    return font;
}

}  // namespace

CaptionColours CaptionColoursFor(const QPalette& palette, bool active) {
    if (active) {
        const QColor base = palette.color(QPalette::Active, QPalette::Highlight);
        return {base.darker(140), base.lighter(170),
                palette.color(QPalette::Active, QPalette::HighlightedText)};
    }
    const QColor dark = palette.color(QPalette::Inactive, QPalette::Dark);
    const QColor shadow = palette.color(QPalette::Inactive, QPalette::Shadow);
    // Grey to a lighter grey that still carries the light title all along the strip.
    return {Blend(dark, shadow, 24), Blend(dark, palette.color(QPalette::Inactive, QPalette::Button), 16),
            QColor(230, 230, 230)};
}

CSizingControlBarG::CSizingControlBarG(CSizingControlBar* bar) : QWidget(bar), m_bar(bar) {
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
    // Docked at the top or bottom, the strip runs down the left side.
    auto place = [this] {
        QDockWidget::DockWidgetFeatures f = m_bar->features();
        f.setFlag(QDockWidget::DockWidgetVerticalTitleBar, m_bar->IsDockedHorizontally());
        if (f != m_bar->features()) {
            m_bar->setFeatures(f);
            // The strip's side is taken up at the bar's next layout, which a move without a resize (a bar
            // floating at its docked size) does not bring.
            if (QLayout* layout = m_bar->layout()) {
                layout->invalidate();
                layout->activate();
            }
        }
        SetGlyphState(false, false);
        updateGeometry();
        update();
    };
    connect(bar, &CSizingControlBar::placeChanged, this, place);
    connect(bar, &QWidget::windowTitleChanged, this, qOverload<>(&QWidget::update));
    bar->setTitleBarWidget(this);
    place();
}

bool CSizingControlBarG::ShowsGrip() const {
    return !m_bar->IsBarFloating();
}

bool CSizingControlBarG::IsVertical() const {
    return m_bar->IsDockedHorizontally();
}

QSize CSizingControlBarG::sizeHint() const {
    if (!ShowsGrip()) {
        const QFontMetrics metrics(CaptionFontFor(CaptionFamily()));
        return QSize(kStripThickness, std::max(kStripThickness, metrics.height() + 6));
    }
    return QSize(kStripThickness, kStripThickness);
}

QRect CSizingControlBarG::GlyphRect() const {
    if (!ShowsGrip())
        return {};
    if (IsVertical())
        return QRect(kMargin, kMargin, kGlyphSize, kGlyphSize);
    return QRect(width() - kMargin - kGlyphSize, kMargin, kGlyphSize, kGlyphSize);
}

void CSizingControlBarG::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    if (!ShowsGrip()) {
        PaintCaption(p, rect(), false, IsCaptionActive() || m_bar->isActiveWindow());
        return;
    }
    const QRect glyph = GlyphRect();
    QRect strip;
    if (IsVertical())
        strip = QRect(QPoint(1, glyph.top() + 14), QPoint(kGripSize + 1, height() - 1 - kMargin));
    else
        strip = QRect(QPoint(1, 1), QPoint(glyph.left() - 3, kGripSize + 1));
    if (strip.isValid())
        PaintGrip(p, strip);
    PaintGlyph(p);
}

void CSizingControlBarG::PaintGrip(QPainter& p, const QRect& strip) {
    const QColor light = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    // Two raised lines, 3 pixels wide, side by side.
    QRect line = IsVertical() ? QRect(strip.left() + 2, strip.top(), 3, strip.height())
                              : QRect(strip.left(), strip.top() + 2, strip.width(), 3);
    for (int i = 0; i < 2; ++i) {
        Draw3dRect(p, line, light, shadow);
        line.translate(IsVertical() ? 3 : 0, IsVertical() ? 0 : 3);
    }
}

void CSizingControlBarG::PaintCaption(QPainter& p, const QRect& r, bool vertical, bool active) {
    const CaptionColours colours = CaptionColoursFor(palette(), active);
    // 64 slices from colour 1 (where the title starts) to colour 2.
    const int length = vertical ? r.height() : r.width();
    for (int i = 0; i < 64; ++i) {
        const int from = length * i >> 6;
        const int to = length * (i + 1) >> 6;
        if (to <= from)
            continue;
        const QColor c = Blend(colours.first, colours.second, i);
        if (vertical)
            p.fillRect(QRect(r.left(), r.bottom() + 1 - to, r.width(), to - from), c);
        else
            p.fillRect(QRect(r.left() + from, r.top(), to - from, r.height()), c);
    }
    p.save();
    p.setClipRect(r);
    p.setFont(CaptionFontFor(CaptionFamily()));
    p.setPen(colours.text);
    const QString title = m_bar->windowTitle();
    if (vertical) {
        // Bottom to top, starting near the bottom.
        p.translate(r.left(), r.bottom() + 1);
        p.rotate(-90);
        p.drawText(QRect(3, 0, r.height() - 3, r.width()), Qt::AlignLeft | Qt::AlignVCenter, title);
    } else {
        p.drawText(r.adjusted(3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, title);
    }
    p.restore();
}

void CSizingControlBarG::PaintGlyph(QPainter& p) const {
    const QRect g = GlyphRect();
    if (m_pushed)
        Draw3dRect(p, g, palette().color(QPalette::Dark), palette().color(QPalette::Light));
    else if (m_hot)
        Draw3dRect(p, g, palette().color(QPalette::Light), palette().color(QPalette::Dark));
    // A small cross, two pixels thick.
    p.setPen(palette().color(QPalette::ButtonText));
    const QPoint o = g.topLeft() + QPoint(m_pushed ? 3 : 2, m_pushed ? 3 : 2);
    for (int d = 0; d < 2; ++d) {
        p.drawLine(o + QPoint(1 + d, 1), o + QPoint(6, 6 - d));
        p.drawLine(o + QPoint(1 + d, 6), o + QPoint(6, 1 + d));
    }
}

void CSizingControlBarG::SetGlyphState(bool hot, bool pushed) {
    if (hot == m_hot && pushed == m_pushed)
        return;
    m_hot = hot;
    m_pushed = pushed;
    update();
}

void CSizingControlBarG::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && GlyphRect().contains(event->position().toPoint())) {
        m_pressedOnGlyph = true;
        SetGlyphState(false, true);
        event->accept();
        return;
    }
    event->ignore();  // the bar starts a drag
}

void CSizingControlBarG::mouseReleaseEvent(QMouseEvent* event) {
    if (m_pressedOnGlyph && event->button() == Qt::LeftButton) {
        // Released over the glyph, the bar is hidden (the View menu shows it again); released elsewhere,
        // nothing happens.
        m_pressedOnGlyph = false;
        const bool over = GlyphRect().contains(event->position().toPoint());
        SetGlyphState(false, false);
        event->accept();
        if (over)
            m_bar->hide();
        return;
    }
    event->ignore();
}

void CSizingControlBarG::mouseMoveEvent(QMouseEvent* event) {
    const bool over = GlyphRect().contains(event->position().toPoint());
    if (m_pressedOnGlyph) {
        SetGlyphState(false, over);  // pushed only while the button is held over it
        event->accept();
        return;
    }
    if (!(event->buttons() & Qt::LeftButton))
        SetGlyphState(over, false);
    event->ignore();
}

void CSizingControlBarG::mouseDoubleClickEvent(QMouseEvent* event) {
    if (GlyphRect().contains(event->position().toPoint())) {
        event->accept();
        return;
    }
    event->ignore();  // the bar toggles floating
}

void CSizingControlBarG::leaveEvent(QEvent*) {
    if (!m_pressedOnGlyph)
        SetGlyphState(false, false);
}

CSizingControlBarCF::CSizingControlBarCF(CSizingControlBar* bar) : CSizingControlBarG(bar) {
    m_strCaptionFont = QFontDatabase::hasFamily(QStringLiteral("Tahoma")) ? QStringLiteral("Tahoma")
                                                                          : QStringLiteral("Arial");
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        const bool active = now && (now == Bar() || Bar()->isAncestorOf(now));
        if (active != m_bCaptionActive) {
            m_bCaptionActive = active;
            update();
        }
    });
}

void CSizingControlBarCF::PaintGrip(QPainter& p, const QRect& strip) {
    PaintCaption(p, strip, IsVertical(), m_bCaptionActive);
}
