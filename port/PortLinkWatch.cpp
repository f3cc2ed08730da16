#include "port/PortLinkWatch.h"

#include "platform/NetAddress.h"
#include "platform/Text.h"
#include "port/NetLink.h"
#include "port/PortComm.h"

#include <algorithm>

clPortLinkWatch::clPortLinkWatch(clDeviceMonitor& monitor, clPortComm& port)
    : m_monitor(monitor), m_port(port) {
    m_listener = m_monitor.AddListener([this](const DeviceEvent& e) { OnEvent(e); });
    m_port.SetLossHandler([this](const std::u16string& device) { OnPortLost(device); });
}

clPortLinkWatch::~clPortLinkWatch() {
    StopProbing();
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
    StopProbing();
    // Links of pseudo-terminals and devices udev does not tell of are watched for presence; a
    // network port has no path to watch, its connection tells.
    if (platform::IsNetAddress(platform::Utf16ToUtf8(device)))
        m_monitor.WatchPaths({});
    else
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
    StopProbing();
    const bool network = platform::IsNetAddress(platform::Utf16ToUtf8(device));
    // A device that is back already (plugged in again at once) is a return too.
    if (watch && !network)
        m_monitor.WatchPaths({platform::Utf16ToUtf8(device)}, true);
    else
        m_monitor.WatchPaths({});
    if (watch && network)
        StartProbing(device);
}

void clPortLinkWatch::StartProbing(const std::u16string& device) {
    m_probeStop.ResetEvent();
    if (!m_prober.Start([this, device] { Probe(device); }))
        m_port.WriteLog(u"Can not start the network port's return watch");
}

void clPortLinkWatch::StopProbing() {
    if (!m_prober.Exists())
        return;
    m_probeStop.Set();
    // A probe under way sees the stop event too.
    (void)m_prober.JoinFor(kProbeTimeoutMs + 2000);
}

void clPortLinkWatch::Probe(const std::u16string& device) {
    platform::NetAddress address;
    if (platform::ParseNetAddress(platform::Utf16ToUtf8(device), address) !=
        platform::NetAddressError::None)
        return;
    for (int gap = kFirstProbeMs;; gap = std::min(gap * 2, kMaxProbeGapMs)) {
        if (platform::WaitForAny({&m_probeStop}, gap) != platform::kWaitTimeout)
            return;
        if (clNetLink::Probe(address, kProbeTimeoutMs, m_probeStop.Fd()))
            break;
    }
    std::function<void(const std::u16string&)> returned;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_state != State::Awaiting || m_device != device || m_probeStop.IsSignalled())
            return;
        m_state = State::Idle;
        returned = m_callbacks.returned;
    }
    if (returned)
        returned(device);
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
