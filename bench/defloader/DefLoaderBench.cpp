// Load of a synthetic definition of 10 000 properties against the floor set by libxml2 itself:
// reading the same file and validating it against the same schema.
//
//   BM_Load          clCamPropertyMgr::Load (read, parse, schema parse, validate, build, link)
//   BM_FloorFull     xmlReadFile + schema parse + xmlSchemaValidateDoc (what Load must do too)
//   BM_FloorValidate xmlReadFile + xmlSchemaValidateDoc with the schema parsed once beforehand
//
// Target: BM_Load within 1.3 times BM_FloorFull.
#include "SyntheticDefinition.h"
#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <libxml/parser.h>
#include <libxml/xmlschemas.h>
#include <string>
#include <unistd.h>

namespace {

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOBLANKS;

struct Files {
    std::filesystem::path folder;
    std::string definition;
    std::string schema;

    Files() {
        std::string templ = (std::filesystem::temp_directory_path() / "defbench-XXXXXX").string();
        if (!mkdtemp(templ.data()))
            std::abort();
        folder = templ;
        schema = (folder / "OrvaCamSchema_v1_0.xsd").string();
        std::filesystem::copy_file(
            std::string(QUILLON_SOURCE_DIR) + "/CamDefine/OrvaCamSchema_v1_0.xsd", schema);
        definition = (folder / "synthetic.xml").string();
        std::ofstream(definition, std::ios::binary) << bench::SyntheticDefinition(10000);
    }
    ~Files() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

Files& TheFiles() {
    static Files files;
    return files;
}

void SilentErrors(void*, const char*, ...) {}

void BM_Load(benchmark::State& state) {
    Files& f = TheFiles();
    clCamPropertyMgr mgr;
    mgr.SetSchemaPathFormat(
        platform::Utf8ToUtf16((f.folder / "OrvaCamSchema_v%d_%d.xsd").string()));
    std::u16string path = platform::Utf8ToUtf16(f.definition);
    for (auto _ : state) {
        if (mgr.Load(path) != kLoadOk)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(mgr.Properties().size());
    }
    state.counters["properties"] = static_cast<double>(mgr.Properties().size());
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(f.definition));
}

void BM_FloorFull(benchmark::State& state) {
    Files& f = TheFiles();
    for (auto _ : state) {
        xmlDoc* doc = xmlReadFile(f.definition.c_str(), nullptr, kParseOptions);
        xmlSchemaParserCtxt* pctxt = xmlSchemaNewParserCtxt(f.schema.c_str());
        xmlSchema* schema = xmlSchemaParse(pctxt);
        xmlSchemaValidCtxt* vctxt = xmlSchemaNewValidCtxt(schema);
        if (!doc || xmlSchemaValidateDoc(vctxt, doc) != 0)
            state.SkipWithError("floor failed");
        xmlSchemaFreeValidCtxt(vctxt);
        xmlSchemaFree(schema);
        xmlSchemaFreeParserCtxt(pctxt);
        xmlFreeDoc(doc);
    }
}

void BM_FloorValidate(benchmark::State& state) {
    Files& f = TheFiles();
    xmlSchemaParserCtxt* pctxt = xmlSchemaNewParserCtxt(f.schema.c_str());
    xmlSchema* schema = xmlSchemaParse(pctxt);
    xmlSchemaValidCtxt* vctxt = xmlSchemaNewValidCtxt(schema);
    for (auto _ : state) {
        xmlDoc* doc = xmlReadFile(f.definition.c_str(), nullptr, kParseOptions);
        if (!doc || xmlSchemaValidateDoc(vctxt, doc) != 0)
            state.SkipWithError("floor failed");
        xmlFreeDoc(doc);
    }
    xmlSchemaFreeValidCtxt(vctxt);
    xmlSchemaFree(schema);
    xmlSchemaFreeParserCtxt(pctxt);
}

BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorFull)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorValidate)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    xmlKeepBlanksDefault(0);
    xmlSetGenericErrorFunc(nullptr, SilentErrors);
    // `bench_defloader --write=<file> [--properties=N]` only writes a synthetic definition.
    std::string write;
    int properties = 10000;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--write=", 0) == 0)
            write = arg.substr(8);
        else if (arg.rfind("--properties=", 0) == 0)
            properties = std::atoi(arg.c_str() + 13);
    }
    if (!write.empty()) {
        std::ofstream(write, std::ios::binary) << bench::SyntheticDefinition(properties);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    xmlCleanupParser();
    return 0;
}
