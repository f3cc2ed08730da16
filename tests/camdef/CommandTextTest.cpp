// Command texts composed from the values, and reply lines read back: command echoes through
// both ways of splitting, and information replies through their templates.
#include "DefinitionFixture.h"

#include <gtest/gtest.h>
#include <string>

namespace {

class CommandText : public DefinitionTest {
protected:
    // Properties P (Integer 100), Q (Integer -5), B (Bool, on 5, off 9), S (Selection 2),
    // T (String), F (Float), E (Execution), and the commands and informations of `more`.
    int LoadWith(const std::string& more) {
        return LoadBody(R"(
            <Property_Integer Name="P"><Value>100</Value></Property_Integer>
            <Property_Integer Name="Q"><Value>-5</Value></Property_Integer>
            <Property_Bool Name="B"><OnValue>5</OnValue><OffValue>9</OffValue></Property_Bool>
            <Property_Selection Name="S"><Value>2</Value></Property_Selection>
            <Property_String Name="T"><Value>hello world</Value><Length>8</Length>
            </Property_String>
            <Property_Float Name="F"><Value>1.5</Value></Property_Float>
            <Property_Execution Name="E"/>
        )" + more);
    }
    static std::string Command(const std::string& name, const std::string& style,
                               std::initializer_list<const char*> slots) {
        std::string s =
            "<TARNCommand Name=\"" + name + "\"><MessageStyle>" + style + "</MessageStyle>";
        for (const char* slot : slots)
            s += std::string("<CommandValue><PropertyName>") + slot +
                 "</PropertyName></CommandValue>";
        return s + "</TARNCommand>";
    }
    static std::string Information(const std::string& keyword, const std::string& style,
                                   const std::string& templ, const std::string& property) {
        return "<Information Name=\"i\"><Keyword>" + keyword + "</Keyword><InformationStyle>" +
               style + "</InformationStyle><TemplateString>" + templ +
               "</TemplateString><PropertyName>" + property + "</PropertyName></Information>";
    }
    std::u16string Compose(std::u16string_view command) {
        std::u16string text = u"<untouched>";
        EXPECT_EQ(mgr.ComposeCommand(mgr.FindCommand(command), text), 0);
        return text;
    }
    // Parses one line; returns handled, and the updated flag through `updated`.
    bool Parse(std::u16string_view line, int& updated) {
        updated = 0;
        return mgr.ParseReplyLine(line, updated);
    }
    bool Parse(std::u16string_view line) {
        int updated = 0;
        return mgr.ParseReplyLine(line, updated);
    }
    int64_t Int(std::u16string_view name) { return IntValue(name); }
    int32_t State(std::u16string_view name) { return Get<clCamPropertyBool>(name)->state; }
};

// --- Composition -------------------------------------------------------------------------

TEST_F(CommandText, ComposeByStyle) {
    ASSERT_EQ(LoadWith(Command("sac", "SpaceAndComma", {"P", "Q"}) +
                       Command("one", "SpaceAndComma", {"P"}) +
                       Command("nos", "NoSeparate", {"P", "Q", "S"}) +
                       Command("co", "CommandOnly", {"P"}) + Command("unk", "Other", {"P"}) +
                       Command("gap", "SpaceAndComma", {"P", "nothing", "Q"}) +
                       Command("first", "SpaceAndComma", {"nothing", "P"}) +
                       Command("none", "SpaceAndComma", {}) +
                       Command("kinds", "SpaceAndComma", {"B", "S", "T"})),
              kLoadOk);
    EXPECT_EQ(Compose(u"sac"), u"sac 100,-5");
    EXPECT_EQ(Compose(u"one"), u"one 100"); // a space, no comma
    EXPECT_EQ(Compose(u"nos"), u"nos100");  // only the first slot
    EXPECT_EQ(Compose(u"co"), u"co");
    EXPECT_EQ(Compose(u"unk"), u"unk");
    EXPECT_EQ(Compose(u"gap"), u"gap 100"); // stops at the slot naming no property
    EXPECT_EQ(Compose(u"first"), u"first");
    EXPECT_EQ(Compose(u"none"), u"none");
    // A Bool sends its off number, never a word; a String goes as it is.
    EXPECT_EQ(Compose(u"kinds"), u"kinds 9,2,hello world");
    mgr.SetBoolValue(Get<clCamPropertyBool>(u"B"), 1);
    EXPECT_EQ(Compose(u"kinds"), u"kinds 5,2,hello world");
    std::u16string text = u"kept";
    EXPECT_EQ(mgr.ComposeCommand(nullptr, text), 1);
    EXPECT_EQ(text, u"kept");
}

TEST_F(CommandText, ValueTextsAreLow32BitsOfTheEffectiveValue) {
    ASSERT_EQ(LoadWith(R"(
        <Property_Integer Name="big"><Value>0</Value></Property_Integer>
        <Property_Integer Name="indexed"><pIndex>B</pIndex><ValueIndexed Index="0">-7</ValueIndexed>
        </Property_Integer>
    )" + Command("c", "SpaceAndComma", {"big", "indexed"})),
              kLoadOk);
    Get<clCamPropertyInteger>(u"big")->value = 4294967296 + 12; // 2^32 + 12
    EXPECT_EQ(Compose(u"c"), u"c 12,-7");
    Get<clCamPropertyInteger>(u"big")->value = 2147483648; // 2^31
    EXPECT_EQ(Compose(u"c"), u"c -2147483648,-7");
    std::u16string text = u"kept";
    EXPECT_EQ(mgr.GetValueText(u"nothing", text), 1);
    EXPECT_EQ(text, u"kept");
}

// A Float or Execution property in a command slot: the Float sends its own value (the shortest
// text that reads back to it), the Execution nothing; neither repeats the slot before it.
TEST_F(CommandText, FloatAndExecutionSlotsSendTheirOwnValue) {
    ASSERT_EQ(LoadWith(Command("mix", "SpaceAndComma", {"P", "F", "E", "Q"}) +
                       Command("fl", "NoSeparate", {"F"}) +
                       Command("ex", "SpaceAndComma", {"E", "P"})),
              kLoadOk);
    EXPECT_EQ(Compose(u"mix"), u"mix 100,1.5,,-5");
    EXPECT_EQ(Compose(u"fl"), u"fl1.5");
    mgr.SetFloatValue(Get<clCamPropertyFloat>(u"F"), 0.1);
    EXPECT_EQ(Compose(u"fl"), u"fl0.1");
    mgr.SetFloatValue(Get<clCamPropertyFloat>(u"F"), -36.6f);
    EXPECT_EQ(Compose(u"fl"), u"fl-36.599998474121094");
    EXPECT_EQ(Compose(u"ex"), u"ex ,100");
}

// --- Splitting -------------------------------------------------------------------------------

struct Split {
    std::u16string line;
    int mode;
    std::u16string word;
    std::u16string rest;
};

class SplitReplyLine : public ::testing::TestWithParam<Split> {};

TEST_P(SplitReplyLine, WordAndRest) {
    std::u16string word = u"x", rest = u"y";
    clCamPropertyMgr::SplitReplyLine(GetParam().line, GetParam().mode, word, rest);
    EXPECT_EQ(word, GetParam().word);
    EXPECT_EQ(rest, GetParam().rest);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SplitReplyLine,
    ::testing::Values(Split{u"cmd 100,5", 2, u"cmd", u"100,5"}, Split{u" cmd 10", 2, u"cmd", u"10"},
                      Split{u",\r cmd,10", 2, u"cmd", u"10"}, Split{u"cmd\r10", 2, u"cmd", u"10"},
                      Split{u"cmd  10", 2, u"cmd", u" 10"}, // only the one delimiter after the word
                      Split{u"cmd", 2, u"cmd", u""}, Split{u"cmd ", 2, u"cmd", u""},
                      Split{u"", 2, u"", u""}, Split{u" ,, \r", 2, u"", u""},
                      Split{u"cmd\t1", 2, u"cmd\t1", u""}, Split{u"cmd-3", 1, u"cmd", u"-3"},
                      Split{u"cmd100", 1, u"cmd", u"100"}, Split{u"cmd+7 x", 1, u"cmd", u"+7 x"},
                      Split{u"cmd 5", 1, u"cmd ", u"5"}, Split{u"-3", 1, u"", u""},
                      Split{u"12cmd", 1, u"", u""}, Split{u"", 1, u"", u""},
                      Split{u"cmd", 1, u"cmd", u""},
                      Split{u"abcdefghijklmnopqrstuvwxyz1", 1, u"abcdefghijklmnopqrst", u"uvwxyz1"},
                      Split{u"cmd 5", 3, u"", u""}));

TEST(SplitReplyLineWindow, OnlyTheFirst256CharactersCount) {
    std::u16string word, rest;
    std::u16string line = u"cmd " + std::u16string(300, u'7');
    clCamPropertyMgr::SplitReplyLine(line, 2, word, rest);
    EXPECT_EQ(word, u"cmd");
    EXPECT_EQ(rest, std::u16string(252, u'7'));
    clCamPropertyMgr::SplitReplyLine(std::u16string(256, u' ') + u"cmd", 2, word, rest);
    EXPECT_EQ(word, u"");
    clCamPropertyMgr::SplitReplyLine(std::u16string(255, u'a') + u"1", 1, word, rest);
    EXPECT_EQ(word, std::u16string(20, u'a'));
    EXPECT_EQ(rest.size(), 236u);
}

// --- Command echoes ------------------------------------------------------------------------

TEST_F(CommandText, EchoSetsTheSlotsInOrder) {
    ASSERT_EQ(LoadWith(Command("cmd", "SpaceAndComma", {"P", "Q"})), kLoadOk);
    int updated = 0;
    EXPECT_TRUE(Parse(u"cmd 10 , 20", updated));
    EXPECT_EQ(updated, 1);
    EXPECT_EQ(Int(u"P"), 10);
    EXPECT_EQ(Int(u"Q"), 20);
    EXPECT_TRUE(Parse(u" cmd 11"));
    EXPECT_EQ(Int(u"P"), 11);
    EXPECT_EQ(Int(u"Q"), 0); // the first slot without a token reads an empty token
    Get<clCamPropertyInteger>(u"Q")->value = 4;
    EXPECT_TRUE(Parse(u"cmd,,12abc,,,-13\r"));
    EXPECT_EQ(Int(u"P"), 12);
    EXPECT_EQ(Int(u"Q"), -13);
    EXPECT_TRUE(Parse(u"cmd 99999999999,-99999999999"));
    EXPECT_EQ(Int(u"P"), 2147483647);
    EXPECT_EQ(Int(u"Q"), -2147483648);
}

TEST_F(CommandText, FewerTokensThanSlots) {
    ASSERT_EQ(LoadWith(R"(<Property_Integer Name="R"><Value>7</Value></Property_Integer>)" +
                       Command("cmd", "SpaceAndComma", {"P", "Q", "R"})),
              kLoadOk);
    EXPECT_TRUE(Parse(u"cmd 1"));
    EXPECT_EQ(Int(u"P"), 1);
    EXPECT_EQ(Int(u"Q"), 0);
    EXPECT_EQ(Int(u"R"), 7); // the slots after the first one without a token stay as they were
    EXPECT_TRUE(Parse(u"cmd 2,"));
    EXPECT_EQ(Int(u"P"), 2);
    EXPECT_EQ(Int(u"Q"), 0);
    EXPECT_EQ(Int(u"R"), 7);
}

TEST_F(CommandText, NoSeparateReadsOnlyTheFirstSlot) {
    ASSERT_EQ(LoadWith(Command("cmd", "NoSeparate", {"P", "Q", "S"})), kLoadOk);
    EXPECT_TRUE(Parse(u"cmd-3")); // mode 2 finds no "cmd-3", mode 1 splits it
    EXPECT_EQ(Int(u"P"), -3);
    EXPECT_EQ(Int(u"Q"), -5);
    EXPECT_TRUE(Parse(u"cmd 4,8,1")); // mode 2
    EXPECT_EQ(Int(u"P"), 4);
    EXPECT_EQ(Int(u"Q"), -5);
    EXPECT_EQ(Get<clCamPropertySelection>(u"S")->value, 2);
}

TEST_F(CommandText, SlotKindsReadBack) {
    ASSERT_EQ(LoadWith(Command("cmd", "SpaceAndComma", {"B", "T", "S", "F", "E", "nothing", "P"})),
              kLoadOk);
    // B reads 5 (its on number); T consumes nothing; S reads 3; F and E consume "8" and "9"
    // without a change; the missing slot consumes nothing; P reads 10.
    EXPECT_TRUE(Parse(u"cmd 5,3,8,9,10,11"));
    EXPECT_EQ(State(u"B"), 1);
    EXPECT_EQ(Get<clCamPropertyString>(u"T")->value, u"hello world");
    EXPECT_EQ(Get<clCamPropertySelection>(u"S")->value, 3);
    EXPECT_EQ(FloatValue(u"F"), 1.5);
    EXPECT_EQ(Int(u"P"), 10);
    EXPECT_TRUE(Parse(u"cmd 1,3,8,9,10"));
    EXPECT_EQ(State(u"B"), 0); // anything but the on number is off, the off number 9 too
    EXPECT_TRUE(Parse(u"cmd 9"));
    EXPECT_EQ(State(u"B"), 0);
}

TEST_F(CommandText, EchoWithoutValues) {
    ASSERT_EQ(LoadWith(Command("co", "CommandOnly", {"P"}) + Command("none", "SpaceAndComma", {}) +
                       Command("unk", "Other", {"P"})),
              kLoadOk);
    int updated = 0;
    EXPECT_TRUE(Parse(u"co 5", updated)); // handled, nothing applied
    EXPECT_EQ(updated, 0);
    EXPECT_EQ(Int(u"P"), 100);
    EXPECT_TRUE(Parse(u"none 5", updated));
    EXPECT_EQ(updated, 0);
    EXPECT_TRUE(Parse(u"unk 5", updated)); // an unknown style reads every slot
    EXPECT_EQ(updated, 1);
    EXPECT_EQ(Int(u"P"), 5);
    EXPECT_FALSE(Parse(u"other 5", updated));
    EXPECT_FALSE(Parse(u"", updated));
    EXPECT_FALSE(Parse(u"12", updated));
    EXPECT_EQ(updated, 0);
}

TEST_F(CommandText, UpdatedFlagIsNeverCleared) {
    ASSERT_EQ(LoadWith(Command("cmd", "SpaceAndComma", {"P"})), kLoadOk);
    int updated = 1;
    EXPECT_FALSE(mgr.ParseReplyLine(u"unknown", updated));
    EXPECT_EQ(updated, 1);
}

TEST_F(CommandText, EchoRereadsDependentCalculators) {
    ASSERT_EQ(LoadWith(R"(<Calculator_Integer Name="twice"><pVariable Name="P">P</pVariable>
        <Dependence>P</Dependence><Formula>P * 2</Formula></Calculator_Integer>)" +
                       Command("cmd", "SpaceAndComma", {"P"})),
              kLoadOk);
    EXPECT_EQ(Int(u"twice"), 200);
    EXPECT_TRUE(Parse(u"cmd 21"));
    EXPECT_EQ(Int(u"twice"), 42);
}

// --- Information replies -----------------------------------------------------------------

TEST_F(CommandText, InformationComesFirstAndMustStartTheLine) {
    ASSERT_EQ(LoadWith(Information("P=", "SingleInteger", "%d", "P") +
                       Command("P=", "SpaceAndComma", {"Q"}) +
                       Command("xP=", "SpaceAndComma", {"Q"})),
              kLoadOk);
    int updated = 0;
    EXPECT_TRUE(Parse(u"P= 7", updated));
    EXPECT_EQ(updated, 1);
    EXPECT_EQ(Int(u"P"), 7);
    EXPECT_EQ(Int(u"Q"), -5); // the command of the same word is not consulted
    // Starting with the keyword's first character is enough; the value follows the keyword.
    EXPECT_TRUE(Parse(u"Pressure P=8"));
    EXPECT_EQ(Int(u"P"), 8);
    // A line starting with another character is no information reply, even with the keyword.
    EXPECT_TRUE(Parse(u"xP= 9"));
    EXPECT_EQ(Int(u"P"), 8);
    EXPECT_EQ(Int(u"Q"), 9);
    EXPECT_FALSE(Parse(u" P=10"));
    EXPECT_EQ(Int(u"P"), 8);
    // A keyword reply without a value is still handled, changes nothing, and says so.
    bool unread = false;
    updated = 0;
    EXPECT_TRUE(mgr.ParseReplyLine(u"P=8", updated, &unread));
    EXPECT_FALSE(unread);
    EXPECT_TRUE(mgr.ParseReplyLine(u"P=?", updated, &unread));
    EXPECT_TRUE(unread);
    EXPECT_EQ(Int(u"P"), 8);
}

TEST_F(CommandText, FirstMatchingInformationInFileOrder) {
    ASSERT_EQ(LoadWith(Information("AB", "SingleInteger", "%d", "P") +
                       Information("A", "SingleInteger", "%d", "Q") +
                       Information("ABC", "SingleInteger", "%d", "S")),
              kLoadOk);
    EXPECT_TRUE(Parse(u"A 3"));
    EXPECT_EQ(Int(u"Q"), 3);
    EXPECT_TRUE(Parse(u"ABC4"));
    EXPECT_EQ(Int(u"P"), 100); // "AB" matched first, and "C4" is no number
    EXPECT_EQ(Get<clCamPropertySelection>(u"S")->value, 2);
    EXPECT_TRUE(Parse(u"AB5 AB6"));
    EXPECT_EQ(Int(u"P"), 5); // after the first occurrence
}

TEST_F(CommandText, SingleIntegerIntoEachKind) {
    ASSERT_EQ(LoadWith(Information("I=", "SingleInteger", "%d", "P") +
                       Information("B=", "SingleInteger", "%d", "B") +
                       Information("F=", "SingleInteger", "%d", "F") +
                       Information("S=", "SingleInteger", "%d", "S") +
                       Information("T=", "SingleInteger", "%d", "T") +
                       Information("M=", "SingleInteger", "%d", "missing") +
                       Information("W=", "SingleInteger", "%f", "P") +
                       Information("C=", "SingleInteger", "%d\\r", "P") +
                       Information("K=", "SingleInteger", "[%d]", "P")),
              kLoadOk);
    int updated = 0;
    EXPECT_TRUE(Parse(u"I=-12", updated));
    EXPECT_EQ(updated, 1);
    EXPECT_EQ(Int(u"P"), -12);
    EXPECT_TRUE(Parse(u"B=5"));
    EXPECT_EQ(State(u"B"), 1);
    EXPECT_TRUE(Parse(u"B=1"));
    EXPECT_EQ(State(u"B"), 0);
    EXPECT_TRUE(Parse(u"F=3"));
    EXPECT_EQ(FloatValue(u"F"), 3.0);
    EXPECT_TRUE(Parse(u"S=4"));
    EXPECT_EQ(Get<clCamPropertySelection>(u"S")->value, 4);
    for (const char16_t* line : {u"T=4", u"M=4", u"W=4", u"I=", u"I=x1"}) {
        EXPECT_TRUE(Parse(line, updated)) << platform::Utf16ToUtf8(line);
        EXPECT_EQ(updated, 0) << platform::Utf16ToUtf8(line);
    }
    EXPECT_EQ(Get<clCamPropertyString>(u"T")->value, u"hello world");
    // "\r" in the template matches any white space after the number, also none.
    EXPECT_TRUE(Parse(u"C=21", updated));
    EXPECT_EQ(Int(u"P"), 21);
    EXPECT_TRUE(Parse(u"C= 22 \r\n", updated));
    EXPECT_EQ(Int(u"P"), 22);
    EXPECT_TRUE(Parse(u"K=[ 23]", updated));
    EXPECT_EQ(Int(u"P"), 23);
    EXPECT_TRUE(Parse(u"K=23", updated));
    EXPECT_EQ(updated, 0);
    EXPECT_EQ(Int(u"P"), 23);
}

TEST_F(CommandText, SingleFloatAtSinglePrecision) {
    ASSERT_EQ(LoadWith(Information("TEMP=", "SingleFloat", "%f", "F") +
                       Information("WIDE=", "SingleFloat", "%lf", "F") +
                       Information("INT=", "SingleFloat", "%f", "P") +
                       Information("NOF=", "SingleFloat", "%d", "F") +
                       Information("UNIT=", "SingleFloat", "%f C", "F")),
              kLoadOk);
    int updated = 0;
    EXPECT_TRUE(Parse(u"TEMP=36.6", updated));
    EXPECT_EQ(updated, 1);
    EXPECT_EQ(FloatValue(u"F"), 36.59999847412109375);
    EXPECT_TRUE(Parse(u"TEMP= -1e-3xyz"));
    EXPECT_EQ(FloatValue(u"F"), static_cast<double>(-1e-3f));
    EXPECT_TRUE(Parse(u"WIDE=36.6")); // "%lf" is no "%f": the template is refused
    EXPECT_EQ(FloatValue(u"F"), static_cast<double>(-1e-3f));
    EXPECT_TRUE(Parse(u"UNIT=12.5C"));
    EXPECT_EQ(FloatValue(u"F"), 12.5);
    for (const char16_t* line : {u"INT=4", u"NOF=4", u"TEMP=", u"TEMP=.", u"TEMP=abc"}) {
        EXPECT_TRUE(Parse(line, updated)) << platform::Utf16ToUtf8(line);
        EXPECT_EQ(updated, 0) << platform::Utf16ToUtf8(line);
    }
    EXPECT_EQ(FloatValue(u"F"), 12.5);
    EXPECT_EQ(Int(u"P"), 100);
}

TEST_F(CommandText, SingleStringWidths) {
    ASSERT_EQ(LoadWith(R"(<Property_String Name="Long"><Length>300</Length></Property_String>
        <Property_String Name="Zero"><Length>0</Length></Property_String>)" +
                       Information("W8=", "SingleString", "%8s", "Long") +
                       Information("NW=", "SingleString", "%s", "T") +
                       Information("ZW=", "SingleString", "%0s", "T") +
                       Information("BIG=", "SingleString", "%12s", "T") +
                       Information("NP=", "SingleString", "id", "Long") +
                       Information("DEF=", "SingleString", "%%%s", "T") +
                       Information("ZL=", "SingleString", "%s", "Zero") +
                       Information("INT=", "SingleString", "%s", "P") +
                       Information("C=", "SingleString", "%3c", "Long")),
              kLoadOk);
    auto* t = Get<clCamPropertyString>(u"T"); // length 8
    auto* l = Get<clCamPropertyString>(u"Long");
    int updated = 0;
    EXPECT_TRUE(Parse(u"W8=ABCDEFGHIJ", updated));
    EXPECT_EQ(updated, 1);
    EXPECT_EQ(l->value, u"ABCDEFGH");
    EXPECT_TRUE(Parse(u"W8=  AB CD"));
    EXPECT_EQ(l->value, u"AB");
    // No width: the property's length (8) bounds the text; a longer token is cut.
    EXPECT_TRUE(Parse(u"NW=" + std::u16string(5000, u'x')));
    EXPECT_EQ(t->value, std::u16string(8, u'x'));
    EXPECT_TRUE(Parse(u"ZW=0123456789"));
    EXPECT_EQ(t->value, u"01234567");
    // An explicit width larger than the length is the template's own choice.
    EXPECT_TRUE(Parse(u"BIG=0123456789ABCDEF"));
    EXPECT_EQ(t->value, u"0123456789AB");
    // The first '%' gives the width; a later conversion cannot read beyond it either.
    EXPECT_TRUE(Parse(u"DEF=%abcdefghijk"));
    EXPECT_EQ(t->value, u"abcdefgh");
    EXPECT_TRUE(Parse(u"C=abcdef"));
    EXPECT_EQ(l->value, u"abc");
    for (const char16_t* line : {u"NP=abc", u"ZL=abc", u"INT=abc", u"W8=", u"W8=   "}) {
        EXPECT_TRUE(Parse(line, updated)) << platform::Utf16ToUtf8(line);
        EXPECT_EQ(updated, 0) << platform::Utf16ToUtf8(line);
    }
    EXPECT_EQ(l->value, u"abc");
    EXPECT_EQ(Get<clCamPropertyString>(u"Zero")->value, u"");
}

TEST_F(CommandText, TwoIntegersAndUnknownStylesReadNothing) {
    ASSERT_EQ(LoadWith(Information("TWO=", "TwoIntegers", "%d,%d", "P") +
                       Information("UNK=", "Whatever", "%d", "P") +
                       R"(<Information Name="none"><Keyword>NONE=</Keyword>
                            <InformationStyle>SingleInteger</InformationStyle>
                            <TemplateString>%d</TemplateString></Information>)"),
              kLoadOk);
    int updated = 0;
    for (const char16_t* line : {u"TWO=1,2", u"UNK=3", u"NONE=4"}) {
        EXPECT_TRUE(Parse(line, updated)) << platform::Utf16ToUtf8(line);
        EXPECT_EQ(updated, 0);
    }
    EXPECT_EQ(Int(u"P"), 100);
}

TEST_F(CommandText, ExactlyOneConversionCounts) {
    ASSERT_EQ(LoadWith(Information("TWO=", "SingleInteger", "%d %d", "P") +
                       Information("SKIP=", "SingleInteger", "%*d %d", "P") +
                       Information("MIX=", "SingleInteger", "%f%d", "P")),
              kLoadOk);
    EXPECT_TRUE(Parse(u"TWO=1 2"));
    EXPECT_EQ(Int(u"P"), 100); // two values converted
    EXPECT_TRUE(Parse(u"TWO=3"));
    EXPECT_EQ(Int(u"P"), 3); // the second found no number: one value
    EXPECT_TRUE(Parse(u"SKIP=4 5"));
    EXPECT_EQ(Int(u"P"), 5);
    EXPECT_TRUE(Parse(u"MIX=6.5"));
    EXPECT_EQ(Int(u"P"), 5); // one value, but not an integer
}

// --- The samples --------------------------------------------------------------------------

TEST_F(CommandText, SampleCommandsRoundTrip) {
    ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
    int updated = 0;
    EXPECT_TRUE(Parse(u"frm 200,2500", updated));
    EXPECT_EQ(Int(u"LineTime"), 200);
    EXPECT_EQ(Int(u"FrameLines"), 2500);
    EXPECT_DOUBLE_EQ(FloatValue(u"FramePeriod"), 50000.0);
    EXPECT_EQ(Compose(u"frm"), u"frm 200,2500");
    EXPECT_TRUE(Parse(u"bin 2"));
    EXPECT_EQ(Compose(u"bin"), u"bin 2");
    EXPECT_EQ(IntValue(u"ImageWidth"), 1224);
    EXPECT_TRUE(Parse(u"tpn3"));
    EXPECT_EQ(Compose(u"tpn"), u"tpn3");
    EXPECT_TRUE(Parse(u"TMP=41.25", updated));
    EXPECT_EQ(FloatValue(u"SensorTemperature"), 41.25);
    EXPECT_TRUE(Parse(u"UID=Line-7_camera-with-a-long-name"));
    EXPECT_EQ(Get<clCamPropertyString>(u"UserName")->value, u"Line-7_camera-wi");
    EXPECT_EQ(Compose(u"uid"), u"uid Line-7_camera-wi");
    EXPECT_EQ(Compose(u"sav"), u"sav");

    ASSERT_EQ(LoadSample("LX-4K.xml"), kLoadOk);
    EXPECT_TRUE(Parse(u"LRM=19990\r"));
    EXPECT_EQ(Int(u"MeasuredLineRate"), 19990);
    EXPECT_TRUE(Parse(u"FWT=" + std::u16string(40, u'f')));
    EXPECT_EQ(Get<clCamPropertyString>(u"FirmwareTag")->value, std::u16string(24, u'f'));
    EXPECT_TRUE(Parse(u"dir1"));
    EXPECT_EQ(Compose(u"dir"), u"dir1");
    EXPECT_TRUE(Parse(u"gan 2,1024"));
    EXPECT_EQ(Compose(u"gan"), u"gan 2,1024");
    EXPECT_EQ(FloatValue(u"GainFactor"), 4.0);
}

} // namespace
