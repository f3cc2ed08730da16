// The property view's window-less rules: integer commits, string cuts, entry lookup, labels and
// descriptions, enable states, slider pacing, and the value texts of the grid.
#include "ui/PropertyViewLogic.h"

#include "app/PropValue.h"
#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <limits>

using namespace propview;

namespace {

constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();

struct CommitCase {
    const char* name;
    int64_t typed, min, max, inc;
    int64_t stored;
    bool adjusted;
};

class IntegerCommitTest : public ::testing::TestWithParam<CommitCase> {};

} // namespace

TEST_P(IntegerCommitTest, StepThenMaximumThenMinimum) {
    const CommitCase& c = GetParam();
    const IntegerCommit r = CommitInteger(c.typed, c.min, c.max, c.inc);
    EXPECT_EQ(r.value, c.stored);
    EXPECT_EQ(r.adjusted, c.adjusted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntegerCommitTest,
    ::testing::Values(
        CommitCase{"OffStepRoundsDown", 57, 0, 100, 10, 50, true},
        CommitCase{"OnStepKept", 60, 0, 100, 10, 60, false},
        CommitCase{"AboveMaxCut", 250, 0, 100, 10, 100, true},
        CommitCase{"NegativeTruncatesTowardZeroThenMin", -3, 0, 100, 10, 0, true},
        CommitCase{"NegativeStepTowardZero", -20, -100, 100, 7, -14, true},
        CommitCase{"StepAboveMaxStillCut", 105, 0, 100, 7, 100, true},
        CommitCase{"ZeroStepNoAdjustment", 57, 0, 100, 0, 57, false},
        CommitCase{"ZeroStepStillClamped", -5, 0, 100, 0, 0, true},
        CommitCase{"NegativeStepActsLikeItsMagnitude", 57, 0, 100, -10, 50, true},
        CommitCase{"MinusOneStepAtInt64Min", kMin64, kMin64, kMax64, -1, kMin64, false},
        CommitCase{"StepAtInt64Min", kMin64, kMin64, kMax64, 3, kMin64 + 2, true},
        CommitCase{"SixtyFourBitBounds", 99999999999, -9999999999, 9999999999, 1, 9999999999, true},
        CommitCase{"MinAboveMaxGivesMin", 5, 10, 0, 1, 10, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PropertyViewLogic, StringCutToLength) {
    std::u16string text = u"ABCDEFG";
    EXPECT_TRUE(CutToLength(text, 5));
    EXPECT_EQ(text, u"ABCDE");
    EXPECT_FALSE(CutToLength(text, 5));
    EXPECT_FALSE(CutToLength(text, 55));
    std::u16string negative = u"AB";
    EXPECT_TRUE(CutToLength(negative, -3));
    EXPECT_EQ(negative, u"");
    // A character of two units is left out whole rather than split.
    std::u16string wide = u"A\U0001F600B";
    EXPECT_TRUE(CutToLength(wide, 2));
    EXPECT_EQ(wide, u"A");
}

TEST(PropertyViewLogic, FirstEntryOfADuplicateText) {
    clCamPropertySelection s;
    s.entryTexts = {u"A", u"B", u"A"};
    s.entryValues = {3, 5, 7};
    EXPECT_EQ(FindEntryByText(s, u"A"), 0);
    EXPECT_EQ(FindEntryByText(s, u"B"), 1);
    EXPECT_EQ(FindEntryByText(s, u"a"), -1);
    EXPECT_EQ(FindEntryByText(s, u""), -1);
    // An entry text without a value counts as no entry.
    s.entryTexts.push_back(u"C");
    EXPECT_EQ(FindEntryByText(s, u"C"), -1);
}

TEST(PropertyViewLogic, LabelsFallBackToEnglishThenTheName) {
    clCamPropertyInteger p;
    p.name = u"Gain";
    EXPECT_EQ(ItemLabel(&p, u"ja"), u"Gain");
    p.title.Set(u"en", u"Gain (dB)");
    EXPECT_EQ(ItemLabel(&p, u"ja"), u"Gain (dB)");
    p.title.Set(u"ja", u"\u30B2\u30A4\u30F3");
    EXPECT_EQ(ItemLabel(&p, u"ja"), u"\u30B2\u30A4\u30F3");
    EXPECT_EQ(ItemLabel(&p, u"en"), u"Gain (dB)");
    p.title.Set(u"ja", u"");
    EXPECT_EQ(ItemLabel(&p, u"ja"), u"Gain (dB)");
    EXPECT_EQ(ItemLabel(nullptr, u"en"), u"");

    clCamTreeNode group;
    group.title.Set(u"ja", u"\u753B\u8CEA");
    EXPECT_EQ(GroupTitle(group), u"") << "group rows take the English title alone";
    group.title.Set(u"en", u"Image");
    EXPECT_EQ(GroupTitle(group), u"Image");
}

TEST(PropertyViewLogic, DescriptionLinesWithReferencedRange) {
    TempDir dir;
    std::filesystem::copy_file(std::string(QUILLON_SOURCE_DIR) +
                                   "/CamDefine/OrvaCamSchema_v1_0.xsd",
                               dir.file("OrvaCamSchema_v1_0.xsd"));
    clCamPropertyMgr mgr;
    mgr.SetSchemaPathFormat(platform::Utf8ToUtf16(dir.str() + "/OrvaCamSchema_v%d_%d.xsd"));
    ASSERT_EQ(
        mgr.Load(platform::Utf8ToUtf16(std::string(QUILLON_SOURCE_DIR) + "/CamDefine/XC-100.xml")),
        kLoadOk);

    // Range from the referenced properties, the note in the UI language.
    const clCamProperty* exposure = mgr.FindProperty(u"ExposureTime");
    EXPECT_EQ(BuildDescription(mgr, exposure, true, u"en"),
              u"Note  : Exposure time in microseconds. The range follows the frame period.\n"
              u"Range : 10 to 33000\n"
              u"Unit  : us\n");
    EXPECT_EQ(BuildDescription(mgr, exposure, false, u"en"),
              u"Note  : Exposure time in microseconds. The range follows the frame period.\n"
              u"Unit  : us\n");
    EXPECT_TRUE(BuildDescription(mgr, exposure, true, u"ja").starts_with(u"Note  : \u9732"));
    // No range element: no range line even for an Integer item.
    EXPECT_EQ(BuildDescription(mgr, mgr.FindProperty(u"ExposureMin"), true, u"en"),
              u"Unit  : us\n");
    EXPECT_EQ(BuildDescription(mgr, mgr.FindProperty(u"ReadTemperature"), false, u"en"), u"");
    EXPECT_EQ(BuildDescription(mgr, nullptr, true, u"en"), u"");

    // A note made of format characters is shown as it is.
    clCamPropertyString s;
    s.note.Set(u"en", u"100%s %lld");
    EXPECT_EQ(BuildDescription(mgr, &s, false, u"en"), u"Note  : 100%s %lld\n");
}

TEST(PropertyViewLogic, EnabledOnlyWhenReadyKnownAndWritable) {
    clCamPropertyInteger rw, ro, wo;
    rw.accessMode = kAccessReadWrite;
    ro.accessMode = kAccessReadOnly;
    wo.accessMode = kAccessWriteOnly;
    EXPECT_TRUE(IsItemEnabled(true, 0, &rw));
    EXPECT_TRUE(IsItemEnabled(true, 0, &wo));
    EXPECT_FALSE(IsItemEnabled(true, 0, &ro));
    EXPECT_FALSE(IsItemEnabled(false, 0, &rw));
    EXPECT_FALSE(IsItemEnabled(true, -1, nullptr));
    EXPECT_FALSE(IsItemEnabled(true, 6, &rw));
    EXPECT_TRUE(IsWritable(nullptr));
    rw.accessMode = 3; // an unknown mode with bit 1 set is not writable
    EXPECT_FALSE(IsWritable(&rw));
}

TEST(PropertyViewLogic, HeldArrowMovesEverySixthRepeatHeldPageEverySecond) {
    SliderRepeat state;
    int pos = 0;
    int slider = 10; // where the slider itself would go
    std::vector<int> moves;
    for (int i = 0; i < 13; ++i) {
        if (MoveSlider(state, SliderAction::Line, ++slider, 0, 100, pos))
            moves.push_back(i);
        else
            slider = pos; // put back
    }
    EXPECT_EQ(moves, (std::vector<int>{0, 6, 12}));
    EXPECT_EQ(state.lastPosition, 13);

    // The release ends the run: the next press moves at once.
    ASSERT_TRUE(MoveSlider(state, SliderAction::End, slider, 0, 100, pos));
    EXPECT_TRUE(MoveSlider(state, SliderAction::Line, slider + 1, 0, 100, pos));
    EXPECT_FALSE(MoveSlider(state, SliderAction::Line, slider + 2, 0, 100, pos));

    SliderRepeat page;
    moves.clear();
    for (int i = 0; i < 7; ++i)
        if (MoveSlider(page, SliderAction::Page, 50, 0, 100, pos))
            moves.push_back(i);
    EXPECT_EQ(moves, (std::vector<int>{0, 2, 4, 6}));

    // A change of kind moves at once; jumps go to the ends; positions stay in range.
    EXPECT_TRUE(MoveSlider(page, SliderAction::Line, 51, 0, 100, pos));
    EXPECT_TRUE(MoveSlider(page, SliderAction::ToStart, 51, -5, 5, pos));
    EXPECT_EQ(pos, -5);
    EXPECT_TRUE(MoveSlider(page, SliderAction::ToEnd, 51, -5, 5, pos));
    EXPECT_EQ(pos, 5);
    EXPECT_TRUE(MoveSlider(page, SliderAction::Track, 99, -5, 5, pos));
    EXPECT_EQ(pos, 5);
    EXPECT_EQ(page.lastPosition, 5);
}

TEST(PropValueText, FormatsAndReadsEachKind) {
    using namespace propvalue;
    EXPECT_EQ(Format(PropValue(int64_t{-9223372036854775807 - 1})), u"-9223372036854775808");
    EXPECT_EQ(Format(PropValue(uint64_t{18446744073709551615u})), u"18446744073709551615");
    EXPECT_EQ(Format(PropValue(int32_t{1})), u"1");
    EXPECT_EQ(Format(PropValue(1.5)), u"1.500000");
    EXPECT_EQ(Format(PropValue(-0.25)), u"-0.250000");
    EXPECT_EQ(Format(PropValue(std::u16string(u"x"))), u"x");
    EXPECT_EQ(Format(PropValue()), u"");

    PropValue i = int64_t{5};
    EXPECT_TRUE(FromText(i, u"  -42abc"));
    EXPECT_EQ(std::get<int64_t>(i), -42);
    EXPECT_TRUE(FromText(i, u"-"));
    EXPECT_EQ(std::get<int64_t>(i), 0) << "no digits give 0";
    EXPECT_TRUE(FromText(i, u"+17"));
    EXPECT_EQ(std::get<int64_t>(i), 17);
    EXPECT_TRUE(FromText(i, u"99999999999999999999"));
    EXPECT_EQ(std::get<int64_t>(i), std::numeric_limits<int64_t>::max());
    EXPECT_TRUE(FromText(i, u"-99999999999999999999"));
    EXPECT_EQ(std::get<int64_t>(i), std::numeric_limits<int64_t>::min());

    PropValue small = int32_t{0};
    EXPECT_TRUE(FromText(small, u"3000000000"));
    EXPECT_EQ(std::get<int32_t>(small), std::numeric_limits<int32_t>::max());
    PropValue unsignedValue = uint32_t{4};
    EXPECT_TRUE(FromText(unsignedValue, u"-1"));
    EXPECT_EQ(std::get<uint32_t>(unsignedValue), 0u);

    PropValue d = 0.0;
    EXPECT_TRUE(FromText(d, u" -1.25x"));
    EXPECT_DOUBLE_EQ(std::get<double>(d), -1.25);
    EXPECT_TRUE(FromText(d, u"."));
    EXPECT_DOUBLE_EQ(std::get<double>(d), 0.0);
    EXPECT_TRUE(FromText(d, u"1" + std::u16string(400, u'0')));
    EXPECT_DOUBLE_EQ(std::get<double>(d), std::numeric_limits<double>::max());

    PropValue empty;
    EXPECT_FALSE(FromText(empty, u"1"));

    EXPECT_EQ(ClampToInt32(-9999999999), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ClampToInt32(9999999999), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ClampToInt32(-100), -100);
    PropValue stored = int16_t{0};
    StoreInteger(stored, 70000);
    EXPECT_EQ(std::get<int16_t>(stored), static_cast<int16_t>(70000));
    EXPECT_TRUE(IsInteger(stored));
    EXPECT_FALSE(IsInteger(PropValue(1.0)));
}
