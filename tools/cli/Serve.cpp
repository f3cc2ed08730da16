#include "tools/cli/Serve.h"

#include "app/PropertyEdit.h"
#include "app/ScriptMethods.h"
#include "app/ServeRequest.h"
#include "app/ServeSocket.h"
#include "base/MessageTable.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommunicateModel.h"
#include "comm/ReplyCollector.h"
#include "comm/TrafficLog.h"
#include "platform/Event.h"
#include "platform/Text.h"
#include "textfiles/BatchText.h"
#include "textfiles/TextFiles.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Reports.h"
#include "tools/cli/Session.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using nlohmann::json;

namespace {

std::string Utf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}
std::u16string Wide(std::string_view utf8) {
    return platform::Utf8ToUtf16(utf8);
}

// A client's send buffer that stays full this long ends the client: one that stops reading
// must not hold up the camera or the others.
constexpr int kSendTimeoutSeconds = 10;

using serve::Failure;
// A request's error codes are the tool's exit statuses.
constexpr bool SameCode(CliStatus status, serve::Status code) {
    return static_cast<int>(status) == static_cast<int>(code);
}
static_assert(SameCode(kCliUsage, serve::kUsage) && SameCode(kCliFile, serve::kFile) &&
              SameCode(kCliPort, serve::kPort) && SameCode(kCliTransaction, serve::kTransaction) &&
              SameCode(kCliReply, serve::kReply) && SameCode(kCliMismatch, serve::kMismatch));

// ---------------------------------------------------------------------------------------------
// Clients

class Client {
public:
    Client(int in, int out, bool socket) : m_in(in), m_out(out), m_socket(socket) {}
    ~Client() {
        if (m_socket)
            ::close(m_in);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    int In() const { return m_in; }
    bool IsSocket() const { return m_socket; }
    // Gone: nothing can be written to it any more (its queued requests are dropped).
    bool Gone() const { return m_gone; }
    // Standard input ended: what was read is still answered.
    bool InputEnded() const { return m_inputEnded; }
    void EndInput() { m_inputEnded = true; }
    void Leave() {
        m_gone = true;
        if (m_socket)
            (void)::shutdown(m_in, SHUT_RDWR);
    }

    // One line of output; a client that cannot take it is gone.
    void Write(const json& message) {
        std::string line = serve::Serialize(message);
        line.push_back('\n');
        std::lock_guard<std::mutex> guard(m_writeLock);
        size_t at = 0;
        while (!m_gone && at < line.size()) {
            const ssize_t n = m_socket
                                  ? ::send(m_out, line.data() + at, line.size() - at, MSG_NOSIGNAL)
                                  : ::write(m_out, line.data() + at, line.size() - at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                Leave();
                break;
            }
            at += static_cast<size_t>(n);
        }
    }

    // The events the client subscribed to ("progress", "traffic", "port").
    bool Wants(const std::string& event) {
        std::lock_guard<std::mutex> guard(m_writeLock);
        return m_events.count(event) != 0;
    }
    void Subscribe(std::set<std::string> events) {
        std::lock_guard<std::mutex> guard(m_writeLock);
        m_events = std::move(events);
    }

    // Requests of the client queued or running on the main thread (under the server's lock):
    // while there are any, its next requests wait behind them, so it sees them in order.
    size_t inFlight = 0;
    // The bytes read and not yet taken as lines (the reader thread's own).
    serve::LineFramer framer;

private:
    const int m_in;
    const int m_out;
    const bool m_socket;
    std::atomic<bool> m_gone{false};
    std::atomic<bool> m_inputEnded{false};
    std::mutex m_writeLock;
    std::set<std::string> m_events;
};

using ClientPtr = std::shared_ptr<Client>;

// ---------------------------------------------------------------------------------------------
// The server

class clServer {
public:
    explicit clServer(clCliSession& session);
    ~clServer();

    // The reader thread for standard input, or for the socket listening at listenFd.
    void StartReading(int listenFd);
    // The main thread: runs the camera's requests until the input ended and all is answered,
    // or a signal came. The exit status.
    int Run();

private:
    struct Work {
        ClientPtr client;
        serve::Line line;
    };

    // ---- reader thread
    void ReadLoop(int listenFd);
    void Accept(int listenFd);
    // False when the client is gone.
    bool ReadFrom(const ClientPtr& client);
    void TakeLine(const ClientPtr& client, std::string_view text);

    // ---- answering (the reader thread for requests that need no camera, else the main
    // thread)
    void Answer(const ClientPtr& client, const serve::Line& line);
    // The response to a line (null: nothing to answer, notifications only).
    json Respond(const ClientPtr& client, const serve::Line& line);
    json Dispatch(const ClientPtr& client, const serve::Request& request);

    // ---- the methods
    json Open(const json& params);
    // The rest of open once the port is: "sta", and the definition it names for "auto".
    json Identified(bool automatic);
    json Close();
    json Identify();
    json Send(const json& params);
    json Get(const json& params);
    json Set(const json& params);
    json Execute(const json& params);
    json Describe(const json& params);
    json Load(const json& params);
    json Save(const json& params);
    json Ports();
    json Cancel(const ClientPtr& client);
    json Subscribe(const ClientPtr& client, const json& params);
    json Watch(const ClientPtr& client, const json& params);
    json Unwatch(const ClientPtr& client, const json& params);

    // ---- watches (main thread)
    // Milliseconds until the next round is due (0: due now, -1: no watch).
    int NextRoundWait();
    // Runs the round that is due and tells its client.
    void RunRound();

    // ---- helpers of the methods (main thread)
    void NeedPort();
    void HoldPort(std::u16string port) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_heldPort = std::move(port);
    }
    void NeedDefinition();
    // Runs one job; its reports are added to transactions. Throws a Failure (with the
    // transactions so far) when the job did not end well, Interrupted for a signal.
    CliJob RunJob(const std::function<CliJob()>& run, json& transactions, json extra = nullptr);
    json IdentityJson();
    void Notify(const std::string& event, const std::string& method, const json& params);

    clCliSession& m_session;
    CliOptions m_defaults;

    std::mutex m_lock; // the queue, the clients, the running request
    std::deque<Work> m_queue;
    std::vector<ClientPtr> m_clients;
    ClientPtr m_running;
    std::atomic<bool> m_cancelled{false};
    std::u16string m_lostDevice; // the device lost and not back yet (main thread)
    std::u16string m_heldPort;   // the port open now, for ports (under m_lock)

    // What a client watches: each round runs an Execution property or sends a command, then
    // the values of the names go to the client. Names, not records: another definition may be
    // opened meanwhile.
    struct WatchRound {
        uint64_t id = 0;
        ClientPtr client;
        serve::WatchPlan plan;
        std::chrono::steady_clock::time_point due;
    };
    std::vector<WatchRound> m_watches; // main thread
    uint64_t m_lastWatch = 0;
    bool m_inputEnded = false;
    platform::Event m_queued{platform::Event::Reset::Auto};
    platform::Event m_stopReading{platform::Event::Reset::Manual};
    std::thread m_reader;
};

clServer::clServer(clCliSession& session) : m_session(session), m_defaults(session.Options()) {
    m_session.onBatchProgress = nullptr;
    m_session.onPortLost = [this](const std::u16string& device) {
        m_lostDevice = device;
        HoldPort(u"");
        Notify("port", "port_lost", {{"device", Utf8(device)}});
    };
    m_session.onPortReturned = [this](const std::u16string& device,
                                      const CameraIdentity& identity) {
        m_lostDevice.clear();
        HoldPort(m_session.PortText());
        json who = nullptr;
        if (!identity.Empty())
            who = IdentityJson();
        Notify("port", "port_returned", {{"device", Utf8(device)}, {"identity", who}});
    };
    m_session.Traffic().SetListener([this](std::string_view direction, std::string_view text,
                                           std::chrono::system_clock::time_point at) {
        if (direction == "==")
            return;
        Notify("traffic", "traffic", serve::TrafficParams(direction, text, at));
    });
}

clServer::~clServer() {
    m_session.Traffic().SetListener({});
    m_session.onPortLost = nullptr;
    m_session.onPortReturned = nullptr;
    m_session.onBatchProgress = nullptr;
    m_stopReading.Set();
    if (m_reader.joinable())
        m_reader.join();
}

void clServer::Notify(const std::string& event, const std::string& method, const json& params) {
    std::vector<ClientPtr> clients;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        clients = m_clients;
    }
    const json message = serve::Notification(method, params);
    for (const ClientPtr& c : clients)
        if (!c->Gone() && c->Wants(event))
            c->Write(message);
}

// ---- reader thread

void clServer::StartReading(int listenFd) {
    if (listenFd < 0) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_clients.push_back(std::make_shared<Client>(STDIN_FILENO, STDOUT_FILENO, false));
    }
    m_reader = std::thread([this, listenFd] { ReadLoop(listenFd); });
}

void clServer::ReadLoop(int listenFd) {
    for (;;) {
        std::vector<ClientPtr> clients;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            std::erase_if(m_clients, [](const ClientPtr& c) { return c->Gone(); });
            for (const ClientPtr& c : m_clients)
                if (!c->InputEnded())
                    clients.push_back(c);
            if (listenFd < 0 && clients.empty()) {
                m_inputEnded = true;
                m_queued.Set();
                return;
            }
        }
        std::vector<pollfd> p{{m_stopReading.Fd(), POLLIN, 0}};
        if (listenFd >= 0)
            p.push_back({listenFd, POLLIN, 0});
        for (const ClientPtr& c : clients)
            p.push_back({c->In(), POLLIN, 0});
        if (::poll(p.data(), p.size(), -1) < 0 && errno != EINTR)
            return;
        if (p[0].revents)
            return;
        size_t at = 1;
        if (listenFd >= 0 && p[at++].revents)
            Accept(listenFd);
        for (const ClientPtr& c : clients) {
            if (!p[at++].revents || ReadFrom(c))
                continue;
            // A socket's end is its client going away; the end of standard input only ends the
            // requests.
            if (c->IsSocket())
                c->Leave();
            else
                c->EndInput();
        }
    }
}

void clServer::Accept(int listenFd) {
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    // Only the user who runs the service may drive its camera.
    if (!serve::PeerIsUser(fd, ::getuid())) {
        ::close(fd);
        return;
    }
    const timeval timeout{kSendTimeoutSeconds, 0};
    (void)::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    std::lock_guard<std::mutex> guard(m_lock);
    m_clients.push_back(std::make_shared<Client>(fd, fd, true));
}

bool clServer::ReadFrom(const ClientPtr& client) {
    char buffer[65536];
    const ssize_t n = ::read(client->In(), buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    if (n <= 0) {
        client->framer.End([&](std::string_view line) { TakeLine(client, line); });
        return false;
    }
    client->framer.Feed(
        std::string_view(buffer, static_cast<size_t>(n)),
        [&](std::string_view line) { TakeLine(client, line); },
        [&] { client->Write(serve::OverlongLineError()); });
    return true;
}

void clServer::TakeLine(const ClientPtr& client, std::string_view text) {
    if (text.find_first_not_of(" \t\r") == std::string_view::npos)
        return; // blank lines are nothing
    serve::Line line = serve::ReadLine(text);
    const bool camera = std::any_of(line.entries.begin(), line.entries.end(), [](const auto& e) {
        return e.request && serve::NeedsCamera(e.request->method);
    });
    // A cancel is for what runs now: it never waits.
    const bool cancel = line.entries.size() == 1 && line.entries.front().request &&
                        line.entries.front().request->method == "cancel";
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (camera || (client->inFlight > 0 && !cancel)) {
            ++client->inFlight;
            m_queue.push_back({client, std::move(line)});
            m_queued.Set();
            return;
        }
    }
    Answer(client, line);
}

// ---- answering

void clServer::Answer(const ClientPtr& client, const serve::Line& line) {
    if (const json response = Respond(client, line); !response.is_null())
        client->Write(response);
}

json clServer::Respond(const ClientPtr& client, const serve::Line& line) {
    json responses = json::array();
    for (const serve::Entry& e : line.entries) {
        if (!e.request) {
            if (!e.error.is_null())
                responses.push_back(e.error);
            continue;
        }
        json response = Dispatch(client, *e.request);
        if (!e.request->notification)
            responses.push_back(std::move(response));
    }
    if (responses.empty())
        return nullptr; // notifications only
    return line.batch ? responses : responses.front();
}

json clServer::Dispatch(const ClientPtr& client, const serve::Request& r) {
    const json& p = r.params;
    const std::string& m = r.method;
    return serve::Answer(r, [&]() -> json {
        if (m == "open")
            return Open(p);
        if (m == "close")
            return Close();
        if (m == "identify")
            return Identify();
        if (m == "send")
            return Send(p);
        if (m == "get")
            return Get(p);
        if (m == "set")
            return Set(p);
        if (m == "execute")
            return Execute(p);
        if (m == "describe")
            return Describe(p);
        if (m == "load")
            return Load(p);
        if (m == "save")
            return Save(p);
        if (m == "check")
            return serve::CheckDefinitions(p, m_session.Manager().SchemaPathFormat());
        if (m == "ports")
            return Ports();
        if (m == "cancel")
            return Cancel(client);
        if (m == "subscribe")
            return Subscribe(client, p);
        if (m == "watch")
            return Watch(client, p);
        if (m == "unwatch")
            return Unwatch(client, p);
        throw Failure{serve::kMethodNotFound, "no method \"" + m + "\""};
    });
}

int clServer::Run() {
    for (;;) {
        Work work;
        bool have = false, ended = false;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            // The requests of a client that went away are dropped.
            while (!m_queue.empty() && m_queue.front().client->Gone()) {
                --m_queue.front().client->inFlight;
                m_queue.pop_front();
            }
            if (!m_queue.empty()) {
                work = std::move(m_queue.front());
                m_queue.pop_front();
                have = true;
                m_running = work.client;
                m_cancelled = false;
            }
            ended = m_inputEnded && m_queue.empty() && !have;
        }
        if (ended)
            break;
        if (!have) {
            // Rounds of a watch run in the gaps between requests.
            const int wait = NextRoundWait();
            if (wait == 0) {
                RunRound();
                continue;
            }
            if (!m_session.WaitForWork({m_queued.Fd()}, wait))
                break;
            m_queued.TryAcquire();
            continue;
        }
        const json response = Respond(work.client, work.line);
        {
            // Over before it is answered: a cancel after the answer finds nothing running.
            std::lock_guard<std::mutex> guard(m_lock);
            m_running.reset();
        }
        if (!response.is_null())
            work.client->Write(response);
        {
            // Written before the client's next request may be answered at once.
            std::lock_guard<std::mutex> guard(m_lock);
            --work.client->inFlight;
        }
        if (m_session.PendingSignal() != 0)
            break;
    }
    m_session.ClosePort();
    const int signal = m_session.PendingSignal();
    return signal != 0 ? 128 + signal : kCliOk;
}

// ---- helpers

void clServer::NeedPort() {
    // A reconnect's identity check is the engine's job: the request waits for its end.
    while (m_session.IdentityCheckPending())
        if (!m_session.WaitForWork({}, 50))
            throw Failure{
                kCliTransaction,
                std::string(m_session.PendingSignal() == SIGINT ? "interrupted" : "terminated") +
                    ": nothing was sent and the port closed"};
    if (!m_session.IsConnected() && !m_lostDevice.empty()) {
        std::string lost = Utf8(FormatMsg(MSG_PORT_LOST, {m_lostDevice}));
        if (!lost.empty() && lost.back() == '.')
            lost.pop_back();
        throw Failure{kCliPort, lost + "; waiting for it to return"};
    }
    if (!m_session.IsConnected())
        throw Failure{kCliPort, "the port is not open: call open first"};
}

void clServer::NeedDefinition() {
    if (!m_session.Manager().IsLoaded())
        throw Failure{kCliUsage, "no definition is loaded: open with a definition FILE or auto"};
}

json ReportJson(const CliTransaction& t) {
    return TransactionJson(t.command, t.result, t.replyCode, t.replyLines, t.elapsedMs,
                           !t.lostDevice.empty());
}

CliJob clServer::RunJob(const std::function<CliJob()>& run, json& transactions, json extra) {
    auto fail = [&](int code, const std::string& message) {
        json data = extra.is_object() ? extra : json::object();
        data["transactions"] = transactions;
        throw Failure{code, message, data};
    };
    if (m_cancelled)
        fail(kCliTransaction, "cancelled: nothing more was sent");
    NeedPort();
    CliJob job = run();
    for (const CliTransaction& t : job.transactions)
        transactions.push_back(ReportJson(t));
    if (job.signal != 0) {
        json data{{"transactions", transactions}};
        Failure f{kCliTransaction,
                  std::string(job.signal == SIGINT ? "interrupted" : "terminated") +
                      ": the running transaction was cancelled and the port closed",
                  data};
        // The answer goes out before the service ends.
        throw f;
    }
    if (job.refused != 0)
        fail(kCliTransaction,
             "the engine did not take the job (refusal " + std::to_string(job.refused) + ")");
    for (const CliTransaction& t : job.transactions) {
        if (t.result != TRANSACTION_OK)
            fail(kCliTransaction, Utf8(t.command) + ": " + t.Outcome() +
                                      (t.message.empty() ? "" : " (" + Utf8(t.message) + ")"));
    }
    if (m_cancelled)
        fail(kCliTransaction, "cancelled: nothing more was sent");
    for (const CliTransaction& t : job.transactions)
        if (t.replyCode != kReplyCodeOk)
            fail(kCliReply, Utf8(t.command) + ": the camera answered " + t.Outcome());
    return job;
}

json clServer::IdentityJson() {
    return {{"model", Utf8(m_session.Model())},
            {"type", Utf8(m_session.Type())},
            {"version", Utf8(m_session.Version())},
            {"serial", Utf8(m_session.Serial())}};
}

// ---- the methods

json clServer::Open(const json& p) {
    CliOptions o = m_defaults;
    o.port = p.value("port", o.port);
    o.interfaceName = p.value("interface", o.interfaceName);
    o.baud = p.value("baud", o.baud);
    o.definition = p.value("definition", o.definition);
    o.timeoutMs = p.value("timeout_ms", o.timeoutMs);
    o.gapMs = p.value("gap_ms", o.gapMs);
    if (m_session.IsConnected())
        m_session.ClosePort();
    m_lostDevice.clear();
    HoldPort(u"");
    m_session.UseLinkOptions(o);
    const bool automatic = o.definition == "auto";
    if (!o.definition.empty() && !automatic) {
        std::string message;
        std::lock_guard<std::mutex> writing(m_session.DefinitionLock());
        if (m_session.LoadDefinition(platform::PathToUtf16(o.definition), message) != 0)
            throw Failure{kCliFile, "cannot use the definition " + o.definition + ": " + message};
    }
    std::string message;
    if (const int status = m_session.OpenPort(message))
        throw Failure{status, message};
    HoldPort(m_session.PortText());
    try {
        return Identified(automatic);
    } catch (const Failure&) {
        // An open that failed (cancelled, interrupted, no definition for "auto") leaves the
        // port closed.
        m_session.ClosePort();
        HoldPort(u"");
        throw;
    }
}

json clServer::Identified(bool automatic) {
    std::string message;
    json transactions = json::array();
    json identity = nullptr;
    try {
        RunJob([this] { return m_session.RunCommand(u"sta"); }, transactions);
        identity = IdentityJson();
    } catch (const Failure&) {
        // A camera that does not answer "sta" is still open; only "auto" needs the answer, and
        // a cancel is the caller's.
        if (automatic || m_cancelled || m_session.PendingSignal() != 0)
            throw;
    }
    if (automatic) {
        const std::u16string model =
            m_session.Model().empty() ? m_session.Type() : m_session.Model();
        if (model.empty())
            throw Failure{kCliFile, Utf8(Msg(MSG_MODEL_NOT_DETECTED))};
        const std::vector<std::u16string> paths = m_session.DefinitionsForModel(model);
        if (paths.empty())
            throw Failure{kCliFile,
                          Utf8(Msg(MSG_DEFINE_NOT_FOUND)) + " (model " + Utf8(model) + ")"};
        if (paths.size() > 1) {
            std::string list;
            for (const std::u16string& path : paths)
                list += (list.empty() ? "" : ", ") + Utf8(path.substr(path.find_last_of(u'/') + 1));
            throw Failure{kCliFile, "several definitions fit model " + Utf8(model) + " (" + list +
                                        "): choose one with definition FILE"};
        }
        std::lock_guard<std::mutex> writing(m_session.DefinitionLock());
        if (m_session.LoadDefinition(paths.front(), message) != 0)
            throw Failure{kCliFile,
                          "cannot use the definition " + Utf8(paths.front()) + ": " + message};
    }
    const std::u16string& definition = m_session.DefinitionPath();
    return {{"port", Utf8(m_session.PortText())},
            {"interface", Utf8(m_session.InterfaceName())},
            {"definition", m_session.Manager().IsLoaded() && !definition.empty()
                               ? json(Utf8(definition))
                               : json(nullptr)},
            {"identity", identity}};
}

json clServer::Close() {
    m_session.ClosePort();
    m_lostDevice.clear();
    HoldPort(u"");
    return nullptr;
}

json clServer::Identify() {
    json transactions = json::array();
    RunJob([this] { return m_session.RunCommand(u"sta"); }, transactions);
    return IdentityJson();
}

json clServer::Send(const json& p) {
    std::vector<std::u16string> texts;
    for (const json& c : p["commands"]) {
        const std::string command = c.get<std::string>();
        std::u16string text;
        std::string reason;
        if (!CommandArgument(command, text, reason, false, "UTF-8"))
            throw Failure{kCliUsage, "send \"" + command + "\": " + reason};
        texts.push_back(std::move(text));
    }
    if (texts.empty())
        throw Failure{kCliUsage, "send needs at least one command"};
    json transactions = json::array();
    for (const std::u16string& text : texts)
        RunJob([this, &text] { return m_session.RunCommand(text); }, transactions);
    return {{"transactions", transactions}};
}

json clServer::Get(const json& p) {
    std::lock_guard<std::mutex> reading(m_session.DefinitionLock());
    NeedDefinition();
    return serve::GetValues(m_session.Manager(), p);
}

json clServer::Set(const json& p) {
    std::vector<PropertyEdit> edits;
    {
        std::lock_guard<std::mutex> reading(m_session.DefinitionLock());
        NeedDefinition();
        if (p["values"].empty())
            throw Failure{kCliUsage, "set needs at least one value"};
        edits = serve::ReadValues(m_session.Manager(), p["values"]);
    }
    NeedPort();
    json transactions = json::array();
    json values = json::object();
    for (const PropertyEdit& edit : edits) {
        {
            std::lock_guard<std::mutex> writing(m_session.DefinitionLock());
            StorePropertyEdit(m_session.Manager(), edit);
        }
        CliJob job;
        try {
            job = RunJob([this, &edit] { return m_session.RunProperty(edit.property); },
                         transactions, {{"values", values}});
        } catch (Failure& f) {
            f.data["values"] = values;
            throw;
        }
        std::lock_guard<std::mutex> reading(m_session.DefinitionLock());
        const clCamPropertyMgr& m = m_session.Manager();
        std::vector<ReportedValue> reported = CarriedProperties(m, job);
        if (std::none_of(reported.begin(), reported.end(),
                         [&](const ReportedValue& r) { return r.property == edit.property; }))
            reported.push_back({edit.property, ReportedValue::kSent, std::nullopt});
        for (const ReportedValue& r : reported)
            values[Utf8(r.property->name)] = PlainValue(ReportedText(m, r).second);
    }
    return {{"transactions", transactions}, {"values", values}};
}

json clServer::Execute(const json& p) {
    const std::string name = p["name"].get<std::string>();
    const clCamProperty* property = nullptr;
    {
        std::lock_guard<std::mutex> reading(m_session.DefinitionLock());
        NeedDefinition();
        property = m_session.Manager().FindProperty(Wide(name));
        std::string error;
        json data;
        if (!CheckExecute(property, name, p.value("confirm", false), error, data))
            throw Failure{kCliUsage, error, data};
    }
    json transactions = json::array();
    RunJob([this, property] { return m_session.RunProperty(property); }, transactions);
    return {{"transactions", transactions}};
}

json clServer::Describe(const json& p) {
    std::lock_guard<std::mutex> reading(m_session.DefinitionLock());
    NeedDefinition();
    return serve::DescribeProperties(m_session.Manager(), p);
}

json clServer::Load(const json& p) {
    const std::string file = p["path"].get<std::string>();
    const bool verify = p.value("verify", false);
    std::u16string text;
    const BatchTextFault fault = ReadCheckedBatchText(file, text);
    if (!fault.reason.empty())
        throw serve::BatchFileFailure(file, fault.line, fault.reason);
    ScriptBatch batch = SplitScriptBatch(text);
    std::vector<std::u16string> lines = std::move(batch.lines);
    const size_t total = batch.commands;
    const size_t steps = batch.stepLines.size();
    auto fileLine = [&batch](size_t step) { return batch.FileLine(step); };
    // Before each line, and once at the end (done == total when every line ran).
    m_session.onBatchProgress = [this, steps, fileLine](const BatchProgress& progress) {
        Notify("progress", "progress",
               {{"done", progress.done},
                {"total", steps},
                {"line", fileLine(progress.current)},
                {"text", Utf8(progress.text)}});
    };
    json transactions = json::array();
    json result{
        {"sent", 0}, {"total", total}, {"outcome", "all_sent"}, {"mismatches", json::array()}};
    CliJob job;
    try {
        job = RunJob([this, &lines] { return m_session.RunBatch(std::move(lines)); }, transactions,
                     result);
    } catch (Failure& f) {
        m_session.onBatchProgress = nullptr;
        f.data["sent"] = f.data["transactions"].size();
        bool cancelled = m_cancelled;
        for (const json& t : f.data["transactions"])
            cancelled = cancelled || t["result"] == "cancelled" || t["result"] == "lost";
        f.data["outcome"] = f.code == kCliReply ? "all_sent" : cancelled ? "cancelled" : "stopped";
        throw;
    }
    m_session.onBatchProgress = nullptr;
    result["sent"] = job.transactions.size();
    result["outcome"] = job.outcome == JobOutcome::kDone        ? "all_sent"
                        : job.outcome == JobOutcome::kCancelled ? "cancelled"
                        : job.outcome == JobOutcome::kLost      ? "cancelled"
                                                                : "stopped";
    if (!verify)
        return result;
    if (job.outcome != JobOutcome::kDone)
        throw Failure{kCliTransaction, "not verified: the batch stopped before its end", result};
    std::lock_guard<std::mutex> reading(m_session.DefinitionLock());
    clCamPropertyMgr* m = m_session.Manager().IsLoaded() ? &m_session.Manager() : nullptr;
    for (const CliTransaction& t : job.transactions)
        serve::AddMismatches(m, t.command, t.replyLines, fileLine(t.line), result["mismatches"]);
    if (!result["mismatches"].empty()) {
        result["transactions"] = transactions;
        throw serve::MismatchFailure(result);
    }
    return result;
}

json clServer::Save(const json& p) {
    std::lock_guard<std::mutex> writing(m_session.DefinitionLock());
    NeedDefinition();
    return serve::SaveSettings(m_session.Manager(), p,
                               [this](const std::u16string& path, std::string& reason) {
                                   return m_session.WriteSettingsText(path, reason);
                               });
}

json clServer::Ports() {
    std::u16string held;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        held = m_heldPort;
    }
    return serve::ListPorts(m_session.Interfaces(), held);
}

json clServer::Cancel(const ClientPtr& client) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_running != client)
            return {{"cancelled", false}};
        m_cancelled = true;
    }
    m_session.CancelRunning();
    return {{"cancelled", true}};
}

json clServer::Subscribe(const ClientPtr& client, const json& p) {
    std::set<std::string> events;
    for (const json& e : p["events"])
        events.insert(e.get<std::string>());
    client->Subscribe(std::move(events));
    return nullptr;
}

json clServer::Watch(const ClientPtr& client, const json& p) {
    WatchRound w;
    {
        std::lock_guard<std::mutex> reading(m_session.DefinitionLock());
        NeedDefinition();
        w.plan = serve::ReadWatch(m_session.Manager(), p);
    }
    NeedPort();
    w.client = client;
    w.id = ++m_lastWatch;
    w.due = std::chrono::steady_clock::now();
    m_watches.push_back(std::move(w));
    return {{"id", m_lastWatch}};
}

json clServer::Unwatch(const ClientPtr& client, const json& p) {
    const size_t before = m_watches.size();
    std::erase_if(m_watches, [&](const WatchRound& w) {
        return w.client == client && (!p.contains("id") || w.id == p["id"].get<uint64_t>());
    });
    return {{"stopped", before - m_watches.size()}};
}

int clServer::NextRoundWait() {
    std::erase_if(m_watches, [](const WatchRound& w) { return w.client->Gone(); });
    if (m_watches.empty())
        return -1;
    auto due = m_watches.front().due;
    for (const WatchRound& w : m_watches)
        due = std::min(due, w.due);
    const auto now = std::chrono::steady_clock::now();
    if (due <= now)
        return 0;
    return static_cast<int>(
               std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count()) +
           1;
}

void clServer::RunRound() {
    const auto now = std::chrono::steady_clock::now();
    auto it =
        std::min_element(m_watches.begin(), m_watches.end(),
                         [](const WatchRound& a, const WatchRound& b) { return a.due < b.due; });
    WatchRound& w = *it;
    // Rounds keep their pace; one that overran its interval is followed at once.
    w.due = std::max(w.due + w.plan.every, now);
    const ClientPtr client = w.client;
    m_cancelled = false;                  // a round is nobody's request: no cancel is meant for it
    const serve::WatchPlan plan = w.plan; // a copy: the round may outlive its watch
    const uint64_t id = w.id;
    json message;
    try {
        json transactions = json::array();
        if (!plan.run.empty()) {
            const clCamProperty* run = nullptr;
            {
                std::lock_guard<std::mutex> reading(m_session.DefinitionLock());
                run = m_session.Manager().FindProperty(plan.run);
            }
            if (!run || run->type != CamPropertyType::Execution)
                throw Failure{kCliUsage,
                              "no Execution property \"" + Utf8(plan.run) + "\" in the definition"};
            RunJob([this, run] { return m_session.RunProperty(run); }, transactions);
        } else if (!plan.send.empty()) {
            const std::u16string send = plan.send;
            RunJob([this, &send] { return m_session.RunCommand(send); }, transactions);
        }
        std::lock_guard<std::mutex> reading(m_session.DefinitionLock());
        message =
            serve::RoundParams(id, serve::WatchValues(m_session.Manager(), plan.names), nullptr);
    } catch (const Failure& f) {
        message = serve::RoundParams(id, nullptr, &f);
    }
    if (!client->Gone())
        client->Write(serve::Notification("watch", message));
}

// The service's own end of a write to a reader that went away: an error, not a signal.
void IgnorePipeSignal() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
}

} // namespace

int ServeStdio(clCliSession& session) {
    IgnorePipeSignal();
    session.CatchSignals();
    clServer server(session);
    server.StartReading(-1);
    return server.Run();
}

int ServeSocket(clCliSession& session, const std::string& path, std::string& error) {
    IgnorePipeSignal();
    const int fd = serve::ListenOnSocket(path, error);
    if (fd < 0)
        return path.empty() || path.size() >= sizeof(sockaddr_un::sun_path) ? kCliUsage : kCliPort;
    session.CatchSignals();
    int status;
    {
        clServer server(session);
        server.StartReading(fd);
        status = server.Run();
    }
    ::close(fd);
    ::unlink(path.c_str());
    return status;
}
