// The watch of the built-in serial port's device for the session (app/Session.h): news of its
// loss and return on the thread that noticed, the device they concern, whether its return is
// awaited, and the identity check after a reconnect.
#pragma once

#include "comm/EngineEvents.h"
#include "port/DeviceMonitor.h"
#include "port/PortLinkWatch.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

class clPortComm;

class clPortLinkGuard {
public:
    enum News { kLost, kReturned };

    // Called on the thread that noticed, with the device the news concerns; it must only hand
    // the news on (and may cancel the running job), never disconnect or connect itself.
    using Host = std::function<void(News news, const std::u16string& device)>;

    // source: where removals and returns come from (udev; null: watched paths only).
    clPortLinkGuard(clPortComm& port, std::unique_ptr<IDeviceEventSource> source);
    ~clPortLinkGuard();
    clPortLinkGuard(const clPortLinkGuard&) = delete;
    clPortLinkGuard& operator=(const clPortLinkGuard&) = delete;

    void SetHost(Host host);
    bool Start();
    void Stop();

    // ---- the session owner's thread
    // The built-in port has just connected.
    void Connected();
    // The connection was closed by the user or the program: nothing is awaited any more.
    void Disconnected();
    // The device of the last news (lost: the path it had; returned: the path to open).
    std::u16string NewsDevice() const;
    // After the session closed a lost connection: awaitReturn waits for the same device.
    void AfterLoss(bool awaitReturn);
    bool AwaitingReturn() const { return m_watch.AwaitingReturn(); }

    // Identity check after a reconnect: Begin with the identity before the loss, End with the
    // one "sta" gave. End is true when they differ (both known); a check runs once.
    void BeginIdentityCheck(CameraIdentity before);
    bool IdentityCheckPending() const { return m_checkPending; }
    bool EndIdentityCheck(const CameraIdentity& now, CameraIdentity& before);

private:
    void Tell(News news, const std::u16string& device);

    // Declared first, so they outlive the watch whose callbacks use them.
    mutable std::mutex m_lock;
    Host m_host;
    std::u16string m_newsDevice;
    clDeviceMonitor m_monitor;
    clPortLinkWatch m_watch;
    bool m_checkPending = false;
    CameraIdentity m_before;
};
