#include "TextFilesRig.h"
#include "comm/EngineProbe.h"

#include <gtest/gtest.h>

namespace {

const std::u16string kTitle = u"Quillon (64bit)";

class Definition : public ::testing::Test {
protected:
    std::u16string Folder() { return rig.app.CamDefineFolder(); }
    void SetLastConfig(const std::u16string& value) {
        platform::WriteSetting(u"App", u"LastConfig", value, rig.app.SettingsFilePath());
    }
    // Runs reply lines through the handler the way the main window drains them.
    uint32_t Reply(std::initializer_list<std::u16string_view> lines) {
        uint32_t flags = 0;
        for (std::u16string_view l : lines)
            rig.HandleReplyLine(flags, l);
        return flags;
    }

    TextFilesRig rig;
};

TEST_F(Definition, OpenSetsTitleViewAndLastConfig) {
    const std::u16string path = U16(rig.CopyIntoCamDefine("XC-100.xml"));
    EXPECT_EQ(rig.files->OpenDefinitionFile(path), 0);
    EXPECT_TRUE(rig.engine.PropertyManager().IsLoaded());
    EXPECT_EQ(rig.textUi.title, kTitle + u" - XC-100.xml");
    EXPECT_EQ(rig.textUi.viewRebuilt, 1);
    EXPECT_EQ(rig.app.CurrentDefinitionFile(), path);
    EXPECT_EQ(rig.Ini(u"App", u"LastConfig"), path);
}

TEST_F(Definition, FailingDefinitionReportsAndKeepsLastConfig) {
    const std::u16string good = U16(rig.CopyIntoCamDefine("XC-100.xml"));
    ASSERT_EQ(rig.files->OpenDefinitionFile(good), 0);
    // Well-formed, but the schema does not allow an unknown element.
    const std::string bad = rig.program.file("CamDefine/bad.xml");
    WriteFileBytes(bad, "<?xml version=\"1.0\"?>\n<CameraPropertyDefine SchemaMajorVersion=\"1\" "
                        "SchemaMinorVersion=\"0\">"
                        "<Nonsense/></CameraPropertyDefine>\n");
    EXPECT_EQ(rig.files->OpenDefinitionFile(U16(bad)), 1);
    EXPECT_FALSE(rig.engine.PropertyManager().IsLoaded());
    EXPECT_EQ(rig.Ini(u"App", u"LastConfig"), good);
    EXPECT_EQ(rig.textUi.title, kTitle);
    ASSERT_EQ(rig.textUi.boxTexts.size(), 1u);
    const std::u16string shown = rig.textUi.boxTexts[0];
    EXPECT_EQ(shown.substr(shown.find(u'\n')), u"\nfilename=" + U16(bad));
    EXPECT_EQ(rig.textUi.boxCaptions[0], u"Fail open camera define file");
    EXPECT_EQ(rig.textUi.boxStyles[0], MB_OK | MB_ICONWARNING);
    const std::string log = rig.LogText();
    EXPECT_NE(log.find("Fail open camera define file\r\n"), std::string::npos);
    EXPECT_NE(log.find(platform::Utf16ToUtf8(shown.substr(0, shown.find(u'\n'))) + "\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("filename=" + bad + "\r\n"), std::string::npos);
}

TEST_F(Definition, ErrorTextFollowsTheLoadResult) {
    WriteFileBytes(rig.program.file("CamDefine/broken.xml"), "<not xml");
    EXPECT_EQ(rig.files->OpenDefinitionFile(U16(rig.program.file("CamDefine/broken.xml"))), 1);
    WriteFileBytes(rig.program.file("CamDefine/other.xml"), "<?xml version=\"1.0\"?><Other/>");
    EXPECT_EQ(rig.files->OpenDefinitionFile(U16(rig.program.file("CamDefine/other.xml"))), 1);
    EXPECT_EQ(rig.files->OpenDefinitionFile(U16(rig.program.file("CamDefine/missing.xml"))), 1);
    ASSERT_EQ(rig.textUi.boxTexts.size(), 3u);
    EXPECT_EQ(rig.textUi.boxTexts[0].rfind(u"XML parse error\n", 0), 0u);
    EXPECT_EQ(rig.textUi.boxTexts[1].rfind(u"non supported XML\n", 0), 0u);
    EXPECT_EQ(rig.textUi.boxTexts[2].rfind(u"XML parse error\n", 0), 0u);
}

TEST_F(Definition, IdentityLines) {
    EXPECT_EQ(Reply({u">OK", u">Model=XC-100", u">Ver.=1.02", u">Serial=A123"}),
              uint32_t{REFRESH_STATUS});
    EXPECT_EQ(rig.engine.CameraModel(), u"XC-100");
    EXPECT_EQ(rig.engine.CameraVersion(), u"1.02");
    EXPECT_EQ(rig.engine.CameraSerial(), u"A123");
    Reply({u">Type=ABC"});
    EXPECT_EQ(rig.engine.CameraModel(), u"ABC");
    Reply({u">SomeModel=5"});
    EXPECT_EQ(rig.engine.CameraModel(), u"5");
    Reply({u">Ver.=2.0 Serial=77"});
    EXPECT_EQ(rig.engine.CameraVersion(), u"2.0 Serial=77");
    EXPECT_EQ(rig.engine.CameraSerial(), u"A123");
    // Not identity lines, and no auto-selection without the request.
    uint32_t flags = 0;
    EXPECT_FALSE(rig.HandleReplyLine(flags, u">"));
    EXPECT_FALSE(rig.HandleReplyLine(flags, u"Model=X"));
    EXPECT_FALSE(rig.HandleReplyLine(flags, u">nothing known"));
    EXPECT_EQ(flags, 0u);
    EXPECT_FALSE(ParseIdentityLine(rig.engine, flags, u"gai 3", {}));
    EXPECT_TRUE(ParseIdentityLine(rig.engine, flags, u"Serial=B9", {}));
    EXPECT_EQ(rig.engine.CameraSerial(), u"B9");
    EXPECT_TRUE(rig.textUi.listPrompts.empty());
    EXPECT_FALSE(rig.engine.PropertyManager().IsLoaded());
}

TEST_F(Definition, ReplyValuesReachThePropertyView) {
    ASSERT_EQ(rig.files->OpenDefinitionFile(U16(rig.CopyIntoCamDefine("XC-100.xml"))), 0);
    uint32_t flags = 0;
    EXPECT_TRUE(rig.HandleReplyLine(flags, u">gai 7"));
    EXPECT_EQ(flags, uint32_t{REFRESH_PROPERTIES | REFRESH_RELOAD_VALUES});
    std::u16string value;
    rig.engine.PropertyManager().GetValueText(u"Gain", value);
    EXPECT_EQ(value, u"7");
}

TEST_F(Definition, StaWithTwoMatchesAsksWhichOne) {
    rig.CopyIntoCamDefine("XC-100.xml");
    rig.CopyIntoCamDefine("XC-100.xml", "XC-100_rev2.xml");
    rig.CopyIntoCamDefine("LX-4K.xml");
    clCommunicateModelProbe::Mailbox(rig.engine).RequestAutoSelect();
    rig.textUi.listAnswer = 1;
    Reply({u">OK", u">Model=XC-100", u">Ver.=1.02", u">Serial=A123"});
    ASSERT_EQ(rig.textUi.listPrompts.size(), 1u);
    EXPECT_EQ(rig.textUi.listPrompts[0], u"Found 2 files");
    EXPECT_EQ(rig.textUi.listEntries[0],
              (std::vector<std::u16string>{u"XC-100.xml", u"XC-100_rev2.xml"}));
    EXPECT_TRUE(clCommunicateModelProbe::Mailbox(rig.engine).ModelDetected());
    EXPECT_EQ(rig.app.CurrentDefinitionFile(), Folder() + u"XC-100_rev2.xml");
    EXPECT_EQ(rig.textUi.title, kTitle + u" - XC-100_rev2.xml");
    EXPECT_EQ(rig.engine.CameraVersion(), u"1.02");
    EXPECT_EQ(rig.engine.CameraSerial(), u"A123");
}

TEST_F(Definition, StaWithOneMatchIgnoringCaseOpensWithoutQuestion) {
    rig.CopyIntoCamDefine("XC-100.xml", "xc-100.xml");
    clCommunicateModelProbe::Mailbox(rig.engine).RequestAutoSelect();
    Reply({u">OK", u">Model=XC-100"});
    EXPECT_TRUE(rig.textUi.listPrompts.empty());
    EXPECT_EQ(rig.app.CurrentDefinitionFile(), Folder() + u"xc-100.xml");
    EXPECT_TRUE(rig.engine.PropertyManager().IsLoaded());
}

TEST_F(Definition, StaWithoutMatchOrWithCancelKeepsTheLoadedDefinition) {
    const std::u16string loaded = U16(rig.CopyIntoCamDefine("LX-4K.xml"));
    ASSERT_EQ(rig.files->OpenDefinitionFile(loaded), 0);
    clCommunicateModelProbe::Mailbox(rig.engine).RequestAutoSelect();
    EXPECT_EQ(rig.files->SelectDefinitionForModel(u"ZZ-9"), 6);
    EXPECT_EQ(rig.app.MessageBoxText(), u"Camera define file not found");

    rig.CopyIntoCamDefine("XC-100.xml");
    rig.CopyIntoCamDefine("XC-100.xml", "XC-100b.xml");
    rig.textUi.listAnswer = -1;
    EXPECT_EQ(rig.files->SelectDefinitionForModel(u"XC-100"), 10);
    EXPECT_TRUE(rig.engine.PropertyManager().IsLoaded());
    EXPECT_EQ(rig.app.CurrentDefinitionFile(), loaded);
}

TEST_F(Definition, FindDefinitionFilesPattern) {
    for (const char* name :
         {"XC-100.xml", "XC-100_rev2.XML", "AXC-100.xml", "XC-100.txt", "XC-1[0]0.xml"})
        WriteFileBytes(rig.program.file(std::string("CamDefine/") + name), "x");
    std::filesystem::create_directory(rig.program.path() / "CamDefine" / "XC-100-dir.xml");
    std::filesystem::create_directories(rig.program.path() / "CamDefine" / "sub");
    WriteFileBytes(rig.program.file("CamDefine/sub/XC-100.xml"), "x");

    EXPECT_EQ(rig.files->FindDefinitionFiles(u"xc-100"), 3u);
    EXPECT_EQ(rig.app.FoundFiles(),
              (std::vector<std::u16string>{u"AXC-100.xml", u"XC-100.xml", u"XC-100_rev2.XML"}));
    // "?" keeps its wildcard meaning; "[" is an ordinary character.
    EXPECT_EQ(rig.files->FindDefinitionFiles(u"xc-1?0"), 4u); // "?" takes the "[" of XC-1[0]0 too
    EXPECT_EQ(rig.files->FindDefinitionFiles(u"1[0]0"), 1u);
    EXPECT_EQ(rig.app.FoundFiles(), std::vector<std::u16string>{u"XC-1[0]0.xml"});
    rig.app.UseDefinitionFolders(U16(rig.program.file("nowhere/")), rig.app.UserCamDefineFolder());
    EXPECT_EQ(rig.files->FindDefinitionFiles(u"XC"), 0u);
    EXPECT_TRUE(rig.app.FoundFiles().empty());
}

// An installed program: the user's definition folder beside the program's.
TEST_F(Definition, UserDefinitionFolderComesFirstInSearchOpenAndDialog) {
    const std::string user = rig.program.file("user/CamDefine/");
    std::filesystem::create_directories(user);
    rig.app.UseDefinitionFolders(rig.app.CamDefineFolder(), U16(user));
    rig.CopyIntoCamDefine("XC-100.xml", "XC-100.xml");
    rig.CopyIntoCamDefine("XC-100.xml", "XC-100_factory.xml");
    std::filesystem::copy_file(SourceFile("CamDefine/XC-100.xml"), user + "XC-100.xml");
    std::filesystem::copy_file(SourceFile("CamDefine/XC-100.xml"), user + "XC-100_mine.xml");

    EXPECT_EQ(rig.files->FindDefinitionFiles(u"XC-100"), 3u);
    EXPECT_EQ(rig.app.FoundFiles(), (std::vector<std::u16string>{u"XC-100.xml", u"XC-100_mine.xml",
                                                                 u"XC-100_factory.xml"}));
    EXPECT_EQ(rig.files->DefinitionFolderOf(u"XC-100.xml"), U16(user));
    EXPECT_EQ(rig.files->DefinitionFolderOf(u"XC-100_factory.xml"), Folder());

    rig.textUi.listAnswer = 1;
    EXPECT_EQ(rig.files->SelectDefinitionForModel(u"XC-100"), 0);
    EXPECT_EQ(rig.app.CurrentDefinitionFile(), U16(user + "XC-100_mine.xml"));

    rig.textUi.dialogAnswers = {u""};
    EXPECT_EQ(rig.files->SelectDefinitionFile(), 10);
    EXPECT_EQ(rig.textUi.dialogs.back().initialFolder, U16(user));
}

TEST_F(Definition, CloseKeepsIdentityAndCurrentFile) {
    const std::u16string path = U16(rig.CopyIntoCamDefine("XC-100.xml"));
    ASSERT_EQ(rig.files->OpenDefinitionFile(path), 0);
    Reply({u">Model=XC-100"});
    rig.files->CloseDefinitionFile();
    EXPECT_FALSE(rig.engine.PropertyManager().IsLoaded());
    EXPECT_EQ(rig.textUi.title, kTitle);
    EXPECT_GE(rig.textUi.viewEmptied, 1);
    EXPECT_EQ(rig.engine.CameraModel(), u"XC-100");
    EXPECT_EQ(rig.app.CurrentDefinitionFile(), path);
}

TEST_F(Definition, SelectFileFromDialog) {
    const std::u16string path = U16(rig.CopyIntoCamDefine("XC-100.xml"));
    rig.engine.SetCameraModel(u"old");
    rig.textUi.dialogAnswers = {u"", path};
    EXPECT_EQ(rig.files->SelectDefinitionFile(), 10);
    EXPECT_EQ(rig.engine.CameraModel(), u"old");
    EXPECT_EQ(rig.files->SelectDefinitionFile(), 0);
    EXPECT_TRUE(rig.engine.CameraModel().empty());
    const FileDialogRequest& asked = rig.textUi.dialogs.back();
    EXPECT_TRUE(asked.open);
    EXPECT_EQ(asked.options, 0x1004u);
    EXPECT_EQ(asked.initialFolder, Folder());
    EXPECT_EQ(asked.filter, u"Camera define(*.xml)|*.xml||");
    EXPECT_EQ(rig.Ini(u"Path", u"Text Load"), u"<none>"); // this dialog remembers nothing
}

TEST_F(Definition, OfferLastDefinition) {
    // Nothing stored, or a file that is gone: no question.
    EXPECT_EQ(rig.files->OfferLastDefinition(), 0);
    SetLastConfig(Folder() + u"gone.xml");
    EXPECT_EQ(rig.files->OfferLastDefinition(), 0);
    EXPECT_TRUE(rig.textUi.boxTexts.empty());

    const std::u16string path = U16(rig.CopyIntoCamDefine("XC-100.xml"));
    SetLastConfig(path);
    rig.textUi.boxAnswer = IDNO;
    EXPECT_EQ(rig.files->OfferLastDefinition(), 0);
    EXPECT_FALSE(rig.engine.PropertyManager().IsLoaded());
    ASSERT_EQ(rig.textUi.boxTexts.size(), 1u);
    EXPECT_EQ(rig.textUi.boxTexts[0],
              u"Would you like to open last used camera define file ?\nFilename=XC-100.xml\nPath=" +
                  Folder());
    EXPECT_EQ(rig.textUi.boxStyles[0], MB_YESNO | MB_ICONQUESTION | kMbDefaultButton2);
    rig.textUi.boxAnswer = IDYES;
    EXPECT_EQ(rig.files->OfferLastDefinition(), 1);
    EXPECT_TRUE(rig.engine.PropertyManager().IsLoaded());
}

} // namespace

namespace {

// The "sta" query through the running engine: the reply lines reach the handler while the
// worker waits in its drain request, as they do under the main window.
struct StaRig : TextFilesRig {
    StaRig() {
        events.applyReplies = [this](const TransactionReport& report) {
            uint32_t flags = 0;
            for (const std::u16string& line : report.replyLines)
                HandleReplyLine(flags, line);
        };
        engine.StartWorker();
    }
};

TEST(AutoSelect, StaQueryOpensTheMatchingDefinition) {
    StaRig rig;
    rig.CopyIntoCamDefine("XC-100.xml", "xc-100.xml");
    rig.camera.Expect({{10, "sta\r\n>OK\r\n>Model=XC-100\r\n>Ver.=1.02\r\n>Serial=A123\r\n\x04"}});
    rig.engine.SubmitCommandJob(u"sta", true);
    ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded));
    EXPECT_TRUE(rig.engine.PropertyManager().IsLoaded());
    EXPECT_EQ(rig.app.CurrentDefinitionFile(), rig.app.CamDefineFolder() + u"xc-100.xml");
    EXPECT_EQ(rig.engine.CameraSerial(), u"A123");
    EXPECT_TRUE(rig.events.Boxes().empty()); // no "Model not detect"
    EXPECT_FALSE(rig.engine.AutoSelectRequested());
}

TEST(AutoSelect, UnknownModelSaysSoOnce) {
    StaRig rig;
    rig.camera.Expect({{10, ">OK\r\n>Model=QQ-7\r\n\x04"}});
    rig.engine.SubmitCommandJob(u"sta", true);
    ASSERT_TRUE(rig.events.WaitFor(Ev::JobEnded));
    EXPECT_EQ(rig.app.MessageBoxText(), u"Camera define file not found");
    EXPECT_TRUE(rig.events.Boxes().empty()) << "the model was detected: no \"Model not detect\"";
    EXPECT_FALSE(rig.engine.PropertyManager().IsLoaded());
}

} // namespace
