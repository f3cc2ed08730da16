// A thread that can be waited for with a time-out. std::thread has no timed join; a thread that
// does not end in time is detached (never killed), so the caller can log it and go on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace platform {

// How long the program waits for one of its threads to end when it stops it.
inline constexpr int64_t kThreadStopTimeoutMs = 5000;

class Thread {
public:
    Thread() = default;
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts body on a new thread. False when a thread is already running or could not be made.
    bool Start(std::function<void()> body);
    // True between Start and the end of a join, or a join that gave up.
    bool Exists() const { return m_thread.joinable(); }
    // True once the body has returned (also without a thread).
    bool Finished() const;
    // True while the body runs, also after a join gave up on it: what it uses must stay.
    bool Running() const { return !Finished(); }
    // Waits at most timeoutMs for the body to return. True: the thread has ended and is joined.
    // False: it is still running and has been detached; it then owns nothing of this object,
    // but Running() goes on telling whether it has ended. Without a thread it returns true at
    // once.
    bool JoinFor(int64_t timeoutMs);

private:
    struct State;
    std::thread m_thread;
    std::shared_ptr<State> m_state;
};

} // namespace platform
