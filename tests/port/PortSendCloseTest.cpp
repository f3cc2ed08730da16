// The built-in serial port's send and receive thread against its Disconnect on another thread,
// on a real pseudo-terminal.
#include "SerialRig.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// True while the thread tid waits in poll (the kernel's record of its current system call).
bool WaitsInPoll(pid_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    if (!(in >> number))
        return false;
#ifdef SYS_poll
    if (number == SYS_poll)
        return true;
#endif
    return number == SYS_ppoll;
}

// A descriptor closed by Disconnect is the lowest free number, so the next files opened take
// it again (as the port's log file does). A send still holding the old number would then
// write the command bytes into that file.
TEST(PortComm, DisconnectDuringASendNeverLetsItWriteToTheReusedDescriptor) {
    CamSimFaults faults;
    faults.readNothing = true;
    SerialRig rig(faults);
    rig.Entry();
    rig.params.sendTimeout = 1500;
    ASSERT_EQ(rig.ConnectHost(), 0);
    const int portFd = BuiltInComPort().fd;
    ASSERT_GE(portFd, 0);

    const std::string big(4 << 20, 'x');
    std::atomic<pid_t> senderTid{0};
    std::atomic<int32_t> sent{-1};
    std::thread sender([&] {
        senderTid = static_cast<pid_t>(::syscall(SYS_gettid));
        sent = rig.port.SendData(reinterpret_cast<const uint8_t*>(big.data()),
                                 static_cast<uint32_t>(big.size()));
    });
    const bool waiting = WaitUntil([&] { return senderTid != 0 && WaitsInPoll(senderTid); },
                                   std::chrono::seconds(2));
    EXPECT_TRUE(waiting) << "the send never waited for room in the terminal";

    rig.port.Disconnect();
    EXPECT_EQ(BuiltInComPort().fd, -1);
    std::vector<int> opened;
    int reused = -1;
    const std::string file = rig.dir.file("reused.bin");
    for (int i = 0; i < 64 && reused < 0; ++i) {
        const int f = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (f < 0)
            break;
        if (f == portFd)
            reused = f;
        else
            opened.push_back(f);
    }
    sender.join();
    EXPECT_EQ(reused, portFd) << "no file took the port's old descriptor number";
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0) << "the send wrote into the file that reused its descriptor";
    EXPECT_EQ(sent.load(), 5); // the send timed out: as if it never completed
    if (reused >= 0)
        ::close(reused);
    for (int f : opened)
        ::close(f);
}

// A receive thread that cannot stop in time (its delivery is held) is left running: the port
// must then keep the descriptor the thread still polls, not close it under the thread.
struct HeldDelivery {
    std::mutex lock;
    std::condition_variable changed;
    bool inside = false, release = false;

    static void Deliver(const uint8_t*, uint32_t, void* user) {
        auto* self = static_cast<HeldDelivery*>(user);
        std::unique_lock<std::mutex> g(self->lock);
        self->inside = true;
        self->changed.notify_all();
        self->changed.wait(g, [self] { return self->release; });
    }
    void Release() {
        std::lock_guard<std::mutex> g(lock);
        release = true;
        changed.notify_all();
    }
};

TEST(PortComm, DescriptorStaysOpenWhileAReceiveThreadLeftRunningStillPollsIt) {
    SerialRig rig;
    rig.Entry();
    HeldDelivery held;
    rig.port.SetReceiveCallback(&HeldDelivery::Deliver, &held);
    rig.port.Init();
    ASSERT_EQ(rig.port.Connect(), 0);
    BuiltInComPort().threadStopTimeoutMs = 100;
    const int portFd = BuiltInComPort().fd;
    const uint8_t sta[] = {'s', 't', 'a', '\r'};
    ASSERT_EQ(rig.port.SendData(sta, sizeof sta), 0); // the simulator's answer is delivered
    {
        std::unique_lock<std::mutex> g(held.lock);
        ASSERT_TRUE(held.changed.wait_for(g, Scaled(std::chrono::seconds(5)),
                                          [&] { return held.inside; }));
    }
    rig.port.Disconnect();
    EXPECT_TRUE(BuiltInComPort().ReceiveThreadRunning());
    EXPECT_NE(::fcntl(portFd, F_GETFD), -1) << "closed under the receive thread that polls it";
    EXPECT_NE(rig.port.Connect(), 0) << "no second reader while the first one runs";
    rig.port.Disconnect();
    held.Release();
    EXPECT_TRUE(WaitUntil([&] { return !BuiltInComPort().ReceiveThreadRunning(); }));
    rig.port.Disconnect();
    ::close(portFd);
    BuiltInComPort().threadStopTimeoutMs = clCamPort::kThreadStopTimeoutMs;
}

} // namespace
