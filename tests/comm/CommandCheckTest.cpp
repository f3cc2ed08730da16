#include "comm/CommandCheck.h"

#include "platform/Text.h"
#include "support/LocaleScope.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct CheckCase {
    const char* name;
    const char* locale;
    std::u16string text;
    CommandCheck::Fault fault;
    size_t position;
    char32_t character;
};

void PrintTo(const CheckCase& c, std::ostream* os) {
    *os << c.name;
}

class CommandTexts : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CommandTexts, AreFitOrRefusedAtTheFirstFault) {
    const CheckCase& c = GetParam();
    CommandCheck check;
    {
        LocaleScope locale(c.locale);
        if (!locale.ok)
            GTEST_SKIP() << "no locale " << c.locale;
        check = CheckCommandText(c.text);
    }
    EXPECT_EQ(check.fault, c.fault);
    EXPECT_EQ(check.position, c.position);
    EXPECT_EQ(check.character, c.character);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandTexts,
    ::testing::Values(
        CheckCase{"Plain", "C", u"gai 12", CommandCheck::kFit, 0, 0},
        CheckCase{"TabIsKept", "C", u"gai\t12", CommandCheck::kFit, 0, 0},
        CheckCase{"Empty", "C", u"", CommandCheck::kEmpty, 0, 0},
        CheckCase{"CarriageReturnSplitsTheCommand", "C", u"uid AB\rtpn1",
                  CommandCheck::kControlCharacter, 7, U'\r'},
        CheckCase{"LineFeed", "C", u"\nsta", CommandCheck::kControlCharacter, 1, U'\n'},
        CheckCase{"Escape", "C", u"a\x1b[2J", CommandCheck::kControlCharacter, 2, 0x1B},
        CheckCase{"Delete", "C", u"ab\x7f", CommandCheck::kControlCharacter, 3, 0x7F},
        CheckCase{"C1Control", "C.UTF-8", u"a\u009bb", CommandCheck::kControlCharacter, 2, 0x9B},
        CheckCase{"Nul", "C", std::u16string(u"a\0b", 3), CommandCheck::kControlCharacter, 2, 0},
        CheckCase{"NotInAscii", "C", u"uid Müller", CommandCheck::kNotInCodeset, 6, U'ü'},
        // Positions count characters: the pair of the camera emoji is one.
        CheckCase{"PositionAfterAPair", "C", u"\U0001F4F7x露", CommandCheck::kNotInCodeset, 1,
                  0x1F4F7},
        CheckCase{"Utf8HoldsEverything", "C.UTF-8", u"uid Müller 露光", CommandCheck::kFit, 0, 0},
        CheckCase{"ControlBeforeCodeset", "C", u"ü\r", CommandCheck::kControlCharacter, 2, U'\r'}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandCheckText, NamesThePositionTheCharacterAndTheCodeset) {
    std::u16string text;
    {
        LocaleScope ascii("C");
        ASSERT_TRUE(ascii.ok);
        text = CommandCheckText(CheckCommandText(u"uid Müller"));
    }
    EXPECT_EQ(platform::Utf16ToUtf8(text), "Character 6 (U+00FC) cannot be written in the current "
                                           "codeset (ANSI_X3.4-1968); nothing was sent.");
    EXPECT_EQ(CommandCheckText(CheckCommandText(u"sta")), u"");
}

} // namespace
