// clCommunicateModel: the communication engine. All traffic with the camera runs on one worker
// thread, one job at a time; every command of a job is one command transaction. The engine
// holds what the worker thread, the port's receive thread and the client's thread share, and
// reports what happens through its client's events (comm/EngineEvents.h).
//
// Threads: the client's thread (the window's user-interface thread, quillon-cli's main thread)
// submits jobs, cancels, disconnects and shuts down; the worker runs the jobs; the port's
// receive thread delivers bytes (OnReceiveData). Events come from the worker, except
// BytesReceived (receive thread) and StateChanged (any).
#pragma once

#include "comm/BatchJob.h"
#include "comm/CamPropertyCommandSource.h"
#include "comm/EngineContext.h"
#include "comm/EngineEvents.h"
#include "comm/ReplyCollector.h"
#include "comm/RingBuffer.h"
#include "comm/TrafficLog.h"
#include "comm/TransactionCodes.h"
#include "platform/Event.h"
#include "platform/Thread.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class clCamPropertyMgr;

// The parameters of the next job and the flags the job shares with the reply-line handling.
// The engine owns it; the client thread fills it only through the submit verbs and the worker
// reads it after the job event.
class clJobMailbox {
public:
    // Client thread, through the submit verbs.
    void Post(JobKind kind) { m_jobKind = kind; }
    JobKind Kind() const { return m_jobKind; }

    // The auto-select query: requested by the submit verb, cleared by the job after its
    // transaction; a model line taken from the reply marks the model detected.
    void RequestAutoSelect() {
        m_autoSelectRequest = true;
        m_modelDetected = false;
    }
    bool AutoSelectRequested() const { return m_autoSelectRequest; }
    void ClearAutoSelect() { m_autoSelectRequest = false; }
    void NoteModelDetected() { m_modelDetected = true; }
    bool ModelDetected() const { return m_modelDetected; }

    // Received bytes the console has not shown yet (any thread).
    int64_t ConsoleBacklog() const { return m_consoleBacklog; }
    void SetConsoleBacklog(int64_t backlog) { m_consoleBacklog = backlog; }

    // The job's parameters: batch lines (JOB_BATCH), the command text (JOB_SINGLE_COMMAND) and
    // the property record (JOB_PROPERTY; owned by the property manager).
    std::vector<std::u16string>& BatchLines() { return m_batchLines; }
    std::u16string& CommandText() { return m_commandText; }
    const clCamProperty*& Property() { return m_property; }

private:
    std::atomic<JobKind> m_jobKind{JOB_NONE};
    std::vector<std::u16string> m_batchLines;
    std::u16string m_commandText;
    const clCamProperty* m_property = nullptr;
    std::atomic<bool> m_autoSelectRequest{false};
    std::atomic<bool> m_modelDetected{false};
    std::atomic<int64_t> m_consoleBacklog{0};
};

class clCommunicateModel {
public:
    static constexpr uint32_t kNoTimeLimit = 4294967295u;
    // The longest a wait of a transaction or a pause goes without looking at its events.
    static constexpr int64_t kPollMs = 50;
    // The default pause after each command of property and batch jobs.
    static constexpr uint32_t kDefaultCommandGapMs = 50;
    static constexpr int64_t kThreadStopTimeoutMs = platform::kThreadStopTimeoutMs;
    // More reply lines than any camera sends; further lines of one reply are dropped.
    static constexpr size_t kMaxReplyLines = 65536;

    // Runs pending user-interface work while the client thread waits for the worker, so that
    // an event the worker is delivering to the window is still answered.
    using Pump = std::function<void()>;

    explicit clCommunicateModel(clEngineContext& context);
    // Stops the worker thread when it still runs.
    virtual ~clCommunicateModel();
    clCommunicateModel(const clCommunicateModel&) = delete;
    clCommunicateModel& operator=(const clCommunicateModel&) = delete;

    // --- The client -------------------------------------------------------------------
    // The client's events (null: none); set while no job runs.
    void SetEvents(IEngineEvents* events) { m_gate.SetEvents(events); }
    // Reopens the way to the events after a ShutDown (a window that comes after another).
    void OpenEvents() { m_gate.Open(); }
    // Submitting a job: refused with a SUBMIT_ code unless the engine is connected and ready
    // (no job running or waiting) and the worker can take it.
    // A single command (JOB_SINGLE_COMMAND). With autoSelect the auto-select query is
    // requested (the model not yet detected).
    int32_t SubmitCommandJob(std::u16string_view command, bool autoSelect = false);
    // A property job (JOB_PROPERTY) for the record named by the definition's load generation
    // and its index (clCamPropertyMgr::NameOf), through RunPropertyJob.
    int32_t SubmitPropertyJob(uint64_t generation, uint32_t index);
    // The property job of a record of the loaded definition: when the property asks for
    // confirmation the user is asked first (the events' Ask) unless confirmed; then it is
    // submitted.
    int32_t RunPropertyJob(const clCamProperty* property, bool confirmed = false);
    // A batch job (JOB_BATCH) of the given lines (textfiles/BatchText.h cuts a file into them).
    int32_t SubmitBatchJob(std::vector<std::u16string> lines);
    // Cancel receiving (any thread): the running transaction, or a send that cannot go out,
    // ends within one poll as cancelled.
    void CancelReceiving();
    // The port's device went away (any thread): the running transaction ends within one poll,
    // reported as lost with the device; nothing more is sent until the next MarkConnected.
    void PortLost(const std::u16string& device);
    // After a successful connect: ring reset, phase 0, timer off, connected.
    void MarkConnected();
    // Closes the connection. A running job is cancelled first (a send under way is aborted)
    // and allowed to run its end; pump runs while waiting, at most kThreadStopTimeoutMs. Then
    // the port is closed, phase -1, not connected. A second call while one runs does nothing.
    void DisconnectCamera(const Pump& pump = {});
    // Waits (pumping) until no job runs or waits for the worker. True when idle.
    bool WaitUntilIdle(const Pump& pump, int64_t timeoutMs = kThreadStopTimeoutMs);
    // Shutdown: cancels a running job (aborting a send under way), sets the stop event and waits
    // at most timeoutMs for the worker (pumping), then closes the way to the events: none
    // reaches the client afterwards. True when the worker has ended; a worker still running is
    // left running (logged) and whatever it uses must then be kept alive by the owner.
    bool ShutDown(const Pump& pump, int64_t timeoutMs = kThreadStopTimeoutMs);

    // The reply-line handling's side of the auto-select query (client thread, while the worker
    // waits in TransactionEnded): whether it was asked for, and that a model line came.
    bool AutoSelectRequested() const { return m_mailbox.AutoSelectRequested(); }
    void NoteModelDetected() { m_mailbox.NoteModelDetected(); }
    // What the console could not show at its last flush (the console pause waits while some is
    // left).
    void SetConsoleBacklog(int64_t bytes) { m_mailbox.SetConsoleBacklog(bytes); }
    int64_t ConsoleBacklog() const { return m_mailbox.ConsoleBacklog(); }

    // --- State (any thread reads; for enable rules and display) ---------------------------
    bool IsReady() const {
        return m_busy == 0 && m_phase == PHASE_IDLE && !m_jobPending && !m_closing;
    }
    bool IsConnected() const { return m_connected != 0; }
    // A job runs, or was submitted and waits for the worker.
    bool IsBusy() const { return m_busy != 0 || m_jobPending; }
    int32_t Phase() const { return m_phase; }
    bool AppendsCR() const { return m_appendCR != 0; }
    // The receive ring (the port's receive thread writes, the readers take).
    clRingBuffer& Ring() { return m_ring; }
    // The camera definition and the property values. The client changes the definition only
    // while no job runs.
    clCamPropertyMgr& PropertyManager() { return *m_propertyManager; }
    const clCamPropertyMgr& PropertyManager() const { return *m_propertyManager; }
    // The camera's identity lines, kept by the reply-line handling (client thread).
    const std::u16string& CameraModel() const { return m_cameraModel; }
    const std::u16string& CameraVersion() const { return m_cameraVersion; }
    const std::u16string& CameraSerial() const { return m_cameraSerial; }
    CameraIdentity Identity() const { return {m_cameraModel, m_cameraVersion, m_cameraSerial}; }
    void SetCameraIdentity(std::u16string model, std::u16string version, std::u16string serial);
    void SetCameraModel(std::u16string model) { m_cameraModel = std::move(model); }
    void SetCameraVersion(std::u16string version) { m_cameraVersion = std::move(version); }
    void SetCameraSerial(std::u16string serial) { m_cameraSerial = std::move(serial); }
    clEngineContext& Context() { return m_context; }

    // --- Set-up (client thread, while no job runs) --------------------------------------
    void SetReceiveTimeouts(uint32_t first, uint32_t next) {
        m_firstReceiveTimeout = first;
        m_nextReceiveTimeout = next;
    }
    uint32_t FirstReceiveTimeout() const { return m_firstReceiveTimeout; }
    uint32_t NextReceiveTimeout() const { return m_nextReceiveTimeout; }
    // The pause after each command of property and batch jobs, in milliseconds (0: none).
    void SetCommandGap(uint32_t ms) { m_commandGap = ms; }
    uint32_t CommandGap() const { return m_commandGap; }
    // Property jobs look at the definition through it (the manager's own by default).
    void SetPropertySource(IPropertyCommandSource* source) { m_propertySource = source; }
    clCamPropertyCommandSource& ManagerCommands() { return *m_managerCommands; }
    // The traffic log of every transaction; closed until someone opens it (any thread).
    clTrafficLog& Traffic() { return m_traffic; }
    // Signalled while a send should give up at once (cancel, loss, disconnect, shutdown); a
    // port that can watch it (the built-in serial port) does, so a send that cannot go out
    // never holds the worker past one poll.
    const platform::Event& SendAbortEvent() const { return m_sendAbort; }

    // --- Port receive thread -----------------------------------------------------------
    // The ReceiveCallback of the connected port; user is this engine.
    static void OnReceiveData(const uint8_t* bytes, uint32_t length, void* user);

    // --- Worker thread -----------------------------------------------------------------
    bool StartWorker();
    // Sets the stop event and waits at most timeoutMs for the worker. A worker still running
    // then is left running (logged), never killed. True when it has ended.
    bool StopWorker(int64_t timeoutMs = kThreadStopTimeoutMs);
    bool WorkerExists() const { return m_worker.Exists(); }
    // True while the worker's body runs (also after a join gave up on it).
    bool WorkerRunning() const { return m_worker.Running(); }

private:
    friend class clCommunicateModelProbe; // tests drive single steps and set states directly

    // What CheckStopOrCancel saw; kNoInterruption is 0, so the result reads as "anything seen".
    enum Interruption : int { kNoInterruption = 0, kStopSeen = 1, kCancelSeen = 2 };

    // The thread procedure; returns when the stop event is seen.
    void WorkerLoop();
    // Runs the job of the mailbox's job kind. True when it saw the stop event.
    bool RunJob(JobKind kind, JobReport& report);
    void RunSingleCommandJob(bool& stopFlag, JobReport& report);
    void RunPropertyCommands(bool& stopFlag, JobReport& report);
    void RunBatchJob(bool& stopFlag, JobReport& report);
    void JobStartFrame(JobKind kind);
    void JobEndFrame();
    // One command: transaction, classification, the report, and the error box when the
    // transaction failed (unless reportError is false: the caller reports it itself).
    int32_t CommandStep(bool& stopFlag, std::u16string_view command, JobReport& job,
                        bool reportError = true);
    // Between commands: console flush, then 50 ms more while the console has a backlog.
    void ConsolePause();
    // Checks the stop and cancel events without waiting: kStopSeen sets stopFlag; kCancelSeen
    // also while the connection is being closed or its device was lost.
    Interruption CheckStopOrCancel(bool& stopFlag);
    // Waits ms; true (and stopFlag set) when the stop event came first.
    bool PauseOrStop(int64_t ms, bool& stopFlag);
    // The command gap after a command of a property or batch job. True (and stopFlag set) on
    // the stop event. A cancel ends the gap early and stays signalled for the next check.
    bool CommandGapPause(bool& stopFlag);
    // How a job that ended on result and stop ended.
    JobOutcome OutcomeOf(int32_t result, bool stopFlag) const;

    // --- Command transaction (worker thread)
    int32_t RunTransaction(bool& stopFlag, std::u16string_view command);
    // The start of every transaction before its command goes out: status 1, phase 1, reply
    // code -1, no reply lines, and the transaction reader past every byte received so far.
    void BeginTransaction();
    // The command has gone out: phase 2 and the first-receive timer.
    void AwaitReply();
    int32_t ReceiveReply(bool& stopFlag);
    // One chunk of ReceiveReply: takes the pending bytes of the transaction reader.
    // True at EOT (result 0, status 4).
    bool TakeReplyBytes();
    void RestartReceiveTimer();
    void ClassifyReply();
    // The message box of a transaction that ended without the reply: a time-out, or a send
    // that failed. A cancelled or lost transaction shows none.
    void ReportTransactionError();
    // The report of the transaction that just ended.
    TransactionReport TakeReport(int32_t result);

    // Phase changes of a transaction; none of them leaves "not connected", so a transaction
    // that ends after the disconnect never makes the engine look ready.
    void MovePhase(int32_t to);
    int32_t Refusal() const;
    int32_t Hand(JobKind kind);
    // Ends a send under way (cancel, loss, disconnect, shutdown); a port that cannot watch the
    // abort event is disconnected under the send when it has not ended within one poll.
    void AbortSend();
    bool InterruptRequested() const;
    void NotifyStateChanged();
    // Waits (pumping) until the worker is no longer in a send; the port is disconnected under
    // a send that outlasts one poll. True when no send is under way.
    void EndSendUnderWay(const Pump& pump);

    std::atomic<int32_t> m_connected{0};
    int32_t m_lastSendResult = 0;
    std::string m_commandBytes;
    uint64_t m_commandLength = 0;
    std::atomic<int32_t> m_phase{PHASE_NOT_CONNECTED};
    std::atomic<int32_t> m_status{0};
    clRingBuffer m_ring;
    std::atomic<int32_t> m_busy{0};
    int32_t m_appendCR = 1;
    platform::Event m_cancelEvent{platform::Event::Reset::Auto};
    platform::Event m_sendAbort{platform::Event::Reset::Manual};
    platform::DeadlineTimer m_receiveTimer;
    std::atomic<uint32_t> m_firstReceiveTimeout{20000};
    std::atomic<uint32_t> m_nextReceiveTimeout{20000};
    std::atomic<uint32_t> m_commandGap{kDefaultCommandGapMs};
    std::deque<std::u16string> m_replyLines;
    std::mutex m_replyLinesLock;
    std::atomic<int32_t> m_replyCode{kNoReplyCode};
    std::u16string m_refusal; // why the last transaction's text was not sent (worker thread)
    std::u16string m_cameraModel;
    std::u16string m_cameraVersion;
    std::u16string m_cameraSerial;
    std::unique_ptr<clCamPropertyMgr> m_propertyManager;
    std::unique_ptr<clCamPropertyCommandSource> m_managerCommands;
    IPropertyCommandSource* m_propertySource = nullptr;
    clJobMailbox m_mailbox;
    // A job was submitted and the worker has not taken it yet.
    std::atomic<bool> m_jobPending{false};
    // The connection is being closed: every transaction ends as cancelled, nothing is sent.
    std::atomic<bool> m_closing{false};
    // The device the port lost (guarded by m_lostLock); empty while the connection stands.
    mutable std::mutex m_lostLock;
    std::u16string m_lostDevice;
    std::atomic<bool> m_lost{false};
    // The running transaction: its command and when it went out.
    std::u16string m_command;
    std::chrono::steady_clock::time_point m_sentAt{};

    clEngineContext& m_context;

    platform::Thread m_worker;
    clReplyCollector m_collector;
    clEventGate m_gate;
    clTrafficLog m_traffic;
};
