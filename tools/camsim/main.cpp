// camsim: a TARN camera on a pseudo-terminal, described by a camera definition file.
//
//   camsim --definition FILE --link PATH [options]
//   camsim --definition FILE --tcp HOST:PORT [options]
//
// The device path of the terminal is published as the symbolic link PATH; add PATH as a
// device in the program's port settings and connect to it. With --tcp the camera is served on
// a TCP port instead, one client at a time, as a serial device server would (add
// tcp://HOST:PORT). Ends on SIGINT or SIGTERM, or when a fault closed the terminal.
#include "platform/Text.h"
#include "tools/camsim/PtyServer.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>

namespace {

void Usage() {
    std::fprintf(
        stderr,
        "usage: camsim --definition FILE (--link PATH | --tcp HOST:PORT) [options]\n"
        "  --tcp HOST:PORT       serve on TCP instead of a terminal (PORT 0: a free one, printed)\n"
        "  --schema-folder DIR   folder of OrvaCamSchema_v*_*.xsd (default: the definition's)\n"
        "  --model TEXT --version TEXT --serial TEXT   identity answered to \"sta\"\n"
        "  --echo                send every command back before the answer\n"
        "  --clamp NAME=MAX      keep the Integer property NAME at most MAX (repeatable)\n"
        "  --pace BAUD           take as long as a serial line at BAUD would for each\n"
        "                        command and its answer (a pseudo-terminal takes no time)\n"
        "  --drift NAME=STEP     move the Float property NAME by STEP at each reading of its\n"
        "                        information line (a temperature that changes; repeatable)\n"
        "  --delay MS            wait before answering\n"
        "  --baud N              answer only while the line runs at N bit/s (a camera fixed to\n"
        "                        one rate hears nothing it understands at another)\n"
        "  --chunk N --chunk-gap MS   answer in chunks of N bytes with pauses\n"
        "  --no-answer           take commands, answer nothing\n"
        "  --garbage N           a line of N garbage bytes before each answer\n"
        "  --noise N             N \">(\" noise lines before each answer\n"
        "  --drop-mid-reply      send half of each answer, never the rest\n"
        "  --close-mid-reply     send half of the first answer, then close the terminal\n"
        "  --close-after N       close the terminal when command N arrives (--tcp: drop\n"
        "                        the connection at its command N, then take the next client)\n"
        "  --read-nothing        never read the terminal (the host's writes back up)\n");
}

bool Number(const char* text, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!end || *end || v < 0 || v > 3600000)
        return false;
    out = static_cast<int>(v);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::string definition, link, tcp, schemaFolder;
    clCameraSim sim;
    CamSimFaults faults;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        auto takeText = [&](std::string& out) {
            if (!next)
                return false;
            out = next;
            ++i;
            return true;
        };
        auto takeWide = [&](std::u16string& out) {
            std::string t;
            if (!takeText(t))
                return false;
            out = platform::LocaleToUtf16(t);
            return true;
        };
        auto takeNumber = [&](int& out) {
            if (!next || !Number(next, out))
                return false;
            ++i;
            return true;
        };
        bool ok = true;
        if (a == "--definition")
            ok = takeText(definition);
        else if (a == "--link")
            ok = takeText(link);
        else if (a == "--tcp")
            ok = takeText(tcp);
        else if (a == "--schema-folder")
            ok = takeText(schemaFolder);
        else if (a == "--model")
            ok = takeWide(sim.identity.model);
        else if (a == "--version")
            ok = takeWide(sim.identity.version);
        else if (a == "--serial")
            ok = takeWide(sim.identity.serial);
        else if (a == "--echo")
            sim.echo = true;
        else if (a == "--clamp") {
            std::string t;
            const size_t eq = takeText(t) ? t.find('=') : std::string::npos;
            char* end = nullptr;
            const long long ceiling =
                eq == std::string::npos ? 0 : std::strtoll(t.c_str() + eq + 1, &end, 10);
            ok = eq != std::string::npos && eq > 0 && end && !*end && end != t.c_str() + eq + 1;
            if (ok)
                sim.ceilings.emplace_back(platform::LocaleToUtf16(t.substr(0, eq)), ceiling);
        } else if (a == "--drift") {
            std::string t;
            const size_t eq = takeText(t) ? t.find('=') : std::string::npos;
            char* end = nullptr;
            const double step = eq == std::string::npos ? 0 : std::strtod(t.c_str() + eq + 1, &end);
            ok = eq != std::string::npos && eq > 0 && end && !*end && end != t.c_str() + eq + 1;
            if (ok)
                sim.drifts.emplace_back(platform::LocaleToUtf16(t.substr(0, eq)), step);
        } else if (a == "--pace") {
            int baud = 0;
            ok = takeNumber(baud) && baud > 0;
            faults.paceBaud = static_cast<uint32_t>(baud);
        } else if (a == "--delay")
            ok = takeNumber(faults.answerDelayMs);
        else if (a == "--baud") {
            int rate = 0;
            ok = takeNumber(rate) && rate > 0;
            faults.lineSpeed = static_cast<uint32_t>(rate);
        } else if (a == "--chunk")
            ok = takeNumber(faults.chunkBytes);
        else if (a == "--chunk-gap")
            ok = takeNumber(faults.chunkGapMs);
        else if (a == "--no-answer")
            faults.noAnswer = true;
        else if (a == "--garbage")
            ok = takeNumber(faults.garbageBytes);
        else if (a == "--noise")
            ok = takeNumber(faults.noiseLines);
        else if (a == "--drop-mid-reply")
            faults.dropMidReply = true;
        else if (a == "--close-mid-reply")
            faults.closeMidReply = true;
        else if (a == "--close-after")
            ok = takeNumber(faults.closeAfterCommands);
        else if (a == "--read-nothing")
            faults.readNothing = true;
        else if (a == "--help" || a == "-h") {
            Usage();
            return 0;
        } else
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "camsim: bad argument %s\n", a.c_str());
            Usage();
            return 2;
        }
    }
    if (definition.empty() || link.empty() == tcp.empty()) {
        Usage();
        return 2;
    }
    const int loaded = sim.Load(definition, schemaFolder);
    if (loaded != kLoadOk) {
        std::fprintf(stderr, "camsim: cannot load %s (result %d)\n", definition.c_str(), loaded);
        return 1;
    }
    if (sim.identity.model == u"SIM-CAM") {
        // The model defaults to the definition's file name without folder and extension.
        std::string stem = definition.substr(definition.rfind('/') + 1);
        stem = stem.substr(0, stem.rfind('.'));
        sim.identity.model = platform::LocaleToUtf16(stem);
    }

    // Signals arrive through a descriptor, so the main thread can wait for them calmly.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int sfd = signalfd(-1, &signals, SFD_CLOEXEC);

    clPtyServer server(sim);
    server.faults = faults;
    if (!tcp.empty()) {
        if (!server.Listen(tcp)) {
            std::fprintf(stderr, "camsim: cannot listen on %s\n", tcp.c_str());
            return 1;
        }
        std::printf("camsim: %s\n", server.TcpAddress().c_str());
    } else if (!server.Open(link)) {
        std::fprintf(stderr, "camsim: cannot open a pseudo-terminal at %s\n", link.c_str());
        return 1;
    } else {
        std::printf("camsim: %s -> %s\n", link.c_str(), server.DevicePath().c_str());
    }
    std::fflush(stdout);
    server.Start();
    while (server.IsOpen()) {
        pollfd p{sfd, POLLIN, 0};
        if (::poll(&p, 1, 200) > 0)
            break;
    }
    server.Stop();
    server.CloseTerminal();
    server.CloseListener();
    if (sfd >= 0)
        ::close(sfd);
    return 0;
}
