// Events and a deadline timer that one wait can watch together, with a time-out. Each object
// owns a file descriptor (eventfd or timerfd), so a thread can also poll() them beside a device.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>

namespace platform {

class Waitable {
public:
    Waitable() = default;
    virtual ~Waitable();
    Waitable(const Waitable&) = delete;
    Waitable& operator=(const Waitable&) = delete;

    // The descriptor that polls readable while the object is signalled; -1 after Close().
    int Fd() const { return m_fd; }
    // True when signalled. An auto-reset event is reset by a successful TryAcquire.
    virtual bool TryAcquire() = 0;
    bool IsSignalled() const;
    // Releases the descriptor; a second call does nothing.
    void Close();

protected:
    int m_fd = -1;
};

class Event : public Waitable {
public:
    enum class Reset { Manual, Auto };
    explicit Event(Reset mode, bool initiallySet = false);

    void Set();
    void ResetEvent();
    bool TryAcquire() override;
    bool IsManual() const { return m_mode == Reset::Manual; }

private:
    Reset m_mode;
};

// A one-shot timer that becomes signalled when its deadline has passed and stays signalled
// until it is armed again or cancelled.
class DeadlineTimer : public Waitable {
public:
    DeadlineTimer();
    // Arms the timer to fire after `ms` milliseconds (0 fires at once).
    void ArmAfter(std::chrono::milliseconds ms);
    // Disarms it; it stays unsignalled until armed again.
    void Cancel();
    bool TryAcquire() override;
};

constexpr int kWaitTimeout = -1;
constexpr int kWaitFailed = -2;
constexpr int64_t kInfinite = -1;

// Waits until one of the objects is signalled (acquiring it, so an auto-reset event is reset)
// or until timeoutMs passes (kInfinite: no limit). Returns the index of the object, the first
// in the list when several are signalled, or kWaitTimeout.
int WaitForAny(std::initializer_list<Waitable*> objects, int64_t timeoutMs);

} // namespace platform
