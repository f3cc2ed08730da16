// clRingBuffer: the receive ring. One writer (the receive thread of the connected port) and two
// independent readers, the console (reader 0) and the command transaction (reader 1). Each
// reader has its own position and its own count of bytes taken, so neither disturbs the other.
//
// The buffer lock guards the write position and the written count; Append holds it for the
// whole copy. Readers read the counts under it and then take bytes outside it, only up to the
// number Pending returned, while the writer only writes beyond them. When a reader falls
// behind by more than the capacity, the oldest bytes are overwritten and it later takes newer
// bytes in their place (the writer never waits).
#pragma once

#include "base/Ring.h"
#include "platform/Event.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class clRingBuffer {
public:
    enum Reader : int { kConsoleReader = 0, kTransactionReader = 1 };

    clRingBuffer() = default;
    virtual ~clRingBuffer() = default;
    clRingBuffer(const clRingBuffer&) = delete;
    clRingBuffer& operator=(const clRingBuffer&) = delete;

    // Allocates the area once (start-up) and gives every cursor that capacity, position 0 and
    // count 0. False when size is 0 or the memory cannot be had; the ring then stays without
    // area and drops what is appended.
    bool Allocate(uint64_t size);
    uint64_t Size() const { return m_size; }

    // Copies the bytes in, in at most two pieces, then signals the data event. No area, no
    // bytes or length 0: nothing.
    void Append(const uint8_t* bytes, uint64_t length);
    // Auto reset; signalled by every Append that stored bytes, so a reader can wait for them
    // instead of polling. A reader that wakes must still ask Pending: the event may stand from
    // bytes it has already taken or skipped.
    platform::Event& DataEvent() { return m_dataEvent; }

    // Bytes the reader has not taken yet.
    uint64_t Pending(Reader reader) const;
    // Takes the byte at the reader's position. Only valid up to the count Pending returned.
    uint8_t Take(Reader reader);
    // Takes n bytes (n at most the count Pending returned) into out, in at most two copies.
    void TakeInto(Reader reader, uint8_t* out, uint64_t n);
    // Drops everything the reader has not taken.
    void SkipPending(Reader reader);
    // Drops the next n bytes of the reader (n at most the count Pending returned), as if taken.
    // A reader that fell behind by more than the capacity skips the overwritten part this way
    // and then takes the oldest bytes the area still holds.
    void Skip(Reader reader, uint64_t n);
    // All positions and counts to 0 (after a successful connect).
    void Reset();

    uint64_t WrittenCount() const;
    uint64_t TakenCount(Reader reader) const {
        return m_taken[reader].load(std::memory_order_relaxed);
    }
    uint64_t WritePosition() const { return m_write.Position(); }
    uint64_t ReadPosition(Reader reader) const { return m_read[reader].Position(); }

private:
    // The copy of Append under the buffer lock; false when the ring has no area.
    bool AppendLocked(const uint8_t* bytes, uint64_t length);

    std::unique_ptr<uint8_t[]> m_data;
    uint64_t m_size = 0;
    clRing<uint64_t> m_write;
    clRing<uint64_t> m_read[2];
    mutable std::mutex m_lock;
    uint64_t m_written = 0;
    // Written by the reader's own thread; atomic so that Reset from another thread is no race,
    // and released so that a byte counted as taken is ordered before its overwriting.
    std::atomic<uint64_t> m_taken[2]{0, 0};
    platform::Event m_dataEvent{platform::Event::Reset::Auto};
};
