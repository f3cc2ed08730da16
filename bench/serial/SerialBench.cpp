// The built-in serial port on a pseudo-terminal: round trip of one "sta" through the camera
// simulator, and the receive thread's throughput into the staging buffer.
#include "platform/Text.h"
#include "port/PortComm.h"
#include "tools/camsim/PtyServer.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <termios.h>
#include <unistd.h>

namespace {

struct Sink {
    std::mutex lock;
    std::condition_variable changed;
    uint64_t bytes = 0;
    uint64_t eots = 0;
};

void OnReceive(const uint8_t* b, uint32_t n, void* user) {
    auto* s = static_cast<Sink*>(user);
    uint64_t eots = 0;
    for (uint32_t i = 0; i < n; ++i)
        eots += b[i] == 0x04;
    std::lock_guard<std::mutex> g(s->lock);
    s->bytes += n;
    s->eots += eots;
    s->changed.notify_all();
}

bool Open(clPortComm& port, const std::string& device, Sink& sink) {
    port.Reset();
    port.identity.devicePath = platform::Utf8ToUtf16(device);
    port.SetReceiveCallback(&OnReceive, &sink);
    return port.Init() == 0 && port.Connect() == 0;
}

void BM_StaRoundTrip(benchmark::State& state) {
    clCameraSim sim;
    if (sim.Load(std::string(QUILLON_SOURCE_DIR) + "/CamDefine/XC-100.xml") != kLoadOk) {
        state.SkipWithError("definition");
        return;
    }
    clPtyServer server(sim);
    server.Open();
    server.Start();
    clPortComm port;
    Sink sink;
    if (!Open(port, server.DevicePath(), sink)) {
        state.SkipWithError("connect");
        return;
    }
    const uint8_t cmd[] = {'s', 't', 'a', '\r'};
    uint64_t expected = 0;
    for (auto _ : state) {
        port.SendData(cmd, sizeof cmd);
        ++expected;
        std::unique_lock<std::mutex> g(sink.lock);
        sink.changed.wait(g, [&] { return sink.eots >= expected; });
    }
    port.Disconnect();
    port.Uninit();
    server.Stop();
}
BENCHMARK(BM_StaRoundTrip)->UseRealTime();

void BM_ReceiveThroughput(benchmark::State& state) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    char name[128];
    if (master < 0 || ::grantpt(master) || ::unlockpt(master) ||
        ::ptsname_r(master, name, sizeof name)) {
        state.SkipWithError("pty");
        return;
    }
    termios t{};
    ::tcgetattr(master, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master, TCSANOW, &t);
    clPortComm port;
    Sink sink;
    if (!Open(port, name, sink)) {
        state.SkipWithError("connect");
        return;
    }
    const std::string block(static_cast<size_t>(state.range(0)), 'x');
    uint64_t expected = 0;
    for (auto _ : state) {
        size_t done = 0;
        while (done < block.size()) {
            const ssize_t n = ::write(master, block.data() + done, block.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
        }
        expected += block.size();
        std::unique_lock<std::mutex> g(sink.lock);
        sink.changed.wait(g, [&] { return sink.bytes >= expected; });
    }
    state.SetBytesProcessed(static_cast<int64_t>(expected));
    port.Disconnect();
    port.Uninit();
    ::close(master);
}
BENCHMARK(BM_ReceiveThroughput)->Arg(4096)->Arg(65536)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
