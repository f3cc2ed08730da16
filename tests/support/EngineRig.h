// A connected engine for tests: the real engine, ring, forwarding port and worker thread,
// talking to an in-process scripted camera, with a client that records every event.
#pragma once

#include "base/Messages.h"
#include "base/SimpleLog.h"
#include "comm/CommunicateModel.h"
#include "comm/EngineEvents.h"
#include "comm/WatchThread.h"
#include "support/Deadline.h"
#include "support/LogText.h"
#include "support/ScriptedCamera.h"
#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// The engine's events as a client receives them, in order.
enum class Ev { JobStarted, CommandSent, TransactionEnded, ConsoleFlush, Progress, JobEnded, Ask };

// A client of the engine that records every event; a box question is answered with boxAnswer.
class RecordingEvents : public IEngineEvents {
public:
    int32_t boxAnswer = IDOK;
    // Runs inside every event (on the engine's thread) before it is recorded.
    std::function<void(Ev)> onEvent;
    // Applies the reply lines of a transaction while the worker waits, as a client does (on
    // the worker thread).
    std::function<void(const TransactionReport&)> applyReplies;

    void JobStarted(JobKind) override { Record(Ev::JobStarted); }
    void CommandSent(const std::u16string& text, uint64_t) override {
        {
            std::lock_guard<std::mutex> g(m_lock);
            echoes.push_back(text);
        }
        Record(Ev::CommandSent);
    }
    void TransactionEnded(const TransactionReport& report) override {
        if (applyReplies)
            applyReplies(report);
        {
            std::lock_guard<std::mutex> g(m_lock);
            reports.push_back(report);
        }
        Record(Ev::TransactionEnded);
    }
    void ConsoleFlushWanted() override { Record(Ev::ConsoleFlush); }
    void BatchProgressed(const BatchProgress& p) override {
        {
            std::lock_guard<std::mutex> g(m_lock);
            progress.push_back(p);
        }
        Record(Ev::Progress);
    }
    void JobEnded(const JobReport& report) override {
        {
            std::lock_guard<std::mutex> g(m_lock);
            jobs.push_back(report);
        }
        Record(Ev::JobEnded);
    }
    int32_t Ask(const EngineQuestion& q) override {
        {
            std::lock_guard<std::mutex> g(m_lock);
            boxes.push_back(q.text);
            styles.push_back(q.style);
        }
        Record(Ev::Ask);
        return boxAnswer;
    }

    std::vector<Ev> Kinds() {
        std::lock_guard<std::mutex> g(m_lock);
        return kinds;
    }
    int Count(Ev kind) {
        std::lock_guard<std::mutex> g(m_lock);
        return static_cast<int>(std::count(kinds.begin(), kinds.end(), kind));
    }
    // Waits until kind has been recorded `count` times (a deadline scaled as every other).
    bool WaitFor(Ev kind, int count = 1, int timeoutMs = 5000) {
        std::unique_lock<std::mutex> g(m_lock);
        return m_changed.wait_for(g, std::chrono::milliseconds(ScaledMs(timeoutMs)), [&] {
            return std::count(kinds.begin(), kinds.end(), kind) >= count;
        });
    }
    // The (status, reply code) of every transaction report so far.
    std::vector<std::pair<int32_t, int32_t>> Results() {
        std::lock_guard<std::mutex> g(m_lock);
        std::vector<std::pair<int32_t, int32_t>> out;
        for (const TransactionReport& r : reports)
            out.emplace_back(r.status, r.replyCode);
        return out;
    }
    // The last transaction's report (an empty one before the first).
    TransactionReport Last() {
        std::lock_guard<std::mutex> g(m_lock);
        return reports.empty() ? TransactionReport{} : reports.back();
    }
    // Every reply line the reports carried, in order.
    std::vector<std::u16string> Drained() {
        std::lock_guard<std::mutex> g(m_lock);
        std::vector<std::u16string> out;
        for (const TransactionReport& r : reports)
            out.insert(out.end(), r.replyLines.begin(), r.replyLines.end());
        return out;
    }
    std::vector<std::u16string> Boxes() {
        std::lock_guard<std::mutex> g(m_lock);
        return boxes;
    }
    std::vector<TransactionReport> Reports() {
        std::lock_guard<std::mutex> g(m_lock);
        return reports;
    }
    std::vector<JobReport> Jobs() {
        std::lock_guard<std::mutex> g(m_lock);
        return jobs;
    }
    std::vector<BatchProgress> Progress() {
        std::lock_guard<std::mutex> g(m_lock);
        return progress;
    }
    void Clear() {
        std::lock_guard<std::mutex> g(m_lock);
        kinds.clear();
        boxes.clear();
        styles.clear();
        echoes.clear();
        reports.clear();
        jobs.clear();
        progress.clear();
    }

    std::vector<Ev> kinds;
    std::vector<std::u16string> boxes;
    std::vector<uint32_t> styles;
    std::vector<std::u16string> echoes;
    std::vector<TransactionReport> reports;
    std::vector<JobReport> jobs;
    std::vector<BatchProgress> progress;

private:
    void Record(Ev kind) {
        if (onEvent)
            onEvent(kind);
        std::lock_guard<std::mutex> g(m_lock);
        kinds.push_back(kind);
        m_changed.notify_all();
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
};

// Wires the engine of a rig to the rig's parts as the program does; every rig names them alike.
template <class Rig>
void WireEngine(Rig& rig, uint32_t firstTimeout, uint32_t nextTimeout) {
    rig.ctx.log = &rig.log;
    rig.ctx.stopEvent = &rig.stopEvent;
    rig.ctx.jobEvent = &rig.jobEvent;
    rig.ctx.currentPort = &rig.port;
    rig.engine.SetEvents(&rig.events);
    rig.engine.Ring().Allocate(1 << 16);
    rig.engine.SetReceiveTimeouts(firstTimeout, nextTimeout);
}

struct EngineRig {
    TempDir dir;
    clSimpleLog log{dir.file("Quillon_00_Log.txt")};
    clCamCtrl ctrl{&log, u""};
    platform::Event stopEvent{platform::Event::Reset::Manual};
    platform::Event jobEvent{platform::Event::Reset::Auto};
    clEngineContextStore ctx;
    RecordingEvents events;
    clScriptedCamera camera{&ctrl};
    clPortPlugIn port{&ctrl};
    clCommunicateModel engine{ctx};

    explicit EngineRig(uint32_t firstTimeout = 2000, uint32_t nextTimeout = 2000) {
        WireEngine(*this, firstTimeout, nextTimeout);
        port.opTable = ScriptedCameraTable(&camera);
        port.SetReceiveCallback(&clCommunicateModel::OnReceiveData, &engine);
        port.Init();
        port.Connect();
        engine.MarkConnected();
    }
    ~EngineRig() {
        engine.StopWorker();
        port.Disconnect();
        port.Uninit();
    }

    std::string LogText() { return ::LogText(log.FilePath()); }
};
