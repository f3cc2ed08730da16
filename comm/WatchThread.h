// clWatchThread: measures how long the current command transaction has been waiting for the
// camera. The transaction signals the start event when its command has gone out and the halt
// event when it has ended; in between the text "mm:ss" advances once a second and the target
// is asked to redraw (posted, never waited for).
#pragma once

#include "base/UiTarget.h"
#include "platform/Event.h"
#include "platform/Thread.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class clSimpleLog;

class clWatchThread {
public:
    // The high-resolution counter and its ticks per second; injectable for tests.
    struct Clock {
        std::function<int64_t()> counter;
        int64_t frequency = 0;
    };
    static Clock SteadyClock();
    // Consecutive failed waits after which the thread gives up (logged).
    static constexpr int kMaxFailedWaits = 100;

    clWatchThread();
    // Stops the thread.
    virtual ~clWatchThread();
    clWatchThread(const clWatchThread&) = delete;
    clWatchThread& operator=(const clWatchThread&) = delete;

    // Creates the three events (stop manual, start and halt auto, none signalled).
    void CreateEvents();
    // Starts the thread (creating the events when they are missing). The thread copies the
    // target, message, parameters, period and clock now; later changes are not seen.
    bool Start();
    // Signals stop, waits at most 5000 ms; a thread still running then is left running and
    // logged instead of being killed. Closes the events. A second call does nothing.
    void Stop();

    void SignalStart();
    void SignalHalt();

    // Reading for the status display.
    std::u16string ElapsedText() const;
    double ElapsedSeconds() const;
    // After a disconnect: 0 seconds and an empty text.
    void ClearElapsed();

    // "%02d:%02d" of whole minutes and seconds; minutes are not limited to two digits.
    static std::u16string FormatElapsed(double seconds);

    // Fields set by the owner before Start.
    IUiTarget* target = nullptr;
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    int32_t period = 50;
    Clock clock;
    clSimpleLog* log = nullptr;
    // Shared with the thread (which keeps its own reference), so that a thread left running
    // at Stop never waits on a closed event. Stop and the signalling threads reach them under
    // m_eventLock.
    std::shared_ptr<platform::Event> stopEvent;
    std::shared_ptr<platform::Event> startEvent;
    std::shared_ptr<platform::Event> haltEvent;

private:
    void Run();
    void Publish(int64_t now, int64_t start, int64_t frequency, IUiTarget* to, uint32_t msg,
                 uintptr_t wp, intptr_t lp);

    platform::Thread m_thread;
    mutable std::mutex m_lock;
    std::mutex m_eventLock;
    double m_elapsedSeconds = 0;
    std::u16string m_elapsedText;
};
