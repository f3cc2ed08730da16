// A connected engine for tests: the real engine, ring, forwarding port and worker thread,
// talking to an in-process scripted camera, with a UI target that records every message.
#pragma once

#include "base/Messages.h"
#include "base/SimpleLog.h"
#include "comm/CommunicateModel.h"
#include "comm/WatchThread.h"
#include "support/Deadline.h"
#include "support/LogText.h"
#include "support/ScriptedCamera.h"
#include "support/TempDir.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

struct UiRecord {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
    bool posted;
};

class RecordingUi : public IUiTarget {
public:
    explicit RecordingUi(clEngineContextStore& ctx) : m_ctx(ctx) {}

    clCommunicateModel* engine = nullptr;
    int32_t boxAnswer = IDOK;
    // Runs inside the handler of a sent message, on the sending thread.
    std::function<void(uint32_t msg)> onSend;

    intptr_t SendUiMessage(uint32_t msg, uintptr_t w, intptr_t l) override {
        // What the main window reads while the sender is blocked.
        if (msg == UM_MESSAGE_BOX) {
            std::lock_guard<std::mutex> g(m_lock);
            boxes.push_back(m_ctx.messageBoxText);
            m_ctx.messageBoxResult = boxAnswer;
        } else if (msg == UM_CONSOLE_ECHO) {
            std::lock_guard<std::mutex> g(m_lock);
            echoes.push_back(engine->Mailbox().m_lastCommandText);
        } else if (msg == UM_SHOW_RESULT && engine) {
            std::lock_guard<std::mutex> g(m_lock);
            results.push_back({engine->Status(), engine->ReplyCode()});
        } else if (msg == UM_DRAIN_REPLIES && engine) {
            std::u16string line;
            while (engine->TakeReplyLine(line)) {
                std::lock_guard<std::mutex> g(m_lock);
                drained.push_back(line);
            }
        }
        if (onSend)
            onSend(msg);
        Record({msg, w, l, false});
        return 0;
    }
    void PostUiMessage(uint32_t msg, uintptr_t w, intptr_t l) override {
        Record({msg, w, l, true});
    }

    std::vector<UiRecord> Records() {
        std::lock_guard<std::mutex> g(m_lock);
        return records;
    }
    std::vector<uint32_t> Messages() {
        std::vector<uint32_t> out;
        for (const UiRecord& r : Records())
            out.push_back(r.msg);
        return out;
    }
    // Waits until msg has been recorded `count` times (a deadline scaled as every other).
    bool WaitFor(uint32_t msg, int count = 1, int timeoutMs = 5000) {
        std::unique_lock<std::mutex> g(m_lock);
        return m_changed.wait_for(g, std::chrono::milliseconds(ScaledMs(timeoutMs)), [&] {
            int n = 0;
            for (const UiRecord& r : records)
                n += r.msg == msg;
            return n >= count;
        });
    }
    void Clear() {
        std::lock_guard<std::mutex> g(m_lock);
        records.clear();
        boxes.clear();
        echoes.clear();
        results.clear();
        drained.clear();
    }

    std::vector<UiRecord> records;
    std::vector<std::u16string> boxes;
    std::vector<std::u16string> echoes;
    std::vector<std::pair<int32_t, int32_t>> results; // status, reply code
    std::vector<std::u16string> drained;

private:
    void Record(UiRecord r) {
        std::lock_guard<std::mutex> g(m_lock);
        records.push_back(r);
        m_changed.notify_all();
    }

    clEngineContextStore& m_ctx;
    std::mutex m_lock;
    std::condition_variable m_changed;
};

// Wires the engine of a rig to the rig's parts as the program does; every rig names them alike.
template <class Rig>
void WireEngine(Rig& rig, uint32_t firstTimeout, uint32_t nextTimeout) {
    rig.ctx.ui = &rig.ui;
    rig.ctx.log = &rig.log;
    rig.ctx.stopEvent = &rig.stopEvent;
    rig.ctx.jobEvent = &rig.jobEvent;
    rig.ctx.currentPort = &rig.port;
    rig.ui.engine = &rig.engine;
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
    RecordingUi ui{ctx};
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
