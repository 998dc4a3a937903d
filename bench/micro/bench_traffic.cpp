// The traffic graph over a store of 1,000,000 packets spread over one hour (in 2,000 connections, one of
// them with 100,000 packets, the one drawn per direction), on the offscreen platform at the size the
// Traffic bar has in a 1280-pixel wide window (1240 x 170):
// - BM_RateBinsAdd: counting one packet into the bins of every resolution, times in arrival order.
//   Reported as ns_per_packet. Target: under 20 ns.
// - BM_StoreRatesTakeUp: the same, taken up from the store as the interface thread does (reading each
//   packet's record, the chosen connection's packets per direction too). Target: under 20 ns per packet.
// - BM_GraphRedraw: one repaint of the graph into a reused image, series made from the bins included;
//   view:0 the whole hour, view:1 one second in its middle, view:2 the last minute as during a capture.
//   Target: under 16 ms each.
#include <benchmark/benchmark.h>

#include "QtBenchmarkMain.h"

#include <QImage>
#include <QPainter>
#include <random>
#include <vector>

#include "analysis/RateBins.h"
#include "analysis/StoreRates.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "views/TrafficGraph.h"

namespace {

constexpr size_t kPackets = 1'000'000;
constexpr int64_t kStartSec = 1'700'000'000;
constexpr int64_t kHourUs = 3'600'000'000;
constexpr int kBigConnection = 0;

// The store, filled once: packet i at i hours / kPackets from the start, a little jitter, bursts.
void FillStore() {
    static bool filled = false;
    if (filled)
        return;
    filled = true;
    ResetCaptureStore();
    g_config.bufferMB = 200;
    g_skipFilter = 1;
    g_captureState = CAPTURE_RUNNING;
    std::mt19937_64 rng(21);
    uint8_t frame[64] = {};
    for (size_t i = 0; i < kPackets; ++i) {
        const int64_t us = static_cast<int64_t>(i) * kHourUs / static_cast<int64_t>(kPackets) +
                           static_cast<int64_t>(rng() % 2000);
        size_t index = 0;
        const int len = 60 + static_cast<int>(rng() % 4);
        StorePacket(PacketTimestamp{kStartSec + us / 1'000'000, static_cast<int32_t>(us % 1'000'000)}, frame,
                    len, 0, &index);
        // One connection in ten packets is the big one; the rest spread over 1,999 others.
        const uint32_t conn = i % 10 == 0 ? 0 : 1 + static_cast<uint32_t>(rng() % 1999);
        const uint8_t a[4] = {10, 0, static_cast<uint8_t>(conn >> 8), static_cast<uint8_t>(conn)};
        const uint8_t b[4] = {10, 1, 0, 1};
        if (rng() % 3)
            FindOrAddConnection(1, b, a, 80, 1024, index);
        else
            FindOrAddConnection(1, a, b, 1024, 80, index);
    }
    g_captureState = CAPTURE_IDLE;
}

void BM_RateBinsAdd(benchmark::State& state) {
    std::vector<int64_t> times(kPackets);
    for (size_t i = 0; i < kPackets; ++i)
        times[i] = kStartSec * 1'000'000 + static_cast<int64_t>(i) * kHourUs / static_cast<int64_t>(kPackets);
    for (auto _ : state) {
        RateBins bins;
        for (int64_t t : times)
            bins.Add(t, 60);
        bins.Flush();
        benchmark::DoNotOptimize(bins.TotalPackets());
    }
    state.counters["ns_per_packet"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kPackets),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RateBinsAdd)->Unit(benchmark::kMillisecond);

void BM_StoreRatesTakeUp(benchmark::State& state) {
    FillStore();
    for (auto _ : state) {
        StoreRates rates;
        rates.SetConnection(kBigConnection);
        rates.TakeUp();
        benchmark::DoNotOptimize(rates.All().TotalPackets());
    }
    state.counters["ns_per_packet"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kPackets),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_StoreRatesTakeUp)->Unit(benchmark::kMillisecond);

void BM_GraphRedraw(benchmark::State& state) {
    FillStore();
    CTrafficGraph graph;
    graph.resize(1240, 170);
    graph.ShowConnection(kBigConnection);
    graph.Refresh();
    graph.ShowConnection(kBigConnection);
    const int64_t start = kStartSec * 1'000'000;
    switch (state.range(0)) {
        case 0:
            graph.FitAll();
            break;
        case 1:
            graph.SetView(start + kHourUs / 2, start + kHourUs / 2 + 1'000'000);
            break;
        default:
            graph.SetView(start + kHourUs - 60'000'000, start + kHourUs);
    }
    QImage image(graph.size(), QImage::Format_ARGB32_Premultiplied);
    size_t points = 0;
    for (auto _ : state) {
        graph.render(&image);
        benchmark::ClobberMemory();
    }
    points =
        static_cast<size_t>((graph.ViewTo() - graph.ViewFrom()) / std::max<int64_t>(graph.BinWidthUs(), 1));
    state.counters["bins_drawn"] = static_cast<double>(points);
    state.counters["bin_ms"] = static_cast<double>(graph.BinWidthUs()) / 1000.0;
    if (state.range(0) == 1)
        image.save("bench_traffic_zoomed.png");
    else if (state.range(0) == 0)
        image.save("bench_traffic_fit.png");
}
BENCHMARK(BM_GraphRedraw)->ArgName("view")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return RunWidgetBenchmarks(argc, argv);
}
