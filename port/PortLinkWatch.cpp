#include "port/PortLinkWatch.h"

#include "platform/Text.h"
#include "port/PortComm.h"

clPortLinkWatch::clPortLinkWatch(clDeviceMonitor& monitor, clPortComm& port)
    : m_monitor(monitor), m_port(port) {
    m_listener = m_monitor.AddListener([this](const DeviceEvent& e) { OnEvent(e); });
    m_port.SetLossHandler([this](const std::u16string& device) { OnPortLost(device); });
}

clPortLinkWatch::~clPortLinkWatch() {
    m_port.SetLossHandler(nullptr);
    m_monitor.RemoveListener(m_listener);
    m_monitor.WatchPaths({});
}

void clPortLinkWatch::SetCallbacks(Callbacks callbacks) {
    std::lock_guard<std::mutex> g(m_lock);
    m_callbacks = std::move(callbacks);
}

void clPortLinkWatch::Connected() {
    // Asked before the lock is taken: the port's lock is never taken under this one.
    const std::u16string device = m_port.ConnectedDevice();
    std::vector<std::string> links = m_port.ConnectedLinks();
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_state = State::Connected;
        m_device = device;
        m_links = std::move(links);
    }
    // Links of pseudo-terminals and devices udev does not tell of are watched for presence.
    m_monitor.WatchPaths({platform::Utf16ToUtf8(device)});
}

void clPortLinkWatch::Disconnected(bool awaitReturn) {
    bool watch = false;
    std::u16string device;
    {
        std::lock_guard<std::mutex> g(m_lock);
        watch = awaitReturn && !m_device.empty();
        m_state = watch ? State::Awaiting : State::Idle;
        device = m_device;
        if (!awaitReturn) {
            m_device.clear();
            m_links.clear();
        }
    }
    // A device that is back already (plugged in again at once) is a return too.
    if (watch)
        m_monitor.WatchPaths({platform::Utf16ToUtf8(device)}, true);
    else
        m_monitor.WatchPaths({});
}

bool clPortLinkWatch::AwaitingReturn() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_state == State::Awaiting;
}

void clPortLinkWatch::OnPortLost(const std::u16string& device) {
    std::function<void(const std::u16string&)> lost;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_state != State::Connected)
            return;
        lost = m_callbacks.lost;
    }
    if (lost)
        lost(device);
}

void clPortLinkWatch::OnEvent(const DeviceEvent& event) {
    std::function<void(const std::u16string&)> returned;
    std::u16string reopen;
    {
        std::lock_guard<std::mutex> g(m_lock);
        const std::string device = platform::Utf16ToUtf8(m_device);
        if (!DeviceEventMatches(event, device, m_links))
            return;
        if (m_state == State::Awaiting && event.kind == DeviceEvent::Kind::Added) {
            m_state = State::Idle;
            returned = m_callbacks.returned;
            // Back under another node (another adapter took the old one): its by-id name,
            // which leads to the new node, is what is opened.
            reopen = m_device;
            if (!DeviceEventMatches(event, device))
                for (const std::string& link : m_links)
                    if (DeviceEventMatches(event, link))
                        reopen = platform::Utf8ToUtf16(link);
        } else if (m_state != State::Connected || event.kind != DeviceEvent::Kind::Removed) {
            return;
        }
    }
    if (!reopen.empty()) {
        if (returned)
            returned(reopen);
        return;
    }
    // Reported through the port, so the receive thread's report and this one are one.
    m_port.MarkLost();
}
