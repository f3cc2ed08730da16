#include "port/DeviceMonitor.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <poll.h>
#include <sys/stat.h>

namespace {

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool Exists(const std::string& path) {
    struct stat sb {};
    return ::stat(path.c_str(), &sb) == 0;
}

} // namespace

bool DeviceEventMatches(const DeviceEvent& event, const std::string& path,
                        const std::vector<std::string>& knownLinks) {
    if (path.empty())
        return false;
    std::vector<std::string> names = knownLinks;
    names.push_back(path);
    // Where path leads now (a removed device's node is gone, so this may be empty).
    if (const std::string real = RealPath(path); !real.empty())
        names.push_back(real);
    auto named = [&](const std::string& s) {
        return !s.empty() && std::find(names.begin(), names.end(), s) != names.end();
    };
    if (named(event.node))
        return true;
    return std::any_of(event.links.begin(), event.links.end(), named);
}

clDeviceMonitor::clDeviceMonitor(std::unique_ptr<IDeviceEventSource> source)
    : m_source(std::move(source)) {}

clDeviceMonitor::~clDeviceMonitor() {
    Stop();
}

bool clDeviceMonitor::Start() {
    if (m_thread.Exists())
        return true;
    m_stop.ResetEvent();
    return m_thread.Start([this] { Loop(); });
}

void clDeviceMonitor::Stop() {
    if (!m_thread.Exists())
        return;
    m_stop.Set();
    (void)m_thread.JoinFor(5000);
}

int clDeviceMonitor::AddListener(Listener listener) {
    std::lock_guard<std::mutex> g(m_lock);
    const int id = m_nextId++;
    m_listeners[id] = std::move(listener);
    return id;
}

void clDeviceMonitor::RemoveListener(int id) {
    std::lock_guard<std::mutex> g(m_lock);
    m_listeners.erase(id);
}

void clDeviceMonitor::WatchPaths(std::vector<std::string> paths, bool reportPresent) {
    std::lock_guard<std::mutex> g(m_lock);
    std::map<std::string, bool> watched;
    for (std::string& p : paths) {
        if (p.empty())
            continue;
        const auto old = m_watched.find(p);
        const bool present = !reportPresent && (old != m_watched.end() ? old->second : Exists(p));
        watched.emplace(std::move(p), present);
    }
    m_watched = std::move(watched);
}

void clDeviceMonitor::Dispatch(const DeviceEvent& event) {
    std::lock_guard<std::mutex> g(m_lock);
    for (auto& [id, listener] : m_listeners)
        if (listener)
            listener(event);
}

void clDeviceMonitor::CheckPresence() {
    std::vector<DeviceEvent> events;
    {
        std::lock_guard<std::mutex> g(m_lock);
        for (auto& [path, present] : m_watched) {
            const bool now = Exists(path);
            if (now == present)
                continue;
            present = now;
            DeviceEvent e;
            e.kind = now ? DeviceEvent::Kind::Added : DeviceEvent::Kind::Removed;
            e.node = path;
            events.push_back(std::move(e));
        }
    }
    for (const DeviceEvent& e : events)
        Dispatch(e);
}

void clDeviceMonitor::Loop() {
    for (;;) {
        pollfd fds[2] = {{m_stop.Fd(), POLLIN, 0}, {m_source ? m_source->Fd() : -1, POLLIN, 0}};
        const int r = ::poll(fds, 2, static_cast<int>(kPresencePollMs));
        if (r < 0 && errno != EINTR)
            return;
        if (fds[0].revents & POLLIN)
            return;
        if (m_source && (fds[1].revents & POLLIN)) {
            DeviceEvent e;
            while (m_source->Read(e)) {
                Dispatch(e);
                e = DeviceEvent{};
            }
        } else if (fds[1].revents & (POLLERR | POLLNVAL)) {
            m_source.reset(); // a broken source is dropped; watched paths still work
        }
        CheckPresence();
    }
}
