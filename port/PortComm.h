// clPortComm: the host's built-in serial port on a termios device, and the built-in interface
// ("COM port(Build In)") that presents it through the same tables as a port plug-in.
#pragma once

#include "components/vorlix/Vorlix.h"
#include "platform/SerialDevice.h"
#include "port/CamPort.h"
#include "port/NetLink.h"
#include "port/PortReason.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <termios.h>
#include <vector>

// Receive errors the device reported since the last successful Connect.
class clCommErr {
public:
    virtual ~clCommErr() = default;
    std::atomic<int32_t> count{0};
};

class clPortComm : public clCamPort {
public:
    static constexpr char16_t kSection[] = u"COM port(Build In)";

    using clCamPort::clCamPort;
    ~clPortComm() override;

    // Base reset, and the device, parameters, termios settings, DTR flag and error count.
    int32_t Reset() override;
    // DTR flag := "DTR Control" of the port's settings section is nonzero.
    void LoadSettings() override;
    // LoadSettings, the stored parameters of the port name, stop event and staging buffer.
    int32_t Init() override;
    void Uninit() override;
    int32_t Reserved() override { return 0; }
    // 0, or 1 (already connected / no receive thread), 8 open (missing, no permission, held by
    // another program: LastProblem tells), 9 read settings, 10 write settings or a line speed
    // the driver refused or changed, 11 queue sizes, 12 purge, 13 read time-outs, 14 DTR. The
    // device is taken for this program alone (advisory lock and TIOCEXCL). The open flag is
    // set as soon as the device is open; a failure after that leaves it open for Disconnect.
    // DTR is lowered right after the open when "DTR Control" is 0 and raised only once the
    // receive thread runs when it is 1.
    int32_t Connect() override;
    // Lowers DTR (when raised by Connect), stops the receive thread, purges and closes the
    // device; writes "OverRun cnt=%ld" to ./Port_<name>_Log.txt when errors were counted. A
    // send under way on another thread gives up at once and is waited for.
    void Disconnect() override;
    // Writes all bytes within the send time-out: 0, or 5 when they did not all go out in time
    // (what was still queued is discarded), the device is not open or failed, or the send was
    // told to give up (the abort event, or Disconnect).
    int32_t SendData(const uint8_t* bytes, uint32_t length) override;
    // An event whose signal makes a send under way give up at once (the host's engine sets it
    // on cancel, loss, disconnect and shutdown); null: none. Set while no send runs.
    void SetSendAbort(const platform::Waitable* abort) { m_sendAbort = abort; }
    uint32_t GetBaudRate() override { return params.baudRate; }

    // The receive thread's body: polls the device and the stop event, drains in chunks that
    // end at the staging buffer's end. Ends on the stop event or when the device goes away.
    void ReceiveLoop();

    // True while the receive thread runs (it ends on its own when the device goes away).
    bool ReceiveThreadRunning() const { return receiveThread.Running(); }
    int32_t ReceiveErrors() const { return commErr.count; }

    // Why the last Connect could not open the device (kind None when it could).
    platform::DeviceProblem LastProblem() const;
    // Why the last Connect to a network address failed (kind PORT_REASON_NONE when it did not,
    // or when the port is a device).
    PortReasonInfo NetworkReason() const;

    // The open device went away (hang-up or I/O error on the descriptor, seen by the receive
    // thread, or its removal reported by the device monitor). Called at most once per
    // connection, on the thread that noticed; it must not disconnect the port itself.
    using LossHandler = std::function<void(const std::u16string& devicePath)>;
    void SetLossHandler(LossHandler handler);
    // Marks the connection lost and calls the handler, once per connection; nothing when the
    // port is not open. Sends fail at once from then on.
    void MarkLost();
    bool LinkLost() const { return m_lost; }
    // The device path of the open connection and its /dev/serial/by-id links (taken at
    // Connect), to recognise its removal and its return.
    std::u16string ConnectedDevice() const;
    std::vector<std::string> ConnectedLinks() const;

    // Modem-line control (TIOCMBIS, TIOCMBIC). Pseudo-terminals have no modem lines, so tests
    // put a recorder here to see when DTR moves; everything else leaves ::ioctl.
    using ModemControl = int (*)(int fd, unsigned long request, int* bits);
    static ModemControl modemControl;
    // The exact line speed call (platform::SetExactSpeed: 0, -1 refused, 1 the driver set
    // another rate, with the rates it set). Tests put a driver here that changes the rate.
    using SpeedControl = int (*)(int fd, uint32_t baud, uint32_t& actualIn, uint32_t& actualOut);
    static SpeedControl speedControl;
    // Where the stable names of devices are looked for (tests use a folder of their own).
    static std::string byIdRoot;

    std::atomic<int> fd{-1}; // the device handle
    ComPortParams params;
    struct termios lineSettings {};
    int32_t dtrFlag = 0;
    clCommErr commErr;
    // DTR was raised by the last Connect, so Disconnect lowers it.
    bool dtrRaised = false;
    // Held by a send for its whole write and by Disconnect while it closes the descriptor, so
    // a send never writes to a number that was closed (and maybe reused) under it.
    std::mutex sendLock;

private:
    // A network address instead of a device path: the same steps on a socket (PortCommNet.cpp).
    int32_t ConnectNetwork(const std::string& address);
    void NetworkReceiveLoop();
    int32_t SendNetwork(const uint8_t* bytes, uint32_t length);
    void DisconnectNetwork();

    // The connection of a network port; null for a device.
    std::unique_ptr<clNetLink> m_net;
    PortReasonInfo m_netReason; // under m_lock
    mutable std::mutex m_lock;  // the problem and the connected device
    platform::DeviceProblem m_problem;
    std::mutex m_handlerLock; // the handler, held while it runs
    LossHandler m_lossHandler;
    std::u16string m_connectedDevice;
    std::vector<std::string> m_connectedLinks;
    std::atomic<bool> m_lost{false};
    const platform::Waitable* m_sendAbort = nullptr;
    // Set by Disconnect so that a send under way gives up; reset by Connect.
    platform::Event m_disconnecting{platform::Event::Reset::Manual};
};

// The built-in interface: its entry (same shape as GetPivraInterfaceW), its reason (same shape
// as GetPivraPortReasonW: why the last Connect could not open the device) and the one port
// object.
InterfaceTable* GetBuiltInComInterface(PortParamBlock* params);
int32_t GetBuiltInComPortReason(PortReason* reason);
PortReasonInfo BuiltInComPortReason();
clPortComm& BuiltInComPort();
// A port the user names for the built-in interface (quillon-cli --port): a port name as the
// component lists it, a device path, or a network address (tcp://HOST:PORT,
// rfc2217://HOST:PORT). Fills index, port name and device path of identity; false with a
// message naming the text when it names nothing usable (an unknown name, a malformed address, a
// port number out of range), identity unchanged then.
bool ChooseBuiltInPort(const std::u16string& text, PortIdentity& identity, std::string& message);
// The host's port owner context: the application log and settings file of the ports.
clCamCtrl& HostPortCtrl();
