#include "platform/Thread.h"

#include "support/Deadline.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(Thread, JoinForJoinsAFinishedThread) {
    platform::Thread t;
    std::atomic<bool> ran{false};
    ASSERT_TRUE(t.Start([&] { ran = true; }));
    EXPECT_FALSE(t.Start([] {})); // one at a time
    EXPECT_TRUE(t.JoinFor(1000));
    EXPECT_TRUE(ran);
    EXPECT_FALSE(t.Exists());
    EXPECT_TRUE(t.JoinFor(0)); // nothing to wait for
}

// A thread a join gave up on is detached, and still reads as running until its body returns:
// whoever owns what it uses (a port's descriptor, a staging buffer) must be able to tell.
TEST(Thread, ThreadThatOverrunsIsDetachedNotKilledAndStillReadsAsRunning) {
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    {
        platform::Thread t;
        ASSERT_TRUE(t.Start([release, finished] {
            while (!*release)
                std::this_thread::sleep_for(1ms);
            *finished = true;
        }));
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(t.JoinFor(50));
        EXPECT_LT(std::chrono::steady_clock::now() - t0, Scaled(500ms));
        EXPECT_FALSE(t.Exists());
        EXPECT_TRUE(t.Running());
        EXPECT_FALSE(t.Start([] {})) << "the detached body still runs";
        *release = true;
        EXPECT_TRUE(WaitUntil([&] { return !t.Running(); }));
        EXPECT_TRUE(t.Start([] {})) << "a new body once the old one has ended";
        EXPECT_TRUE(t.JoinFor(5000));
    }
    EXPECT_TRUE(finished->load());
}
