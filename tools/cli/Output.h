// What quillon-cli prints: one JSON object per line on standard output with --json, human text
// otherwise; problems as one line each on standard error. Human text never carries a control
// character to the terminal: what a camera, a file or an argument holds is shown escaped
// ("\x1b"), so it cannot move the cursor, clear the screen or retitle the terminal.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

class clCliOutput {
public:
    explicit clCliOutput(bool json) : m_json(json) {}

    bool Json() const { return m_json; }
    // Prints the object (with --json) or the text (each ends with a line feed; line feeds
    // inside the text end its lines, every other control character is escaped).
    void Emit(const nlohmann::json& object, std::string_view text) const;
    // "quillon-cli: <message>" on standard error, every control character escaped.
    static void Error(std::string_view message);
    // UTF-8 text with its control characters escaped: the C0 characters but TAB (and LF when
    // keepLineFeeds), DEL and the C1 characters U+0080 to U+009F, each as "\xHH".
    static std::string EscapeControls(std::string_view text, bool keepLineFeeds);
    // A progress bar of done/total on standard error, redrawn in place; only when standard
    // error is a terminal. done == total ends the line.
    void Progress(size_t done, size_t total) const;
    // Local time with milliseconds: "2026-12-10T04:01:02.123".
    static std::string LocalTime(std::chrono::system_clock::time_point at);

private:
    bool m_json;
};
