// Cost of the hex viewer's work on the largest frame it holds (65 536 bytes): loading it and painting the
// control once, painting with a selection, and scrolling through it (one scroll step and the repaint that
// follows it). Target: each well under 10 ms, so activating a packet or holding down an arrow key never
// lags.
//
// Design: the control is shown (offscreen platform) at the size of a tall hex pane, 1000 pixels high, so a
// paint draws about seventy lines; every paint renders the whole control (frame, scroll bars, viewport)
// into one reused image, which is what a repaint on screen costs without the copy to the display. The
// scroll benchmarks step through the whole frame and start again at the top, so every step really moves.
#include <benchmark/benchmark.h>

#include "QtBenchmarkMain.h"

#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <cstdint>
#include <vector>

#include "views/HexLines.h"
#include "views/HexViewCtrl.h"

namespace {

constexpr int kFrameBytes = 65536;

std::vector<uint8_t> Frame() {
    std::vector<uint8_t> bytes(kFrameBytes);
    uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

struct Pane {
    Pane() : image(560, 1000, QImage::Format_ARGB32_Premultiplied) {
        ctrl.resize(image.size());
        ctrl.show();
        QCoreApplication::processEvents();
        ctrl.SetData(bytes.data(), kFrameBytes);
    }
    void Paint() {
        ctrl.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }

    std::vector<uint8_t> bytes = Frame();
    CHexViewCtrl ctrl;
    QImage image;
};

void BM_SetDataAndPaint(benchmark::State& state) {
    Pane pane;
    for (auto _ : state) {
        pane.ctrl.SetData(pane.bytes.data(), kFrameBytes);
        pane.Paint();
    }
    state.counters["lines"] = pane.ctrl.LinesPerPage();
}
BENCHMARK(BM_SetDataAndPaint)->Unit(benchmark::kMillisecond);

// Every line split into differently coloured runs: the selection starts and ends inside the lines shown.
void BM_PaintWithSelection(benchmark::State& state) {
    Pane pane;
    pane.ctrl.SetSelection(5 * 16 + 7, 40 * 16 + 9);
    for (auto _ : state)
        pane.Paint();
}
BENCHMARK(BM_PaintWithSelection)->Unit(benchmark::kMillisecond);

void Scroll(benchmark::State& state, QAbstractSlider::SliderAction action) {
    Pane pane;
    QScrollBar* bar = pane.ctrl.verticalScrollBar();
    for (auto _ : state) {
        if (bar->value() == bar->maximum())
            bar->setValue(0);
        bar->triggerAction(action);
        pane.Paint();
    }
    state.counters["lines"] = pane.ctrl.LinesPerPage();
}
void BM_ScrollLine(benchmark::State& state) {
    Scroll(state, QAbstractSlider::SliderSingleStepAdd);
}
void BM_ScrollPage(benchmark::State& state) {
    Scroll(state, QAbstractSlider::SliderPageStepAdd);
}
BENCHMARK(BM_ScrollLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrollPage)->Unit(benchmark::kMillisecond);

// The text of every line of the frame, as the command-line tool prints it.
void BM_HexViewLines(benchmark::State& state) {
    const std::vector<uint8_t> bytes = Frame();
    for (auto _ : state)
        benchmark::DoNotOptimize(HexViewLines(bytes.data(), bytes.size()));
    state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(BM_HexViewLines)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return RunWidgetBenchmarks(argc, argv);
}
