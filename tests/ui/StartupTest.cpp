// Start-up of the real Quillon program in a copy of the program folder, on the offscreen Qt
// platform, ended by its QUILLON_QUIT_AFTER_MS hook.
#include "platform/InstanceLock.h"
#include "support/Deadline.h"
#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

extern char** environ;

namespace {

const std::string kDefaultSettings =
    "[App]\nConsole Rows=2000\nReceive Buffer Bytes=\nLastConfig=\n"
    "[WindowPlace]\nLeft=\nTop=\nRight=\nBottom=\nState=\nSplit=\n"
    "[Internationalize]\nForce English=0\n"
    "[Path]\nCameraLink DLL=\nText Load=\nText Save=\n"
    "[CAMERA_COMM_Ch00]\nSelectInterface=No settings\n"
    "COM Port Name=No settings\nCameraLink DLL=\n"
    "CameraLink Serial Index=0\n"
    "[TARN_Timeouts]\nFirst Recv=20000\nNext Recv=20000\nSend=20000\nCommand Gap=50\n";

// A relocated program folder: the executable and every shared library beside it.
void CopyProgramFolder(const fs::path& to) {
    const fs::path from = QUILLON_BIN_DIR;
    fs::copy_file(from / "Quillon", to / "Quillon");
    for (const auto& entry : fs::directory_iterator(from))
        if (entry.is_regular_file() &&
            entry.path().filename().string().find(".so") != std::string::npos)
            fs::copy_file(entry.path(), to / entry.path().filename());
}

// Runs the program with extra environment entries; returns its exit status (-1 when it had to
// be killed after the time limit, -2 when it ended by a signal).
int RunProgram(const fs::path& folder, const std::vector<std::string>& extraEnv,
               std::vector<std::string> args = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const std::string& extra : extraEnv)
            replaced = replaced ||
                       entry.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0;
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    env.push_back("QT_QPA_PLATFORM=offscreen");
    const std::string program = (folder / "Quillon").string();
    args.insert(args.begin(), program);
    std::vector<char*> argv, envp;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        // Started from another folder: the program must find its own.
        (void)!chdir("/");
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    if (!WaitUntil([&] { return waitpid(pid, &status, WNOHANG) != 0; }, std::chrono::seconds(60))) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

} // namespace

TEST(Startup, FirstStartCreatesDefaultSettingsAndLogAndEndsCleanly) {
    TempDir folder, locks;
    CopyProgramFolder(folder.path());
    const std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + locks.str(),
                                          "QUILLON_QUIT_AFTER_MS=300"};
    ASSERT_EQ(RunProgram(folder.path(), env), 0);
    // The defaults, with the window's placement saved when it closed.
    std::string settings = ReadFileBytes(folder.file("Quillon_00.ini"));
    for (const char* key : {"Left=", "Top=", "Right=", "Bottom=", "State=", "Split="}) {
        const size_t at = settings.find(std::string("\n") + key);
        ASSERT_NE(at, std::string::npos) << key;
        const size_t value = at + 1 + std::strlen(key);
        const size_t end = settings.find('\n', value);
        EXPECT_GT(end, value) << "placement saved: " << key;
        settings.erase(value, end - value);
    }
    EXPECT_EQ(settings, kDefaultSettings);
    EXPECT_EQ(ReadFileBytes(folder.file("Quillon_00_Log.txt")).substr(0, 2), "\xFF\xFE");
    EXPECT_TRUE(fs::exists(locks.file("Quillon_00.lock")));

    // The instance number is free again after the program ended; -i3 asks for 3.
    ASSERT_EQ(RunProgram(folder.path(), env, {"-i3"}), 0);
    EXPECT_TRUE(fs::exists(folder.file("Quillon_03.ini")));
    EXPECT_FALSE(fs::exists(folder.file("Quillon_01.ini")));
}

// A quit time that has passed before the message loop starts (a slow start) still ends the
// program: the hook may fire in an event pass of the start-up itself.
TEST(Startup, QuitHookThatFiresDuringStartUpStillEndsTheProgram) {
    TempDir folder, locks;
    CopyProgramFolder(folder.path());
    EXPECT_EQ(
        RunProgram(folder.path(), {"XDG_RUNTIME_DIR=" + locks.str(), "QUILLON_QUIT_AFTER_MS=1"}), 0)
        << "-1: did not end by itself";
    EXPECT_TRUE(fs::exists(folder.file("Quillon_00.ini")));
}

TEST(Startup, WithFiftyInstancesRunningTheProgramFails) {
    TempDir folder, locks;
    CopyProgramFolder(folder.path());
    std::vector<std::unique_ptr<platform::InstanceLock>> held;
    for (int n = 0; n <= 49; ++n) {
        held.push_back(std::make_unique<platform::InstanceLock>());
        char name[32];
        std::snprintf(name, sizeof name, "Quillon_%02d.lock", n);
        ASSERT_TRUE(held.back()->Acquire(name, locks.str()));
    }
    // The hook also closes the "Can not start application" box.
    const int status =
        RunProgram(folder.path(), {"XDG_RUNTIME_DIR=" + locks.str(), "QUILLON_QUIT_AFTER_MS=300"});
    EXPECT_EQ(status, 1) << "-1: did not end by itself; 127: could not be started";
    EXPECT_FALSE(fs::exists(folder.file("Quillon_00.ini")));
    EXPECT_FALSE(fs::exists(folder.file("Quillon_00_Log.txt")));
}
