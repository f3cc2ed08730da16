// Interface discovery with real plug-in modules built by the tests, loaded with dlopen.
#include "app/Application.h"
#include "comm/CommunicateModel.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"
#include "port/InterfaceRegistry.h"
#include "port/PortComm.h"
#include "support/AppEnvironment.h"
#include "support/FakeWorkingSet.h"
#include "support/TempDir.h"

#include <climits>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Cwd() {
    char buf[PATH_MAX];
    return ::getcwd(buf, sizeof buf) ? buf : "";
}

std::vector<std::string> Labels(const clInterfaceRegistry& r) {
    std::vector<std::string> out;
    for (const auto& t : r.versionTexts)
        out.push_back(platform::Utf16ToUtf8(t));
    return out;
}

class DiscoveryTest : public ::testing::Test {
protected:
    DiscoveryTest() {
        for (const char* name : {"PivraTestA.so", "PivraTestB.so", "PivraTestNoExport.so",
                                 "PivraTestCheck0.so", "PivraTestNull.so", "NotAPlugin.so"})
            fs::copy_file(fs::path(QUILLON_TEST_PLUGIN_DIR) / name, folder.path() / name);
        fs::create_directory(folder.path() / "PivraSubfolder.so");
        settings = platform::Utf8ToUtf16(folder.file("Quillon_00.ini"));
        params.programFolder = programFolder.c_str();
        params.settingsFilePath = settings.c_str();
        params.channelSectionName = u"CAMERA_COMM_Ch00";
        params.sendTimeout = 20000;
    }

    TempDir folder;
    std::u16string programFolder = platform::Utf8ToUtf16(folder.str() + "/");
    std::u16string settings;
    PortParamBlock params{};
};

TEST_F(DiscoveryTest, BuiltInFirstThenUsablePluginsOnlyAndCurrentDirectoryKept) {
    const std::string before = Cwd();
    clInterfaceRegistry registry;
    registry.Discover(&params, folder.str(), QUILLON_TEST_PLUGIN_DIR "/PivraTestA.so",
                      &GetBuiltInComInterface);
    EXPECT_EQ(Cwd(), before);
    // The built-in interface carries the version of the given program file; of the plug-ins
    // only the two usable ones are listed, in name order, with their own versions.
    EXPECT_EQ(Labels(registry),
              (std::vector<std::string>{"COM port(Build In) Ver.1.0.1", "Test IF Ver.1.0.1",
                                        "Test IF Ver.0.0.0"}));
    ASSERT_EQ(registry.modules.size(), 3u);
    EXPECT_EQ(registry.modules[0], nullptr);
    ASSERT_TRUE(registry.modules[1] && registry.modules[2]);
    // Two interfaces of the same name: the first one is chosen.
    EXPECT_EQ(registry.FindInterfaceIndex(u"Test IF"), 1);
    EXPECT_EQ(registry.FindInterfaceIndex(u"test if"), -1);
    EXPECT_EQ(registry.FindInterfaceIndex(u"COM port(Build In)"), 0);

    // Rejected modules were unloaded; accepted ones stay loaded until UnloadModules.
    for (const char* name : {"PivraTestNoExport.so", "PivraTestCheck0.so", "PivraTestNull.so"}) {
        void* h = ::dlopen(folder.file(name).c_str(), RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(h, nullptr) << name;
        if (h)
            ::dlclose(h);
    }
    const std::string a = folder.file("PivraTestA.so");
    void* h = ::dlopen(a.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(h, nullptr);
    ::dlclose(h);
    registry.UnloadModules();
    EXPECT_EQ(registry.Count(), 0u);
    EXPECT_EQ(::dlopen(a.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST_F(DiscoveryTest, FolderWithoutPluginsHoldsOnlyTheBuiltInInterface) {
    TempDir empty;
    clInterfaceRegistry registry;
    registry.Discover(&params, empty.str(), "/nonexistent/program", &GetBuiltInComInterface);
    EXPECT_EQ(Labels(registry), (std::vector<std::string>{"COM port(Build In) Ver.0.0.0"}));
}

TEST_F(DiscoveryTest, MissingProgramFolderLooksForNoPluginAndKeepsTheDirectory) {
    const std::string before = Cwd();
    clInterfaceRegistry registry;
    registry.Discover(&params, folder.file("missing"), "", &GetBuiltInComInterface);
    EXPECT_EQ(registry.Count(), 1u);
    EXPECT_EQ(Cwd(), before);
}

// The whole start-up path of the application: discovery, the stored choice, the texts.
class AppDiscoveryTest : public DiscoveryTest {
protected:
    FakeWorkingSet workingSet;
    TempDir locks;

    void StartWith(clApplication& app, const char16_t* selectInterface) {
        clApplication::WriteDefaultSettings(settings);
        if (selectInterface)
            platform::WriteSetting(u"CAMERA_COMM_Ch00", u"SelectInterface", selectInterface,
                                   settings);
        app.SetEnvironment(TestEnvironment(folder.str(), locks.str(), &workingSet));
        ASSERT_EQ(app.StartUp(), 0);
    }
};

TEST_F(AppDiscoveryTest, StoredInterfaceBecomesCurrentWithItsTexts) {
    const std::string before = Cwd();
    clApplication app;
    StartWith(app, u"Test IF");
    EXPECT_EQ(Cwd(), before);
    EXPECT_EQ(app.Interfaces().Count(), 3u);
    EXPECT_EQ(app.SelectedInterfaceIndex(), 1);
    EXPECT_EQ(app.CurrentPort(), &app.PlugInPort());
    EXPECT_EQ(app.PortNameText(), u"TestPort");
    EXPECT_EQ(app.PortDescriptionText(), u"test port");
    EXPECT_EQ(app.LineSpeedText(), u"115200 bps");
    EXPECT_EQ(app.PortParams().sendTimeout, 20000);
    EXPECT_EQ(std::u16string(app.PortParams().channelSectionName), u"CAMERA_COMM_Ch00");
    app.ShutDown();
    EXPECT_EQ(app.Interfaces().Count(), 0u);
    EXPECT_EQ(app.CurrentPort(), nullptr);
    EXPECT_EQ(app.PlugInPort().opTable, nullptr);
}

TEST_F(AppDiscoveryTest, NoSettingsOrWrongCaseSelectsNothing) {
    for (const char16_t* choice : {u"No settings", u"test if"}) {
        clApplication app;
        StartWith(app, choice);
        EXPECT_EQ(app.SelectedInterfaceIndex(), -1);
        EXPECT_EQ(app.CurrentPort(), nullptr);
        EXPECT_EQ(app.PortNameText(), u"No settings");
        EXPECT_EQ(app.LineSpeedText(), u"No settings");
        app.ShutDown();
    }
}

TEST_F(AppDiscoveryTest, BuiltInInterfaceWithoutPortGivesNoSettingsAtDefaultSpeed) {
    clApplication app;
    StartWith(app, u"COM port(Build In)");
    EXPECT_EQ(app.SelectedInterfaceIndex(), 0);
    EXPECT_EQ(app.PortNameText(), u"No settings");
    EXPECT_EQ(app.LineSpeedText(), u"9600 bps");
    app.ShutDown();
}

TEST_F(AppDiscoveryTest, SelectingAnInterfaceSetsIndexNameAndPortTogether) {
    clApplication app;
    StartWith(app, u"Test IF");
    EXPECT_EQ(app.SelectInterface(0), u"COM port(Build In)");
    EXPECT_EQ(app.SelectedInterfaceIndex(), 0);
    EXPECT_EQ(app.SelectedInterfaceName(), u"COM port(Build In)");
    EXPECT_EQ(app.CurrentPort(), &app.PlugInPort());
    EXPECT_EQ(app.LineSpeedText(), u"9600 bps") << "the built-in port's, not the test port's";
    // None: no port, and the stored name stays.
    EXPECT_EQ(app.SelectInterface(-1), u"");
    EXPECT_EQ(app.SelectedInterfaceIndex(), -1);
    EXPECT_EQ(app.SelectedInterfaceName(), u"COM port(Build In)");
    EXPECT_EQ(app.CurrentPort(), nullptr);
    EXPECT_EQ(app.PortNameText(), u"No settings");
    app.ShutDown();
}

// What the interfaces were handed follows the application's own values.
TEST_F(AppDiscoveryTest, TimeoutsAndFoldersStayInStepWithTheInterfacesBlock) {
    clApplication app;
    StartWith(app, nullptr);
    app.SetTimeouts(1500, 3000000000u, 4294967294u);
    EXPECT_EQ(app.TimeoutNextRecv(), 3000000000u);
    EXPECT_EQ(app.PortParams().firstReceiveTimeout, 1500);
    EXPECT_EQ(app.PortParams().nextReceiveTimeout, INT32_MAX) << "clamped, never wrapped";
    EXPECT_EQ(app.PortParams().sendTimeout, INT32_MAX);
    EXPECT_EQ(app.Engine()->FirstReceiveTimeout(), 1500u);
    EXPECT_EQ(app.Engine()->NextReceiveTimeout(), 3000000000u);
    app.UseProgramFolder(u"/elsewhere/with/a/longer/name/than/before/",
                         app.SettingsFilePath() + u".moved/and/longer/still");
    EXPECT_EQ(std::u16string(app.PortParams().programFolder), app.ProgramFolder());
    EXPECT_EQ(std::u16string(app.PortParams().settingsFilePath), app.SettingsFilePath());
    app.ShutDown();
}

} // namespace
