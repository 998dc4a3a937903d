// Cost of the per-frame intake (PacketHandler: checks, rules, store, connection) on frames held in memory,
// with 0, 10 and 100 rules that never match (every rule is scanned), with and without a reader taking the
// store's marks of grown connections between chunks ("sink", as the window's store watcher does),
// with the wider intake off and (for a few cases) on.
//
// The store copies every frame into memory it has just allocated. In a real capture that memory is fresh
// from the kernel, and the first write to each page costs a page fault, which on a virtual machine can
// outweigh all the rest. "fresh_memory:1" keeps that cost (freed store memory goes back to the kernel on
// every reset); "fresh_memory:0" lets the allocator keep freed memory, so after the first fill the figure is
// the engine's own work.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdint>
#include <random>
#include <vector>

#include "BenchTraffic.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"
#include "frontend/FrontEnd.h"

namespace {

constexpr size_t kConnections = 2000;
constexpr size_t kFrames = 65536;
// Frames per timed iteration: the store is only reset between chunks, so the cost of pausing the timer is
// spread over many packets.
constexpr size_t kChunk = 1024;
constexpr int32_t kBufferMB = 200;

const bench::Traffic& Frames() {
    static const bench::Traffic traffic = bench::MakeTraffic(kConnections, kFrames);
    return traffic;
}

// Rules that never match the generated traffic. Half name no address and only ports the traffic never uses;
// the other half name an address outside the traffic together with one port it does use, so for those the
// address comparison runs too. With defaultAccept 1 every packet is kept after all rules were tried.
std::vector<CFilterItem> MakeRules(int count) {
    static constexpr uint16_t kUsedPorts[] = {80, 443, 53, 22};
    std::mt19937_64 rng(7);
    std::vector<CFilterItem> rules;
    for (int i = 0; i < count; ++i) {
        CFilterItem r;
        r.name = "rule " + std::to_string(i);
        r.accept = i % 3 == 0 ? 1 : 0;
        const int ports = 2 + static_cast<int>(rng() % 3);
        const bool withAddress = i % 2 == 1;
        if (withAddress) {
            r.ip[0] = 172;
            r.ip[1] = static_cast<uint8_t>(16 + rng() % 16);
            r.ip[2] = static_cast<uint8_t>(rng());
            r.ip[3] = static_cast<uint8_t>(1 + rng() % 254);
            r.ports.push_back(kUsedPorts[rng() % std::size(kUsedPorts)]);
        } else {
            r.anyIp = 1;
        }
        while (static_cast<int>(r.ports.size()) < ports)
            r.ports.push_back(static_cast<uint16_t>(1024 + rng() % 2000));  // no service or client port
        rules.push_back(std::move(r));
    }
    return rules;
}

// The store's large blocks (arena chunks up to 4 MB, table segments) are mapped and unmapped one by one
// (fresh pages each fill), or taken from and kept in the heap. Set explicitly in both cases so the result
// does not depend on glibc's adaptive thresholds or on which benchmark ran before.
void UseFreshMemory(bool fresh) {
    if (fresh) {
        mallopt(M_MMAP_THRESHOLD, 1 << 20);
        mallopt(M_TRIM_THRESHOLD, 1 << 20);
    } else {
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
    }
}

void StartCapture() {
    ResetCaptureStore();
    g_captureState = CAPTURE_RUNNING;
}

void BM_PacketHandler(benchmark::State& state) {
    const bench::Traffic& t = Frames();
    const int ruleCount = static_cast<int>(state.range(0));
    const bool withSink = state.range(1) != 0;
    UseFreshMemory(state.range(2) != 0);

    g_config = CCaptureConfig();
    g_config.bufferMB = kBufferMB;
    g_config.defaultAccept = 1;
    g_config.filters = MakeRules(ruleCount);
    g_config.wideIntake = static_cast<int32_t>(state.range(3));  // IPv4 traffic costs the same either way
    g_skipFilter = 0;
    StartCapture();

    // Leave room for two full chunks of the largest frames: the buffer limit is never passed, so the
    // capture is never asked to stop.
    const int64_t resetAt = (int64_t{kBufferMB} << 20) - 2 * int64_t{kChunk} * 1514;
    size_t next = 0;
    if (state.range(2) == 0) {
        // One untimed fill, so that the heap already holds the store's memory when timing starts.
        while (g_storedBytes.load(std::memory_order_relaxed) <= resetAt) {
            PacketHandler(nullptr, &t.headers[next], t.bytes.data() + t.offsets[next]);
            next = next + 1 == kFrames ? 0 : next + 1;
        }
        StartCapture();
    }
    uint64_t grown = 0;  // chunks after which the reader found marks
    uint64_t bytes = 0;
    size_t resets = 0;
    size_t stored = 0;
    for (auto _ : state) {
        if (g_storedBytes.load(std::memory_order_relaxed) > resetAt) {
            state.PauseTiming();
            stored += g_packetTable.size();
            StartCapture();
            ++resets;
            state.ResumeTiming();
        }
        for (size_t i = 0; i < kChunk; ++i) {
            PacketHandler(nullptr, &t.headers[next], t.bytes.data() + t.offsets[next]);
            bytes += t.headers[next].caplen;
            next = next + 1 == kFrames ? 0 : next + 1;
        }
        if (withSink) {
            uint32_t first, last;
            TakeGrownConnections(&first, &last);
            grown += first <= last;
        }
    }

    const auto packets = static_cast<int64_t>(state.iterations() * kChunk);
    state.SetItemsProcessed(packets);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["per_packet"] = benchmark::Counter(
        static_cast<double>(packets), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["store_resets"] = static_cast<double>(resets);
    // Every rule must have been passed over and the frame kept: anything else measures less work.
    if (stored + g_packetTable.size() != static_cast<size_t>(packets))
        state.SkipWithError("not every frame was stored");
    if (withSink && grown == 0)
        state.SkipWithError("the reader found no grown connection");

    ResetCaptureStore();
    g_config = CCaptureConfig();
}

}  // namespace

BENCHMARK(BM_PacketHandler)
    ->ArgNames({"rules", "sink", "fresh_memory", "wide"})
    ->ArgsProduct({{0, 10, 100}, {0, 1}, {0, 1}, {0}})
    ->Args({0, 0, 0, 1})
    ->Args({10, 0, 0, 1})
    ->Args({100, 0, 0, 1})
    ->Args({0, 1, 0, 1});

BENCHMARK_MAIN();
