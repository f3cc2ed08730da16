// The built-in serial port against the camera simulator on a real pseudo-terminal (or served
// on a TCP port of the loopback), with the real engine, ring, forwarding port and worker thread
// and a client that records events.
#pragma once

#include "base/SimpleLog.h"
#include "comm/CommunicateModel.h"
#include "components/vorlix/Vorlix.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"
#include "port/PortComm.h"
#include "port/PortLinkWatch.h"
#include "support/Deadline.h"
#include "support/EngineRig.h" // RecordingEvents
#include "support/LogText.h"
#include "support/TempDir.h"
#include "tools/camsim/PtyServer.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <thread>

inline std::string SourceFile(const std::string& relative) {
    return std::string(QUILLON_SOURCE_DIR) + "/" + relative;
}

struct SerialRig {
    TempDir dir;
    std::u16string settings = platform::Utf8ToUtf16(dir.file("Quillon_00.ini"));
    std::u16string folder = platform::Utf8ToUtf16(dir.str() + "/");
    clSimpleLog log{dir.file("Quillon_00_Log.txt")};
    PortParamBlock params{};
    clCameraSim sim;
    clPtyServer server{sim};
    std::string link = dir.file("camsim");
    InterfaceTable* table = nullptr;

    platform::Event stopEvent{platform::Event::Reset::Manual};
    platform::Event jobEvent{platform::Event::Reset::Auto};
    clEngineContextStore ctx;
    RecordingEvents events;
    clPortPlugIn port{&HostPortCtrl()};
    clCommunicateModel engine{ctx};

    enum class Link { Pty, Tcp };

    // Opens the simulator, stores it as the chosen port and runs the built-in entry. On TCP,
    // link is the simulator's address.
    explicit SerialRig(CamSimFaults faults = {}, bool storePort = true, Link on = Link::Pty) {
        EXPECT_EQ(sim.Load(SourceFile("CamDefine/XC-100.xml")), 0);
        sim.identity.model = u"XC-100";
        sim.identity.serial = u"12345";
        server.faults = faults;
        if (on == Link::Tcp) {
            EXPECT_TRUE(server.Listen("127.0.0.1:0"));
            link = server.TcpAddress();
        } else {
            EXPECT_TRUE(server.Open(link));
        }
        EXPECT_TRUE(server.Start());
        params.settingsFilePath = settings.c_str();
        params.programFolder = folder.c_str();
        params.channelSectionName = u"CAMERA_COMM_Ch00";
        params.sendTimeout = 2000;
        VorlixSaveAddedDevices(settings, {platform::Utf8ToUtf16(link)});
        if (storePort)
            platform::WriteSetting(u"CAMERA_COMM_Ch00", u"COM Port Name",
                                   VorlixPortNameOfPath(platform::Utf8ToUtf16(link)), settings);
        HostPortCtrl().log = &log;
        HostPortCtrl().settingsPath = settings;
        BuiltInComPort().Reset();
    }
    ~SerialRig() {
        engine.StopWorker();
        port.Disconnect();
        port.Uninit();
        BuiltInComPort().Reset();
        HostPortCtrl().log = nullptr;
        server.Stop();
        std::error_code ec;
        if (!savedFolder.empty())
            std::filesystem::current_path(savedFolder, ec);
    }

    void Entry() {
        table = GetBuiltInComInterface(&params);
        port.opTable = table->GetSelectedPortIF();
    }

    // The host's connect sequence. Returns the Connect code.
    int32_t ConnectHost(uint32_t firstTimeout = 2000, uint32_t nextTimeout = 2000) {
        WireEngine(*this, firstTimeout, nextTimeout);
        port.SetReceiveCallback(&clCommunicateModel::OnReceiveData, &engine);
        port.Init();
        const int32_t code = port.Connect();
        if (code == 0) {
            engine.MarkConnected();
            stopEvent.ResetEvent(); // a worker stopped before may start again
            engine.StartWorker();
        }
        return code;
    }
    // ConnectHost until it succeeds: a network server may still be closing the last
    // connection (a probe's, or one of before) and turn the next one away meanwhile.
    bool ConnectHostRetrying() {
        return WaitUntil([&] {
            if (ConnectHost() == 0)
                return true;
            port.Disconnect();
            return false;
        });
    }

    // Runs a job and waits for its end (the engine is ready again when it is told).
    template <class Submit>
    bool RunJob(Submit submit, int timeoutMs = 10000) {
        const int before = events.Count(Ev::JobEnded);
        submit();
        return events.WaitFor(Ev::JobEnded, before + 1, timeoutMs);
    }
    bool RunCommand(std::u16string_view command, int timeoutMs = 10000) {
        return RunJob([&] { engine.SubmitCommandJob(command); }, timeoutMs);
    }
    std::vector<std::string> Log() { return LogLines(log.FilePath()); }

    // The port log lies in the current directory: makes it the rig's folder until the rig
    // ends and gives the log's path there (empty when the folder could not be entered).
    std::string PortLogInRigFolder() {
        std::error_code ec;
        savedFolder = std::filesystem::current_path(ec);
        std::filesystem::current_path(dir.path(), ec);
        if (ec)
            return {};
        return dir.file("Port_" + platform::Utf16ToUtf8(BuiltInComPort().identity.portName) +
                        "_Log.txt");
    }
    std::filesystem::path savedFolder;
};

// What a port link watch reported: the devices of its "lost" and "returned" news.
struct LinkNews {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::u16string> lost, returned;
    clPortLinkWatch::Callbacks Callbacks() {
        return {[this](const std::u16string& d) { Add(lost, d); },
                [this](const std::u16string& d) { Add(returned, d); }};
    }
    void Add(std::vector<std::u16string>& to, const std::u16string& d) {
        std::lock_guard<std::mutex> g(lock);
        to.push_back(d);
        changed.notify_all();
    }
    bool Wait(std::vector<std::u16string>& of, size_t n, int timeoutMs = 10000) {
        std::unique_lock<std::mutex> g(lock);
        return changed.wait_for(g, std::chrono::milliseconds(ScaledMs(timeoutMs)),
                                [&] { return of.size() >= n; });
    }
};

// The built-in port's link watch with a monitor of its own (no udev), reporting into news.
struct WatchedLink {
    clDeviceMonitor monitor{nullptr};
    clPortLinkWatch watch{monitor, BuiltInComPort()};
    LinkNews news;
    WatchedLink() {
        watch.SetCallbacks(news.Callbacks());
        EXPECT_TRUE(monitor.Start());
    }
    ~WatchedLink() { monitor.Stop(); }
};
