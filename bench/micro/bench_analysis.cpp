// The connection filter and the exports over a large store.
// - BM_FilterNewExpression: a new expression parsed and applied to 1,000,000 connections (the list's row
//   mapping built); the repaint is measured with the list in bench_lists. Target: under 50 ms.
// - BM_ExportJsonLines: 200,000 connections (3 packets each) as JSON Lines, Community ID included, into
//   memory (sink:0) or through the atomic file writer into a file (sink:1). Target: 1,000,000 a second.
// - BM_ExportCsv: the same as CSV.
// Connections: those of bench::FillStore (BenchStore.h).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BenchStore.h"
#include "analysis/ConnectionFilter.h"
#include "analysis/Export.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

namespace {

const char* const kExpressions[] = {
    "port:80",          "host:10.3.2.1", "-udp", "http", "10.2.3", ":443", "tcp -port:443 packets>1",
    "192.168.1 -http 5"};

void BM_FilterNewExpression(benchmark::State& state) {
    constexpr size_t kConnections = 1000000;
    if (g_connectionTable.size() != kConnections)
        bench::FillStore(kConnections, 1);
    const std::string expression = kExpressions[state.range(0)];
    state.SetLabel(expression);
    std::vector<uint32_t> shown;
    for (auto _ : state) {
        std::vector<FilterProblem> problems;
        const ConnectionFilter filter = ConnectionFilter::Parse(expression, problems);
        shown.clear();
        shown.shrink_to_fit();  // a new expression starts from nothing, as the list does
        filter.Scan(g_connectionTable, 0, g_connectionTable.size(), shown);
        benchmark::DoNotOptimize(shown.data());
    }
    state.counters["shown"] = static_cast<double>(shown.size());
    state.counters["ns_per_connection"] =
        benchmark::Counter(static_cast<double>(kConnections),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FilterNewExpression)->DenseRange(0, std::size(kExpressions) - 1)->Unit(benchmark::kMillisecond);

void Export(benchmark::State& state, ConnectionFormat format) {
    constexpr size_t kConnections = 200000;
    bench::FillStore(kConnections, 3);
    const bool toFile = state.range(0) == 1;
    const std::string path =
        (std::filesystem::temp_directory_path() / ("pacterra-bench-export-" + std::to_string(::getpid())))
            .string();
    size_t bytes = 0;
    for (auto _ : state) {
        if (toFile) {
            if (const std::string error = ExportConnectionsToFile(format, nullptr, path).error;
                !error.empty())
                state.SkipWithError(error.c_str());
        } else {
            bytes = 0;
            WriteConnections(format, nullptr, [&](std::string_view s) {
                bytes += s.size();
                benchmark::DoNotOptimize(s.data());
                return true;
            });
        }
    }
    std::filesystem::remove(path);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kConnections));
    if (!toFile)
        state.counters["bytes_per_connection"] = static_cast<double>(bytes) / kConnections;
    ResetCaptureStore();
}

void BM_ExportJsonLines(benchmark::State& state) {
    Export(state, ConnectionFormat::JsonLines);
}
void BM_ExportCsv(benchmark::State& state) {
    Export(state, ConnectionFormat::Csv);
}
BENCHMARK(BM_ExportJsonLines)->ArgName("file")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportCsv)->ArgName("file")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
