// The exported interface: variable table, out values, parser reuse, stack limits, threads.
#include "EvalHelpers.h"

#include <barrier>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

using evaltest::Bits;
using evaltest::Evaluate;

namespace {

class ParserTest : public testing::Test {
protected:
    void SetUp() override { parser_ = Tallix_Alloc(); }
    void TearDown() override { Tallix_Free(parser_); }

    void Add(const char* name, double value) { Tallix_AddString(parser_, name, &value); }
    // Evaluates and returns the error text ("" on success) with the out value in value_.
    std::string Parse(const char* text) {
        const char* error = Tallix_Parse(parser_, text, &value_);
        return error != nullptr ? error : "";
    }

    TallixParser* parser_ = nullptr;
    double value_ = 0.0;
};

TEST_F(ParserTest, NullOrEmptyTextGivesZeroWithoutError) {
    value_ = 7;
    EXPECT_EQ(Parse(nullptr), "");
    EXPECT_EQ(Bits(value_), Bits(0.0));
    value_ = 7;
    EXPECT_EQ(Parse(""), "");
    EXPECT_EQ(Bits(value_), Bits(0.0));
}

TEST_F(ParserTest, UnknownNameIsNotFoundAndNotAdded) {
    void* payload = &value_;
    EXPECT_EQ(Tallix_IndexOf(parser_, "A", &payload), -1);
    EXPECT_EQ(payload, nullptr);
    const double five = 5;
    EXPECT_EQ(Tallix_Replace(parser_, "A", &five), -1);
    EXPECT_EQ(Tallix_IndexOf(parser_, "A", &payload), -1);
    EXPECT_EQ(Parse("A"), "# A - Unknown function/variable!");
}

TEST_F(ParserTest, IndexOfGivesTheLiveVariable) {
    Add("A", 1);
    Add("B", 2);
    void* payload = nullptr;
    ASSERT_EQ(Tallix_IndexOf(parser_, "B", &payload), 1);
    ASSERT_NE(payload, nullptr);
    double seen;
    std::memcpy(&seen, payload, sizeof seen);
    EXPECT_EQ(seen, 2);
    const double changed = 40;
    std::memcpy(payload, &changed, sizeof changed);
    EXPECT_EQ(Parse("A+B"), "");
    EXPECT_EQ(value_, 41);
}

TEST_F(ParserTest, DuplicateNamesKeepBothAndTheFirstWins) {
    Add("A", 1);
    Add("A", 2);
    void* payload = nullptr;
    EXPECT_EQ(Tallix_IndexOf(parser_, "A", &payload), 0);
    EXPECT_EQ(Parse("A"), "");
    EXPECT_EQ(value_, 1);
    const double nine = 9;
    EXPECT_EQ(Tallix_Replace(parser_, "A", &nine), 0);
    EXPECT_EQ(Parse("A"), "");
    EXPECT_EQ(value_, 9);
}

TEST_F(ParserTest, NamesAreCaseSensitiveAndFormulasLookUpUpperCase) {
    Add("a", 1);
    EXPECT_EQ(Parse("a"), "# A - Unknown function/variable!");
    Add("A", 2);
    EXPECT_EQ(Parse("a"), "");
    EXPECT_EQ(value_, 2);
    void* payload = nullptr;
    EXPECT_EQ(Tallix_IndexOf(parser_, "a", &payload), 0);
}

TEST_F(ParserTest, ClearEmptiesTheTableAndAddingStartsAgain) {
    Add("A", 1);
    Add("B", 2);
    Tallix_Clear(parser_);
    void* payload = nullptr;
    EXPECT_EQ(Tallix_IndexOf(parser_, "A", &payload), -1);
    Add("B", 5);
    EXPECT_EQ(Tallix_IndexOf(parser_, "B", &payload), 0);
    EXPECT_EQ(Parse("B"), "");
    EXPECT_EQ(value_, 5);
}

TEST_F(ParserTest, NullPayloadAddsZero) {
    Tallix_AddString(parser_, "Z", nullptr);
    EXPECT_EQ(Parse("Z+1"), "");
    EXPECT_EQ(value_, 1);
}

TEST_F(ParserTest, ManyVariablesSurviveGrowth) {
    // Grows through 16, 32, 48, 64, 80 and then by a quarter; entries move but keep their values.
    char name[16];
    for (int i = 0; i < 300; ++i) {
        std::snprintf(name, sizeof name, "V%d", i);
        Add(name, i * 1.5);
    }
    for (int i = 0; i < 300; i += 37) {
        std::snprintf(name, sizeof name, "V%d", i);
        void* payload = nullptr;
        ASSERT_EQ(Tallix_IndexOf(parser_, name, &payload), i);
        EXPECT_EQ(Parse(name), "");
        EXPECT_EQ(value_, i * 1.5);
    }
    EXPECT_EQ(Parse("V299-V0"), "");
    EXPECT_EQ(value_, 299 * 1.5);
}

TEST_F(ParserTest, RejectedVariableValueFails) {
    Add("R", std::bit_cast<double>(0xFFEE093D05FA254Cull));
    EXPECT_EQ(Parse("R"), "#Internal error!");
    Add("S", -1.68736462823243e+308);
    EXPECT_EQ(Parse("S"), "#Internal error!");
    Add("T", std::nextafter(-1.68736462823243e+308, 0.0));
    EXPECT_EQ(Parse("T"), "");
}

TEST_F(ParserTest, FailedExpressionLeavesOutValue) {
    value_ = 42;
    EXPECT_EQ(Parse("1/0"), "#Infinity somewhere!");
    EXPECT_EQ(value_, 42);
}

TEST_F(ParserTest, FailedScriptLeavesLastAssignment) {
    value_ = 42;
    EXPECT_EQ(Parse("#! P := 4; Q := 5; W := 1/0; RETURN 1"), "#Infinity somewhere!");
    EXPECT_EQ(value_, 5);
    value_ = 42;
    EXPECT_EQ(Parse("#! P := 1 +"), "#Extra operation!");
    EXPECT_EQ(value_, 42);
}

TEST_F(ParserTest, ScriptVariablesDoNotOutliveTheScript) {
    EXPECT_EQ(Parse("#! K := 2; RETURN K"), "");
    EXPECT_EQ(Parse("#! RETURN K"), "# K - Unknown function/variable!");
    EXPECT_EQ(Parse("K"), "# K - Unknown function/variable!");
}

TEST_F(ParserTest, ParserIsReusableAfterEveryKindOfFailure) {
    Add("A", 3);
    for (const char* bad : {"(1", "1 2", "1 +", "ROUND(1,'a',2)", "#! A :=", "1:2", "FOO", "'x"}) {
        EXPECT_NE(Parse(bad), "") << bad;
        EXPECT_EQ(Parse("A*2"), "") << "after " << bad;
        EXPECT_EQ(value_, 6);
    }
}

TEST_F(ParserTest, StringArgumentsAreReleased) {
    // Under the leak checker this fails if a call's string arguments outlive the evaluation.
    EXPECT_EQ(Parse("ROUND('a', 'b')"), "");
    EXPECT_EQ(Parse("ROUND('a', 'b', 'c')"), "#Invalid parameters count for function call!");
    EXPECT_EQ(Parse("ROUND('a' 1 2"), "#Brackets not match!");
    EXPECT_EQ(Parse("ROUND('a', 1 2)"), "#Invalid parameters count for function call!");
    EXPECT_EQ(Parse("(ROUND('a')"), "#Brackets not match!");
    EXPECT_EQ(Parse("ROUND('a', 1/0)"), "#Infinity somewhere!");
}

TEST(TallixApi, FreeOfNullIsIgnored) {
    Tallix_Free(nullptr);
    Tallix_Clear(nullptr);
    Tallix_AddString(nullptr, "A", nullptr);
    EXPECT_EQ(Tallix_Replace(nullptr, "A", nullptr), -1);
    void* payload = &payload;
    EXPECT_EQ(Tallix_IndexOf(nullptr, "A", &payload), -1);
    EXPECT_EQ(payload, nullptr);
    double out = 1;
    EXPECT_NE(Tallix_Parse(nullptr, "1", &out), nullptr);
}

TEST(TallixApi, HostSequenceLaterBindingWins) {
    const evaltest::Outcome outcome = Evaluate("A*2", {{"A", 5.0}, {"A", 6.0}});
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.value, 12);
}

TEST(TallixApi, UnknownNameIsCutAt255Characters) {
    const std::string name(300, 'Q');
    const evaltest::Outcome outcome = Evaluate(name.c_str());
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(*outcome.error, "# " + name.substr(0, 255) + " - Unknown function/variable!");
}

// Stack limits: 64 operator records (the first is the bottom marker) and 64 values.
std::string Repeat(const std::string& part, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += part;
    return text;
}

TEST(TallixStacks, DeepestNestingFits) {
    const std::string text = Repeat("(", 63) + "1" + Repeat(")", 63);
    const evaltest::Outcome outcome = Evaluate(text.c_str());
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.value, 1);
}

TEST(TallixStacks, DeeperNestingEndsWithAnError) {
    for (int depth : {64, 65, 200, 5000}) {
        const std::string text = Repeat("(", depth) + "1" + Repeat(")", depth);
        const evaltest::Outcome outcome = Evaluate(text.c_str());
        ASSERT_TRUE(outcome.error) << depth;
        EXPECT_EQ(*outcome.error, "#Expression too complex!");
    }
}

TEST(TallixStacks, PrefixChainsAreLimitedByTheOperatorStack) {
    EXPECT_FALSE(Evaluate((Repeat("SIN ", 63) + "0").c_str()).error);
    EXPECT_EQ(Evaluate((Repeat("SIN ", 64) + "0").c_str()).error, "#Expression too complex!");
    EXPECT_EQ(Evaluate((Repeat("-", 1) + Repeat("ABS ", 62) + "1").c_str()).value, -1);
    EXPECT_EQ(Evaluate(Repeat("1+(", 100).c_str()).error, "#Brackets not match!");
    EXPECT_EQ(Evaluate((Repeat("1+(", 40) + "1" + Repeat(")", 40)).c_str()).error,
              "#Expression too complex!");
}

TEST(TallixStacks, ValueStackHoldsSixtyFourValues) {
    // ROUND takes any number of values before it checks their count.
    const std::string full = "ROUND(" + Repeat("1,", 63) + "1)";
    EXPECT_EQ(Evaluate(full.c_str()).error, "#Invalid parameters count for function call!");
    const std::string over = "ROUND(" + Repeat("1,", 64) + "1)";
    EXPECT_EQ(Evaluate(over.c_str()).error, "#Expression too complex!");
    const std::string chain = Repeat("0?", 64) + "1";
    EXPECT_EQ(Evaluate(chain.c_str()).error, "#Expression too complex!");
    const std::string values = Repeat("1 ", 64);
    EXPECT_EQ(Evaluate(values.c_str()).error, "#Internal error!");
    const std::string tooMany = Repeat("1 ", 65);
    EXPECT_EQ(Evaluate(tooMany.c_str()).error, "#Expression too complex!");
}

TEST(TallixStacks, ScriptStatementsEachStartWithEmptyStacks) {
    std::string script = "#! ";
    for (int i = 0; i < 200; ++i)
        script += "S := " + Repeat("(", 60) + std::to_string(i) + Repeat(")", 60) + "; ";
    script += "RETURN S";
    const evaltest::Outcome outcome = Evaluate(script.c_str());
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.value, 199);
}

// Each thread has its own unknown-name text: another thread's errors never change it.
TEST(TallixThreads, UnknownNameTextIsPerThread) {
    constexpr int kRounds = 200;
    std::barrier sync(2);
    std::string failures[2];
    auto worker = [&](int id) {
        const std::string mine = id == 0 ? "FIRST_THREAD" : "SECOND";
        const std::string expected = "# " + mine + " - Unknown function/variable!";
        TallixParser* parser = Tallix_Alloc();
        double out = 0;
        for (int round = 0; round < kRounds; ++round) {
            const char* error = Tallix_Parse(parser, mine.c_str(), &out);
            sync.arrive_and_wait(); // the other thread has raised its own error by now
            if (error == nullptr || expected != error)
                failures[id] = error != nullptr ? error : "(none)";
            sync.arrive_and_wait();
        }
        Tallix_Free(parser);
    };
    std::thread first(worker, 0);
    std::thread second(worker, 1);
    first.join();
    second.join();
    EXPECT_EQ(failures[0], "");
    EXPECT_EQ(failures[1], "");
}

TEST(TallixThreads, ParsersOnSeveralThreadsAgree) {
    auto worker = [](double* sum) {
        for (int i = 0; i < 2000; ++i) {
            const evaltest::Outcome outcome = Evaluate("#! T := A*2; RETURN ROUND(T/3, 2) + SIN PI",
                                                       {{"A", static_cast<double>(i)}});
            *sum += outcome.value;
        }
    };
    double sums[3] = {};
    std::thread a(worker, &sums[0]);
    std::thread b(worker, &sums[1]);
    worker(&sums[2]);
    a.join();
    b.join();
    EXPECT_EQ(Bits(sums[0]), Bits(sums[2]));
    EXPECT_EQ(Bits(sums[1]), Bits(sums[2]));
}

} // namespace
