#include "ui/MonitorPanel.h"

#include "app/Application.h"
#include "base/MessageTable.h"
#include "base/SimpleLog.h"
#include "camdef/CamPropertyMgr.h"
#include "comm/CommunicateModel.h"
#include "platform/Text.h"
#include "ui/MainFrame.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegendMarker>
#include <QLineEdit>
#include <QLineSeries>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>

namespace {

QString M(int id) {
    return QString::fromUtf16(Msg(id));
}

QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

QString Number(double v) {
    return QString::number(v, 'g', 12);
}

// The round choice's last item: the command of the line edit.
constexpr int kCommandItem = -1;
constexpr int kDefaultMinutes = 10;

// The values a trace can plot: numbers and switches, calculated ones included.
bool Plottable(const clCamProperty& p) {
    return p.type == CamPropertyType::Integer || p.type == CamPropertyType::Float ||
           p.type == CamPropertyType::Bool;
}

} // namespace

CMonitorPanel::CMonitorPanel(clApplication& app, CMainFrame& frame)
    : QWidget(&frame, Qt::Window), m_app(app), m_frame(frame) {
    setObjectName(QStringLiteral("monitorPanel"));
    setWindowTitle(M(MSG_MONITOR));

    m_run = new QComboBox(this);
    m_run->setObjectName(QStringLiteral("monitorRound"));
    m_command = new QLineEdit(this);
    m_command->setObjectName(QStringLiteral("monitorCommand"));
    m_interval = new QSpinBox(this);
    m_interval->setObjectName(QStringLiteral("monitorInterval"));
    m_interval->setRange(static_cast<int>(MonitorChoice::kLeastIntervalMs),
                         static_cast<int>(MonitorChoice::kMostIntervalMs));
    m_interval->setSingleStep(100);
    m_interval->setValue(static_cast<int>(MonitorChoice::kDefaultIntervalMs));
    m_minutes = new QSpinBox(this);
    m_minutes->setObjectName(QStringLiteral("monitorMinutes"));
    m_minutes->setRange(1, 24 * 60);
    m_minutes->setValue(kDefaultMinutes);
    m_minutes->setSuffix(M(MSG_MONITOR_MINUTES_SHOWN));

    m_traces = new QTreeWidget(this);
    m_traces->setObjectName(QStringLiteral("monitorTraces"));
    m_traces->setColumnCount(3);
    // A value is inside its band from low (>=) to high (<=); empty: no band.
    m_traces->setHeaderLabels({QString(), QStringLiteral("≥"), QStringLiteral("≤")});
    m_traces->setRootIsDecorated(false);
    m_traces->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);

    m_start = new QPushButton(M(MSG_MONITOR_START), this);
    m_start->setObjectName(QStringLiteral("monitorStart"));
    m_stop = new QPushButton(M(MSG_MONITOR_STOP), this);
    m_stop->setObjectName(QStringLiteral("monitorStop"));
    m_export = new QPushButton(M(MSG_MONITOR_EXPORT_CSV), this);
    m_export->setObjectName(QStringLiteral("monitorExport"));

    m_chart = new QChart;
    m_timeAxis = new QDateTimeAxis(m_chart);
    m_timeAxis->setFormat(QStringLiteral("HH:mm:ss"));
    m_valueAxis = new QValueAxis(m_chart);
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    m_chart->addAxis(m_valueAxis, Qt::AlignLeft);
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_view = new QChartView(m_chart, this);
    m_view->setObjectName(QStringLiteral("monitorChart"));
    m_view->setMinimumSize(360, 240);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("monitorStatus"));
    m_status->setWordWrap(true);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(M(MSG_MONITOR_EACH_ROUND), this), 0, 0);
    grid->addWidget(m_run, 0, 1);
    grid->addWidget(m_command, 0, 2);
    grid->addWidget(new QLabel(M(MSG_MONITOR_INTERVAL), this), 1, 0);
    grid->addWidget(m_interval, 1, 1);
    grid->addWidget(m_minutes, 1, 2);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {m_start, m_stop, m_export})
        buttons->addWidget(b);
    buttons->addStretch(1);
    auto* left = new QWidget(this);
    auto* leftColumn = new QVBoxLayout(left);
    leftColumn->setContentsMargins(0, 0, 0, 0);
    leftColumn->addLayout(grid);
    leftColumn->addWidget(m_traces, 1);
    leftColumn->addLayout(buttons);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(left);
    split->addWidget(m_view);
    split->setStretchFactor(1, 1);
    auto* column = new QVBoxLayout(this);
    column->addWidget(split, 1);
    column->addWidget(m_status);
    resize(900, 420);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &CMonitorPanel::Tick);
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    m_retry->setInterval(static_cast<int>(clCommunicateModel::kPollMs));
    connect(m_retry, &QTimer::timeout, this, &CMonitorPanel::TryRound);

    connect(m_run, &QComboBox::currentIndexChanged, this, [this] {
        m_command->setEnabled(m_run->currentData().toInt() == kCommandItem && !Running());
        SaveChoice();
    });
    connect(m_command, &QLineEdit::editingFinished, this, &CMonitorPanel::SaveChoice);
    connect(m_interval, &QSpinBox::valueChanged, this, &CMonitorPanel::SaveChoice);
    connect(m_traces, &QTreeWidget::itemChanged, this, &CMonitorPanel::SaveChoice);
    connect(m_minutes, &QSpinBox::valueChanged, this, &CMonitorPanel::Redraw);
    connect(m_start, &QPushButton::clicked, this, &CMonitorPanel::Start);
    connect(m_stop, &QPushButton::clicked, this, &CMonitorPanel::Stop);
    connect(m_export, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, M(MSG_MONITOR_EXPORT_CSV),
                                                          QString(), QStringLiteral("CSV (*.csv)"));
        if (!path.isEmpty() && !ExportCsv(path.toStdU16String()))
            SetStatus(M(MSG_CANNOT_WRITE_FILE) + QStringLiteral(": ") + path, true);
    });

    m_history = std::make_unique<clMonitorHistory>(std::vector<MonitorTrace>{});
    DefinitionMayHaveChanged();
}

CMonitorPanel::~CMonitorPanel() = default;

bool CMonitorPanel::Running() const {
    return m_timer->isActive();
}

void CMonitorPanel::DefinitionMayHaveChanged() {
    const clCommunicateModel* engine = m_app.Engine();
    const bool loaded = engine && engine->PropertyManager().IsLoaded();
    const uint64_t generation = loaded ? engine->PropertyManager().LoadGeneration() : 0;
    if (generation == m_generation && m_history)
        return;
    m_generation = generation;
    if (Running())
        Stop();
    m_definition = loaded ? QFileInfo(Q(m_app.CurrentDefinitionFile())).fileName().toStdU16String()
                          : std::u16string();
    SetStatus(QString(), false);
    ShowChoice(m_definition.empty() ? MonitorChoice{}
                                    : MonitorChoice::Read(m_app.SettingsFilePath(), m_definition));
    m_history = std::make_unique<clMonitorHistory>(std::vector<MonitorTrace>{});
    Redraw();
    UpdateEnables();
}

void CMonitorPanel::ShowChoice(const MonitorChoice& choice) {
    m_showing = true;
    QStringList missing;
    m_run->clear();
    m_run->addItem(M(MSG_NONE), 0);
    m_traces->clear();
    const clCommunicateModel* engine = m_app.Engine();
    std::vector<const clCamProperty*> properties;
    if (engine && !m_definition.empty())
        for (const auto& [name, p] : engine->PropertyManager().Properties())
            properties.push_back(p.get());
    std::sort(properties.begin(), properties.end(),
              [](const clCamProperty* a, const clCamProperty* b) { return a->name < b->name; });
    int runIndex = 0;
    for (const clCamProperty* p : properties) {
        // A property that asks for a confirmation is no round's business.
        if (p->type != CamPropertyType::Execution || p->hasPrompt)
            continue;
        m_run->addItem(Q(p->name), 1);
        if (p->name == choice.run)
            runIndex = m_run->count() - 1;
    }
    m_run->addItem(M(MSG_MONITOR_COMMAND), kCommandItem);
    if (!choice.run.empty() && runIndex == 0)
        missing << Q(choice.run);
    else if (choice.run.empty() && !choice.command.empty())
        runIndex = m_run->count() - 1;
    m_run->setCurrentIndex(runIndex);
    m_command->setText(Q(choice.command));
    m_interval->setValue(static_cast<int>(choice.intervalMs));

    for (const clCamProperty* p : properties) {
        if (!Plottable(*p))
            continue;
        auto* item = new QTreeWidgetItem(m_traces);
        item->setText(0, p->unit.empty() ? Q(p->name) : Q(p->name + u" (" + p->unit + u")"));
        item->setData(0, Qt::UserRole, Q(p->name));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
        const auto kept = std::find_if(choice.traces.begin(), choice.traces.end(),
                                       [&](const MonitorTrace& t) { return t.name == p->name; });
        item->setCheckState(0, kept != choice.traces.end() ? Qt::Checked : Qt::Unchecked);
        if (kept != choice.traces.end() && kept->banded) {
            item->setText(1, Number(kept->low));
            item->setText(2, Number(kept->high));
        }
    }
    for (const MonitorTrace& t : choice.traces) {
        const clCamProperty* p = engine ? engine->PropertyManager().FindProperty(t.name) : nullptr;
        if (!p || !Plottable(*p))
            missing << Q(t.name);
    }
    m_showing = false;
    m_command->setEnabled(m_run->currentData().toInt() == kCommandItem);
    // What the kept choice named and this definition lacks is dropped, and said so.
    if (!missing.isEmpty())
        SetStatus(QStringLiteral("− ") + missing.join(QStringLiteral(", ")), true);
}

MonitorChoice CMonitorPanel::Choice() const {
    MonitorChoice c;
    const int kind = m_run->currentData().toInt();
    if (kind == kCommandItem)
        c.command = m_command->text().trimmed().toStdU16String();
    else if (kind == 1)
        c.run = m_run->currentText().toStdU16String();
    c.intervalMs = MonitorChoice::ClampInterval(static_cast<uint64_t>(m_interval->value()));
    for (int i = 0; i < m_traces->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_traces->topLevelItem(i);
        if (item->checkState(0) != Qt::Checked)
            continue;
        MonitorTrace t;
        t.name = item->data(0, Qt::UserRole).toString().toStdU16String();
        bool lowOk = false, highOk = false;
        const double low = item->text(1).trimmed().toDouble(&lowOk);
        const double high = item->text(2).trimmed().toDouble(&highOk);
        if (lowOk && highOk && std::isfinite(low) && std::isfinite(high) && low <= high) {
            t.banded = true;
            t.low = low;
            t.high = high;
        }
        c.traces.push_back(std::move(t));
    }
    return c;
}

void CMonitorPanel::SaveChoice() {
    if (m_showing || m_definition.empty())
        return;
    if (!Choice().Write(m_app.SettingsFilePath(), m_definition))
        SetStatus(M(MSG_CANNOT_WRITE_FILE) + QStringLiteral(": ") + Q(m_app.SettingsFilePath()),
                  true);
}

void CMonitorPanel::Start() {
    if (m_definition.empty() || Running())
        return;
    const MonitorChoice choice = Choice();
    m_history = std::make_unique<clMonitorHistory>(choice.traces);
    ResetSeries();
    SetStatus(QString(), false);
    m_timer->start(static_cast<int>(choice.intervalMs));
    UpdateEnables();
    Tick();
}

void CMonitorPanel::ShowHistory(clMonitorHistory history) {
    m_history = std::make_unique<clMonitorHistory>(std::move(history));
    ResetSeries();
    Redraw();
    UpdateEnables();
}

// One series per trace, named with the value's unit for the legend.
void CMonitorPanel::ResetSeries() {
    for (auto& segments : m_series)
        for (QLineSeries* s : segments) {
            m_chart->removeSeries(s);
            delete s;
        }
    const std::vector<MonitorTrace>& traces = m_history->Traces();
    m_series.assign(traces.size(), {});
    m_colours.clear();
    const clCommunicateModel* engine = m_app.Engine();
    for (size_t i = 0; i < traces.size(); ++i) {
        auto* s = new QLineSeries;
        const clCamProperty* p =
            engine ? engine->PropertyManager().FindProperty(traces[i].name) : nullptr;
        s->setName(p && !p->unit.empty() ? Q(p->name + u" (" + p->unit + u")") : Q(traces[i].name));
        m_chart->addSeries(s);
        s->attachAxis(m_timeAxis);
        s->attachAxis(m_valueAxis);
        m_series[i].push_back(s);
        m_colours.push_back(s->color());
    }
}

void CMonitorPanel::Stop() {
    m_timer->stop();
    m_retry->stop();
    UpdateEnables();
}

void CMonitorPanel::EngineReady() {
    if (!Running() || !m_retry->isActive())
        return;
    m_retry->stop();
    TryRound();
}

void CMonitorPanel::Tick() {
    // A round still running or waiting for its gap: this tick is not another one.
    if (m_inFlight || m_retry->isActive())
        return;
    TryRound();
}

void CMonitorPanel::TryRound() {
    clCommunicateModel* engine = m_app.Engine();
    if (!Running() || !engine)
        return;
    const MonitorChoice choice = Choice();
    if (choice.run.empty() && choice.command.empty()) {
        // Nothing to send: the round plots the values as they are.
        RoundEnded(true, {});
        return;
    }
    // The operator's work goes first: a round waits while a job runs or waits.
    if (engine->IsBusy() || engine->Phase() != 0) {
        m_retry->start();
        return;
    }
    const clCamProperty* run =
        choice.run.empty() ? nullptr : engine->PropertyManager().FindProperty(choice.run);
    if (!choice.run.empty() && !run) {
        RoundEnded(false, choice.run);
        return;
    }
    QPointer<CMonitorPanel> self(this);
    const int32_t result = m_frame.SubmitRound(
        [&] {
            return run ? engine->RunPropertyJob(run) : engine->SubmitCommandJob(choice.command);
        },
        [self](const CMainFrame::RoundEnd& end) {
            if (self)
                self->RoundEnded(end.ok, end.reason);
        });
    if (result == SUBMIT_OK)
        m_inFlight = true;
    else if (result == SUBMIT_BUSY)
        m_retry->start();
    else
        RoundEnded(false, Msg(MSG_ERROR));
}

void CMonitorPanel::RoundEnded(bool ok, const std::u16string& reason) {
    m_inFlight = false;
    const clCommunicateModel* engine = m_app.Engine();
    MonitorRound round;
    round.at = std::chrono::system_clock::now();
    if (ok && engine)
        for (const MonitorTrace& t : m_history->Traces())
            round.values.push_back(TraceValue(engine->PropertyManager(),
                                              engine->PropertyManager().FindProperty(t.name)));
    Record(std::move(round));
    if (!ok) {
        SetStatus(Q(reason), true);
        return;
    }
    QStringList values;
    bool outside = false;
    const auto& last = m_history->Rounds().back().values;
    for (size_t i = 0; i < last.size(); ++i) {
        values << Q(m_history->Traces()[i].name) + QStringLiteral(" = ") +
                      (last[i] ? Number(*last[i]) : QStringLiteral("—"));
        outside = outside || m_history->Outside(i);
    }
    SetStatus(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss  ")) +
                  values.join(QStringLiteral(", ")),
              outside);
}

void CMonitorPanel::Record(MonitorRound round) {
    for (const BandCrossing& c : m_history->Append(std::move(round))) {
        const MonitorTrace& t = m_history->Traces()[c.trace];
        const std::u16string line =
            FormatMsg(c.outside ? MSG_MONITOR_LEFT_BAND : MSG_MONITOR_BACK_IN_BAND,
                      {t.name, Number(t.low).toStdU16String(), Number(t.high).toStdU16String(),
                       Number(c.value).toStdU16String()});
        if (clSimpleLog* log = m_app.AppLog())
            log->Write(line);
    }
    Redraw();
    UpdateEnables();
}

void CMonitorPanel::Redraw() {
    if (!m_history || m_series.size() != m_history->Traces().size())
        return;
    const auto now = std::chrono::system_clock::now();
    const auto from = now - std::chrono::minutes(m_minutes->value());
    const auto& rounds = m_history->Rounds();
    // The rounds shown: the newest back to the start of the window.
    auto first = std::partition_point(rounds.begin(), rounds.end(),
                                      [&](const MonitorRound& r) { return r.at < from; });
    auto ms = [](std::chrono::system_clock::time_point t) {
        return static_cast<qreal>(
            std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
    };
    // More rounds than the plot has columns: each column shows its lowest and highest value
    // (in their order), so no peak is lost and a day of rounds costs no more than a few minutes.
    const auto shown = static_cast<size_t>(std::distance(first, rounds.end()));
    const size_t columns = static_cast<size_t>(std::max(200, m_view->width()));
    const bool thinned = shown > 2 * columns;
    const double span = std::max(1.0, ms(now) - ms(from));
    double low = 0, high = 0;
    bool any = false;
    for (size_t i = 0; i < m_series.size(); ++i) {
        std::vector<QList<QPointF>> segments(1);
        size_t column = SIZE_MAX;
        QPointF least, most;
        bool filled = false, gap = false;
        const auto flush = [&] {
            if (filled) {
                const bool leastFirst = least.x() <= most.x();
                segments.back().append(leastFirst ? least : most);
                if (least != most)
                    segments.back().append(leastFirst ? most : least);
            }
            if (gap && !segments.back().isEmpty())
                segments.emplace_back();
            filled = gap = false;
        };
        for (auto r = first; r != rounds.end(); ++r) {
            const qreal x = ms(r->at);
            if (thinned) {
                const auto c =
                    static_cast<size_t>((x - ms(from)) / span * static_cast<double>(columns));
                if (c != column) {
                    flush();
                    column = c;
                }
            }
            const std::optional<double>& v = r->values[i];
            if (!v) {
                gap = true;
                if (!thinned)
                    flush();
                continue;
            }
            low = any ? std::min(low, *v) : *v;
            high = any ? std::max(high, *v) : *v;
            any = true;
            const QPointF point(x, *v);
            if (!thinned) {
                segments.back().append(point);
                continue;
            }
            if (!filled || *v < least.y())
                least = point;
            if (!filled || *v > most.y())
                most = point;
            filled = true;
        }
        flush();
        std::vector<QLineSeries*>& series = m_series[i];
        const QColor colour = m_history->Outside(i) ? QColor(Qt::red) : m_colours[i];
        while (series.size() < segments.size()) {
            auto* s = new QLineSeries;
            m_chart->addSeries(s);
            s->attachAxis(m_timeAxis);
            s->attachAxis(m_valueAxis);
            for (QLegendMarker* marker : m_chart->legend()->markers(s))
                marker->setVisible(false);
            series.push_back(s);
        }
        for (size_t k = 0; k < series.size(); ++k) {
            series[k]->replace(k < segments.size() ? segments[k] : QList<QPointF>());
            if (series[k]->color() != colour)
                series[k]->setColor(colour);
        }
    }
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms(from))),
                         QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms(now))));
    if (!any)
        low = 0, high = 1;
    const double margin = high > low ? (high - low) * 0.05 : 0.5;
    m_valueAxis->setRange(low - margin, high + margin);
}

bool CMonitorPanel::ExportCsv(const std::u16string& path) const {
    std::ofstream out(platform::Utf16ToPath(path), std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    m_history->WriteCsv(out);
    out.flush();
    return static_cast<bool>(out);
}

void CMonitorPanel::SetStatus(const QString& text, bool alarm) {
    m_status->setText(text);
    m_status->setStyleSheet(alarm ? QStringLiteral("color: red;") : QString());
}

void CMonitorPanel::UpdateEnables() {
    const bool running = Running();
    const bool open = !m_definition.empty();
    m_run->setEnabled(open && !running);
    m_command->setEnabled(open && !running && m_run->currentData().toInt() == kCommandItem);
    m_traces->setEnabled(open && !running);
    m_interval->setEnabled(open && !running);
    m_start->setEnabled(open && !running);
    m_stop->setEnabled(running);
    m_export->setEnabled(m_history && !m_history->Rounds().empty());
}
