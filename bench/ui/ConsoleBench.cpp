// The console's cost per flush: one flush appends up to 500 characters to a store that is
// already at its row limit (2000 rows), first the line store alone, then the output widget
// that mirrors it at once (an echo, a note) or within its mirror interval (received bytes).
#include "ui/ConsoleEdit.h"
#include "ui/ConsoleText.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <string>

namespace {

// 500 characters of typical camera traffic: short reply lines.
std::u16string FlushChunk() {
    std::u16string chunk;
    while (chunk.size() < 500)
        chunk += u">Gain=12\n>OK\n\x2415\n";
    chunk.resize(500);
    return chunk;
}

// The same amount as one long unbroken run (wrapped lines only).
std::u16string LongChunk() {
    return std::u16string(500, u'r');
}

void FillToLimit(console::LineStore& store) {
    for (int i = 0; i < 2100; ++i)
        store.Append(u"line of earlier traffic\n");
}

void BM_LineStoreFlush(benchmark::State& state) {
    console::LineStore store;
    store.SetUp(console::kLineColumns, console::kDefaultRows);
    FillToLimit(store);
    const std::u16string chunk = state.range(0) ? LongChunk() : FlushChunk();
    for (auto _ : state)
        benchmark::DoNotOptimize(store.Append(chunk));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 500);
}
BENCHMARK(BM_LineStoreFlush)->Arg(0)->Arg(1);

// Arg 0: the chunk (0 reply lines, 1 one long run); arg 1: 0 appended (mirrored at once, as an
// echo or a note), 1 fed as a flush feeds received bytes (the widget catches up once per mirror
// interval).
void BM_ConsoleEditFlush(benchmark::State& state) {
    CConsoleEdit edit;
    edit.resize(600, 400);
    edit.show();
    edit.SetUp(console::kLineColumns, console::kDefaultRows);
    for (int i = 0; i < 2100; ++i)
        edit.Append(u"line of earlier traffic\n");
    const std::u16string chunk = state.range(0) ? LongChunk() : FlushChunk();
    const bool fed = state.range(1) != 0;
    for (auto _ : state) {
        if (fed)
            edit.Feed(chunk);
        else
            edit.Append(chunk);
        QApplication::processEvents();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 500);
}
BENCHMARK(BM_ConsoleEditFlush)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMicrosecond);

// The widget rebuilt from the whole store on every flush, the simple way: what the mirroring
// of changed lines saves.
void BM_ConsoleEditFullRebuild(benchmark::State& state) {
    CConsoleEdit edit;
    edit.resize(600, 400);
    edit.show();
    console::LineStore store;
    store.SetUp(console::kLineColumns, console::kDefaultRows);
    FillToLimit(store);
    const std::u16string chunk = FlushChunk();
    for (auto _ : state) {
        store.Append(chunk);
        edit.setPlainText(QString::fromStdU16String(store.Text()));
        QApplication::processEvents();
    }
}
BENCHMARK(BM_ConsoleEditFullRebuild)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
