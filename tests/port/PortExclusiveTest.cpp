// The built-in serial port where exclusivity and counts matter: a second connection to a device
// already connected elsewhere, and the port log of exactly one receive error.
//
// Exclusive use only holds for an unprivileged user (root opens a terminal in exclusive mode
// all the same), so the two connections run as child processes of this test program started
// as the user "nobody" through setpriv. Each child is this program again, running only the
// test PortExclusiveChild.Role with its role in the environment.
//
// Lowering DTR at Disconnect is not tested here: a pseudo-terminal has no modem lines (raising
// DTR already fails on it, see PortComm.DtrOnPseudoTerminalFailsWithFourteenAfterTheThreadStarted);
// PortAccess.DtrFollowsDtrControl records the port's modem-line calls instead.
#include "SerialRig.h"

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

const char kRoleVariable[] = "QUILLON_PORT_CHILD_ROLE";
const char kFolderVariable[] = "QUILLON_PORT_CHILD_FOLDER";

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool WaitForFile(const std::string& path, int seconds = 30) {
    return WaitUntil([&] { return fs::exists(path); }, std::chrono::seconds(seconds));
}

void WriteText(const std::string& path, const std::string& text) {
    const std::string temp = path + ".part";
    std::ofstream(temp) << text;
    fs::rename(temp, path);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

speed_t LineSpeed(int fd) {
    termios t{};
    return ::tcgetattr(fd, &t) == 0 ? cfgetospeed(&t) : B0;
}

// One child's connection: the built-in interface of its settings file, connected the way the
// host does it.
struct ChildPort {
    std::u16string settings;
    PortParamBlock params{};
    clSimpleLog log;
    clPortPlugIn port{&HostPortCtrl()};

    ChildPort(const std::string& folder, const std::string& settingsFile)
        : settings(platform::Utf8ToUtf16(folder + "/" + settingsFile)),
          log(folder + "/" + settingsFile + ".log") {
        params.settingsFilePath = settings.c_str();
        params.channelSectionName = u"CAMERA_COMM_Ch00";
        params.sendTimeout = 2000;
        HostPortCtrl().log = &log;
        HostPortCtrl().settingsPath = settings;
        port.opTable = GetBuiltInComInterface(&params)->GetSelectedPortIF();
    }
    ~ChildPort() {
        port.Disconnect();
        port.Uninit();
        HostPortCtrl().log = nullptr;
    }
    int32_t Connect() {
        port.Init();
        return port.Connect();
    }
};

} // namespace

// The child's side. Skipped in the normal run.
TEST(PortExclusiveChild, Role) {
    const std::string role = Environment(kRoleVariable);
    const std::string folder = Environment(kFolderVariable);
    if (role.empty() || folder.empty())
        GTEST_SKIP() << "runs only as a child of PortExclusive";
    if (role == "holder") {
        // Connects at 19200 bps, says so, and holds the device until told to let go; then
        // reports the line speed it finds and disconnects.
        ChildPort child(folder, "holder.ini");
        const int32_t code = child.Connect();
        WriteText(folder + "/holder.connected", std::to_string(code));
        ASSERT_EQ(code, 0);
        ASSERT_TRUE(WaitForFile(folder + "/holder.release", 60));
        WriteText(folder + "/holder.speed", std::to_string(LineSpeed(BuiltInComPort().fd)));
    } else if (role == "contender") {
        // Tries the same device at 9600 bps; reports its code and whether a descriptor stayed
        // behind (the port object's own events exist before).
        (void)BuiltInComPort();
        const int before = OpenDescriptors();
        int32_t code = -1;
        {
            ChildPort child(folder, "contender.ini");
            code = child.Connect();
            child.port.Disconnect();
            child.port.Uninit();
        }
        WriteText(folder + "/contender.result",
                  std::to_string(code) + " " + std::to_string(OpenDescriptors() - before));
    } else {
        FAIL() << "unknown role " << role;
    }
}

namespace {

class PortExclusive : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to run its two connections as the unprivileged user "
                            "nobody (as that user itself it could start only one)";
        if (std::system("command -v setpriv >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "setpriv is not installed";
        const std::string self = fs::read_symlink("/proc/self/exe").string();
        if (std::system(
                ("setpriv --reuid=65534 --regid=65534 --clear-groups -- test -x '" + self + "'")
                    .c_str()) != 0)
            GTEST_SKIP() << "the user nobody cannot run " << self;
        EXPECT_EQ(sim.Load(SourceFile("CamDefine/XC-100.xml")), 0);
        ASSERT_TRUE(server.Open(link));
        ASSERT_TRUE(server.Start());
        // Everything the children touch is theirs to read and write.
        const std::string device = fs::read_symlink(link).string();
        ASSERT_EQ(::chmod(device.c_str(), 0666), 0);
        ASSERT_EQ(::chmod(dir.str().c_str(), 0777), 0);
        for (const char* file : {"holder.ini", "contender.ini"}) {
            const std::u16string ini = platform::Utf8ToUtf16(dir.file(file));
            VorlixSaveAddedDevices(ini, {platform::Utf8ToUtf16(link)});
            const std::u16string name = VorlixPortNameOfPath(platform::Utf8ToUtf16(link));
            platform::WriteSetting(u"CAMERA_COMM_Ch00", u"COM Port Name", name, ini);
            ComPortParams params;
            params.baudRate = std::string(file) == "holder.ini" ? 19200 : 9600;
            ASSERT_TRUE(VorlixSaveCOMportParaW(ini.c_str(), name.c_str(), &params));
            ASSERT_EQ(::chmod(dir.file(file).c_str(), 0666), 0);
        }
    }
    void TearDown() override {
        for (pid_t pid : children)
            if (pid > 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        server.Stop();
    }

    // Starts this program as the user nobody in the given role.
    pid_t Start(const std::string& role) {
        const std::string self = fs::read_symlink("/proc/self/exe").string();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv(kRoleVariable, role.c_str(), 1);
            ::setenv(kFolderVariable, dir.str().c_str(), 1);
            const std::string log = dir.file(role + ".out");
            ::freopen(log.c_str(), "w", stdout);
            ::execl("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534",
                    "--clear-groups", "--", self.c_str(), "--gtest_filter=PortExclusiveChild.Role",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        children.push_back(pid);
        return pid;
    }
    // Waits for a child's end; its exit status, -1 when it did not end in time.
    int Finish(pid_t pid, int seconds = 60) {
        int status = 0;
        if (!WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) != 0; },
                       std::chrono::seconds(seconds)))
            return -1;
        for (pid_t& p : children)
            if (p == pid)
                p = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Output(const std::string& role) { return ReadFileBytes(dir.file(role + ".out")); }

    TempDir dir;
    clCameraSim sim;
    clPtyServer server{sim};
    std::string link = dir.file("camsim");
    std::vector<pid_t> children;
};

TEST_F(PortExclusive, SecondConnectionIsRefusedWithEightAndLeavesTheFirstAlone) {
    const pid_t holder = Start("holder");
    ASSERT_TRUE(WaitForFile(dir.file("holder.connected"))) << Output("holder");
    ASSERT_EQ(ReadText(dir.file("holder.connected")), "0") << Output("holder");

    const pid_t contender = Start("contender");
    ASSERT_EQ(Finish(contender), 0) << Output("contender");
    // Refused at the open, with no descriptor left behind.
    EXPECT_EQ(ReadText(dir.file("contender.result")), "8 0") << Output("contender");
    EXPECT_NE(ReadFileBytes(dir.file("contender.ini.log")).size(), 0u);

    // The holder's line keeps its own speed: the refused connection set nothing up.
    WriteText(dir.file("holder.release"), "");
    ASSERT_EQ(Finish(holder), 0) << Output("holder");
    EXPECT_EQ(ReadText(dir.file("holder.speed")), std::to_string(B19200));

    // Once the holder has disconnected the device is free again.
    fs::remove(dir.file("contender.result"));
    const pid_t again = Start("contender");
    ASSERT_EQ(Finish(again), 0) << Output("contender");
    EXPECT_EQ(ReadText(dir.file("contender.result")), "0 0");
}

// The same port connected twice in one process: refused at once, with the first descriptor
// and its line set-up untouched.
TEST(PortSecondConnect, InTheSameProcessTouchesNothing) {
    SerialRig rig;
    rig.Entry();
    ASSERT_EQ(rig.ConnectHost(), 0);
    const int fd = BuiltInComPort().fd;
    const speed_t speed = LineSpeed(fd);
    const int descriptors = OpenDescriptors();
    // Parameters changed since the first Connect would show if the line were set up again.
    ComPortParams other;
    other.baudRate = speed == B19200 ? 38400 : 19200;
    BuiltInComPort().params = other;
    EXPECT_EQ(rig.port.Connect(), PORT_ERROR);
    EXPECT_EQ(BuiltInComPort().fd, fd);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_EQ(LineSpeed(fd), speed);
    EXPECT_EQ(rig.port.IsConnected(), 1);
}

// Exactly one counted receive error is written as one.
TEST(PortLog, OneReceiveErrorIsWrittenAsOne) {
    SerialRig rig;
    rig.Entry();
    const std::string portLog = rig.PortLogInRigFolder();
    ASSERT_FALSE(portLog.empty());
    ASSERT_EQ(rig.ConnectHost(), 0);
    BuiltInComPort().commErr.count = 1;
    rig.port.Disconnect();
    EXPECT_EQ(LogLines(portLog), (std::vector<std::string>{"OverRun cnt=1"}));
}

} // namespace
