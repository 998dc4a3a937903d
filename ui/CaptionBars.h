// Title bars for the sizing bars. Docked, CSizingControlBarG is a 12-pixel grip strip with two raised
// lines and a small close glyph at its end; CSizingControlBarCF paints the strip as a caption instead: the
// bar's title over a gradient of the palette's caption colours, active while the keyboard focus is inside
// the bar. The strip runs down the left side when the bar is docked at the top or bottom, along the top
// when it is docked at the left or right. Floating, both show the bar's title as the small frame's caption.
//
// The close glyph shows a hot look under the mouse and a pushed look while pressed; released over it, it
// hides the bar (the main window's View menu brings it back). A press elsewhere drags the bar, a
// double-click toggles floating (Qt's docking does both).
#pragma once

#include <QPointer>
#include <QWidget>

class CSizingControlBar;

class CSizingControlBarG : public QWidget {
    Q_OBJECT

public:
    static constexpr int kGripSize = 12;
    static constexpr int kGlyphSize = 11;

    // Becomes `bar`'s title bar.
    explicit CSizingControlBarG(CSizingControlBar* bar);

    // The grip or caption is shown while the bar is docked.
    bool ShowsGrip() const;
    // The strip runs down the left side (bar docked at the top or bottom).
    bool IsVertical() const;
    // The close glyph's square, in this widget's coordinates.
    QRect GlyphRect() const;
    bool IsGlyphHot() const { return m_hot; }
    bool IsGlyphPushed() const { return m_pushed; }
    // The caption is painted as active (the grip bar has none while docked).
    virtual bool IsCaptionActive() const { return false; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

    // The docked decoration inside `strip` (the grip or caption's room, the glyph excluded).
    virtual void PaintGrip(QPainter& painter, const QRect& strip);
    // The floating small frame's caption.
    void PaintCaption(QPainter& painter, const QRect& rect, bool vertical, bool active);
    virtual QString CaptionFamily() const { return QStringLiteral("Arial"); }

    CSizingControlBar* Bar() const { return m_bar; }

private:
    void PaintGlyph(QPainter& painter) const;
    void SetGlyphState(bool hot, bool pushed);

    CSizingControlBar* m_bar;
    bool m_hot = false;
    bool m_pushed = false;
    bool m_pressedOnGlyph = false;
};

class CSizingControlBarCF : public CSizingControlBarG {
    Q_OBJECT

public:
    explicit CSizingControlBarCF(CSizingControlBar* bar);

    // The keyboard focus is on the bar or inside it.
    bool IsCaptionActive() const override { return m_bCaptionActive; }
    // "Tahoma" when the system has it, else "Arial".
    const QString& CaptionFont() const { return m_strCaptionFont; }

protected:
    void PaintGrip(QPainter& painter, const QRect& strip) override;
    QString CaptionFamily() const override { return m_strCaptionFont; }

private:
    bool m_bCaptionActive = false;
    QString m_strCaptionFont;
};

// The caption colours: colour 1 (where the title starts) and colour 2, and the title's colour.
struct CaptionColours {
    QColor first, second, text;
};
CaptionColours CaptionColoursFor(const QPalette& palette, bool active);
