// Memory the store spends per packet beyond the frame bytes themselves, by its own accounting
// (StoreReservedBytes): packet records, connection records, packet index lists and the hash index.
// Not a timing benchmark: each case runs once and reports its figures as counters.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "BenchTraffic.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

namespace {

// Feeds `packets` frames over `connections` conversations through the intake, then reports the overhead.
// Frames are built one at a time into a scratch buffer, so only the store holds them all.
void BM_StoreOverhead(benchmark::State& state) {
    const auto packets = static_cast<size_t>(state.range(0));
    const auto connections = static_cast<size_t>(state.range(1));
    const auto wide = static_cast<int32_t>(state.range(2));

    for (auto _ : state) {
        state.PauseTiming();
        ResetCaptureStore();
        g_config = CCaptureConfig();
        g_config.bufferMB = CCaptureConfig::kMaxBufferMB;
        g_config.defaultAccept = 1;
        g_config.wideIntake = wide;
        g_skipFilter = 1;  // keep every packet even past the buffer size
        g_captureState = CAPTURE_RUNNING;
        std::mt19937_64 rng(42);
        std::vector<bench::Endpoints> conns(connections);
        for (auto& c : conns)
            c = bench::MakeEndpoints(rng);
        std::vector<uint8_t> started(connections, 0);
        std::vector<uint8_t> frame;
        state.ResumeTiming();

        int64_t usec = 0;
        for (size_t i = 0; i < packets; ++i) {
            // Every connection gets its first packet in order, the rest go to random connections.
            size_t c = i < connections ? i : rng() % connections;
            bool toServer = !started[c] || (rng() & 1);
            started[c] = 1;
            frame.clear();
            uint32_t len =
                bench::AppendFrame(frame, conns[c], toServer, bench::PayloadLength(rng, conns[c].tcp));
            pcap_pkthdr h{};
            usec += 20;
            h.ts.tv_sec = 1700000000 + usec / 1000000;
            h.ts.tv_usec = static_cast<suseconds_t>(usec % 1000000);
            h.caplen = h.len = len;
            PacketHandler(nullptr, &h, frame.data());
        }
    }

    const auto stored = static_cast<double>(g_packetTable.size());
    const auto frameBytes = static_cast<double>(g_storedBytes.load());
    const auto reserved = static_cast<double>(StoreReservedBytes());
    const auto packetTable = static_cast<double>(g_packetTable.ReservedBytes());
    const auto connectionTable = static_cast<double>(g_connectionTable.ReservedBytes());
    if (g_packetTable.size() != packets || g_connectionTable.size() != connections)
        state.SkipWithError("not every packet or connection was stored");

    state.counters["packets"] = stored;
    state.counters["connections"] = static_cast<double>(g_connectionTable.size());
    state.counters["frame_MB"] = frameBytes / (1 << 20);
    state.counters["reserved_MB"] = reserved / (1 << 20);
    state.counters["bytes_per_packet"] = (reserved - frameBytes) / stored;
    // Where the overhead goes: the two record tables, and the rest (unused frame arena tail, index lists,
    // hash index).
    state.counters["packet_table_bpp"] = packetTable / stored;
    state.counters["conn_table_bpp"] = connectionTable / stored;
    state.counters["other_bpp"] = (reserved - frameBytes - packetTable - connectionTable) / stored;
    state.counters["sizeof_packet"] = sizeof(PacketRecord);
    state.counters["sizeof_conn"] = sizeof(ConnectionRecord);

    ResetCaptureStore();
    g_config = CCaptureConfig();
}

}  // namespace

// One million packets over 200 000 connections; then few long connections (long index lists), many short
// ones, and a count just past a doubling of the packet table's segments (its worst case).
BENCHMARK(BM_StoreOverhead)
    ->ArgNames({"packets", "connections", "wide"})
    ->Args({1000000, 200000, 0})
    ->Args({1000000, 2000, 0})
    ->Args({1000000, 1000000, 0})
    ->Args({1100000, 220000, 0})
    ->Args({1000000, 200000, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
