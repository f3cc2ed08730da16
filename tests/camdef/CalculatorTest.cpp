// Calculated properties: variable bindings, the values handed to the evaluator, what is stored
// on success and on failure, and when calculators are evaluated.
#include "DefinitionFixture.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace {

using Calculators = DefinitionTest;

constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

// An Integer calculator "c" with one binding and formula, and the properties of `extra`.
std::string IntegerCalculator(const std::string& variable, const std::string& formula,
                              const std::string& extra = "") {
    return R"(<Property_Integer Name="x"><Value>5</Value></Property_Integer>
        <Calculator_Integer Name="c"><pVariable Name=")" +
           variable + R"(">x</pVariable><Dependence>x</Dependence><Formula>)" + formula +
           "</Formula></Calculator_Integer>" + extra;
}

TEST_F(Calculators, BindingIsSeenAndFollowsItsDependence) {
    ASSERT_EQ(LoadBody(IntegerCalculator("A", "A * 2")), kLoadOk);
    auto* c = Get<clCamPropertyInteger>(u"c");
    EXPECT_EQ(c->value, 10);
    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"x"), 6);
    EXPECT_EQ(c->value, 12);
    EXPECT_EQ(mgr.EvaluateIntegerCalculator(c), 0);
}

TEST_F(Calculators, LowerCaseVariableIsNotFoundByTheFormula) {
    // The formula's identifiers are looked up in upper case; a binding named "a" is never seen.
    ASSERT_EQ(LoadBody(IntegerCalculator("a", "a * 2")), kLoadOk);
    auto* c = Get<clCamPropertyInteger>(u"c");
    EXPECT_EQ(c->value, 0);
    c->value = 77;
    EXPECT_EQ(mgr.EvaluateIntegerCalculator(c), 1);
    EXPECT_EQ(c->value, 0); // the failed expression's result (0.0) is stored
}

TEST_F(Calculators, MixedCaseVariableIsNotFoundEither) {
    ASSERT_EQ(LoadBody(IntegerCalculator("Rate", "RATE + 1")), kLoadOk);
    EXPECT_EQ(mgr.EvaluateIntegerCalculator(Get<clCamPropertyInteger>(u"c")), 1);
}

struct Truncation {
    const char* formula;
    int64_t expected;
};

class IntegerResults : public DefinitionTest, public ::testing::WithParamInterface<Truncation> {};

TEST_P(IntegerResults, TruncatedTowardZeroOrTheIndefiniteValue) {
    ASSERT_EQ(LoadBody(IntegerCalculator("A", GetParam().formula)), kLoadOk);
    EXPECT_EQ(Get<clCamPropertyInteger>(u"c")->value, GetParam().expected) << GetParam().formula;
}

INSTANTIATE_TEST_SUITE_P(
    Calculators, IntegerResults,
    ::testing::Values(Truncation{"2.9", 2}, Truncation{"0-2.9", -2}, Truncation{"A / 2", 2},
                      Truncation{"0 - A / 2", -2}, Truncation{"0.5 - 1", 0},
                      Truncation{"9007199254740992", 9007199254740992},
                      Truncation{"0 - 9223372036854775808", kInt64Min},
                      Truncation{"9223372036854775808", kInt64Min}, Truncation{"1e30", kInt64Min},
                      Truncation{"0 - 1e30", kInt64Min}, Truncation{"SQRT(0 - 1)", kInt64Min},
                      Truncation{"EXP(1000)", kInt64Min}, Truncation{"", 0}));

TEST_F(Calculators, EachKindOfBoundPropertyGivesItsValue) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Bool Name="b"><Value>On</Value><OnValue>5</OnValue><OffValue>9</OffValue>
        </Property_Bool>
        <Property_Float Name="f"><Value>-1.25</Value></Property_Float>
        <Property_Selection Name="s"><Value>3</Value></Property_Selection>
        <Property_String Name="t"><Value>42</Value></Property_String>
        <Property_Execution Name="e"/>
        <Property_Integer Name="i"><Value>4</Value></Property_Integer>
        <Property_Integer Name="ref"><ValueReference>i</ValueReference><Value>100</Value>
        </Property_Integer>
        <Calculator_Float Name="fromBool"><pVariable Name="B">b</pVariable>
          <Dependence>b</Dependence><Formula>B</Formula></Calculator_Float>
        <Calculator_Float Name="fromFloat"><pVariable Name="F">f</pVariable><Formula>F</Formula>
        </Calculator_Float>
        <Calculator_Float Name="fromSelection"><pVariable Name="S">s</pVariable>
          <Formula>S</Formula></Calculator_Float>
        <Calculator_Float Name="fromString"><pVariable Name="T">t</pVariable>
          <Formula>T + 1</Formula></Calculator_Float>
        <Calculator_Float Name="fromExecution"><pVariable Name="E1">e</pVariable>
          <Formula>E1 + 2</Formula></Calculator_Float>
        <Calculator_Float Name="throughReference"><pVariable Name="R">ref</pVariable>
          <Formula>R</Formula></Calculator_Float>
    )"),
              kLoadOk);
    // A Bool gives its state, never its on or off number.
    EXPECT_EQ(Get<clCamPropertyFloat>(u"fromBool")->value, 1.0);
    mgr.SetBoolValue(Get<clCamPropertyBool>(u"b"), 0);
    EXPECT_EQ(Get<clCamPropertyFloat>(u"fromBool")->value, 0.0);
    EXPECT_EQ(Get<clCamPropertyFloat>(u"fromFloat")->value, -1.25);
    EXPECT_EQ(Get<clCamPropertyFloat>(u"fromSelection")->value, 3.0);
    EXPECT_EQ(Get<clCamPropertyFloat>(u"fromString")->value, 1.0);
    EXPECT_EQ(Get<clCamPropertyFloat>(u"fromExecution")->value, 2.0);
    EXPECT_EQ(Get<clCamPropertyFloat>(u"throughReference")->value, 4.0); // the effective value
}

TEST_F(Calculators, MissingPropertyLeavesTheVariableUndefined) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="x"><Value>3</Value></Property_Integer>
        <Calculator_Float Name="uses"><pVariable Name="M">missing</pVariable>
          <Formula>M + 1</Formula></Calculator_Float>
        <Calculator_Float Name="ignores"><pVariable Name="M">missing</pVariable>
          <pVariable Name="X">x</pVariable><Formula>X + 1</Formula></Calculator_Float>
        <Calculator_Float Name="script"><pVariable Name="M">missing</pVariable>
          <Formula>#! A := 2.5; B := A * 3; RETURN M</Formula></Calculator_Float>
    )"),
              kLoadOk);
    auto* uses = Get<clCamPropertyFloat>(u"uses");
    uses->value = 9;
    EXPECT_EQ(mgr.EvaluateFloatCalculator(uses), 1);
    EXPECT_EQ(uses->value, 0.0);
    EXPECT_EQ(Get<clCamPropertyFloat>(u"ignores")->value, 4.0);
    // A failed script leaves the value of its last completed assignment, and that is stored.
    auto* script = Get<clCamPropertyFloat>(u"script");
    EXPECT_EQ(script->value, 7.5);
    EXPECT_EQ(mgr.EvaluateFloatCalculator(script), 1);
    EXPECT_EQ(script->value, 7.5);
}

TEST_F(Calculators, FailedFormulaStillStoresAResult) {
    ASSERT_EQ(LoadBody(R"(
        <Calculator_Integer Name="ci"><Formula>1 +</Formula></Calculator_Integer>
        <Calculator_Float Name="cf"><Formula>7 / 0</Formula></Calculator_Float>
        <Calculator_Integer Name="scriptInt"><Formula>#! A := 2.9; B := A;</Formula>
        </Calculator_Integer>
    )"),
              kLoadOk);
    auto* ci = Get<clCamPropertyInteger>(u"ci");
    auto* cf = Get<clCamPropertyFloat>(u"cf");
    ci->value = 5;
    cf->value = 5.5;
    EXPECT_EQ(mgr.EvaluateIntegerCalculator(ci), 1);
    EXPECT_EQ(mgr.EvaluateFloatCalculator(cf), 1);
    EXPECT_EQ(ci->value, 0);
    EXPECT_EQ(cf->value, 0.0);
    EXPECT_EQ(Get<clCamPropertyInteger>(u"scriptInt")->value, 2);
}

TEST_F(Calculators, SecondBindingOfANameWins) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="first"><Value>10</Value></Property_Integer>
        <Property_Integer Name="second"><Value>20</Value></Property_Integer>
        <Calculator_Integer Name="c"><pVariable Name="A">first</pVariable>
          <pVariable Name="A">second</pVariable><pVariable Name="A">missing</pVariable>
          <Dependence>first</Dependence><Formula>A + 1</Formula></Calculator_Integer>
    )"),
              kLoadOk);
    auto* c = Get<clCamPropertyInteger>(u"c");
    EXPECT_EQ(c->value, 21); // a binding to no property changes nothing
    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"first"), 11);
    EXPECT_EQ(c->value, 21);
    Get<clCamPropertyInteger>(u"second")->value = 30;
    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"first"), 12);
    EXPECT_EQ(c->value, 31);
}

TEST_F(Calculators, CalculatorReadingACalculatorIsNotReevaluatedThroughIt) {
    // C1 reads C2; only x is a dependence of C2, only C2 a dependence of nothing.
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="x"><Value>1</Value></Property_Integer>
        <Property_Integer Name="y"><Value>100</Value></Property_Integer>
        <Calculator_Integer Name="C2"><pVariable Name="X">x</pVariable><Dependence>x</Dependence>
          <Formula>X * 10</Formula></Calculator_Integer>
        <Calculator_Integer Name="C1"><pVariable Name="C">C2</pVariable>
          <pVariable Name="Y">y</pVariable><Dependence>y</Dependence>
          <Formula>C + Y</Formula></Calculator_Integer>
    )"),
              kLoadOk);
    auto* c1 = Get<clCamPropertyInteger>(u"C1");
    auto* c2 = Get<clCamPropertyInteger>(u"C2");
    // The first evaluation order is free; evaluate C1 again to start from a known state.
    mgr.EvaluateIntegerCalculator(c1);
    EXPECT_EQ(c2->value, 10);
    EXPECT_EQ(c1->value, 110);
    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"x"), 2);
    EXPECT_EQ(c2->value, 20);
    EXPECT_EQ(c1->value, 110); // stale until its own dependence changes
    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"y"), 100);
    EXPECT_EQ(c1->value, 120);
}

TEST_F(Calculators, LongVariableNamesAreCutAt199Bytes) {
    const std::string stem(199, 'V');
    ASSERT_EQ(LoadBody(R"(<Property_Integer Name="x"><Value>8</Value></Property_Integer>
        <Calculator_Integer Name="cut"><pVariable Name=")" +
                       stem + R"(XYZ">x</pVariable><Formula>)" + stem +
                       R"( + 1</Formula></Calculator_Integer>
        <Calculator_Integer Name="whole"><pVariable Name=")" +
                       stem + R"(XYZ">x</pVariable><Formula>)" + stem +
                       R"(XYZ</Formula></Calculator_Integer>)"),
              kLoadOk);
    EXPECT_EQ(Get<clCamPropertyInteger>(u"cut")->value, 9);
    // The formula's own longer name does not match the cut registration.
    EXPECT_EQ(mgr.EvaluateIntegerCalculator(Get<clCamPropertyInteger>(u"whole")), 1);
}

TEST_F(Calculators, NonAsciiNamesAndFormulasDoNotBreakTheEvaluation) {
    // Characters the evaluator cannot take end in an error, never in a crash or a stale value.
    ASSERT_EQ(LoadBody(R"(<Property_Integer Name="温度"><Value>8</Value></Property_Integer>
        <Calculator_Float Name="c"><pVariable Name="温度">温度</pVariable>
          <pVariable Name="T">温度</pVariable><Formula>T /* 温度 */ * 2</Formula></Calculator_Float>
        <Calculator_Float Name="bad"><pVariable Name="温度">温度</pVariable><Value>3</Value>
          <Formula>温度 * 2</Formula></Calculator_Float>)"),
              kLoadOk);
    EXPECT_EQ(Get<clCamPropertyFloat>(u"c")->value, 16.0);
    auto* bad = Get<clCamPropertyFloat>(u"bad");
    EXPECT_EQ(bad->value, 0.0);
    EXPECT_EQ(mgr.EvaluateFloatCalculator(bad), 1);
}

TEST_F(Calculators, EveryCalculatorIsEvaluatedOnceAfterLoading) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="x"><Value>3</Value></Property_Integer>
        <Calculator_Integer Name="ci"><Value>99</Value><pVariable Name="X">x</pVariable>
          <Formula>X * X</Formula></Calculator_Integer>
        <Calculator_Float Name="cf"><Value>99</Value><Formula>PI</Formula></Calculator_Float>
        <Property_Integer Name="notCalculator"><Formula>1 + 1</Formula><Value>4</Value>
        </Property_Integer>
    )"),
              kLoadOk);
    EXPECT_EQ(Get<clCamPropertyInteger>(u"ci")->value, 9);
    EXPECT_DOUBLE_EQ(Get<clCamPropertyFloat>(u"cf")->value, M_PI);
    EXPECT_EQ(Get<clCamPropertyInteger>(u"notCalculator")->value, 4);
    // Without a Dependence, a change of the bound property is not followed.
    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"x"), 4);
    EXPECT_EQ(Get<clCamPropertyInteger>(u"ci")->value, 9);
}

TEST_F(Calculators, OnlyCalculatorsAreEvaluated) {
    ASSERT_EQ(LoadBody(R"(
        <Property_Integer Name="i"><Value>4</Value><Formula>1 + 1</Formula></Property_Integer>
        <Property_Float Name="f"><Value>4.5</Value></Property_Float>
    )"),
              kLoadOk);
    EXPECT_EQ(mgr.EvaluateIntegerCalculator(Get<clCamPropertyInteger>(u"i")), 1);
    EXPECT_EQ(mgr.EvaluateFloatCalculator(Get<clCamPropertyFloat>(u"f")), 1);
    EXPECT_EQ(IntValue(u"i"), 4);
    EXPECT_EQ(FloatValue(u"f"), 4.5);
    EXPECT_EQ(mgr.EvaluateIntegerCalculator(nullptr), 1);
    EXPECT_EQ(mgr.EvaluateFloatCalculator(nullptr), 1);
}

TEST_F(Calculators, SampleFrameTiming) {
    ASSERT_EQ(LoadSample("XC-100.xml"), kLoadOk);
    // 150 x 0.1 us per line, 2200 lines.
    EXPECT_DOUBLE_EQ(FloatValue(u"FramePeriod"), 33000.0);
    EXPECT_EQ(IntValue(u"FrameRate"), 30);
    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"FrameLines"), 3000);
    EXPECT_DOUBLE_EQ(FloatValue(u"FramePeriod"), 45000.0);
    EXPECT_EQ(IntValue(u"FrameRate"), 22); // 22.2 truncated

    ASSERT_EQ(LoadSample("LX-4K.xml"), kLoadOk);
    EXPECT_EQ(IntValue(u"MaxExposure"), 48); // 1000000 / 20000 - 2
    mgr.SetIntegerValue(Get<clCamPropertyInteger>(u"LineRate"), 30000);
    EXPECT_EQ(IntValue(u"MaxExposure"), 31); // 31.33 truncated
    EXPECT_DOUBLE_EQ(FloatValue(u"DutyCycle"), 40.0 * 30000 / 10000);
}

} // namespace
