// Cost of finding a packet's connection (FindOrAddConnection) as the number of live connections grows, and
// of creating new connections.
//
// Design: each timed iteration is one FindOrAddConnection call with the endpoints of a packet of a random
// existing connection (random direction, from a sequence generated beforehand and read in order), and one
// packet index stored beforehand. StorePacket is left out of the timed region because its work (copying
// the frame, appending a record) does not depend on the number of connections and would only hide the
// part that might; reusing one stored packet keeps its record in cache, as in the intake where StorePacket
// has just written it. The call still appends the packet index to the connection's list, as the intake's
// call does, so the lists grow during the run like those of a real capture.
//
// Lookups spread evenly over every connection are the worst case for the caches: from about 100 000
// connections on, the hash slot, the record and the list tail each miss. The "active" variants draw the
// lookups from 1 000 connections scattered over the whole table, as when most connections are idle; their
// cost staying at the small table's shows that the lookup itself does not grow with the table.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "BenchTraffic.h"
#include "capture/PacketStore.h"
#include "config/CaptureConfig.h"

namespace {

const PacketTimestamp kStamp{1715962245, 0};

// Connection i: client 10.x.y.z (unique per i below 2^24) with an ephemeral port, talking to one of 4096
// servers, as a busy network where many clients share a few servers.
bench::Endpoints ConnectionEndpoints(uint32_t i, std::mt19937_64& rng) {
    static constexpr uint16_t kServices[] = {80, 443, 53, 22, 25, 8080, 3306, 123};
    bench::Endpoints e{};
    e.clientIp[0] = 10;
    e.clientIp[1] = static_cast<uint8_t>(i >> 16);
    e.clientIp[2] = static_cast<uint8_t>(i >> 8);
    e.clientIp[3] = static_cast<uint8_t>(i);
    uint32_t server = static_cast<uint32_t>(rng() % 4096);
    e.serverIp[0] = 192;
    e.serverIp[1] = 168;
    e.serverIp[2] = static_cast<uint8_t>(server >> 8);
    e.serverIp[3] = static_cast<uint8_t>(server);
    e.clientPort = static_cast<uint16_t>(32768 + rng() % (61000 - 32768));
    e.serverPort = kServices[rng() % std::size(kServices)];
    e.tcp = e.serverPort != 53 && e.serverPort != 123;
    return e;
}

// The header fields the intake hands to FindOrAddConnection, and the connection they must find.
struct Lookup {
    uint8_t srcIp[4];
    uint8_t dstIp[4];
    uint16_t srcPort;
    uint16_t dstPort;
    uint8_t isTcp;
    uint32_t expected;
};

int AddPacket(const bench::Endpoints& e, bool toServer, std::vector<uint8_t>& scratch, size_t* index) {
    scratch.clear();
    uint32_t len = bench::AppendFrame(scratch, e, toServer, 0);
    return StorePacket(kStamp, scratch.data(), static_cast<int>(len), 0, index);
}

// The store as the lookup benchmarks leave it: `built` connections (0: something else is stored).
size_t g_builtConnections = 0;
std::vector<bench::Endpoints> g_endpoints;

void PrepareStore() {
    ResetCaptureStore();
    g_builtConnections = 0;
    g_config = CCaptureConfig();
    g_config.bufferMB = CCaptureConfig::kMaxBufferMB;
    g_config.defaultAccept = 1;
    g_skipFilter = 1;  // the store may pass the buffer size: only the index matters here
    g_captureState = CAPTURE_RUNNING;
}

// Builds `n` connections, each from one stored client packet. Kept between runs of the same size, since
// building a million connections takes longer than timing them.
bool BuildConnections(size_t n) {
    if (g_builtConnections == n)
        return true;
    PrepareStore();
    std::mt19937_64 rng(1234);
    g_endpoints.resize(n);
    std::vector<uint8_t> scratch;
    for (size_t i = 0; i < n; ++i) {
        const bench::Endpoints& e = g_endpoints[i] = ConnectionEndpoints(static_cast<uint32_t>(i), rng);
        size_t index;
        if (!AddPacket(e, true, scratch, &index) ||
            FindOrAddConnection(e.tcp, e.serverIp, e.clientIp, e.serverPort, e.clientPort, index) !=
                static_cast<int>(i))
            return false;
    }
    g_builtConnections = n;
    return true;
}

// `count` lookups of packets of `active` connections picked at random among the first `connections`.
std::vector<Lookup> MakeLookups(size_t connections, size_t active, size_t count) {
    std::mt19937_64 rng(99);
    std::vector<uint32_t> chosen(active);
    for (uint32_t& c : chosen)
        c = static_cast<uint32_t>(rng() % connections);
    std::vector<Lookup> seq(count);
    for (Lookup& l : seq) {
        uint32_t c =
            active == connections ? static_cast<uint32_t>(rng() % connections) : chosen[rng() % active];
        const bench::Endpoints& e = g_endpoints[c];
        const bool toServer = rng() & 1;
        std::memcpy(l.srcIp, toServer ? e.clientIp : e.serverIp, 4);
        std::memcpy(l.dstIp, toServer ? e.serverIp : e.clientIp, 4);
        l.srcPort = toServer ? e.clientPort : e.serverPort;
        l.dstPort = toServer ? e.serverPort : e.clientPort;
        l.isTcp = e.tcp;
        l.expected = c;
    }
    return seq;
}

void BM_FindConnection(benchmark::State& state) {
    const auto connections = static_cast<size_t>(state.range(0));
    if (!BuildConnections(connections)) {
        state.SkipWithError("building the connections failed");
        return;
    }
    // Longer than any cache, read in order: only the table and index accesses are random.
    constexpr size_t kLookups = size_t{1} << 20;
    static std::vector<Lookup> lookups;
    const auto active = static_cast<size_t>(state.range(1));
    static std::pair<size_t, size_t> lookupsFor;
    if (lookupsFor != std::pair(connections, active)) {
        lookups = MakeLookups(connections, active, kLookups);
        lookupsFor = {connections, active};
    }
    std::vector<uint8_t> scratch;
    size_t packet;
    if (!AddPacket(g_endpoints[0], true, scratch, &packet)) {
        state.SkipWithError("storing the packet failed");
        return;
    }

    size_t next = 0;
    size_t wrong = 0;
    for (auto _ : state) {
        const Lookup& l = lookups[next];
        int c = FindOrAddConnection(l.isTcp, l.dstIp, l.srcIp, l.dstPort, l.srcPort, packet);
        wrong += static_cast<uint32_t>(c) != l.expected;
        next = (next + 1) & (kLookups - 1);
    }
    if (wrong)
        state.SkipWithError("a lookup found the wrong connection");
    state.SetItemsProcessed(state.iterations());
    state.counters["connections"] = static_cast<double>(g_connectionTable.size());
}

// New connections: each iteration creates one, from an empty store up to `range(0)` connections; then the
// store is cleared with the timer paused and filling starts again. So the figure is the mean cost of an
// insert while a table of that size is built, growth of the table and the hash index included.
void BM_AddConnection(benchmark::State& state) {
    const auto limit = static_cast<uint32_t>(state.range(0));
    std::mt19937_64 rng(5);
    std::vector<bench::Endpoints> pool(4096);
    for (uint32_t i = 0; i < pool.size(); ++i)
        pool[i] = ConnectionEndpoints(i, rng);

    std::vector<uint8_t> scratch;
    size_t packet = 0;
    auto restart = [&] {
        PrepareStore();
        return AddPacket(pool[0], true, scratch, &packet) != 0;
    };
    if (!restart()) {
        state.SkipWithError("storing the packet failed");
        return;
    }

    uint32_t made = 0;
    size_t wrong = 0;
    for (auto _ : state) {
        if (made == limit) {
            state.PauseTiming();
            if (!restart())
                state.SkipWithError("storing the packet failed");
            made = 0;
            state.ResumeTiming();
        }
        // Unique client address per connection; the server and ports come from a small pool.
        bench::Endpoints e = pool[made & 4095];
        e.clientIp[1] = static_cast<uint8_t>(made >> 16);
        e.clientIp[2] = static_cast<uint8_t>(made >> 8);
        e.clientIp[3] = static_cast<uint8_t>(made);
        int c = FindOrAddConnection(e.tcp, e.serverIp, e.clientIp, e.serverPort, e.clientPort, packet);
        wrong += static_cast<uint32_t>(c) != made;
        ++made;
    }
    if (wrong)
        state.SkipWithError("an insert gave an unexpected connection index");
    state.SetItemsProcessed(state.iterations());
    ResetCaptureStore();
    g_builtConnections = 0;
}

// The one insert that doubles the hash index once the table holds `range(0)` connections: the capture
// thread is held up this long at that packet. Each iteration builds the table again with the timer paused.
void BM_IndexGrowthStall(benchmark::State& state) {
    const auto before = static_cast<uint32_t>(state.range(0));
    std::mt19937_64 rng(5);
    bench::Endpoints base = ConnectionEndpoints(0, rng);
    std::vector<uint8_t> scratch;
    auto endpointsOf = [&](uint32_t i) {
        bench::Endpoints e = base;
        e.clientIp[1] = static_cast<uint8_t>(i >> 16);
        e.clientIp[2] = static_cast<uint8_t>(i >> 8);
        e.clientIp[3] = static_cast<uint8_t>(i);
        return e;
    };
    for (auto _ : state) {
        state.PauseTiming();
        PrepareStore();
        size_t packet = 0;
        bool ok = AddPacket(base, true, scratch, &packet) != 0;
        for (uint32_t i = 0; ok && i < before; ++i) {
            bench::Endpoints e = endpointsOf(i);
            ok = FindOrAddConnection(e.tcp, e.serverIp, e.clientIp, e.serverPort, e.clientPort, packet) ==
                 static_cast<int>(i);
        }
        if (!ok) {
            state.SkipWithError("building the connections failed");
            break;
        }
        bench::Endpoints e = endpointsOf(before);
        state.ResumeTiming();
        benchmark::DoNotOptimize(
            FindOrAddConnection(e.tcp, e.serverIp, e.clientIp, e.serverPort, e.clientPort, packet));
    }
    ResetCaptureStore();
    g_builtConnections = 0;
}

}  // namespace

BENCHMARK(BM_FindConnection)
    ->ArgNames({"connections", "active"})
    ->Args({1000, 1000})
    ->Args({100000, 100000})
    ->Args({100000, 1000})
    ->Args({1000000, 1000000})
    ->Args({1000000, 1000})
    ->Unit(benchmark::kNanosecond);
BENCHMARK(BM_AddConnection)
    ->ArgName("connections")
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kNanosecond);

// 2^19 and 2^20 connections: the next insert finds the index half full and doubles it.
BENCHMARK(BM_IndexGrowthStall)
    ->ArgName("connections")
    ->Arg(1 << 19)
    ->Arg(1 << 20)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
