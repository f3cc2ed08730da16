// The main window connected to a camera on a pseudo-terminal, measured from /proc over all
// threads of this process:
//
//   bench_idle idle [SECONDS]   connected to the camera simulator (its own process), no
//                               traffic: CPU share and voluntary context switches a second
//   bench_idle idle-tcp [SECONDS]  the same with the simulator served on TCP, connected
//                               through tcp://127.0.0.1:PORT
//   bench_flood is the same program with "flood [BYTES]": a writer process sends BYTES (default
//                               4 MB) of text lines without pause; the longest stall of the
//                               UI thread, measured by probes posted to it every 2 ms
//
// Real application start-up, real window (QT_QPA_PLATFORM=offscreen is set when unset), real
// built-in serial port, real engine threads.
#include "app/Application.h"
#include "base/Messages.h"
#include "comm/CommunicateModel.h"
#include "components/vorlix/Vorlix.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"
#include "platform/WorkingSet.h"
#include "tests/support/FakeWorkingSet.h"
#include "ui/MainFrame.h"
#include "ui/MainFrameLogic.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

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
        platform::WritePrivateProfileString(u"Internationalize", u"Force English", u"1", settings);
        platform::WritePrivateProfileString(channel, u"SelectInterface", u"COM port(Build In)",
                                            settings);
        platform::WritePrivateProfileString(channel, u"COM Port Name",
                                            VorlixPortNameOfPath(platform::Utf8ToUtf16(device)),
                                            settings);
        VorlixSaveAddedDevices(settings, {platform::Utf8ToUtf16(device)});
        clApplication::Environment env;
        env.programFolder = folder.string();
        env.lockFolder = (folder / "locks").string();
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

int Idle(int seconds, bool tcp) {
    // The link in a folder of its own: the watch over it sleeps until that folder changes.
    std::string folder = (fs::temp_directory_path() / "quillon-bench-sim-XXXXXX").string();
    if (!mkdtemp(folder.data()))
        return 1;
    std::string link = folder + "/camera";
    int out[2];
    if (pipe(out) != 0)
        return 1;
    const pid_t sim = fork();
    if (sim == 0) {
        dup2(out[1], 1);
        const std::string program = std::string(QUILLON_BIN_DIR) + "/camsim";
        const std::string definition = std::string(QUILLON_SOURCE_DIR) + "/CamDefine/XC-100.xml";
        execl(program.c_str(), "camsim", "--definition", definition.c_str(),
              tcp ? "--tcp" : "--link", tcp ? "127.0.0.1:0" : link.c_str(),
              static_cast<char*>(nullptr));
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
    int rc = 1;
    {
        Window window;
        if (!window.Start(link)) {
            std::fprintf(stderr, "could not connect to the simulator at %s\n", link.c_str());
        } else {
            RunFor(1000); // start-up settles
            const ProcessCounts a = ReadCounts();
            const auto t0 = Clock::now();
            RunFor(seconds * 1000);
            const ProcessCounts b = ReadCounts();
            const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
            std::printf("idle, connected to %s, %d s, %d threads\n", link.c_str(), seconds,
                        b.threads);
            std::printf("  CPU %.4f %% of one core (target < 0.1 %%)\n",
                        100.0 * static_cast<double>(b.cpuNs - a.cpuNs) / 1e9 / wall);
            std::printf("  wake-ups %.2f /s (voluntary context switches; target <= 0.5 /s)\n",
                        static_cast<double>(b.voluntary - a.voluntary) / wall);
            rc = 0;
        }
    }
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    std::error_code ec;
    fs::remove_all(folder, ec);
    return rc;
}

int Flood(long bytes) {
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return 1;
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    int go[2];
    if (pipe(go) != 0)
        return 1;
    const pid_t writer = fork();
    if (writer == 0) {
        close(slave);
        close(go[1]);
        char start;
        if (read(go[0], &start, 1) != 1)
            _exit(1);
        std::string line = ">FLOOD 0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOP\r\n";
        std::string block;
        while (block.size() < 4096)
            block += line;
        long left = bytes;
        while (left > 0) {
            const size_t n = static_cast<size_t>(std::min<long>(left, block.size()));
            const ssize_t w = write(master, block.data(), n);
            if (w <= 0)
                _exit(2);
            left -= w;
        }
        _exit(0);
    }
    close(go[0]);
    int rc = 1;
    {
        Window window;
        if (!window.Start(name)) {
            std::fprintf(stderr, "could not connect to %s\n", name);
        } else {
            // A probe posted every 2 ms from a thread of its own; the UI thread notes how late
            // each one ran. The longest delay is the longest stall.
            std::atomic<bool> probing{true};
            std::atomic<int64_t> longestUs{0};
            std::atomic<long> probes{0};
            std::thread prober([&] {
                while (probing) {
                    const auto posted = Clock::now();
                    QMetaObject::invokeMethod(
                        qApp,
                        [&, posted] {
                            const int64_t us =
                                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() -
                                                                                      posted)
                                    .count();
                            int64_t seen = longestUs;
                            while (us > seen && !longestUs.compare_exchange_weak(seen, us)) {
                            }
                            ++probes;
                        },
                        Qt::QueuedConnection);
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            });
            const auto t0 = Clock::now();
            if (write(go[1], "g", 1) != 1)
                std::fprintf(stderr, "writer did not start\n");
            int status = 0;
            // The UI thread keeps running its loop while the writer floods.
            while (waitpid(writer, &status, WNOHANG) == 0)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            const double sent = std::chrono::duration<double>(Clock::now() - t0).count();
            RunFor(1000); // the receive thread takes the last bytes
            probing = false;
            prober.join();
            QCoreApplication::processEvents();
            std::printf("flood of %ld bytes, sent in %.2f s\n", bytes, sent);
            std::printf("  longest UI-thread stall %.1f ms over %ld probes (target <= 50 ms)\n",
                        static_cast<double>(longestUs) / 1000.0, static_cast<long>(probes));
            std::printf("  received %llu bytes\n", static_cast<unsigned long long>(
                                                       window.app.Engine()->Ring().WrittenCount()));
            rc = 0;
        }
    }
    close(go[1]);
    close(master);
    close(slave);
    waitpid(writer, nullptr, WNOHANG);
    return rc;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string mode = argc > 1 ? argv[1] : "idle";
    QApplication qapp(argc, argv);
    if (mode == "idle" || mode == "idle-tcp")
        return Idle(argc > 2 ? std::atoi(argv[2]) : 30, mode == "idle-tcp");
    if (mode == "flood")
        return Flood(argc > 2 ? std::atol(argv[2]) : 4L << 20);
    std::fprintf(stderr, "usage: bench_idle idle|idle-tcp [SECONDS] | flood [BYTES]\n");
    return 2;
}
