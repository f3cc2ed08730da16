#include "platform/NetSocket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
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

// One resolution, run by a thread of its own so that the wait can end at the deadline or on a
// cancel. The thread holds the record too: a resolution still running when the time is up is
// left to finish, and the record goes with the last holder. (Not glibc's getaddrinfo_a: its
// helper threads are started inside the C library, where a thread checker cannot follow.)
struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    int state = EAI_INPROGRESS;
    addrinfo* result = nullptr;
    ~Lookup() {
        if (result)
            ::freeaddrinfo(result);
    }
};

bool Cancelled(int cancelFd) {
    if (cancelFd < 0)
        return false;
    pollfd p{cancelFd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

addrinfo* Resolve(const std::string& host, uint16_t port, Clock::time_point deadline, int cancelFd,
                  NetProblem& problem, std::shared_ptr<Lookup>& holder) {
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, service = std::to_string(port)] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_NUMERICSERV;
            addrinfo* list = nullptr;
            const int state = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
            if (state != 0 && list) {
                ::freeaddrinfo(list);
                list = nullptr;
            }
            {
                std::lock_guard<std::mutex> guard(lookup->lock);
                lookup->state = state;
                lookup->result = list;
                lookup->finished = true;
            }
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        Fail(problem, NetRefusal::Other, EAGAIN, "name resolution could not start");
        return nullptr;
    }
    int state = EAI_INPROGRESS;
    {
        std::unique_lock<std::mutex> guard(lookup->lock);
        for (;;) {
            if (lookup->finished) {
                state = lookup->state;
                break;
            }
            // In slices, so that a cancel is seen while the name service takes its time.
            const int left = std::min(MsLeft(deadline), cancelFd >= 0 ? 100 : 1 << 30);
            if (left == 0 || Cancelled(cancelFd))
                break;
            lookup->done.wait_for(guard, std::chrono::milliseconds(left));
        }
    }
    if (state == EAI_INPROGRESS) {
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
    return holder->result;
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
    std::shared_ptr<Lookup> lookup;
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
