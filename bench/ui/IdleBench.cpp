// The main window connected to a camera on a pseudo-terminal, measured from /proc over all
// threads of this process:
//
//   bench_idle idle [SECONDS]   connected to the camera simulator (its own process), no
//                               traffic: CPU share and voluntary context switches a second
//   bench_idle idle-tcp [SECONDS]  the same with the simulator served on TCP, connected
//                               through tcp://127.0.0.1:PORT
//   bench_idle watch [SECONDS]  as idle, with the sample definition open and the Monitor
//                               reading the drifting sensor temperature every second
//   bench_idle flood [BYTES]    a writer process sends BYTES (default 4 MB) of text lines
//                               without pause and answers a command sent from the console
//                               halfway: the longest stall of the UI thread (probes posted to
//                               it every 2 ms), what the console showed and passed over, and
//                               how long after its writing the reply showed in the console
//   bench_idle bursts [COUNT]   COUNT (default 20) bursts of 100 KB, each once the console has
//                               shown the one before: the console's pace from a terminal
//   bench_idle scripts [COUNT]  a script on the window's socket (the simulator connected, the
//                               sample definition open): COUNT `get` and COUNT `send` requests
//                               one after another (latency of each), then COUNT `get` lines
//                               written at once, with the longest stall of the UI thread
//
// Real application start-up, real window (QT_QPA_PLATFORM=offscreen is set when unset), real
// built-in serial port, real engine threads.
#include "app/Application.h"
#include "app/Monitor.h"
#include "base/Messages.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommunicateModel.h"
#include "components/vorlix/Vorlix.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"
#include "platform/WorkingSet.h"
#include "tests/support/FakeWorkingSet.h"
#include "ui/ConsoleEdit.h"
#include "ui/ConsoleForm.h"
#include "ui/DialogBars.h"
#include "ui/MainFrame.h"
#include "ui/MainFrameLogic.h"
#include "ui/MonitorPanel.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// CPU nanoseconds and voluntary context switches summed over the threads now alive, plus
// what threads that already ended left in the process totals.
struct ProcessCounts {
    uint64_t cpuNs = 0;
    uint64_t voluntary = 0;
    int threads = 0;
};

ProcessCounts ReadCounts() {
    ProcessCounts c;
    DIR* dir = opendir("/proc/self/task");
    if (!dir)
        return c;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string task = std::string("/proc/self/task/") + e->d_name;
        std::ifstream sched(task + "/schedstat");
        uint64_t ns = 0;
        if (sched >> ns)
            c.cpuNs += ns;
        std::ifstream status(task + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                c.voluntary += std::stoull(line.substr(line.find(':') + 1));
        ++c.threads;
    }
    closedir(dir);
    return c;
}

// The application and window set up in a temporary program folder, the built-in serial port
// pointed at device.
struct Window {
    fs::path folder;
    FakeWorkingSet workingSet;
    clApplication app;
    std::unique_ptr<CMainFrame> frame;

    bool Start(const std::string& device) {
        folder = fs::temp_directory_path() / ("quillon-bench-" + std::to_string(getpid()));
        fs::create_directories(folder / "locks");
        const std::u16string settings = platform::Utf8ToUtf16((folder / "Quillon_00.ini").string());
        clApplication::WriteDefaultSettings(settings);
        const std::u16string channel = u"CAMERA_COMM_Ch00";
        platform::WriteSetting(u"Internationalize", u"Force English", u"1", settings);
        platform::WriteSetting(channel, u"SelectInterface", u"COM port(Build In)", settings);
        platform::WriteSetting(channel, u"COM Port Name",
                               VorlixPortNameOfPath(platform::Utf8ToUtf16(device)), settings);
        VorlixSaveAddedDevices(settings, {platform::Utf8ToUtf16(device)});
        clApplication::Environment env;
        env.programFolder = folder.string();
        env.lockFolder = (folder / "locks").string();
        env.scriptFolder = (folder / "run").string();
        env.workingSet = &workingSet;
        env.changeCurrentDirectory = false;
        app.SetEnvironment(env);
        if (app.StartUp() != 0)
            return false;
        frame = std::make_unique<CMainFrame>(app);
        frame->show();
        frame->PostUiMessage(UM_STARTUP, 0, 0);
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (!app.Engine()->WorkerExists() && Clock::now() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        frame->RunCommand(mainframe::ID_CONNECT);
        return app.IsConnected();
    }

    ~Window() {
        if (frame) {
            frame->ShutDownThreads();
            if (app.IsConnected())
                app.DisconnectCamera();
            frame.reset();
        }
        app.ShutDown();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

// A local loop: QCoreApplication::quit would also close the window (and ask to disconnect).
void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The sample definition opened and the Monitor started: a 1 s round reading the sensor
// temperature, plotted.
bool OpenDefinition(Window& window) {
    const std::string definition = std::string(QUILLON_SOURCE_DIR) + "/CamDefine/XC-100.xml";
    clCamPropertyMgr& mgr = window.app.Engine()->PropertyManager();
    mgr.SetSchemaPathFormat(platform::Utf8ToUtf16(std::string(QUILLON_SOURCE_DIR) +
                                                  "/CamDefine/OrvaCamSchema_v%d_%d.xsd"));
    if (mgr.Load(platform::Utf8ToUtf16(definition)) != 0)
        return false;
    window.app.SetCurrentDefinitionFile(platform::Utf8ToUtf16(definition));
    return true;
}

bool StartWatch(Window& window) {
    if (!OpenDefinition(window))
        return false;
    MonitorChoice choice;
    choice.run = u"ReadTemperature";
    choice.traces = {{u"SensorTemperature", true, 0.0, 50.0}};
    if (!choice.Write(window.app.SettingsFilePath(), u"XC-100.xml"))
        return false;
    window.frame->ShowMonitor();
    window.frame->Monitor()->Start();
    return window.frame->Monitor()->Running();
}

// The camera simulator serving the sample definition with a drifting sensor temperature, on a
// link in a folder of its own (the watch over it sleeps until that folder changes) or on TCP.
struct Simulator {
    std::string folder;
    std::string link; // what the window connects to
    pid_t pid = -1;

    bool Start(bool tcp) {
        folder = (fs::temp_directory_path() / "quillon-bench-sim-XXXXXX").string();
        if (!mkdtemp(folder.data()))
            return false;
        link = folder + "/camera";
        int out[2];
        if (pipe(out) != 0)
            return false;
        pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            const std::string program = std::string(QUILLON_BIN_DIR) + "/camsim";
            const std::string definition =
                std::string(QUILLON_SOURCE_DIR) + "/CamDefine/XC-100.xml";
            execl(program.c_str(), "camsim", "--definition", definition.c_str(),
                  tcp ? "--tcp" : "--link", tcp ? "127.0.0.1:0" : link.c_str(), "--drift",
                  "SensorTemperature=0.1", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        // "camsim: tcp://127.0.0.1:PORT" or "camsim: LINK -> DEVICE" once it serves.
        std::string said;
        char c = 0;
        while (said.find('\n') == std::string::npos && read(out[0], &c, 1) == 1)
            said.push_back(c);
        close(out[0]);
        if (tcp)
            link = said.substr(0, said.find('\n')).substr(said.find(' ') + 1);
        return !said.empty();
    }

    ~Simulator() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        std::error_code ec;
        if (!folder.empty())
            fs::remove_all(folder, ec);
    }
};

int Idle(int seconds, bool tcp, bool watch) {
    Simulator simulator;
    if (!simulator.Start(tcp))
        return 1;
    const std::string& link = simulator.link;
    int rc = 1;
    {
        Window window;
        if (!window.Start(link)) {
            std::fprintf(stderr, "could not connect to the simulator at %s\n", link.c_str());
        } else if (watch && !StartWatch(window)) {
            std::fprintf(stderr, "could not start the Monitor\n");
        } else {
            RunFor(1000); // start-up settles
            const ProcessCounts a = ReadCounts();
            const auto t0 = Clock::now();
            RunFor(seconds * 1000);
            const ProcessCounts b = ReadCounts();
            const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
            std::printf("%s, connected to %s, %d s, %d threads\n",
                        watch ? "1 s Monitor rounds" : "idle", link.c_str(), seconds, b.threads);
            if (watch)
                std::printf("  %zu rounds\n", window.frame->Monitor()->History().Rounds().size());
            std::printf("  CPU %.4f %% of one core (target < 0.1 %%)\n",
                        100.0 * static_cast<double>(b.cpuNs - a.cpuNs) / 1e9 / wall);
            std::printf("  wake-ups %.2f /s (voluntary context switches; target <= 0.5 /s)\n",
                        static_cast<double>(b.voluntary - a.voluntary) / wall);
            rc = 0;
        }
    }
    return rc;
}

// The writer on the terminal's master side: after "g" on its pipe it sends `bytes` of text
// lines without pause, and answers the first command line it reads ("...\r") at once, between
// two blocks, with a reply and EOT; the steady-clock time of that answer goes to `times`.
[[noreturn]] void FloodWriter(int master, int go, int times, long bytes) {
    char start;
    if (read(go, &start, 1) != 1)
        _exit(1);
    std::string line = "FLOOD 0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQ\r\n";
    std::string block;
    while (block.size() < 4096)
        block += line;
    const std::string reply = ">OK\r\n>Model=BENCH\r\n\x04";
    std::string command;
    bool answered = false;
    const auto answerIfAsked = [&](int waitMs) {
        pollfd p{master, POLLIN, 0};
        if (answered || poll(&p, 1, waitMs) <= 0)
            return;
        char buf[256];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n > 0)
            command.append(buf, static_cast<size_t>(n));
        if (command.find('\r') == std::string::npos)
            return;
        if (write(master, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size()))
            _exit(3);
        const int64_t at =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
                .count();
        if (write(times, &at, sizeof at) != sizeof at)
            _exit(4);
        answered = true;
    };
    long left = bytes;
    while (left > 0) {
        const size_t n = static_cast<size_t>(std::min<long>(left, block.size()));
        const ssize_t w = write(master, block.data(), n);
        if (w <= 0)
            _exit(2);
        left -= w;
        answerIfAsked(0);
    }
    // A command that comes after the flood is still answered.
    for (int i = 0; i < 100 && !answered; ++i)
        answerIfAsked(50);
    _exit(0);
}

// A terminal pair in raw mode; name gets the device the window opens.
bool OpenRawTerminal(int& master, int& slave, char (&name)[256]) {
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    return true;
}

// True when one of the console's last lines holds text.
bool ConsoleShows(const CMainFrame& frame, std::u16string_view text) {
    const auto& lines = frame.Console()->Output()->Store().Lines();
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->find(text) != std::u16string::npos)
            return true;
    return false;
}

// The result the lower bar shows ("OK" when the reply was).
std::string ResultText(const CMainFrame& frame) {
    const auto* result = frame.LowerBar()->findChild<QLineEdit*>(QStringLiteral("ctl1076"));
    return result ? result->text().toStdString() : std::string("?");
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A probe posted to the UI thread every 2 ms from a thread of its own; the UI thread notes how
// late each one ran (the longest delay is the longest stall) and runs onProbe.
class StallProbe {
public:
    explicit StallProbe(std::function<void()> onProbe = {}) : m_onProbe(std::move(onProbe)) {
        m_thread = std::thread([this] {
            while (m_probing) {
                const auto posted = Clock::now();
                QMetaObject::invokeMethod(
                    qApp,
                    [this, posted] {
                        const int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(
                                               Clock::now() - posted)
                                               .count();
                        int64_t seen = m_longestUs;
                        while (us > seen && !m_longestUs.compare_exchange_weak(seen, us)) {
                        }
                        ++m_probes;
                        if (m_onProbe)
                            m_onProbe();
                    },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    // Stops probing and runs the probes still queued.
    void Stop() {
        if (!m_thread.joinable())
            return;
        m_probing = false;
        m_thread.join();
        QCoreApplication::processEvents();
    }
    ~StallProbe() { Stop(); }
    StallProbe(const StallProbe&) = delete;
    StallProbe& operator=(const StallProbe&) = delete;

    double LongestMs() const { return static_cast<double>(m_longestUs) / 1000.0; }
    long Probes() const { return m_probes; }

private:
    std::function<void()> m_onProbe;
    std::atomic<bool> m_probing{true};
    std::atomic<int64_t> m_longestUs{0};
    std::atomic<long> m_probes{0};
    std::thread m_thread;
};

int Flood(long bytes) {
    int master = -1, slave = -1;
    char name[256] = {};
    if (!OpenRawTerminal(master, slave, name))
        return 1;
    int go[2], times[2];
    if (pipe(go) != 0 || pipe(times) != 0)
        return 1;
    const pid_t writer = fork();
    if (writer == 0) {
        close(slave);
        close(go[1]);
        close(times[0]);
        FloodWriter(master, go[0], times[1], bytes);
    }
    close(go[0]);
    close(times[1]);
    int rc = 1;
    {
        Window window;
        if (!window.Start(name)) {
            std::fprintf(stderr, "could not connect to %s\n", name);
        } else {
            clCommunicateModel& engine = *window.app.Engine();
            CMainFrame& frame = *window.frame;
            // The UI thread's stalls, and when the console first shows the reply.
            Clock::time_point replyShown{};
            StallProbe probe([&] {
                if (replyShown == Clock::time_point{} && ConsoleShows(frame, u">Model=BENCH"))
                    replyShown = Clock::now();
            });
            const auto t0 = Clock::now();
            if (write(go[1], "g", 1) != 1)
                std::fprintf(stderr, "writer did not start\n");
            // Halfway through the flood the user sends a command from the console.
            while (engine.Ring().WrittenCount() < static_cast<uint64_t>(bytes) / 2 &&
                   Clock::now() - t0 < std::chrono::seconds(30))
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            const auto sentAt = Clock::now();
            frame.Console()->Input()->setText(QStringLiteral("sta"));
            frame.Console()->Send();
            int status = 0;
            // The UI thread keeps running its loop while the writer floods.
            while (waitpid(writer, &status, WNOHANG) == 0)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            const double sent = Seconds(Clock::now() - t0);
            // Until the console has caught up (or shown what it will).
            const auto drainedBy = Clock::now() + std::chrono::seconds(30);
            while ((engine.Ring().Pending(clRingBuffer::kConsoleReader) > 0 ||
                    replyShown == Clock::time_point{} || !window.app.IsEngineReady()) &&
                   Clock::now() < drainedBy)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            const double drained = Seconds(Clock::now() - t0);
            RunFor(200);
            probe.Stop();
            int64_t answeredNs = 0;
            const bool answered = read(times[0], &answeredNs, sizeof answeredNs) ==
                                  static_cast<ssize_t>(sizeof answeredNs);
            const Clock::time_point answeredAt{std::chrono::nanoseconds(answeredNs)};
            const uint64_t taken = engine.Ring().TakenCount(clRingBuffer::kConsoleReader);
            const uint64_t skipped = frame.Console()->Reader().SkippedTotal();
            std::printf("flood of %ld bytes, sent in %.2f s, console caught up after %.2f s\n",
                        bytes, sent, drained);
            std::printf("  longest UI-thread stall %.1f ms over %ld probes (target <= 50 ms)\n",
                        probe.LongestMs(), probe.Probes());
            std::printf("  received %llu bytes; console showed %llu, passed over %llu: "
                        "%.2f MB/s shown\n",
                        static_cast<unsigned long long>(engine.Ring().WrittenCount()),
                        static_cast<unsigned long long>(taken - skipped),
                        static_cast<unsigned long long>(skipped),
                        static_cast<double>(taken - skipped) / 1e6 / drained);
            if (answered && replyShown != Clock::time_point{})
                std::printf("  command sent after %.2f s: reply shown %.1f ms after it was "
                            "written (target <= 100 ms), result %s\n",
                            Seconds(sentAt - t0), Seconds(replyShown - answeredAt) * 1000.0,
                            ResultText(frame).c_str());
            else
                std::printf("  the command's reply was %s\n",
                            answered ? "never shown" : "never written");
            rc = 0;
        }
    }
    close(go[1]);
    close(times[0]);
    close(master);
    close(slave);
    waitpid(writer, nullptr, WNOHANG);
    return rc;
}

// Bursts the console can show whole (100 KB of text lines each), written to the terminal one
// after another once the console has shown the last: the console's own pace from a terminal.
int Bursts(int count) {
    int master = -1, slave = -1;
    char name[256] = {};
    if (!OpenRawTerminal(master, slave, name))
        return 1;
    std::string burst;
    for (int i = 0; burst.size() < 100000; ++i)
        burst += ">BURST line " + std::to_string(i) + " abcdefghijklmnopqrstuvwxyz\r\n";
    int rc = 1;
    {
        Window window;
        if (!window.Start(name)) {
            std::fprintf(stderr, "could not connect to %s\n", name);
        } else {
            clRingBuffer& ring = window.app.Engine()->Ring();
            RunFor(300);
            Clock::duration busy{};
            uint64_t shown = 0;
            for (int b = 0; b < count; ++b) {
                const uint64_t before = ring.TakenCount(clRingBuffer::kConsoleReader);
                const uint64_t target = ring.WrittenCount() + burst.size();
                std::thread writer([&] {
                    for (size_t done = 0; done < burst.size();) {
                        const ssize_t w = write(master, burst.data() + done, burst.size() - done);
                        if (w <= 0)
                            break;
                        done += static_cast<size_t>(w);
                    }
                });
                const auto t0 = Clock::now();
                while (ring.TakenCount(clRingBuffer::kConsoleReader) < target &&
                       Clock::now() - t0 < std::chrono::seconds(30))
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                busy += Clock::now() - t0;
                writer.join();
                shown += ring.TakenCount(clRingBuffer::kConsoleReader) - before;
                RunFor(50);
            }
            std::printf(
                "%d bursts of %zu bytes: console showed %.2f MB/s (goal >= 1 MB/s), "
                "%llu bytes passed over\n",
                count, burst.size(), static_cast<double>(shown) / 1e6 / Seconds(busy),
                static_cast<unsigned long long>(window.frame->Console()->Reader().SkippedTotal()));
            rc = 0;
        }
    }
    close(master);
    close(slave);
    return rc;
}

// A script on a Unix socket: one request at a time, its answer read to the line end.
class ScriptClient {
public:
    bool Connect(const std::string& path) {
        m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        path.copy(a.sun_path, sizeof a.sun_path - 1);
        return m_fd >= 0 && connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~ScriptClient() {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool Write(const std::string& bytes) {
        for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = send(m_fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            at += static_cast<size_t>(n);
        }
        return true;
    }
    // The next line (without its line feed); empty when the socket ended.
    std::string ReadLine() {
        for (;;) {
            const size_t end = m_pending.find('\n');
            if (end != std::string::npos) {
                std::string line = m_pending.substr(0, end);
                m_pending.erase(0, end + 1);
                return line;
            }
            char buffer[65536];
            const ssize_t n = read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                return {};
            m_pending.append(buffer, static_cast<size_t>(n));
        }
    }

private:
    int m_fd = -1;
    std::string m_pending;
};

std::string RequestLine(int id, const std::string& method, const nlohmann::json& params) {
    return nlohmann::json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}}
               .dump() +
           "\n";
}

// p50 and p99 of the samples, in milliseconds.
std::pair<double, double> Percentiles(std::vector<double> ms) {
    if (ms.empty())
        return {0, 0};
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

int Scripts(int count) {
    Simulator simulator;
    if (!simulator.Start(false))
        return 1;
    Window window;
    if (!window.Start(simulator.link) || !OpenDefinition(window)) {
        std::fprintf(stderr, "could not connect to the simulator at %s\n", simulator.link.c_str());
        return 1;
    }
    const std::string path = (window.folder / "run" / "Quillon_00.sock").string();
    RunFor(300);
    StallProbe probe;
    std::vector<double> getMs, sendMs, sendTransactionMs;
    double floodS = 0;
    bool ok = true;
    // The script runs on a thread of its own; the window's thread runs its loop meanwhile.
    std::atomic<bool> done{false};
    std::thread script([&] {
        ScriptClient client;
        ok = client.Connect(path);
        for (int i = 0; ok && i < count; ++i) {
            const auto t0 = Clock::now();
            ok = client.Write(RequestLine(i, "get", {{"names", {"Gain"}}})) &&
                 !client.ReadLine().empty();
            getMs.push_back(Seconds(Clock::now() - t0) * 1000.0);
        }
        for (int i = 0; ok && i < count; ++i) {
            const auto t0 = Clock::now();
            ok = client.Write(
                RequestLine(i, "send", {{"commands", {"gai " + std::to_string(i % 200)}}}));
            const nlohmann::json answer = nlohmann::json::parse(client.ReadLine(), nullptr, false);
            sendMs.push_back(Seconds(Clock::now() - t0) * 1000.0);
            ok = ok && answer.contains("result");
            if (ok)
                sendTransactionMs.push_back(
                    answer["result"]["transactions"][0]["elapsed_ms"].get<double>());
        }
        std::string flood;
        for (int i = 0; i < count; ++i)
            flood += RequestLine(i, "get", {{"names", {"Gain"}}});
        const auto t0 = Clock::now();
        ok = ok && client.Write(flood);
        for (int i = 0; ok && i < count; ++i)
            ok = !client.ReadLine().empty();
        floodS = Seconds(Clock::now() - t0);
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    script.join();
    probe.Stop();
    if (!ok) {
        std::fprintf(stderr, "the script's requests were not all answered\n");
        return 1;
    }
    const auto [getP50, getP99] = Percentiles(getMs);
    const auto [sendP50, sendP99] = Percentiles(sendMs);
    const auto [txP50, txP99] = Percentiles(sendTransactionMs);
    std::printf("a script on the window's socket, connected to %s\n", simulator.link.c_str());
    std::printf("  %d get one at a time: p50 %.2f ms, p99 %.2f ms\n", count, getP50, getP99);
    std::printf("  %d send one at a time: p50 %.2f ms, p99 %.2f ms (the transaction itself "
                "p50 %.0f ms, p99 %.0f ms)\n",
                count, sendP50, sendP99, txP50, txP99);
    std::printf("  %d get written at once: all answered in %.3f s\n", count, floodS);
    std::printf("  longest UI-thread stall %.1f ms over %ld probes (target <= 50 ms)\n",
                probe.LongestMs(), probe.Probes());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string mode = argc > 1 ? argv[1] : "idle";
    QApplication qapp(argc, argv);
    if (mode == "idle" || mode == "idle-tcp" || mode == "watch")
        return Idle(argc > 2 ? std::atoi(argv[2]) : 30, mode == "idle-tcp", mode == "watch");
    if (mode == "flood")
        return Flood(argc > 2 ? std::atol(argv[2]) : 4L << 20);
    if (mode == "bursts")
        return Bursts(argc > 2 ? std::atoi(argv[2]) : 20);
    if (mode == "scripts")
        return Scripts(argc > 2 ? std::atoi(argv[2]) : 1000);
    std::fprintf(stderr, "usage: bench_idle idle|idle-tcp|watch [SECONDS] | flood [BYTES] | "
                         "bursts [COUNT] | scripts [COUNT]\n");
    return 2;
}
