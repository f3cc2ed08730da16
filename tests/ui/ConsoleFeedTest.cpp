// What the console takes from a real receive ring: the bounded flush, the backlog it passes over
// with a marker, and a command whose echo and reply stay in view however much arrives around it.
#include "ui/ConsoleFeed.h"

#include "base/MessageTable.h"
#include "comm/RingBuffer.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>

using console::BacklogReader;
using console::FlushBatch;
using console::LineStore;

namespace {

struct Rig {
    explicit Rig(uint64_t capacity = 1 << 20, int rows = 2000) {
        EXPECT_TRUE(ring.Allocate(capacity));
        store.SetUp(console::kLineColumns, rows);
    }
    void Receive(const std::string& bytes) {
        ring.Append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    // One flush, appended to the store as the window does.
    FlushBatch Flush() {
        FlushBatch batch = reader.Flush(source, store);
        store.Append(batch.text);
        return batch;
    }
    std::u16string Shown() const { return store.Text(); }

    clRingBuffer ring;
    bool logged = false;
    console::RingSource source{ring, [this] { return logged; }};
    LineStore store;
    BacklogReader reader;
};

// Flood lines as a camera in free-running output sends them, numbered.
std::string FloodLines(int from, int count) {
    std::string out;
    for (int i = from; i < from + count; ++i)
        out += "FLOOD " + std::to_string(i) + " abcdefghijklmnopqrstuvwxyz\r\n";
    return out;
}

std::u16string U(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

class ConsoleFeedTest : public ::testing::Test {
protected:
    ConsoleFeedTest() { SetUiLanguage(1, 1033); }
};

} // namespace

TEST_F(ConsoleFeedTest, FlushCleansAndTakesAtMost500CharactersPerCall) {
    Rig rig;
    rig.Receive(">OK\r\x04");
    FlushBatch batch = rig.reader.Flush(rig.source, rig.store);
    EXPECT_EQ(batch.text, u">OK\n\n");
    rig.Receive(std::string("\x15\xB1\x00z", 4) + std::string(1230, 'r'));
    batch = rig.reader.Flush(rig.source, rig.store);
    EXPECT_EQ(batch.text.substr(0, 4), (std::u16string{u'\u2415', u'\u00B1', u'\n', u'z'}));
    EXPECT_EQ(batch.text.size(), 500u);
    EXPECT_EQ(batch.backlogLeft, 734u);
    rig.reader.Flush(rig.source, rig.store);
    batch = rig.reader.Flush(rig.source, rig.store);
    EXPECT_EQ(batch.text.size(), 234u);
    EXPECT_EQ(batch.backlogLeft, 0u);
    EXPECT_TRUE(rig.reader.Flush(rig.source, rig.store).text.empty());
    // The console reads only its own reader.
    EXPECT_EQ(rig.ring.Pending(clRingBuffer::kTransactionReader), 5u + 1234u);
}

TEST_F(ConsoleFeedTest, FlushStopsAfterTheTimeBudget) {
    Rig rig;
    rig.Receive(std::string(400, 's'));
    // Every look at the clock is 100 ms later than the one before: started at 100 ms, chunks
    // are taken at 200 and 300 ms, the look at 400 ms ends the flush.
    auto t = std::chrono::steady_clock::time_point{};
    const console::Clock clock = [&t] { return t += std::chrono::milliseconds(100); };
    const FlushBatch batch = rig.reader.Flush(rig.source, rig.store, clock);
    EXPECT_GT(batch.text.size(), 0u);
    EXPECT_LT(batch.text.size(), 400u);
    EXPECT_EQ(batch.backlogLeft, 400u - batch.text.size());
}

// A backlog beyond what the console shows (rows x 78), or beyond what the ring still holds,
// is passed over once, with one marker line, and the newest bytes are shown.
struct SkipCase {
    const char* name;
    uint64_t capacity;
    int rows;
    bool logged;
    uint64_t received;
    uint64_t skipped;
};

class ConsoleSkip : public ::testing::TestWithParam<SkipCase> {};

TEST_P(ConsoleSkip, OlderPartIsPassedOverWithOneMarker) {
    SetUiLanguage(1, 1033);
    const SkipCase& c = GetParam();
    Rig rig(c.capacity, c.rows);
    rig.logged = c.logged;
    std::string bytes;
    for (uint64_t i = 0; i < c.received; ++i)
        bytes.push_back(static_cast<char>('a' + i % 26));
    rig.Receive(bytes);
    FlushBatch batch = rig.Flush();
    EXPECT_EQ(batch.skipped, c.skipped);
    const std::u16string marker = console::SkipMarker(c.skipped, c.logged);
    EXPECT_EQ(marker, U("[" + std::to_string(c.skipped) + " bytes not shown" +
                        (c.logged ? "; the traffic log holds them]" : "]")));
    EXPECT_EQ(batch.text.substr(0, marker.size() + 1), marker + u"\n");
    // The bytes after the marker are the oldest ones kept.
    EXPECT_EQ(batch.text[marker.size() + 1], static_cast<char16_t>(bytes[c.skipped]));
    // Taken up share by share, the rest needs no second marker.
    while (batch.backlogLeft > 0) {
        batch = rig.Flush();
        EXPECT_EQ(batch.skipped, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Backlogs, ConsoleSkip,
    ::testing::Values(SkipCase{"BeyondTheRows", 1 << 20, 10, false, 5000, 5000 - 780},
                      SkipCase{"BeyondTheRowsLogged", 1 << 20, 10, true, 781, 1},
                      SkipCase{"RingOverflow", 4096, 2000, false, 10000, 10000 - 4096}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConsoleFeedTest, NothingIsPassedOverWhileTheBacklogFits) {
    Rig rig(1 << 20, 10);
    rig.Receive(std::string(780, 'x'));
    EXPECT_EQ(rig.Flush().skipped, 0u);
}

TEST_F(ConsoleFeedTest, MarkerIsInJapaneseInAJapaneseWindow) {
    SetUiLanguage(0, 1041);
    EXPECT_EQ(console::SkipMarker(12, false), u"[12 バイトを表示していません]");
    EXPECT_EQ(console::SkipMarker(12, true),
              u"[12 バイトを表示していません。通信ログに記録されています]");
    SetUiLanguage(1, 1033);
}

// A command sent while the camera floods: the echo follows what came before it, the console
// holds back rather than push the echo away, and the reply shows at once when the transaction
// ends, with what lay between passed over.
TEST_F(ConsoleFeedTest, EchoAndReplyStayInViewInAFlood) {
    Rig rig(4 << 20, 2000);
    rig.Receive(FloodLines(0, 20000)); // far more than 2000 rows
    FlushBatch batch = rig.reader.BeforeEcho(rig.source, rig.store);
    EXPECT_GT(batch.skipped, 0u);
    rig.store.Append(batch.text);
    EXPECT_EQ(rig.ring.Pending(clRingBuffer::kConsoleReader), 0u);
    EXPECT_NE(rig.Shown().find(u"FLOOD 19999 "), std::u16string::npos);
    rig.store.Append(u"\nsta\n");
    rig.reader.EchoShown(rig.store);
    const uint64_t echoLine = rig.store.FinishedLines();

    // The flood goes on; the reply comes 40000 lines later, and the flood after it.
    rig.Receive(FloodLines(20000, 40000));
    rig.Receive(">OK\r\n>Model=XC-100\r\n\x04");
    const uint64_t replyEnd = rig.ring.WrittenCount();
    rig.Receive(FloodLines(60000, 100));
    for (int i = 0; i < 1000; ++i)
        if (rig.Flush().backlogLeft == 0)
            break;
    EXPECT_EQ(rig.reader.Flush(rig.source, rig.store).backlogLeft, 0u) << "held for the reply";
    EXPECT_LE(rig.store.FinishedLines() - echoLine, 500u);

    batch = rig.reader.UpTo(rig.source, rig.store, replyEnd);
    rig.store.Append(batch.text);
    EXPECT_GT(batch.skipped, 0u);
    EXPECT_EQ(rig.source.Position(), replyEnd);
    const std::u16string shown = rig.Shown();
    const std::size_t echo = shown.find(u"\nsta\r\n");
    const std::size_t reply = shown.find(u">OK\r\n\r\n>Model=XC-100\r\n");
    ASSERT_NE(echo, std::u16string::npos);
    ASSERT_NE(reply, std::u16string::npos);
    EXPECT_LT(echo, reply);
    EXPECT_LE(rig.store.FinishedLines() - echoLine, 1002u) << "half the rows at most";

    // Afterwards the flush goes on with what followed the reply.
    EXPECT_FALSE(rig.reader.CommandInFlight());
    while (rig.Flush().backlogLeft > 0) {
    }
    EXPECT_NE(rig.Shown().find(u"FLOOD 60099 "), std::u16string::npos);
}

TEST_F(ConsoleFeedTest, QuietReplyIsShownWhole) {
    Rig rig;
    rig.store.Append(u"sta\n");
    rig.reader.EchoShown(rig.store);
    rig.Receive(">OK\r\n>Model=XC-100\r\n\x04");
    // Already flushed before the result: nothing more to show.
    rig.Flush();
    const FlushBatch batch =
        rig.reader.UpTo(rig.source, rig.store, rig.ring.TakenCount(clRingBuffer::kConsoleReader));
    EXPECT_TRUE(batch.text.empty());
    EXPECT_EQ(rig.Shown(), u"sta\r\n>OK\r\n\r\n>Model=XC-100\r\n\r\n\r\n");
    // Not flushed yet: the result shows it all, nothing passed over.
    rig.store.Clear();
    rig.Receive(">OK\r\n\x04");
    const FlushBatch reply = rig.reader.UpTo(rig.source, rig.store, rig.ring.WrittenCount());
    EXPECT_EQ(reply.text, u">OK\n\n\n");
    EXPECT_EQ(reply.skipped, 0u);
}

TEST_F(ConsoleFeedTest, JobEndWithoutAResultLetsTheFlushGoOn) {
    Rig rig(1 << 20, 8);
    rig.store.Append(u"sta\n");
    rig.reader.EchoShown(rig.store);
    rig.Receive(FloodLines(0, 50));
    while (rig.Flush().backlogLeft > 0) {
    }
    EXPECT_GT(rig.ring.Pending(clRingBuffer::kConsoleReader), 0u);
    EXPECT_TRUE(rig.reader.EndCommand());
    EXPECT_FALSE(rig.reader.EndCommand());
    while (rig.Flush().backlogLeft > 0) {
    }
    EXPECT_EQ(rig.ring.Pending(clRingBuffer::kConsoleReader), 0u);
}

TEST_F(ConsoleFeedTest, DropEmptiesTheBacklog) {
    Rig rig;
    rig.Receive(FloodLines(0, 100));
    rig.reader.Drop(rig.source);
    EXPECT_EQ(rig.ring.Pending(clRingBuffer::kConsoleReader), 0u);
    EXPECT_TRUE(rig.Flush().text.empty());
}

TEST(ConsoleTail, KeepsTheLinesThatFitFromTheEnd) {
    struct Case {
        std::u16string text;
        int lines;
        std::size_t from;
    } cases[] = {
        {u"a\nb\nc\n", 2, 4},                      // "c" and the empty current line
        {u"a\nb\nc", 2, 2},                        // "b" and "c"
        {u"a\nb\nc", 5, 0},                        // all of it fits
        {std::u16string(200, u'x'), 2, 200 - 156}, // a long line: its last two rows
        {u"\u3042\u3042\u3042", 1, 0},             // wide characters: 6 of 78 columns
        {u"abc", 0, 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(console::TailForLines(c.text, c.lines, 78), c.from)
            << std::string(c.text.begin(), c.text.end()).substr(0, 20) << " / " << c.lines;
}
