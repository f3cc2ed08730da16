// Serial devices coming and going. A device-event source reports terminal devices that were
// added or removed (udev on a real machine, MakeUdevTtySource); the monitor runs one thread
// that reads the source and also watches the presence of given paths (links of pseudo-terminals
// and devices udev does not report), and calls its listeners with every event. The paths are
// watched through inotify on their folders (and the folders their links lead to), so the thread
// sleeps until something changes there; only where inotify cannot be had does it look every
// kPresencePollMs.
#pragma once

#include "platform/Event.h"
#include "platform/Thread.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct DeviceEvent {
    enum class Kind { Added, Removed };
    Kind kind = Kind::Added;
    std::string node;               // "/dev/ttyUSB0", or a watched path
    std::vector<std::string> links; // "/dev/serial/by-id/usb-..." and the other links of node
};

// Where device events come from. Fd polls readable while events are waiting; Read takes one
// without blocking (false: none now). Both are called on the monitor's thread only.
class IDeviceEventSource {
public:
    virtual ~IDeviceEventSource() = default;
    virtual int Fd() const = 0;
    virtual bool Read(DeviceEvent& event) = 0;
};

// The udev monitor of the "tty" subsystem; null when udev cannot be reached (containers,
// machines without udev), then only watched paths are seen.
std::unique_ptr<IDeviceEventSource> MakeUdevTtySource();

// True when the event names path: its node or one of its links is path, the node path leads
// to, or one of knownLinks (the links the device had when it was opened).
bool DeviceEventMatches(const DeviceEvent& event, const std::string& path,
                        const std::vector<std::string>& knownLinks = {});

class clDeviceMonitor {
public:
    // Called on the monitor's thread. A listener must not add or remove listeners.
    using Listener = std::function<void(const DeviceEvent&)>;
    static constexpr int64_t kPresencePollMs = 250;

    // The source may be null (only watched paths then).
    explicit clDeviceMonitor(std::unique_ptr<IDeviceEventSource> source);
    ~clDeviceMonitor();
    clDeviceMonitor(const clDeviceMonitor&) = delete;
    clDeviceMonitor& operator=(const clDeviceMonitor&) = delete;

    bool Start();
    // Ends the thread (waits at most 5000 ms). A second call does nothing.
    void Stop();

    int AddListener(Listener listener);
    void RemoveListener(int id);
    // Paths whose appearing and vanishing is reported as Added / Removed events with that
    // path as node. Replaces the earlier list; only absolute paths are watched. With
    // reportPresent a path that is there at the next check (right away) counts as just
    // appeared.
    void WatchPaths(std::vector<std::string> paths, bool reportPresent = false);

    // Whether watched paths are looked at only when their folders change (false: polled).
    bool EventDriven() const { return m_inotify >= 0; }

private:
    void Loop();
    void Dispatch(const DeviceEvent& event);
    void CheckPresence();
    // On the monitor's thread: the inotify watches follow the folders of the watched paths.
    void Rearm();
    bool DrainInotify();

    std::unique_ptr<IDeviceEventSource> m_source;
    platform::Event m_stop{platform::Event::Reset::Manual};
    platform::Event m_wake{platform::Event::Reset::Auto}; // the watched paths changed
    int m_inotify = -1;
    std::map<int, std::string> m_folders; // inotify watch -> folder
    bool m_unwatched = false;             // a folder could not be watched: poll meanwhile
    platform::Thread m_thread;
    std::mutex m_lock; // listeners and watched paths
    std::map<int, Listener> m_listeners;
    int m_nextId = 1;
    std::map<std::string, bool> m_watched; // path -> present at the last check
};
