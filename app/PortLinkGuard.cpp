#include "app/PortLinkGuard.h"

#include "port/PortComm.h"

clPortLinkGuard::clPortLinkGuard(clPortComm& port, std::unique_ptr<IDeviceEventSource> source)
    : m_monitor(std::move(source)), m_watch(m_monitor, port) {
    m_watch.SetCallbacks({[this](const std::u16string& d) { Tell(kLost, d); },
                          [this](const std::u16string& d) { Tell(kReturned, d); }});
}

clPortLinkGuard::~clPortLinkGuard() {
    Stop();
}

void clPortLinkGuard::SetHost(Host host) {
    std::lock_guard<std::mutex> g(m_lock);
    m_host = std::move(host);
}

bool clPortLinkGuard::Start() {
    return m_monitor.Start();
}

void clPortLinkGuard::Stop() {
    m_monitor.Stop();
}

void clPortLinkGuard::Tell(News news, const std::u16string& device) {
    Host host;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_newsDevice = device;
        host = m_host;
    }
    if (host)
        host(news, device);
}

void clPortLinkGuard::Connected() {
    m_watch.Connected();
}

void clPortLinkGuard::Disconnected() {
    m_watch.Disconnected(false);
    m_checkPending = false;
}

std::u16string clPortLinkGuard::NewsDevice() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_newsDevice;
}

void clPortLinkGuard::AfterLoss(bool awaitReturn) {
    m_watch.Disconnected(awaitReturn);
}

void clPortLinkGuard::BeginIdentityCheck(CameraIdentity before) {
    m_before = std::move(before);
    m_checkPending = true;
}

bool clPortLinkGuard::EndIdentityCheck(const CameraIdentity& now, CameraIdentity& before) {
    if (!m_checkPending)
        return false;
    m_checkPending = false;
    before = m_before;
    return !m_before.Empty() && !now.Empty() && !(now == m_before);
}
