// Cost of matching one packet against one rule whose port list does not hold the packet's ports (so every
// port is looked at), for lists of 1 to 8 million ports: scanned as typed ("prepared:0", as before the
// look-ups) and through the index built when the configuration loads ("prepared:1").
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "config/CaptureConfig.h"

namespace {

void BM_MatchPacketPorts(benchmark::State& state) {
    const auto count = static_cast<size_t>(state.range(0));
    const bool prepared = state.range(1) != 0;
    CFilterItem rule;
    rule.anyIp = 1;
    rule.ports.resize(count);
    for (size_t i = 0; i < count; ++i)
        rule.ports[i] = static_cast<uint16_t>(1000 + i % 20000);  // never 40000 or 50000
    CCaptureConfig config;
    config.defaultAccept = 1;
    config.filters.push_back(std::move(rule));
    if (prepared)
        config.PrepareMatching();
    const uint8_t src[4] = {10, 0, 0, 1}, dst[4] = {10, 0, 0, 2};
    uint16_t port = 50000;
    for (auto _ : state) {
        benchmark::DoNotOptimize(config.MatchPacket(src, dst, 40000, port));
        port = static_cast<uint16_t>(port == 50999 ? 50000 : port + 1);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_MatchPacketPorts)
    ->ArgNames({"ports", "prepared"})
    ->ArgsProduct({{1, 8, 9, 16, 1000, 65536, 1 << 20, 8 << 20}, {0, 1}});

// Cost of one packet against N rules of one address and port each, none of which holds it (the rules in
// turn would try every one), then the default policy: the index keeps it flat up to the 300,000 rules a
// Config.cfg can hold within its 16 MB.
void BM_MatchPacketRules(benchmark::State& state) {
    CCaptureConfig config;
    config.defaultAccept = 1;
    for (int64_t i = 0; i < state.range(0); ++i) {
        CFilterItem rule;
        rule.ip[0] = 10, rule.ip[1] = 1, rule.ip[2] = static_cast<uint8_t>(i >> 8);
        rule.ip[3] = static_cast<uint8_t>(i);
        rule.ports = {static_cast<uint16_t>(1000 + i % 20000)};
        config.filters.push_back(std::move(rule));
    }
    config.PrepareMatching();
    const uint8_t src[4] = {10, 0, 0, 1}, dst[4] = {10, 1, 0, 2};
    uint16_t port = 50000;
    for (auto _ : state) {
        benchmark::DoNotOptimize(config.MatchPacket(src, dst, 40000, port));
        port = static_cast<uint16_t>(port == 50999 ? 50000 : port + 1);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_MatchPacketRules)->ArgName("rules")->Arg(1)->Arg(100)->Arg(10000)->Arg(300000);

}  // namespace

BENCHMARK_MAIN();
