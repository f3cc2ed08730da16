#include "ui/ScriptSocket.h"

#include "app/Application.h"
#include "app/PropertyEdit.h"
#include "app/ServeSocket.h"
#include "base/MessageTable.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommunicateModel.h"
#include "comm/ReplyCollector.h"
#include "comm/TrafficLog.h"
#include "platform/Text.h"
#include "textfiles/BatchText.h"
#include "textfiles/TextFiles.h"

#include <QTimer>
#include <algorithm>

using nlohmann::json;

namespace {

std::string Utf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}
std::u16string Wide(std::string_view utf8) {
    return platform::Utf8ToUtf16(utf8);
}

using enum serve::Status;

// Whether a request waits its turn (runs as an operation) rather than being answered at once.
bool Waits(std::string_view method) {
    return serve::NeedsCamera(method) || method == "check";
}

json ReportJson(const TransactionReport& t) {
    return TransactionJson(t.command, t.result, t.replyCode, t.replyLines, t.elapsedMs, t.Lost());
}

std::string OutcomeText(const TransactionReport& t) {
    if (t.Lost())
        return Utf8(FormatMsg(MSG_PORT_LOST, {t.lostDevice}));
    return TransactionOutcomeText(t.result, t.replyCode, false);
}

} // namespace

CScriptSocket::CScriptSocket(clApplication& app, Hooks hooks, QObject* parent)
    : QObject(parent), m_app(app), m_hooks(std::move(hooks)), m_roundTimer(new QTimer(this)) {
    m_roundTimer->setSingleShot(true);
    connect(m_roundTimer, &QTimer::timeout, this, [this] { QueueRounds(); });
}

CScriptSocket::~CScriptSocket() {
    *m_alive = false;
    Stop();
}

bool CScriptSocket::Start(const std::string& path, std::string& error) {
    Stop();
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 &&
        !serve::MakePrivateFolder(path.substr(0, slash), error))
        return false;
    // Every handler hands its news to the user-interface thread.
    auto alive = m_alive;
    auto deliver = [this, alive](std::function<void()> call) {
        m_hooks.deliver([alive, call = std::move(call)] {
            if (*alive)
                call();
        });
    };
    clScriptListener::Handlers h;
    h.connected = [this, deliver](uint64_t c) { deliver([this, c] { OnConnected(c); }); };
    h.line = [this, deliver](uint64_t c, serve::Line line) {
        deliver([this, c, line = std::move(line)]() mutable { OnLine(c, std::move(line)); });
    };
    h.gone = [this, deliver](uint64_t c) { deliver([this, c] { OnGone(c); }); };
    return m_listener.Start(path, std::move(h), error);
}

void CScriptSocket::Stop() {
    if (!m_listener.Listening())
        return;
    m_listener.Stop();
    for (const auto& [id, state] : m_clients)
        if (m_hooks.log)
            m_hooks.log(FormatMsg(MSG_SCRIPT_DISCONNECTED, {Wide(std::to_string(id))}));
    m_clients.clear();
    m_queue.clear();
    m_watches.clear();
    m_roundTimer->stop();
    ListenToTraffic();
    if (m_hooks.countChanged)
        m_hooks.countChanged(0);
}

// ---- the engine's events (worker thread)

void CScriptSocket::JobStarted() {
    // The engine runs one job at a time, and a job is submitted only while it is ready: the
    // job that starts after the socket's submit is the socket's.
    if (m_armed.exchange(false)) {
        std::lock_guard<std::mutex> guard(m_reportLock);
        m_reports.clear();
        m_reportSteps.clear();
        m_step = 0;
        m_owning = true;
    }
}

void CScriptSocket::TransactionEnded(const TransactionReport& report) {
    if (!m_owning)
        return;
    std::lock_guard<std::mutex> guard(m_reportLock);
    m_reports.push_back(report);
    m_reportSteps.push_back(m_step);
}

void CScriptSocket::BatchProgressed(const BatchProgress& progress) {
    if (!m_owning || progress.outcome != BatchProgress::kRunning)
        return;
    m_step = progress.current;
    auto alive = m_alive;
    m_hooks.deliver([this, alive, progress] {
        if (!*alive)
            return;
        const size_t line = progress.current >= 1 && progress.current <= m_loadLines.size()
                                ? m_loadLines[progress.current - 1]
                                : 0;
        Notify("progress", "progress",
               {{"done", progress.done},
                {"total", m_loadLines.size()},
                {"line", line},
                {"text", Utf8(progress.text)}});
    });
}

void CScriptSocket::JobEnded(const JobReport& report) {
    if (!m_owning.exchange(false)) {
        // Another job ended: a request that waits for the engine goes on (after the window's
        // own work that was queued before this).
        auto alive = m_alive;
        m_hooks.deliver([this, alive] {
            if (*alive && m_waitingForEngine)
                SubmitNext();
        });
        return;
    }
    std::vector<TransactionReport> reports;
    std::vector<size_t> steps;
    {
        std::lock_guard<std::mutex> guard(m_reportLock);
        reports.swap(m_reports);
        steps.swap(m_reportSteps);
    }
    auto alive = m_alive;
    m_hooks.deliver(
        [this, alive, report, reports = std::move(reports), steps = std::move(steps)]() mutable {
            if (*alive)
                OnJobEnded(report, reports, steps);
        });
}

// ---- clients and their lines (user-interface thread)

void CScriptSocket::OnConnected(uint64_t client) {
    m_clients[client];
    if (m_hooks.log)
        m_hooks.log(FormatMsg(MSG_SCRIPT_CONNECTED, {Wide(std::to_string(client))}));
    if (m_hooks.countChanged)
        m_hooks.countChanged(m_clients.size());
}

void CScriptSocket::OnGone(uint64_t client) {
    if (!m_clients.erase(client))
        return;
    // Its queued lines never run; a running request completes (the camera's state stays
    // consistent) and its answer goes nowhere.
    std::erase_if(m_queue, [client](const Work& w) { return w.client == client; });
    std::erase_if(m_watches, [client](const WatchRound& w) { return w.client == client; });
    ListenToTraffic();
    if (m_hooks.log)
        m_hooks.log(FormatMsg(MSG_SCRIPT_DISCONNECTED, {Wide(std::to_string(client))}));
    if (m_hooks.countChanged)
        m_hooks.countChanged(m_clients.size());
}

void CScriptSocket::OnLine(uint64_t client, serve::Line line) {
    const auto it = m_clients.find(client);
    if (it == m_clients.end())
        return;
    const bool camera = std::any_of(line.entries.begin(), line.entries.end(), [](const auto& e) {
        return e.request && Waits(e.request->method);
    });
    // A cancel is for what runs now: it never waits.
    const bool cancel = line.entries.size() == 1 && line.entries.front().request &&
                        line.entries.front().request->method == "cancel";
    if (camera || (it->second.inFlight > 0 && !cancel)) {
        ++it->second.inFlight;
        m_queue.push_back({client, std::move(line)});
        Pump();
        return;
    }
    json responses = json::array();
    for (const serve::Entry& e : line.entries) {
        if (!e.request) {
            if (!e.error.is_null())
                responses.push_back(e.error);
            continue;
        }
        json response = Dispatch(client, *e.request, nullptr);
        if (!e.request->notification)
            responses.push_back(std::move(response));
    }
    if (!responses.empty())
        m_listener.Write(client, line.batch ? responses : responses.front());
    m_listener.Handled(client);
}

void CScriptSocket::Pump() {
    if (m_work || m_queue.empty())
        return;
    m_work = std::make_unique<Work>(std::move(m_queue.front()));
    m_queue.pop_front();
    if (m_work->watch) {
        const auto it = std::find_if(m_watches.begin(), m_watches.end(),
                                     [this](const WatchRound& w) { return w.id == m_work->watch; });
        if (it == m_watches.end()) { // stopped meanwhile
            m_work.reset();
            Pump();
            return;
        }
        m_op = Round(it->plan);
        SubmitNext();
        return;
    }
    Advance();
}

void CScriptSocket::Advance() {
    while (m_work && m_work->next < m_work->line.entries.size()) {
        const serve::Entry& e = m_work->line.entries[m_work->next];
        if (!e.request) {
            if (!e.error.is_null())
                m_work->responses.push_back(e.error);
            ++m_work->next;
            continue;
        }
        std::unique_ptr<Operation> op;
        json response = Dispatch(m_work->client, *e.request, &op);
        if (op) {
            m_op = std::move(op);
            SubmitNext();
            return;
        }
        FinishEntry(std::move(response));
    }
    if (!m_work)
        return;
    const Work work = std::move(*m_work);
    m_work.reset();
    if (const auto it = m_clients.find(work.client); it != m_clients.end() && !work.watch) {
        if (!work.responses.empty())
            m_listener.Write(work.client,
                             work.line.batch ? work.responses : work.responses.front());
        --it->second.inFlight;
        m_listener.Handled(work.client);
    }
    Pump();
}

void CScriptSocket::FinishEntry(json response) {
    if (m_work->watch) {
        // A round: its script hears the values or why the round is a gap.
        const uint64_t id = m_work->watch;
        const auto it = std::find_if(m_watches.begin(), m_watches.end(),
                                     [id](const WatchRound& w) { return w.id == id; });
        if (it == m_watches.end())
            return;
        it->queued = false;
        json params;
        if (response.contains("result")) {
            params = serve::RoundParams(id, response["result"], nullptr);
        } else {
            const Failure f{response["error"]["code"].get<int>(),
                            response["error"]["message"].get<std::string>()};
            params = serve::RoundParams(id, nullptr, &f);
        }
        m_listener.Write(it->client, serve::Notification("watch", params));
        QueueRounds();
        return;
    }
    if (!m_work->line.entries[m_work->next].request->notification)
        m_work->responses.push_back(std::move(response));
    ++m_work->next;
}

void CScriptSocket::EndOperation(json response) {
    m_op.reset();
    m_waitingForJob = false;
    if (!m_work)
        return;
    FinishEntry(std::move(response));
    QTimer::singleShot(0, this, [this] { Advance(); });
}

json CScriptSocket::Dispatch(uint64_t client, const serve::Request& r,
                             std::unique_ptr<Operation>* op) {
    const json& p = r.params;
    const std::string& m = r.method;
    return serve::Answer(r, [&]() -> json {
        if (m == "get" || m == "describe") {
            NeedDefinition();
            const clCamPropertyMgr& manager = m_app.Engine()->PropertyManager();
            return m == "get" ? serve::GetValues(manager, p)
                              : serve::DescribeProperties(manager, p);
        }
        if (m == "cancel")
            return Cancel(client);
        if (m == "subscribe")
            return Subscribe(client, p);
        if (m == "ports")
            return serve::ListPorts(m_app.Interfaces(), m_app.Session().ConnectedDevice());
        if (m == "watch")
            return Watch(client, p);
        if (m == "unwatch")
            return Unwatch(client, p);
        if (m == "open" || m == "close")
            // The operator decides which port the window holds, and when.
            throw Failure{kPort, "the window holds the port"};
        std::unique_ptr<Operation> made = m == "send"       ? Send(p)
                                          : m == "set"      ? Set(p)
                                          : m == "execute"  ? Execute(p)
                                          : m == "identify" ? Identify()
                                          : m == "load"     ? Load(p)
                                          : m == "save"     ? Save(p)
                                          : m == "check"    ? Check(p)
                                                            : nullptr;
        if (!made)
            throw Failure{serve::kMethodNotFound, "no method \"" + m + "\""};
        if (!op)
            throw Failure{serve::kInternalError, m + " cannot be answered at once"};
        made->request = r;
        *op = std::move(made);
        return nullptr;
    });
}

// ---- the jobs of a request

void CScriptSocket::SubmitNext() {
    if (!m_op || m_waitingForJob)
        return;
    m_waitingForEngine = false;
    Operation& op = *m_op;
    auto fail = [&](const Failure& f) {
        json data = f.data.is_null() ? op.extra : f.data;
        if (data.is_object() && f.code >= kTransaction)
            data["transactions"] = op.transactions;
        EndOperation(serve::ErrorResponse(op.request.id, f.code, f.message,
                                          data.empty() ? json(nullptr) : data));
    };
    try {
        if (op.job == op.jobs.size()) {
            const json result = op.result();
            EndOperation(serve::Response(op.request.id, result));
            return;
        }
        if (op.cancelled)
            throw Failure{kTransaction, "cancelled: nothing more was sent"};
        if (op.needsPort && op.job > 0 && !m_app.IsConnected())
            // The operator disconnected while the request ran: it ends as a cancel does.
            throw Failure{kTransaction, "the window was disconnected: nothing more was sent"};
        if (op.needsPort)
            NeedPort();
        if (!op.needsIdle) {
            op.jobs[op.job]();
            ++op.job;
            // One step a turn of the event loop: the window stays responsive.
            QTimer::singleShot(0, this, [this] { SubmitNext(); });
            return;
        }
        clCommunicateModel* engine = m_app.Engine();
        if (!engine)
            throw Failure{kUsage, "the window has no engine"};
        if (engine->IsBusy() || (m_hooks.operatorWaiting && m_hooks.operatorWaiting())) {
            // The operator's job (a Monitor round, the identity check after a reconnect) runs,
            // or the operator's commit waits for the engine: ours goes after it, at the end of
            // that job or at the latest one poll later.
            m_waitingForEngine = true;
            QTimer::singleShot(static_cast<int>(clCommunicateModel::kPollMs), this,
                               [this] { SubmitNext(); });
            return;
        }
        m_armed = true;
        m_submitting = true;
        const int32_t submitted = op.jobs[op.job]();
        m_submitting = false;
        if (submitted == kRanHere) {
            m_armed = false;
            ++op.job;
            QTimer::singleShot(0, this, [this] { SubmitNext(); });
            return;
        }
        if (submitted == SUBMIT_OK) {
            m_waitingForJob = true;
            return;
        }
        m_armed = false;
        if (submitted == SUBMIT_NOT_CONNECTED)
            NeedPort();
        if (submitted == SUBMIT_STALE_RECORD)
            throw Failure{kUsage, "the definition was closed or changed meanwhile"};
        throw Failure{kTransaction, "the engine did not take the job (refusal " +
                                        std::to_string(submitted) + ")"};
    } catch (const Failure& f) {
        m_submitting = false;
        fail(f);
    }
}

std::optional<CScriptSocket::Failure>
CScriptSocket::Judge(const Operation& op, const JobReport& report,
                     const std::vector<TransactionReport>& reports) {
    // The first transaction that failed, else a cancel, else a reply code other than OK.
    for (const TransactionReport& t : reports)
        if (t.result != TRANSACTION_OK)
            return Failure{kTransaction,
                           Utf8(t.command) + ": " + OutcomeText(t) +
                               (t.refusal.empty() ? "" : " (" + Utf8(t.refusal) + ")")};
    if (op.cancelled || report.outcome != JobOutcome::kDone)
        return Failure{kTransaction, "cancelled: nothing more was sent"};
    for (const TransactionReport& t : reports)
        if (t.replyCode != kReplyCodeOk)
            return Failure{kReply, Utf8(t.command) + ": the camera answered " + OutcomeText(t)};
    return std::nullopt;
}

void CScriptSocket::OnJobEnded(const JobReport& report,
                               const std::vector<TransactionReport>& reports,
                               const std::vector<size_t>& steps) {
    if (!m_op || !m_waitingForJob)
        return;
    m_waitingForJob = false;
    Operation& op = *m_op;
    for (const TransactionReport& t : reports)
        op.transactions.push_back(ReportJson(t));
    for (size_t step : steps)
        op.steps.push_back(step);
    std::optional<Failure> failure = Judge(op, report, reports);
    if (op.judge)
        op.judge(report, failure);
    if (op.afterJob)
        op.afterJob(op.job);
    if (failure) {
        json data = failure->data.is_null() ? op.extra : failure->data;
        if (!data.is_object())
            data = json::object();
        data["transactions"] = op.transactions;
        EndOperation(serve::ErrorResponse(op.request.id, failure->code, failure->message, data));
        return;
    }
    ++op.job;
    SubmitNext();
}

// ---- the methods

void CScriptSocket::NeedDefinition() const {
    const clCommunicateModel* engine = m_app.Engine();
    if (!engine || !engine->PropertyManager().IsLoaded())
        throw Failure{kUsage, "no definition is loaded in the window"};
}

void CScriptSocket::NeedPort() const {
    if (!m_app.Engine() || !m_app.IsConnected())
        throw Failure{kPort, "the window is not connected: the operator connects it"};
}

json CScriptSocket::Cancel(uint64_t client) {
    if (!m_op || !m_work || m_work->client != client)
        return {{"cancelled", false}};
    m_op->cancelled = true;
    if (m_waitingForJob)
        m_app.Engine()->CancelReceiving();
    return {{"cancelled", true}};
}

json CScriptSocket::Subscribe(uint64_t client, const json& p) {
    std::set<std::string> events;
    for (const json& e : p["events"])
        events.insert(e.get<std::string>());
    m_clients[client].events = std::move(events);
    ListenToTraffic();
    return nullptr;
}

void CScriptSocket::Notify(const std::string& event, const std::string& method,
                           const json& params) {
    const json message = serve::Notification(method, params);
    for (const auto& [id, state] : m_clients)
        if (state.events.count(event))
            m_listener.Write(id, message);
}

std::unique_ptr<CScriptSocket::Operation> CScriptSocket::Send(const json& p) {
    auto op = std::make_unique<Operation>();
    for (const json& c : p["commands"]) {
        const std::string command = c.get<std::string>();
        std::u16string text;
        std::string reason;
        if (!CommandArgument(command, text, reason, false, "UTF-8"))
            throw Failure{kUsage, "send \"" + command + "\": " + reason};
        op->jobs.push_back([this, text] { return m_app.Engine()->SubmitCommandJob(text); });
    }
    if (op->jobs.empty())
        throw Failure{kUsage, "send needs at least one command"};
    NeedPort();
    op->result = [op = op.get()] { return json{{"transactions", op->transactions}}; };
    return op;
}

std::unique_ptr<CScriptSocket::Operation> CScriptSocket::Set(const json& p) {
    NeedDefinition();
    if (p["values"].empty())
        throw Failure{kUsage, "set needs at least one value"};
    clCamPropertyMgr& m = m_app.Engine()->PropertyManager();
    std::vector<PropertyEdit> edits;
    std::string error;
    json range;
    if (!ParseScriptValues(m, p["values"], edits, error, range))
        throw Failure{kUsage, error, range};
    NeedPort();
    auto op = std::make_unique<Operation>();
    op->extra["values"] = json::object();
    // The values before, to tell what the replies and the calculators changed.
    auto before = std::make_shared<std::map<std::string, json>>();
    for (const clCamProperty* property : TreeOrder(m))
        if (property->type != CamPropertyType::Execution)
            (*before)[Utf8(property->name)] = PlainValue(PropertyValueJson(m, property));
    for (const PropertyEdit& edit : edits) {
        // The record is named by load generation and index: the operator may close or reload
        // the definition between two jobs.
        const auto name = m.NameOf(edit.property);
        op->jobs.push_back([this, edit, name]() mutable {
            clCamPropertyMgr& now = m_app.Engine()->PropertyManager();
            const clCamProperty* record = now.RecordOf(name.generation, name.index);
            if (!record)
                return static_cast<int32_t>(SUBMIT_STALE_RECORD);
            StorePropertyEdit(now, edit);
            if (m_hooks.valuesChanged)
                m_hooks.valuesChanged();
            return m_app.Engine()->RunPropertyJob(record);
        });
    }
    op->afterJob = [this, op = op.get(), before, edits](size_t job) {
        const clCamPropertyMgr& now = m_app.Engine()->PropertyManager();
        json& values = op->extra["values"];
        const std::string edited = Utf8(edits[job].property->name);
        for (const clCamProperty* property : TreeOrder(now)) {
            if (property->type == CamPropertyType::Execution)
                continue;
            const std::string name = Utf8(property->name);
            json value = PlainValue(PropertyValueJson(now, property));
            const auto it = before->find(name);
            if (name == edited || it == before->end() || it->second != value) {
                values[name] = value;
                (*before)[name] = value;
            }
        }
        if (m_hooks.valuesChanged)
            m_hooks.valuesChanged();
    };
    op->result = [op = op.get()] {
        return json{{"transactions", op->transactions}, {"values", op->extra["values"]}};
    };
    return op;
}

std::unique_ptr<CScriptSocket::Operation> CScriptSocket::Execute(const json& p) {
    NeedDefinition();
    const std::string name = p["name"].get<std::string>();
    const clCamPropertyMgr& m = m_app.Engine()->PropertyManager();
    const clCamProperty* property = m.FindProperty(Wide(name));
    // No box opens for a script: it confirms in its request.
    std::string error;
    json data;
    if (!CheckExecute(property, name, p.value("confirm", false), error, data))
        throw Failure{kUsage, error, data};
    NeedPort();
    auto op = std::make_unique<Operation>();
    const auto record = m.NameOf(property);
    op->jobs.push_back([this, record] {
        const clCamProperty* now =
            m_app.Engine()->PropertyManager().RecordOf(record.generation, record.index);
        return now ? m_app.Engine()->RunPropertyJob(now)
                   : static_cast<int32_t>(SUBMIT_STALE_RECORD);
    });
    op->result = [op = op.get()] { return json{{"transactions", op->transactions}}; };
    return op;
}

std::unique_ptr<CScriptSocket::Operation> CScriptSocket::Identify() {
    NeedPort();
    auto op = std::make_unique<Operation>();
    op->jobs.push_back([this] { return m_app.Engine()->SubmitCommandJob(u"sta"); });
    // What "sta" answered, read from its reply lines.
    op->result = [op = op.get()] {
        json who{{"model", ""}, {"type", ""}, {"version", ""}, {"serial", ""}};
        for (const json& t : op->transactions)
            for (const json& line : t["replies"]) {
                const std::string text = line.get<std::string>();
                for (const auto& [key, field] :
                     {std::pair{"Model=", "model"}, std::pair{"Type=", "type"},
                      std::pair{"Ver.=", "version"}, std::pair{"Serial=", "serial"}})
                    if (text.rfind(key, 0) == 0)
                        who[field] = text.substr(std::char_traits<char>::length(key));
            }
        return who;
    };
    return op;
}

std::unique_ptr<CScriptSocket::Operation> CScriptSocket::Load(const json& p) {
    const std::string file = p["path"].get<std::string>();
    const bool verify = p.value("verify", false);
    std::u16string text;
    const BatchTextFault fault = ReadCheckedBatchText(file, text);
    if (!fault.reason.empty())
        throw serve::BatchFileFailure(file, fault.line, fault.reason);
    auto batch = std::make_shared<ScriptBatch>(SplitScriptBatch(text));
    NeedPort();
    auto op = std::make_unique<Operation>();
    op->extra = {{"sent", 0},
                 {"total", batch->commands},
                 {"outcome", "all_sent"},
                 {"mismatches", json::array()}};
    op->jobs.push_back([this, batch] {
        m_loadLines = batch->stepLines;
        return m_app.Engine()->SubmitBatchJob(batch->lines);
    });
    auto fileLine = [batch](size_t step) { return batch->FileLine(step); };
    op->judge = [this, op = op.get(), verify, fileLine](const JobReport& report,
                                                        std::optional<Failure>& failure) {
        json& result = op->extra;
        result["sent"] = op->transactions.size();
        bool cancelled = op->cancelled;
        for (const json& t : op->transactions)
            cancelled = cancelled || t["result"] == "cancelled" || t["result"] == "lost";
        result["outcome"] = report.outcome == JobOutcome::kDone && !op->cancelled ? "all_sent"
                            : cancelled || report.outcome == JobOutcome::kCancelled ||
                                    report.outcome == JobOutcome::kLost
                                ? "cancelled"
                                : "stopped";
        if (failure) {
            failure->data = result;
            return;
        }
        if (!verify)
            return;
        const clCamPropertyMgr& m = m_app.Engine()->PropertyManager();
        for (size_t i = 0; i < op->transactions.size(); ++i) {
            const json& t = op->transactions[i];
            std::vector<std::u16string> replyLines;
            for (const json& r : t["replies"])
                replyLines.push_back(u">" + Wide(r.get<std::string>()));
            const size_t step = i < op->steps.size() ? op->steps[i] : 0;
            serve::AddMismatches(m.IsLoaded() ? &m : nullptr, Wide(t["command"].get<std::string>()),
                                 replyLines, fileLine(step), result["mismatches"]);
        }
        if (!result["mismatches"].empty())
            failure = serve::MismatchFailure(result);
    };
    op->result = [op = op.get()] { return op->extra; };
    return op;
}

std::unique_ptr<CScriptSocket::Operation> CScriptSocket::Save(const json& p) {
    NeedDefinition();
    auto op = std::make_unique<Operation>();
    op->needsPort = false;
    // Written while the engine runs no job: no command is composed from the values the file
    // takes for a moment.
    auto saved = std::make_shared<json>();
    op->jobs.push_back([this, p, saved] {
        NeedDefinition();
        clQuietFilesUi quiet;
        clTextFiles files(m_app, *m_app.Engine(), &quiet);
        *saved = serve::SaveSettings(m_app.Engine()->PropertyManager(), p,
                                     [&](const std::u16string& path, std::string& reason) {
                                         const int32_t written = files.WriteSettingsText(path);
                                         reason = quiet.Reason();
                                         return written;
                                     });
        return kRanHere;
    });
    op->result = [saved] { return *saved; };
    return op;
}

std::unique_ptr<CScriptSocket::Operation> CScriptSocket::Check(const json& p) {
    const clCommunicateModel* engine = m_app.Engine();
    auto check = std::make_shared<serve::DefinitionsCheck>(
        engine ? engine->PropertyManager().SchemaPathFormat() : std::u16string());
    auto op = std::make_unique<Operation>();
    op->needsPort = false;
    op->needsIdle = false;
    // One file a step: the window stays responsive however many a script names.
    for (const json& f : p["paths"])
        op->jobs.push_back([check, file = f.get<std::string>()] {
            check->Add(file);
            return kRanHere;
        });
    op->result = [check] { return check->Result(); };
    return op;
}

json CScriptSocket::Watch(uint64_t client, const json& p) {
    NeedDefinition();
    WatchRound w;
    w.plan = serve::ReadWatch(m_app.Engine()->PropertyManager(), p);
    NeedPort();
    w.id = ++m_lastWatch;
    w.client = client;
    w.due = std::chrono::steady_clock::now();
    m_watches.push_back(std::move(w));
    // The first round is queued behind this answer.
    QueueRounds();
    return {{"id", m_lastWatch}};
}

json CScriptSocket::Unwatch(uint64_t client, const json& p) {
    const size_t before = m_watches.size();
    std::erase_if(m_watches, [&](const WatchRound& w) {
        return w.client == client && (!p.contains("id") || w.id == p["id"].get<uint64_t>());
    });
    return {{"stopped", before - m_watches.size()}};
}

std::unique_ptr<CScriptSocket::Operation> CScriptSocket::Round(const serve::WatchPlan& plan) {
    auto op = std::make_unique<Operation>();
    if (!plan.run.empty()) {
        op->jobs.push_back([this, run = plan.run] {
            const clCamProperty* property = m_app.Engine()->PropertyManager().FindProperty(run);
            if (!property || property->type != CamPropertyType::Execution)
                throw Failure{kUsage,
                              "no Execution property \"" + Utf8(run) + "\" in the definition"};
            return m_app.Engine()->RunPropertyJob(property);
        });
    } else if (!plan.send.empty()) {
        op->jobs.push_back(
            [this, send = plan.send] { return m_app.Engine()->SubmitCommandJob(send); });
    }
    op->needsPort = !op->jobs.empty();
    op->afterJob = [this](size_t) {
        if (m_hooks.valuesChanged)
            m_hooks.valuesChanged();
    };
    op->result = [this, names = plan.names] {
        NeedDefinition();
        return serve::WatchValues(m_app.Engine()->PropertyManager(), names);
    };
    return op;
}

void CScriptSocket::QueueRounds() {
    const auto now = std::chrono::steady_clock::now();
    for (WatchRound& w : m_watches) {
        if (w.queued || w.due > now)
            continue;
        w.queued = true;
        // Rounds keep their pace; one that overran its interval is followed at once.
        w.due = std::max(w.due + w.plan.every, now);
        Work round;
        round.client = w.client;
        round.watch = w.id;
        m_queue.push_back(std::move(round));
    }
    std::optional<std::chrono::steady_clock::time_point> next;
    for (const WatchRound& w : m_watches)
        if (!w.queued && (!next || w.due < *next))
            next = w.due;
    m_roundTimer->stop();
    if (next) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
        m_roundTimer->start(static_cast<int>(std::max<int64_t>(wait.count(), 0)));
    }
    Pump();
}

void CScriptSocket::ListenToTraffic() {
    const bool wanted = std::any_of(m_clients.begin(), m_clients.end(), [](const auto& c) {
        return c.second.events.count("traffic") > 0;
    });
    clCommunicateModel* engine = m_app.Engine();
    if (wanted == m_listeningToTraffic || !engine)
        return;
    m_listeningToTraffic = wanted;
    if (!wanted) {
        engine->Traffic().SetListener({});
        return;
    }
    // The log's lines come on the engine's threads: each is handed to this thread.
    auto alive = m_alive;
    engine->Traffic().SetListener([this, alive](std::string_view direction, std::string_view text,
                                                std::chrono::system_clock::time_point at) {
        if (direction == "==")
            return;
        m_hooks.deliver([this, alive, params = serve::TrafficParams(direction, text, at)] {
            if (*alive)
                Notify("traffic", "traffic", params);
        });
    });
}

void CScriptSocket::PortLost(const std::u16string& device) {
    Notify("port", "port_lost", {{"device", Utf8(device)}});
}

void CScriptSocket::PortReturned(const std::u16string& device, const CameraIdentity& identity) {
    json who = nullptr;
    if (!identity.Empty())
        who = {{"model", Utf8(identity.model)},
               {"type", ""},
               {"version", Utf8(identity.version)},
               {"serial", Utf8(identity.serial)}};
    Notify("port", "port_returned", {{"device", Utf8(device)}, {"identity", who}});
}
