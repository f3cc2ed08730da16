#include "port/DeviceMonitor.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <poll.h>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool Exists(const std::string& path) {
    struct stat sb {};
    return ::stat(path.c_str(), &sb) == 0;
}

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
    struct stat sb {};
    return ::stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode);
}

// The folders whose changes can make path appear or vanish: its own (or, while that is not
// there, the nearest one above that is), and the same for every link on the way to the device.
void FoldersOf(std::string path, std::set<std::string>& folders) {
    for (int hops = 0; hops < 8 && !path.empty() && path.front() == '/'; ++hops) {
        std::string folder = Folder(path);
        while (!folder.empty() && folder != "/" && !IsFolder(folder))
            folder = Folder(folder);
        if (!folder.empty())
            folders.insert(folder);
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n <= 0)
            return;
        std::string next(target, static_cast<size_t>(n));
        path = next.front() == '/' ? next : Folder(path) + "/" + next;
    }
}

constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

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
    if (m_inotify >= 0)
        ::close(m_inotify);
}

bool clDeviceMonitor::Start() {
    if (m_thread.Exists())
        return true;
    if (m_inotify < 0)
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_stop.ResetEvent();
    m_wake.Set(); // the paths given so far are armed and looked at first
    return m_thread.Start([this] { Loop(); });
}

void clDeviceMonitor::Stop() {
    if (!m_thread.Exists())
        return;
    m_stop.Set();
    (void)m_thread.JoinFor(platform::kThreadStopTimeoutMs);
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
        if (p.empty() || p.front() != '/')
            continue;
        const auto old = m_watched.find(p);
        const bool present = !reportPresent && (old != m_watched.end() ? old->second : Exists(p));
        watched.emplace(std::move(p), present);
    }
    m_watched = std::move(watched);
    m_wake.Set();
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

void clDeviceMonitor::Rearm() {
    if (m_inotify < 0)
        return;
    // A folder can appear between choosing the folders and watching them (a path created
    // level by level): its own creation was then never seen. So the choice is made again
    // until it stands.
    for (int round = 0; round < 8; ++round) {
        std::set<std::string> wanted;
        {
            std::lock_guard<std::mutex> g(m_lock);
            for (const auto& [path, present] : m_watched)
                FoldersOf(path, wanted);
        }
        bool changed = false;
        for (auto it = m_folders.begin(); it != m_folders.end();) {
            if (wanted.erase(it->second) == 0) {
                (void)::inotify_rm_watch(m_inotify, it->first);
                it = m_folders.erase(it);
                changed = true;
            } else {
                ++it;
            }
        }
        m_unwatched = false;
        for (const std::string& folder : wanted) {
            const int wd = ::inotify_add_watch(m_inotify, folder.c_str(), kFolderEvents);
            if (wd >= 0)
                m_folders[wd] = folder;
            else
                m_unwatched = true;
            changed = true;
        }
        if (!changed)
            return;
    }
}

bool clDeviceMonitor::DrainInotify() {
    alignas(inotify_event) char buf[4096];
    bool any = false;
    for (;;) {
        const ssize_t n = ::read(m_inotify, buf, sizeof buf);
        if (n <= 0)
            return any;
        any = true;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
            if (e->mask & IN_IGNORED)
                m_folders.erase(e->wd); // the folder went: Rearm watches what is above it
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
}

void clDeviceMonitor::Loop() {
    for (;;) {
        const bool polling = m_inotify < 0 || m_unwatched;
        pollfd fds[4] = {{m_stop.Fd(), POLLIN, 0},
                         {m_wake.Fd(), POLLIN, 0},
                         {m_source ? m_source->Fd() : -1, POLLIN, 0},
                         {m_inotify, POLLIN, 0}};
        const int r = ::poll(fds, 4, polling ? static_cast<int>(kPresencePollMs) : -1);
        if (r < 0 && errno != EINTR)
            return;
        if (fds[0].revents & POLLIN)
            return;
        bool look = polling || r == 0;
        if (fds[1].revents & POLLIN) {
            (void)m_wake.TryAcquire();
            Rearm();
            look = true;
        }
        if (m_source && (fds[2].revents & POLLIN)) {
            DeviceEvent e;
            while (m_source->Read(e)) {
                Dispatch(e);
                e = DeviceEvent{};
            }
            look = true;
        } else if (fds[2].revents & (POLLERR | POLLNVAL)) {
            m_source.reset(); // a broken source is dropped; watched paths still work
        }
        if ((fds[3].revents & POLLIN) && DrainInotify()) {
            Rearm(); // a link may lead elsewhere now, a missing folder may be there
            look = true;
        }
        if (look)
            CheckPresence();
    }
}
