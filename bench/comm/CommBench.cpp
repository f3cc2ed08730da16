// Receive ring throughput against plain memcpy, and the duration of one command step against
// an in-process camera compared with its floor (the camera's answer time) and its target
// ceiling (the answer time plus 2 ms: the transaction wakes on the received bytes).
#include "comm/CommunicateModel.h"
#include "comm/EngineProbe.h"
#include "support/ScriptedCamera.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr size_t kChunk = 3072;
constexpr uint64_t kArea = 20971520; // the default receive ring size

void BM_RingAppend3072(benchmark::State& state) {
    clRingBuffer ring;
    ring.Allocate(kArea);
    std::vector<uint8_t> chunk(kChunk, 0x5A);
    for (auto _ : state) {
        ring.Append(chunk.data(), chunk.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_RingAppend3072);

// The same copies into an area of the same size, wrapping the same way, without the ring.
void BM_Memcpy3072(benchmark::State& state) {
    std::unique_ptr<uint8_t[]> area(new uint8_t[kArea]);
    std::vector<uint8_t> chunk(kChunk, 0x5A);
    uint64_t pos = 0;
    for (auto _ : state) {
        const uint64_t n = std::min<uint64_t>(kArea - pos, kChunk);
        std::memcpy(area.get() + pos, chunk.data(), n);
        if (n < kChunk)
            std::memcpy(area.get(), chunk.data() + n, kChunk - n);
        pos = (pos + kChunk) % kArea;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_Memcpy3072);

// Append and take the same chunk through the transaction reader (a full pass of the bytes).
void BM_RingAppendAndTake3072(benchmark::State& state) {
    clRingBuffer ring;
    ring.Allocate(kArea);
    std::vector<uint8_t> chunk(kChunk, 0x5A), out(kChunk);
    for (auto _ : state) {
        ring.Append(chunk.data(), chunk.size());
        ring.TakeInto(clRingBuffer::kTransactionReader, out.data(),
                      ring.Pending(clRingBuffer::kTransactionReader));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_RingAppendAndTake3072);

// One transaction; the camera answers after state.range(0) milliseconds.
void BM_CommandStep(benchmark::State& state) {
    const int answerMs = static_cast<int>(state.range(0));
    clEngineContextStore ctx;
    clScriptedCamera camera;
    clPortPlugIn port;
    clCommunicateModel engine(ctx);
    ctx.currentPort = &port;
    engine.Ring().Allocate(1 << 20);
    port.opTable = ScriptedCameraTable(&camera);
    port.SetReceiveCallback(&clCommunicateModel::OnReceiveData, &engine);
    port.Init();
    port.Connect();
    engine.MarkConnected();
    for (auto _ : state) {
        camera.Expect({{answerMs, ">OK\r\n>GAIN 12\r\n\x04"}});
        bool stop = false;
        const int32_t r = clCommunicateModelProbe::RunTransaction(engine, stop, u"gain 12");
        if (r != 0)
            state.SkipWithError("command step failed");
    }
    state.counters["floor_ms"] = answerMs;
    state.counters["ceiling_ms"] = answerMs + 2;
    port.Disconnect();
    port.Uninit();
}
BENCHMARK(BM_CommandStep)
    ->Arg(0)
    ->Arg(5)
    ->Arg(30)
    ->Arg(120)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

} // namespace

BENCHMARK_MAIN();
