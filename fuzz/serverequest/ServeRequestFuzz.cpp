// Any bytes from a client of quillon-cli serve, cut into pieces at places the input chooses:
// the framer gives the same lines however the bytes arrive, every line read gives a request of
// a known method or an error response of a protocol code, and every response written is one
// line of JSON that reads back as it was.
#include "app/ServeRequest.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void CheckResponse(const nlohmann::json& response) {
    const std::string line = serve::Serialize(response);
    Check(line.find('\n') == std::string::npos);
    const nlohmann::json back = nlohmann::json::parse(line, nullptr, false);
    Check(!back.is_discarded() && back["jsonrpc"] == "2.0" && back.contains("id"));
}

void CheckLine(std::string_view text) {
    const serve::Line line = serve::ReadLine(text);
    Check(!line.entries.empty());
    for (const serve::Entry& e : line.entries) {
        if (!e.request && e.error.is_null())
            continue; // a notification that cannot run: never answered
        if (!e.request) {
            const int code = e.error["error"]["code"];
            Check(code == serve::kParseError || code == serve::kInvalidRequest ||
                  code == serve::kMethodNotFound || code == serve::kInvalidParams);
            CheckResponse(e.error);
            continue;
        }
        const auto& names = serve::MethodNames();
        Check(std::find(names.begin(), names.end(), e.request->method) != names.end());
        Check(e.request->params.is_object());
        CheckResponse(serve::Response(e.request->id, e.request->params));
    }
}

std::vector<std::string> Frame(std::string_view bytes, size_t piece, size_t& overlong) {
    std::vector<std::string> lines;
    serve::LineFramer framer;
    const auto onLine = [&](std::string_view line) { lines.emplace_back(line); };
    for (size_t at = 0; at < bytes.size(); at += piece)
        framer.Feed(bytes.substr(at, piece), onLine, [&] { ++overlong; });
    framer.End(onLine);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t piece = 1 + data[0] % 64;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t overlongWhole = 0, overlongPieces = 0;
    const std::vector<std::string> whole = Frame(bytes, bytes.size() + 1, overlongWhole);
    Check(Frame(bytes, piece, overlongPieces) == whole && overlongPieces == overlongWhole);
    for (const std::string& line : whole) {
        Check(line.size() <= serve::kMaxLineBytes && line.find('\n') == std::string::npos);
        CheckLine(line);
    }
    return 0;
}
