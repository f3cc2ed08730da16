#include "platform/Event.h"

#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

bool PollReadable(int fd) {
    if (fd < 0)
        return false;
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

void Drain(int fd) {
    uint64_t value;
    while (::read(fd, &value, sizeof value) == sizeof value) {
    }
}

} // namespace

Waitable::~Waitable() {
    Close();
}

void Waitable::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool Waitable::IsSignalled() const {
    return PollReadable(m_fd);
}

Event::Event(Reset mode, bool initiallySet) : m_mode(mode) {
    m_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_fd < 0)
        throw std::runtime_error("eventfd failed");
    if (initiallySet)
        Set();
}

void Event::Set() {
    if (m_fd < 0 || PollReadable(m_fd))
        return;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_fd, &one, sizeof one);
}

void Event::ResetEvent() {
    if (m_fd >= 0)
        Drain(m_fd);
}

bool Event::TryAcquire() {
    if (m_fd < 0)
        return false;
    if (m_mode == Reset::Manual)
        return PollReadable(m_fd);
    uint64_t value;
    // Only one of several waiters reads the count; the others see EAGAIN and wait on.
    return ::read(m_fd, &value, sizeof value) == sizeof value;
}

DeadlineTimer::DeadlineTimer() {
    m_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0)
        throw std::runtime_error("timerfd_create failed");
}

void DeadlineTimer::ArmAfter(std::chrono::milliseconds ms) {
    if (m_fd < 0)
        return;
    Drain(m_fd);
    itimerspec setting{};
    long long total = ms.count() <= 0 ? 0 : ms.count();
    setting.it_value.tv_sec = static_cast<time_t>(total / 1000);
    setting.it_value.tv_nsec = static_cast<long>((total % 1000) * 1000000);
    if (total == 0)
        setting.it_value.tv_nsec = 1; // zero would disarm; one nanosecond fires at once
    ::timerfd_settime(m_fd, 0, &setting, nullptr);
}

void DeadlineTimer::Cancel() {
    if (m_fd < 0)
        return;
    itimerspec setting{};
    ::timerfd_settime(m_fd, 0, &setting, nullptr);
    Drain(m_fd);
}

bool DeadlineTimer::TryAcquire() {
    return PollReadable(m_fd);
}

int WaitForAny(std::initializer_list<Waitable*> objects, int64_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::vector<pollfd> fds;
    fds.reserve(objects.size());
    for (;;) {
        int index = 0;
        for (Waitable* w : objects) {
            if (w && w->TryAcquire())
                return index;
            ++index;
        }
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return kWaitTimeout;
            wait = static_cast<int>(std::min<int64_t>(left.count() + 1, 1 << 30));
        }
        fds.clear();
        for (Waitable* w : objects)
            fds.push_back(pollfd{w ? w->Fd() : -1, POLLIN, 0});
        int r = ::poll(fds.data(), fds.size(), wait);
        if (r < 0 && errno != EINTR)
            return kWaitFailed;
    }
}

} // namespace platform
