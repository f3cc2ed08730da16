// The host's own receive callback. Every port gets clReceiveForwarder::Deliver with the
// forwarder as its user pointer, never the engine itself: the published contract lets a port
// refuse to clear its stored pair (SetReceiveCallback with a null callback returns 3 and keeps
// it), so the host cannot rely on a port to stop calling. Instead the host disarms its
// forwarder before it frees what deliveries reach, and keeps the forwarder alive until the
// plug-in modules are unloaded.
#pragma once

#include "port/PortTables.h"

#include <mutex>

class clReceiveForwarder {
public:
    // The ReceiveCallback the host gives every port; user is the forwarder.
    static void Deliver(const uint8_t* bytes, uint32_t length, void* user);

    // Where deliveries go from now on (any thread).
    void Arm(ReceiveCallback target, void* user);
    // Deliveries go nowhere from now on; once it returns, no delivery into the former target
    // runs or starts (any thread but a delivering one).
    void Disarm();

private:
    std::mutex m_lock; // held while a delivery runs
    ReceiveCallback m_target = nullptr;
    void* m_user = nullptr;
};
