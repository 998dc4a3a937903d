// Cost of the two lists over a large store, on the offscreen platform, with the lists at the size they
// have in the main window (the connections bar 1066 x 200 pixels, the packets bar 534 x 200):
// - BM_ConnectionsAppend: 200,000 connections arrive in batches of 10,000 while the list is shown; per
//   batch, taking the rows up and repainting the list. Target: under 5 ms.
// - BM_PacketsShowConnection: ShowConnection of a connection with 1,000,000 packets and the first paint.
//   Target: under 20 ms.
// - BM_ListScrollPage: one page down and the repaint, in a list of 1,000,000 rows (list:0 connections,
//   list:1 packets). Target: under 5 ms.
// - BM_IntakeWithListsShown: the intake's time per packet on a feeding thread while the interface thread
//   runs its event loop, without (lists:0) and with (lists:1) both lists shown and fed (connections taken
//   up, the packets list following its connection, repaints). Target: lists:1 under 10% above lists:0.
//   The time is the feeding thread's own CPU time (on a machine whose cores are shared, its wall time
//   mostly shows how long it waited for a core; reported too as wall_ns_per_packet).
// A repaint renders the whole list (header, frame, scroll bars, rows) into one reused image, after the
// view's deferred layout has run.
#include <benchmark/benchmark.h>

#include "QtBenchmarkMain.h"

#include <malloc.h>

#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "BenchTraffic.h"
#include "app/ListWiring.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "frontend/FrontEnd.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"

namespace {

// Frames held in one buffer, with the headers the capture library would hand over.
struct Frames {
    std::vector<uint8_t> bytes;
    std::vector<pcap_pkthdr> headers;
    std::vector<size_t> offsets;

    void Add(const bench::Endpoints& e, bool toServer, int payload, int64_t usec) {
        const size_t at = bytes.size();
        const uint32_t len = bench::AppendFrame(bytes, e, toServer, payload);
        pcap_pkthdr h{};
        h.ts.tv_sec = 1700000000 + usec / 1000000;
        h.ts.tv_usec = static_cast<suseconds_t>(usec % 1000000);
        h.caplen = h.len = len;
        headers.push_back(h);
        offsets.push_back(at);
    }
    void Feed(size_t from, size_t to) const {
        for (size_t i = from; i < to; ++i)
            PacketHandler(nullptr, &headers[i], bytes.data() + offsets[i]);
    }
    size_t size() const { return headers.size(); }
};

// Connection c: client 10.x.y.z:40000 (z never 0) to 192.168.0.1:80, all distinct.
bench::Endpoints Connection(size_t c) {
    bench::Endpoints e{};
    e.clientIp[0] = 10;
    e.clientIp[1] = static_cast<uint8_t>(c >> 15);
    e.clientIp[2] = static_cast<uint8_t>(c >> 7);
    e.clientIp[3] = static_cast<uint8_t>(((c & 127) << 1) | 1);
    e.serverIp[0] = 192;
    e.serverIp[1] = 168;
    e.serverIp[3] = 1;
    e.clientPort = 40000;
    e.serverPort = 80;
    e.tcp = true;
    return e;
}

void StartStore() {
    ResetCaptureStore();
    g_config = CCaptureConfig();
    g_config.defaultAccept = 1;
    g_skipFilter = 1;
    g_captureState = CAPTURE_RUNNING;
}

// Both lists side by side, shown.
struct Lists {
    Lists()
        : leftImage(1066, 200, QImage::Format_ARGB32_Premultiplied),
          rightImage(534, 200, leftImage.format()) {
        auto* layout = new QHBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(left);
        layout->addWidget(right);
        left->setFixedSize(leftImage.size());
        right->setFixedSize(rightImage.size());
        WireListsAndViews(left, right, nullptr, nullptr, nullptr);
        window.show();
        QCoreApplication::processEvents();
    }
    ~Lists() { left->ClearAll(), right->ClearAll(); }
    void Paint(QTableView* list) {
        QCoreApplication::processEvents();  // the view's deferred layout
        QImage& image = list == left ? leftImage : rightImage;
        list->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }

    QWidget window;
    CListCtrlLeft* left = new CListCtrlLeft;
    CListCtrlRight* right = new CListCtrlRight;
    QImage leftImage, rightImage;
};

void BM_ConnectionsAppend(benchmark::State& state) {
    constexpr size_t kConnections = 200000;
    constexpr size_t kBatch = 10000;
    Frames frames;
    for (size_t c = 0; c < kConnections; ++c)
        frames.Add(Connection(c), true, 10, static_cast<int64_t>(c));
    StartStore();
    Lists lists;
    size_t fed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (fed == kConnections) {
            StartStore();
            lists.left->ClearAll();
            lists.Paint(lists.left);
            fed = 0;
        }
        frames.Feed(fed, fed + kBatch);
        fed += kBatch;
        state.ResumeTiming();
        lists.left->Sync();
        lists.Paint(lists.left);
    }
    if (lists.left->model()->rowCount() != static_cast<int>(fed))
        state.SkipWithError("rows were not taken up");
    state.counters["rows_per_batch"] = kBatch;
    StartStore();
}
BENCHMARK(BM_ConnectionsAppend)->Unit(benchmark::kMillisecond);

// A store of `packetsInFirst` packets for connection 0 (both directions, mostly with payload), then one
// packet for each further connection up to `connections`.
void FillStore(size_t packetsInFirst, size_t connections) {
    StartStore();
    Frames frames;
    for (size_t i = 0; i < packetsInFirst; ++i)
        frames.Add(Connection(0), i % 3 != 1, i % 4 == 3 ? 0 : 24, static_cast<int64_t>(i));
    for (size_t c = 1; c < connections; ++c)
        frames.Add(Connection(c), true, 10, static_cast<int64_t>(packetsInFirst + c));
    frames.Feed(0, frames.size());
}

void BM_PacketsShowConnection(benchmark::State& state) {
    FillStore(1000000, 1);
    Lists lists;
    lists.left->Sync();
    for (auto _ : state) {
        lists.right->ShowConnection(0);
        lists.Paint(lists.right);
    }
    if (lists.right->model()->rowCount() != 1000000)
        state.SkipWithError("not every packet is listed");
    StartStore();
}
BENCHMARK(BM_PacketsShowConnection)->Unit(benchmark::kMillisecond);

void BM_ListScrollPage(benchmark::State& state) {
    FillStore(1000000, 1000000);
    Lists lists;
    lists.left->Sync();
    lists.right->ShowConnection(0);
    QTableView* list = state.range(0) == 0 ? static_cast<QTableView*>(lists.left) : lists.right;
    if (list->model()->rowCount() != 1000000)
        state.SkipWithError("the list does not hold a million rows");
    list->setCurrentIndex(list->model()->index(0, 0));
    lists.Paint(list);
    QKeyEvent pageDown(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
    for (auto _ : state) {
        if (list->currentIndex().row() + 1 >= list->model()->rowCount()) {
            state.PauseTiming();
            list->setCurrentIndex(list->model()->index(0, 0));
            lists.Paint(list);
            state.ResumeTiming();
        }
        QCoreApplication::sendEvent(list, &pageDown);
        lists.Paint(list);
    }
    StartStore();
}
BENCHMARK(BM_ListScrollPage)->ArgName("list")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// CPU time of the calling thread: what the intake itself costs, whatever else competes for the cores.
double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_IntakeWithListsShown(benchmark::State& state) {
    constexpr size_t kConnections = 2000;
    constexpr size_t kPackets = 400000;  // several list batches and packets-list refreshes per run
    static const bench::Traffic traffic = bench::MakeTraffic(kConnections, kPackets);
    const bool withLists = state.range(0) != 0;
    // Freed store memory stays in the heap, so page faults do not drown the difference.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);

    // With the lists, the store's watcher reads the store as in the window; without them nobody does.
    std::unique_ptr<Lists> lists;
    if (withLists)
        lists = std::make_unique<Lists>();
    QTimer wake;  // the interface thread's loop wakes up regularly in both runs
    wake.start(5);
    double seconds = 0;
    double wallSeconds = 0;
    for (auto _ : state) {
        StartStore();
        if (lists)
            lists->left->Sync();
        const size_t first = 64;
        for (size_t i = 0; i < first; ++i)
            PacketHandler(nullptr, &traffic.headers[i], traffic.bytes.data() + traffic.offsets[i]);
        if (lists)
            lists->left->SelectAndActivate(0);
        std::atomic<bool> done{false};
        double elapsed = 0;
        double wall = 0;
        std::thread feeder([&] {
            const auto start = std::chrono::steady_clock::now();
            const double cpuStart = ThreadCpuSeconds();
            for (size_t i = first; i < kPackets; ++i)
                PacketHandler(nullptr, &traffic.headers[i], traffic.bytes.data() + traffic.offsets[i]);
            elapsed = ThreadCpuSeconds() - cpuStart;
            wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            done = true;
        });
        while (!done.load())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        feeder.join();
        state.SetIterationTime(elapsed);
        seconds += elapsed;
        wallSeconds += wall;
    }
    if (lists) {
        lists->left->Sync();
        if (lists->left->model()->rowCount() != static_cast<int>(g_connectionTable.size()))
            state.SkipWithError("rows were lost");
    }
    const double packets = static_cast<double>(state.iterations() * (kPackets - 64));
    state.counters["cpu_ns_per_packet"] = seconds * 1e9 / packets;
    state.counters["wall_ns_per_packet"] = wallSeconds * 1e9 / packets;
    StartStore();
}
BENCHMARK(BM_IntakeWithListsShown)
    ->ArgName("lists")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return RunWidgetBenchmarks(argc, argv);
}
