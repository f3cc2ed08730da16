// Reading batch text files: the encoding guess over 10240 bytes (it reads whole files, so its
// cost grows with the file), and decoding plus
// cutting a whole file into batch lines, for files of settings lines in each encoding.
#include "textfiles/BatchText.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

constexpr size_t kDetectWindowBytes = 10240;

// About `bytes` bytes of Text Save lines; with `japanese`, every tenth line carries a note.
std::string SettingsLines(size_t bytes, bool japanese, bool shiftJis) {
    std::string out = "// Quillon (64bit) Ver.1.01\r\n// Date = 2026/12/09 07:00:00\r\n\r\n";
    for (int i = 0; out.size() < bytes; ++i) {
        out += "gai " + std::to_string(i % 512);
        if (japanese && i % 10 == 0)
            out += shiftJis ? "\t\x98\x49\x8C\xF5\x83\x51\x83\x43\x83\x93"
                            : "\t\xE9\x9C\xB2\xE5\x85\x89\xE3\x82\xB2\xE3\x82\xA4\xE3\x83\xB3";
        out += "\r\n";
    }
    return out;
}

void BM_DetectWindow(benchmark::State& state) {
    const std::string text = SettingsLines(kDetectWindowBytes * 2, true, state.range(0) != 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(DetectTextEncodingOf(reinterpret_cast<const uint8_t*>(text.data()),
                                                      kDetectWindowBytes, false));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDetectWindowBytes));
}
BENCHMARK(BM_DetectWindow)->Arg(0)->Arg(1)->ArgNames({"sjis"});

void BM_DecodeAndSplit(benchmark::State& state) {
    const bool sjis = state.range(1) != 0;
    const std::string text = SettingsLines(static_cast<size_t>(state.range(0)), true, sjis);
    const int code = sjis ? kTextShiftJis : kTextUtf8;
    size_t lines = 0;
    for (auto _ : state) {
        std::vector<std::u16string> out;
        SplitBatchLines(DecodeBatchText(text, code), out);
        lines = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["lines"] = static_cast<double>(lines);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeAndSplit)
    ->Args({64 << 10, 0})
    ->Args({10 << 20, 0})
    ->Args({10 << 20, 1})
    ->ArgNames({"bytes", "sjis"})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
