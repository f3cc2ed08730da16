#include "base/SimpleLog.h"
#include "comm/WatchThread.h"
#include "support/Deadline.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Records the text at every post of the watch.
class PostRecorder : public IUiTarget {
public:
    clWatchThread* watch = nullptr;
    intptr_t SendUiMessage(uint32_t, uintptr_t, intptr_t) override { return 0; }
    void PostUiMessage(uint32_t msg, uintptr_t w, intptr_t l) override {
        std::lock_guard<std::mutex> g(m_lock);
        texts.push_back(watch->ElapsedText());
        last = {msg, w, l};
        m_changed.notify_all();
    }
    bool WaitPosts(size_t n) {
        std::unique_lock<std::mutex> g(m_lock);
        return m_changed.wait_for(g, Scaled(2s), [&] { return texts.size() >= n; });
    }
    std::vector<std::u16string> Texts() {
        std::lock_guard<std::mutex> g(m_lock);
        return texts;
    }
    std::vector<std::u16string> texts;
    std::tuple<uint32_t, uintptr_t, intptr_t> last{};

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
};

// A watch on a counter the test moves by hand (ticks of one millisecond).
struct WatchRig {
    std::shared_ptr<std::atomic<int64_t>> now = std::make_shared<std::atomic<int64_t>>(0);
    PostRecorder ui;
    clWatchThread watch;
    WatchRig() {
        ui.watch = &watch;
        watch.target = &ui;
        watch.message = 0x8001;
        watch.lParam = 1;
        watch.clock.counter = [n = now] { return n->load(); };
        watch.clock.frequency = 1000;
        watch.Start();
    }
};

} // namespace

TEST(Watch, TransactionOf27SecondsEndsAt0002) {
    WatchRig rig;
    rig.watch.SignalStart();
    ASSERT_TRUE(rig.ui.WaitPosts(1));
    *rig.now = 999; // not yet a second: no post
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(rig.ui.Texts().size(), 1u);
    *rig.now = 1000;
    ASSERT_TRUE(rig.ui.WaitPosts(2));
    *rig.now = 2000;
    ASSERT_TRUE(rig.ui.WaitPosts(3));
    *rig.now = 2700;
    std::this_thread::sleep_for(120ms); // less than a second since the last post
    rig.watch.SignalHalt();
    ASSERT_TRUE(rig.ui.WaitPosts(4));
    EXPECT_EQ(rig.ui.Texts(),
              (std::vector<std::u16string>{u"00:00", u"00:01", u"00:02", u"00:02"}));
    EXPECT_DOUBLE_EQ(rig.watch.ElapsedSeconds(), 2.7);
    EXPECT_EQ(rig.ui.last, std::make_tuple(0x8001u, uintptr_t{0}, intptr_t{1}));
}

TEST(Watch, SeventyFiveSecondsGive0115AndMinutesAreNotLimited) {
    WatchRig rig;
    rig.watch.SignalStart();
    ASSERT_TRUE(rig.ui.WaitPosts(1));
    *rig.now = 75000;
    rig.watch.SignalHalt();
    ASSERT_TRUE(rig.ui.WaitPosts(2));
    EXPECT_EQ(rig.watch.ElapsedText(), u"01:15");
    EXPECT_EQ(clWatchThread::FormatElapsed(6000), u"100:00");
    EXPECT_EQ(clWatchThread::FormatElapsed(59.99), u"00:59");
}

TEST(Watch, HaltWithoutStartGives0000AndStopEndsPromptly) {
    WatchRig rig;
    *rig.now = 5000;
    rig.watch.SignalHalt();
    ASSERT_TRUE(rig.ui.WaitPosts(1));
    EXPECT_EQ(rig.watch.ElapsedText(), u"00:00");
    rig.watch.ClearElapsed();
    EXPECT_EQ(rig.watch.ElapsedText(), u"");
    const auto t0 = std::chrono::steady_clock::now();
    rig.watch.Stop();
    rig.watch.Stop(); // a second stop does nothing
    // Not the 5 s after which a stop gives up on the thread and leaves it running.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
}

// The transaction signals start and halt from the worker while the UI thread stops and starts
// the watch again: the events are never replaced under a signalling thread (the sanitizer
// configurations see a race or a freed event otherwise).
TEST(Watch, SignalsFromAnotherThreadDuringStopAndRestart) {
    clWatchThread watch;
    ASSERT_TRUE(watch.Start());
    std::atomic<bool> done{false};
    std::thread worker([&] {
        while (!done) {
            watch.SignalStart();
            watch.SignalHalt();
        }
    });
    for (int i = 0; i < 20; ++i) {
        watch.Stop();
        ASSERT_TRUE(watch.Start());
    }
    done = true;
    worker.join();
    watch.Stop();
}

namespace {

// The lines the watch logs, kept in memory.
class LineLog : public clSimpleLog {
public:
    LineLog() : clSimpleLog("") {}
    void Write(std::u16string_view text) override {
        std::lock_guard<std::mutex> g(m_lock);
        m_lines.emplace_back(text);
        m_changed.notify_all();
    }
    bool WaitFor(std::u16string_view line, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> g(m_lock);
        return m_changed.wait_for(g, timeout, [&] {
            return std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end();
        });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::u16string> m_lines;
};

} // namespace

// A wait that fails (here: poll refuses more descriptors than the process may hold, in a child
// whose descriptor limit is lowered under the running watch) is logged, and a lasting failure
// ends the watch with a line of its own instead of silently.
TEST(Watch, FailedWaitsAreLoggedAndALastingFailureEndsTheWatchVisibly) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizer runtimes need descriptors of their own, which the child has none of: they
    // report faults of their own there, not of the code under test.
    GTEST_SKIP() << "not under the sanitizers: the child has no free descriptor for their runtime";
#endif
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        LineLog log;
        clWatchThread watch;
        watch.period = 5;
        watch.log = &log;
        watch.CreateEvents();
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        rlimit low = limit;
        low.rlim_cur = 1;
        if (::setrlimit(RLIMIT_NOFILE, &low) != 0 || !watch.Start())
            ::_exit(10);
        int code = 0;
        if (!log.WaitFor(u"Elapsed-time watch: wait failed", 10s))
            code = 1;
        else if (!log.WaitFor(u"Elapsed-time watch ended: waits keep failing", 10s))
            code = 2;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        watch.Stop();
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no line for the failed wait, 2: none for the end";
}
