#include "comm/CommunicateModel.h"

#include "base/Messages.h"
#include "base/SimpleLog.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommandCheck.h"
#include "comm/WatchThread.h"
#include "platform/Text.h"
#include "port/CamPort.h"

#include <chrono>
#include <cstring>
#include <thread>

clCommunicateModel::clCommunicateModel(clEngineContext& ctx)
    : propertyManager(std::make_unique<clCamPropertyMgr>()),
      managerCommands(std::make_unique<clCamPropertyCommandSource>(*propertyManager)),
      propertySource(managerCommands.get()), context(ctx) {}

clCommunicateModel::~clCommunicateModel() {
    if (m_worker.Exists())
        StopWorker();
}

// ---------------------------------------------------------------------------------------
// User-interface thread

int32_t clCommunicateModel::Refusal() const {
    if (connected == 0 || m_closing)
        return SUBMIT_NOT_CONNECTED;
    if (!IsReady())
        return SUBMIT_BUSY;
    if (!context.JobEvent())
        return SUBMIT_NO_WORKER;
    return SUBMIT_OK;
}

int32_t clCommunicateModel::Hand(JobKind kind) {
    m_mailbox.m_jobKind = kind;
    m_jobPending = true;
    context.JobEvent()->Set();
    Notify(Activity::kStateChanged);
    return SUBMIT_OK;
}

void clCommunicateModel::SetActivityListener(ActivityListener listener, const void* owner) {
    std::lock_guard<std::mutex> guard(m_listenerLock);
    m_listener = std::move(listener);
    m_listenerOwner = owner;
}

void clCommunicateModel::ClearActivityListener(const void* owner) {
    std::lock_guard<std::mutex> guard(m_listenerLock);
    if (m_listenerOwner != owner)
        return;
    m_listener = nullptr;
    m_listenerOwner = nullptr;
}

void clCommunicateModel::Notify(Activity activity) {
    std::lock_guard<std::mutex> guard(m_listenerLock);
    if (m_listener)
        m_listener(activity);
}

int32_t clCommunicateModel::SubmitCommandJob(std::u16string_view command, bool autoSelect) {
    if (const int32_t refused = Refusal())
        return refused;
    m_mailbox.m_jobParam.commandText.assign(command);
    if (autoSelect) {
        m_mailbox.m_autoSelectRequest = 1;
        m_mailbox.m_modelDetected = 0;
    }
    return Hand(JOB_SINGLE_COMMAND);
}

int32_t clCommunicateModel::SubmitPropertyJob(uint64_t generation, uint32_t index) {
    if (const int32_t refused = Refusal())
        return refused;
    const clCamProperty* property = propertyManager->RecordOf(generation, index);
    if (!property)
        return SUBMIT_STALE_RECORD;
    return SubmitPropertyJob(property);
}

int32_t clCommunicateModel::SubmitPropertyJob(const clCamProperty* property) {
    if (!property)
        return SUBMIT_STALE_RECORD;
    if (const int32_t refused = Refusal())
        return refused;
    std::u16string prompt;
    if (propertySource &&
        propertySource->ConfirmationPrompt(property, context.LanguageCode(), prompt)) {
        const int32_t answer = context.RequestMessageBox(
            prompt, u"", MB_OKCANCEL | MB_ICONQUESTION | kMbDefaultButton2);
        if (answer != IDOK)
            return SUBMIT_DECLINED;
        // The box let other work run: the state is asked again.
        if (const int32_t refused = Refusal())
            return refused;
    }
    m_mailbox.m_jobParam.property = property;
    return Hand(JOB_PROPERTY);
}

int32_t clCommunicateModel::SubmitBatchJob(std::vector<std::u16string> lines) {
    if (const int32_t refused = Refusal())
        return refused;
    m_mailbox.m_jobParam.batchLines = std::move(lines);
    return Hand(JOB_BATCH);
}

void clCommunicateModel::SetCameraIdentity(std::u16string model, std::u16string version,
                                           std::u16string serial) {
    cameraModel = std::move(model);
    cameraVersion = std::move(version);
    cameraSerial = std::move(serial);
}

void clCommunicateModel::MarkConnected() {
    ring.Reset();
    m_closing = false;
    phase = PHASE_IDLE;
    receiveTimer.Cancel();
    connected = 1;
}

bool clCommunicateModel::WaitUntilIdle(const Pump& pump, int64_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (IsBusy()) {
        // A job waiting for a worker that is not there never starts.
        if (!m_worker.Exists() || m_worker.Finished()) {
            m_jobPending = false;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        if (pump)
            pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void clCommunicateModel::DisconnectCamera(const Pump& pump) {
    if (m_closing.exchange(true))
        return;
    // The running job ends within one poll: its transaction as cancelled, no further command.
    cancelEvent.Set();
    if (!WaitUntilIdle(pump))
        if (clSimpleLog* log = context.Log())
            log->Write(u"Job did not end within 5000 ms of the disconnect");
    context.ShowWaitDialog(context.MessageText(MSG_PLEASE_WAIT),
                           context.MessageText(MSG_DISCONNECTING));
    if (clCamPort* port = context.CurrentPort()) {
        port->Disconnect();
        port->Uninit();
    }
    phase = PHASE_NOT_CONNECTED;
    connected = 0;
    if (clWatchThread* watch = context.Watch())
        watch->ClearElapsed();
    context.HideWaitDialog();
    m_closing = false;
}

bool clCommunicateModel::ShutDown(const Pump& pump, int64_t timeoutMs) {
    cancelEvent.Set();
    if (platform::Event* stop = context.StopEvent())
        stop->Set();
    bool ended = true;
    if (m_worker.Exists()) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!m_worker.Finished() && std::chrono::steady_clock::now() < deadline) {
            if (pump)
                pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ended = StopWorker(0);
    }
    context.UiLink().Close(pump, ended ? timeoutMs : 0);
    return ended;
}

bool clCommunicateModel::TakeReplyLine(std::u16string& line) {
    std::lock_guard<std::mutex> guard(replyLinesLock);
    if (replyLines.empty())
        return false;
    line = std::move(replyLines.front());
    replyLines.pop_front();
    return true;
}

// ---------------------------------------------------------------------------------------
// Port receive thread

void clCommunicateModel::OnReceiveData(const uint8_t* bytes, uint32_t length, void* user) {
    if (!user || !bytes || length == 0)
        return;
    auto* engine = static_cast<clCommunicateModel*>(user);
    // Logged first: the ring's data event wakes the transaction at once, and the log must
    // show the bytes before the outcome they end in.
    engine->m_traffic.Received(bytes, length);
    engine->ring.Append(bytes, length);
    engine->Notify(Activity::kReceived);
}

// ---------------------------------------------------------------------------------------
// Worker thread

bool clCommunicateModel::StartWorker() {
    return m_worker.Start([this] { WorkerLoop(); });
}

bool clCommunicateModel::StopWorker(int64_t timeoutMs) {
    if (platform::Event* stop = context.StopEvent())
        stop->Set();
    if (!m_worker.Exists())
        return true;
    if (m_worker.JoinFor(timeoutMs))
        return true;
    if (clSimpleLog* log = context.Log())
        log->Write(u"Worker thread did not end in time; left running");
    return false;
}

void clCommunicateModel::WorkerLoop() {
    for (;;) {
        // Nothing to do between jobs: the wait has no period.
        const int w =
            platform::WaitForAny({context.StopEvent(), context.JobEvent()}, platform::kInfinite);
        if (w == 0)
            return;
        if (w == 1) {
            // Busy before the pending mark goes, so the engine never looks ready in between.
            busy = 1;
            m_jobPending = false;
            const bool stopped = RunJob(m_mailbox.m_jobKind);
            busy = 0;
            Notify(Activity::kStateChanged);
            if (stopped)
                return;
        } else if (w == platform::kWaitFailed) {
            // A failed wait must not spin; behave as if the period passed.
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        }
    }
}

bool clCommunicateModel::RunJob(JobKind kind) {
    bool stopFlag = false;
    switch (kind) {
    case JOB_SINGLE_COMMAND:
        RunSingleCommandJob(stopFlag);
        break;
    case JOB_PROPERTY:
        RunPropertyCommands(stopFlag);
        break;
    case JOB_BATCH:
        if (batchJob)
            stopFlag = batchJob(*this);
        break;
    default:
        break;
    }
    return stopFlag;
}

void clCommunicateModel::JobStartFrame() {
    cancelEvent.ResetEvent();
    busy = 1;
    context.Send(UM_REFRESH_VIEWS, 0, REFRESH_STATUS | REFRESH_CONSOLE | REFRESH_PROPERTIES);
}

void clCommunicateModel::JobEndFrame() {
    context.Send(UM_CLOSE_WAIT_DIALOG);
    // Idle as far as the window can tell; the worker loop clears it again after the job.
    busy = 0;
    context.Send(UM_REFRESH_VIEWS, 0, REFRESH_STATUS | REFRESH_CONSOLE | REFRESH_PROPERTIES);
}

int32_t clCommunicateModel::CommandStep(bool& stopFlag, std::u16string_view command) {
    const int32_t result = RunTransaction(stopFlag, command);
    if (!stopFlag)
        ClassifyReply();
    m_traffic.Result(TransactionOutcomeText(result, replyCode, stopFlag));
    if (stopFlag)
        return result;
    context.Send(UM_SHOW_RESULT);
    if (result != TRANSACTION_OK)
        ReportTransactionError();
    else if (replyCode == kReplyCodeOk)
        context.Send(UM_DRAIN_REPLIES);
    return result;
}

void clCommunicateModel::ConsolePause() {
    context.Send(UM_CONSOLE_FLUSH);
    if (m_mailbox.ConsoleBacklog() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
}

clCommunicateModel::Interruption clCommunicateModel::CheckStopOrCancel(bool& stopFlag) {
    const int w = platform::WaitForAny({context.StopEvent(), &cancelEvent}, 0);
    if (w == 0) {
        stopFlag = true;
        return kStopSeen;
    }
    return w == 1 || m_closing ? kCancelSeen : kNoInterruption;
}

bool clCommunicateModel::PauseOrStop(int64_t ms, bool& stopFlag) {
    if (platform::WaitForAny({context.StopEvent()}, ms) == 0) {
        stopFlag = true;
        return true;
    }
    return false;
}

bool clCommunicateModel::CommandGapPause(bool& stopFlag) {
    const int w = platform::WaitForAny({context.StopEvent(), &cancelEvent}, commandGap);
    if (w == 0) {
        stopFlag = true;
        return true;
    }
    if (w == 1)
        cancelEvent.Set();
    return false;
}

void clCommunicateModel::RunSingleCommandJob(bool& stopFlag) {
    JobStartFrame();
    const std::u16string command = m_mailbox.m_jobParam.commandText;
    const int32_t result = CommandStep(stopFlag, command);
    if (!stopFlag && m_mailbox.m_autoSelectRequest) {
        m_mailbox.m_autoSelectRequest = 0;
        if (result == TRANSACTION_OK && replyCode == kReplyCodeOk && m_mailbox.m_modelDetected == 0)
            context.RequestMessageBox(context.MessageText(MSG_MODEL_NOT_DETECTED), u"", MB_OK);
    }
    JobEndFrame();
    context.Post(UM_ACTIVATE_CONSOLE);
}

void clCommunicateModel::RunPropertyCommands(bool& stopFlag) {
    JobStartFrame();
    const clCamProperty* property = m_mailbox.m_jobParam.property;
    std::vector<std::u16string> names;
    if (property && propertySource)
        names = propertySource->CommandNames(property);
    for (const std::u16string& name : names) {
        if (CheckStopOrCancel(stopFlag) != kNoInterruption)
            break;
        std::u16string text;
        if (propertySource->ComposeCommand(property, name, text) !=
            IPropertyCommandSource::kComposed)
            continue;
        if (CommandStep(stopFlag, text) != TRANSACTION_OK || stopFlag)
            break;
        ConsolePause();
        if (CommandGapPause(stopFlag))
            break;
    }
    JobEndFrame();
}

// ---------------------------------------------------------------------------------------
// Command transaction

int32_t clCommunicateModel::RunTransaction(bool& stopFlag, std::u16string_view command) {
    std::u16string text(command);
    if (appendCR)
        text.push_back(u'\r');
    commandBytes = platform::Utf16ToLocale(text);
    commandLength = std::strlen(commandBytes.c_str());
    m_mailbox.m_lastCommandText = text;
    context.Send(UM_CONSOLE_ECHO);

    BeginTransaction();

    if (m_closing) {
        // The connection is being closed: nothing more goes out.
        receiveTimer.Cancel();
        status = STATUS_RECEIVE_CANCELLED;
        MovePhase(PHASE_IDLE);
        return TRANSACTION_CANCELLED;
    }
    // The last line of defence: a text that would not go out as itself is not sent at all.
    m_refusal.clear();
    if (const CommandCheck check = CheckCommandText(command); !check.Fit()) {
        m_refusal = CommandCheckText(check);
        status = STATUS_SEND_FAILED;
        MovePhase(PHASE_IDLE);
        if (clSimpleLog* log = context.Log())
            log->Write(u"Command refused: " + m_refusal);
        return TRANSACTION_SEND_FAILED;
    }
    clCamPort* port = context.CurrentPort();
    m_traffic.Sent(reinterpret_cast<const uint8_t*>(commandBytes.data()), commandLength);
    lastSendResult = port ? port->SendData(reinterpret_cast<const uint8_t*>(commandBytes.data()),
                                           static_cast<uint32_t>(commandLength))
                          : 1;
    int32_t result;
    if (lastSendResult != 0) {
        status = STATUS_SEND_FAILED;
        MovePhase(PHASE_IDLE);
        if (clSimpleLog* log = context.Log())
            log->Write(u"SendData failed");
        result = TRANSACTION_SEND_FAILED;
    } else {
        AwaitReply();
        if (clWatchThread* watch = context.Watch())
            watch->SignalStart();
        result = ReceiveReply(stopFlag);
    }
    if (clWatchThread* watch = context.Watch())
        watch->SignalHalt();
    return result;
}

void clCommunicateModel::MovePhase(int32_t to) {
    int32_t current = phase;
    while (current != PHASE_NOT_CONNECTED && current != to &&
           !phase.compare_exchange_weak(current, to)) {
    }
    if (current != PHASE_NOT_CONNECTED && current != to)
        Notify(Activity::kStateChanged);
}

void clCommunicateModel::AwaitReply() {
    MovePhase(PHASE_WAIT_FIRST);
    RestartReceiveTimer();
}

void clCommunicateModel::BeginTransaction() {
    status = STATUS_SENDING;
    MovePhase(PHASE_SENDING);
    replyCode = kNoReplyCode;
    {
        std::lock_guard<std::mutex> guard(replyLinesLock);
        replyLines.clear();
    }
    m_collector.Clear();
    ring.SkipPending(clRingBuffer::kTransactionReader);
}

int32_t clCommunicateModel::ReceiveReply(bool& stopFlag) {
    int32_t result = TRANSACTION_OK;
    for (;;) {
        // The ring's data event wakes the wait as soon as bytes arrive; the period only bounds
        // how late a wait that misses every event notices them.
        const int w = platform::WaitForAny(
            {context.StopEvent(), &cancelEvent, &receiveTimer, &ring.DataEvent()}, kPollMs);
        if (w == 0) {
            stopFlag = true;
            result = TRANSACTION_OK;
            break;
        }
        if (w == 1 || m_closing) {
            status = STATUS_RECEIVE_CANCELLED;
            result = TRANSACTION_CANCELLED;
            break;
        }
        if (w == 2) {
            status = STATUS_RECEIVE_TIMEOUT;
            result = TRANSACTION_TIMEOUT;
            break;
        }
        if (w == platform::kWaitFailed)
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        if (TakeReplyBytes()) {
            result = TRANSACTION_OK;
            break;
        }
    }
    receiveTimer.Cancel();
    MovePhase(PHASE_IDLE);
    return result;
}

bool clCommunicateModel::TakeReplyBytes() {
    const uint64_t n = ring.Pending(clRingBuffer::kTransactionReader);
    if (n == 0)
        return false;
    const int32_t current = phase;
    if (current != PHASE_WAIT_FIRST && current != PHASE_RECEIVING) {
        // Not waiting for a reply: the bytes are dropped.
        for (uint64_t i = 0; i < n; ++i)
            ring.Take(clRingBuffer::kTransactionReader);
        return false;
    }
    // The timer restarts for every chunk taken: the bytes of one chunk are taken in the same
    // instant, so one restart per chunk measures the gap since the last bytes arrived.
    MovePhase(PHASE_RECEIVING);
    RestartReceiveTimer();
    for (uint64_t i = 0; i < n; ++i) {
        switch (m_collector.Feed(ring.Take(clRingBuffer::kTransactionReader))) {
        case clReplyCollector::Result::kEnd:
            cancelEvent.ResetEvent();
            status = STATUS_REPLY_COMPLETE;
            return true;
        case clReplyCollector::Result::kLine: {
            std::lock_guard<std::mutex> guard(replyLinesLock);
            if (replyLines.size() < kMaxReplyLines)
                replyLines.push_back(m_collector.TakeLine());
            break;
        }
        case clReplyCollector::Result::kNothing:
            break;
        }
    }
    return false;
}

void clCommunicateModel::RestartReceiveTimer() {
    receiveTimer.Cancel();
    uint32_t timeout;
    const int32_t current = phase;
    if (current == PHASE_WAIT_FIRST)
        timeout = firstReceiveTimeout;
    else if (current == PHASE_RECEIVING)
        timeout = nextReceiveTimeout;
    else
        return;
    if (timeout == kNoTimeLimit)
        return;
    receiveTimer.ArmAfter(std::chrono::milliseconds(timeout));
}

void clCommunicateModel::ClassifyReply() {
    if (status != STATUS_REPLY_COMPLETE)
        return;
    std::u16string first;
    {
        std::lock_guard<std::mutex> guard(replyLinesLock);
        if (replyLines.empty())
            return;
        first = std::move(replyLines.front());
        replyLines.pop_front();
    }
    replyCode = ReplyCodeOf(first);
}

void clCommunicateModel::ReportTransactionError() {
    const int32_t s = status;
    if (s == STATUS_RECEIVE_TIMEOUT)
        context.RequestMessageBox(context.MessageText(MSG_RECEIVE_TIMEOUT), u"", MB_OK);
    else if (s == STATUS_SEND_FAILED)
        context.RequestMessageBox(
            m_refusal.empty() ? context.MessageText(MSG_TRANSMIT_TIMEOUT) : m_refusal, u"", MB_OK);
}
