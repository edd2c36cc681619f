// Throughput of the terminal buffer for received text: 80-column lines written with
// WriteString, CR and LF on a 45-row screen with 1000 rows kept, so that nearly every
// line feed scrolls the whole buffer. The invalid rectangles are taken once per line,
// as the painter would.
#include <benchmark/benchmark.h>

#include <string>

#include "terminal/terminal_buffer.h"

namespace {

using hydrix::terminal::CellRect;
using hydrix::terminal::TerminalBuffer;

constexpr int64_t kTotalBytes = 20 * 1024 * 1024;

void ConfigureStation(TerminalBuffer& b) {
    b.tbSetSVRowCount(1000);
    b.tbSetRowCount(45);
}

void BM_LinesThroughBuffer(benchmark::State& state) {
    std::string line(80, ' ');
    for (int i = 0; i < 80; ++i) {
        line[static_cast<size_t>(i)] = static_cast<char>('!' + i % 90);
    }
    const int64_t linesPerRun = kTotalBytes / (static_cast<int64_t>(line.size()) + 2);
    for (auto _ : state) {
        state.PauseTiming();
        TerminalBuffer b;
        ConfigureStation(b);
        state.ResumeTiming();
        CellRect rect;
        for (int64_t n = 0; n < linesPerRun; ++n) {
            b.WriteString(line);
            b.CarriageReturn();
            b.LineFeed();
            b.TakeInvalidRect(rect);
        }
        benchmark::DoNotOptimize(b.RowChars(b.RowCount() - 1));
    }
    state.SetBytesProcessed(state.iterations() * linesPerRun * static_cast<int64_t>(line.size() + 2));
}
BENCHMARK(BM_LinesThroughBuffer)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The same text inside a scroll region of the screen, where rows are still moved.
void BM_LinesThroughScrollRegion(benchmark::State& state) {
    std::string line(80, 'x');
    const int64_t linesPerRun = kTotalBytes / 16 / (static_cast<int64_t>(line.size()) + 2);
    for (auto _ : state) {
        state.PauseTiming();
        TerminalBuffer b;
        ConfigureStation(b);
        b.SetScrollRegion(2, 44);
        state.ResumeTiming();
        CellRect rect;
        for (int64_t n = 0; n < linesPerRun; ++n) {
            b.WriteString(line);
            b.CarriageReturn();
            b.LineFeed();
            b.TakeInvalidRect(rect);
        }
        benchmark::DoNotOptimize(b.RowChars(b.RowCount() - 1));
    }
    state.SetBytesProcessed(state.iterations() * linesPerRun * static_cast<int64_t>(line.size() + 2));
}
BENCHMARK(BM_LinesThroughScrollRegion)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
