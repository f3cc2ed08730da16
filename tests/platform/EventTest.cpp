#include "platform/Event.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;

TEST(Event, ManualResetStaysSetUntilReset) {
    Event e(Event::Reset::Manual);
    EXPECT_EQ(WaitForAny({&e}, 0), kWaitTimeout);
    e.Set();
    e.Set();
    EXPECT_EQ(WaitForAny({&e}, 0), 0);
    EXPECT_EQ(WaitForAny({&e}, 0), 0);
    e.ResetEvent();
    EXPECT_FALSE(e.IsSignalled());
}

TEST(Event, AutoResetWakesExactlyOneWaiter) {
    Event e(Event::Reset::Auto);
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (WaitForAny({&e}, 500) == 0)
            ++woken;
    };
    std::thread a(waiter), b(waiter);
    std::this_thread::sleep_for(50ms);
    e.Set();
    a.join();
    b.join();
    EXPECT_EQ(woken.load(), 1);
    EXPECT_FALSE(e.IsSignalled());
}

TEST(Event, WaitReportsFirstSignalledObjectAndTimesOut) {
    Event stop(Event::Reset::Manual), job(Event::Reset::Auto);
    job.Set();
    stop.Set();
    EXPECT_EQ(WaitForAny({&stop, &job}, 50), 0) << "stop wins when both are set";
    stop.ResetEvent();
    EXPECT_EQ(WaitForAny({&stop, &job}, 50), 1);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForAny({&stop, &job}, 60), kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 60ms);
}

TEST(DeadlineTimer, FiresAfterItsDeadlineAndCanBeRearmed) {
    DeadlineTimer timer;
    Event stop(Event::Reset::Manual);
    EXPECT_EQ(WaitForAny({&stop, &timer}, 20), kWaitTimeout) << "an unarmed timer never fires";
    auto t0 = std::chrono::steady_clock::now();
    timer.ArmAfter(80ms);
    EXPECT_EQ(WaitForAny({&stop, &timer}, 1000), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 80ms);
    EXPECT_TRUE(timer.IsSignalled()) << "stays signalled until re-armed";
    timer.ArmAfter(10s);
    EXPECT_FALSE(timer.IsSignalled());
    timer.Cancel();
    EXPECT_EQ(WaitForAny({&timer}, 20), kWaitTimeout);
}

TEST(Event, CloseTwiceIsHarmless) {
    Event e(Event::Reset::Manual, true);
    e.Close();
    e.Close();
    EXPECT_EQ(e.Fd(), -1);
    EXPECT_FALSE(e.IsSignalled());
}
