#include "comm/WatchThread.h"

#include "base/SimpleLog.h"
#include "platform/Text.h"

#include <chrono>
#include <cstdio>
#include <thread>

clWatchThread::Clock clWatchThread::SteadyClock() {
    Clock c;
    c.counter = [] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
    };
    c.frequency = 1000000000;
    return c;
}

clWatchThread::clWatchThread() : clock(SteadyClock()) {}

clWatchThread::~clWatchThread() {
    Stop();
}

void clWatchThread::CreateEvents() {
    using platform::Event;
    std::lock_guard<std::mutex> guard(m_eventLock);
    if (!stopEvent)
        stopEvent = std::make_shared<Event>(Event::Reset::Manual);
    if (!startEvent)
        startEvent = std::make_shared<Event>(Event::Reset::Auto);
    if (!haltEvent)
        haltEvent = std::make_shared<Event>(Event::Reset::Auto);
}

bool clWatchThread::Start() {
    if (m_thread.Exists())
        return false;
    CreateEvents();
    std::lock_guard<std::mutex> guard(m_eventLock);
    return m_thread.Start([this] { Run(); });
}

void clWatchThread::Stop() {
    if (m_thread.Exists()) {
        {
            std::lock_guard<std::mutex> guard(m_eventLock);
            if (stopEvent)
                stopEvent->Set();
        }
        if (!m_thread.JoinFor(platform::kThreadStopTimeoutMs) && log)
            log->Write(u"Elapsed-time watch did not end within 5000 ms; left running");
    }
    std::lock_guard<std::mutex> guard(m_eventLock);
    startEvent.reset();
    haltEvent.reset();
    stopEvent.reset();
}

void clWatchThread::SignalStart() {
    std::lock_guard<std::mutex> guard(m_eventLock);
    if (startEvent)
        startEvent->Set();
}

void clWatchThread::SignalHalt() {
    std::lock_guard<std::mutex> guard(m_eventLock);
    if (haltEvent)
        haltEvent->Set();
}

std::u16string clWatchThread::ElapsedText() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_elapsedText;
}

double clWatchThread::ElapsedSeconds() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_elapsedSeconds;
}

void clWatchThread::ClearElapsed() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_elapsedSeconds = 0;
    m_elapsedText.clear();
}

std::u16string clWatchThread::FormatElapsed(double seconds) {
    long long s = seconds > 0 ? static_cast<long long>(seconds) : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld", s / 60, s % 60);
    return platform::Utf8ToUtf16(text);
}

void clWatchThread::Publish(int64_t now, int64_t start, int64_t frequency, IUiTarget* to,
                            uint32_t msg, uintptr_t wp, intptr_t lp) {
    const double seconds =
        frequency > 0 ? static_cast<double>(now - start) / static_cast<double>(frequency) : 0.0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_elapsedSeconds = seconds;
        m_elapsedText = FormatElapsed(seconds);
    }
    if (to)
        to->PostUiMessage(msg, wp, lp);
}

void clWatchThread::Run() {
    // Copies taken at the start; later changes of the fields are not seen.
    IUiTarget* const to = target;
    const uint32_t msg = message;
    const uintptr_t wp = wParam;
    const intptr_t lp = lParam;
    const int64_t periodMs = period > 0 ? period : 50;
    const Clock c = clock;
    clSimpleLog* const log = this->log;
    std::shared_ptr<platform::Event> stop, start, halt;
    {
        std::lock_guard<std::mutex> guard(m_eventLock);
        stop = stopEvent;
        start = startEvent;
        halt = haltEvent;
    }

    bool running = false;
    int64_t startCount = 0, lastUpdate = 0;
    int failedWaits = 0;
    for (;;) {
        // Between transactions only an event can change anything: no period then.
        const int w = platform::WaitForAny({stop.get(), start.get(), halt.get()},
                                           running ? periodMs : platform::kInfinite);
        if (w == 0)
            return;
        if (w == platform::kWaitFailed) {
            // A failed wait is logged and the period waited out; only a lasting failure ends
            // the watch, and that is logged too.
            if (failedWaits == 0 && log)
                log->Write(u"Elapsed-time watch: wait failed");
            if (++failedWaits >= kMaxFailedWaits) {
                if (log)
                    log->Write(u"Elapsed-time watch ended: waits keep failing");
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
            continue;
        }
        failedWaits = 0;
        if (running && (w == platform::kWaitTimeout || w == 1)) {
            const int64_t now = c.counter();
            if (c.frequency > 0 && now - lastUpdate >= c.frequency) {
                lastUpdate = now;
                Publish(now, startCount, c.frequency, to, msg, wp, lp);
            }
        }
        if (w == 1) {
            startCount = lastUpdate = c.counter();
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_elapsedSeconds = 0;
                m_elapsedText = u"00:00";
            }
            if (to)
                to->PostUiMessage(msg, wp, lp);
            running = true;
        } else if (w == 2) {
            const int64_t now = c.counter();
            if (!running)
                startCount = now;
            running = false;
            Publish(now, startCount, c.frequency, to, msg, wp, lp);
        }
    }
}
