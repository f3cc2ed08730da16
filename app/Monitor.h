// What the window's Monitor keeps, without a window: the operator's choice (what each round runs,
// how often, which values it plots with which bands), kept per definition in the settings file;
// the rounds' values in a bounded history; the crossings of a band; and the history as CSV.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

class clCamPropertyMgr;
struct clCamProperty;

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text);

// One plotted value and its band (low to high; a value outside it is flagged).
struct MonitorTrace {
    std::u16string name;
    bool banded = false;
    double low = 0.0;
    double high = 0.0;
    bool operator==(const MonitorTrace&) const = default;
};

struct MonitorChoice {
    static constexpr uint32_t kLeastIntervalMs = 100;
    static constexpr uint32_t kMostIntervalMs = 24u * 3600u * 1000u;
    static constexpr uint32_t kDefaultIntervalMs = 1000;

    std::u16string run;     // the Execution property each round runs (empty: none)
    std::u16string command; // else the command each round sends (empty: none)
    uint32_t intervalMs = kDefaultIntervalMs;
    std::vector<MonitorTrace> traces;
    bool operator==(const MonitorChoice&) const = default;

    // The interval kept within kLeastIntervalMs to kMostIntervalMs.
    static uint32_t ClampInterval(uint64_t ms);
    // The choice kept for a definition (its file name) in the section "Monitor <file name>" of
    // the settings file; the defaults when there is none. Values that do not fit are dropped.
    static MonitorChoice Read(const std::u16string& settingsFile, std::u16string_view definition);
    // False when the file cannot be written.
    bool Write(const std::u16string& settingsFile, std::u16string_view definition) const;
};

// The value a trace plots: Integer, Float (calculated ones too), Bool as 0 or 1, Selection its
// entry's value. None for other types and a property that is not there.
std::optional<double> TraceValue(const clCamPropertyMgr& manager, const clCamProperty* property);

struct MonitorRound {
    std::chrono::system_clock::time_point at;
    std::vector<std::optional<double>> values; // one per trace; none: a gap (the round failed)
};

struct BandCrossing {
    size_t trace = 0;
    bool outside = false; // left the band (true) or came back into it
    double value = 0.0;
};

class clMonitorHistory {
public:
    // 24 hours at one round a second; the oldest rounds go first.
    static constexpr size_t kMaxRounds = 86400;

    explicit clMonitorHistory(std::vector<MonitorTrace> traces, size_t maxRounds = kMaxRounds);

    const std::vector<MonitorTrace>& Traces() const { return m_traces; }
    const std::deque<MonitorRound>& Rounds() const { return m_rounds; }
    // Whether a trace's last value lies outside its band.
    bool Outside(size_t trace) const { return m_outside.at(trace); }

    // Keeps a round (values one per trace, fewer are gaps) and returns the band crossings it
    // made: each trace that left its band or came back, once per crossing. A gap crosses nothing.
    std::vector<BandCrossing> Append(MonitorRound round);
    void Clear();

    // "time,Name1,Name2" then one line per round, local time with milliseconds, a gap's values
    // empty; written as it goes (nothing is gathered first).
    void WriteCsv(std::ostream& out) const;

private:
    std::vector<MonitorTrace> m_traces;
    size_t m_maxRounds;
    std::deque<MonitorRound> m_rounds;
    std::vector<bool> m_outside;
};
