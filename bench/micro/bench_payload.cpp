// Cost of the payload text view: the highlighting scans alone on 64 KiB and 1 MiB (the growth shows that they
// are linear), and ShowText, which loads, scans and formats a 64 KiB HTTP response in the control (goal:
// under 10 ms), with and without the first paint of the visible part.
#include <benchmark/benchmark.h>

#include "QtBenchmarkMain.h"

#include <QApplication>

#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "views/PayloadScan.h"
#include "views/PayloadTextCtrl.h"

namespace {

// An HTTP response with an HTML page of about `size` bytes: headers, a head with meta and link tags,
// comments, nested elements with attributes, and text, as a web server sends them.
std::string HttpResponse(size_t size) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Loose-leaf tea</title>\n<link rel=\"stylesheet\" href=\"/css/site.css?v=2041\">\n"
        "<!-- analytics removed -->\n</head>\n<body class=\"shop\">\n";
    uint64_t seed = 42;
    auto next = [&seed] {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(seed >> 33);
    };
    static const char* const kWords[] = {"sencha", "leaves", "steep", "minutes", "water", "harvest", "the",
                                         "a",      "of",     "and",   "green",   "first", "spring",  "cup"};
    for (int item = 0; page.size() + 40 < size; ++item) {
        page += "<div class=\"product\" id=\"p" + std::to_string(item) + "\">\n  <h2><a href=\"/tea/" +
                std::to_string(item) + ".html\" title=\"Tea " + std::to_string(item) + "\">Tea no. " +
                std::to_string(item) + "</a></h2>\n  <p>";
        for (int w = 0, n = 12 + static_cast<int>(next() % 30); w < n; ++w) {
            page += kWords[next() % std::size(kWords)];
            page += w % 9 == 8 ? ".\n  " : " ";
        }
        page +=
            "</p>\n  <img src=\"/img/" + std::to_string(item) + ".jpg\" alt=\"\" width=320 height=200/>\n";
        if (item % 7 == 0)
            page += "  <!-- price list: see the shop's back office -->\n";
        page += "  <span class=\"price\">&euro; " + std::to_string(4 + next() % 20) + ".50</span>\n</div>\n";
    }
    page += "</body>\n</html>\n";
    const std::string head =
        "HTTP/1.1 200 OK\r\nServer: nginx/1.22.1\r\nDate: Sat, 14 Mar 2026 06:00:12 GMT\r\n"
        "Content-Type: text/html; charset=utf-8\r\nContent-Length: " +
        std::to_string(page.size()) +
        "\r\nLast-Modified: Sat, 14 Mar 2026 06:00:12 GMT\r\nConnection: keep-alive\r\n"
        "Cache-Control: max-age=600\r\nVary: Accept-Encoding\r\n\r\n";
    std::string text = head + page;
    text.resize(size, ' ');
    return text;
}

// The worst case for the markup scans: a token for almost every character.
std::string DenseMarkup(size_t size) {
    std::string text;
    while (text.size() < size)
        text += "<a b=c d=e><!---->\n";
    text.resize(size);
    return text;
}

void BM_ScanHttpResponse(benchmark::State& state) {
    const std::string text = HttpResponse(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ScanPayload(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ScanHttpResponse)->RangeMultiplier(16)->Range(64 << 10, 1 << 20)->Complexity(benchmark::oN);

void BM_ScanDenseMarkup(benchmark::State& state) {
    const std::string text = DenseMarkup(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ScanPayload(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ScanDenseMarkup)->RangeMultiplier(16)->Range(64 << 10, 1 << 20)->Complexity(benchmark::oN);

void BM_ShowText(benchmark::State& state) {
    const std::string text = HttpResponse(static_cast<size_t>(state.range(0)));
    CPayloadTextCtrl ctrl;
    ctrl.resize(800, 600);
    for (auto _ : state)
        ctrl.ShowText(text.data(), static_cast<qsizetype>(text.size()), true);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ShowText)->Arg(64 << 10)->Unit(benchmark::kMillisecond);

// ShowText and then the paint the user waits for: the visible lines laid out and drawn.
void BM_ShowTextAndPaint(benchmark::State& state) {
    const std::string text = HttpResponse(static_cast<size_t>(state.range(0)));
    CPayloadTextCtrl ctrl;
    ctrl.resize(800, 600);
    ctrl.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        ctrl.ShowText(text.data(), static_cast<qsizetype>(text.size()), true);
        ctrl.viewport()->repaint();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ShowTextAndPaint)->Arg(64 << 10)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // The token lists of a 1 MiB text take tens of megabytes. Kept in the heap between iterations, so that
    // the figures are the scans' work and not the page faults of memory fresh from the kernel each time.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    return RunWidgetBenchmarks(argc, argv);
}
