#include "ui/ScriptSocket.h"

#include "app/Application.h"
#include "app/PropertyEdit.h"
#include "app/ServeSocket.h"
#include "app/Verify.h"
#include "base/MessageTable.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommunicateModel.h"
#include "comm/ReplyCollector.h"
#include "comm/TrafficLog.h"
#include "platform/Text.h"
#include "textfiles/BatchText.h"

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

// The serve protocol's error codes (quillon-cli's exit statuses).
enum Code : int { kUsage = 1, kFile = 2, kPort = 3, kTransaction = 4, kReply = 5, kMismatch = 6 };

// Between two jobs of scripts the engine stays free a little longer than the interval the
// operator's waiting commit tries again at: the operator's commits keep their turn.
constexpr int kOperatorTurnMs = static_cast<int>(clCommunicateModel::kPollMs) * 2;

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
    : QObject(parent), m_app(app), m_hooks(std::move(hooks)) {}

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
    if (!m_owning.exchange(false))
        return;
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
        return e.request && serve::NeedsCamera(e.request->method);
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
    if (const auto it = m_clients.find(work.client); it != m_clients.end()) {
        if (!work.responses.empty())
            m_listener.Write(work.client,
                             work.line.batch ? work.responses : work.responses.front());
        --it->second.inFlight;
        m_listener.Handled(work.client);
    }
    Pump();
}

void CScriptSocket::FinishEntry(json response) {
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
    // The operator's commit that waits gets the engine before the next job of a script.
    QTimer::singleShot(kOperatorTurnMs, this, [this] { Advance(); });
}

json CScriptSocket::Dispatch(uint64_t client, const serve::Request& r,
                             std::unique_ptr<Operation>* op) {
    const json& p = r.params;
    try {
        json result;
        if (r.method == "get")
            result = Get(p);
        else if (r.method == "describe")
            result = Describe(p);
        else if (r.method == "cancel")
            result = Cancel(client);
        else if (r.method == "subscribe")
            result = Subscribe(client, p);
        else if (r.method == "open" || r.method == "close")
            // The operator decides which port the window holds, and when.
            throw Failure{kPort, "the window holds the port"};
        else if (op && (r.method == "send" || r.method == "set" || r.method == "execute" ||
                        r.method == "identify" || r.method == "load")) {
            *op = r.method == "send"       ? Send(p)
                  : r.method == "set"      ? Set(p)
                  : r.method == "execute"  ? Execute(p)
                  : r.method == "identify" ? Identify()
                                           : Load(p);
            (*op)->request = r;
            return nullptr;
        } else
            return serve::ErrorResponse(r.id, serve::kMethodNotFound,
                                        "the window does not serve \"" + r.method +
                                            "\": use quillon-cli serve for it");
        return serve::Response(r.id, std::move(result));
    } catch (const Failure& f) {
        return serve::ErrorResponse(r.id, f.code, f.message, f.data);
    } catch (const std::exception& e) {
        return serve::ErrorResponse(r.id, serve::kInternalError, e.what());
    }
}

// ---- the jobs of a request

void CScriptSocket::SubmitNext() {
    m_retryQueued = false;
    if (!m_op)
        return;
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
        if (op.job > 0 && !m_app.IsConnected())
            // The operator disconnected while the request ran: it ends as a cancel does.
            throw Failure{kTransaction, "the window was disconnected: nothing more was sent"};
        NeedPort();
        clCommunicateModel* engine = m_app.Engine();
        if (engine->IsBusy()) {
            // The operator's job (or the identity check after a reconnect) runs: ours waits.
            m_retryQueued = true;
            QTimer::singleShot(static_cast<int>(clCommunicateModel::kPollMs), this,
                               [this] { SubmitNext(); });
            return;
        }
        m_armed = true;
        m_submitting = true;
        const int32_t submitted = op.jobs[op.job]();
        m_submitting = false;
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
    // The operator's waiting commit goes first.
    m_retryQueued = true;
    QTimer::singleShot(kOperatorTurnMs, this, [this] { SubmitNext(); });
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

namespace {

// The properties named by "names" (all, in the property tree's order, without it).
std::vector<const clCamProperty*> Named(const clCamPropertyMgr& m, const json& p,
                                        std::string& unknown) {
    if (!p.contains("names"))
        return TreeOrder(m);
    std::vector<const clCamProperty*> list;
    for (const json& n : p["names"]) {
        const clCamProperty* property = m.FindProperty(Wide(n.get<std::string>()));
        if (!property) {
            unknown = n.get<std::string>();
            return {};
        }
        list.push_back(property);
    }
    return list;
}

} // namespace

json CScriptSocket::Get(const json& p) {
    NeedDefinition();
    const clCamPropertyMgr& m = m_app.Engine()->PropertyManager();
    std::string unknown;
    json values = json::object();
    for (const clCamProperty* property : Named(m, p, unknown))
        if (property->type != CamPropertyType::Execution)
            values[Utf8(property->name)] = PlainValue(PropertyValueJson(m, property));
    if (!unknown.empty())
        throw Failure{kUsage, "no property \"" + unknown + "\" in the definition"};
    return {{"values", values}};
}

json CScriptSocket::Describe(const json& p) {
    NeedDefinition();
    const clCamPropertyMgr& m = m_app.Engine()->PropertyManager();
    std::string unknown;
    json properties = json::array();
    for (const clCamProperty* property : Named(m, p, unknown))
        properties.push_back(DescribeProperty(m, property));
    if (!unknown.empty())
        throw Failure{kUsage, "no property \"" + unknown + "\" in the definition"};
    return {{"properties", properties}};
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
        throw Failure{kFile, Utf8(Msg(MSG_FAIL_OPEN_BATCH_FILE)) + ": " + file +
                                 (fault.line ? ": line " + std::to_string(fault.line) : "") + ": " +
                                 fault.reason};
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
            std::vector<VerifyMismatch> found;
            if (!VerifyCommandReply(m.IsLoaded() ? &m : nullptr,
                                    Wide(t["command"].get<std::string>()), replyLines, found))
                continue;
            const size_t step = i < op->steps.size() ? op->steps[i] : 0;
            for (const VerifyMismatch& x : found)
                result["mismatches"].push_back({{"line", fileLine(step)},
                                                {"command", t["command"]},
                                                {"field", x.field},
                                                {"sent", x.sent},
                                                {"camera", x.received}});
        }
        if (!result["mismatches"].empty())
            failure = Failure{kMismatch,
                              "the camera holds other values than sent (" +
                                  std::to_string(result["mismatches"].size()) + " mismatches)",
                              result};
    };
    op->result = [op = op.get()] { return op->extra; };
    return op;
}
