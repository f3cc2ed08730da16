#include "platform/NetSocket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

int Fail(NetProblem& problem, NetRefusal kind, int error, const std::string& detail = {}) {
    problem.kind = kind;
    problem.error = error;
    problem.detail = detail.empty() && error != 0 ? std::strerror(error) : detail;
    return -1;
}

// One asynchronous resolution. It lives on the heap: a request the resolver's helper thread
// still works on when the time is up cannot be taken back, and is then left to it.
struct Lookup {
    std::string name, service;
    addrinfo hints{};
    gaicb request{};
    ~Lookup() {
        if (request.ar_result)
            ::freeaddrinfo(request.ar_result);
    }
};

bool Cancelled(int cancelFd) {
    if (cancelFd < 0)
        return false;
    pollfd p{cancelFd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

addrinfo* Resolve(const std::string& host, uint16_t port, Clock::time_point deadline, int cancelFd,
                  NetProblem& problem, std::unique_ptr<Lookup>& holder) {
    auto lookup = std::make_unique<Lookup>();
    lookup->name = host;
    lookup->service = std::to_string(port);
    lookup->hints.ai_family = AF_UNSPEC;
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->hints.ai_flags = AI_NUMERICSERV;
    lookup->request.ar_name = lookup->name.c_str();
    lookup->request.ar_service = lookup->service.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* list[1] = {&lookup->request};
    if (::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
        Fail(problem, NetRefusal::Other, EAGAIN, "name resolution could not start");
        return nullptr;
    }
    int state = EAI_INPROGRESS;
    for (;;) {
        state = ::gai_error(&lookup->request);
        if (state != EAI_INPROGRESS)
            break;
        // In slices, so that a cancel is seen while the name service takes its time.
        const int left = std::min(MsLeft(deadline), cancelFd >= 0 ? 100 : 1 << 30);
        if (left == 0 || Cancelled(cancelFd))
            break;
        timespec wait{left / 1000, static_cast<long>(left % 1000) * 1000000L};
        (void)::gai_suspend(list, 1, &wait);
    }
    if (state == EAI_INPROGRESS) {
        if (::gai_cancel(&lookup->request) != EAI_CANCELED && ::gai_error(&lookup->request) != 0)
            (void)lookup.release(); // still in the resolver's hands
        Fail(problem, NetRefusal::NoAnswer, ETIMEDOUT, "no answer from the name service in time");
        return nullptr;
    }
    if (state != 0) {
        // Unknown names, and names the name service could not look up now, are unknown hosts.
        const bool unknown = state == EAI_NONAME || state == EAI_AGAIN || state == EAI_FAIL ||
#ifdef EAI_NODATA
                             state == EAI_NODATA ||
#endif
                             state == EAI_ADDRFAMILY;
        Fail(problem, unknown ? NetRefusal::HostUnknown : NetRefusal::Other, 0,
             ::gai_strerror(state));
        return nullptr;
    }
    holder = std::move(lookup);
    return holder->request.ar_result;
}

void SetUp(int fd) {
    const int on = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    (void)::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    const int idle = kKeepIdleS, interval = kKeepIntervalS, count = kKeepCount;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    const unsigned userTimeout = kUserTimeoutMs;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

// 0 connected, else the errno of the attempt (ETIMEDOUT when the time ran out).
int ConnectOne(const addrinfo& ai, Clock::time_point deadline, int cancelFd, int& out) {
    const int fd = ::socket(ai.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    int error = 0;
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
        error = errno;
        while (error == EINPROGRESS || error == EINTR) {
            pollfd p[2] = {{fd, POLLOUT, 0}, {cancelFd, POLLIN, 0}};
            const int r = ::poll(p, 2, MsLeft(deadline));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0 || (p[1].revents & POLLIN)) {
                error = ETIMEDOUT;
                break;
            }
            socklen_t len = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
                error = errno;
        }
    }
    if (error != 0) {
        ::close(fd);
        return error;
    }
    SetUp(fd);
    out = fd;
    return 0;
}

} // namespace

int ConnectTcp(const std::string& host, uint16_t port, int timeoutMs, NetProblem& problem,
               int cancelFd) {
    problem = NetProblem{};
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 1 ? 1 : timeoutMs);
    std::unique_ptr<Lookup> lookup;
    const addrinfo* list = Resolve(host, port, deadline, cancelFd, problem, lookup);
    if (!list)
        return -1;
    int last = EHOSTUNREACH;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        int fd = -1;
        last = ConnectOne(*ai, deadline, cancelFd, fd);
        if (last == 0)
            return fd;
        if (last == ETIMEDOUT)
            break; // the time is up for every further address too
    }
    if (last == ECONNREFUSED)
        return Fail(problem, NetRefusal::Refused, last);
    if (last == ETIMEDOUT)
        return Fail(problem, NetRefusal::NoAnswer, last);
    return Fail(problem, NetRefusal::Other, last);
}

} // namespace platform
