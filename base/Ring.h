// clRing: one cursor over a circular area of `capacity` bytes. The receive ring has three of
// them (one writer, two readers); every port has one as the write cursor of its staging
// buffer. Header-only, so the port plug-in can embed it without linking the engine.
//
// The cursor has no lock of its own: its owner decides what guards it. The position is an
// atomic with relaxed ordering only so that a reset from another thread is not a data race;
// the owner's lock or thread hand-over orders the data itself.
#pragma once

#include <atomic>

template <typename Index>
class clRing {
public:
    clRing() = default;
    virtual ~clRing() = default;
    clRing(const clRing&) = delete;
    clRing& operator=(const clRing&) = delete;

    Index Capacity() const { return m_capacity.load(std::memory_order_relaxed); }
    void SetCapacity(Index capacity) { m_capacity.store(capacity, std::memory_order_relaxed); }

    // The next index to write or to read; always below the capacity (0 without capacity).
    Index Position() const { return m_position.load(std::memory_order_relaxed); }
    void SetPosition(Index position) { m_position.store(position, std::memory_order_relaxed); }

    // Moves the position on by n, wrapping at the capacity.
    void Advance(Index n) {
        Index cap = Capacity();
        if (cap != 0)
            SetPosition(static_cast<Index>((Position() + n % cap) % cap));
    }

private:
    std::atomic<Index> m_capacity{0};
    std::atomic<Index> m_position{0};
};
