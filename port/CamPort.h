// The camera port: every link to the camera is a clCamPort with fourteen operations in a fixed
// slot order. The host drives one port at a time through clPortPlugIn, which forwards to the
// PortOpTable of the selected interface. This file, clRing and clSimpleLog are compiled into
// the host and into every port plug-in.
#pragma once

#include "base/Ring.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "port/PortTables.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class clSimpleLog;

// The port owner context, one per module: its log and the settings file its ports use.
class clCamCtrl {
public:
    clSimpleLog* log = nullptr; // not owned
    std::u16string settingsPath;
};

// Which physical port a port object stands for.
struct PortIdentity {
    int32_t reserved = 0;
    int32_t index = -1;         // as the port-listing component counts; -1: none chosen
    std::u16string portName;    // shown to the user; key of the stored port parameters
    std::u16string devicePath;  // what the port opens
    std::u16string description; // shown beside the name

    // No port chosen: index -1 and three empty texts.
    void Clear() {
        reserved = 0;
        index = -1;
        portName.clear();
        devicePath.clear();
        description.clear();
    }
};

class clCamPort {
public:
    static constexpr int32_t kStagingSize = 3072;
    static constexpr int32_t kDefaultSendTimeout = 20000;
    static constexpr int64_t kThreadStopTimeoutMs = platform::kThreadStopTimeoutMs;

    explicit clCamPort(clCamCtrl* owner = nullptr);
    // The virtual operations keep the order of the port contract: the destructor first, then
    // Reset, the port's own operations and the shared ones.
    virtual ~clCamPort();
    clCamPort(const clCamPort&) = delete;
    clCamPort& operator=(const clCamPort&) = delete;

    // Back to idle. Stops a receive thread that still runs, clears the open flag, the
    // settings section, the staging fields, the callback and its user pointer; send time-out
    // := 20000. Returns 0.
    virtual int32_t Reset();
    // The port's own behaviour.
    virtual void LoadSettings() = 0;
    virtual int32_t Init() = 0;
    virtual void Uninit() = 0;
    virtual int32_t Reserved() = 0; // every port returns 0; nothing calls it
    virtual int32_t Connect() = 0;
    virtual void Disconnect() = 0;
    virtual int32_t SendData(const uint8_t* bytes, uint32_t length) = 0;
    // Stores the callback and its user, PORT_OK. A null callback is refused
    // (PORT_INVALID_ARGUMENT) and the stored pair is kept: the host never relies on a port to
    // stop calling (port/ReceiveForwarder.h). Reset clears the pair.
    virtual int32_t SetReceiveCallback(ReceiveCallback callback, void* user);
    // Stores the send time-out, PORT_OK.
    virtual int32_t SetSendTimeout(int32_t ms);
    // PORT_INVALID_ARGUMENT when out is null, else the send time-out into it and PORT_OK.
    virtual int32_t GetSendTimeout(int32_t* out);
    // The open flag: non-zero while the device is open.
    virtual int32_t IsConnected();
    // The line speed in bits per second; 0 in the base.
    virtual uint32_t GetBaudRate();

    // --- Shared behaviour for implementations -------------------------------------------
    // Init's common part: creates the stop event (manual reset, not signalled), allocates the
    // staging buffer, capacity 3072 and write position 0. 0, or 1 when memory is short.
    int32_t InitReceive();
    // Uninit's common part: stops a receive thread that still runs, closes the stop event and
    // frees the staging buffer. A second call does nothing.
    void UninitReceive();
    // Connect's common part after the device is open: resets the stop event, clears the
    // staging buffer, write position and total received := 0, starts the receive thread with
    // body. 0, or 1 when Init has not run or the thread could not be started.
    int32_t StartReceiveThread(std::function<void()> body);
    // Disconnect's common part: signals the stop event, waits at most threadStopTimeoutMs for
    // the receive thread, resets the stop event. A thread that does not end in time is left
    // running (logged; receiveThread.Running() stays true until it ends); the buffers it may
    // still touch are then never freed, and the port keeps its device or channel open.
    void StopReceiveThread();

    // Receive delivery, on the receive thread. Copies the chunk into the staging buffer at the
    // write position, in pieces that never wrap, and calls the callback once per piece.
    // Length 0 delivers nothing.
    void DeliverReceived(const uint8_t* bytes, size_t length);
    // For ports that read straight into the staging buffer: where the next chunk goes and how
    // much fits without wrapping; then CommitReceived with the count actually read.
    uint8_t* ReceiveSpace(uint32_t& room);
    void CommitReceived(uint32_t n);

    void WriteLog(std::u16string_view text) const;
    // Before the stop event and the staging buffer are freed: a receive thread that still
    // runs keeps them (they are left unfreed).
    void KeepForRunningThread();

    // --- Fields ------------------------------------------------------------------------
    std::atomic<int32_t> openFlag{0};
    int32_t sendTimeout = kDefaultSendTimeout;
    clCamCtrl* owner = nullptr; // not owned
    PortIdentity identity;
    std::u16string settingsSection;
    platform::Thread receiveThread;
    // How long Disconnect waits for the receive thread.
    int64_t threadStopTimeoutMs = kThreadStopTimeoutMs;
    std::unique_ptr<platform::Event> stopEvent;
    std::unique_ptr<uint8_t[]> staging;
    int32_t stagingSize = kStagingSize;
    clRing<uint64_t> stagingRing;
    uint64_t totalReceived = 0;
    ReceiveCallback callback = nullptr;
    void* callbackUser = nullptr;
    // Held while the pair is called or changed.
    std::mutex callbackLock;
};

// The host's one port object: every operation goes to the PortOpTable of the selected
// interface. Without a table the operations fail (1), report nothing connected and do nothing.
class clPortPlugIn : public clCamPort {
public:
    using clCamPort::clCamPort;

    void LoadSettings() override {}
    int32_t Init() override;
    void Uninit() override;
    int32_t Reserved() override { return 0; }
    int32_t Connect() override;
    void Disconnect() override;
    int32_t SendData(const uint8_t* bytes, uint32_t length) override;
    int32_t SetReceiveCallback(ReceiveCallback callback, void* user) override;
    int32_t SetSendTimeout(int32_t ms) override;
    int32_t GetSendTimeout(int32_t* out) override;
    int32_t IsConnected() override;
    uint32_t GetBaudRate() override;

    PortOpTable* opTable = nullptr; // static data of the interface; replaced on selection
};
