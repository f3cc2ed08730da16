#include "app/Application.h"

#include "base/MessageTable.h"
#include "base/Messages.h"
#include "platform/DataFolders.h"
#include "platform/IniProfile.h"
#include "platform/InstanceLock.h"
#include "platform/Text.h"
#include "support/AppEnvironment.h"
#include "support/FakeWorkingSet.h"
#include "support/LogText.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t MiB = FakeWorkingSet::MiB;

class ApplicationTest : public ::testing::Test {
protected:
    std::unique_ptr<clApplication> MakeApp(const char* instanceSwitch = nullptr) {
        auto app = std::make_unique<clApplication>();
        app->SetEnvironment(TestEnvironment(programFolder.str(), lockFolder.str(), &workingSet));
        if (instanceSwitch) {
            const char* argv[] = {"Quillon", instanceSwitch};
            app->ReadInstanceSwitch(2, argv);
        }
        return app;
    }

    TempDir programFolder;
    TempDir lockFolder;
    FakeWorkingSet workingSet;
};

const std::string kDefaultSettings = "[App]\n"
                                     "Console Rows=2000\n"
                                     "Receive Buffer Bytes=\n"
                                     "LastConfig=\n"
                                     "[WindowPlace]\n"
                                     "Left=\n"
                                     "Top=\n"
                                     "Right=\n"
                                     "Bottom=\n"
                                     "State=\n"
                                     "Split=\n"
                                     "[Internationalize]\n"
                                     "Force English=0\n"
                                     "[Path]\n"
                                     "CameraLink DLL=\n"
                                     "Text Load=\n"
                                     "Text Save=\n"
                                     "[CAMERA_COMM_Ch00]\n"
                                     "SelectInterface=No settings\n"
                                     "COM Port Name=No settings\n"
                                     "CameraLink DLL=\n"
                                     "CameraLink Serial Index=0\n"
                                     "[TARN_Timeouts]\n"
                                     "First Recv=20000\n"
                                     "Next Recv=20000\n"
                                     "Send=20000\n"
                                     "Command Gap=50\n";

} // namespace

// A shut-down without a start writes nothing and restores no limits it never changed.
TEST_F(ApplicationTest, ShutDownWithoutStartUpTouchesNothing) {
    auto app = MakeApp();
    app->ShutDown();
    app->ShutDown();
    EXPECT_TRUE(workingSet.sets.empty());
    EXPECT_TRUE(fs::is_empty(programFolder.path()));
    EXPECT_TRUE(fs::is_empty(lockFolder.path()));
}

TEST_F(ApplicationTest, FirstStartCreatesDefaultSettingsAndLogAndReadsDefaultsBack) {
    auto app = MakeApp();
    ASSERT_EQ(app->StartUp(), 0);
    EXPECT_EQ(app->InstanceNumber(), 0);
    const std::string folder = programFolder.str() + "/";
    EXPECT_EQ(app->ProgramFolder(), platform::Utf8ToUtf16(folder));
    EXPECT_EQ(app->SettingsFilePath(), platform::Utf8ToUtf16(folder + "Quillon_00.ini"));
    EXPECT_EQ(ReadFileBytes(folder + "Quillon_00.ini"), kDefaultSettings);
    EXPECT_EQ(ReadFileBytes(folder + "Quillon_00_Log.txt"), "\xFF\xFE");
    EXPECT_EQ(app->ReceiveBufferBytes(), 20971520u);
    EXPECT_EQ(app->ConsoleRows(), 2000);
    EXPECT_EQ(app->TimeoutFirstRecv(), 20000u);
    EXPECT_EQ(app->TimeoutNextRecv(), 20000u);
    EXPECT_EQ(app->TimeoutSend(), 20000u);
    EXPECT_EQ(app->SelectedInterfaceName(), u"No settings");
    EXPECT_EQ(app->SelectedInterfaceIndex(), -1);
    EXPECT_EQ(app->CommandGap(), 50u);
    EXPECT_TRUE(app->ReconnectEnabled()) << "the key is not written; its default is 1";
    EXPECT_EQ(app->PortNameText(), u"No settings");
    EXPECT_EQ(app->LineSpeedText(), u"No settings");
    EXPECT_EQ(app->PortDescriptionText(), u"");
    EXPECT_EQ(app->CamDefineFolder(), platform::Utf8ToUtf16(folder + "CamDefine/"));
    EXPECT_TRUE(app->UserCamDefineFolder().empty()) << "a writable folder is portable";
    ASSERT_TRUE(app->StopEvent() && app->JobEvent());
    EXPECT_TRUE(app->StopEvent()->IsManual());
    EXPECT_FALSE(app->JobEvent()->IsManual());
    EXPECT_FALSE(app->StopEvent()->IsSignalled());
    EXPECT_TRUE(workingSet.sets.empty()) << "maximum above the wanted size stays";

    app->ShutDown();
    EXPECT_FALSE(app->StopEvent());
    EXPECT_FALSE(app->AppLog());
    platform::InstanceLock again;
    EXPECT_TRUE(again.Acquire("Quillon_00.lock", lockFolder.str())) << "number freed by shutdown";
    app->ShutDown(); // second shutdown does nothing
}

TEST_F(ApplicationTest, ExistingSettingsAreReadButNeverWrittenBack) {
    const std::string ini = "[tarn_timeouts]\r\nFirst Recv=50\r\nNext Recv=\r\nSend=4294967295\r\n"
                            "[App]\r\nReceive Buffer Bytes=1024\r\n"
                            "[CAMERA_COMM_Ch00]\r\nSelectInterface=  Built-in COM  \r\n";
    WriteFileBytes(programFolder.file("Quillon_00.ini"), ini);
    auto app = MakeApp();
    ASSERT_EQ(app->StartUp(), 0);
    EXPECT_EQ(app->TimeoutFirstRecv(), 100u);
    EXPECT_EQ(app->TimeoutNextRecv(), 20000u);
    EXPECT_EQ(app->TimeoutSend(), 4294967294u);
    EXPECT_EQ(app->ReceiveBufferBytes(), 1024u);
    EXPECT_EQ(app->ConsoleRows(), 2000);
    EXPECT_EQ(app->SelectedInterfaceName(), u"Built-in COM");
    EXPECT_EQ(app->SelectedInterfaceIndex(), -1) << "no interface of that name is registered";
    EXPECT_EQ(ReadFileBytes(programFolder.file("Quillon_00.ini")), ini);
}

TEST_F(ApplicationTest, StartUpMakesTheProgramFolderCurrent) {
    const fs::path before = fs::current_path();
    auto app = MakeApp();
    clApplication::Environment env;
    env.programFolder = programFolder.str();
    env.lockFolder = lockFolder.str();
    env.workingSet = &workingSet;
    app->SetEnvironment(env);
    const int32_t result = app->StartUp();
    const fs::path during = fs::current_path();
    fs::current_path(before);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(during, fs::canonical(programFolder.path()));
}

// Settings and logs go to the user's XDG folders when the program folder is installed (the
// install step's marker is in it: never written, even by root, for whom every folder is
// writable) or when the user cannot write it (injected: the suite runs as root;
// platform::FolderWritable itself is tested with an unprivileged child in the platform tests).
class ProgramFolderNotWritten : public ApplicationTest,
                                public ::testing::WithParamInterface<bool> {};

TEST_P(ProgramFolderNotWritten, SettingsAndLogsGoToTheUsersXdgFolders) {
    const bool installed = GetParam();
    if (installed)
        WriteFileBytes(programFolder.file(platform::kInstalledMarker), "");
    TempDir home;
    const std::string config = home.file("cfg"), state = home.file("state"),
                      data = home.file("data");
    const fs::path before = fs::current_path();
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    auto app = MakeApp("-i3");
    clApplication::Environment env;
    env.programFolder = programFolder.str();
    env.lockFolder = lockFolder.str();
    env.workingSet = &workingSet;
    std::string asked;
    if (!installed)
        env.folderWritable = [&](const std::string& folder) {
            asked = folder;
            return false;
        };
    app->SetEnvironment(env);
    const int32_t result = app->StartUp();
    const fs::path during = fs::current_path();
    fs::current_path(before);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_STATE_HOME");
    unsetenv("XDG_DATA_HOME");
    ASSERT_EQ(result, 0);

    if (!installed) {
        EXPECT_EQ(asked, programFolder.str() + "/");
    }
    EXPECT_EQ(app->SettingsFilePath(), platform::Utf8ToUtf16(config + "/Quillon/Quillon_03.ini"));
    EXPECT_EQ(app->LogFilePath(), platform::Utf8ToUtf16(state + "/Quillon/Quillon_03_Log.txt"));
    EXPECT_EQ(ReadFileBytes(config + "/Quillon/Quillon_03.ini"), kDefaultSettings);
    EXPECT_EQ(ReadFileBytes(state + "/Quillon/Quillon_03_Log.txt"), "\xFF\xFE");
    EXPECT_EQ(during, fs::canonical(state + "/Quillon")) << "port logs go beside the log";
    EXPECT_TRUE(fs::is_directory(data + "/Quillon/CamDefine"));
    EXPECT_EQ(app->UserCamDefineFolder(), platform::Utf8ToUtf16(data + "/Quillon/CamDefine/"));
    EXPECT_EQ(app->ProgramFolder(), platform::Utf8ToUtf16(programFolder.str() + "/"));
    EXPECT_EQ(app->CamDefineFolder(), platform::Utf8ToUtf16(programFolder.str() + "/CamDefine/"));
    EXPECT_EQ(std::u16string(app->PortParams().settingsFilePath), app->SettingsFilePath());
    EXPECT_EQ(std::distance(fs::directory_iterator(programFolder.path()), fs::directory_iterator()),
              installed ? 1 : 0)
        << "nothing written to the program folder";
    app->ShutDown();
}

INSTANTIATE_TEST_SUITE_P(Folders, ProgramFolderNotWritten, ::testing::Values(false, true),
                         [](const auto& info) {
                             return std::string(info.param ? "InstalledAndWritable" : "ReadOnly");
                         });

TEST_F(ApplicationTest, InstanceNumbersFollowTheRequestAndTheLocksHeld) {
    auto first = MakeApp("-i7");
    auto second = MakeApp("-i7");
    ASSERT_EQ(first->StartUp(), 0);
    ASSERT_EQ(second->StartUp(), 0);
    EXPECT_EQ(first->InstanceNumber(), 7);
    EXPECT_EQ(second->InstanceNumber(), 8);
    EXPECT_TRUE(fs::exists(programFolder.file("Quillon_07.ini")));
    EXPECT_TRUE(fs::exists(programFolder.file("Quillon_08_Log.txt")));

    auto plain = MakeApp();
    ASSERT_EQ(plain->StartUp(), 0);
    EXPECT_EQ(plain->InstanceNumber(), 0);
    auto next = MakeApp();
    ASSERT_EQ(next->StartUp(), 0);
    EXPECT_EQ(next->InstanceNumber(), 1);

    auto sixty = MakeApp("-i60");
    ASSERT_EQ(sixty->StartUp(), 0);
    EXPECT_EQ(sixty->InstanceNumber(), 60);
    EXPECT_TRUE(fs::exists(programFolder.file("Quillon_60.ini")));
    auto sixtyAgain = MakeApp("-i60");
    EXPECT_EQ(sixtyAgain->StartUp(), 1) << "a number above 49 is tried alone";
    EXPECT_FALSE(fs::exists(programFolder.file("Quillon_61.ini")));
}

TEST_F(ApplicationTest, FiftyInstancesRunningMakeTheNextStartFailWithoutFiles) {
    std::vector<std::unique_ptr<platform::InstanceLock>> held;
    for (int n = 0; n <= 49; ++n) {
        held.push_back(std::make_unique<platform::InstanceLock>());
        char name[32];
        std::snprintf(name, sizeof name, "Quillon_%02d.lock", n);
        ASSERT_TRUE(held.back()->Acquire(name, lockFolder.str()));
    }
    auto app = MakeApp();
    EXPECT_EQ(app->StartUp(), 1);
    app->ShutDown();
    EXPECT_TRUE(fs::is_empty(programFolder.path())) << "no settings file, no log";

    held[49].reset();
    auto last = MakeApp("-i40");
    ASSERT_EQ(last->StartUp(), 0);
    EXPECT_EQ(last->InstanceNumber(), 49);
}

TEST(InstanceSwitch, ParsesTheFirstPieceWithAutomaticBase) {
    struct Case {
        std::string text;
        int32_t expected;
    };
    const Case cases[] = {
        {"-i7", 7},
        {"/i0x1F", 31},
        {"-i010", 8},
        {"-i", 0},
        {"-ix", 0},
        {"-i12,3", 12},
        {"-i5 -i9", 5},
        {"-i3\rrest", 3},
        {"-I7", -1},
        {"i7", -1},
        {"--i7", -1},
        {"", -1},
        {"-i-4", -1},
        {"-i99999999999", -1},
        {"-i2147483647", 2147483647},
        {"-i" + std::string(497, '0') + "7", 7},
        {"-i" + std::string(498, '0') + "7", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(clApplication::ParseInstanceSwitch(c.text), c.expected) << c.text.substr(0, 20);
}

TEST(InstanceSwitch, IsTakenFromTheArgumentsAfterTheProgramName) {
    clApplication app;
    const char* none[] = {"Quillon"};
    app.ReadInstanceSwitch(1, none);
    EXPECT_EQ(app.RequestedInstanceNumber(), -1);
    const char* later[] = {"Quillon", "file.xml", "-i7"};
    app.ReadInstanceSwitch(3, later);
    EXPECT_EQ(app.RequestedInstanceNumber(), -1);
    const char* first[] = {"Quillon", "/i3", "more"};
    app.ReadInstanceSwitch(3, first);
    EXPECT_EQ(app.RequestedInstanceNumber(), 3);
}

TEST(TimeoutRule, RaisesSmallValuesAndKeepsTheNoLimitValueOut) {
    EXPECT_EQ(clApplication::ApplyTimeoutRule(0), 100u);
    EXPECT_EQ(clApplication::ApplyTimeoutRule(50), 100u);
    EXPECT_EQ(clApplication::ApplyTimeoutRule(99), 100u);
    EXPECT_EQ(clApplication::ApplyTimeoutRule(100), 100u);
    EXPECT_EQ(clApplication::ApplyTimeoutRule(101), 101u);
    EXPECT_EQ(clApplication::ApplyTimeoutRule(4294967294u), 4294967294u);
    EXPECT_EQ(clApplication::ApplyTimeoutRule(4294967295u), 4294967294u);
}

TEST_F(ApplicationTest, WorkingSetIsRaisedWhenTheMaximumIsTooSmallAndRestoredAtShutDown) {
    workingSet.minimum = 4 * MiB;
    workingSet.maximum = 100 * MiB;
    auto app = MakeApp();
    ASSERT_EQ(app->StartUp(), 0);
    ASSERT_EQ(workingSet.sets.size(), 1u);
    EXPECT_EQ(workingSet.sets[0], std::make_pair(260 * MiB, 260 * MiB));
    EXPECT_EQ(app->WorkingSetChanged(), 1);
    app->ShutDown();
    ASSERT_EQ(workingSet.sets.size(), 2u);
    EXPECT_EQ(workingSet.sets[1], std::make_pair(4 * MiB, 100 * MiB));
    EXPECT_EQ(app->WorkingSetChanged(), 0);
}

struct WorkingSetFailure {
    const char* name;
    void (*arrange)(FakeWorkingSet&);
    std::vector<std::string> logLines;
};

class WorkingSetFailureTest : public ApplicationTest,
                              public ::testing::WithParamInterface<WorkingSetFailure> {};

TEST_P(WorkingSetFailureTest, FailsStartUpWithItsLogLines) {
    GetParam().arrange(workingSet);
    auto app = MakeApp();
    EXPECT_EQ(app->StartUp(), 1);
    app->ShutDown();
    EXPECT_EQ(LogLines(programFolder.file("Quillon_00_Log.txt")), GetParam().logLines);
    platform::InstanceLock again;
    EXPECT_TRUE(again.Acquire("Quillon_00.lock", lockFolder.str()));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, WorkingSetFailureTest,
    ::testing::Values(
        WorkingSetFailure{"LimitsUnreadable",
                          [](FakeWorkingSet& ws) { ws.getOk = false; },
                          {"OS環境異常 GetProcessWorkingSetSize", "WorkingSetSize変更失敗"}},
        WorkingSetFailure{
            "NotEnoughAddressSpace",
            [](FakeWorkingSet& ws) {
                ws.available = 1000 * MiB;
                ws.minimum = 700 * MiB;
            },
            {"要求メモリサイズがOS環境を超えている  956.0MB", "WorkingSetSize変更失敗"}},
        // The factor is the single-precision 0.9: 10^10 bytes give a limit of 8999999761.
        WorkingSetFailure{
            "SinglePrecisionFactor",
            [](FakeWorkingSet& ws) {
                ws.available = 10000000000u;
                ws.minimum = 8999999761u - 268435456u;
                ws.maximum = UINT64_MAX;
            },
            {"要求メモリサイズがOS環境を超えている 8583.1MB", "WorkingSetSize変更失敗"}},
        WorkingSetFailure{"LimitsNotSettable",
                          [](FakeWorkingSet& ws) {
                              ws.maximum = 1 * MiB;
                              ws.setOk = false;
                          },
                          {"OS環境異常 SetProcessWorkingSetSize", "WorkingSetSize変更失敗"}},
        WorkingSetFailure{"MemoryStatusUnreadable",
                          [](FakeWorkingSet& ws) { ws.queryOk = false; },
                          {"OS環境異常 GlobalMemoryStatusEx", "WorkingSetSize変更失敗"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ApplicationTest, WantedJustBelowTheSinglePrecisionLimitStarts) {
    workingSet.available = 10000000000u;
    workingSet.minimum = 8999999760u - 268435456u;
    workingSet.maximum = UINT64_MAX;
    auto app = MakeApp();
    EXPECT_EQ(app->StartUp(), 0);
}

namespace {

struct RecordingTarget : IUiTarget {
    clApplication* app = nullptr;
    std::vector<std::tuple<uint32_t, uintptr_t, intptr_t>> sent;
    std::u16string textSeen;
    intptr_t SendUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        sent.emplace_back(msg, wParam, lParam);
        textSeen = app->MessageBoxText();
        app->SetMessageBoxResult(IDYES);
        return 0;
    }
    void PostUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        sent.emplace_back(msg, wParam, lParam);
    }
};

} // namespace

TEST(MessageBoxRequest, IsSentOnlyWhileAMainFrameIsRegistered) {
    clApplication app;
    app.SetMessageBoxResult(IDOK);
    EXPECT_EQ(app.RequestMessageBox(u"no window", u"", MB_OK), 0);
    EXPECT_EQ(app.MessageBoxText(), u"no window");
    EXPECT_EQ(app.MessageBoxResult(), 0) << "no stale answer from an earlier box";

    RecordingTarget target;
    target.app = &app;
    app.SetMainFrame(&target);
    EXPECT_EQ(app.RequestMessageBox(u"Question?", u"Caption", MB_YESNO | MB_ICONQUESTION), IDYES);
    ASSERT_EQ(target.sent.size(), 1u);
    EXPECT_EQ(target.sent[0], std::make_tuple(uint32_t(UM_MESSAGE_BOX), uintptr_t(0),
                                              intptr_t(MB_YESNO | MB_ICONQUESTION)));
    EXPECT_EQ(target.textSeen, u"Question?") << "the text is stored before the send";
    EXPECT_EQ(app.MessageBoxCaption(), u"Caption");
}

TEST_F(ApplicationTest, ForceEnglishInTheSettingsFileChoosesEnglish) {
    WriteFileBytes(programFolder.file("Quillon_00.ini"), "[Internationalize]\nForce English=1\n");
    auto app = MakeApp();
    ASSERT_EQ(app->StartUp(), 0);
    EXPECT_EQ(UiLanguageIndex(), 1);
    EXPECT_EQ(app->LanguageCode(), u"en");
}

TEST_F(ApplicationTest, JapaneseUserLanguageChoosesJapaneseUnlessForcedToEnglish) {
    const char* old = std::getenv("LANGUAGE");
    const std::string saved = old ? old : "";
    setenv("LANGUAGE", "ja_JP", 1);
    auto japanese = MakeApp();
    const int32_t first = japanese->StartUp();
    const int index = UiLanguageIndex();
    const std::u16string code = japanese->LanguageCode();
    japanese->ShutDown();
    platform::WriteSetting(u"Internationalize", u"Force English", u"7",
                           platform::Utf8ToUtf16(programFolder.file("Quillon_00.ini")));
    auto forced = MakeApp();
    const int32_t second = forced->StartUp();
    if (old)
        setenv("LANGUAGE", saved.c_str(), 1);
    else
        unsetenv("LANGUAGE");
    ASSERT_EQ(first, 0);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(code, u"ja");
    ASSERT_EQ(second, 0);
    EXPECT_EQ(UiLanguageIndex(), 1);
    EXPECT_EQ(forced->LanguageCode(), u"en");
}

TEST_F(ApplicationTest, TheInstanceSearchStopsAtTheTopOfItsRange) {
    platform::InstanceLock held;
    ASSERT_TRUE(held.Acquire("Quillon_2147483647.lock", lockFolder.str()));
    auto app = MakeApp("-i2147483647");
    EXPECT_EQ(app->StartUp(), 1) << "the largest number is tried alone, never wrapped";
    app->ShutDown();
}

TEST(PortTimeout, AboveTheSigned32BitRangeIsClampedNeverWrapped) {
    const std::pair<uint32_t, int32_t> cases[] = {
        {100u, 100},
        {2147483647u, 2147483647},
        {2147483648u, 2147483647},
        {4294967294u, 2147483647},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(clApplication::PortTimeout(in), out) << in;
}
