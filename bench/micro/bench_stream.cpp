// The stream of one big connection: 100 MB each way in 1460-byte segments, 1% of them out of order and 1%
// sent twice, stored as the intake stores them. Reassembly alone (the pieces), reassembly with the copy of
// both directions' bytes, the text of the first screens, and growth by 300 ms steps of a live capture. And a
// conversation of small datagrams (one short line each), whose text costs the view far more per character.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <vector>

#include "QtBenchmarkMain.h"
#include "analysis/StreamReassembly.h"
#include "analysis/StreamText.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "views/StreamView.h"

namespace {

constexpr size_t kSegment = 1460;
constexpr size_t kEachWay = size_t{100} << 20;

std::vector<uint8_t> Frame(bool toServer, uint32_t seq, uint32_t ack, uint8_t flags, const uint8_t* payload,
                           size_t n) {
    std::vector<uint8_t> f(54 + n, 0);
    f[12] = 0x08;
    uint8_t* ip = f.data() + 14;
    ip[0] = 0x45;
    ip[2] = static_cast<uint8_t>((40 + n) >> 8);
    ip[3] = static_cast<uint8_t>(40 + n);
    ip[8] = 64;
    ip[9] = 6;
    const uint8_t client[4] = {10, 0, 0, 1}, server[4] = {10, 0, 0, 2};
    std::memcpy(ip + 12, toServer ? client : server, 4);
    std::memcpy(ip + 16, toServer ? server : client, 4);
    uint8_t* t = ip + 20;
    const uint16_t cp = 40000, sp = 80;
    const uint16_t src = toServer ? cp : sp, dst = toServer ? sp : cp;
    t[0] = static_cast<uint8_t>(src >> 8);
    t[1] = static_cast<uint8_t>(src);
    t[2] = static_cast<uint8_t>(dst >> 8);
    t[3] = static_cast<uint8_t>(dst);
    for (int i = 0; i < 4; ++i) {
        t[4 + i] = static_cast<uint8_t>(seq >> (24 - 8 * i));
        t[8 + i] = static_cast<uint8_t>(ack >> (24 - 8 * i));
    }
    t[12] = 0x50;
    t[13] = flags;
    if (n)
        std::memcpy(t + 20, payload, n);
    return f;
}

void Feed(const std::vector<uint8_t>& f, int64_t usec) {
    pcap_pkthdr h{};
    h.ts.tv_sec = 1700000000 + usec / 1000000;
    h.ts.tv_usec = usec % 1000000;
    h.caplen = h.len = static_cast<bpf_u_int32>(f.size());
    PacketHandler(nullptr, &h, f.data());
}

// Fills the store once: connection 0 is the big one. Returns the payload bytes each way.
size_t FillStore() {
    static bool filled = false;
    if (filled)
        return kEachWay;
    filled = true;
    g_config.ApplyDefaults();
    g_skipFilter = 1;
    std::mt19937_64 rng(42);
    std::vector<uint8_t> text(kSegment * 64);
    for (auto& b : text)
        b = static_cast<uint8_t>(' ' + rng() % 95);
    const uint32_t isn[2] = {1000, 900000000};
    int64_t usec = 0;
    Feed(Frame(true, isn[0], 0, 0x02, nullptr, 0), usec++);
    Feed(Frame(false, isn[1], isn[0] + 1, 0x12, nullptr, 0), usec++);
    // Segments alternate between the directions; each is sometimes held back one place (out of order) or
    // sent again a few segments later.
    struct Pending {
        std::vector<uint8_t> frame;
        int due;
    };
    std::vector<Pending> later;
    size_t sent[2] = {};
    std::vector<uint8_t> held[2];
    for (int step = 0; sent[0] < kEachWay || sent[1] < kEachWay; ++step) {
        for (int d = 0; d < 2; ++d) {
            if (sent[d] >= kEachWay)
                continue;
            const size_t n = std::min(kSegment, kEachWay - sent[d]);
            const uint32_t seq = isn[d] + 1 + static_cast<uint32_t>(sent[d]);
            const uint32_t ack = isn[1 - d] + 1 + static_cast<uint32_t>(sent[1 - d]);
            std::vector<uint8_t> f =
                Frame(d == 0, seq, ack, 0x10, text.data() + (sent[d] % (kSegment * 63)), n);
            sent[d] += n;
            const uint64_t r = rng() % 100;
            if (r == 0 && held[d].empty()) {
                held[d] = std::move(f);  // goes out after the next one
                continue;
            }
            if (r == 1)
                later.push_back({f, step + 3});
            Feed(f, usec++);
            if (!held[d].empty()) {
                Feed(held[d], usec++);
                held[d].clear();
            }
        }
        for (size_t i = 0; i < later.size();) {
            if (later[i].due <= step) {
                Feed(later[i].frame, usec++);
                later.erase(later.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
    }
    for (int d = 0; d < 2; ++d)
        if (!held[d].empty())
            Feed(held[d], usec++);
    return kEachWay;
}

void BM_Reassemble(benchmark::State& state) {
    const size_t each = FillStore();
    for (auto _ : state) {
        StreamReassembly r(0);
        r.Extend();
        r.Finish();
        benchmark::DoNotOptimize(r.Pieces().data());
        if (r.Bytes(StreamDirection::ToServer) != each || r.Bytes(StreamDirection::ToClient) != each)
            state.SkipWithError("the stream is not whole");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 2 * each));
    state.counters["packets"] = static_cast<double>(g_connectionTable[0].packetIndices.size());
}
BENCHMARK(BM_Reassemble)->Unit(benchmark::kMillisecond);

// Reassembly and the copy of both directions' bytes, in order, into one buffer (what a save does).
void BM_ReassembleAndCopy(benchmark::State& state) {
    const size_t each = FillStore();
    std::vector<uint8_t> out(2 * each);
    std::memset(out.data(), 0, out.size());  // faulted in before timing
    for (auto _ : state) {
        StreamReassembly r(0);
        r.Extend();
        r.Finish();
        size_t at = 0;
        WriteStreamBytes(r, r.Pieces(), true, true, [&](std::span<const uint8_t> b) {
            std::memcpy(out.data() + at, b.data(), b.size());
            at += b.size();
            return true;
        });
        if (at != 2 * each)
            state.SkipWithError("the stream is not whole");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 2 * each));
}
BENCHMARK(BM_ReassembleAndCopy)->Unit(benchmark::kMillisecond);

// The text of the first 2 MiB (what the Stream tab shows at most), from a fresh reassembly.
void BM_FirstTextOfStream(benchmark::State& state) {
    FillStore();
    for (auto _ : state) {
        StreamReassembly r(0);
        r.Extend();
        r.Finish();
        StreamTextOptions o;
        o.limit = size_t{2} << 20;
        StreamTextWriter w(o);
        std::string text;
        std::vector<StreamTextRun> runs;
        w.Append(r, r.Pieces(), 0, r.Pieces().size(), text, &runs);
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_FirstTextOfStream)->Unit(benchmark::kMillisecond);

// A live view: the stream read 1,000 packets at a time (about 300 ms of a busy capture), each step reading
// only the new packets.
void BM_ExtendInSteps(benchmark::State& state) {
    const size_t each = FillStore();
    for (auto _ : state) {
        StreamReassembly r(0);
        while (r.Extend(1000)) {
        }
        benchmark::DoNotOptimize(r.Pieces().data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 2 * each));
}
BENCHMARK(BM_ExtendInSteps)->Unit(benchmark::kMillisecond);

size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4096;
}

// The Stream tab on the big connection: from the activation to the first screen painted.
void BM_StreamTabFirstScreen(benchmark::State& state) {
    FillStore();
    CStreamView view;
    view.resize(1000, 700);
    view.show();
    for (auto _ : state) {
        view.ShowConnection(0);
        view.repaint();
        state.PauseTiming();
        view.Clear();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StreamTabFirstScreen)->Unit(benchmark::kMillisecond);

// Everything the tab shows laid out, then a jump to its end: the jump costs a page, not the text. The
// counter tab_bytes is the memory the tab took for the 200 MB stream (its pieces and its text).
void BM_StreamTabScrollToEnd(benchmark::State& state) {
    FillStore();
    const size_t before = ResidentBytes();
    CStreamView view;
    view.resize(1000, 700);
    view.show();
    view.ShowConnection(0);
    QElapsedTimer wait;
    wait.start();
    while (view.Stream()->PacketsRead() < g_connectionTable[0].packetIndices.size() ||
           !view.TextCtrl()->document()->lastBlock().text().startsWith("[first")) {
        QApplication::processEvents();
        if (wait.elapsed() > 60000) {
            state.SkipWithError("the tab did not finish");
            return;
        }
    }
    state.counters["tab_bytes"] = static_cast<double>(ResidentBytes() - before);
    state.counters["fill_ms"] = static_cast<double>(wait.elapsed());
    QScrollBar* bar = view.TextCtrl()->verticalScrollBar();
    for (auto _ : state) {
        bar->setValue(bar->maximum());
        view.repaint();
        bar->setValue(0);
        view.repaint();
    }
}
BENCHMARK(BM_StreamTabScrollToEnd)->Unit(benchmark::kMillisecond);

// Find in the Stream tab for a word the 200 MB conversation does not hold: the whole text is searched.
void BM_StreamTabFindEverywhere(benchmark::State& state) {
    FillStore();
    CStreamView view;
    view.resize(1000, 700);
    view.show();
    view.ShowConnection(0);
    view.FindField()->setText(QStringLiteral("no such words~"));
    for (auto _ : state)
        if (view.FindNext())
            state.SkipWithError("found a word that is not there");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 2 * kEachWay));
}
// The search runs on a worker: the time that counts is the wall clock's.
BENCHMARK(BM_StreamTabFindEverywhere)->Unit(benchmark::kMillisecond)->UseRealTime();

// A UDP conversation of `count` 18-byte datagrams, the directions taking turns; returns its connection.
size_t FillDatagrams(int count) {
    static size_t connection = SIZE_MAX;
    if (connection != SIZE_MAX)
        return connection;
    FillStore();
    connection = g_connectionTable.size();
    std::vector<uint8_t> f(14 + 20 + 8 + 18, 0);
    f[12] = 0x08;
    uint8_t* ip = f.data() + 14;
    ip[0] = 0x45;
    ip[3] = static_cast<uint8_t>(20 + 8 + 18);
    ip[8] = 64;
    ip[9] = 17;
    uint8_t* udp = ip + 20;
    udp[5] = 8 + 18;
    std::memcpy(udp + 8, "reading=12.5;ok=1\n", 18);
    for (int i = 0; i < count; ++i) {
        const bool toServer = i % 2 == 0;
        const uint8_t a[4] = {10, 0, 0, 3}, b[4] = {10, 0, 0, 4};
        std::memcpy(ip + 12, toServer ? a : b, 4);
        std::memcpy(ip + 16, toServer ? b : a, 4);
        const uint16_t src = toServer ? 5000 : 161, dst = toServer ? 161 : 5000;
        udp[0] = static_cast<uint8_t>(src >> 8);
        udp[1] = static_cast<uint8_t>(src);
        udp[2] = static_cast<uint8_t>(dst >> 8);
        udp[3] = static_cast<uint8_t>(dst);
        Feed(f, 500000000 + i);
    }
    return connection;
}

// The Stream tab filling with 200,000 small datagrams: the longest single step it takes from the window
// (longest_step_ms: the window's pause, and longest_step_cpu_ms its CPU time; the goal is a few
// milliseconds) and the time to fill (fill_ms).
void BM_StreamTabSmallDatagrams(benchmark::State& state) {
    const size_t connection = FillDatagrams(200000);
    CStreamView view;
    view.resize(1000, 700);
    view.show();
    for (auto _ : state) {
        QElapsedTimer fill, step;
        fill.start();
        view.ShowConnection(static_cast<int>(connection));
        // The window's pause in CPU time too: on a busy machine the wall clock counts other programs.
        const auto cpuMs = [] {
            timespec t{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
            return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
        };
        double longest = 0, longestCpu = 0;
        while (!view.TextCtrl()->document()->lastBlock().text().startsWith("[first") &&
               fill.elapsed() < 60000) {
            step.start();
            const double cpu = cpuMs();
            QApplication::processEvents();
            longest = std::max(longest, static_cast<double>(step.nsecsElapsed()) / 1e6);
            longestCpu = std::max(longestCpu, cpuMs() - cpu);
        }
        state.counters["longest_step_ms"] = longest;
        state.counters["longest_step_cpu_ms"] = longestCpu;
        state.counters["fill_ms"] = static_cast<double>(fill.elapsed());
        state.PauseTiming();
        view.Clear();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StreamTabSmallDatagrams)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    return RunWidgetBenchmarks(argc, argv);
}
