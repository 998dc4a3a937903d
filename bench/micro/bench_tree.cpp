// The decode tree: decoding a frame, and ShowPacket (decode plus rebuilding the tree widget and painting it)
// for a full 65 536-byte TCP frame.
#include <benchmark/benchmark.h>

#include "QtBenchmarkMain.h"

#include <QApplication>
#include <QImage>
#include <vector>

#include "views/PacketDecode.h"
#include "views/ProtocolTreeView.h"

namespace {

// An Ethernet/IPv4/TCP frame of `size` bytes with the lengths filled in.
std::vector<uint8_t> TcpFrame(size_t size) {
    std::vector<uint8_t> f(size, 'x');
    f[12] = 0x08;
    f[13] = 0x00;
    f[14] = 0x45;
    const size_t total = size - 14 > 65535 ? 65535 : size - 14;
    f[16] = static_cast<uint8_t>(total >> 8);
    f[17] = static_cast<uint8_t>(total);
    f[23] = 6;
    f[34 + 12] = 0x50;
    f[34 + 13] = 0x18;
    return f;
}

void BM_DecodePacket(benchmark::State& state) {
    const std::vector<uint8_t> frame = TcpFrame(65536);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodePacket(frame.data(), frame.size()));
}
BENCHMARK(BM_DecodePacket)->Unit(benchmark::kMicrosecond);

void BM_ShowPacketAndPaint(benchmark::State& state) {
    const std::vector<uint8_t> frame = TcpFrame(65536);
    CProtocolTreeView view;
    view.resize(240, 600);
    view.show();
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        view.ShowPacket(frame.data(), static_cast<int>(frame.size()));
        view.render(&image);
    }
}
BENCHMARK(BM_ShowPacketAndPaint)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return RunWidgetBenchmarks(argc, argv);
}
