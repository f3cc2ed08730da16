#include "port/PortComm.h"

#include "base/SimpleLog.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Sum of the receive-error counters of the driver; false when it keeps none (pseudo-terminals,
// most USB adapters).
bool ErrorCounters(int fd, uint64_t& sum) {
    serial_icounter_struct ic{};
    if (::ioctl(fd, TIOCGICOUNT, &ic) != 0)
        return false;
    sum = static_cast<uint64_t>(ic.frame) + static_cast<uint64_t>(ic.overrun) +
          static_cast<uint64_t>(ic.parity) + static_cast<uint64_t>(ic.brk) +
          static_cast<uint64_t>(ic.buf_overrun);
    return true;
}

} // namespace

clPortComm::~clPortComm() {
    if (openFlag)
        Disconnect();
    UninitReceive();
}

int32_t clPortComm::Reset() {
    if (openFlag)
        Disconnect();
    clCamPort::Reset();
    const int old = fd.exchange(-1);
    if (old >= 0)
        ::close(old);
    m_net.reset();
    params = ComPortParams{};
    lineSettings = termios{};
    dtrFlag = 0;
    dtrRaised = false;
    commErr.count = 0;
    m_lost = false;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_problem = platform::DeviceProblem{};
        m_netReason = PortReasonInfo{};
        m_connectedDevice.clear();
        m_connectedLinks.clear();
    }
    // Never under m_lock: a running handler may ask the port for its device.
    std::lock_guard<std::mutex> call(m_handlerLock);
    m_lossHandler = nullptr;
    return 0;
}

void clPortComm::LoadSettings() {
    const std::u16string& ini = owner ? owner->settingsPath : std::u16string();
    dtrFlag = platform::ReadSettingInt(kSection, u"DTR Control", 0, ini) != 0 ? 1 : 0;
}

int32_t clPortComm::Init() {
    LoadSettings();
    VorlixLoadCOMportParaW(owner ? owner->settingsPath.c_str() : u"", identity.portName.c_str(),
                           &params);
    return InitReceive();
}

void clPortComm::Uninit() {
    UninitReceive();
}

namespace {

int SystemModemControl(int fd, unsigned long request, int* bits) {
    return ::ioctl(fd, request, bits);
}

const char* RefusalText(platform::DeviceRefusal kind) {
    switch (kind) {
    case platform::DeviceRefusal::Missing:
        return "no such device";
    case platform::DeviceRefusal::Permission:
        return "no permission";
    case platform::DeviceRefusal::Busy:
        return "held by another program";
    default:
        return "refused";
    }
}

} // namespace

clPortComm::ModemControl clPortComm::modemControl = &SystemModemControl;
clPortComm::SpeedControl clPortComm::speedControl = &platform::SetExactSpeed;
std::string clPortComm::byIdRoot = "/dev/serial/by-id";

int32_t clPortComm::Connect() {
    // Already connected: nothing changes.
    if (openFlag)
        return PORT_ERROR;
    // Open for this program alone: read and write, never the controlling terminal, no
    // blocking, an advisory lock and TIOCEXCL.
    const std::string path = platform::Utf16ToPath(identity.devicePath);
    if (platform::IsNetAddress(path))
        return ConnectNetwork(path);
    platform::DeviceProblem problem;
    const int dev = platform::OpenSerialExclusive(path, problem);
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_problem = problem;
        m_netReason = PortReasonInfo{};
    }
    if (dev < 0) {
        WriteLog(u"Open COM port Fail");
        char line[640];
        std::snprintf(line, sizeof line, "%s: %s (%s)%s%s", path.c_str(), RefusalText(problem.kind),
                      std::strerror(problem.error), problem.group.empty() ? "" : ", group ",
                      problem.group.c_str());
        WriteLog(platform::Utf8ToUtf16(line));
        return PORT_OPEN_FAILED;
    }
    fd = dev;
    // Open from here on, so the host's disconnect closes it whatever fails below.
    openFlag = 1;
    m_disconnecting.ResetEvent();
    m_lost = false;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_connectedDevice = identity.devicePath;
        m_connectedLinks = platform::SerialDeviceLinks(path, byIdRoot);
    }
    // Opening a terminal raises DTR; when it is to stay low it goes down at once. A device
    // without modem lines (a pseudo-terminal) has nothing to lower.
    if (!dtrFlag) {
        int bits = TIOCM_DTR;
        (void)modemControl(dev, TIOCMBIC, &bits);
    }
    // Device settings.
    if (::tcgetattr(dev, &lineSettings) != 0) {
        WriteLog(u"GetCommState Fail");
        return PORT_GET_STATE_FAILED;
    }
    // Line settings of the port parameters, then the exact line speed, read back.
    VorlixSetupDCB(&params, &lineSettings);
    if (::tcsetattr(dev, TCSANOW, &lineSettings) != 0) {
        WriteLog(u"SetCommState Fail");
        return PORT_SET_STATE_FAILED;
    }
    uint32_t speedIn = 0, speedOut = 0;
    const int speed = speedControl(dev, params.baudRate, speedIn, speedOut);
    if (speed != 0) {
        WriteLog(u"SetCommState Fail");
        char line[128];
        if (speed < 0)
            std::snprintf(line, sizeof line, "Line speed %u bps refused by the driver",
                          params.baudRate);
        else
            std::snprintf(line, sizeof line, "Line speed %u bps asked, the driver set %u/%u bps",
                          params.baudRate, speedIn, speedOut);
        WriteLog(platform::Utf8ToUtf16(line));
        return PORT_SET_STATE_FAILED;
    }
    // Queue sizes: the kernel keeps its own; the words are accepted as they are.
    if (params.receiveQueue == 0 || params.transmitQueue == 0) {
        WriteLog(u"SetupComm Fail");
        return PORT_QUEUE_SIZE_FAILED;
    }
    // Purge both directions.
    if (::tcflush(dev, TCIOFLUSH) != 0) {
        WriteLog(u"PurgeComm Fail in Connect");
        return PORT_PURGE_FAILED;
    }
    // Reads return at once with what is buffered.
    struct termios t {};
    if (::tcgetattr(dev, &t) != 0) {
        WriteLog(u"SetCommTimeouts Fail");
        return PORT_TIMEOUTS_FAILED;
    }
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(dev, TCSANOW, &t) != 0) {
        WriteLog(u"SetCommTimeouts Fail");
        return PORT_TIMEOUTS_FAILED;
    }
    // Fresh receive state and the receive thread.
    commErr.count = 0;
    if (StartReceiveThread([this] { ReceiveLoop(); }) != PORT_OK)
        return PORT_ERROR;
    // DTR only now that the thread runs.
    if (dtrFlag) {
        int bits = TIOCM_DTR;
        if (modemControl(dev, TIOCMBIS, &bits) != 0) {
            WriteLog(u"Set DTR  Fail");
            return PORT_DTR_FAILED;
        }
        dtrRaised = true;
    }
    return PORT_OK;
}

platform::DeviceProblem clPortComm::LastProblem() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_problem;
}

void clPortComm::SetLossHandler(LossHandler handler) {
    // Waits for a call under way: the old handler's owner may go once this returns.
    std::lock_guard<std::mutex> call(m_handlerLock);
    m_lossHandler = std::move(handler);
}

void clPortComm::MarkLost() {
    if (!openFlag || m_lost.exchange(true))
        return;
    std::u16string device;
    {
        std::lock_guard<std::mutex> g(m_lock);
        device = m_connectedDevice;
    }
    std::lock_guard<std::mutex> call(m_handlerLock);
    if (m_lossHandler)
        m_lossHandler(device);
}

std::u16string clPortComm::ConnectedDevice() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_connectedDevice;
}

std::vector<std::string> clPortComm::ConnectedLinks() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_connectedLinks;
}

void clPortComm::ReceiveLoop() {
    const int dev = fd;
    if (dev < 0 || !stopEvent)
        return;
    uint64_t errorBase = 0;
    bool counters = ErrorCounters(dev, errorBase);
    for (;;) {
        pollfd fds[2] = {{stopEvent->Fd(), POLLIN, 0}, {dev, POLLIN, 0}};
        const int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents & POLLIN)
            return; // stop event
        const short ev = fds[1].revents;
        if (ev & POLLNVAL)
            return;
        // Drain what is waiting, in chunks that never pass the staging buffer's end.
        bool gone = false;
        for (;;) {
            uint64_t sum = 0;
            if (counters && ErrorCounters(dev, sum) && sum != errorBase) {
                errorBase = sum;
                commErr.count.fetch_add(1);
            }
            int waiting = 0;
            if (::ioctl(dev, FIONREAD, &waiting) != 0) {
                gone = true;
                break;
            }
            if (waiting <= 0)
                break;
            uint32_t room = 0;
            uint8_t* space = ReceiveSpace(room);
            if (!space || room == 0)
                return;
            const size_t n = std::min<size_t>(room, static_cast<size_t>(waiting));
            const ssize_t got = ::read(dev, space, n);
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                break;
            if (got <= 0) {
                gone = true;
                break;
            }
            CommitReceived(static_cast<uint32_t>(got));
        }
        // The device went away (the other side of a pseudo-terminal closed, an adapter was
        // unplugged): nothing more can arrive; the port stays open until Disconnect.
        if (gone || (ev & (POLLHUP | POLLERR))) {
            WriteLog(u"COM port receive ended: device lost");
            MarkLost();
            return;
        }
    }
}

void clPortComm::Disconnect() {
    if (!openFlag)
        return;
    if (m_net) {
        DisconnectNetwork();
        return;
    }
    const int dev = fd;
    // DTR down before the thread stops.
    if (dtrRaised && dev >= 0) {
        int bits = TIOCM_DTR;
        (void)modemControl(dev, TIOCMBIC, &bits);
        dtrRaised = false;
    }
    // A send under way gives up at once.
    m_disconnecting.Set();
    // Receive thread.
    StopReceiveThread();
    // Purge and close, never under a running send.
    std::lock_guard<std::mutex> sending(sendLock);
    if (dev >= 0) {
        (void)::tcflush(dev, TCIOFLUSH);
        // Others may open the device again (the flag outlives this descriptor when another
        // one keeps the terminal open).
        (void)::ioctl(dev, TIOCNXCL);
        if (receiveThread.Running()) {
            // A thread that did not stop still polls the descriptor: leave it open rather than
            // let a later open reuse its number under the thread.
        } else {
            ::close(dev);
        }
    }
    fd = -1;
    openFlag = 0;
    // Receive errors to the port's own log.
    const int32_t errors = commErr.count;
    if (errors != 0) {
        char line[64];
        std::snprintf(line, sizeof line, "OverRun cnt=%ld", static_cast<long>(errors));
        clSimpleLog portLog("./Port_" + platform::Utf16ToUtf8(identity.portName) + "_Log.txt");
        portLog.Write(std::string_view(line));
        commErr.count = 0;
    }
}

int32_t clPortComm::SendData(const uint8_t* bytes, uint32_t length) {
    std::lock_guard<std::mutex> sending(sendLock);
    if (m_net)
        return SendNetwork(bytes, length);
    const int dev = fd;
    if (dev < 0 || m_lost || (!bytes && length > 0))
        return PORT_SEND_FAILED;
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(sendTimeout < 0 ? 0 : sendTimeout);
    uint32_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(dev, bytes + done, length - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return PORT_SEND_FAILED; // the write could not go on: as if it never completed
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            // Cancel what is still queued, so nothing of this send goes out later.
            (void)::tcflush(dev, TCOFLUSH);
            return PORT_SEND_FAILED;
        }
        // Room in the device, or a reason to give up.
        pollfd p[3] = {{dev, POLLOUT, 0},
                       {m_disconnecting.Fd(), POLLIN, 0},
                       {m_sendAbort ? m_sendAbort->Fd() : -1, POLLIN, 0}};
        (void)::poll(p, 3, static_cast<int>(std::min<long long>(left, 100)));
        if (p[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            return PORT_SEND_FAILED;
        if ((p[1].revents | p[2].revents) & POLLIN) {
            (void)::tcflush(dev, TCOFLUSH);
            return PORT_SEND_FAILED;
        }
    }
    return PORT_OK;
}
