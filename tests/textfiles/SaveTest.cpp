#include "TextFilesRig.h"
#include "comm/EngineProbe.h"
#include "support/LocaleScope.h"
#include "textfiles/FileDialogHlp.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <regex>
#include <sys/resource.h>

namespace {

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

class Save : public ::testing::Test {
protected:
    std::vector<std::string> SaveLines(int32_t expectedResult = 0) {
        const std::string path = rig.dir.file("settings.txt");
        EXPECT_EQ(rig.files->WriteSettingsText(U16(path)), expectedResult);
        return SplitCrLf(ReadFileBytes(path));
    }
    TextFilesRig rig;
};

TEST_F(Save, HeaderBeforeAnySta) {
    const auto lines = SaveLines();
    ASSERT_EQ(lines.size(), 7u);
    // No version block in a file that is no program: every number 0.
    EXPECT_EQ(lines[0], "// Quillon (64bit) Ver.0.00");
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("// Date = [1-9][0-9]*/[0-9]{2}/[0-9]{2} "
                                                      "[0-9]{2}:[0-9]{2}:[0-9]{2}")))
        << lines[1];
    EXPECT_EQ(lines[2], "// Camera define file = ");
    EXPECT_EQ(lines[3], "// Model=");
    EXPECT_EQ(lines[4], "// Ver.=");
    EXPECT_EQ(lines[5], "// Serial=");
    EXPECT_EQ(lines[6], "");
}

TEST_F(Save, VersionWithoutPointBeforeBuild) {
    const std::string library = std::string(QUILLON_BIN_DIR) + "/libTallix.so";
    if (!std::filesystem::exists(library))
        GTEST_SKIP() << "no versioned program file built";
    rig.files->SetProgramFile(library);
    const auto lines = SaveLines();
    EXPECT_TRUE(std::regex_match(lines.at(0),
                                 std::regex(R"(// Quillon \(64bit\) Ver\.[0-9]+\.[0-9]+[0-9]+)")))
        << lines.at(0);
    EXPECT_EQ(lines.at(0).find("Ver.1.0."), std::string::npos);
}

TEST_F(Save, ExportedCommandsWithSlotsInFileOrder) {
    ASSERT_EQ(rig.files->OpenDefinitionFile(U16(rig.CopyIntoCamDefine("XC-100.xml"))), 0);
    rig.engine.SetCameraModel(u"XC-100");
    rig.engine.SetCameraVersion(u"1.02");
    rig.engine.SetCameraSerial(u"A123");
    std::vector<std::string> expected;
    for (const auto& c : rig.engine.PropertyManager().CommandList()) {
        if (c->slots.empty() || !c->exported)
            continue;
        std::u16string text;
        ASSERT_EQ(rig.engine.PropertyManager().ComposeCommand(c.get(), text), 0);
        expected.push_back(platform::Utf16ToUtf8(text));
    }
    ASSERT_GE(expected.size(), 5u);
    const auto lines = SaveLines();
    ASSERT_EQ(lines.size(), 7 + expected.size());
    EXPECT_EQ(lines[2], "// Camera define file = XC-100.xml");
    EXPECT_EQ(lines[3], "// Model=XC-100");
    EXPECT_EQ(lines[4], "// Ver.=1.02");
    EXPECT_EQ(lines[5], "// Serial=A123");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 7, lines.end()), expected);
    for (const std::string& l : expected) {
        EXPECT_NE(l.rfind("tmp", 0), 0u); // not exported
        EXPECT_NE(l.rfind("sav", 0), 0u);
    }
}

// A command marked not exported is left out even when it has value slots: the lines are those
// of the same definition without the mark, less that command's.
TEST_F(Save, CommandWithSlotsMarkedNotExportedIsNotWritten) {
    ASSERT_EQ(rig.files->OpenDefinitionFile(U16(rig.CopyIntoCamDefine("XC-100.xml"))), 0);
    const auto all = SaveLines();
    std::string xml = ReadFileBytes(SourceFile("CamDefine/XC-100.xml"));
    const std::string exp = "<TARNCommand Name=\"exp\">";
    const std::string frm = "<CommandValue><PropertyName>FrameLines</PropertyName></CommandValue>";
    ASSERT_NE(xml.find(exp), std::string::npos);
    ASSERT_NE(xml.find(frm), std::string::npos);
    xml.insert(xml.find(exp) + exp.size(), "<Export>No</Export>"); // before the slot
    xml.insert(xml.find(frm) + frm.size(), "<Export>No</Export>"); // after the slots
    const std::string marked = (rig.program.path() / "CamDefine" / "XC-marked.xml").string();
    WriteFileBytes(marked, xml);
    ASSERT_EQ(rig.files->OpenDefinitionFile(U16(marked)), 0);
    const auto lines = SaveLines();

    std::vector<std::string> expected;
    for (size_t i = 7; i < all.size(); ++i)
        if (all[i].rfind("exp", 0) != 0 && all[i].rfind("frm", 0) != 0)
            expected.push_back(all[i]);
    ASSERT_EQ(expected.size() + 2, all.size() - 7) << "both commands were written unmarked";
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 7, lines.end()), expected);
}

TEST_F(Save, FailedSaveKeepsTheOldFile) {
    const std::string path = rig.dir.file("keep.txt");
    const std::string old(4000, 'o');
    WriteFileBytes(path, old);
    ASSERT_EQ(rig.files->OpenDefinitionFile(U16(rig.CopyIntoCamDefine("XC-100.xml"))), 0);

    // The file system refuses to take more than 100 bytes from this process.
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &small);
    const int32_t result = rig.files->WriteSettingsText(U16(path));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadFileBytes(path), old);
    // No temporary file is left behind.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(rig.dir.path()))
        entries += e.path().filename().string().rfind(".quillon-save-", 0) == 0;
    EXPECT_EQ(entries, 0);
}

TEST_F(Save, OverwriteKeepsPermissionsAndFollowsLinks) {
    const std::string real = rig.dir.file("real.txt");
    WriteFileBytes(real, "old");
    std::filesystem::permissions(real, std::filesystem::perms(0640));
    std::filesystem::create_symlink(real, rig.dir.file("link.txt"));
    ASSERT_EQ(rig.files->WriteSettingsText(U16(rig.dir.file("link.txt"))), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(rig.dir.file("link.txt")));
    EXPECT_EQ(ReadFileBytes(real).rfind("// Quillon", 0), 0u);
    EXPECT_EQ(std::filesystem::status(real).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0640));
}

TEST_F(Save, UnwritablePlacesFailWithAMessage) {
    const std::string missing = rig.dir.file("no/such/folder/x.txt");
    EXPECT_EQ(rig.files->WriteSettingsText(U16(missing)), 1);
    EXPECT_EQ(rig.files->WriteSettingsText(U16(rig.dir.str())), 1);
    ASSERT_EQ(rig.textUi.boxTexts.size(), 2u);
    EXPECT_EQ(rig.textUi.boxCaptions[0], u"Fail save settings text file");
    EXPECT_NE(rig.textUi.boxTexts[0].find(u"filename=" + U16(missing)), std::u16string::npos);
    EXPECT_NE(rig.textUi.boxTexts[1].find(u"Not a regular file"), std::u16string::npos);
    EXPECT_NE(rig.LogText().find("Fail save settings text file"), std::string::npos);
}

TEST_F(Save, ReadOnlyFileIsKeptAndTheUserTold) {
    const std::string path = rig.dir.file("settings.txt");
    WriteFileBytes(path, "// mine\r\n");
    std::filesystem::permissions(path, std::filesystem::perms(0444));
    rig.textUi.dialogAnswers = {U16(path)};
    EXPECT_EQ(rig.files->SaveSettingsText(), 1);
    EXPECT_EQ(ReadFileBytes(path), "// mine\r\n");
    ASSERT_EQ(rig.textUi.boxTexts.size(), 1u);
    EXPECT_EQ(rig.textUi.boxTexts[0], u"The file is read-only\nfilename=" + U16(path));
    EXPECT_EQ(rig.textUi.boxCaptions[0], u"Fail save settings text file");
    EXPECT_NE(rig.LogText().find("Fail save settings text file: The file is read-only, filename="),
              std::string::npos)
        << rig.LogText();
}

TEST_F(Save, SaveCommandRemembersTheFolder) {
    rig.textUi.dialogAnswers = {u""};
    EXPECT_EQ(rig.files->SaveSettingsText(), 10);
    ASSERT_EQ(rig.textUi.dialogs.size(), 1u);
    const FileDialogRequest& first = rig.textUi.dialogs[0];
    EXPECT_FALSE(first.open);
    EXPECT_EQ(first.options, 0x806u);
    EXPECT_EQ(first.defaultExtension, u"txt");
    EXPECT_EQ(first.title, u"Text Save");
    EXPECT_EQ(first.filter, u"Text file(*.txt)|*.txt||");
    // "@" (the default): the current directory.
    EXPECT_EQ(first.initialFolder, U16(std::filesystem::current_path().string()));

    std::filesystem::create_directories(rig.dir.path() / "out");
    rig.textUi.dialogAnswers = {U16(rig.dir.file("out/s.txt"))};
    EXPECT_EQ(rig.files->SaveSettingsText(), 0);
    EXPECT_TRUE(std::filesystem::exists(rig.dir.file("out/s.txt")));
    EXPECT_EQ(rig.Ini(u"Path", u"Text Save"), U16(rig.dir.file("out/")));
    rig.textUi.dialogAnswers = {u""};
    rig.files->SaveSettingsText();
    EXPECT_EQ(rig.textUi.dialogs.back().initialFolder, U16(rig.dir.file("out/")));
}

TEST_F(Save, LoadCommandStartsTheBatchJob) {
    WriteFileBytes(rig.dir.file("b.txt"), "gai 1\r\n");
    rig.textUi.dialogAnswers = {u"", U16(rig.dir.file("b.txt"))};
    EXPECT_EQ(rig.files->LoadBatchText(), 10);
    EXPECT_EQ(clCommunicateModelProbe::Mailbox(rig.engine).Kind(), JOB_NONE);
    EXPECT_EQ(rig.files->LoadBatchText(), 0);
    EXPECT_EQ(clCommunicateModelProbe::Mailbox(rig.engine).Kind(), JOB_BATCH);
    EXPECT_TRUE(rig.jobEvent.IsSignalled());
    EXPECT_EQ(rig.textUi.dialogs.back().options, 0x1004u);
    EXPECT_EQ(rig.textUi.dialogs.back().title, u"Text Load");
    EXPECT_EQ(rig.Ini(u"Path", u"Text Load"), U16(rig.dir.str() + "/"));
    // While a job runs its batch lines are not replaced.
    WriteFileBytes(rig.dir.file("c.txt"), "blk 1\r\n");
    rig.textUi.dialogAnswers = {U16(rig.dir.file("c.txt"))};
    clCommunicateModelProbe::SetBusy(rig.engine, 1);
    EXPECT_EQ(rig.files->LoadBatchText(), 1);
    clCommunicateModelProbe::SetBusy(rig.engine, 0);
    EXPECT_EQ(rig.files->BatchLines(), std::vector<std::u16string>{u"gai 1\n"});
}

TEST(FileDialogHlp, RememberedFolderWithEnvironmentReference) {
    TempDir dir;
    const std::u16string ini = U16(dir.file("q.ini"));
    setenv("QUILLON_TEST_DOCS", dir.str().c_str(), 1);
    platform::WriteSetting(u"Path", u"Text Load", u"%QUILLON_TEST_DOCS%/docs", ini);
    CFileDialogHlp dialog(true, u"", u"");
    dialog.section = u"Path";
    dialog.key = u"Text Load";
    dialog.settingsFilePath = ini;
    dialog.PrepareInitialFolder(u"/default");
    EXPECT_EQ(dialog.Folder(), U16(dir.str() + "/docs"));
    EXPECT_EQ(dialog.Request().initialFolder, dialog.Folder());

    platform::WriteSetting(u"Path", u"Text Load", u"", ini);
    dialog.PrepareInitialFolder(u"/default");
    EXPECT_EQ(dialog.Folder(), u"/default");
    EXPECT_FALSE(dialog.Run(nullptr)); // no user interface: nothing chosen
}

} // namespace

namespace {

// A value the codeset cannot hold fails the save before the file is touched: the old content
// stays byte for byte, and the box names the command.
TEST_F(Save, ValueTheCodesetCannotHoldLeavesTheOldFileAsItWas) {
    ASSERT_EQ(rig.files->OpenDefinitionFile(U16(rig.CopyIntoCamDefine("XC-100.xml"))), 0);
    auto* user =
        PropertyAs<clCamPropertyString>(rig.engine.PropertyManager().FindProperty(u"UserName"));
    ASSERT_NE(user, nullptr);
    rig.engine.PropertyManager().SetStringValue(user, u"露光");
    LocaleScope ascii("C");
    ASSERT_TRUE(ascii.ok);
    const std::string path = rig.dir.file("settings.txt");
    const std::string old = "// an earlier save\r\ngai 12\r\n";
    WriteFileBytes(path, old);
    EXPECT_EQ(rig.files->WriteSettingsText(U16(path)), 1);
    EXPECT_EQ(ReadFileBytes(path), old);
    ASSERT_EQ(rig.textUi.boxTexts.size(), 1u);
    EXPECT_NE(rig.textUi.boxTexts[0].find(u"A value cannot be written in the current codeset"),
              std::u16string::npos);
    EXPECT_NE(rig.textUi.boxTexts[0].find(u"uid"), std::u16string::npos) << "names the command";
    // No file is made either.
    EXPECT_EQ(rig.files->WriteSettingsText(U16(rig.dir.file("new.txt"))), 1);
    EXPECT_FALSE(std::filesystem::exists(rig.dir.file("new.txt")));
}

TEST_F(Save, WrittenInTheLocaleCodeset) {
    ASSERT_EQ(rig.files->OpenDefinitionFile(U16(rig.CopyIntoCamDefine("XC-100.xml"))), 0);
    rig.engine.SetCameraModel(u"露光");
    LocaleScope utf8("C.UTF-8");
    if (!utf8.ok)
        GTEST_SKIP() << "no UTF-8 locale";
    const auto lines = SaveLines(0);
    EXPECT_EQ(lines.at(3), "// Model=\xE9\x9C\xB2\xE5\x85\x89");
}

// In a UTF-8 locale a value holding U+FFFD or a lone surrogate is never dropped in silence:
// its line is written (the replacement character for the lone surrogate) or the save says it
// failed.
TEST_F(Save, ReplacementCharacterAndLoneSurrogateAreWrittenOrTheSaveFails) {
    ASSERT_EQ(rig.files->OpenDefinitionFile(U16(rig.CopyIntoCamDefine("XC-100.xml"))), 0);
    auto* user =
        PropertyAs<clCamPropertyString>(rig.engine.PropertyManager().FindProperty(u"UserName"));
    ASSERT_NE(user, nullptr);
    LocaleScope utf8("C.UTF-8");
    if (!utf8.ok)
        GTEST_SKIP() << "no UTF-8 locale";
    const struct {
        std::u16string value;
        std::string written;
    } cases[] = {{u"a\uFFFDb", "a\xEF\xBF\xBD"
                               "b"},
                 {u"a" + std::u16string(1, char16_t(0xD800)) + u"b", "a\xEF\xBF\xBD"
                                                                     "b"},
                 {u"a" + std::u16string(1, char16_t(0xDC00)), "a\xEF\xBF\xBD"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        ASSERT_EQ(rig.engine.PropertyManager().SetStringValue(user, c.value), 0);
        const std::string path = rig.dir.file("settings.txt");
        const int32_t result = rig.files->WriteSettingsText(U16(path));
        const auto lines = SplitCrLf(ReadFileBytes(path));
        const bool uidLine = std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.rfind("uid", 0) == 0 && l.find(c.written) != std::string::npos;
        });
        EXPECT_TRUE(uidLine || result != 0) << "the line was dropped and the save reported 0";
    }
}

} // namespace

namespace {

TEST(FileDialogHlp, FilterInQtForm) {
    EXPECT_EQ(QtNameFilters(u"Text file(*.txt)|*.txt||"), u"Text file(*.txt) (*.txt)");
    EXPECT_EQ(QtNameFilters(u"Camera define(*.xml)|*.xml|All|*.xml;*.txt||"),
              u"Camera define(*.xml) (*.xml)\nAll (*.xml *.txt)");
    EXPECT_EQ(QtNameFilters(u""), u"");
    EXPECT_EQ(QtNameFilters(u"broken"), u"");
}

} // namespace
