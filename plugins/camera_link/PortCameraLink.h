// clPortCameraLink: the port of the Camera Link plug-in. It carries the camera's text protocol
// over the serial channel of a Camera Link frame grabber: the channel is opened and closed
// through the serial utility component, everything else goes through the functions of the
// vendor's serial library in its CLLibraryRecord. With a version 1.1 library the port sets
// the baud rate, flushes and reads by availability; with a 1.0 library it reads byte by byte.
#pragma once

#include "components/quastor/Quastor.h"
#include "port/CamPort.h"
#include "port/PortReason.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

class clPortCameraLink : public clCamPort {
public:
    static constexpr uint32_t kDefaultTimeout = 1000;
    // Bounds of "Timeout one Read". Every library call of the receive thread then returns
    // within kMaxTimeout plus the transfer time of at most one second of bytes (each read asks
    // for no more), so 3000 ms in all: well inside the 5000 ms that Disconnect waits for the
    // thread. The lower bound keeps a read of 0 from spinning. "Timeout one Write" is used as
    // it is stored: Disconnect bounds its own wait for a write under way instead.
    static constexpr uint32_t kMinTimeout = 10;
    static constexpr uint32_t kMaxTimeout = 2000;
    // How long Disconnect waits for a write under way to give up (it does between bytes).
    static constexpr int64_t kWriteWaitMs = 5000;
    static constexpr uint32_t kNoBaudRateCode = 0xFFFFFFFF;

    explicit clPortCameraLink(clCamCtrl* owner = nullptr);
    ~clPortCameraLink() override;

    int32_t Reset() override;
    // Read time-out from "Timeout one Read" (bounded), write time-out from "Timeout one Write"
    // (as stored).
    void LoadSettings() override;
    int32_t Init() override;
    void Uninit() override;
    int32_t Reserved() override { return 0; }
    int32_t Connect() override;
    void Disconnect() override;
    int32_t SendData(const uint8_t* bytes, uint32_t length) override;
    uint32_t GetBaudRate() override { return serialParams.baudRate; }

    // The channel's identifier through record (null: the kept library record); empty when
    // unknown or the library predates version 1.1.
    std::u16string SerialPortIdentifier(int32_t index, const CLLibraryRecord* record = nullptr);

    // --- Fields ------------------------------------------------------------------------
    CLLibraryRecord* library = nullptr; // not owned; null when the library is not available
    hSerRef serialRef = nullptr;        // open channel; null when closed
    uint32_t readTimeout = kDefaultTimeout;
    uint32_t writeTimeout = kDefaultTimeout;
    // Held by a send for its whole write and by Disconnect while it closes the channel.
    // A mutex and a condition rather than std::timed_mutex: its timed lock goes through a call
    // (pthread_mutex_clocklock) that thread checkers do not follow, so every unlock after it
    // reads as one of a lock never taken.
    class ChannelLock {
    public:
        void lock() {
            std::unique_lock<std::mutex> guard(m_lock);
            m_free.wait(guard, [this] { return !m_held; });
            m_held = true;
        }
        bool try_lock_for(std::chrono::milliseconds wait) {
            std::unique_lock<std::mutex> guard(m_lock);
            if (!m_free.wait_for(guard, wait, [this] { return !m_held; }))
                return false;
            m_held = true;
            return true;
        }
        void unlock() {
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_held = false;
            }
            m_free.notify_all();
        }

    private:
        std::mutex m_lock;
        std::condition_variable m_free;
        bool m_held = false;
    };
    ChannelLock channelLock;
    CLSerialParams serialParams{};
    // Why the library record is null (set with it by the module); none while there is one.
    PortReasonInfo unavailable;
    // Why the port cannot be used or its last Connect failed: the module's reason export
    // hands it to the host. Set by the module with the library record and by Connect (cleared
    // when it succeeds); both run on the host's user-interface thread.
    PortReasonInfo reason;

private:
    // The reason for a channel that did not open with the component's error.
    PortReasonInfo OpenFailureReason(int32_t error) const;
    // The readers of the receive thread.
    void ByteReader();
    void AvailabilityReader();
    bool StopRequested() const;
    // The library the open channel belongs to: the kept record may be replaced while the
    // channel is open, but the channel is read, written and closed by its own library.
    CLLibraryRecord* m_channelLibrary = nullptr;
    // Set by Disconnect: a send under way stops after the byte it is writing.
    std::atomic<bool> m_disconnecting{false};
};
