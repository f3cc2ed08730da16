// The Monitor's chart with a full day of rounds at one a second (86400 points per trace, a gap
// every thousand rounds) and all of it shown: the points put into the series from the history,
// and the chart painted offscreen.
#include "app/Application.h"
#include "app/Monitor.h"
#include "ui/MainFrame.h"
#include "ui/MonitorPanel.h"

#include <QApplication>
#include <QChartView>
#include <QPainter>
#include <QPixmap>
#include <QSpinBox>
#include <benchmark/benchmark.h>
#include <cmath>

namespace {

clMonitorHistory DayOfRounds(size_t traces) {
    std::vector<MonitorTrace> t;
    for (size_t i = 0; i < traces; ++i)
        t.push_back(
            {u"Value" + std::u16string(1, static_cast<char16_t>(u'A' + i)), true, -0.9, 0.9});
    clMonitorHistory history(t);
    const auto now = std::chrono::system_clock::now();
    for (size_t r = 0; r < clMonitorHistory::kMaxRounds; ++r) {
        MonitorRound round;
        round.at = now - std::chrono::seconds(clMonitorHistory::kMaxRounds - r);
        for (size_t i = 0; i < traces; ++i)
            round.values.push_back(r % 1000 == 999 ? std::nullopt
                                                   : std::optional<double>(std::sin(
                                                         static_cast<double>(r + i * 100) / 500)));
        history.Append(std::move(round));
    }
    return history;
}

struct Panel {
    clApplication app;
    CMainFrame frame{app};
    CMonitorPanel panel{app, frame};
    explicit Panel(size_t traces) {
        panel.MinutesSpin()->setValue(24 * 60);
        panel.resize(1200, 700);
        panel.show();
        panel.ShowHistory(DayOfRounds(traces));
        QApplication::processEvents();
    }
};

// Arg: traces.
void BM_MonitorSeriesFromHistory(benchmark::State& state) {
    Panel p(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        p.panel.Redraw();
    state.SetItemsProcessed(state.iterations() * state.range(0) *
                            static_cast<int64_t>(clMonitorHistory::kMaxRounds));
}
BENCHMARK(BM_MonitorSeriesFromHistory)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_MonitorRedrawAndPaint(benchmark::State& state) {
    Panel p(static_cast<size_t>(state.range(0)));
    QPixmap pixmap(p.panel.ChartView()->size());
    for (auto _ : state) {
        p.panel.Redraw();
        QPainter painter(&pixmap);
        p.panel.ChartView()->render(&painter);
    }
}
BENCHMARK(BM_MonitorRedrawAndPaint)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
