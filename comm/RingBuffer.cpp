#include "comm/RingBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

bool clRingBuffer::Allocate(uint64_t size) {
    if (size == 0)
        return false;
    std::unique_ptr<uint8_t[]> area(new (std::nothrow) uint8_t[size]);
    if (!area)
        return false;
    std::lock_guard<std::mutex> guard(m_lock);
    m_data = std::move(area);
    m_size = size;
    for (clRing<uint64_t>* ring : {&m_write, &m_read[0], &m_read[1]}) {
        ring->SetCapacity(size);
        ring->SetPosition(0);
    }
    m_written = 0;
    m_taken[0].store(0, std::memory_order_relaxed);
    m_taken[1].store(0, std::memory_order_relaxed);
    return true;
}

void clRingBuffer::Append(const uint8_t* bytes, uint64_t length) {
    if (!bytes || length == 0)
        return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!AppendLocked(bytes, length))
            return;
    }
    // Outside the lock: the woken reader takes the lock at once to ask Pending.
    m_dataEvent.Set();
}

bool clRingBuffer::AppendLocked(const uint8_t* bytes, uint64_t length) {
    const uint64_t capacity = m_write.Capacity();
    if (capacity == 0 || !m_data)
        return false;
    // More than the whole area: only the newest capacity bytes can survive anyway.
    if (length > capacity) {
        m_written += length - capacity;
        m_write.Advance(length - capacity);
        bytes += length - capacity;
        length = capacity;
    }
    while (length > 0) {
        const uint64_t pos = m_write.Position();
        const uint64_t n = std::min(capacity - pos, length);
        std::memcpy(m_data.get() + pos, bytes, n);
        m_written += n;
        m_write.SetPosition((pos + n) % capacity);
        bytes += n;
        length -= n;
    }
    return true;
}

uint64_t clRingBuffer::Pending(Reader reader) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_written - m_taken[reader].load(std::memory_order_acquire);
}

uint64_t clRingBuffer::WrittenCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_written;
}

uint8_t clRingBuffer::Take(Reader reader) {
    clRing<uint64_t>& cursor = m_read[reader];
    const uint64_t capacity = cursor.Capacity();
    if (capacity == 0)
        return 0;
    const uint64_t pos = cursor.Position();
    const uint8_t byte = m_data[pos];
    cursor.SetPosition(pos + 1 == capacity ? 0 : pos + 1);
    // Release: whoever sees the new count (through Pending) sees this byte as read, so it may
    // be overwritten from then on.
    m_taken[reader].fetch_add(1, std::memory_order_release);
    return byte;
}

void clRingBuffer::TakeInto(Reader reader, uint8_t* out, uint64_t n) {
    clRing<uint64_t>& cursor = m_read[reader];
    const uint64_t capacity = cursor.Capacity();
    if (capacity == 0)
        return;
    uint64_t left = n;
    while (left > 0) {
        const uint64_t pos = cursor.Position();
        const uint64_t piece = std::min(capacity - pos, left);
        std::memcpy(out, m_data.get() + pos, piece);
        cursor.SetPosition((pos + piece) % capacity);
        out += piece;
        left -= piece;
    }
    m_taken[reader].fetch_add(n, std::memory_order_release);
}

void clRingBuffer::SkipPending(Reader reader) {
    uint64_t written, taken;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        written = m_written;
        taken = m_taken[reader].load(std::memory_order_relaxed);
    }
    Skip(reader, written - taken);
}

void clRingBuffer::Skip(Reader reader, uint64_t n) {
    if (n == 0)
        return;
    m_read[reader].Advance(n);
    m_taken[reader].fetch_add(n, std::memory_order_release);
}

void clRingBuffer::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_write.SetPosition(0);
    m_read[0].SetPosition(0);
    m_read[1].SetPosition(0);
    m_written = 0;
    m_taken[0].store(0, std::memory_order_relaxed);
    m_taken[1].store(0, std::memory_order_relaxed);
}
