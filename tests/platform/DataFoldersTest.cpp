#include "platform/DataFolders.h"

#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

// An environment of the test's own instead of the process's.
EnvLookup FakeEnv(std::map<std::string, std::string> vars) {
    return [vars = std::move(vars)](const char* name) -> const char* {
        auto it = vars.find(name);
        return it == vars.end() ? nullptr : it->second.c_str();
    };
}

struct ChoiceCase {
    const char* name;
    bool installed;
    bool writable;
    std::map<std::string, std::string> env;
    DataFolders expected;
};

class ChooseDataFoldersTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChooseDataFoldersTest, PicksTheFoldersOfTheCase) {
    const ChoiceCase& c = GetParam();
    std::string asked;
    const DataFolders got = ChooseDataFolders(
        "/opt/quillon/", FakeEnv(c.env),
        [&](const std::string& folder) {
            asked = folder;
            return c.writable;
        },
        [&](const std::string& folder) {
            EXPECT_EQ(folder, "/opt/quillon/");
            return c.installed;
        });
    if (!c.installed) {
        EXPECT_EQ(asked, "/opt/quillon/");
    }
    EXPECT_EQ(got.portable, c.expected.portable);
    EXPECT_EQ(got.settingsFolder, c.expected.settingsFolder);
    EXPECT_EQ(got.stateFolder, c.expected.stateFolder);
    EXPECT_EQ(got.userDefinitionFolder, c.expected.userDefinitionFolder);
}

const std::map<std::string, std::string> kAllXdg = {{"HOME", "/home/u"},
                                                    {"XDG_CONFIG_HOME", "/cfg"},
                                                    {"XDG_STATE_HOME", "/st/"},
                                                    {"XDG_DATA_HOME", "/data"}};

INSTANTIATE_TEST_SUITE_P(
    Cases, ChooseDataFoldersTest,
    ::testing::Values(
        ChoiceCase{"WritableIsPortableWhateverXdgSays",
                   false,
                   true,
                   kAllXdg,
                   {true, "/opt/quillon/", "/opt/quillon/", ""}},
        // Root may write it, and so may the user
        // of an installation in the home folder.
        ChoiceCase{"InstalledIsNeverWrittenEvenWritable",
                   true,
                   true,
                   kAllXdg,
                   {false, "/cfg/Quillon/", "/st/Quillon/", "/data/Quillon/CamDefine/"}},
        ChoiceCase{"ReadOnlyWithXdgSet",
                   false,
                   false,
                   kAllXdg,
                   {false, "/cfg/Quillon/", "/st/Quillon/", "/data/Quillon/CamDefine/"}},
        ChoiceCase{"ReadOnlyWithXdgUnsetFallsBackToHome",
                   false,
                   false,
                   {{"HOME", "/home/u"}},
                   {false, "/home/u/.config/Quillon/", "/home/u/.local/state/Quillon/",
                    "/home/u/.local/share/Quillon/CamDefine/"}},
        ChoiceCase{"EmptyAndRelativeXdgValuesAreIgnored",
                   false,
                   false,
                   {{"HOME", "/home/u/"},
                    {"XDG_CONFIG_HOME", ""},
                    {"XDG_STATE_HOME", "state"},
                    {"XDG_DATA_HOME", "./data"}},
                   {false, "/home/u/.config/Quillon/", "/home/u/.local/state/Quillon/",
                    "/home/u/.local/share/Quillon/CamDefine/"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InstalledFolder, TheInstallStepsMarkerDecides) {
    TempDir dir;
    const std::string program = dir.str() + "/";
    EXPECT_FALSE(InstalledFolder(program)); // a build folder, or a copy of one
    WriteFileBytes(program + kInstalledMarker, "");
    EXPECT_TRUE(InstalledFolder(program));
    EXPECT_TRUE(InstalledFolder(dir.str())); // without the trailing "/"
}

TEST(XdgBaseFolder, WithoutHomeUsesThePasswordDatabase) {
    const std::string folder = XdgBaseFolder("XDG_CONFIG_HOME", ".config", FakeEnv({}));
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.front(), '/');
    EXPECT_TRUE(folder.ends_with("/.config/")) << folder;
}

// Runs check in a child process; as root the child first becomes the unprivileged user nobody,
// since root passes every permission check on a writable file system.
bool AsUnprivilegedUser(const std::function<bool()>& check) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
             ::setresuid(65534, 65534, 65534) != 0))
            ::_exit(3);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 3) << "could not drop privileges";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(FolderWritable, FollowsTheFolderModeForAnOrdinaryUser) {
    TempDir dir;
    const std::string open = dir.file("open"), closed = dir.file("closed");
    fs::create_directory(open);
    fs::create_directory(closed);
    ::chmod(dir.str().c_str(), 0755);
    ::chmod(open.c_str(), 0777);
    ::chmod(closed.c_str(), 0555);
    EXPECT_TRUE(AsUnprivilegedUser([&] { return FolderWritable(open + "/"); }));
    EXPECT_FALSE(AsUnprivilegedUser([&] { return FolderWritable(closed + "/"); }));
    EXPECT_FALSE(AsUnprivilegedUser([&] { return FolderWritable(dir.file("missing")); }));
    EXPECT_FALSE(FolderWritable(""));
    ::chmod(closed.c_str(), 0755);
}

TEST(LogFolderFor, ModuleFolderWhileWritableElseTheUsersStateFolder) {
    TempDir dir;
    const std::string module = dir.file("module/"), state = dir.file("state");
    fs::create_directory(module);
    fs::create_directory(state);
    ::chmod(dir.str().c_str(), 0755);
    ::chmod(module.c_str(), 0555);
    ::chmod(state.c_str(), 0777);
    EXPECT_TRUE(AsUnprivilegedUser([&] {
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
        const std::string folder = LogFolderFor(module);
        return folder == state + "/Quillon/" && fs::is_directory(folder);
    }));
    ::chmod(module.c_str(), 0755);
    EXPECT_EQ(LogFolderFor(module), module);
}

TEST(MakeFolders, CreatesMissingParentsPrivateAndAcceptsExisting) {
    TempDir dir;
    const std::string deep = dir.file("a/b/Quillon/");
    ASSERT_TRUE(MakeFolders(deep));
    EXPECT_TRUE(fs::is_directory(deep));
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(MakeFolders(deep));
    EXPECT_TRUE(MakeFolders(dir.file("a/b/Quillon"))); // without the trailing "/"

    WriteFileBytes(dir.file("file"), "x");
    EXPECT_FALSE(MakeFolders(dir.file("file/sub/")));
    EXPECT_FALSE(MakeFolders(""));
}

} // namespace
