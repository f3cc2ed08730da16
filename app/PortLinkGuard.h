// What the program does when the device of the built-in serial port vanishes and comes back:
// the running job is cancelled at once (any thread), the window is told through UM_PORT_LINK
// and closes the connection, and with "Reconnect" the same device is connected again when it
// returns, after which its identity is compared with the one seen before the loss.
#pragma once

#include "port/DeviceMonitor.h"
#include "port/PortLinkWatch.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

class clPortComm;

// The camera's identity lines as the "sta" query gives them.
struct CameraIdentity {
    std::u16string model;
    std::u16string version;
    std::u16string serial;
    bool Empty() const { return model.empty() && version.empty() && serial.empty(); }
    bool operator==(const CameraIdentity&) const = default;
    // "Model Ver. Serial", blanks between the parts that are there.
    std::u16string Text() const;
};

class clPortLinkGuard {
public:
    // wParam of UM_PORT_LINK.
    enum News : uintptr_t { kLost = 0, kReturned = 1 };

    struct Host {
        std::function<void()> cancelJob;          // any thread: ends the running transaction
        std::function<void(uintptr_t news)> post; // any thread: posts UM_PORT_LINK
    };

    // source: where removals and returns come from (udev; null: watched paths only).
    clPortLinkGuard(clPortComm& port, std::unique_ptr<IDeviceEventSource> source);
    ~clPortLinkGuard();
    clPortLinkGuard(const clPortLinkGuard&) = delete;
    clPortLinkGuard& operator=(const clPortLinkGuard&) = delete;

    void SetHost(Host host);
    bool Start();
    void Stop();

    // ---- user-interface thread
    // The built-in port has just connected.
    void Connected();
    // The connection was closed by the user or the program: nothing is awaited any more.
    void Disconnected();
    // The device of the last UM_PORT_LINK news (lost: the path it had; returned: the path to
    // open).
    std::u16string NewsDevice() const;
    // After the window closed a lost connection: awaitReturn waits for the same device.
    void AfterLoss(bool awaitReturn);
    bool AwaitingReturn() const { return m_watch.AwaitingReturn(); }

    // Identity check after a reconnect: Begin with the identity before the loss, End with the
    // one "sta" gave. End is true when they differ (both known); a check runs once.
    void BeginIdentityCheck(CameraIdentity before);
    bool IdentityCheckPending() const { return m_checkPending; }
    bool EndIdentityCheck(const CameraIdentity& now, CameraIdentity& before);

private:
    void News(uintptr_t news, const std::u16string& device);

    // Declared first, so they outlive the watch whose callbacks use them.
    mutable std::mutex m_lock;
    Host m_host;
    std::u16string m_newsDevice;
    clDeviceMonitor m_monitor;
    clPortLinkWatch m_watch;
    bool m_checkPending = false;
    CameraIdentity m_before;
};
