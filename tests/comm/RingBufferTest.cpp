#include "comm/RingBuffer.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using R = clRingBuffer;

void Append(clRingBuffer& ring, const std::string& s) {
    ring.Append(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

std::string TakeAll(clRingBuffer& ring, R::Reader reader) {
    std::string out;
    for (uint64_t n = ring.Pending(reader); n > 0; --n)
        out.push_back(static_cast<char>(ring.Take(reader)));
    return out;
}

} // namespace

TEST(RingBuffer, AppendPastTheEndWrapsInTwoPieces) {
    clRingBuffer ring;
    ASSERT_TRUE(ring.Allocate(8));
    Append(ring, "abcdef");
    EXPECT_EQ(TakeAll(ring, R::kTransactionReader), "abcdef");
    Append(ring, "12345");
    EXPECT_EQ(ring.WritePosition(), 3u);
    EXPECT_EQ(ring.WrittenCount(), 11u);
    EXPECT_EQ(ring.Pending(R::kTransactionReader), 5u);
    EXPECT_EQ(TakeAll(ring, R::kTransactionReader), "12345");
    EXPECT_EQ(ring.ReadPosition(R::kTransactionReader), 3u);
    // The console reader has taken nothing; it lost the bytes the writer overwrote and now
    // takes newer bytes in their place, which is the documented price of never blocking.
    EXPECT_EQ(ring.Pending(R::kConsoleReader), 11u);
}

TEST(RingBuffer, ReadersAreIndependent) {
    clRingBuffer ring;
    ASSERT_TRUE(ring.Allocate(16));
    Append(ring, "hello");
    EXPECT_EQ(TakeAll(ring, R::kConsoleReader), "hello");
    EXPECT_EQ(ring.Pending(R::kTransactionReader), 5u);
    Append(ring, "!");
    EXPECT_EQ(TakeAll(ring, R::kTransactionReader), "hello!");
    EXPECT_EQ(TakeAll(ring, R::kConsoleReader), "!");
    EXPECT_EQ(ring.TakenCount(R::kConsoleReader), 6u);
}

TEST(RingBuffer, SkipPendingDropsOnlyWhatTheReaderHasNotTaken) {
    clRingBuffer ring;
    ASSERT_TRUE(ring.Allocate(8));
    ring.SkipPending(R::kTransactionReader); // nothing pending: unchanged
    EXPECT_EQ(ring.ReadPosition(R::kTransactionReader), 0u);
    EXPECT_EQ(ring.TakenCount(R::kTransactionReader), 0u);
    Append(ring, "abcdefg");
    ring.Take(R::kTransactionReader);
    ring.SkipPending(R::kTransactionReader);
    EXPECT_EQ(ring.Pending(R::kTransactionReader), 0u);
    EXPECT_EQ(ring.ReadPosition(R::kTransactionReader), 7u);
    Append(ring, "XYZ"); // wraps
    EXPECT_EQ(TakeAll(ring, R::kTransactionReader), "XYZ");
    EXPECT_EQ(ring.Pending(R::kConsoleReader), 10u);
}

TEST(RingBuffer, ResetForgetsBytesThatArrivedBefore) {
    clRingBuffer ring;
    ASSERT_TRUE(ring.Allocate(8));
    Append(ring, "abc");
    ring.Take(R::kConsoleReader);
    ring.Reset();
    EXPECT_EQ(ring.Pending(R::kConsoleReader), 0u);
    EXPECT_EQ(ring.Pending(R::kTransactionReader), 0u);
    Append(ring, "z");
    EXPECT_EQ(TakeAll(ring, R::kConsoleReader), "z");
    EXPECT_EQ(TakeAll(ring, R::kTransactionReader), "z");
}

TEST(RingBuffer, NothingToAppendOrNoAreaChangesNothing) {
    clRingBuffer ring;
    Append(ring, "abc"); // no area yet: dropped, and no endless loop
    EXPECT_EQ(ring.WrittenCount(), 0u);
    EXPECT_FALSE(ring.Allocate(0));
    ASSERT_TRUE(ring.Allocate(8));
    ring.Append(nullptr, 5);
    ring.Append(reinterpret_cast<const uint8_t*>("x"), 0);
    EXPECT_EQ(ring.WrittenCount(), 0u);
    EXPECT_EQ(ring.WritePosition(), 0u);
}

TEST(RingBuffer, StoredBytesSignalTheDataEventOnce) {
    clRingBuffer ring;
    Append(ring, "abc");
    EXPECT_FALSE(ring.DataEvent().IsSignalled()) << "no area, nothing stored";
    ASSERT_TRUE(ring.Allocate(8));
    ring.Append(reinterpret_cast<const uint8_t*>("x"), 0);
    EXPECT_FALSE(ring.DataEvent().IsSignalled());
    Append(ring, "ab");
    Append(ring, "cd");
    EXPECT_TRUE(ring.DataEvent().TryAcquire());
    EXPECT_FALSE(ring.DataEvent().TryAcquire()) << "auto reset: one wake for what is pending";
    EXPECT_EQ(TakeAll(ring, R::kTransactionReader), "abcd");
}

TEST(RingBuffer, ChunkLargerThanTheAreaKeepsTheNewestBytes) {
    clRingBuffer ring;
    ASSERT_TRUE(ring.Allocate(4));
    Append(ring, "a");
    ring.SkipPending(R::kTransactionReader);
    Append(ring, "0123456789");
    EXPECT_EQ(ring.WrittenCount(), 11u);
    EXPECT_EQ(ring.WritePosition(), 11u % 4);
    uint8_t out[4];
    ring.SkipPending(R::kConsoleReader);
    // The transaction reader is 10 behind on a 4-byte area; its last four bytes are intact.
    for (int i = 0; i < 6; ++i)
        ring.Take(R::kTransactionReader);
    ring.TakeInto(R::kTransactionReader, out, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "6789");
}

TEST(RingBuffer, ConcurrentWriterAndReaderSeeEveryByteInOrder) {
    clRingBuffer ring;
    ASSERT_TRUE(ring.Allocate(4096));
    constexpr uint64_t kTotal = 1 << 20;
    std::thread writer([&] {
        std::vector<uint8_t> chunk(777);
        uint64_t sent = 0;
        while (sent < kTotal) {
            // Stay within the area so the reader loses nothing.
            if (ring.Pending(R::kTransactionReader) > 4096 - chunk.size()) {
                std::this_thread::yield();
                continue;
            }
            size_t n = std::min<uint64_t>(chunk.size(), kTotal - sent);
            for (size_t i = 0; i < n; ++i)
                chunk[i] = static_cast<uint8_t>((sent + i) * 131);
            ring.Append(chunk.data(), n);
            sent += n;
        }
    });
    uint64_t got = 0;
    bool ordered = true;
    while (got < kTotal) {
        uint64_t n = ring.Pending(R::kTransactionReader);
        for (uint64_t i = 0; i < n; ++i, ++got)
            ordered &= ring.Take(R::kTransactionReader) == static_cast<uint8_t>(got * 131);
        if (n == 0)
            std::this_thread::yield();
    }
    writer.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(ring.Pending(R::kConsoleReader), kTotal);
}
