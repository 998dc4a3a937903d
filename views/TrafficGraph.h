// The traffic graph: packets per second and bytes per second of everything stored, over the capture's
// time, on their own axes (packets at the left, bytes at the right), and the chosen connection's bytes per
// second in each direction over them, filled in the packets list's direction colours. It reads the store
// through StoreRates on the store's news, at most every kRefreshMs, so it grows during a capture; while the
// capture runs it keeps the last minute in view, otherwise the whole capture, until the user zooms (wheel,
// around the cursor; + and -) or pans (drag; Left and Right). A double click or Home fits everything again.
// A new capture or file returns to the automatic view. The bin width follows the zoom, never narrower than
// a pixel nor than the width chosen in the context menu. Hovering shows the time and values under the
// cursor; a click tells the moment under it (momentChosen) with the start of the bin there.
#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "analysis/StoreRates.h"

class CPacedAction;

class CTrafficGraph : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 300;
    static constexpr int64_t kLiveSpanUs = 60'000'000;  // the last minute while capturing
    // Direction lines: outline, and the packets list's row colours as fill.
    static constexpr QColor kPacketsColor{40, 60, 170};
    static constexpr QColor kBytesColor{200, 90, 0};
    static constexpr QColor kToServerFill{200, 252, 200};
    static constexpr QColor kToClientFill{248, 232, 216};
    static constexpr QColor kToServerLine{40, 150, 40};
    static constexpr QColor kToClientLine{190, 110, 50};

    explicit CTrafficGraph(QWidget* parent = nullptr);

    // Asked at every refresh for the connection to draw (-1 none), e.g. the packets list's.
    void SetConnectionSource(std::function<int()> source) { m_connectionSource = std::move(source); }
    // Draws `connection`'s own lines (-1: none).
    void ShowConnection(int connection);
    int Connection() const { return m_rates.Connection(); }

    // Takes up what the store gained and repaints when shown (the store's news calls it).
    void Refresh();
    const StoreRates& Rates() const { return m_rates; }

    // The time range in view, in microseconds since 1970.
    int64_t ViewFrom() const { return m_from; }
    int64_t ViewTo() const { return m_to; }
    // The user's own view; `FitAll` returns to the automatic one (last minute live, else everything).
    void SetView(int64_t fromUs, int64_t toUs);
    void FitAll();
    bool IsAutomatic() const { return m_automatic; }
    // Zooms by `factor` (< 1 in) keeping the moment at x where it is.
    void ZoomAt(double x, double factor);
    void PanBy(double dx);

    // The plotting area, inside the axes.
    QRect PlotRect() const;
    int64_t TimeAtX(double x) const;
    double XOfTime(int64_t us) const;
    // The narrowest bins the user wants (0: as the zoom allows); the bar's context menu chooses it.
    void SetChosenBinWidth(int64_t us);
    int64_t ChosenBinWidth() const { return m_chosenBinUs; }
    // The width of the bins drawn last.
    int64_t BinWidthUs() const { return m_binWidth; }
    // Texts shown in the hover box for x (empty when nothing is there).
    QStringList HoverTexts(double x) const;

    QSize sizeHint() const override { return {600, 160}; }
    QSize minimumSizeHint() const override { return {120, 60}; }

signals:
    // The user clicked at `us` (the start of the bin under the cursor).
    void momentChosen(qint64 us);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Sets the automatic view from the store when the user has not chosen one.
    void UpdateAutomaticView();
    // Computes the series for the view into the reused vectors.
    void ComputeSeries();
    static const RatePoint* PointAt(const std::vector<RatePoint>& points, int64_t us);

    StoreRates m_rates;
    std::function<int()> m_connectionSource;
    CPacedAction* m_refresh;
    bool m_automatic = true;
    int64_t m_from = 0;
    int64_t m_to = 1'000'000;
    int64_t m_binWidth = 0;
    int64_t m_chosenBinUs = 0;
    int m_shownState = -1;  // the capture state the view was made for
    std::vector<RatePoint> m_all, m_toServer, m_toClient;

    double m_hoverX = -1;
    bool m_pressed = false;
    bool m_dragged = false;
    QPointF m_pressPos;
    QPointF m_lastPos;
};
