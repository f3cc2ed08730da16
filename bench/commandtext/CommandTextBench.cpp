// The per-line and per-property costs of the definition model at run time, on the samples:
//  - ParseEcho / ParseInformation: one reply line read back into the values (a command echo
//    with two values and the re-evaluation of the calculators that follow it; a float
//    information reply);
//  - ParseUnknown: a line that is neither (every information keyword and both splits tried);
//  - Compose: the text of a command with two slots;
//  - EvaluateCalculator: one calculated property (new parser, two bindings, evaluation).
#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <string>

namespace {

clCamPropertyMgr& Sample() {
    static clCamPropertyMgr* mgr = [] {
        auto* m = new clCamPropertyMgr;
        const std::string source = QUILLON_SOURCE_DIR;
        m->SetSchemaPathFormat(
            platform::Utf8ToUtf16(source + "/CamDefine/OrvaCamSchema_v%d_%d.xsd"));
        if (m->Load(platform::Utf8ToUtf16(source + "/CamDefine/XC-100.xml")) != kLoadOk)
            std::abort();
        return m;
    }();
    return *mgr;
}

void Parse(benchmark::State& state, const char16_t* line) {
    clCamPropertyMgr& mgr = Sample();
    const std::u16string text = line;
    for (auto _ : state) {
        int updated = 0;
        benchmark::DoNotOptimize(mgr.ParseReplyLine(text, updated));
    }
}

void ParseEcho(benchmark::State& state) {
    Parse(state, u"frm 150,2200");
}
void ParseInformation(benchmark::State& state) {
    Parse(state, u"TMP=36.6");
}
void ParseUnknown(benchmark::State& state) {
    Parse(state, u"Model=XC-100 rev.B");
}

void Compose(benchmark::State& state) {
    clCamPropertyMgr& mgr = Sample();
    const clCamCommand* c = mgr.FindCommand(u"frm");
    std::u16string text;
    for (auto _ : state) {
        mgr.ComposeCommand(c, text);
        benchmark::DoNotOptimize(text.data());
    }
}

void EvaluateCalculator(benchmark::State& state) {
    clCamPropertyMgr& mgr = Sample();
    auto* rate = PropertyAs<clCamPropertyInteger>(mgr.FindProperty(u"FrameRate"));
    for (auto _ : state)
        benchmark::DoNotOptimize(mgr.EvaluateIntegerCalculator(rate));
}

} // namespace

BENCHMARK(ParseEcho);
BENCHMARK(ParseInformation);
BENCHMARK(ParseUnknown);
BENCHMARK(Compose);
BENCHMARK(EvaluateCalculator);
BENCHMARK_MAIN();
