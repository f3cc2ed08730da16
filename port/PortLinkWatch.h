// Whether the device of the connected built-in serial port is still there, and when it comes
// back. A connection is lost on a hang-up or I/O error on its descriptor (the port's receive
// thread) or on the device's removal (the device monitor); after the host has disconnected it,
// the watch waits for the same device (its path, or one of its /dev/serial/by-id names) to
// appear again and says so once. A network port is lost when its connection ends; its return
// cannot be seen from here, so the watch tries to connect to the server itself, first after
// kFirstProbeMs and then less and less often, at most every kMaxProbeGapMs, and says so once a
// connection is taken (and not closed by the server at once).
#pragma once

#include "platform/Event.h"
#include "platform/Thread.h"
#include "port/DeviceMonitor.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class clPortComm;

class clPortLinkWatch {
public:
    // Both are called on the thread that noticed (the port's receive thread or the monitor's);
    // they must only hand the news on (post it), never disconnect or connect themselves.
    struct Callbacks {
        std::function<void(const std::u16string& device)> lost;
        // device: the path to open again (its by-id name when it came back under another node).
        std::function<void(const std::u16string& device)> returned;
    };

    static constexpr int kFirstProbeMs = 500;
    static constexpr int kMaxProbeGapMs = 5000;
    static constexpr int kProbeTimeoutMs = 3000;

    clPortLinkWatch(clDeviceMonitor& monitor, clPortComm& port);
    ~clPortLinkWatch();
    clPortLinkWatch(const clPortLinkWatch&) = delete;
    clPortLinkWatch& operator=(const clPortLinkWatch&) = delete;

    void SetCallbacks(Callbacks callbacks);

    // User-interface thread. After a successful Connect of the built-in port: watch its device.
    void Connected();
    // After the host disconnected: awaitReturn waits for the device of the last connection to
    // come back (one "returned" call; a device that is there already counts), else the device
    // is forgotten and nothing more is watched.
    void Disconnected(bool awaitReturn);
    bool AwaitingReturn() const;

private:
    enum class State { Idle, Connected, Awaiting };
    void OnEvent(const DeviceEvent& event);
    void OnPortLost(const std::u16string& device);
    // The network server of the last connection: tried until it takes a client again.
    void StartProbing(const std::u16string& device);
    void StopProbing();
    void Probe(const std::u16string& device);

    clDeviceMonitor& m_monitor;
    clPortComm& m_port;
    int m_listener = 0;
    mutable std::mutex m_lock;
    State m_state = State::Idle;
    std::u16string m_device;
    std::vector<std::string> m_links;
    Callbacks m_callbacks;
    platform::Event m_probeStop{platform::Event::Reset::Manual};
    platform::Thread m_prober;
};
