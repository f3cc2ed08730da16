// TCP connections to serial device servers: name resolution and connect within one time limit,
// with the reason of a refusal, and the socket set up for a serial link (no delay of small
// writes, keep-alive so a peer that vanished without a word is noticed).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class NetRefusal {
    None,
    HostUnknown, // the name resolves to nothing
    Refused,     // nothing listens on the port (connection refused)
    NoAnswer,    // no answer within the time (resolution or connect)
    Other,       // anything else; error holds errno, detail the system's text
};

struct NetProblem {
    NetRefusal kind = NetRefusal::None;
    int error = 0;
    std::string detail;
};

// Keep-alive of a connected socket: the first probe after kKeepIdleS seconds without traffic,
// then every kKeepIntervalS seconds; kKeepCount unanswered probes (or data unacknowledged for
// kUserTimeoutMs) end the connection with ETIMEDOUT.
constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 3;
constexpr int kUserTimeoutMs = (kKeepIdleS + kKeepIntervalS * kKeepCount) * 1000;

// Resolves host and connects to its addresses in turn until one accepts, all within timeoutMs
// (at least 1). Returns a non-blocking, close-on-exec socket with TCP_NODELAY and keep-alive, or
// -1 with problem filled. A cancelFd (an event's descriptor) that polls readable ends the
// attempt early as NoAnswer.
int ConnectTcp(const std::string& host, uint16_t port, int timeoutMs, NetProblem& problem,
               int cancelFd = -1);

} // namespace platform
