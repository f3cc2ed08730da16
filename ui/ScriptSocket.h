// CScriptSocket: the window's scripting socket. Scripts speak the protocol of quillon-cli serve
// (docs/serve-protocol.md) to the camera the window holds, beside the operator.
//
// Threads: the listener's thread (app/ScriptListener.h) takes the clients' lines and hands them
// to the user-interface thread (through the frame's Deliver), where everything else happens.
// Requests that need no camera are answered there at once. The others run as jobs of the
// window's own engine, one at a time and one job at a time with the operator's: a request is a
// short chain of jobs, each submitted when the engine is ready and advanced when its JobEnded
// arrives. The engine's events reach this class on the worker thread (the frame forwards them);
// the reports of a job the socket submitted are collected, and its end is handed to the
// user-interface thread.
#pragma once

#include "app/ScriptListener.h"
#include "app/ScriptMethods.h"
#include "app/ServeRequest.h"
#include "comm/EngineEvents.h"

#include <QObject>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QTimer;
class clApplication;

class CScriptSocket : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        // Runs call on the user-interface thread (any thread), unless the window is going.
        std::function<void(std::function<void()>)> deliver;
        // The number of scripts connected changed (user-interface thread).
        std::function<void(size_t)> countChanged;
        // A line for the log (user-interface thread).
        std::function<void(const std::u16string&)> log;
        // A value stored or carried by replies: the property view shows the values again.
        std::function<void()> valuesChanged;
        // Whether a commit of the operator waits for the engine: it goes before a script's
        // next job.
        std::function<bool()> operatorWaiting;
    };

    CScriptSocket(clApplication& app, Hooks hooks, QObject* parent = nullptr);
    ~CScriptSocket() override;

    // Listens at path (its folder made 0700 when missing). False with error.
    bool Start(const std::string& path, std::string& error);
    // Stops listening: every script is disconnected, a running request is left to its job (its
    // answer goes nowhere), and the socket file is removed.
    void Stop();
    bool Listening() const { return m_listener.Listening(); }
    size_t ScriptCount() const { return m_clients.size(); }

    // ---- the engine's events, worker thread (forwarded by the frame)
    void JobStarted();
    void TransactionEnded(const TransactionReport& report);
    void BatchProgressed(const BatchProgress& progress);
    void JobEnded(const JobReport& report);
    // ---- the session, user-interface thread (forwarded by the frame): scripts that subscribed
    // to "port" hear of it
    void PortLost(const std::u16string& device);
    void PortReturned(const std::u16string& device, const CameraIdentity& identity);

    // Whether a question of the engine belongs to a script's job: it is then answered without a
    // box (the script confirmed what it asked for). On the user-interface thread a question
    // comes from a submit (the script's own while it submits); on the worker, from the job.
    bool AnswersQuestions(bool uiThread) const { return uiThread ? m_submitting : m_owning; }

private:
    struct ClientState {
        size_t inFlight = 0; // lines queued or running
        std::set<std::string> events;
    };
    // A line of one client and how far it has been answered, or a round of one of its watches.
    struct Work {
        uint64_t client = 0;
        serve::Line line;
        size_t next = 0; // the entry to run next
        nlohmann::json responses = nlohmann::json::array();
        uint64_t watch = 0; // a round of this watch (the line is empty)
    };
    using Failure = serve::Failure;
    // A step of an operation done on this thread: nothing was submitted to the engine.
    static constexpr int32_t kRanHere = -1;
    // A request that waits its turn: its jobs run in order; after each, its follow-up (the
    // values of a set) runs; at the end, its result.
    struct Operation {
        serve::Request request;
        // Each submits one job (a SUBMIT_ code) or does its step at once (kRanHere).
        std::vector<std::function<int32_t()>> jobs;
        bool needsPort = true; // the window must be connected
        bool needsIdle = true; // a step waits until the engine runs no job
        std::function<void(size_t job)> afterJob;
        std::function<nlohmann::json()> result;
        // A job's end as the request sees it beyond the common rules (load's outcome and
        // verification): may set or amend the failure.
        std::function<void(const JobReport&, std::optional<Failure>&)> judge;
        size_t job = 0;
        nlohmann::json transactions = nlohmann::json::array();
        std::vector<size_t> steps; // the batch step of each transaction (load)
        nlohmann::json extra = nlohmann::json::object(); // added to a failure's data
        bool cancelled = false;
    };

    // ---- user-interface thread
    void OnConnected(uint64_t client);
    void OnLine(uint64_t client, serve::Line line);
    void OnGone(uint64_t client);
    void Pump();
    void Advance();
    void FinishEntry(nlohmann::json response);
    // The answer to a request that needs no camera, or null when it needs one (op is then set).
    nlohmann::json RunAtOnce(uint64_t client, const serve::Request& r,
                             std::unique_ptr<Operation>* op);
    nlohmann::json Dispatch(uint64_t client, const serve::Request& r,
                            std::unique_ptr<Operation>* op);
    void SubmitNext();
    void OnJobEnded(const JobReport& report, const std::vector<TransactionReport>& reports,
                    const std::vector<size_t>& steps);
    static std::optional<Failure> Judge(const Operation& op, const JobReport& report,
                                        const std::vector<TransactionReport>& reports);
    void EndOperation(nlohmann::json response);

    // ---- the methods
    nlohmann::json Cancel(uint64_t client);
    nlohmann::json Subscribe(uint64_t client, const nlohmann::json& p);
    std::unique_ptr<Operation> Send(const nlohmann::json& p);
    std::unique_ptr<Operation> Set(const nlohmann::json& p);
    std::unique_ptr<Operation> Execute(const nlohmann::json& p);
    std::unique_ptr<Operation> Identify();
    std::unique_ptr<Operation> Load(const nlohmann::json& p);
    std::unique_ptr<Operation> Save(const nlohmann::json& p);
    std::unique_ptr<Operation> Check(const nlohmann::json& p);
    nlohmann::json Watch(uint64_t client, const nlohmann::json& p);
    nlohmann::json Unwatch(uint64_t client, const nlohmann::json& p);
    // A round of a watch: its job, then the values for its notification.
    std::unique_ptr<Operation> Round(const serve::WatchPlan& plan);
    // Queues the rounds that are due and sets the timer for the next.
    void QueueRounds();
    // The traffic log tells the socket its lines while a script subscribed to "traffic".
    void ListenToTraffic();
    void NeedDefinition() const;
    void NeedPort() const;
    void Notify(const std::string& event, const std::string& method, const nlohmann::json& params);

    clApplication& m_app;
    Hooks m_hooks;
    clScriptListener m_listener;
    std::map<uint64_t, ClientState> m_clients;
    std::deque<Work> m_queue;
    std::unique_ptr<Work> m_work;    // the line being answered
    std::unique_ptr<Operation> m_op; // its request that needs the camera
    bool m_waitingForJob = false;    // m_op's job was submitted and has not ended
    bool m_waitingForEngine = false; // m_op's next job waits for another job to end

    // The socket's job: armed before a submit, owned from its JobStarted to its JobEnded.
    std::atomic<bool> m_submitting{false};
    std::atomic<bool> m_armed{false};
    std::atomic<bool> m_owning{false};
    std::mutex m_reportLock;
    std::vector<TransactionReport> m_reports; // of the owned job
    std::vector<size_t> m_reportSteps;        // the batch step each of them ran in
    std::atomic<size_t> m_step{0};
    // The batch file's line of each step of a running load (user-interface thread).
    std::vector<size_t> m_loadLines;

    // What the scripts watch: each round is queued as a line is, runs an Execution property or
    // sends a command, and tells its script the values of the names. Names, not records: the
    // operator may open another definition meanwhile.
    struct WatchRound {
        uint64_t id = 0;
        uint64_t client = 0;
        serve::WatchPlan plan;
        std::chrono::steady_clock::time_point due;
        bool queued = false; // a round waits or runs: the next is not queued before it ends
    };
    std::vector<WatchRound> m_watches;
    uint64_t m_lastWatch = 0;
    QTimer* m_roundTimer = nullptr;
    bool m_listeningToTraffic = false;
    // Cleared when the socket goes: calls still queued for the user-interface thread then do
    // nothing.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
