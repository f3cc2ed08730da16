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

// Transaction phases.
enum : int32_t {
    PHASE_NOT_CONNECTED = -1,
    PHASE_IDLE = 0,
    PHASE_SENDING = 1,
    PHASE_WAIT_FIRST = 2,
    PHASE_RECEIVING = 3,
};

// Transaction statuses (the outcome of the last transaction).
enum : int32_t {
    STATUS_SENDING = 1,
    STATUS_REPLY_COMPLETE = 4,
    STATUS_RECEIVE_TIMEOUT = 5,
    STATUS_RECEIVE_CANCELLED = 6,
    STATUS_SEND_FAILED = 7,
};

// Transaction and command-step results.
enum : int32_t {
    TRANSACTION_OK = 0,
    TRANSACTION_SEND_FAILED = 1,
    TRANSACTION_TIMEOUT = 5,
    TRANSACTION_CANCELLED = 10,
};

class clCommunicateModel {
public:
    static constexpr uint32_t kNoTimeLimit = 4294967295u;
    static constexpr int64_t kPollMs = 50;
    static constexpr int64_t kThreadStopTimeoutMs = 5000;
    // More reply lines than any camera sends; further lines of one reply are dropped.
    static constexpr size_t kMaxReplyLines = 65536;

    // Runs a batch job (kind 3) with the engine's frame and command step; set by the batch
    // text load. True when it saw the stop event.
    using BatchJobRunner = std::function<bool(clCommunicateModel& engine)>;

    explicit clCommunicateModel(clEngineContext& context);
    // Stops the worker thread when it still runs.
    virtual ~clCommunicateModel();
    clCommunicateModel(const clCommunicateModel&) = delete;
    clCommunicateModel& operator=(const clCommunicateModel&) = delete;

    // --- User-interface thread ---------------------------------------------------------
    // Submits a single-command job (kind 1). With autoSelect the auto-select request flag is
    // set and the model-detected flag cleared first. Only while the engine is ready.
    void SubmitCommandJob(std::u16string_view command, bool autoSelect = false);
    // Confirmation (when the property asks for it) and submission of a property job (kind 2).
    // True when the job was submitted.
    bool RunPropertyJob(const clCamProperty* property);
    // Submits a batch job (kind 3) of the given lines.
    void SubmitBatchJob(std::vector<std::u16string> lines);
    // Cancel receiving: signals the cancel event.
    void CancelReceiving() { cancelEvent.Set(); }
    // After a successful connect: ring reset, phase 0, timer off, connected.
    void MarkConnected();
    void DisconnectCamera();
    // The console reader's part of the console flush: takes at most maxChars bytes (one
    // character each) from the console reader within maxSeconds and appends them to out.
    // Returns the backlog still left.
    int64_t TakeConsoleText(std::u16string& out, size_t maxChars = 500, double maxSeconds = 0.4);
    // The console flush: the text goes to append (nothing when empty); the backlog left is
    // stored in the context under the application lock. Without append nothing is taken.
    void FlushConsole(const std::function<void(std::u16string_view)>& append);
    // Takes the next remaining reply line (UM_DRAIN_REPLIES). False when there is none.
    bool TakeReplyLine(std::u16string& line);
    bool IsReady() const { return busy == 0 && phase == PHASE_IDLE; }
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
    // Runs the job of the context's job kind. True when it saw the stop event.
    bool RunJob(int32_t kind);

    // Job building blocks (also for the batch job).
    void JobStartFrame();
    void JobEndFrame();
    // One command: transaction, classification, result display, error report or drain.
    int32_t CommandStep(bool& stopFlag, std::u16string_view command);
    // Between commands: console flush, then 50 ms more while the console has a backlog.
    void ConsolePause();
    // Checks the stop and cancel events without waiting: 0 none, 1 stop (sets stopFlag),
    // 2 cancel.
    int CheckStopOrCancel(bool& stopFlag);
    // Waits ms; true (and stopFlag set) when the stop event came first.
    bool PauseOrStop(int64_t ms, bool& stopFlag);

    // --- Command transaction -----------------------------------------------------------
    int32_t RunTransaction(bool& stopFlag, std::u16string_view command);
    // The start of every transaction before its command goes out: status 1, phase 1, reply
    // code -1, no reply lines, and the transaction reader past every byte received so far.
    void BeginTransaction();
    int32_t ReceiveReply(bool& stopFlag);
    // One 50 ms batch of ReceiveReply: takes the pending bytes of the transaction reader.
    // True at EOT (result 0, status 4).
    bool TakeReplyBytes();
    void RestartReceiveTimer();
    void ClassifyReply();
    void ReportTransactionError();

    // --- Fields ------------------------------------------------------------------------
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
    uint32_t firstReceiveTimeout = 20000;
    uint32_t nextReceiveTimeout = 20000;
    std::deque<std::u16string> replyLines;
    std::mutex replyLinesLock;
    std::atomic<int32_t> replyCode{-1};
    std::u16string cameraModel;
    std::u16string cameraVersion;
    std::u16string cameraSerial;
    // The camera definition and the property values; created with the engine.
    std::unique_ptr<clCamPropertyMgr> propertyManager;
    // Property jobs look at the definition through it (the manager's own by default).
    std::unique_ptr<clCamPropertyCommandSource> managerCommands;
    IPropertyCommandSource* propertySource = nullptr;
    BatchJobRunner batchJob;

    clEngineContext& context;

private:
    void RunSingleCommandJob(bool& stopFlag);
    void RunPropertyCommands(bool& stopFlag);

    platform::Thread m_worker;
    clReplyCollector m_collector;
    clTrafficLog m_traffic;
};
