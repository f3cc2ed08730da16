#include "app/Monitor.h"

#include "camdef/CamPropertyMgr.h"
#include "comm/TrafficLog.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

std::u16string Section(std::u16string_view definition) {
    return u"Monitor " + std::u16string(definition);
}

// A number as the settings file keeps it (shortest form that reads back the same).
std::u16string NumberText(double v) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
    return platform::Utf8ToUtf16(std::string_view(buffer, static_cast<size_t>(end - buffer)));
}

std::optional<double> ReadNumber(std::u16string_view text) {
    const std::string s = platform::Utf16ToUtf8(text);
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

} // namespace

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (const char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

uint32_t MonitorChoice::ClampInterval(uint64_t ms) {
    return static_cast<uint32_t>(std::clamp<uint64_t>(ms, kLeastIntervalMs, kMostIntervalMs));
}

// The traces are kept as "Trace1", "Trace2", ... each "name" or "name|low|high".
MonitorChoice MonitorChoice::Read(const std::u16string& settingsFile,
                                  std::u16string_view definition) {
    MonitorChoice c;
    const std::u16string section = Section(definition);
    c.run = platform::ReadSetting(section, u"Run", u"", settingsFile);
    c.command = platform::ReadSetting(section, u"Command", u"", settingsFile);
    c.intervalMs = ClampInterval(
        platform::ReadSettingInt(section, u"IntervalMs", kDefaultIntervalMs, settingsFile));
    for (int i = 1;; ++i) {
        const std::u16string key = u"Trace" + platform::Utf8ToUtf16(std::to_string(i));
        const std::u16string value = platform::ReadSetting(section, key, u"", settingsFile);
        if (value.empty())
            break;
        MonitorTrace t;
        const size_t bar = value.find(u'|');
        t.name = value.substr(0, bar);
        if (bar != std::u16string::npos) {
            const size_t second = value.find(u'|', bar + 1);
            const auto low =
                ReadNumber(std::u16string_view(value).substr(bar + 1, second - bar - 1));
            const auto high = second == std::u16string::npos
                                  ? std::nullopt
                                  : ReadNumber(std::u16string_view(value).substr(second + 1));
            if (low && high && *low <= *high) {
                t.banded = true;
                t.low = *low;
                t.high = *high;
            }
        }
        if (!t.name.empty())
            c.traces.push_back(std::move(t));
    }
    return c;
}

bool MonitorChoice::Write(const std::u16string& settingsFile,
                          std::u16string_view definition) const {
    const std::u16string section = Section(definition);
    bool ok = platform::WriteSetting(section, u"Run", run, settingsFile) &&
              platform::WriteSetting(section, u"Command", command, settingsFile) &&
              platform::WriteSetting(
                  section, u"IntervalMs",
                  platform::Utf8ToUtf16(std::to_string(ClampInterval(intervalMs))), settingsFile);
    // One key more than there are traces, empty: it ends the list a longer one left behind.
    for (size_t i = 0; ok && i <= traces.size(); ++i) {
        std::u16string value;
        if (i < traces.size()) {
            value = traces[i].name;
            if (traces[i].banded)
                value += u"|" + NumberText(traces[i].low) + u"|" + NumberText(traces[i].high);
        }
        ok = platform::WriteSetting(
            section, u"Trace" + platform::Utf8ToUtf16(std::to_string(i + 1)), value, settingsFile);
    }
    return ok;
}

std::optional<double> TraceValue(const clCamPropertyMgr& manager, const clCamProperty* p) {
    if (!p)
        return std::nullopt;
    switch (p->type) {
    case CamPropertyType::Integer: {
        int64_t v = 0;
        manager.GetIntegerValue(static_cast<const clCamPropertyInteger*>(p), v);
        return static_cast<double>(v);
    }
    case CamPropertyType::Float: {
        double v = 0;
        manager.GetFloatValue(static_cast<const clCamPropertyFloat*>(p), v);
        return v;
    }
    case CamPropertyType::Bool:
        return static_cast<const clCamPropertyBool*>(p)->state != 0 ? 1.0 : 0.0;
    case CamPropertyType::Selection:
        return static_cast<double>(static_cast<const clCamPropertySelection*>(p)->value);
    default:
        return std::nullopt;
    }
}

clMonitorHistory::clMonitorHistory(std::vector<MonitorTrace> traces, size_t maxRounds)
    : m_traces(std::move(traces)), m_maxRounds(std::max<size_t>(maxRounds, 1)),
      m_outside(m_traces.size(), false) {}

std::vector<BandCrossing> clMonitorHistory::Append(MonitorRound round) {
    round.values.resize(m_traces.size());
    std::vector<BandCrossing> crossings;
    for (size_t i = 0; i < m_traces.size(); ++i) {
        const MonitorTrace& t = m_traces[i];
        const std::optional<double>& v = round.values[i];
        if (!t.banded || !v)
            continue;
        const bool outside = *v < t.low || *v > t.high;
        if (outside != m_outside[i]) {
            m_outside[i] = outside;
            crossings.push_back({i, outside, *v});
        }
    }
    m_rounds.push_back(std::move(round));
    while (m_rounds.size() > m_maxRounds)
        m_rounds.pop_front();
    return crossings;
}

void clMonitorHistory::Clear() {
    m_rounds.clear();
    std::fill(m_outside.begin(), m_outside.end(), false);
}

void clMonitorHistory::WriteCsv(std::ostream& out) const {
    out << "time";
    for (const MonitorTrace& t : m_traces)
        out << ',' << CsvField(platform::Utf16ToUtf8(t.name));
    out << '\n';
    char number[64];
    for (const MonitorRound& r : m_rounds) {
        out << clTrafficLog::LocalStamp(r.at, 'T');
        for (const std::optional<double>& v : r.values) {
            out << ',';
            if (v) {
                const auto end = std::to_chars(number, number + sizeof number, *v).ptr;
                out.write(number, end - number);
            }
        }
        out << '\n';
    }
}
