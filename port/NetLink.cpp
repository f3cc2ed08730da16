#include "port/NetLink.h"

#include "components/vorlix/Vorlix.h"
#include "platform/NetSocket.h"
#include "platform/Text.h"
#include "port/PortTables.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Codec = clTelnetCodec;

// Answers the receive thread writes (negotiation replies) wait at most this long for room.
constexpr int kReplyTimeoutMs = 2000;
// Reads of one Read call before the receive thread polls again.
constexpr int kReadsPerCall = 16;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

int LeftMs(int64_t deadlineMs) {
    const int64_t left = deadlineMs - NowMs();
    return left <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left, 1 << 30));
}

uint8_t ParityValue(uint32_t parity) {
    switch (parity) {
    case VORLIX_PARITY_ODD:
        return Codec::kParityOdd;
    case VORLIX_PARITY_EVEN:
        return Codec::kParityEven;
    case VORLIX_PARITY_MARK:
        return Codec::kParityMark;
    case VORLIX_PARITY_SPACE:
        return Codec::kParitySpace;
    default:
        return Codec::kParityNone;
    }
}

uint8_t StopValue(uint32_t stopBits) {
    if (stopBits == VORLIX_STOP_TWO)
        return Codec::kStopTwo;
    return stopBits == VORLIX_STOP_ONE5 ? Codec::kStopOneAndHalf : Codec::kStopOne;
}

uint8_t FlowValue(uint32_t flow) {
    if (flow == VORLIX_FLOW_RTSCTS)
        return Codec::kControlHardware;
    return flow == VORLIX_FLOW_XONXOFF ? Codec::kControlXonXoff : Codec::kControlNoFlow;
}

PortReasonInfo Reason(int32_t kind, const std::string& address, const std::string& detail = {}) {
    PortReasonInfo r;
    r.kind = kind;
    r.name = platform::Utf8ToUtf16(address);
    r.detail = platform::Utf8ToUtf16(detail);
    return r;
}

// Printable text of what a server said before it closed ("Port already in use").
std::string Printable(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (!out.empty() && out.back() != ' ')
                out.push_back(' ');
        } else if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f) {
            out.push_back(c);
        }
        if (out.size() >= 80)
            break;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

} // namespace

clNetLink::clNetLink(platform::NetAddress address)
    : m_address(std::move(address)), m_text(m_address.Text()) {}

clNetLink::~clNetLink() {
    Close();
}

template <class Done>
clNetLink::Wait clNetLink::ReadUntil(Done done, int64_t deadlineMs) {
    while (!done()) {
        pollfd p{m_fd, POLLIN, 0};
        const int r = ::poll(&p, 1, LeftMs(deadlineMs));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return Wait::TimedOut;
        int error = 0;
        std::string data;
        const bool open = Read(data, error);
        m_pending += data;
        if (!open)
            return Wait::Ended;
    }
    return Wait::Done;
}

int32_t clNetLink::Open(const ComPortParams& params, bool dtr, int timeoutMs, const Log& log,
                        PortReasonInfo& reason) {
    reason = {};
    m_pending.clear();
    m_codec = clTelnetCodec{};
    m_binary = false;
    const int64_t start = NowMs();
    const int64_t deadline = start + std::max(timeoutMs, 1);
    platform::NetProblem problem;
    m_fd = platform::ConnectTcp(m_address.host, m_address.port, timeoutMs, problem);
    if (m_fd < 0) {
        static const std::pair<platform::NetRefusal, int32_t> kKinds[] = {
            {platform::NetRefusal::HostUnknown, PORT_REASON_HOST_UNKNOWN},
            {platform::NetRefusal::Refused, PORT_REASON_CONNECTION_REFUSED},
            {platform::NetRefusal::NoAnswer, PORT_REASON_NO_ANSWER}};
        int32_t kind = PORT_REASON_DEVICE_REFUSED;
        for (const auto& [refusal, k] : kKinds)
            if (problem.kind == refusal)
                kind = k;
        reason = Reason(kind, m_text, problem.detail);
        log(m_text + ": " + problem.detail);
        return PORT_OPEN_FAILED;
    }
    int32_t result = PORT_OK;
    if (m_address.scheme == platform::NetScheme::Rfc2217) {
        result = Negotiate(params, dtr, static_cast<int>(deadline - NowMs()), log, reason);
    } else {
        // A server that takes one client at a time closes the next one's connection at once:
        // give it a few round trips (the connect took one) to do so.
        const int64_t window = std::min<int64_t>(deadline, NowMs() + 3 * (NowMs() - start) + 20);
        if (ReadUntil([] { return false; }, window) == Wait::Ended)
            result = ServerFull(log, reason);
    }
    if (result == PORT_OPEN_FAILED) {
        Close();
        m_pending.clear();
    }
    return result;
}

int32_t clNetLink::Negotiate(const ComPortParams& params, bool dtr, int timeoutMs, const Log& log,
                             PortReasonInfo& reason) {
    const int64_t deadline = NowMs() + std::max(timeoutMs, 1);
    auto ended = [&] { return ServerFull(log, reason); };
    if (!WriteAll(m_codec.Start(), LeftMs(deadline)))
        return ended();
    switch (ReadUntil([&] { return m_codec.ComPort() != Codec::Option::Asked; }, deadline)) {
    case Wait::Ended:
        return ended();
    case Wait::TimedOut:
        reason = Reason(PORT_REASON_NO_ANSWER, m_text);
        log(m_text + ": no answer to the Telnet negotiation in time");
        return PORT_OPEN_FAILED;
    case Wait::Done:
        break;
    }
    if (m_codec.ComPort() != Codec::Option::On) {
        reason = Reason(PORT_REASON_NO_COM_PORT_OPTION, m_text);
        log(m_text + ": the server refused the COM-PORT-OPTION");
        return PORT_SET_STATE_FAILED;
    }
    // Control requests first: a server that answers them does so before the line settings.
    const uint32_t controlsBefore = m_codec.AnswerCount(Codec::kSetControl);
    std::string requests =
        Codec::SetByte(Codec::kSetControl, FlowValue(params.flowControl)) +
        Codec::SetByte(Codec::kSetControl, dtr ? Codec::kControlDtrOn : Codec::kControlDtrOff) +
        Codec::SetByte(Codec::kPurgeData, Codec::kPurgeBoth);
    struct Setting {
        uint8_t command;
        uint32_t asked;
        const char* what;
        uint32_t before;
    };
    Setting settings[] = {
        {Codec::kSetBaudRate, params.baudRate, "line speed", 0},
        {Codec::kSetDataSize, params.dataBits, "data bits", 0},
        {Codec::kSetParity, ParityValue(params.parity), "parity", 0},
        {Codec::kSetStopSize, StopValue(params.stopBits), "stop bits", 0},
    };
    for (Setting& s : settings) {
        s.before = m_codec.AnswerCount(s.command);
        requests += s.command == Codec::kSetBaudRate
                        ? Codec::SetBaudRate(s.asked)
                        : Codec::SetByte(s.command, static_cast<uint8_t>(s.asked));
    }
    if (!WriteAll(requests, LeftMs(deadline)))
        return ended();
    auto answered = [&] {
        return std::all_of(std::begin(settings), std::end(settings), [&](const Setting& s) {
            return m_codec.AnswerCount(s.command) != s.before;
        });
    };
    switch (ReadUntil(answered, deadline)) {
    case Wait::Ended:
        return ended();
    case Wait::TimedOut:
        reason = Reason(PORT_REASON_NO_ANSWER, m_text);
        log(m_text + ": no answer to the line settings in time");
        return PORT_SET_STATE_FAILED;
    case Wait::Done:
        break;
    }
    int32_t result = PORT_OK;
    for (const Setting& s : settings) {
        const uint32_t set = m_codec.AnswerValue(s.command);
        if (set == s.asked)
            continue;
        char line[200];
        std::snprintf(line, sizeof line, "%s: %s %u asked, the server set %u", m_text.c_str(),
                      s.what, s.asked, set);
        log(line);
        if (s.command == Codec::kSetBaudRate) {
            reason = Reason(PORT_REASON_SPEED_CHANGED, m_text);
            reason.number = s.asked;
            reason.count = set;
        }
        result = PORT_SET_STATE_FAILED;
    }
    const uint32_t controls = m_codec.AnswerCount(Codec::kSetControl) - controlsBefore;
    if (controls < 2) {
        char line[200];
        std::snprintf(line, sizeof line,
                      "%s: the server acknowledged %u of 2 control requests (flow control, DTR %s)",
                      m_text.c_str(), controls, dtr ? "on" : "off");
        log(line);
    }
    return result;
}

int32_t clNetLink::ServerFull(const Log& log, PortReasonInfo& reason) {
    const std::string said = Printable(m_pending);
    reason = Reason(PORT_REASON_SERVER_FULL, m_text, said);
    log(m_text + ": the server closed the connection at once" +
        (said.empty() ? std::string() : " (" + said + ")"));
    return PORT_OPEN_FAILED;
}

bool clNetLink::Read(std::string& data, int& error) {
    error = 0;
    uint8_t buf[4096];
    for (int reads = 0; reads < kReadsPerCall; ++reads) {
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            if (m_address.scheme == platform::NetScheme::Rfc2217) {
                std::string reply;
                m_codec.Receive(buf, static_cast<size_t>(n), data, reply);
                m_binary = m_codec.SendBinary();
                if (!reply.empty())
                    (void)WriteAll(reply, kReplyTimeoutMs);
            } else {
                data.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
            }
            continue;
        }
        if (n == 0)
            return false; // end of stream
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return true;
        error = errno;
        return false;
    }
    return true;
}

std::string clNetLink::TakePending() {
    std::string out;
    out.swap(m_pending);
    return out;
}

bool clNetLink::WriteAll(const std::string& bytes, int timeoutMs) {
    std::lock_guard<std::mutex> g(m_writeLock);
    if (m_fd < 0)
        return false;
    const int64_t deadline = NowMs() + std::max(timeoutMs, 0);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        const int left = LeftMs(deadline);
        if (left == 0)
            return false;
        pollfd p{m_fd, POLLOUT, 0};
        (void)::poll(&p, 1, left);
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
    }
    return true;
}

bool clNetLink::Send(const uint8_t* bytes, uint32_t length, int timeoutMs) {
    bool ok = false;
    if (m_address.scheme == platform::NetScheme::Rfc2217) {
        std::string escaped;
        Codec::Escape(bytes, length, m_binary, escaped);
        ok = WriteAll(escaped, timeoutMs);
    } else {
        ok = WriteAll(std::string(reinterpret_cast<const char*>(bytes), length), timeoutMs);
    }
    if (!ok)
        Drop();
    return ok;
}

void clNetLink::Drop() {
    std::lock_guard<std::mutex> g(m_writeLock);
    if (m_fd < 0)
        return;
    // Disconnecting the socket resets the connection and discards what it still queued; the
    // descriptor stays valid (the receive thread polls it) and reads tell the end.
    sockaddr unspec{};
    unspec.sa_family = AF_UNSPEC;
    (void)::connect(m_fd, &unspec, sizeof unspec);
}

void clNetLink::LowerDtr() {
    if (m_address.scheme == platform::NetScheme::Rfc2217)
        (void)WriteAll(Codec::SetByte(Codec::kSetControl, Codec::kControlDtrOff), kReplyTimeoutMs);
}

void clNetLink::Close() {
    std::lock_guard<std::mutex> g(m_writeLock);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool clNetLink::Probe(const platform::NetAddress& address, int timeoutMs, int cancelFd) {
    clNetLink link(address);
    platform::NetProblem problem;
    const int64_t start = NowMs();
    link.m_fd = platform::ConnectTcp(address.host, address.port, timeoutMs, problem, cancelFd);
    if (link.m_fd < 0)
        return false;
    // A Telnet server talks first: what it says is read (and answered) meanwhile.
    const int64_t window = NowMs() + 3 * (NowMs() - start) + 20;
    return link.ReadUntil([] { return false; }, window) != Wait::Ended;
}
