// CMonitorPanel: the window's Monitor, a window of its own beside the main window. The operator
// picks what each round sends (an Execution property of the definition or a console command),
// how often, and the numeric values to plot, each with an optional band (low < high). Rounds are
// ordinary jobs of the engine, run in the gaps between the operator's own: a round waits while
// the engine is busy and asks nothing (CMainFrame::SubmitRound). Each round's values go to a
// bounded history (clMonitorHistory) and the chart; a value leaving or re-entering its band turns
// its trace and the status line red (or back) and writes one line to the application log; a
// failed round is a gap in every trace with its reason on the status line. The choice is kept
// per definition in the settings file and read again whenever another definition is opened.
#pragma once

#include "app/Monitor.h"

#include <QColor>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class clApplication;
class CMainFrame;
class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QSpinBox;
class QTimer;
class QTreeWidget;
class QValueAxis;

class CMonitorPanel : public QWidget {
    Q_OBJECT
public:
    CMonitorPanel(clApplication& app, CMainFrame& frame);
    ~CMonitorPanel() override;

    // Reads the choice of the definition now open, when it is another one than before (the
    // frame calls it on each refresh of the property view).
    void DefinitionMayHaveChanged();

    void Start();
    void Stop();
    bool Running() const;
    // The engine has ended a job: a round that waits for it goes now.
    void EngineReady();
    // Writes the history as CSV (streamed); false when the file cannot be written.
    bool ExportCsv(const std::u16string& path) const;

    // Shows a history (its traces and rounds) instead of the panel's own.
    void ShowHistory(clMonitorHistory history);
    // The chart drawn again from the history: the rounds of the last minutes shown.
    void Redraw();

    // The choice as the controls show it.
    MonitorChoice Choice() const;
    const clMonitorHistory& History() const { return *m_history; }
    QChartView* ChartView() const { return m_view; }
    QLabel* StatusLine() const { return m_status; }
    QComboBox* RoundChoice() const { return m_run; }
    QLineEdit* CommandEdit() const { return m_command; }
    QSpinBox* IntervalSpin() const { return m_interval; }
    QSpinBox* MinutesSpin() const { return m_minutes; }
    QTreeWidget* TraceList() const { return m_traces; }

private:
    void ShowChoice(const MonitorChoice& choice);
    void SaveChoice();
    void Tick();
    void TryRound();
    void RoundEnded(bool ok, const std::u16string& reason);
    void Record(MonitorRound round);
    void ResetSeries();
    void SetStatus(const QString& text, bool alarm);
    void UpdateEnables();

    clApplication& m_app;
    CMainFrame& m_frame;
    QComboBox* m_run = nullptr;
    QLineEdit* m_command = nullptr;
    QSpinBox* m_interval = nullptr;
    QSpinBox* m_minutes = nullptr;
    QTreeWidget* m_traces = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_export = nullptr;
    QChart* m_chart = nullptr;
    QChartView* m_view = nullptr;
    QDateTimeAxis* m_timeAxis = nullptr;
    QValueAxis* m_valueAxis = nullptr;
    QLabel* m_status = nullptr;
    QTimer* m_timer = nullptr;
    QTimer* m_retry = nullptr;
    // Per trace of the history: its segments (a gap starts a new one), the first one in the
    // legend.
    std::vector<std::vector<QLineSeries*>> m_series;
    std::vector<QColor> m_colours; // each trace's own, red while outside its band
    std::unique_ptr<clMonitorHistory> m_history;
    std::u16string m_definition; // file name of the definition whose choice is shown
    uint64_t m_generation = 0;   // load generation it was read for
    bool m_showing = false;      // the controls are being filled: no saving
    bool m_inFlight = false;
};
