#include "app/ServeRequest.h"

#include "platform/Text.h"

#include <algorithm>
#include <cmath>

using nlohmann::json;

namespace serve {

namespace {

enum class Kind {
    kText,     // a string
    kPath,     // a string without a NUL character (a file name)
    kPaths,    // an array of those
    kFlag,     // true or false
    kCount,    // a whole number of 0 or more
    kPositive, // a whole number of 1 or more
    kTexts,    // an array of strings
    kObject,   // an object
    kEvents,   // an array of "progress", "traffic", "port"
};

struct Param {
    const char* name;
    Kind kind;
    bool required;
};

struct Method {
    const char* name;
    bool camera;
    std::vector<Param> params;
};

const std::vector<Method>& Methods() {
    static const std::vector<Method> methods = {
        {"open",
         true,
         {{"port", Kind::kText, false},
          {"interface", Kind::kText, false},
          {"baud", Kind::kPositive, false},
          {"definition", Kind::kPath, false},
          {"timeout_ms", Kind::kCount, false},
          {"gap_ms", Kind::kCount, false}}},
        {"close", true, {}},
        {"identify", true, {}},
        {"send", true, {{"commands", Kind::kTexts, true}}},
        {"get", false, {{"names", Kind::kTexts, false}}},
        {"set", true, {{"values", Kind::kObject, true}}},
        {"execute", true, {{"name", Kind::kText, true}, {"confirm", Kind::kFlag, false}}},
        {"describe", false, {{"names", Kind::kTexts, false}}},
        {"load", true, {{"path", Kind::kPath, true}, {"verify", Kind::kFlag, false}}},
        {"save", true, {{"path", Kind::kPath, true}, {"values", Kind::kObject, false}}},
        {"check", false, {{"paths", Kind::kPaths, true}}},
        {"ports", false, {}},
        {"cancel", false, {}},
        {"subscribe", false, {{"events", Kind::kEvents, true}}},
        {"watch",
         true,
         {{"every_ms", Kind::kCount, true},
          {"run", Kind::kText, false},
          {"send", Kind::kText, false},
          {"names", Kind::kTexts, true}}},
        {"unwatch", true, {{"id", Kind::kCount, false}}},
    };
    return methods;
}

const Method* FindMethod(std::string_view name) {
    for (const Method& m : Methods())
        if (name == m.name)
            return &m;
    return nullptr;
}

// A whole number from least to 4294967295 (what a port's rate, a time-out and a gap can hold).
bool WholeNumber(const json& v, int64_t least) {
    constexpr double kMost = 4294967295.0;
    if (!v.is_number())
        return false;
    const double d = v.get<double>();
    return std::isfinite(d) && d == std::floor(d) && d >= static_cast<double>(least) && d <= kMost;
}

const char* KindText(Kind kind) {
    switch (kind) {
    case Kind::kText:
        return "a string";
    case Kind::kPath:
        return "a file name (a string without NUL)";
    case Kind::kPaths:
        return "an array of file names (strings without NUL)";
    case Kind::kFlag:
        return "true or false";
    case Kind::kCount:
        return "a whole number from 0 to 4294967295";
    case Kind::kPositive:
        return "a whole number from 1 to 4294967295";
    case Kind::kTexts:
        return "an array of strings";
    case Kind::kObject:
        return "an object";
    case Kind::kEvents:
        return "an array of \"progress\", \"traffic\" and \"port\"";
    }
    return "";
}

bool Fits(const json& v, Kind kind) {
    switch (kind) {
    case Kind::kText:
        return v.is_string();
    case Kind::kPath:
        return v.is_string() && v.get_ref<const std::string&>().find('\0') == std::string::npos;
    case Kind::kPaths:
        return v.is_array() && std::all_of(v.begin(), v.end(), [](const json& e) {
                   return e.is_string() &&
                          e.get_ref<const std::string&>().find('\0') == std::string::npos;
               });
    case Kind::kFlag:
        return v.is_boolean();
    case Kind::kCount:
        return WholeNumber(v, 0);
    case Kind::kPositive:
        return WholeNumber(v, 1);
    case Kind::kTexts:
        return v.is_array() &&
               std::all_of(v.begin(), v.end(), [](const json& e) { return e.is_string(); });
    case Kind::kObject:
        return v.is_object();
    case Kind::kEvents:
        return v.is_array() && std::all_of(v.begin(), v.end(), [](const json& e) {
                   return e == "progress" || e == "traffic" || e == "port";
               });
    }
    return false;
}

// Null when the parameters fit the method; else why not.
std::optional<std::string> CheckParams(const Method& method, const json& params) {
    for (const auto& [key, value] : params.items()) {
        const auto p = std::find_if(method.params.begin(), method.params.end(),
                                    [&key = key](const Param& q) { return key == q.name; });
        if (p == method.params.end())
            return std::string(method.name) + " takes no parameter \"" + key + "\"";
        if (!Fits(value, p->kind))
            return std::string(method.name) + ": \"" + key + "\" must be " + KindText(p->kind);
    }
    for (const Param& p : method.params)
        if (p.required && !params.contains(p.name))
            return std::string(method.name) + " needs \"" + p.name + "\" (" + KindText(p.kind) +
                   ")";
    return std::nullopt;
}

Entry ReadEntry(const json& message) {
    Entry entry;
    if (!message.is_object()) {
        entry.error = ErrorResponse(nullptr, kInvalidRequest, "a request is a JSON object");
        return entry;
    }
    // The id is answered whenever it can be read, even when the rest does not fit.
    json id = nullptr;
    const auto idAt = message.find("id");
    const bool hasId = idAt != message.end();
    if (hasId) {
        if (!idAt->is_string() && !idAt->is_number() && !idAt->is_null()) {
            entry.error = ErrorResponse(nullptr, kInvalidRequest,
                                        "\"id\" must be a string, a "
                                        "number or null");
            return entry;
        }
        id = *idAt;
    }
    const auto version = message.find("jsonrpc");
    if (version == message.end() || *version != "2.0") {
        entry.error = ErrorResponse(id, kInvalidRequest, "\"jsonrpc\" must be \"2.0\"");
        return entry;
    }
    const auto methodAt = message.find("method");
    if (methodAt == message.end() || !methodAt->is_string()) {
        entry.error = ErrorResponse(id, kInvalidRequest, "\"method\" must be a string");
        return entry;
    }
    for (const auto& [key, value] : message.items())
        if (key != "jsonrpc" && key != "method" && key != "params" && key != "id") {
            entry.error =
                ErrorResponse(id, kInvalidRequest, "a request has no member \"" + key + "\"");
            return entry;
        }
    // From here on the request is well formed: a notification (no "id") is never answered,
    // not even with an error.
    const std::string name = methodAt->get<std::string>();
    const Method* method = FindMethod(name);
    if (!method) {
        if (hasId)
            entry.error = ErrorResponse(id, kMethodNotFound, "no method \"" + name + "\"");
        return entry;
    }
    json params = json::object();
    if (const auto p = message.find("params"); p != message.end()) {
        if (!p->is_object()) {
            if (hasId)
                entry.error = ErrorResponse(
                    id, kInvalidParams,
                    p->is_array() ? "parameters are named: \"params\" must be an object"
                                  : "\"params\" must be an object");
            return entry;
        }
        params = *p;
    }
    if (const auto why = CheckParams(*method, params)) {
        if (hasId)
            entry.error = ErrorResponse(id, kInvalidParams, *why);
        return entry;
    }
    entry.request = Request{id, !hasId, name, std::move(params)};
    return entry;
}

} // namespace

void LineFramer::Feed(std::string_view data, const LineHandler& onLine,
                      const OverlongHandler& onOverlong) {
    while (!data.empty()) {
        const size_t end = data.find('\n');
        const std::string_view part = data.substr(0, end);
        if (!m_skipping) {
            m_pending.append(part);
            if (m_pending.size() > kMaxLineBytes) {
                m_pending.clear();
                m_skipping = true;
                onOverlong();
            }
        }
        if (end == std::string_view::npos)
            return;
        if (!m_skipping) {
            std::string line = std::move(m_pending);
            m_pending.clear();
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            onLine(line);
        }
        m_skipping = false;
        data.remove_prefix(end + 1);
    }
}

void LineFramer::End(const LineHandler& onLine) {
    if (!m_pending.empty() && !m_skipping)
        onLine(m_pending);
    m_pending.clear();
    m_skipping = false;
}

Line ReadLine(std::string_view text) {
    Line line;
    if (text.size() > kMaxLineBytes) {
        line.entries.push_back({std::nullopt, OverlongLineError()});
        return line;
    }
    bool clean = true;
    platform::Utf8ToUtf16(text, &clean);
    if (!clean) {
        line.entries.push_back(
            {std::nullopt, ErrorResponse(nullptr, kParseError, "the line is not UTF-8")});
        return line;
    }
    json message = json::parse(text, nullptr, false);
    if (message.is_discarded()) {
        line.entries.push_back({std::nullopt, ErrorResponse(nullptr, kParseError, "not JSON")});
        return line;
    }
    if (!message.is_array()) {
        line.entries.push_back(ReadEntry(message));
        return line;
    }
    line.batch = true;
    if (message.empty()) {
        line.batch = false; // answered with one error, not an array
        line.entries.push_back(
            {std::nullopt, ErrorResponse(nullptr, kInvalidRequest, "an empty batch")});
        return line;
    }
    for (const json& m : message)
        line.entries.push_back(ReadEntry(m));
    return line;
}

const std::vector<std::string>& MethodNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const Method& m : Methods())
            out.push_back(m.name);
        return out;
    }();
    return names;
}

bool NeedsCamera(std::string_view method) {
    const Method* m = FindMethod(method);
    return m && m->camera;
}

json Response(const json& id, json result) {
    return json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

json ErrorResponse(const json& id, int code, const std::string& message, json data) {
    json error{{"code", code}, {"message", message}};
    if (!data.is_null())
        error["data"] = std::move(data);
    return json{{"jsonrpc", "2.0"}, {"id", id}, {"error", std::move(error)}};
}

json OverlongLineError() {
    return ErrorResponse(nullptr, kInvalidRequest,
                         "the line is longer than " + std::to_string(kMaxLineBytes) + " bytes");
}

json Notification(const std::string& method, json params) {
    return json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
}

std::string Serialize(const json& message) {
    return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace serve
