#include "app/ScriptListener.h"

#include "app/ServeSocket.h"
#include "platform/Event.h"

#include <atomic>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

struct clScriptListener::Client {
    uint64_t id = 0;
    std::mutex lock;                // fd and unsent
    int fd = -1;                    // -1 once closed
    std::string unsent;             // what the socket did not take yet
    bool broken = false;            // a write failed or too much piled up: the thread ends it
    std::atomic<size_t> pending{0}; // lines handed on and not yet handled
    serve::LineFramer framer;       // the thread's own
};

clScriptListener::clScriptListener()
    : m_wake(std::make_unique<platform::Event>(platform::Event::Reset::Auto)) {}

clScriptListener::~clScriptListener() {
    Stop();
}

bool clScriptListener::Start(const std::string& path, Handlers handlers, std::string& error) {
    Stop();
    m_listen = serve::ListenOnSocket(path, error);
    if (m_listen < 0)
        return false;
    m_path = path;
    m_handlers = std::move(handlers);
    m_stopping = false;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void clScriptListener::Stop() {
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    m_wake->Set();
    m_thread.join();
    std::map<uint64_t, std::shared_ptr<Client>> clients;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        clients.swap(m_clients);
    }
    for (auto& [id, c] : clients) {
        std::lock_guard<std::mutex> guard(c->lock);
        if (c->fd >= 0)
            ::close(c->fd);
        c->fd = -1;
    }
    ::close(m_listen);
    m_listen = -1;
    ::unlink(m_path.c_str());
}

std::shared_ptr<clScriptListener::Client> clScriptListener::Find(uint64_t id) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto it = m_clients.find(id);
    return it == m_clients.end() ? nullptr : it->second;
}

void clScriptListener::Write(uint64_t client, const nlohmann::json& message) {
    const std::shared_ptr<Client> c = Find(client);
    if (!c)
        return;
    std::string line = serve::Serialize(message);
    line.push_back('\n');
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(c->lock);
        if (c->fd < 0 || c->broken)
            return;
        if (c->unsent.empty()) {
            const ssize_t n = ::send(c->fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                c->broken = true;
            else
                line.erase(0, n > 0 ? static_cast<size_t>(n) : 0);
        }
        if (!c->broken && !line.empty()) {
            c->unsent += line;
            // A client that stops reading its answers is not kept at any cost.
            if (c->unsent.size() > kMaxUnsentBytes)
                c->broken = true;
        }
        wake = c->broken || !c->unsent.empty();
    }
    if (wake)
        m_wake->Set();
}

void clScriptListener::Handled(uint64_t client) {
    if (const std::shared_ptr<Client> c = Find(client)) {
        if (c->pending.fetch_sub(1) == kMaxPendingLines)
            m_wake->Set();
    }
}

void clScriptListener::Run() {
    std::vector<std::shared_ptr<Client>> clients;
    std::vector<pollfd> p;
    while (!m_stopping) {
        clients.clear();
        p.assign({{m_wake->Fd(), POLLIN, 0}, {m_listen, POLLIN, 0}});
        {
            std::lock_guard<std::mutex> guard(m_lock);
            for (auto& [id, c] : m_clients)
                clients.push_back(c);
        }
        std::vector<std::shared_ptr<Client>> ended;
        for (const std::shared_ptr<Client>& c : clients) {
            short events = c->pending < kMaxPendingLines ? POLLIN : 0;
            {
                std::lock_guard<std::mutex> guard(c->lock);
                if (c->broken) {
                    ended.push_back(c);
                    events = 0;
                } else if (!c->unsent.empty()) {
                    events |= POLLOUT;
                }
            }
            // A client read no further and with nothing to write is not watched (fd -1). The
            // thread is the only one that closes a client's descriptor.
            p.push_back({events != 0 ? c->fd : -1, events, 0});
        }
        if (ended.empty() && ::poll(p.data(), p.size(), -1) < 0 && errno != EINTR)
            break;
        if (p[0].revents)
            m_wake->TryAcquire();
        if (p[1].revents)
            Accept();
        for (size_t i = 0; i < clients.size(); ++i) {
            Client& c = *clients[i];
            const short revents = p[i + 2].revents;
            bool alive = true;
            if (revents & POLLOUT)
                alive = Flush(c);
            if (alive && (revents & (POLLIN | POLLHUP | POLLERR)))
                alive = Read(c);
            if (!alive)
                ended.push_back(clients[i]);
        }
        for (const std::shared_ptr<Client>& c : ended) {
            {
                std::lock_guard<std::mutex> guard(m_lock);
                if (!m_clients.erase(c->id))
                    continue;
            }
            {
                std::lock_guard<std::mutex> guard(c->lock);
                ::close(c->fd);
                c->fd = -1;
            }
            if (m_handlers.gone)
                m_handlers.gone(c->id);
        }
    }
}

void clScriptListener::Accept() {
    const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return;
    // Only the user who runs the program may drive its camera: another user's connection is
    // closed unanswered.
    if (!serve::PeerIsUser(fd, ::getuid())) {
        ::close(fd);
        return;
    }
    auto c = std::make_shared<Client>();
    c->fd = fd;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        c->id = ++m_lastId;
        m_clients[c->id] = c;
    }
    if (m_handlers.connected)
        m_handlers.connected(c->id);
}

bool clScriptListener::Flush(Client& c) {
    std::lock_guard<std::mutex> guard(c.lock);
    const ssize_t n = ::send(c.fd, c.unsent.data(), c.unsent.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        return false;
    c.unsent.erase(0, n > 0 ? static_cast<size_t>(n) : 0);
    return true;
}

bool clScriptListener::Read(Client& c) {
    // A share at a time, so one client's burst does not hold up the others.
    char buffer[16384];
    const ssize_t n = ::read(c.fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return true;
    auto take = [&](std::string_view text) {
        if (text.find_first_not_of(" \t\r") == std::string_view::npos)
            return; // blank lines are nothing
        ++c.pending;
        if (m_handlers.line)
            m_handlers.line(c.id, serve::ReadLine(text));
    };
    if (n <= 0) {
        // What the client sent before its end is still taken; its answers go nowhere.
        c.framer.End(take);
        return false;
    }
    c.framer.Feed(std::string_view(buffer, static_cast<size_t>(n)), take,
                  [&] { Write(c.id, serve::OverlongLineError()); });
    return true;
}
