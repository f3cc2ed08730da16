// Effective values, bounds and setters of the property manager, reference cycles, and the
// re-evaluation of dependent calculators.
#include "DefinitionFixture.h"
#include "camdef/NumberText.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

using Values = DefinitionTest;

TEST_F(Values, IndexPropertyOfEachKind) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Bool Name="bin"><Value>On</Value><OnValue>5</OnValue></Property_Bool>
        <Property_Selection Name="sel"><Value>3</Value></Property_Selection>
        <Property_String Name="str"><Value>1</Value></Property_String>
        <Property_Execution Name="exe"/>
        <Property_Float Name="flt"><Value>-1.9</Value></Property_Float>
        <Property_Integer Name="byBool"><pIndex>bin</pIndex><Value>9</Value>
          <ValueIndexed Index="0">100</ValueIndexed><ValueIndexed Index="1">200</ValueIndexed>
        </Property_Integer>
        <Property_Integer Name="bySel"><pIndex>sel</pIndex><ValueDefault>4</ValueDefault>
          <ValueIndexed Index="0">100</ValueIndexed></Property_Integer>
        <Property_Integer Name="byStr"><pIndex>str</pIndex><ValueDefault>4</ValueDefault>
          <Value>8</Value><ValueIndexed Index="0">100</ValueIndexed></Property_Integer>
        <Property_Integer Name="byExe"><pIndex>exe</pIndex><ValueDefault>6</ValueDefault>
          <ValueIndexed Index="0">100</ValueIndexed></Property_Integer>
        <Property_Integer Name="byFlt"><pIndex>flt</pIndex><Value>1</Value>
          <ValueIndexed Index="-1">-100</ValueIndexed></Property_Integer>
        <Property_Integer Name="byNone"><pIndex>nothing</pIndex><Value>12</Value>
          <ValueIndexed Index="0">100</ValueIndexed></Property_Integer>
        <Property_Float Name="fByBool"><pIndex>bin</pIndex><Value>0.5</Value>
          <ValueIndexed Index="1">2.5</ValueIndexed></Property_Float>
        <Property_Float Name="fByStr"><pIndex>str</pIndex><ValueDefault>1.5</ValueDefault>
          <Value>3.5</Value></Property_Float>
        <Property_Float Name="fByNone"><pIndex>nothing</pIndex><Value>7.5</Value></Property_Float>
    )"),
              kLoadOk);
    EXPECT_EQ(IntValue(u"byBool"), 200); // the state selects, not the on number
    mgr.SetBoolValue(Get<clCamPropertyBool>(u"bin"), 0);
    EXPECT_EQ(IntValue(u"byBool"), 100);

    EXPECT_EQ(IntValue(u"bySel"), 4); // no entry for 3: the own value, which ValueDefault set
    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"bySel"), 7);
    EXPECT_EQ(IntValue(u"bySel"), 7);
    mgr.SetSelectionValue(Get<clCamPropertySelection>(u"sel"), 0);
    EXPECT_EQ(IntValue(u"bySel"), 100);

    EXPECT_EQ(IntValue(u"byStr"), 4); // String and Execution give the default value
    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"byStr"), 9);
    EXPECT_EQ(IntValue(u"byStr"), 4);
    EXPECT_EQ(IntValue(u"byExe"), 6);
    EXPECT_EQ(IntValue(u"byFlt"), -100); // -1.9 truncated toward zero
    EXPECT_EQ(IntValue(u"byNone"), 12);

    EXPECT_EQ(FloatValue(u"fByBool"), 0.5);
    EXPECT_EQ(FloatValue(u"fByStr"), 1.5);
    EXPECT_EQ(FloatValue(u"fByNone"), 7.5);
    mgr.SetBoolValue(Get<clCamPropertyBool>(u"bin"), 1);
    EXPECT_EQ(FloatValue(u"fByBool"), 2.5);
}

TEST_F(Values, ValueReferenceComesFirst) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Float Name="f"><Value>-2.7</Value></Property_Float>
        <Property_Float Name="huge"><Value>1e300</Value></Property_Float>
        <Property_Bool Name="b"><Value>On</Value></Property_Bool>
        <Property_Selection Name="s"><Value>4</Value></Property_Selection>
        <Property_String Name="str"><Value>55</Value></Property_String>
        <Property_Integer Name="i"><Value>30</Value></Property_Integer>
        <Property_Integer Name="fromF"><ValueReference>f</ValueReference><Value>1</Value>
          <pIndex>b</pIndex><ValueIndexed Index="1">99</ValueIndexed></Property_Integer>
        <Property_Integer Name="fromHuge"><ValueReference>huge</ValueReference></Property_Integer>
        <Property_Integer Name="fromStr"><ValueReference>str</ValueReference><Value>3</Value>
        </Property_Integer>
        <Property_Integer Name="fromMissing"><ValueReference>none</ValueReference>
          <Value>3</Value></Property_Integer>
        <Property_Float Name="fFromI"><ValueReference>fromF</ValueReference></Property_Float>
        <Property_Float Name="fFromB"><ValueReference>b</ValueReference></Property_Float>
        <Property_Float Name="fFromS"><ValueReference>s</ValueReference></Property_Float>
    )"),
              kLoadOk);
    EXPECT_EQ(IntValue(u"fromF"), -2);
    EXPECT_EQ(IntValue(u"fromHuge"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(IntValue(u"fromStr"), 0); // a String has the value 0 for integer readers
    EXPECT_EQ(IntValue(u"fromMissing"), 3);
    EXPECT_EQ(FloatValue(u"fFromI"), -2.0);
    EXPECT_EQ(FloatValue(u"fFromB"), 1.0);
    EXPECT_EQ(FloatValue(u"fFromS"), 4.0);

    int64_t v = 5;
    CamPropertyType type = CamPropertyType::Integer;
    EXPECT_EQ(mgr.GetValueAsInteger(u"none", v, type), 1);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(type, CamPropertyType::None);
    EXPECT_EQ(mgr.GetValueAsInteger(u"s", v, type), 0);
    EXPECT_EQ(v, 4);
    EXPECT_EQ(type, CamPropertyType::Selection);
    double d = 0;
    EXPECT_EQ(mgr.GetValueAsFloat(u"f", d, type), 0);
    EXPECT_EQ(d, -2.7);
    EXPECT_EQ(type, CamPropertyType::Float);
}

TEST_F(Values, ReferencedBounds) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Float Name="f"><Value>12.5</Value></Property_Float>
        <Property_Bool Name="b"><Value>On</Value></Property_Bool>
        <Property_Integer Name="lo"><Value>-5</Value></Property_Integer>
        <Property_Integer Name="hiSource"><Value>77</Value></Property_Integer>
        <Property_Integer Name="hi"><ValueReference>hiSource</ValueReference></Property_Integer>
        <Property_Integer Name="a"><Min>1</Min><Max>10</Max><Inc>3</Inc>
          <MinReference>lo</MinReference><MaxReference>hi</MaxReference>
          <IncReference>b</IncReference></Property_Integer>
        <Property_Integer Name="b2"><Min>1</Min><Max>10</Max><Inc>3</Inc>
          <MinReference>f</MinReference><MaxReference>b</MaxReference>
          <IncReference>nothing</IncReference></Property_Integer>
        <Property_Integer Name="c"><Min>1</Min><Max>10</Max><Inc>3</Inc></Property_Integer>
    )"),
              kLoadOk);
    auto bounds = [&](std::u16string_view name) {
        auto* p = Get<clCamPropertyInteger>(name);
        int64_t lo = 0, hi = 0, inc = 0;
        mgr.GetIntegerMin(p, lo);
        mgr.GetIntegerMax(p, hi);
        mgr.GetIntegerInc(p, inc);
        return std::tuple(lo, hi, inc);
    };
    EXPECT_EQ(bounds(u"a"), std::tuple(-5, 77, 1)); // Inc from a Bool: 1
    EXPECT_EQ(bounds(u"b2"), std::tuple(0, 0, 3));  // Float/Bool bound: 0; missing Inc ref: own
    EXPECT_EQ(bounds(u"c"), std::tuple(1, 10, 3));
    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"hiSource"), 90);
    EXPECT_EQ(bounds(u"a"), std::tuple(-5, 90, 1)); // resolved anew on every call
}

TEST_F(Values, SettersStoreWithoutChecks) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="i"><Min>0</Min><Max>10</Max><Inc>5</Inc>
          <AccessMode>RO</AccessMode></Property_Integer>
        <Property_String Name="s"><Length>2</Length></Property_String>
        <Property_Bool Name="b"/>
        <Property_Selection Name="sel"><SelectEntry><Value>0</Value><Text>a</Text></SelectEntry>
        </Property_Selection>
        <Property_Float Name="f"/>
    )"),
              kLoadOk);
    EXPECT_EQ(mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"i"), 123), 0);
    EXPECT_EQ(IntValue(u"i"), 123);
    EXPECT_EQ(mgr.SetStringValue(Get<clCamPropertyString>(u"s"), u"longer than two"), 0);
    EXPECT_EQ(Get<clCamPropertyString>(u"s")->value, u"longer than two");
    EXPECT_EQ(mgr.SetBoolValue(Get<clCamPropertyBool>(u"b"), 1), 0);
    EXPECT_EQ(Get<clCamPropertyBool>(u"b")->state, 1);
    EXPECT_EQ(mgr.SetSelectionValue(Get<clCamPropertySelection>(u"sel"), 42), 0);
    EXPECT_EQ(Get<clCamPropertySelection>(u"sel")->value, 42);
    EXPECT_EQ(mgr.SetFloatValue(Get<clCamPropertyFloat>(u"f"), -0.25), 0);
    EXPECT_EQ(FloatValue(u"f"), -0.25);
}

// Calculators here have empty formulas, which evaluate to 0: a calculator whose value was set
// to 5 and reads 0 afterwards has been re-evaluated.
TEST_F(Values, SettingADependenceReevaluatesOneLevelDeep) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="x"/>
        <Property_Integer Name="onlyVariable"/>
        <Property_String Name="text"/>
        <Calculator_Integer Name="B"><Dependence>x</Dependence><Dependence>text</Dependence>
          <pVariable Name="V">onlyVariable</pVariable></Calculator_Integer>
        <Calculator_Float Name="A"><Dependence>B</Dependence></Calculator_Float>
    )"),
              kLoadOk);
    auto* A = Get<clCamPropertyFloat>(u"A");
    auto* B = Get<clCamPropertyInteger>(u"B");
    auto reset = [&] {
        A->value = 5;
        B->value = 5;
    };

    reset();
    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"onlyVariable"), 1);
    EXPECT_EQ(B->value, 5); // a pVariable alone does not trigger

    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"x"), 1);
    EXPECT_EQ(B->value, 0);
    EXPECT_EQ(A->value, 5); // B's own dependents are not followed

    reset();
    mgr.SetStringValue(Get<clCamPropertyString>(u"text"), u"t");
    EXPECT_EQ(B->value, 0);

    reset();
    mgr.SetIntegerValue(B, 3); // setting the calculator itself re-evaluates A
    EXPECT_EQ(A->value, 0);

    reset();
    EXPECT_EQ(mgr.RecalculateDependents(mgr.FindProperty(u"x")), 0);
    EXPECT_EQ(B->value, 0);
}

TEST_F(Values, DependentsThatAreNotCalculatorsArePassedOver) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="x"/>
        <Property_Integer Name="plain"><Value>5</Value></Property_Integer>
    )"),
              kLoadOk);
    mgr.FindProperty(u"x")->dependents = {u"plain", u"missing"};
    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"x"), 2);
    EXPECT_EQ(IntValue(u"plain"), 5);
}

// --- Reference cycles ---------------------------------------------------------------------
// Rule: a record met again while it is being resolved counts with its own stored value; a
// chain is cut after 64 records the same way.

TEST_F(Values, ValueReferenceCyclesEndWithTheOwnValue) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="self"><ValueReference>self</ValueReference><Value>1</Value>
        </Property_Integer>
        <Property_Integer Name="a"><ValueReference>b</ValueReference><Value>10</Value>
        </Property_Integer>
        <Property_Integer Name="b"><ValueReference>a</ValueReference><Value>20</Value>
        </Property_Integer>
        <Property_Float Name="fa"><ValueReference>ia</ValueReference><Value>1.5</Value>
        </Property_Float>
        <Property_Integer Name="ia"><ValueReference>fa</ValueReference><Value>7</Value>
        </Property_Integer>
    )"),
              kLoadOk);
    EXPECT_EQ(IntValue(u"self"), 1);
    EXPECT_EQ(IntValue(u"a"), 10); // a -> b -> a: a's own value, as b shows it
    EXPECT_EQ(IntValue(u"b"), 20);
    EXPECT_EQ(FloatValue(u"fa"), 1.0); // fa -> ia -> fa (own 1.5), truncated by ia
    EXPECT_EQ(IntValue(u"ia"), 7);
    int64_t v;
    CamPropertyType t;
    EXPECT_EQ(mgr.GetValueAsInteger(u"a", v, t), 0);
    EXPECT_EQ(v, 10);
}

TEST_F(Values, IndexCyclesEndWithTheOwnValue) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="self"><pIndex>self</pIndex><Value>5</Value>
          <ValueIndexed Index="5">50</ValueIndexed></Property_Integer>
        <Property_Integer Name="p"><pIndex>q</pIndex><Value>1</Value>
          <ValueIndexed Index="2">12</ValueIndexed></Property_Integer>
        <Property_Float Name="q"><ValueReference>r</ValueReference><Value>2.0</Value></Property_Float>
        <Property_Integer Name="r"><pIndex>p</pIndex><Value>3</Value>
          <ValueIndexed Index="1">31</ValueIndexed></Property_Integer>
        <Property_Integer Name="m"><MinReference>m</MinReference><Min>4</Min>
          <ValueReference>m</ValueReference><Value>8</Value></Property_Integer>
    )"),
              kLoadOk);
    EXPECT_EQ(IntValue(u"self"), 50); // index = own value 5
    // p -> index q -> ref r -> index p (again: own value 1) -> r = 31 -> q = 31 -> p: no entry.
    EXPECT_EQ(IntValue(u"p"), 1);
    // q -> ref r -> index p -> index q (again: own 2.0) -> p = 12 -> r has no entry 12: 3.
    EXPECT_EQ(FloatValue(u"q"), 3.0);
    int64_t lo = 0;
    mgr.GetIntegerMin(Get<clCamPropertyInteger>(u"m"), lo);
    EXPECT_EQ(lo, 8);
}

TEST_F(Values, ChainsAreFollowedToTheirEndAndCyclesEnd) {
    // P0 -> P1 -> ... -> P199, then the same chain closed into a loop by P199 -> P0.
    auto chain = [](bool loop) {
        std::string body;
        const int n = 200;
        for (int i = 0; i < n; ++i) {
            body += "<Property_Integer Name=\"P" + std::to_string(i) + "\"><Value>" +
                    std::to_string(i) + "</Value>";
            if (i + 1 < n || loop)
                body += "<ValueReference>P" + std::to_string((i + 1) % n) + "</ValueReference>";
            body += "</Property_Integer>";
        }
        return body;
    };
    ASSERT_EQ(LoadBody(chain(false)), kLoadOk);
    EXPECT_EQ(IntValue(u"P199"), 199);
    EXPECT_EQ(IntValue(u"P40"), 199);
    EXPECT_EQ(IntValue(u"P0"), 199); // 199 links, no depth limit
    ASSERT_EQ(LoadBody(chain(true)), kLoadOk);
    EXPECT_EQ(IntValue(u"P0"), 0); // around the loop back to itself: its own value
    EXPECT_EQ(IntValue(u"P5"), 5);
}

TEST_F(Values, LongChainThroughIndexesAndFloats) {
    // F0 (Float) reads I0 (Integer) whose table is selected by F1, which reads I1, ...
    std::string body;
    const int n = 150;
    for (int i = 0; i < n; ++i) {
        const std::string k = std::to_string(i), next = std::to_string(i + 1);
        body += "<Property_Float Name=\"F" + k + "\"><Value>0.5</Value><ValueReference>I" + k +
                "</ValueReference></Property_Float>";
        body += "<Property_Integer Name=\"I" + k + "\"><Value>-1</Value>";
        if (i + 1 < n)
            body += "<pIndex>F" + next + "</pIndex>";
        body += "<ValueIndexed Index=\"7\">7</ValueIndexed></Property_Integer>";
    }
    ASSERT_EQ(LoadBody(body), kLoadOk);
    EXPECT_EQ(IntValue(u"I149"), -1);          // end of the chain: its own value
    EXPECT_DOUBLE_EQ(FloatValue(u"F149"), -1); // read as a Float
    EXPECT_EQ(IntValue(u"I148"), -1);          // index -1 selects no entry
    auto* last = Get<clCamPropertyInteger>(u"I149");
    mgr.SetIntegerValue(last, 7);
    EXPECT_DOUBLE_EQ(FloatValue(u"F0"), 7); // index 7 selected along all 150 links
}

// --- Texts ------------------------------------------------------------------------------

TEST(MultiLangString, DisplayFallsBackToEnglishThenEmpty) {
    clMultiLangString s;
    EXPECT_EQ(s.Display(u"ja"), u"");
    s.Set(u"en", u"Gain");
    EXPECT_EQ(s.Display(u"ja"), u"Gain");
    s.Set(u"ja", u"");
    EXPECT_EQ(s.Display(u"ja"), u"Gain"); // empty counts as missing
    s.Set(u"ja", u"ゲイン");
    EXPECT_EQ(s.Display(u"ja"), u"ゲイン");
    EXPECT_EQ(s.Display(u"JA"), u"Gain"); // codes are exact
    std::u16string out;
    EXPECT_FALSE(s.Get(u"de", out));
    EXPECT_TRUE(s.Get(u"ja", out));
    EXPECT_EQ(out, u"ゲイン");
}

TEST(NumberText, TruncationOutsideInt64) {
    using camdef::TruncateToInt64;
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(TruncateToInt64(2.9), 2);
    EXPECT_EQ(TruncateToInt64(-2.9), -2);
    EXPECT_EQ(TruncateToInt64(9.2e18), 9200000000000000000LL);
    EXPECT_EQ(TruncateToInt64(9.3e18), kMin);
    EXPECT_EQ(TruncateToInt64(-9.3e18), kMin);
    EXPECT_EQ(TruncateToInt64(std::numeric_limits<double>::quiet_NaN()), kMin);
    EXPECT_EQ(TruncateToInt64(std::numeric_limits<double>::infinity()), kMin);
}

TEST(NumberText, LoneSurrogatesAreNotDigits) {
    EXPECT_EQ(camdef::ParseIntegerText(u"1\xD835"
                                       "2"),
              1);
    EXPECT_EQ(camdef::ParseIntegerText(u"\xDFD7"), 0);
    EXPECT_EQ(camdef::ParseIntegerText(u""), 0);
    EXPECT_EQ(camdef::ParseFloatText(u""), 0.0);
}

} // namespace
