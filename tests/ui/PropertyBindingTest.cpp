// Property bindings: what quillon-cli's text and the window's editor store for the same typed
// value, on a real definition.
#include "app/PropertyBinding.h"

#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace propview;

namespace {

struct BindingCase {
    const char* name;
    const char16_t* property;
    const char16_t* typed;
    const char* refusal;        // Parse's reason, "" when the text is taken
    const char16_t* parsedShow; // the value shown after storing what Parse read
    const char16_t* editorShow; // the value shown after the editor commits the typed text
    bool editorRuns;            // the editor's commit sends the property's commands
};

class PropertyBindingTest : public ::testing::TestWithParam<BindingCase> {
protected:
    void SetUp() override {
        std::filesystem::copy_file(std::string(QUILLON_SOURCE_DIR) +
                                       "/CamDefine/OrvaCamSchema_v1_0.xsd",
                                   dir.file("OrvaCamSchema_v1_0.xsd"));
        for (clCamPropertyMgr* m : {&cli, &window}) {
            m->SetSchemaPathFormat(platform::Utf8ToUtf16(dir.str() + "/OrvaCamSchema_v%d_%d.xsd"));
            ASSERT_EQ(m->Load(platform::Utf8ToUtf16(std::string(QUILLON_SOURCE_DIR) +
                                                    "/CamDefine/XC-100.xml")),
                      kLoadOk);
        }
    }

    TempDir dir;
    clCamPropertyMgr cli;
    clCamPropertyMgr window;
};

} // namespace

TEST_P(PropertyBindingTest, TextAndEditorStoreTheSame) {
    const BindingCase& c = GetParam();
    const auto cliBinding = BindProperty(cli.FindProperty(c.property));
    PropValue parsed;
    bool adjusted = false;
    std::string reason;
    EXPECT_EQ(cliBinding->Parse(cli, c.typed, parsed, adjusted, reason), *c.refusal == 0);
    EXPECT_EQ(reason, c.refusal);
    if (*c.refusal == 0) {
        EXPECT_TRUE(cliBinding->Commit(cli, parsed).run);
        EXPECT_EQ(propvalue::Format(cliBinding->Value(cli)), c.parsedShow);
    }

    // The editor holds a value of the kind the binding shows and commits what was typed into it.
    const auto binding = BindProperty(window.FindProperty(c.property));
    PropValue typed = binding->Value(window);
    ASSERT_TRUE(propvalue::FromText(typed, c.typed));
    const EditResult result = binding->Commit(window, typed);
    EXPECT_EQ(result.run, c.editorRuns);
    EXPECT_EQ(propvalue::Format(result.showChanged ? result.shown : binding->Value(window)),
              c.editorShow);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PropertyBindingTest,
    ::testing::Values(
        BindingCase{"IntegerOnStep", u"Gain", u"57", "", u"57", u"57", true},
        BindingCase{"IntegerOffStepMovesOntoIt", u"BlackLevel", u"7", "", u"6", u"6", true},
        // Out of range: the text is refused, the editor's value is cut to the maximum.
        BindingCase{"IntegerAboveRange", u"Gain", u"241", "241 is out of range 0 to 240", u"",
                    u"240", true},
        BindingCase{"IntegerNotANumber", u"Gain", u"abc", "\"abc\" is not an integer", u"", u"0",
                    true},
        BindingCase{"BoolWord", u"Binning", u"1", "", u"1", u"1", true},
        BindingCase{"BoolOtherWord", u"Binning", u"maybe",
                    "\"maybe\" is not 0, 1, on, off, true or false", u"", u"0", true},
        BindingCase{"Float", u"SensorTemperature", u"-2.5", "", u"-2.500000", u"-2.500000", true},
        // The editor reads the number at the start; the text must be a number whole.
        BindingCase{"FloatWithTrailingText", u"SensorTemperature", u"1.2.3",
                    "\"1.2.3\" is not a number", u"", u"1.200000", true},
        BindingCase{"String", u"UserName", u"Bob", "", u"Bob", u"Bob", true},
        // Too long: the text is refused, the editor's value is cut to the length and stored.
        BindingCase{"StringTooLong", u"UserName", u"ABCDEFGHIJKLMNOPQ",
                    "the text is longer than 16 characters", u"", u"ABCDEFGHIJKLMNOP", true},
        // A control character: neither stores, the editor shows the stored value again.
        BindingCase{"StringWithControlCharacter", u"UserName", u"a\u0001b",
                    "Character 2 is the control character U+0001; nothing was sent.", u"",
                    u"XC-100", false},
        BindingCase{"SelectionByText", u"TestPattern", u"Gray ramp", "", u"Gray ramp", u"Gray ramp",
                    true},
        // A number names an entry by its value for the text, never in the editor's list.
        BindingCase{"SelectionByValue", u"TestPattern", u"2", "", u"Vertical stripes", u"Off",
                    false},
        BindingCase{"SelectionNoEntry", u"TestPattern", u"Plaid",
                    "\"Plaid\" is no entry (Off=0, Gray ramp=1, Vertical stripes=2, Moving "
                    "diagonal=3)",
                    u"", u"Off", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PropertyBinding, EditorsAndRangesOfEachType) {
    clCamPropertyInteger integer;
    integer.hasRange = true;
    clCamPropertyString text;
    clCamPropertySelection selection;
    selection.entryTexts = {u"A", u"B"};
    clCamPropertyMgr mgr;
    int64_t min = 1;
    int64_t max = 2;
    EXPECT_EQ(BindProperty(&integer)->Editor(), EditorKind::Slider);
    EXPECT_EQ(BindProperty(&integer)->ValidChars(), kIntegerChars);
    EXPECT_EQ(BindProperty(&text)->Editor(), EditorKind::Text);
    EXPECT_TRUE(BindProperty(&text)->ValidChars().empty());
    EXPECT_FALSE(BindProperty(&text)->Range(mgr, min, max));
    EXPECT_EQ(BindProperty(&selection)->Entries(), selection.entryTexts);
    const auto unknown = BindProperty(nullptr);
    EXPECT_EQ(unknown->Editor(), EditorKind::Unknown);
    EXPECT_EQ(propvalue::Format(unknown->Value(mgr)), u"unknown");
    EXPECT_FALSE(unknown->Commit(mgr, PropValue()).run);
}
