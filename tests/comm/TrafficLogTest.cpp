// The traffic log's received lines: stamped with their arrival, written out after a pause or
// once 4 KiB have gathered, not held until a line end that may never come.
#include "comm/TrafficLog.h"

#include "support/Deadline.h"
#include "support/TempDir.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;
using WallTime = std::chrono::system_clock::time_point;

// A wall clock the test sets: 2026-12-09 14:03:07.125 local time to begin with.
struct FakeClock {
    FakeClock() {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mon = 11;
        t.tm_mday = 9;
        t.tm_hour = 14;
        t.tm_min = 3;
        t.tm_sec = 7;
        t.tm_isdst = -1;
        now = std::chrono::system_clock::from_time_t(std::mktime(&t)) + 125ms;
    }
    clTrafficLog::WallClock Get() {
        return [this] { return now.load(); };
    }
    std::atomic<WallTime> now;
};

void Receive(clTrafficLog& log, std::string_view bytes) {
    log.Received(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(TrafficLog, ALineCarriesTheTimeItsFirstByteArrived) {
    TempDir dir;
    FakeClock clock;
    clTrafficLog log(clock.Get());
    ASSERT_TRUE(log.Open(dir.file("t.txt")));
    Receive(log, ">O");
    clock.now = clock.now.load() + 20s; // the rest of the line comes much later
    Receive(log, "K\r\n");
    log.Close();
    const std::string text = ReadFileBytes(dir.file("t.txt"));
    EXPECT_EQ(text.substr(0, 24), "2026-12-09 14:03:07.125 ") << text;
}

TEST(TrafficLog, APartialLineIsWrittenOutAfterAPause) {
    TempDir dir;
    clTrafficLog log;
    ASSERT_TRUE(log.Open(dir.file("t.txt")));
    Receive(log, ">OK"); // and then nothing more: no line end, no EOT, no send
    EXPECT_TRUE(WaitUntil([&] {
        return ReadFileBytes(dir.file("t.txt")).find(" << >OK\n") != std::string::npos;
    })) << ReadFileBytes(dir.file("t.txt"));
    log.Close();
}

TEST(TrafficLog, APartialLineIsWrittenOutAtFourKilobytes) {
    TempDir dir;
    clTrafficLog log;
    ASSERT_TRUE(log.Open(dir.file("t.txt")));
    Receive(log, std::string(clTrafficLog::kMaxPendingBytes + 100, 'x'));
    // At once, without waiting for the pause.
    const std::string text = ReadFileBytes(dir.file("t.txt"));
    const size_t at = text.find(" << ");
    ASSERT_NE(at, std::string::npos) << "nothing written";
    EXPECT_EQ(text.substr(at + 4, text.find('\n') - at - 4),
              std::string(clTrafficLog::kMaxPendingBytes, 'x'));
    log.Close();
}

// Without a file the listener still gets every line, a pause's partial one included, and a
// log closed under it keeps telling it.
TEST(TrafficLog, TheListenerGetsTheLinesWithOrWithoutAFile) {
    TempDir dir;
    clTrafficLog log;
    std::mutex lock;
    std::vector<std::string> lines;
    log.SetListener([&](std::string_view direction, std::string_view text, WallTime) {
        std::lock_guard<std::mutex> guard(lock);
        lines.push_back(std::string(direction) + " " + std::string(text));
    });
    const auto seen = [&](const std::string& line) {
        return WaitUntil([&] {
            std::lock_guard<std::mutex> guard(lock);
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        });
    };
    log.Sent(reinterpret_cast<const uint8_t*>("sta\r"), 4);
    Receive(log, ">OK\r\n>Model=X");
    EXPECT_TRUE(seen(">> sta\\r"));
    EXPECT_TRUE(seen("<< >OK\\r\\n"));
    EXPECT_TRUE(seen("<< >Model=X")); // after the pause
    ASSERT_TRUE(log.Open(dir.file("t.txt")));
    log.Close();
    Receive(log, "\x04");
    EXPECT_TRUE(seen("<< \\x04"));
    log.SetListener({});
}

} // namespace
