// clCommunicateModel: the communication engine. All traffic with the camera runs on one worker
// thread, one job at a time; every command of a job is one command transaction. The engine
// holds what the worker thread, the port's receive thread and the user-interface thread share.
// The worker never touches a window: it reports through the UM_ messages of the context.
#pragma once

#include "comm/CamPropertyCommandSource.h"
#include "comm/EngineContext.h"
#include "comm/ReplyCollector.h"
#include "comm/RingBuffer.h"
#include "comm/TrafficLog.h"
#include "comm/TransactionCodes.h"
#include "platform/Event.h"
#include "platform/Thread.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class clCamPropertyMgr;

// The parameters of the next job and the flags the job shares with the window. The engine owns
// it; the UI thread fills it only through the submit verbs, the worker reads it after the job
// event, and the window reads the last command text inside UM_CONSOLE_ECHO (the worker waits
// in that send).
class clJobMailbox {
public:
    std::atomic<JobKind> m_jobKind{JOB_NONE};
    clCommJobParam m_jobParam;
    std::atomic<int32_t> m_autoSelectRequest{0};
    std::atomic<int32_t> m_modelDetected{0};
    std::u16string m_lastCommandText;

    // Received bytes the console has not shown yet (any thread).
    int64_t ConsoleBacklog() {
        std::lock_guard<std::mutex> guard(m_appLock);
        return m_consoleBacklog;
    }
    void SetConsoleBacklog(int64_t backlog) {
        std::lock_guard<std::mutex> guard(m_appLock);
        m_consoleBacklog = backlog;
    }

private:
    std::mutex m_appLock;
    int64_t m_consoleBacklog = 0;
};

class clCommunicateModel {
public:
    static constexpr uint32_t kNoTimeLimit = 4294967295u;
    // The longest a wait of a transaction or a pause goes without looking at its events.
    static constexpr int64_t kPollMs = 50;
    // The default pause after each command of property and batch jobs.
    static constexpr uint32_t kDefaultCommandGapMs = 50;
    static constexpr int64_t kThreadStopTimeoutMs = 5000;
    // More reply lines than any camera sends; further lines of one reply are dropped.
    static constexpr size_t kMaxReplyLines = 65536;

    // Runs a batch job (JOB_BATCH) with the engine's frame and command step; set by the batch
    // text load. True when it saw the stop event.
    using BatchJobRunner = std::function<bool(clCommunicateModel& engine)>;
    // Runs pending user-interface work while the UI thread waits for the worker, so that a
    // message the worker is sending to the window is still answered.
    using Pump = std::function<void()>;
    // What the window is told without a message of its own, so that it has nothing to poll:
    // bytes were received (port receive thread), or the state its enable rules read changed
    // (worker or UI thread). The listener must return at once (post, never wait).
    enum class Activity { kReceived, kStateChanged };
    using ActivityListener = std::function<void(Activity)>;

    explicit clCommunicateModel(clEngineContext& context);
    // Stops the worker thread when it still runs.
    virtual ~clCommunicateModel();
    clCommunicateModel(const clCommunicateModel&) = delete;
    clCommunicateModel& operator=(const clCommunicateModel&) = delete;

    // --- Verbs of the user-interface thread -------------------------------------------
    // Submitting a job: refused with a SUBMIT_ code unless the engine is connected and ready
    // (no job running or waiting) and the worker can take it.
    // A single command (JOB_SINGLE_COMMAND). With autoSelect the auto-select request flag is set
    // and the model-detected flag cleared first.
    int32_t SubmitCommandJob(std::u16string_view command, bool autoSelect = false);
    // A property job (JOB_PROPERTY) for the record named by the definition's load generation and
    // its index (clCamPropertyMgr::NameOf); the confirmation, when the property asks for it,
    // is asked first.
    int32_t SubmitPropertyJob(uint64_t generation, uint32_t index);
    // The same for a record already known to be of the loaded definition.
    int32_t SubmitPropertyJob(const clCamProperty* property);
    // A batch job (JOB_BATCH) of the given lines.
    int32_t SubmitBatchJob(std::vector<std::u16string> lines);
    // Cancel receiving (any thread): the running transaction ends within one poll.
    void CancelReceiving() { cancelEvent.Set(); }
    // After a successful connect: ring reset, phase 0, timer off, connected.
    void MarkConnected();
    // Closes the connection. A running job is cancelled first and allowed to run its end
    // frame (the result shows the cancel, no message box); pump runs while waiting, at most
    // kThreadStopTimeoutMs. Then the port is closed, phase -1, not connected. A second call
    // while one runs does nothing.
    void DisconnectCamera(const Pump& pump = {});
    // Waits (pumping) until no job runs or waits for the worker. True when idle.
    bool WaitUntilIdle(const Pump& pump, int64_t timeoutMs = kThreadStopTimeoutMs);
    // Shutdown: cancels a running job, sets the stop event and waits at most timeoutMs for the
    // worker (pumping), then closes the way to the window: no message reaches it afterwards.
    // True when the worker has ended; a worker still running is left running (logged) and
    // whatever it uses must then be kept alive by the owner.
    bool ShutDown(const Pump& pump, int64_t timeoutMs = kThreadStopTimeoutMs);

    // Takes the next remaining reply line (UM_DRAIN_REPLIES). False when there is none.
    bool TakeReplyLine(std::u16string& line);

    // --- State (any thread reads) -----------------------------------------------------
    bool IsReady() const { return busy == 0 && phase == PHASE_IDLE && !m_jobPending && !m_closing; }
    bool IsConnected() const { return connected != 0; }
    // A job runs, or was submitted and waits for the worker.
    bool IsBusy() const { return busy != 0 || m_jobPending; }
    int32_t Busy() const { return busy; }
    int32_t Phase() const { return phase; }
    int32_t Status() const { return status; }
    int32_t ReplyCode() const { return replyCode; }
    int32_t LastSendResult() const { return lastSendResult; }
    uint64_t CommandLength() const { return commandLength; }
    bool AppendsCR() const { return appendCR != 0; }
    // The receive ring (the port's receive thread writes, the readers take).
    clRingBuffer& Ring() { return ring; }
    // The camera definition and the property values. The UI thread changes the definition
    // only while no job runs.
    clCamPropertyMgr& PropertyManager() { return *propertyManager; }
    const clCamPropertyMgr& PropertyManager() const { return *propertyManager; }
    // The camera's identity lines, kept by the UI thread.
    const std::u16string& CameraModel() const { return cameraModel; }
    const std::u16string& CameraVersion() const { return cameraVersion; }
    const std::u16string& CameraSerial() const { return cameraSerial; }
    void SetCameraIdentity(std::u16string model, std::u16string version, std::u16string serial);
    void SetCameraModel(std::u16string model) { cameraModel = std::move(model); }
    void SetCameraVersion(std::u16string version) { cameraVersion = std::move(version); }
    void SetCameraSerial(std::u16string serial) { cameraSerial = std::move(serial); }
    clJobMailbox& Mailbox() { return m_mailbox; }
    clEngineContext& Context() { return context; }

    // --- Set-up (UI thread, while no job runs) ----------------------------------------
    void SetReceiveTimeouts(uint32_t first, uint32_t next) {
        firstReceiveTimeout = first;
        nextReceiveTimeout = next;
    }
    uint32_t FirstReceiveTimeout() const { return firstReceiveTimeout; }
    uint32_t NextReceiveTimeout() const { return nextReceiveTimeout; }
    // The pause after each command of property and batch jobs, in milliseconds (0: none).
    void SetCommandGap(uint32_t ms) { commandGap = ms; }
    uint32_t CommandGap() const { return commandGap; }
    // Property jobs look at the definition through it (the manager's own by default).
    void SetPropertySource(IPropertyCommandSource* source) { propertySource = source; }
    clCamPropertyCommandSource& ManagerCommands() { return *managerCommands; }
    void SetBatchJobRunner(BatchJobRunner runner) { batchJob = std::move(runner); }
    // Any thread. owner names who set it; Clear detaches only that owner's listener, so a
    // window going after its successor attached leaves the successor's. Once either returns,
    // the former listener is not running and is not called again.
    void SetActivityListener(ActivityListener listener, const void* owner);
    void ClearActivityListener(const void* owner);
    // The traffic log of every transaction; closed until someone opens it (any thread).
    clTrafficLog& Traffic() { return m_traffic; }

    // --- Port receive thread -----------------------------------------------------------
    // The ReceiveCallback of the connected port; user is this engine.
    static void OnReceiveData(const uint8_t* bytes, uint32_t length, void* user);

    // --- Worker thread -----------------------------------------------------------------
    bool StartWorker();
    // Sets the stop event and waits at most timeoutMs for the worker. A worker still running
    // then is left running (logged), never killed. True when it has ended.
    bool StopWorker(int64_t timeoutMs = kThreadStopTimeoutMs);
    bool WorkerExists() const { return m_worker.Exists(); }
    // The thread procedure; returns when the stop event is seen.
    void WorkerLoop();
    // Runs the job of the mailbox's job kind. True when it saw the stop event.
    bool RunJob(JobKind kind);

    // Job building blocks (also for the batch job).
    void JobStartFrame();
    void JobEndFrame();
    // One command: transaction, classification, result display, error report or drain.
    int32_t CommandStep(bool& stopFlag, std::u16string_view command);
    // Between commands: console flush, then 50 ms more while the console has a backlog.
    void ConsolePause();
    // What CheckStopOrCancel saw; kNoInterruption is 0, so the result reads as "anything seen".
    enum Interruption : int { kNoInterruption = 0, kStopSeen = 1, kCancelSeen = 2 };
    // Checks the stop and cancel events without waiting: kStopSeen sets stopFlag; kCancelSeen
    // also while the connection is being closed.
    Interruption CheckStopOrCancel(bool& stopFlag);
    // Waits ms; true (and stopFlag set) when the stop event came first.
    bool PauseOrStop(int64_t ms, bool& stopFlag);
    // The command gap after a command of a property or batch job. True (and stopFlag set) on
    // the stop event. A cancel ends the gap early and stays signalled for the next check.
    bool CommandGapPause(bool& stopFlag);

    // --- Command transaction -----------------------------------------------------------
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
    // The outcome of a transaction that ended without the reply: a time-out, or a send that
    // failed. Receive time-outs and failed sends show a message box; a cancel shows none.
    void ReportTransactionError();

private:
    friend class clCommunicateModelProbe; // tests set phases and statuses directly

    void RunSingleCommandJob(bool& stopFlag);
    void RunPropertyCommands(bool& stopFlag);
    // Phase changes of a transaction; none of them leaves "not connected", so a transaction
    // that ends after the disconnect never makes the engine look ready.
    void MovePhase(int32_t to);
    int32_t Refusal() const;
    void Notify(Activity activity);
    int32_t Hand(JobKind kind);

    std::atomic<int32_t> connected{0};
    int32_t lastSendResult = 0;
    std::string commandBytes;
    uint64_t commandLength = 0;
    std::atomic<int32_t> phase{PHASE_NOT_CONNECTED};
    std::atomic<int32_t> status{0};
    clRingBuffer ring;
    std::atomic<int32_t> busy{0};
    int32_t appendCR = 1;
    platform::Event cancelEvent{platform::Event::Reset::Auto};
    platform::DeadlineTimer receiveTimer;
    std::atomic<uint32_t> firstReceiveTimeout{20000};
    std::atomic<uint32_t> nextReceiveTimeout{20000};
    std::atomic<uint32_t> commandGap{kDefaultCommandGapMs};
    std::deque<std::u16string> replyLines;
    std::mutex replyLinesLock;
    std::atomic<int32_t> replyCode{kNoReplyCode};
    std::u16string m_refusal; // why the last transaction's text was not sent (worker thread)
    std::u16string cameraModel;
    std::u16string cameraVersion;
    std::u16string cameraSerial;
    std::unique_ptr<clCamPropertyMgr> propertyManager;
    std::unique_ptr<clCamPropertyCommandSource> managerCommands;
    IPropertyCommandSource* propertySource = nullptr;
    BatchJobRunner batchJob;
    clJobMailbox m_mailbox;
    // A job was submitted and the worker has not taken it yet.
    std::atomic<bool> m_jobPending{false};
    // The connection is being closed: every transaction ends as cancelled, nothing is sent.
    std::atomic<bool> m_closing{false};

    clEngineContext& context;

    platform::Thread m_worker;
    clReplyCollector m_collector;
    std::mutex m_listenerLock;
    ActivityListener m_listener;
    const void* m_listenerOwner = nullptr;
    clTrafficLog m_traffic;
};
