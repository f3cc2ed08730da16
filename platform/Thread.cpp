#include "platform/Thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

namespace platform {

struct Thread::State {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
};

Thread::~Thread() {
    // An owner that forgot to stop its thread must not crash the process at exit.
    if (m_thread.joinable())
        JoinFor(0);
}

bool Thread::Start(std::function<void()> body) {
    // A body left running by a join that gave up still owns its state.
    if (m_thread.joinable() || Running())
        return false;
    auto state = std::make_shared<State>();
    try {
        m_thread = std::thread([state, body = std::move(body)] {
            body();
            std::lock_guard<std::mutex> guard(state->lock);
            state->done = true;
            state->ended.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    m_state = std::move(state);
    return true;
}

bool Thread::Finished() const {
    if (!m_state)
        return true;
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->done;
}

bool Thread::JoinFor(int64_t timeoutMs) {
    if (!m_thread.joinable())
        return true;
    bool done;
    {
        std::unique_lock<std::mutex> guard(m_state->lock);
        done =
            m_state->ended.wait_for(guard, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                                    [&] { return m_state->done; });
    }
    if (done) {
        m_thread.join();
        m_state.reset();
    } else {
        // The state stays: Running() keeps answering for the detached body.
        m_thread.detach();
    }
    return done;
}

} // namespace platform
