#include "comm/EngineContext.h"

#include "base/MessageTable.h"

#include <chrono>

std::u16string clEngineContextStore::MessageText(int id) {
    return MsgIn(id, uiLanguageIndex);
}

IEngineEvents* clEventGate::Enter() {
    // The events are read only while open, under the lock: after Close they are never read.
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_open || !m_events)
        return nullptr;
    ++m_calls;
    return m_events;
}

void clEventGate::Leave() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        --m_calls;
    }
    m_idle.notify_all();
}

void clEventGate::SetEvents(IEngineEvents* events) {
    std::unique_lock<std::mutex> guard(m_lock);
    // A call under way finishes with the events it took.
    m_idle.wait(guard, [this] { return m_calls == 0; });
    m_events = events;
}

bool clEventGate::Close(const std::function<void()>& pump, int64_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> guard(m_lock);
    m_open = false;
    while (m_calls > 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        if (pump) {
            guard.unlock();
            pump();
            guard.lock();
        }
        m_idle.wait_for(guard, std::chrono::milliseconds(2));
    }
    return true;
}

void clEventGate::Open() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_open = true;
}

bool clEventGate::IsOpen() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_open;
}
