// The Monitor without a window: band crossings, the bounded history, the CSV lines, and the
// choice kept per definition in the settings file.
#include "app/Monitor.h"

#include "platform/Text.h"
#include "support/TempDir.h"

#include <ctime>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace std::chrono_literals;

// 2026-12-10 04:05:06.250 local time, and a second later for each step.
std::chrono::system_clock::time_point At(int step) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 10;
    t.tm_hour = 4;
    t.tm_min = 5;
    t.tm_sec = 6;
    t.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&t)) + 250ms + step * 1s;
}

TEST(MonitorHistory, EachCrossingOfABandIsReportedOnce) {
    clMonitorHistory history({{u"SensorTemperature", true, 40.0, 45.0}, {u"Gain", false, 0, 0}});
    const struct {
        std::optional<double> temperature;
        std::vector<std::pair<bool, double>> crossings; // outside, value
    } rounds[] = {
        {41.0, {}},              // inside from the start: nothing to say
        {45.5, {{true, 45.5}}},  // leaves the band
        {47.0, {}},              // still outside
        {std::nullopt, {}},      // a gap crosses nothing
        {44.0, {{false, 44.0}}}, // back
        {39.9, {{true, 39.9}}},  // leaves below
    };
    for (const auto& r : rounds) {
        std::vector<std::pair<bool, double>> seen;
        for (const BandCrossing& c : history.Append({At(0), {r.temperature, 120.0}})) {
            EXPECT_EQ(c.trace, 0u);
            seen.emplace_back(c.outside, c.value);
        }
        EXPECT_EQ(seen, r.crossings) << (r.temperature ? *r.temperature : -1);
    }
    EXPECT_TRUE(history.Outside(0));
    EXPECT_FALSE(history.Outside(1)); // no band
}

TEST(MonitorHistory, KeepsTheNewestRoundsAndWritesThemAsCsv) {
    clMonitorHistory history({{u"SensorTemperature"}, {u"Name, \"quoted\""}}, 3);
    for (int i = 0; i < 5; ++i)
        history.Append({At(i), {40.5 + i, i == 3 ? std::nullopt : std::optional<double>(i)}});
    ASSERT_EQ(history.Rounds().size(), 3u);
    std::ostringstream csv;
    history.WriteCsv(csv);
    EXPECT_EQ(csv.str(), "time,SensorTemperature,\"Name, \"\"quoted\"\"\"\n"
                         "2026-12-10T04:05:08.250,42.5,2\n"
                         "2026-12-10T04:05:09.250,43.5,\n"
                         "2026-12-10T04:05:10.250,44.5,4\n");
}

TEST(MonitorChoice, IsKeptPerDefinitionAndReadBackAsWritten) {
    TempDir dir;
    const std::u16string ini = platform::Utf8ToUtf16(dir.file("Quillon_00.ini"));
    MonitorChoice choice;
    choice.run = u"ReadTemperature";
    choice.intervalMs = 2500;
    choice.traces = {{u"SensorTemperature", true, 20.5, 45.25}, {u"Gain"}};
    ASSERT_TRUE(choice.Write(ini, u"XC-100.xml"));
    EXPECT_EQ(MonitorChoice::Read(ini, u"XC-100.xml"), choice);
    EXPECT_EQ(MonitorChoice::Read(ini, u"LX-4K.xml"), MonitorChoice{}); // another definition

    // Fewer traces than before leave none of the old ones behind.
    choice.traces.pop_back();
    choice.intervalMs = 5; // below the least: kept at it
    ASSERT_TRUE(choice.Write(ini, u"XC-100.xml"));
    const MonitorChoice back = MonitorChoice::Read(ini, u"XC-100.xml");
    EXPECT_EQ(back.traces, choice.traces);
    EXPECT_EQ(back.intervalMs, MonitorChoice::kLeastIntervalMs);
}

} // namespace
