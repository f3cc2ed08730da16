#include "platform/EnvExpand.h"
#include "platform/InstanceLock.h"
#include "platform/Module.h"
#include "platform/ProgramFolder.h"
#include "platform/UiLanguage.h"
#include "platform/Wildcard.h"
#include "platform/WorkingSet.h"
#include "support/TempDir.h"

#include <cmath>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

// Sets or unsets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

} // namespace

TEST(ProgramFolder, IsTheFolderOfTheRunningExecutableWithTrailingSlash) {
    const std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(fs::path(folder), fs::path(QUILLON_TEST_BIN_DIR "/"));
    EXPECT_TRUE(fs::exists(ProgramFilePath()));
}

TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstReleases) {
    TempDir dir;
    InstanceLock a, b;
    ASSERT_TRUE(a.Acquire("Quillon_00.lock", dir.str()));
    EXPECT_FALSE(b.Acquire("Quillon_00.lock", dir.str()))
        << "flock conflicts inside one process too";
    EXPECT_FALSE(b.IsHeld());
    EXPECT_TRUE(b.Acquire("Quillon_01.lock", dir.str()));
    a.Release();
    a.Release(); // second release does nothing
    EXPECT_TRUE(b.Acquire("Quillon_00.lock", dir.str())) << "re-acquiring releases the old lock";
    EXPECT_TRUE(a.Acquire("Quillon_01.lock", dir.str()));
}

TEST(InstanceLock, LockOfAnotherProcessEndsWithThatProcess) {
    TempDir dir;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        InstanceLock held;
        char ok = held.Acquire("Quillon_05.lock", dir.str()) ? '1' : '0';
        (void)!write(ready[1], &ok, 1);
        pause(); // killed by the parent while holding the lock
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    InstanceLock mine;
    EXPECT_FALSE(mine.Acquire("Quillon_05.lock", dir.str()));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(mine.Acquire("Quillon_05.lock", dir.str()));
    close(ready[0]);
    close(ready[1]);
}

TEST(InstanceLock, DefaultFolderFollowsXdgRuntimeDir) {
    {
        ScopedEnv env("XDG_RUNTIME_DIR", "/run/user/4242");
        EXPECT_EQ(InstanceLock::DefaultFolder(), "/run/user/4242");
    }
    {
        ScopedEnv env("XDG_RUNTIME_DIR", "");
        EXPECT_EQ(InstanceLock::DefaultFolder(), "/tmp");
    }
    ScopedEnv env("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(InstanceLock::DefaultFolder(), "/tmp");
}

TEST(InstanceLock, RefusesPlantedLinksAndNamesWithFolders) {
    TempDir dir;
    fs::create_symlink(dir.file("elsewhere"), dir.file("Quillon_00.lock"));
    InstanceLock lock;
    EXPECT_FALSE(lock.Acquire("Quillon_00.lock", dir.str()));
    EXPECT_FALSE(fs::exists(dir.file("elsewhere")));
    EXPECT_FALSE(lock.Acquire("../Quillon_00.lock", dir.str()));
}

TEST(Wildcard, MatchesWithoutLetterCaseAndListsOnlyFiles) {
    EXPECT_TRUE(WildcardMatch("Pivra*.so", "PIVRA02CL_64bit.SO"));
    EXPECT_TRUE(WildcardMatch("OrvaCamSchema_v?_?.xsd", "orvacamschema_v1_0.XSD"));
    EXPECT_FALSE(WildcardMatch("Pivra*.so", "Pivra02CL_64bit.so.1"));
    EXPECT_FALSE(WildcardMatch("Pivra*.so", "xPivra.so"));

    TempDir dir;
    WriteFileBytes(dir.file("Pivra02CL_64bit.so"), "");
    WriteFileBytes(dir.file("pivraA.SO"), "");
    WriteFileBytes(dir.file("Other.so"), "");
    fs::create_directory(dir.file("PivraFolder.so"));
    fs::create_symlink(dir.file("Pivra02CL_64bit.so"), dir.file("PivraLink.so"));
    fs::create_symlink(dir.file("missing"), dir.file("PivraDangling.so"));
    EXPECT_EQ(ListMatchingFiles(dir.str(), "Pivra*.so"),
              (std::vector<std::string>{"Pivra02CL_64bit.so", "PivraLink.so", "pivraA.SO"}));
    EXPECT_TRUE(ListMatchingFiles(dir.file("absent"), "*").empty());
}

TEST(EnvExpand, ExpandsKnownNamesAndLeavesEverythingElseAsWritten) {
    std::map<std::u16string, std::u16string> vars{{u"HOME", u"/home/q"}, {u"A_1", u"x"}};
    EnvLookup lookup = [&](std::u16string_view name) -> std::optional<std::u16string> {
        auto it = vars.find(std::u16string(name));
        if (it == vars.end())
            return std::nullopt;
        return it->second;
    };
    EXPECT_EQ(ExpandEnvironment(u"%HOME%/a", lookup), u"/home/q/a");
    EXPECT_EQ(ExpandEnvironment(u"${HOME}/$A_1/$A_1b", lookup), u"/home/q/x/$A_1b");
    EXPECT_EQ(ExpandEnvironment(u"%NOPE%/${NOPE}/$NOPE", lookup), u"%NOPE%/${NOPE}/$NOPE");
    EXPECT_EQ(ExpandEnvironment(u"100% $ ${ ${HOME %% $1 %HOME", lookup),
              u"100% $ ${ ${HOME %% $1 %HOME");
    EXPECT_EQ(ExpandEnvironment(u"$(rm -rf /) `id` $((1+1))", lookup),
              u"$(rm -rf /) `id` $((1+1))");
    EXPECT_EQ(ExpandEnvironment(u"50%HOME%", lookup), u"50/home/q");

    ScopedEnv env("QUILLON_TEST_VAR", "value");
    EXPECT_EQ(ExpandEnvironment(u"[%QUILLON_TEST_VAR%|$QUILLON_TEST_VAR]"), u"[value|value]");
}

TEST(Module, LoadsByAbsolutePathOnlyAndUnloadsOnce) {
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&std::cos)), &info),
              0);
    const std::string libm = info.dli_fname;
    ASSERT_EQ(libm.front(), '/');

    Module relative;
    EXPECT_FALSE(relative.Load(fs::path(libm).filename().string()));
    EXPECT_FALSE(relative.IsLoaded());
    EXPECT_NE(relative.LastError().find("absolute"), std::string::npos);

    Module m;
    ASSERT_TRUE(m.Load(libm)) << m.LastError();
    auto cosine = reinterpret_cast<double (*)(double)>(m.Symbol("cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(m.Symbol("no_such_symbol_here"), nullptr);
    Module moved(std::move(m));
    EXPECT_FALSE(m.IsLoaded());
    EXPECT_TRUE(moved.IsLoaded());
    moved.Unload();
    moved.Unload();
    EXPECT_EQ(moved.Symbol("cos"), nullptr);

    TempDir dir;
    WriteFileBytes(dir.file("Pivra_garbage.so"), "not an ELF file");
    EXPECT_FALSE(m.Load(dir.file("Pivra_garbage.so")));
    EXPECT_FALSE(m.LastError().empty());
}

TEST(UiLanguage, FirstSetVariableDecides) {
    ScopedEnv language("LANGUAGE", nullptr), all("LC_ALL", nullptr),
        messages("LC_MESSAGES", nullptr), lang("LANG", nullptr);
    EXPECT_EQ(UserDefaultUiLanguage(), kLanguageEnglish);
    setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(UserDefaultUiLanguage(), kLanguageJapanese);
    setenv("LC_MESSAGES", "C", 1);
    EXPECT_EQ(UserDefaultUiLanguage(), kLanguageEnglish);
    setenv("LC_ALL", "", 1); // empty counts as not set
    EXPECT_EQ(UserDefaultUiLanguage(), kLanguageEnglish);
    setenv("LANGUAGE", "ja:en", 1);
    EXPECT_EQ(UserDefaultUiLanguage(), kLanguageJapanese);
}

TEST(WorkingSet, SystemLayerReportsPlausibleValues) {
    SystemWorkingSet ws;
    uint64_t avail = 0, minimum = 0, maximum = 0;
    ASSERT_TRUE(ws.QueryAvailableVirtual(avail));
    EXPECT_GT(avail, 0u);
    ASSERT_TRUE(ws.GetLimits(minimum, maximum));
    EXPECT_GT(minimum, 0u) << "the resident size of a running process";
    EXPECT_GE(maximum, minimum);
    // Setting the present limits again changes nothing and succeeds.
    EXPECT_TRUE(ws.SetLimits(maximum, maximum));
    EXPECT_FALSE(ws.SetLimits(2, 1));
}
