// An in-process camera for tests and benchmarks: a port whose receive thread answers every
// command from a script, with chosen delays and byte chunks, through the real receive
// delivery of clCamPort. It is reached through a PortOpTable, as a plug-in port would be.
#pragma once

#include "port/CamPort.h"
#include "support/Deadline.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class clScriptedCamera : public clCamPort {
public:
    using Clock = std::chrono::steady_clock;
    // bytes delivered delayMs after the previous chunk (the first: after the command).
    struct Chunk {
        int delayMs;
        std::string bytes;
    };
    using Answer = std::vector<Chunk>;

    explicit clScriptedCamera(clCamCtrl* ctrl = nullptr) : clCamPort(ctrl) {}
    ~clScriptedCamera() override { UninitReceive(); }

    // The answer to the next command not yet answered; commands beyond the script get none.
    void Expect(Answer answer) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_script.push_back(std::move(answer));
    }
    // Bytes that arrive on their own, delayMs from now.
    void Inject(std::string bytes, int delayMs = 0) {
        Schedule(Clock::now() + std::chrono::milliseconds(delayMs), std::move(bytes));
    }
    // Every byte the host sent.
    std::string Wire() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_wire;
    }
    int Commands() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_commands;
    }
    // Waits until n commands have arrived (deadlines as in support/Deadline.h).
    bool WaitForCommands(int n, int timeoutMs = 5000) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, std::chrono::milliseconds(ScaledMs(timeoutMs)),
                                  [&] { return m_commands >= n; });
    }
    // Waits until everything scheduled has been delivered.
    bool WaitDelivered(int timeoutMs = 5000) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, std::chrono::milliseconds(ScaledMs(timeoutMs)),
                                  [&] { return m_due.empty(); });
    }

    int32_t sendResult = 0; // what SendData returns
    int initCalls = 0, uninitCalls = 0;

    void LoadSettings() override {}
    int32_t Init() override {
        ++initCalls;
        LoadSettings();
        return InitReceive();
    }
    void Uninit() override {
        ++uninitCalls;
        UninitReceive();
    }
    int32_t Reserved() override { return 0; }
    int32_t Connect() override {
        if (openFlag)
            return PORT_ERROR;
        openFlag = 1;
        return StartReceiveThread([this] { ReceiveLoop(); });
    }
    void Disconnect() override {
        if (!openFlag)
            return;
        StopReceiveThread();
        openFlag = 0;
    }
    int32_t SendData(const uint8_t* bytes, uint32_t length) override {
        if (sendResult != 0)
            return sendResult;
        Answer answer;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_wire.append(reinterpret_cast<const char*>(bytes), length);
            ++m_commands;
            if (!m_script.empty()) {
                answer = std::move(m_script.front());
                m_script.erase(m_script.begin());
            }
            m_changed.notify_all();
        }
        auto at = Clock::now();
        for (Chunk& c : answer) {
            at += std::chrono::milliseconds(c.delayMs);
            Schedule(at, std::move(c.bytes));
        }
        return 0;
    }
    uint32_t GetBaudRate() override { return 9600; }

private:
    void Schedule(Clock::time_point at, std::string bytes) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_due.emplace(at, std::move(bytes));
        }
        m_wake.Set();
    }

    void ReceiveLoop() {
        for (;;) {
            int64_t waitMs = 1000;
            std::vector<std::string> ready;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                const auto now = Clock::now();
                while (!m_due.empty() && m_due.begin()->first <= now) {
                    ready.push_back(std::move(m_due.begin()->second));
                    m_due.erase(m_due.begin());
                }
                if (!m_due.empty())
                    waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 m_due.begin()->first - now)
                                 .count() +
                             1;
            }
            for (const std::string& bytes : ready)
                DeliverReceived(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            if (!ready.empty()) {
                std::lock_guard<std::mutex> guard(m_lock);
                m_changed.notify_all();
                continue;
            }
            if (platform::WaitForAny({stopEvent.get(), &m_wake}, waitMs) == 0)
                return;
        }
    }

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Answer> m_script;
    std::multimap<Clock::time_point, std::string> m_due;
    std::string m_wire;
    int m_commands = 0;
    platform::Event m_wake{platform::Event::Reset::Auto};
};

// The PortOpTable of one scripted camera (one at a time per process).
inline clScriptedCamera*& ScriptedCameraInstance() {
    static clScriptedCamera* instance = nullptr;
    return instance;
}

inline PortOpTable* ScriptedCameraTable(clScriptedCamera* camera) {
    ScriptedCameraInstance() = camera;
    static PortOpTable table = {
        [] { return ScriptedCameraInstance()->Init(); },
        [] { ScriptedCameraInstance()->Uninit(); },
        [] { return ScriptedCameraInstance()->Connect(); },
        [] { ScriptedCameraInstance()->Disconnect(); },
        [](const uint8_t* b, uint32_t n) { return ScriptedCameraInstance()->SendData(b, n); },
        [](ReceiveCallback cb, void* user) {
            return ScriptedCameraInstance()->SetReceiveCallback(cb, user);
        },
        [](int32_t ms) { return ScriptedCameraInstance()->SetSendTimeout(ms); },
        [](int32_t* ms) { return ScriptedCameraInstance()->GetSendTimeout(ms); },
        [] { return ScriptedCameraInstance()->IsConnected(); },
        [] { return ScriptedCameraInstance()->GetBaudRate(); },
    };
    return &table;
}
