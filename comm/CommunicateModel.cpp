#include "comm/CommunicateModel.h"

#include "base/MessageTable.h"
#include "base/Messages.h"
#include "base/SimpleLog.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommandCheck.h"
#include "comm/WatchThread.h"
#include "platform/Text.h"
#include "port/CamPort.h"

#include <cstring>
#include <thread>

using Clock = std::chrono::steady_clock;

std::u16string CameraIdentity::Text() const {
    std::u16string text;
    for (const std::u16string* part : {&model, &version, &serial}) {
        if (part->empty())
            continue;
        if (!text.empty())
            text.push_back(u' ');
        text += *part;
    }
    return text;
}

clCommunicateModel::clCommunicateModel(clEngineContext& ctx)
    : m_propertyManager(std::make_unique<clCamPropertyMgr>()),
      m_managerCommands(std::make_unique<clCamPropertyCommandSource>(*m_propertyManager)),
      m_propertySource(m_managerCommands.get()), m_context(ctx) {}

clCommunicateModel::~clCommunicateModel() {
    if (m_worker.Exists())
        StopWorker();
}

// ---------------------------------------------------------------------------------------
// The client's thread

int32_t clCommunicateModel::Refusal() const {
    if (m_connected == 0 || m_closing)
        return SUBMIT_NOT_CONNECTED;
    if (!IsReady())
        return SUBMIT_BUSY;
    if (!m_context.JobEvent())
        return SUBMIT_NO_WORKER;
    return SUBMIT_OK;
}

int32_t clCommunicateModel::Hand(JobKind kind) {
    m_mailbox.Post(kind);
    m_jobPending = true;
    m_context.JobEvent()->Set();
    NotifyStateChanged();
    return SUBMIT_OK;
}

void clCommunicateModel::NotifyStateChanged() {
    m_gate.Call([](IEngineEvents& e) { e.StateChanged(); });
}

int32_t clCommunicateModel::SubmitCommandJob(std::u16string_view command, bool autoSelect) {
    if (const int32_t refused = Refusal())
        return refused;
    m_mailbox.CommandText().assign(command);
    if (autoSelect)
        m_mailbox.RequestAutoSelect();
    return Hand(JOB_SINGLE_COMMAND);
}

int32_t clCommunicateModel::SubmitPropertyJob(uint64_t generation, uint32_t index) {
    if (const int32_t refused = Refusal())
        return refused;
    const clCamProperty* property = m_propertyManager->RecordOf(generation, index);
    if (!property)
        return SUBMIT_STALE_RECORD;
    return RunPropertyJob(property);
}

int32_t clCommunicateModel::RunPropertyJob(const clCamProperty* property, bool confirmed) {
    if (!property)
        return SUBMIT_STALE_RECORD;
    if (const int32_t refused = Refusal())
        return refused;
    std::u16string prompt;
    if (!confirmed && m_propertySource &&
        m_propertySource->ConfirmationPrompt(property, m_context.LanguageCode(), prompt)) {
        int32_t answer = 0;
        m_gate.Call([&](IEngineEvents& e) {
            answer = e.Ask({prompt, u"", MB_OKCANCEL | MB_ICONQUESTION | kMbDefaultButton2});
        });
        if (answer != IDOK)
            return SUBMIT_DECLINED;
        // The box let other work run: the state is asked again.
        if (const int32_t refused = Refusal())
            return refused == SUBMIT_BUSY ? SUBMIT_BUSY_CONFIRMED : refused;
    }
    m_mailbox.Property() = property;
    return Hand(JOB_PROPERTY);
}

int32_t clCommunicateModel::SubmitBatchJob(std::vector<std::u16string> lines) {
    if (const int32_t refused = Refusal())
        return refused;
    m_mailbox.BatchLines() = std::move(lines);
    return Hand(JOB_BATCH);
}

void clCommunicateModel::SetCameraIdentity(std::u16string model, std::u16string version,
                                           std::u16string serial) {
    m_cameraModel = std::move(model);
    m_cameraVersion = std::move(version);
    m_cameraSerial = std::move(serial);
}

void clCommunicateModel::MarkConnected() {
    m_ring.Reset();
    m_closing = false;
    {
        std::lock_guard<std::mutex> guard(m_lostLock);
        m_lostDevice.clear();
        m_lost = false;
    }
    m_sendAbort.ResetEvent();
    m_phase = PHASE_IDLE;
    m_receiveTimer.Cancel();
    m_connected = 1;
}

bool clCommunicateModel::InterruptRequested() const {
    return m_closing || m_lost || m_cancelEvent.IsSignalled() ||
           (m_context.StopEvent() && m_context.StopEvent()->IsSignalled());
}

void clCommunicateModel::AbortSend() {
    // Watched by a port that can (the built-in one) for the whole send; reset by the next
    // transaction.
    m_sendAbort.Set();
}

void clCommunicateModel::CancelReceiving() {
    m_cancelEvent.Set();
    AbortSend();
}

void clCommunicateModel::PortLost(const std::u16string& device) {
    {
        std::lock_guard<std::mutex> guard(m_lostLock);
        if (m_lost)
            return;
        m_lostDevice = device;
        m_lost = true;
    }
    m_cancelEvent.Set();
    AbortSend();
}

void clCommunicateModel::EndSendUnderWay(const Pump& pump) {
    // A port that cannot watch the abort event (a plug-in) is disconnected under a send that
    // outlasts one poll: every port takes Disconnect while a send runs, and its send then ends.
    const auto deadline = Clock::now() + std::chrono::milliseconds(kPollMs);
    while (m_phase == PHASE_SENDING && Clock::now() < deadline) {
        if (pump)
            pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (m_phase == PHASE_SENDING)
        if (clCamPort* port = m_context.CurrentPort())
            port->Disconnect();
}

bool clCommunicateModel::WaitUntilIdle(const Pump& pump, int64_t timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (IsBusy()) {
        // A job waiting for a worker that is not there never starts.
        if (!m_worker.Exists() || m_worker.Finished()) {
            m_jobPending = false;
            break;
        }
        if (Clock::now() >= deadline)
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
    m_cancelEvent.Set();
    AbortSend();
    EndSendUnderWay(pump);
    if (!WaitUntilIdle(pump))
        if (clSimpleLog* log = m_context.Log())
            log->Write(u"Job did not end within 5000 ms of the disconnect");
    // What the ended job told the client is taken in before the port closes.
    if (pump)
        pump();
    m_context.ShowWaitDialog(m_context.MessageText(MSG_PLEASE_WAIT),
                             m_context.MessageText(MSG_DISCONNECTING));
    if (clCamPort* port = m_context.CurrentPort()) {
        port->Disconnect();
        port->Uninit();
    }
    m_phase = PHASE_NOT_CONNECTED;
    m_connected = 0;
    if (clWatchThread* watch = m_context.Watch())
        watch->ClearElapsed();
    m_context.HideWaitDialog();
    m_closing = false;
    NotifyStateChanged();
}

bool clCommunicateModel::ShutDown(const Pump& pump, int64_t timeoutMs) {
    // Stop before cancel: a transaction woken by either sees the stop and ends as stopped.
    if (platform::Event* stop = m_context.StopEvent())
        stop->Set();
    m_cancelEvent.Set();
    AbortSend();
    bool ended = true;
    if (m_worker.Exists()) {
        if (m_connected)
            EndSendUnderWay(pump);
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!m_worker.Finished() && Clock::now() < deadline) {
            if (pump)
                pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ended = StopWorker(0);
    }
    m_gate.Close(pump, ended ? timeoutMs : 0);
    return ended;
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
    engine->m_ring.Append(bytes, length);
    engine->m_gate.Call([](IEngineEvents& e) { e.BytesReceived(); });
}

// ---------------------------------------------------------------------------------------
// Worker thread

bool clCommunicateModel::StartWorker() {
    return m_worker.Start([this] { WorkerLoop(); });
}

bool clCommunicateModel::StopWorker(int64_t timeoutMs) {
    if (platform::Event* stop = m_context.StopEvent())
        stop->Set();
    if (!m_worker.Exists())
        return true;
    if (m_worker.JoinFor(timeoutMs))
        return true;
    if (clSimpleLog* log = m_context.Log())
        log->Write(u"Worker thread did not end in time; left running");
    return false;
}

void clCommunicateModel::WorkerLoop() {
    for (;;) {
        // Nothing to do between jobs: the wait has no period.
        const int w = platform::WaitForAny({m_context.StopEvent(), m_context.JobEvent()},
                                           platform::kInfinite);
        if (w == 0)
            return;
        if (w == 1) {
            // Busy before the pending mark goes, so the engine never looks ready in between.
            m_busy = 1;
            m_jobPending = false;
            JobReport report;
            report.kind = m_mailbox.Kind();
            const bool stopped = RunJob(report.kind, report);
            m_busy = 0;
            NotifyStateChanged();
            // The client hears of the end once the engine is ready again.
            m_gate.Call([&report](IEngineEvents& e) { e.JobEnded(report); });
            if (stopped)
                return;
        } else if (w == platform::kWaitFailed) {
            // A failed wait must not spin; behave as if the period passed.
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        }
    }
}

bool clCommunicateModel::RunJob(JobKind kind, JobReport& report) {
    bool stopFlag = false;
    switch (kind) {
    case JOB_SINGLE_COMMAND:
        RunSingleCommandJob(stopFlag, report);
        break;
    case JOB_PROPERTY:
        RunPropertyCommands(stopFlag, report);
        break;
    case JOB_BATCH:
        RunBatchJob(stopFlag, report);
        break;
    default:
        break;
    }
    if (stopFlag)
        report.outcome = JobOutcome::kStopped;
    return stopFlag;
}

void clCommunicateModel::JobStartFrame(JobKind kind) {
    m_cancelEvent.ResetEvent();
    m_busy = 1;
    m_gate.Call([kind](IEngineEvents& e) { e.JobStarted(kind); });
}

void clCommunicateModel::JobEndFrame() {
    // Idle as far as the client can tell; the worker loop clears it again after the job and
    // then reports the end.
    m_busy = 0;
}

JobOutcome clCommunicateModel::OutcomeOf(int32_t result, bool stopFlag) const {
    if (stopFlag)
        return JobOutcome::kStopped;
    if (m_lost)
        return JobOutcome::kLost;
    switch (result) {
    case TRANSACTION_OK:
        return JobOutcome::kDone;
    case TRANSACTION_CANCELLED:
        return JobOutcome::kCancelled;
    default:
        return JobOutcome::kFailed;
    }
}

int32_t clCommunicateModel::CommandStep(bool& stopFlag, std::u16string_view command, JobReport& job,
                                        bool reportError) {
    const int32_t result = RunTransaction(stopFlag, command);
    ++job.transactions;
    if (!stopFlag)
        ClassifyReply();
    m_traffic.Result(TransactionOutcomeText(result, m_replyCode, stopFlag));
    TransactionReport report = TakeReport(result);
    if (report.Lost())
        job.lostDevice = report.lostDevice;
    job.outcome = OutcomeOf(result, stopFlag);
    if (stopFlag)
        return result;
    // The client applies the reply lines before this returns: the next command is composed
    // with the values they carried.
    m_gate.Call([&report](IEngineEvents& e) { e.TransactionEnded(report); });
    if (result != TRANSACTION_OK && reportError)
        ReportTransactionError();
    return result;
}

TransactionReport clCommunicateModel::TakeReport(int32_t result) {
    TransactionReport report;
    report.command = m_command;
    while (!report.command.empty() &&
           (report.command.back() == u'\r' || report.command.back() == u'\n'))
        report.command.pop_back();
    report.result = result;
    report.status = m_status;
    report.replyCode = m_replyCode;
    report.elapsedMs =
        m_sentAt == Clock::time_point{}
            ? 0
            : std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_sentAt)
                  .count();
    report.receivedUpTo = m_ring.TakenCount(clRingBuffer::kTransactionReader);
    report.refusal = m_refusal;
    if (m_status == STATUS_REPLY_COMPLETE && m_replyCode == kReplyCodeOk) {
        std::lock_guard<std::mutex> guard(m_replyLinesLock);
        report.replyLines.assign(std::make_move_iterator(m_replyLines.begin()),
                                 std::make_move_iterator(m_replyLines.end()));
        m_replyLines.clear();
    }
    if (result == TRANSACTION_CANCELLED && m_lost) {
        std::lock_guard<std::mutex> guard(m_lostLock);
        report.lostDevice = m_lostDevice;
    }
    return report;
}

void clCommunicateModel::ConsolePause() {
    m_gate.Call([](IEngineEvents& e) { e.ConsoleFlushWanted(); });
    if (m_mailbox.ConsoleBacklog() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
}

clCommunicateModel::Interruption clCommunicateModel::CheckStopOrCancel(bool& stopFlag) {
    const int w = platform::WaitForAny({m_context.StopEvent(), &m_cancelEvent}, 0);
    if (w == 0) {
        stopFlag = true;
        return kStopSeen;
    }
    return w == 1 || m_closing || m_lost ? kCancelSeen : kNoInterruption;
}

bool clCommunicateModel::PauseOrStop(int64_t ms, bool& stopFlag) {
    if (platform::WaitForAny({m_context.StopEvent()}, ms) == 0) {
        stopFlag = true;
        return true;
    }
    return false;
}

bool clCommunicateModel::CommandGapPause(bool& stopFlag) {
    const int w = platform::WaitForAny({m_context.StopEvent(), &m_cancelEvent}, m_commandGap);
    if (w == 0) {
        stopFlag = true;
        return true;
    }
    if (w == 1)
        m_cancelEvent.Set();
    return false;
}

void clCommunicateModel::RunSingleCommandJob(bool& stopFlag, JobReport& job) {
    JobStartFrame(JOB_SINGLE_COMMAND);
    const std::u16string command = m_mailbox.CommandText();
    const int32_t result = CommandStep(stopFlag, command, job);
    if (!stopFlag && m_mailbox.AutoSelectRequested()) {
        m_mailbox.ClearAutoSelect();
        if (result == TRANSACTION_OK && m_replyCode == kReplyCodeOk && !m_mailbox.ModelDetected())
            m_gate.Call([this](IEngineEvents& e) {
                e.Ask({m_context.MessageText(MSG_MODEL_NOT_DETECTED), u"", MB_OK});
            });
    }
    JobEndFrame();
}

void clCommunicateModel::RunPropertyCommands(bool& stopFlag, JobReport& job) {
    JobStartFrame(JOB_PROPERTY);
    const clCamProperty* property = m_mailbox.Property();
    std::vector<std::u16string> names;
    if (property && m_propertySource)
        names = m_propertySource->CommandNames(property);
    for (const std::u16string& name : names) {
        if (CheckStopOrCancel(stopFlag) != kNoInterruption) {
            job.outcome = stopFlag ? JobOutcome::kStopped
                                   : (m_lost ? JobOutcome::kLost : JobOutcome::kCancelled);
            break;
        }
        std::u16string text;
        if (m_propertySource->ComposeCommand(property, name, text) !=
            IPropertyCommandSource::kComposed)
            continue;
        if (CommandStep(stopFlag, text, job) != TRANSACTION_OK || stopFlag)
            break;
        ConsolePause();
        if (CommandGapPause(stopFlag))
            break;
    }
    JobEndFrame();
}

namespace {

BatchStep StepOf(const std::u16string& line) {
    return ParseBatchLine(std::u16string_view(line).substr(0, kBatchLineChars));
}

// The text a progress report shows for a step.
std::u16string ShownText(const BatchStep& step) {
    if (step.kind != BatchStep::kPause)
        return step.command;
    const std::string ms = std::to_string(step.pauseMs);
    return u"@pause " + std::u16string(ms.begin(), ms.end());
}

} // namespace

void clCommunicateModel::RunBatchJob(bool& stopFlag, JobReport& job) {
    JobStartFrame(JOB_BATCH);
    std::vector<std::u16string>& lines = m_mailbox.BatchLines();
    auto report = [this](const BatchProgress& p) {
        m_gate.Call([&p](IEngineEvents& e) { e.BatchProgressed(p); });
    };
    BatchProgress progress;
    for (const std::u16string& line : lines) {
        const BatchStep step = StepOf(line);
        if (step.kind == BatchStep::kNothing)
            continue;
        ++progress.total;
        if (step.kind == BatchStep::kPause)
            progress.pauseMsLeft += step.pauseMs;
        else
            ++progress.commandsLeft;
    }
    BatchProgress::Outcome outcome = BatchProgress::kAllSent;
    bool failed = false;
    size_t next = 0;
    for (;;) {
        if (const Interruption seen = CheckStopOrCancel(stopFlag)) {
            outcome = seen == kStopSeen ? BatchProgress::kStopped : BatchProgress::kCancelled;
            job.outcome = seen == kStopSeen ? JobOutcome::kStopped
                                            : (m_lost ? JobOutcome::kLost : JobOutcome::kCancelled);
            // Cancelled between lines: the report names the line that was not run.
            size_t at = next;
            while (at < lines.size() && StepOf(lines[at]).kind == BatchStep::kNothing)
                ++at;
            if (at < lines.size()) {
                ++progress.current;
                progress.text = ShownText(StepOf(lines[at]));
            } else {
                outcome = BatchProgress::kAllSent;
                job.outcome = JobOutcome::kDone;
            }
            break;
        }
        if (next >= lines.size())
            break;
        const std::u16string line = lines[next].substr(0, kBatchLineChars);
        ++next;
        const BatchStep step = ParseBatchLine(line);
        if (step.kind == BatchStep::kNothing)
            continue;
        const auto started = Clock::now();
        ++progress.current;
        progress.text = ShownText(step);
        report(progress);
        if (step.kind == BatchStep::kPause) {
            progress.pauseMsLeft -= step.pauseMs;
            // Only shutdown ends a pause early.
            if (PauseOrStop(step.pauseMs, stopFlag)) {
                outcome = BatchProgress::kStopped;
                break;
            }
            ++progress.done;
            continue;
        }
        // A failed line's outcome is reported (and logged) before its message box opens.
        const int32_t result = CommandStep(stopFlag, step.command, job, false);
        if (stopFlag) {
            outcome = BatchProgress::kStopped;
            break;
        }
        if (result != TRANSACTION_OK) {
            outcome = result == TRANSACTION_CANCELLED ? BatchProgress::kCancelled
                                                      : BatchProgress::kFailed;
            failed = true;
            break;
        }
        ConsolePause();
        const bool stopped = CommandGapPause(stopFlag);
        ++progress.done;
        ++progress.commandsDone;
        --progress.commandsLeft;
        progress.commandMs +=
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
        if (stopped) {
            outcome = BatchProgress::kStopped;
            break;
        }
    }
    // What was not taken stays for the record; the next batch replaces it.
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(next));
    progress.outcome = outcome;
    report(progress);
    if (failed)
        ReportTransactionError();
    JobEndFrame();
}

// ---------------------------------------------------------------------------------------
// Command transaction

int32_t clCommunicateModel::RunTransaction(bool& stopFlag, std::u16string_view command) {
    std::u16string text(command);
    if (m_appendCR)
        text.push_back(u'\r');
    m_commandBytes = platform::Utf16ToLocale(text);
    m_commandLength = std::strlen(m_commandBytes.c_str());
    m_command = text;
    m_sentAt = Clock::time_point{};
    // A text that would not go out as itself is not sent at all (nor echoed as sent).
    m_refusal.clear();
    if (const CommandCheck check = CheckCommandText(command); !check.Fit())
        m_refusal = CommandCheckText(check);
    else
        m_gate.Call([&text, before = m_ring.WrittenCount()](IEngineEvents& e) {
            e.CommandSent(text, before);
        });

    BeginTransaction();

    if (m_closing || m_lost) {
        // The connection is being closed or its device is gone: nothing more goes out.
        m_receiveTimer.Cancel();
        m_status = STATUS_RECEIVE_CANCELLED;
        MovePhase(PHASE_IDLE);
        return TRANSACTION_CANCELLED;
    }
    if (!m_refusal.empty()) {
        m_status = STATUS_SEND_FAILED;
        MovePhase(PHASE_IDLE);
        if (clSimpleLog* log = m_context.Log())
            log->Write(u"Command refused: " + m_refusal);
        return TRANSACTION_SEND_FAILED;
    }
    clCamPort* port = m_context.CurrentPort();
    m_traffic.Sent(reinterpret_cast<const uint8_t*>(m_commandBytes.data()), m_commandLength);
    m_sentAt = Clock::now();
    m_lastSendResult = port
                           ? port->SendData(reinterpret_cast<const uint8_t*>(m_commandBytes.data()),
                                            static_cast<uint32_t>(m_commandLength))
                           : 1;
    int32_t result;
    if (m_lastSendResult != 0) {
        // A send that gave up because it was told to is a cancel, not a failure of the line.
        const bool interrupted = InterruptRequested();
        m_status = interrupted ? STATUS_RECEIVE_CANCELLED : STATUS_SEND_FAILED;
        MovePhase(PHASE_IDLE);
        if (clSimpleLog* log = m_context.Log())
            log->Write(u"SendData failed");
        result = interrupted ? TRANSACTION_CANCELLED : TRANSACTION_SEND_FAILED;
        if (platform::WaitForAny({m_context.StopEvent()}, 0) == 0)
            stopFlag = true;
    } else {
        AwaitReply();
        if (clWatchThread* watch = m_context.Watch())
            watch->SignalStart();
        result = ReceiveReply(stopFlag);
    }
    if (clWatchThread* watch = m_context.Watch())
        watch->SignalHalt();
    return result;
}

void clCommunicateModel::MovePhase(int32_t to) {
    int32_t current = m_phase;
    while (current != PHASE_NOT_CONNECTED && current != to &&
           !m_phase.compare_exchange_weak(current, to)) {
    }
    if (current != PHASE_NOT_CONNECTED && current != to)
        NotifyStateChanged();
}

void clCommunicateModel::AwaitReply() {
    MovePhase(PHASE_WAIT_FIRST);
    RestartReceiveTimer();
}

void clCommunicateModel::BeginTransaction() {
    m_status = STATUS_SENDING;
    // A cancel that came before this point still ends the send: the abort is reset first and
    // then set again when a cancel is already waiting.
    m_sendAbort.ResetEvent();
    if (InterruptRequested())
        m_sendAbort.Set();
    MovePhase(PHASE_SENDING);
    m_replyCode = kNoReplyCode;
    {
        std::lock_guard<std::mutex> guard(m_replyLinesLock);
        m_replyLines.clear();
    }
    m_collector.Clear();
    m_ring.SkipPending(clRingBuffer::kTransactionReader);
}

int32_t clCommunicateModel::ReceiveReply(bool& stopFlag) {
    int32_t result = TRANSACTION_OK;
    for (;;) {
        // The ring's data event wakes the wait as soon as bytes arrive; the period only bounds
        // how late a wait that misses every event notices them.
        const int w = platform::WaitForAny(
            {m_context.StopEvent(), &m_cancelEvent, &m_receiveTimer, &m_ring.DataEvent()}, kPollMs);
        if (w == 0) {
            stopFlag = true;
            result = TRANSACTION_OK;
            break;
        }
        if (w == 1 || m_closing || m_lost) {
            m_status = STATUS_RECEIVE_CANCELLED;
            result = TRANSACTION_CANCELLED;
            break;
        }
        if (w == 2) {
            m_status = STATUS_RECEIVE_TIMEOUT;
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
    m_receiveTimer.Cancel();
    MovePhase(PHASE_IDLE);
    return result;
}

bool clCommunicateModel::TakeReplyBytes() {
    const uint64_t n = m_ring.Pending(clRingBuffer::kTransactionReader);
    if (n == 0)
        return false;
    const int32_t current = m_phase;
    if (current != PHASE_WAIT_FIRST && current != PHASE_RECEIVING) {
        // Not waiting for a reply: the bytes are dropped.
        for (uint64_t i = 0; i < n; ++i)
            m_ring.Take(clRingBuffer::kTransactionReader);
        return false;
    }
    // The timer restarts for every chunk taken: the bytes of one chunk are taken in the same
    // instant, so one restart per chunk measures the gap since the last bytes arrived.
    MovePhase(PHASE_RECEIVING);
    RestartReceiveTimer();
    for (uint64_t i = 0; i < n; ++i) {
        switch (m_collector.Feed(m_ring.Take(clRingBuffer::kTransactionReader))) {
        case clReplyCollector::Result::kEnd:
            m_cancelEvent.ResetEvent();
            m_status = STATUS_REPLY_COMPLETE;
            return true;
        case clReplyCollector::Result::kLine: {
            std::lock_guard<std::mutex> guard(m_replyLinesLock);
            if (m_replyLines.size() < kMaxReplyLines)
                m_replyLines.push_back(m_collector.TakeLine());
            break;
        }
        case clReplyCollector::Result::kNothing:
            break;
        }
    }
    return false;
}

void clCommunicateModel::RestartReceiveTimer() {
    m_receiveTimer.Cancel();
    uint32_t timeout;
    const int32_t current = m_phase;
    if (current == PHASE_WAIT_FIRST)
        timeout = m_firstReceiveTimeout;
    else if (current == PHASE_RECEIVING)
        timeout = m_nextReceiveTimeout;
    else
        return;
    if (timeout == kNoTimeLimit)
        return;
    m_receiveTimer.ArmAfter(std::chrono::milliseconds(timeout));
}

void clCommunicateModel::ClassifyReply() {
    if (m_status != STATUS_REPLY_COMPLETE)
        return;
    std::u16string first;
    {
        std::lock_guard<std::mutex> guard(m_replyLinesLock);
        if (m_replyLines.empty())
            return;
        first = std::move(m_replyLines.front());
        m_replyLines.pop_front();
    }
    m_replyCode = ReplyCodeOf(first);
}

void clCommunicateModel::ReportTransactionError() {
    const int32_t s = m_status;
    int id = -1;
    if (s == STATUS_RECEIVE_TIMEOUT)
        id = MSG_RECEIVE_TIMEOUT;
    else if (s == STATUS_SEND_FAILED)
        id = MSG_TRANSMIT_TIMEOUT;
    if (id < 0)
        return;
    // A text refused before it went out says why instead of a transmit time-out.
    const std::u16string text =
        id == MSG_TRANSMIT_TIMEOUT && !m_refusal.empty() ? m_refusal : m_context.MessageText(id);
    m_gate.Call([&text](IEngineEvents& e) { e.Ask({text, u"", MB_OK}); });
}
