// The Camera Link serial utility component against the simulated serial libraries (real dlopen)
// and real settings files.
#include "components/quastor/Quastor.h"

#include "platform/IniProfile.h"
#include "platform/Text.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const std::string kSimFolder = QUILLON_BIN_DIR "/clserial";

CLSettingRecord Setting(const char16_t* name, uint32_t index) {
    CLSettingRecord r{};
    std::u16string n(name);
    std::copy(n.begin(), n.end(), r.libraryName);
    r.serialIndex = index;
    return r;
}

std::u16string U(const std::string& s) {
    return platform::Utf8ToUtf16(s);
}

class QuastorTest : public ::testing::Test {
protected:
    QuastorTest() {
        setenv("CLSERIALPATH", kSimFolder.c_str(), 1);
        setenv("CLSERSIM_DEFINITION", QUILLON_SOURCE_DIR "/CamDefine/XC-100.xml", 1);
        QuastorSetDialogHook(nullptr);
    }
    ~QuastorTest() override {
        QuastorSetDialogHook(nullptr);
        setenv("CLSERIALPATH", kSimFolder.c_str(), 1);
    }
    TempDir dir;
    std::u16string settings = U(dir.file("Quillon_00.ini"));
};

// The dialog hooks of the tests: the request as the dialog saw it, and what it answers.
QuastorDialogRequest g_seen{};
std::vector<std::u16string> g_seenLibraries;
int32_t CancelHook(QuastorDialogRequest* r) {
    g_seen = *r;
    r->library = 0; // a dialog that changed its fields and was then cancelled
    r->serialIndex = 1;
    r->baudRate = 115200;
    return 0;
}
int32_t ConfirmHook(QuastorDialogRequest* r) {
    g_seen = *r;
    g_seenLibraries.clear();
    for (uint32_t i = 0; i < r->libraryCount; ++i)
        g_seenLibraries.push_back(r->libraries[i].fileName);
    for (uint32_t i = 0; i < r->libraryCount; ++i)
        if (std::u16string(r->libraries[i].fileName) == u"libclsersim.so")
            r->library = static_cast<int32_t>(i);
    r->serialIndex = 1;
    r->baudRate = 115200;
    return 1;
}

} // namespace

TEST_F(QuastorTest, LibraryRecordsCarryTheApiVersionAndTheFunctionsOfThatVersion) {
    CLSettingRecord s11 = Setting(u"libclsersim.so", 0);
    CLLibraryRecord* v11 = LirnoGetDLLStatW(&s11);
    ASSERT_NE(v11, nullptr);
    EXPECT_EQ(v11->apiVersion, CL_DLL_VERSION_1_1);
    EXPECT_EQ(v11->portCount, 2u);
    EXPECT_NE(v11->libraryHandle, nullptr);
    EXPECT_NE(v11->clFlushPort, nullptr);
    EXPECT_NE(v11->clGetNumBytesAvail, nullptr);
    EXPECT_NE(v11->clSetBaudRate, nullptr);
    EXPECT_EQ(QuastorPortIdentifier(v11, 1), u"SIM-CL channel 1");
    // Asked again, the same record: it stays valid while the component runs.
    EXPECT_EQ(LirnoGetDLLStatW(&s11), v11);

    CLSettingRecord s10 = Setting(u"libclsersim10.so", 0);
    CLLibraryRecord* v10 = LirnoGetDLLStatW(&s10);
    ASSERT_NE(v10, nullptr);
    EXPECT_EQ(v10->apiVersion, CL_DLL_VERSION_1_0);
    EXPECT_EQ(v10->clFlushPort, nullptr);
    EXPECT_EQ(v10->clGetSerialPortIdentifier, nullptr);
    EXPECT_EQ(QuastorPortIdentifier(v10, 0), u"");
}

TEST_F(QuastorTest, NamesThatAreNotLibrariesOfTheFolderGiveNoRecord) {
    WriteFileBytes(dir.file("junk.so"), "not a shared library");
    fs::copy_file(QUILLON_BIN_DIR "/Pivra02CL_64bit.so", dir.path() / "other.so");
    setenv("CLSERIALPATH", dir.str().c_str(), 1);
    for (const char16_t* name : {u"", u"junk.so", u"other.so", u"missing.so",
                                 u"../clserial/libclsersim.so", u"/lib/libc.so.6", u"..", u"."}) {
        CLSettingRecord s = Setting(name, 0);
        EXPECT_EQ(LirnoGetDLLStatW(&s), nullptr) << platform::Utf16ToUtf8(name);
    }
    EXPECT_EQ(LirnoGetDLLStatW(nullptr), nullptr);
    // The listing skips them too.
    EXPECT_TRUE(QuastorListLibraries().empty());
}

TEST_F(QuastorTest, DiagnosisTellsAMissingFileFromOneThatIsNoLibrary) {
    WriteFileBytes(dir.file("junk.so"), "not a shared library");
    fs::copy_file(QUILLON_BIN_DIR "/Pivra02CL_64bit.so", dir.path() / "other.so");
    setenv("CLSERIALPATH", dir.str().c_str(), 1);
    const std::pair<const char16_t*, QuastorLibraryProblem> cases[] = {
        {u"", QuastorLibraryProblem::NotChosen},
        {u"missing.so", QuastorLibraryProblem::Missing},
        {u"junk.so", QuastorLibraryProblem::NotLoadable},
        {u"other.so", QuastorLibraryProblem::FunctionMissing}};
    for (const auto& [name, problem] : cases) {
        std::string function;
        EXPECT_EQ(QuastorDiagnoseLibrary(name, &function), problem) << platform::Utf16ToUtf8(name);
        EXPECT_EQ(function,
                  problem == QuastorLibraryProblem::FunctionMissing ? "clSerialInit" : "");
    }
}

TEST_F(QuastorTest, ListingFindsTheLibrariesOfTheFolderInNameOrder) {
    std::vector<std::u16string> names;
    for (CLLibraryRecord* r : QuastorListLibraries())
        names.push_back(r->libraryName);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"libclsersim.so", u"libclsersim10.so"}));
    EXPECT_EQ(QuastorLibraryFolder(), kSimFolder + "/");
}

TEST_F(QuastorTest, ChoiceAndParametersRoundTripThroughTheSettingsFile) {
    CLSettingRecord loaded{};
    std::fill(std::begin(loaded.libraryName), std::end(loaded.libraryName), u'x');
    LirnoLoadCLSettingParaW(settings.c_str(), u"CAMERA_COMM_Ch00", &loaded);
    EXPECT_EQ(std::u16string(loaded.libraryName), u"");
    EXPECT_EQ(loaded.serialIndex, 0u);

    CLSettingRecord s = Setting(u"libclsersim.so", 1);
    ASSERT_TRUE(LirnoSaveCLSettingParaW(settings.c_str(), u"CAMERA_COMM_Ch00", &s));
    EXPECT_EQ(platform::ReadSetting(u"CAMERA_COMM_Ch00", u"CameraLink DLL", u"", settings),
              u"libclsersim.so");
    EXPECT_EQ(
        platform::ReadSettingInt(u"CAMERA_COMM_Ch00", u"CameraLink Serial Index", 9, settings), 1u);
    LirnoLoadCLSettingParaW(settings.c_str(), u"CAMERA_COMM_Ch00", &loaded);
    EXPECT_EQ(std::u16string(loaded.libraryName), u"libclsersim.so");
    EXPECT_EQ(loaded.serialIndex, 1u);

    char16_t name[64];
    LirnoGenerateCLPortNameW(&s, 1, name, 64);
    EXPECT_EQ(std::u16string(name), u"CL_libclsersim_1");
    LirnoGenerateCLPortNameW(&s, 1, name, 6); // truncated, still terminated
    EXPECT_EQ(std::u16string(name), u"CL_li");

    CLSerialParams p{};
    LirnoLoadCLSerParaW(settings.c_str(), u"CL_libclsersim_1", &p);
    EXPECT_EQ(p.baudRate, 9600u);
    p.baudRate = 57600;
    ASSERT_TRUE(LirnoSaveCLSerParaW(settings.c_str(), u"CL_libclsersim_1", &p));
    EXPECT_FALSE(LirnoSaveCLSerParaW(settings.c_str(), u"", &p));
    CLSerialParams q{};
    LirnoLoadCLSerParaW(settings.c_str(), u"CL_libclsersim_1", &q);
    EXPECT_EQ(q.baudRate, 57600u);
    LirnoLoadCLSerParaW(settings.c_str(), u"", &q);
    EXPECT_EQ(q.baudRate, 9600u);
}

TEST_F(QuastorTest, OpeningChannelsFailsSafely) {
    hSerRef ref = reinterpret_cast<hSerRef>(1);
    int32_t error = 0;
    EXPECT_EQ(LirnoSafeSerialInit(nullptr, 0, &ref, &error), 1);
    EXPECT_EQ(error, CL_ERR_UNABLE_TO_LOAD_DLL);
    EXPECT_EQ(ref, nullptr);
    EXPECT_EQ(LirnoSafeSerialInit(nullptr, 0, nullptr, &error), 3);

    CLLibraryRecord foreign{};
    EXPECT_EQ(LirnoSafeSerialInit(&foreign, 0, &ref, &error), 1); // not a record of ours
    EXPECT_EQ(error, CL_ERR_UNABLE_TO_LOAD_DLL);

    CLSettingRecord s = Setting(u"libclsersim.so", 0);
    CLLibraryRecord* lib = LirnoGetDLLStatW(&s);
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(LirnoSafeSerialInit(lib, 2, &ref, &error), 1);
    EXPECT_EQ(error, CL_ERR_INVALID_INDEX);

    ASSERT_EQ(LirnoSafeSerialInit(lib, 0, &ref, &error), 0);
    EXPECT_EQ(error, 0);
    ASSERT_NE(ref, nullptr);
    hSerRef second = nullptr;
    EXPECT_EQ(LirnoSafeSerialInit(lib, 0, &second, &error), 1);
    EXPECT_EQ(error, CL_ERR_PORT_IN_USE);
    EXPECT_EQ(second, nullptr);

    // The channel talks: "sta" comes back with the identity and EOT.
    char command[] = "sta\r";
    uint32_t size = 4;
    ASSERT_EQ(lib->clSerialWrite(ref, command, &size, 1000), 0);
    uint32_t avail = 0;
    ASSERT_EQ(lib->clGetNumBytesAvail(ref, &avail), 0);
    std::string reply(avail, '\0');
    size = avail;
    ASSERT_EQ(lib->clSerialRead(ref, reply.data(), &size, 1000), 0);
    EXPECT_NE(reply.find(">Model=XC-100\r\n"), std::string::npos) << reply;
    EXPECT_EQ(reply.back(), '\x04');

    LirnoSafeSerialClose(lib, ref);
    LirnoSafeSerialClose(lib, ref); // a second close does nothing
    LirnoSafeSerialClose(nullptr, ref);
    ASSERT_EQ(LirnoSafeSerialInit(lib, 0, &ref, &error), 0); // free again
    LirnoSafeSerialClose(lib, ref);
}

TEST_F(QuastorTest, FailedPortCountIsAskedAgainAtTheNextOpen) {
    // A library of its own (a copy under another name), so no earlier record answers for it.
    const std::string folder = dir.file("late");
    fs::create_directories(folder);
    fs::copy_file(kSimFolder + "/libclsersim.so", folder + "/liblate.so");
    setenv("CLSERIALPATH", folder.c_str(), 1);
    setenv("CLSERSIM_NO_PORTS", "1", 1); // the frame grabber is not there yet
    CLSettingRecord s = Setting(u"liblate.so", 1);
    CLLibraryRecord* lib = LirnoGetDLLStatW(&s);
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(lib->portCount, 0u);
    hSerRef ref = nullptr;
    int32_t error = 0;
    EXPECT_EQ(LirnoSafeSerialInit(lib, 1, &ref, &error), 1);
    EXPECT_EQ(error, CL_ERR_INVALID_INDEX);
    // It has come: the next open asks the library again and gets the channel.
    unsetenv("CLSERSIM_NO_PORTS");
    ASSERT_EQ(LirnoSafeSerialInit(lib, 1, &ref, &error), 0);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(lib->portCount, 2u);
    LirnoSafeSerialClose(lib, ref);
}

TEST_F(QuastorTest, DialogWithoutHookOrCancelledChangesNothing) {
    CLSettingRecord s = Setting(u"libclsersim10.so", 0);
    CLSerialParams p{8, 19200, 0, 0};
    int32_t result = 2;
    // No hook in this process: no dialog.
    EXPECT_EQ(LirnoSettingDlgExW(settings.c_str(), u"CAMERA_COMM_Ch00", &s, &p, &result, 0), 1);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(LirnoSettingDlgExW(settings.c_str(), u"CAMERA_COMM_Ch00", &s, &p, nullptr, 0), 1);

    QuastorSetDialogHook(&CancelHook);
    EXPECT_EQ(LirnoSettingDlgExW(settings.c_str(), u"CAMERA_COMM_Ch00", &s, &p, &result, 0), 0);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(std::u16string(s.libraryName), u"libclsersim10.so");
    EXPECT_EQ(s.serialIndex, 0u);
    EXPECT_EQ(p.baudRate, 19200u);
    // The dialog was offered the current choice.
    EXPECT_EQ(g_seen.baudRate, 19200u);
    ASSERT_GE(g_seen.library, 0);
    EXPECT_FALSE(fs::exists(platform::Utf16ToUtf8(settings))); // nothing stored
}

TEST_F(QuastorTest, ConfirmedDialogFillsBothRecordsAndTheLastChoice) {
    CLSettingRecord s{};
    CLSerialParams p{8, 9600, 0, 0};
    int32_t result = 2;
    QuastorSetDialogHook(&ConfirmHook);
    ASSERT_EQ(LirnoSettingDlgExW(settings.c_str(), u"CAMERA_COMM_Ch00", &s, &p, &result, 0), 0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(g_seen.library, -1); // nothing was chosen before
    EXPECT_EQ(g_seenLibraries,
              (std::vector<std::u16string>{u"libclsersim.so", u"libclsersim10.so"}));
    EXPECT_EQ(g_seen.channelCount, 4u);
    EXPECT_EQ(std::u16string(s.libraryName), u"libclsersim.so");
    EXPECT_EQ(s.serialIndex, 1u);
    EXPECT_EQ(p.baudRate, 115200u);

    CLSettingRecord last = Setting(u"other", 7);
    LirnoGetLastSelectW(&last);
    EXPECT_EQ(std::u16string(last.libraryName), u"libclsersim.so");
    EXPECT_EQ(last.serialIndex, 1u);
}
