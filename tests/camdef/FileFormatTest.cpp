// How the elements of a definition become records: defaults of empty and absent elements,
// duplicate and nameless elements, number texts, languages, commands, informations, the tree.
#include "DefinitionFixture.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

using Format = DefinitionTest;

TEST_F(Format, AbsentAndEmptyDefaultsDiffer) {
    ASSERT_EQ(LoadBody(R"(
        <Property_String Name="absent"/>
        <Property_String Name="empty"><Length/><AccessMode/><Unit/></Property_String>
        <Property_Integer Name="i-absent"/>
        <Property_Integer Name="i-empty"><Value/><Min/><Max/><Inc/><ValueDefault/></Property_Integer>
        <Property_Bool Name="b-absent"/>
        <Property_Bool Name="b-empty"><Value/><OnValue/><OffValue/></Property_Bool>
        <Property_Float Name="f-empty"><Value/></Property_Float>
        <Property_Selection Name="s-empty"><Value/></Property_Selection>
    )"),
              kLoadOk);
    auto* absent = Get<clCamPropertyString>(u"absent");
    auto* empty = Get<clCamPropertyString>(u"empty");
    EXPECT_EQ(absent->length, 55);
    EXPECT_EQ(empty->length, 100);
    EXPECT_EQ(absent->accessMode, kAccessReadOnly);
    EXPECT_EQ(empty->accessMode, kAccessReadWrite);
    EXPECT_EQ(empty->unit, u"");

    auto* ia = Get<clCamPropertyInteger>(u"i-absent");
    auto* ie = Get<clCamPropertyInteger>(u"i-empty");
    for (auto* p : {ia, ie}) {
        EXPECT_EQ(p->min, -32768);
        EXPECT_EQ(p->max, 32767);
        EXPECT_EQ(p->inc, 1);
        EXPECT_EQ(p->value, 0);
        EXPECT_EQ(p->defaultValue, 0);
    }
    EXPECT_EQ(ia->hasRange, 0);
    EXPECT_EQ(ie->hasRange, 1);

    auto* be = Get<clCamPropertyBool>(u"b-empty");
    EXPECT_EQ(be->state, 0);
    EXPECT_EQ(be->onValue, 1);
    EXPECT_EQ(be->offValue, 0);
    EXPECT_EQ(Get<clCamPropertyFloat>(u"f-empty")->value, 0.0);
    EXPECT_EQ(Get<clCamPropertySelection>(u"s-empty")->value, 0);
}

TEST_F(Format, EachRangeElementMarksTheRange) {
    const char* elements[] = {"<Min>1</Min>",    "<Max>1</Max>",
                              "<Inc>1</Inc>",    "<MinReference>x</MinReference>",
                              "<MaxReference/>", "<IncReference>x</IncReference>"};
    for (const char* e : elements) {
        SCOPED_TRACE(e);
        ASSERT_EQ(
            LoadBody(std::string("<Property_Integer Name=\"p\">") + e + "</Property_Integer>"),
            kLoadOk);
        EXPECT_EQ(Get<clCamPropertyInteger>(u"p")->hasRange, 1);
    }
    ASSERT_EQ(LoadBody("<Property_Integer Name=\"p\"><pIndex>x</pIndex><Value>3</Value>"
                       "</Property_Integer>"),
              kLoadOk);
    EXPECT_EQ(Get<clCamPropertyInteger>(u"p")->hasRange, 0);
}

TEST_F(Format, AccessModeKeywordsAreExact) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="wo"><AccessMode>WO</AccessMode></Property_Integer>
        <Property_Integer Name="ro"><AccessMode>RO</AccessMode></Property_Integer>
        <Property_Integer Name="rw"><AccessMode>RW</AccessMode></Property_Integer>
        <Property_Integer Name="lower"><AccessMode>ro</AccessMode></Property_Integer>
    )"),
              kLoadOk);
    EXPECT_EQ(mgr.FindProperty(u"wo")->accessMode, kAccessWriteOnly);
    EXPECT_EQ(mgr.FindProperty(u"ro")->accessMode, kAccessReadOnly);
    EXPECT_EQ(mgr.FindProperty(u"rw")->accessMode, kAccessReadWrite);
    EXPECT_EQ(mgr.FindProperty(u"lower")->accessMode, kAccessReadWrite);
    EXPECT_TRUE(mgr.FindProperty(u"wo")->IsWritable());
    EXPECT_FALSE(mgr.FindProperty(u"ro")->IsWritable());
    EXPECT_TRUE(mgr.FindProperty(u"rw")->IsWritable());
}

TEST_F(Format, BoolValueIsOnOnlyForExactOn) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Bool Name="On"><Value>On</Value></Property_Bool>
        <Property_Bool Name="on"><Value>on</Value></Property_Bool>
        <Property_Bool Name="ON"><Value>ON</Value></Property_Bool>
        <Property_Bool Name="spaced"><Value> On</Value></Property_Bool>
    )"),
              kLoadOk);
    EXPECT_EQ(Get<clCamPropertyBool>(u"On")->state, 1);
    EXPECT_EQ(Get<clCamPropertyBool>(u"on")->state, 0);
    EXPECT_EQ(Get<clCamPropertyBool>(u"ON")->state, 0);
    EXPECT_EQ(Get<clCamPropertyBool>(u"spaced")->state, 0);
}

TEST_F(Format, IntegerText) {
    struct Case {
        const char* text;
        int64_t value;
    } cases[] = {
        {"12abc", 12},
        {"abc", 0},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"99999999999999999999999", 2147483647},
        {"-2147483648", -2147483648LL},
        {"-2147483649", -2147483648LL},
        {"  \t+42", 42},
        {"- 5", 0},
        {"+-5", 0},
        {"\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x93", 123}, // full-width digits
        {"\xD9\xA4\xD9\xA2x", 42},                     // Arabic-Indic digits
        {"-\xF0\x9D\x9F\x97", -9},                     // mathematical bold digit nine
        {"\xE3\x80\x80"
         "7",
         7}, // ideographic space
        {"0x1F", 0},
        {"007", 7},
    };
    std::string body;
    for (size_t i = 0; i < std::size(cases); ++i)
        body += "<Property_Integer Name=\"p" + std::to_string(i) + "\"><Value>" + cases[i].text +
                "</Value></Property_Integer>";
    ASSERT_EQ(LoadBody(body), kLoadOk);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].text);
        EXPECT_EQ(Get<clCamPropertyInteger>(platform::Utf8ToUtf16("p" + std::to_string(i)))->value,
                  cases[i].value);
    }
}

TEST_F(Format, FloatText) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"1.5e3", 1500.0}, {"  -2.5x", -2.5}, {"abc", 0.0},         {".5", 0.5},    {"5.", 5.0},
        {"1e", 1.0},       {"1e+", 1.0},      {"+3.25E-2", 0.0325}, {".", 0.0},     {"-", 0.0},
        {"inf", 0.0},      {"nan", 0.0},      {"0x10", 0.0},        {"36.6", 36.6},
    };
    std::string body;
    for (size_t i = 0; i < std::size(cases); ++i)
        body += "<Property_Float Name=\"p" + std::to_string(i) + "\"><Value>" + cases[i].text +
                "</Value></Property_Float>";
    body += "<Property_Float Name=\"big\"><Value>-1e400</Value></Property_Float>";
    ASSERT_EQ(LoadBody(body), kLoadOk);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].text);
        EXPECT_DOUBLE_EQ(
            Get<clCamPropertyFloat>(platform::Utf8ToUtf16("p" + std::to_string(i)))->value,
            cases[i].value);
    }
    EXPECT_TRUE(std::isinf(Get<clCamPropertyFloat>(u"big")->value));
    EXPECT_LT(Get<clCamPropertyFloat>(u"big")->value, 0);
}

TEST_F(Format, FirstDefinitionOfANameWins) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="a"><Value>1</Value></Property_Integer>
        <Property_Integer Name="a"><Value>2</Value><Unit>mm</Unit></Property_Integer>
        <Property_Bool Name="b"><Value>On</Value></Property_Bool>
        <Property_Float Name="b"><Value>3.5</Value></Property_Float>
        <Calculator_Integer Name="b"/>
        <TARNCommand Name="c"><MessageStyle>NoSeparate</MessageStyle></TARNCommand>
        <TARNCommand Name="c"><MessageStyle>CommandOnly</MessageStyle></TARNCommand>
        <Information Name="i"><Keyword>A=</Keyword></Information>
        <Information Name="i"><Keyword>B=</Keyword></Information>
        <TARNCommand Name="a"/>
    )"),
              kLoadOk);
    EXPECT_EQ(mgr.Properties().size(), 2u);
    EXPECT_EQ(Get<clCamPropertyInteger>(u"a")->value, 1);
    EXPECT_EQ(Get<clCamPropertyInteger>(u"a")->unit, u"");
    ASSERT_NE(Get<clCamPropertyBool>(u"b"), nullptr);
    EXPECT_EQ(mgr.FindProperty(u"b")->isCalculator, 0);
    ASSERT_EQ(mgr.CommandList().size(), 2u); // "c" once, and "a" in its own name space
    EXPECT_EQ(mgr.FindCommand(u"c")->style, kMessageStyleNoSeparate);
    ASSERT_EQ(mgr.InformationList().size(), 2u); // informations are not checked
    EXPECT_EQ(mgr.InformationList()[1]->keyword, u"B=");
}

TEST_F(Format, ElementsWithoutNameAreIgnored) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer><Value>1</Value></Property_Integer>
        <Property_Execution/>
        <Calculator_Float/>
        <TARNCommand><MessageStyle>CommandOnly</MessageStyle></TARNCommand>
        <Information><Keyword>X=</Keyword></Information>
        <Property_Integer Name="p">
          <pVariable>A</pVariable><pVariable Name="B">q</pVariable>
          <ValueIndexed>9</ValueIndexed><ValueIndexed Index="1">10</ValueIndexed>
          <ValueIndexed Index="1">11</ValueIndexed><ValueIndexed Index="2"/>
        </Property_Integer>
    )"),
              kLoadOk);
    EXPECT_EQ(mgr.Properties().size(), 1u);
    EXPECT_TRUE(mgr.CommandList().empty());
    EXPECT_TRUE(mgr.InformationList().empty());
    auto* p = Get<clCamPropertyInteger>(u"p");
    ASSERT_EQ(p->variables.size(), 1u);
    EXPECT_EQ(p->variables[0], (std::pair<std::u16string, std::u16string>(u"B", u"q")));
    EXPECT_EQ(p->indexTable.size(), 2u);
    EXPECT_GE(p->indexTable.bucket_count(), kValueTableBuckets);
    EXPECT_EQ(p->indexTable.at(1), 11); // a later entry replaces an earlier one
    EXPECT_EQ(p->indexTable.at(2), 0);
}

TEST_F(Format, ValueAndValueDefaultLaterWins) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="a"><Value>1</Value><ValueDefault>2</ValueDefault></Property_Integer>
        <Property_Integer Name="b"><ValueDefault>2</ValueDefault><Value>1</Value></Property_Integer>
        <Property_Float Name="c"><Value>1.5</Value><ValueDefault>2.5</ValueDefault></Property_Float>
        <Property_Float Name="d"><ValueDefault>2.5</ValueDefault><Value>1.5</Value></Property_Float>
    )"),
              kLoadOk);
    EXPECT_EQ(Get<clCamPropertyInteger>(u"a")->value, 2);
    EXPECT_EQ(Get<clCamPropertyInteger>(u"b")->value, 1);
    EXPECT_EQ(Get<clCamPropertyInteger>(u"b")->defaultValue, 2);
    EXPECT_EQ(Get<clCamPropertyFloat>(u"c")->value, 2.5);
    EXPECT_EQ(Get<clCamPropertyFloat>(u"d")->value, 1.5);
}

TEST_F(Format, CommonChildren) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Execution Name="x">
          <Title>English by default</Title>
          <Title Lang="ja">最初</Title>
          <Title Lang="ja">日本語</Title>
          <Note Lang="ja"/>
          <Prompt Lang="en"/>
          <TARNCommandName>first</TARNCommandName>
          <TARNCommandName/>
          <TARNCommandName>third</TARNCommandName>
          <Dependence>d1</Dependence><Dependence/>
          <Formula>A*2</Formula>
          <ValueReference>other</ValueReference>
          <Unit>°C</Unit>
        </Property_Execution>
        <Property_Integer Name="t"><Title Lang="en"/><Title Lang="">x</Title></Property_Integer>
    )"),
              kLoadOk);
    const clCamProperty* x = mgr.FindProperty(u"x");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->type, CamPropertyType::Execution);
    EXPECT_EQ(*x->title.Find(u"en"), u"English by default");
    EXPECT_EQ(*x->title.Find(u"ja"), u"日本語");
    EXPECT_EQ(*x->note.Find(u"ja"), u"(no_note)");
    EXPECT_EQ(x->hasPrompt, 1);
    EXPECT_EQ(*x->prompt.Find(u"en"), u"");
    EXPECT_EQ(x->commandNames, (std::vector<std::u16string>{u"first", u"(no_command)", u"third"}));
    EXPECT_EQ(x->dependences, (std::vector<std::u16string>{u"d1", u""}));
    EXPECT_EQ(x->formula, u"A*2");
    EXPECT_EQ(x->valueReference, u"other");
    EXPECT_EQ(x->unit, u"°C");
    const clCamProperty* t = mgr.FindProperty(u"t");
    EXPECT_EQ(*t->title.Find(u"en"), u"(no_title)");
    EXPECT_EQ(*t->title.Find(u""), u"x"); // an empty Lang is a language code of its own
    EXPECT_EQ(t->hasPrompt, 0);
}

TEST_F(Format, TextsAreDecoded) {
    ASSERT_EQ(LoadBytes("<?xml version=\"1.0\"?>\n<!DOCTYPE CameraPropertyDefine [<!ENTITY v "
                        "\"Orva\">]>\n<CameraPropertyDefine>"
                        "<Property_String Name=\"a\"><Value><![CDATA[a<b>]]>&amp;&#x3042;</Value>"
                        "</Property_String>"
                        "<Property_String Name=\"&v;-&amp;\"/></CameraPropertyDefine>"),
              kLoadOk)
        << platform::Utf16ToUtf8(mgr.LastErrorDetail());
    EXPECT_EQ(Get<clCamPropertyString>(u"a")->value, u"a<b>&あ");
    EXPECT_NE(Get<clCamPropertyString>(u"Orva-&"), nullptr); // internal entity in an attribute
}

TEST_F(Format, CommandRecords) {
    ASSERT_EQ(LoadBody(R"(
        <TARNCommand Name="a"><MessageStyle>CommandOnly</MessageStyle><Export>No</Export></TARNCommand>
        <TARNCommand Name="b"><MessageStyle>NoSeparate</MessageStyle><Export/></TARNCommand>
        <TARNCommand Name="c"><MessageStyle>SpaceAndComma</MessageStyle><Export>yes</Export>
          <CommandValue><PropertyName>P</PropertyName><PropertyName>Q</PropertyName></CommandValue>
          <CommandValue><PropertyName/></CommandValue>
          <CommandValue/>
        </TARNCommand>
        <TARNCommand Name="d"><MessageStyle>spaceandcomma</MessageStyle></TARNCommand>
        <TARNCommand Name="e"><MessageStyle/></TARNCommand>
    )"),
              kLoadOk);
    ASSERT_EQ(mgr.CommandList().size(), 5u);
    EXPECT_EQ(mgr.CommandList()[0]->name, u"a"); // file order
    EXPECT_EQ(mgr.CommandList()[4]->name, u"e");
    EXPECT_EQ(mgr.FindCommand(u"a")->style, kMessageStyleCommandOnly);
    EXPECT_EQ(mgr.FindCommand(u"a")->exported, 0);
    EXPECT_EQ(mgr.FindCommand(u"b")->style, kMessageStyleNoSeparate);
    EXPECT_EQ(mgr.FindCommand(u"b")->exported, 1);
    EXPECT_EQ(mgr.FindCommand(u"c")->style, kMessageStyleSpaceAndComma);
    EXPECT_EQ(mgr.FindCommand(u"c")->exported, 0);
    EXPECT_EQ(mgr.FindCommand(u"c")->slots, (std::vector<std::u16string>{u"Q", u"(no_prop)", u""}));
    EXPECT_EQ(mgr.FindCommand(u"d")->style, kMessageStyleUnknown);
    EXPECT_EQ(mgr.FindCommand(u"d")->exported, 1);
    EXPECT_EQ(mgr.FindCommand(u"e")->style, kMessageStyleUnknown);
    EXPECT_EQ(mgr.FindCommand(u"C"), nullptr);
}

TEST_F(Format, InformationRecords) {
    // The file is written with CR LF line ends: XML turns them into LF, and the two characters
    // backslash and r of the template stay as they are.
    ASSERT_EQ(LoadBytes("<?xml version=\"1.0\"?>\r\n<CameraPropertyDefine>\r\n"
                        "<Information Name=\"t\"><Keyword>TMP=</Keyword>"
                        "<InformationStyle>SingleFloat</InformationStyle>"
                        "<TemplateString>%d\\r</TemplateString>"
                        "<PropertyName>A</PropertyName><PropertyName/></Information>\r\n"
                        "<Information Name=\"e\"><Keyword/><InformationStyle>TwoIntegers"
                        "</InformationStyle><TemplateString/></Information>\r\n"
                        "<Information Name=\"n\"><InformationStyle>Bogus</InformationStyle>"
                        "</Information>\r\n</CameraPropertyDefine>\r\n"),
              kLoadOk);
    const auto& list = mgr.InformationList();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]->keyword, u"TMP=");
    EXPECT_EQ(list[0]->style, kInformationStyleSingleFloat);
    EXPECT_EQ(list[0]->templateText, u"%d\\r");
    EXPECT_EQ(list[0]->propertyNames, (std::vector<std::u16string>{u"A", u"(no_prop)"}));
    EXPECT_EQ(list[1]->keyword, u"(no_keyword)");
    EXPECT_EQ(list[1]->style, kInformationStyleTwoIntegers);
    EXPECT_EQ(list[1]->templateText, u"%d");
    EXPECT_EQ(list[2]->keyword, u"");
    EXPECT_EQ(list[2]->style, kInformationStyleUnknown);
    EXPECT_EQ(list[2]->templateText, u"");
}

TEST_F(Format, SelectionEntries) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Selection Name="s"><Value>2</Value>
          <SelectEntry><Value>0</Value><Text>Off</Text></SelectEntry>
          <SelectEntry><Text/><Value/></SelectEntry>
          <SelectEntry><Value>2</Value><Text>Two</Text></SelectEntry>
          <SelectEntry><Value>2</Value><Text>Two again</Text></SelectEntry>
        </Property_Selection>
    )"),
              kLoadOk);
    auto* s = Get<clCamPropertySelection>(u"s");
    EXPECT_EQ(s->entryValues, (std::vector<int64_t>{0, 0, 2, 2}));
    EXPECT_EQ(s->entryTexts,
              (std::vector<std::u16string>{u"Off", u"(no_command)", u"Two", u"Two again"}));
    EXPECT_EQ(s->ValueText(), u"Two"); // the first entry with the number
    s->value = 5;
    EXPECT_EQ(s->ValueText(), u"");
}

TEST_F(Format, Tree) {
    ASSERT_EQ(LoadBody(R"(
        <PropertyIndex><Grouping><PropertyName>old</PropertyName></Grouping></PropertyIndex>
        <PropertyIndex>
          <PropertyName>outside</PropertyName>
          <Title>not read</Title>
          <Grouping>
            <Title Lang="en">Image</Title><Title/>
            <PropertyName>Gain</PropertyName>
            <Grouping><PropertyName/></Grouping>
            <PropertyName>Gain</PropertyName>
          </Grouping>
          <Grouping/>
        </PropertyIndex>
    )"),
              kLoadOk);
    const clCamTreeNode* root = mgr.TreeRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, u"TreeRoot");
    EXPECT_EQ(root->isGroup, 1);
    EXPECT_EQ(root->depth, 0);
    EXPECT_TRUE(root->title.IsEmpty());
    const clCamTreeNode* g1 = root->firstChild;
    ASSERT_NE(g1, nullptr);
    EXPECT_EQ(g1->name, u"(+)");
    EXPECT_EQ(*g1->title.Find(u"en"), u"(no_title)"); // the second English title replaced it
    EXPECT_EQ(g1->parent, root);
    const clCamTreeNode* g2 = g1->nextSibling;
    ASSERT_NE(g2, nullptr);
    EXPECT_EQ(g2->firstChild, nullptr);
    EXPECT_EQ(g2->nextSibling, nullptr);

    const clCamTreeNode* leaf = g1->firstChild;
    EXPECT_EQ(leaf->name, u"Gain");
    EXPECT_EQ(leaf->isGroup, 0);
    EXPECT_EQ(leaf->depth, 2);
    const clCamTreeNode* inner = leaf->nextSibling;
    EXPECT_EQ(inner->isGroup, 1);
    EXPECT_EQ(inner->firstChild->name, u"(no_name_prop)");
    EXPECT_EQ(inner->firstChild->depth, 3);
    EXPECT_EQ(inner->nextSibling->name, u"Gain"); // a property may appear more than once
    EXPECT_EQ(inner->nextSibling->nextSibling, nullptr);
}

TEST_F(Format, CalculatorsAreLinkedAndEvaluatedAfterLoading) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="x"><Value>3</Value></Property_Integer>
        <Property_Float Name="y"/>
        <Calculator_Integer Name="ci"><Value>7</Value><Dependence>x</Dependence>
          <Dependence>missing</Dependence><Dependence>y</Dependence></Calculator_Integer>
        <Calculator_Float Name="cf"><Value>7.5</Value><Dependence>x</Dependence></Calculator_Float>
        <Property_Integer Name="plain"><Value>7</Value><Dependence>x</Dependence></Property_Integer>
    )"),
              kLoadOk);
    EXPECT_EQ(mgr.FindProperty(u"ci")->isCalculator, 1);
    EXPECT_EQ(mgr.FindProperty(u"cf")->isCalculator, 1);
    // Empty formulas evaluate to 0 at load.
    EXPECT_EQ(Get<clCamPropertyInteger>(u"ci")->value, 0);
    EXPECT_EQ(Get<clCamPropertyFloat>(u"cf")->value, 0.0);
    EXPECT_EQ(Get<clCamPropertyInteger>(u"plain")->value, 7);
    auto dependents = mgr.FindProperty(u"x")->dependents;
    std::sort(dependents.begin(), dependents.end());
    EXPECT_EQ(dependents, (std::vector<std::u16string>{u"cf", u"ci"}));
    EXPECT_EQ(mgr.FindProperty(u"y")->dependents, (std::vector<std::u16string>{u"ci"}));
}

} // namespace
