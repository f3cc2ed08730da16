// Tallix against muparser on the same formulas with four variables A, B, C, D.
//  - OneShot: create a parser, bind the four variables, evaluate once, free (the way the program
//    evaluates a calculated property).
//  - Prepared: evaluate again with a parser that already holds the variables (and, for muparser,
//    the compiled formula).
#include "evaluator/Tallix.h"

#include <benchmark/benchmark.h>
#include <cstdlib>

#ifdef QUILLON_HAVE_MUPARSER
#include <muParser.h>
#endif

namespace {

// Both languages read these alike (Tallix upper-cases identifiers).
const char* const kFormulas[] = {
    "(A*256+B)*C/1000.0+D*0.5-(A-B)/(C+1)", // typical calculator formula, 37 characters
    "A*2",
    "sqrt(A*A+B*B)+sin(C)*cos(D)",
    "((A+B)*(C-D)/(A*B+1)+(A-C)*(B-D)/(C*D+1))*0.25+sqrt(A*A+B*B+C*C+D*D)-(A+B+C+D)/4",
};
const char* const kNames[] = {"A", "B", "C", "D"};
const double kValues[] = {12.0, 34.5, 7.25, -3.0};

void SetFormulaLabel(benchmark::State& state) {
    state.SetLabel(kFormulas[state.range(0)]);
}

void TallixOneShot(benchmark::State& state) {
    const char* formula = kFormulas[state.range(0)];
    for (auto _ : state) {
        TallixParser* parser = Tallix_Alloc();
        for (int i = 0; i < 4; ++i) {
            void* payload = nullptr;
            if (Tallix_IndexOf(parser, kNames[i], &payload) < 0)
                Tallix_AddString(parser, kNames[i], &kValues[i]);
            else
                Tallix_Replace(parser, kNames[i], &kValues[i]);
        }
        double result = 0.0;
        if (Tallix_Parse(parser, formula, &result) != nullptr)
            std::abort();
        benchmark::DoNotOptimize(result);
        Tallix_Free(parser);
    }
    SetFormulaLabel(state);
}
BENCHMARK(TallixOneShot)->DenseRange(0, 3);

void TallixPrepared(benchmark::State& state) {
    const char* formula = kFormulas[state.range(0)];
    TallixParser* parser = Tallix_Alloc();
    for (int i = 0; i < 4; ++i)
        Tallix_AddString(parser, kNames[i], &kValues[i]);
    for (auto _ : state) {
        double result = 0.0;
        if (Tallix_Parse(parser, formula, &result) != nullptr)
            std::abort();
        benchmark::DoNotOptimize(result);
    }
    Tallix_Free(parser);
    SetFormulaLabel(state);
}
BENCHMARK(TallixPrepared)->DenseRange(0, 3);

#ifdef QUILLON_HAVE_MUPARSER
void MuparserOneShot(benchmark::State& state) {
    const char* formula = kFormulas[state.range(0)];
    double values[4] = {kValues[0], kValues[1], kValues[2], kValues[3]};
    for (auto _ : state) {
        mu::Parser parser;
        for (int i = 0; i < 4; ++i)
            parser.DefineVar(kNames[i], &values[i]);
        parser.SetExpr(formula);
        double result = parser.Eval();
        benchmark::DoNotOptimize(result);
    }
    SetFormulaLabel(state);
}
BENCHMARK(MuparserOneShot)->DenseRange(0, 3);

void MuparserPrepared(benchmark::State& state) {
    const char* formula = kFormulas[state.range(0)];
    double values[4] = {kValues[0], kValues[1], kValues[2], kValues[3]};
    mu::Parser parser;
    for (int i = 0; i < 4; ++i)
        parser.DefineVar(kNames[i], &values[i]);
    parser.SetExpr(formula);
    for (auto _ : state) {
        double result = parser.Eval();
        benchmark::DoNotOptimize(result);
    }
    SetFormulaLabel(state);
}
BENCHMARK(MuparserPrepared)->DenseRange(0, 3);

// muparser with a new formula on a prepared parser: its cost of reading a text, which Tallix pays
// on every evaluation.
void MuparserNewFormula(benchmark::State& state) {
    const char* formula = kFormulas[state.range(0)];
    double values[4] = {kValues[0], kValues[1], kValues[2], kValues[3]};
    mu::Parser parser;
    for (int i = 0; i < 4; ++i)
        parser.DefineVar(kNames[i], &values[i]);
    for (auto _ : state) {
        parser.SetExpr(formula);
        double result = parser.Eval();
        benchmark::DoNotOptimize(result);
    }
    SetFormulaLabel(state);
}
BENCHMARK(MuparserNewFormula)->DenseRange(0, 3);
#endif

} // namespace

BENCHMARK_MAIN();
