// The built-in port on a network address (tcp://, rfc2217://): Connect, the receive thread, sends
// and Disconnect on a socket to a serial device server instead of a device file. To everything
// above the port it is the same port: the same result codes and log lines, and a connection
// that ends is lost as a device that vanished is.
#include "platform/NetAddress.h"
#include "platform/Text.h"
#include "port/PortComm.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <vector>

PortReasonInfo clPortComm::NetworkReason() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_netReason;
}

int32_t clPortComm::ConnectNetwork(const std::string& address) {
    PortReasonInfo reason;
    std::vector<std::string> lines;
    auto remember = [&](int32_t result) {
        std::lock_guard<std::mutex> g(m_lock);
        m_problem = platform::DeviceProblem{};
        m_netReason = reason;
        return result;
    };
    platform::NetAddress parsed;
    const platform::NetAddressError error = platform::ParseNetAddress(address, parsed);
    if (error != platform::NetAddressError::None) {
        WriteLog(u"Open COM port Fail");
        WriteLog(platform::Utf8ToUtf16(address + ": " + platform::NetAddressErrorText(error)));
        reason.kind = PORT_REASON_BAD_ADDRESS;
        reason.name = platform::Utf8ToUtf16(address);
        reason.number = error == platform::NetAddressError::PortOutOfRange ? 2 : 1;
        return remember(PORT_OPEN_FAILED);
    }
    auto link = std::make_unique<clNetLink>(parsed);
    const int32_t result = link->Open(
        params, dtrFlag != 0, sendTimeout,
        [&lines](const std::string& line) { lines.push_back(line); }, reason);
    remember(result);
    if (result == PORT_OPEN_FAILED)
        WriteLog(u"Open COM port Fail");
    else if (result != PORT_OK)
        WriteLog(u"SetCommState Fail");
    for (const std::string& line : lines)
        WriteLog(platform::Utf8ToUtf16(line));
    if (result == PORT_OPEN_FAILED)
        return result;
    // Open from here on, so the host's disconnect closes it whatever fails below.
    {
        std::lock_guard<std::mutex> sending(sendLock); // sends read it under the same lock
        m_net = std::move(link);
    }
    openFlag = 1;
    m_lost = false;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_connectedDevice = identity.devicePath;
        m_connectedLinks.clear();
    }
    if (result != PORT_OK)
        return result;
    dtrRaised = dtrFlag != 0 && parsed.scheme == platform::NetScheme::Rfc2217;
    commErr.count = 0;
    if (StartReceiveThread([this] { NetworkReceiveLoop(); }) != PORT_OK)
        return PORT_ERROR;
    return PORT_OK;
}

void clPortComm::NetworkReceiveLoop() {
    clNetLink* net = m_net.get();
    if (!net || !stopEvent)
        return;
    const std::string early = net->TakePending();
    DeliverReceived(reinterpret_cast<const uint8_t*>(early.data()), early.size());
    std::string data;
    for (;;) {
        pollfd fds[2] = {{stopEvent->Fd(), POLLIN, 0}, {net->Fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents & POLLIN)
            return; // stop event
        if (fds[1].revents & POLLNVAL)
            return;
        data.clear();
        int error = 0;
        const bool open = net->Read(data, error);
        DeliverReceived(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        if (!open) {
            // End of stream, reset, keep-alive failure: as a device that went away.
            WriteLog(u"COM port receive ended: device lost");
            WriteLog(
                platform::Utf8ToUtf16(net->Address().Text() + ": " +
                                      (error ? std::strerror(error) : "closed by the server")));
            MarkLost();
            return;
        }
    }
}

int32_t clPortComm::SendNetwork(const uint8_t* bytes, uint32_t length) {
    if (!m_net || m_lost || (!bytes && length > 0))
        return PORT_SEND_FAILED;
    if (length == 0)
        return PORT_OK;
    if (!m_net->Send(bytes, length, sendTimeout < 0 ? 0 : sendTimeout)) {
        WriteLog(platform::Utf8ToUtf16(m_net->Address().Text() +
                                       ": the send did not go out in time, the connection is "
                                       "dropped"));
        return PORT_SEND_FAILED;
    }
    return PORT_OK;
}

void clPortComm::DisconnectNetwork() {
    // DTR down before the thread stops.
    if (dtrRaised) {
        m_net->LowerDtr();
        dtrRaised = false;
    }
    StopReceiveThread();
    std::lock_guard<std::mutex> sending(sendLock);
    if (receiveThread.Running()) {
        // A thread that did not stop still polls the socket: it keeps the connection rather
        // than let a later open reuse its number under the thread.
        (void)m_net.release();
    } else {
        m_net.reset();
    }
    openFlag = 0;
}
