// The property pane over a synthetic definition of 10 000 properties:
//
//   BM_BuildAndClear   build the grid from the tree (with the reload that follows) and clear it
//   BM_ReloadAll       re-read every value (done before every property job)
//   BM_RefreshEnables  refresh with flags 7 (start and end of every job)
//   BM_PaintViewport   draw one screen of rows
//   BM_CollapseExpand  Collapse All, then Expand All
//   BM_StartEndEdit    start and cancel the edit of an Integer item (edit and slider made and
//                      destroyed)
//
// Targets: build under 100 ms, reload and refresh under 10 ms, one screen under 5 ms.
#include "bench/defloader/SyntheticDefinition.h"
#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"
#include "ui/CamPropertyForm.h"
#include "ui/PropertyGridCtrlEx.h"
#include "ui/PropertyItems.h"

#include <QApplication>
#include <QPixmap>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kProperties = 10000;

struct Definition {
    std::filesystem::path folder;
    clCamPropertyMgr mgr;

    Definition() {
        std::string templ =
            (std::filesystem::temp_directory_path() / "propviewbench-XXXXXX").string();
        if (!mkdtemp(templ.data()))
            std::abort();
        folder = templ;
        std::filesystem::copy_file(std::string(QUILLON_SOURCE_DIR) +
                                       "/CamDefine/OrvaCamSchema_v1_0.xsd",
                                   folder / "OrvaCamSchema_v1_0.xsd");
        const std::string file = (folder / "synthetic.xml").string();
        std::ofstream(file, std::ios::binary) << bench::SyntheticDefinition(kProperties);
        mgr.SetSchemaPathFormat(
            platform::Utf8ToUtf16((folder / "OrvaCamSchema_v%d_%d.xsd").string()));
        if (mgr.Load(platform::Utf8ToUtf16(file)) != kLoadOk)
            std::abort();
    }
    ~Definition() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

Definition& TheDefinition() {
    static Definition definition;
    return definition;
}

// A pane on screen, set up once per benchmark.
std::unique_ptr<CCamPropertyForm> MakeForm(bool build) {
    auto form = std::make_unique<CCamPropertyForm>();
    form->SetPropertyManager(&TheDefinition().mgr);
    form->resize(500, 900);
    form->show();
    form->InitialUpdate();
    if (build)
        form->Build();
    QApplication::processEvents();
    return form;
}

void BM_BuildAndClear(benchmark::State& state) {
    auto form = MakeForm(false);
    for (auto _ : state) {
        form->Build();
        benchmark::DoNotOptimize(form->Links().size());
        form->Clear();
    }
    state.counters["properties"] = static_cast<double>(TheDefinition().mgr.Properties().size());
}
BENCHMARK(BM_BuildAndClear)->Unit(benchmark::kMillisecond);

void BM_ReloadAll(benchmark::State& state) {
    auto form = MakeForm(true);
    for (auto _ : state)
        form->ReloadAllValues();
    state.counters["rows"] = static_cast<double>(form->Links().size());
}
BENCHMARK(BM_ReloadAll)->Unit(benchmark::kMillisecond);

void BM_RefreshEnables(benchmark::State& state) {
    auto form = MakeForm(true);
    bool ready = true;
    form->SetReadyCheck([&ready] { return ready; });
    for (auto _ : state) {
        ready = !ready;
        form->Refresh(7);
    }
}
BENCHMARK(BM_RefreshEnables)->Unit(benchmark::kMillisecond);

void BM_PaintViewport(benchmark::State& state) {
    auto form = MakeForm(true);
    QWidget* viewport = form->Grid()->viewport();
    QPixmap pixmap(viewport->size());
    for (auto _ : state) {
        viewport->render(&pixmap);
        benchmark::DoNotOptimize(pixmap.cacheKey());
    }
    state.counters["rows_shown"] =
        static_cast<double>(viewport->height() / form->Grid()->RowHeight());
}
BENCHMARK(BM_PaintViewport)->Unit(benchmark::kMicrosecond);

void BM_CollapseExpand(benchmark::State& state) {
    auto form = MakeForm(true);
    for (auto _ : state) {
        form->CollapseAll();
        benchmark::DoNotOptimize(form->Grid()->VisibleRows().size());
        form->ExpandAll();
        benchmark::DoNotOptimize(form->Grid()->VisibleRows().size());
    }
}
BENCHMARK(BM_CollapseExpand)->Unit(benchmark::kMillisecond);

void BM_StartEndEdit(benchmark::State& state) {
    auto form = MakeForm(true);
    CMFCPropertyGridProperty* integer = nullptr;
    for (const PropertyItemLink& link : form->Links())
        if (link.type == 0 && link.item->IsEnabled()) {
            integer = link.item;
            break;
        }
    if (!integer) {
        state.SkipWithError("no writable Integer property");
        return;
    }
    for (auto _ : state) {
        form->Grid()->EditItem(integer);
        form->Grid()->EndEditItem(false);
        QApplication::processEvents(); // the destroyed windows go
    }
}
BENCHMARK(BM_StartEndEdit)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    TheDefinition();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
