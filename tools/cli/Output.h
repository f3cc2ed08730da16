// What quillon-cli prints: one JSON object per line on standard output with --json, human text
// otherwise; problems as one line each on standard error.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

class clCliOutput {
public:
    explicit clCliOutput(bool json) : m_json(json) {}

    bool Json() const { return m_json; }
    // Prints the object (with --json) or the text (each ends with a line feed).
    void Emit(const nlohmann::json& object, std::string_view text) const;
    // "quillon-cli: <message>" on standard error.
    static void Error(std::string_view message);
    // A progress bar of done/total on standard error, redrawn in place; only when standard
    // error is a terminal. done == total ends the line.
    void Progress(size_t done, size_t total) const;

private:
    bool m_json;
};
