// The request reader of quillon-cli's scripting service: one line of JSON-RPC 2.0 (a request, a
// notification or a batch array) read into requests, each checked for the shape of its
// parameters, or the error answered in its place. No camera, no session: the server runs what
// is read here.
#pragma once

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace serve {

// A line longer than this is refused (-32600) and skipped to its end.
inline constexpr size_t kMaxLineBytes = size_t{1} << 20;

enum ProtocolError : int {
    kParseError = -32700,     // not JSON, or not UTF-8
    kInvalidRequest = -32600, // not a request object, or a line over kMaxLineBytes
    kMethodNotFound = -32601,
    kInvalidParams = -32602, // parameters of the wrong shape
    kInternalError = -32603, // a fault of the service itself
};

struct Request {
    nlohmann::json id;         // null when the request has none
    bool notification = false; // no "id": nothing is answered
    std::string method;
    nlohmann::json params = nlohmann::json::object();
};

// One request of a line, or the error response that stands for it (null for a notification
// that cannot run: it is never answered).
// Only the JSON value's destructor may throw (when it cannot allocate while freeing a deep
// value), and that ends the program in any destructor.
// NOLINTNEXTLINE(bugprone-exception-escape)
struct Entry {
    std::optional<Request> request;
    nlohmann::json error; // a whole response object, or null, when request is empty
};

struct Line {
    bool batch = false;
    std::vector<Entry> entries;
};

// Cuts a client's bytes into lines, whatever pieces they arrive in: each line without its line
// feed (and a carriage return before it). A line that grows over kMaxLineBytes is reported once
// as overlong and skipped to its end.
class LineFramer {
public:
    using LineHandler = std::function<void(std::string_view line)>;
    using OverlongHandler = std::function<void()>;

    void Feed(std::string_view bytes, const LineHandler& onLine, const OverlongHandler& onOverlong);
    // The end of the input: a last line without its line feed still counts.
    void End(const LineHandler& onLine);

private:
    std::string m_pending;
    bool m_skipping = false;
};

// Reads a line (without its line feed). Every request is checked: the method must be known and
// its parameters of the documented shape.
Line ReadLine(std::string_view line);

// The methods the service answers, in the order the protocol document lists them.
const std::vector<std::string>& MethodNames();
// Whether a method runs a camera job (waits its turn) or is answered at once.
bool NeedsCamera(std::string_view method);

nlohmann::json Response(const nlohmann::json& id, nlohmann::json result);
nlohmann::json ErrorResponse(const nlohmann::json& id, int code, const std::string& message,
                             nlohmann::json data = nullptr);
// The answer to a line longer than kMaxLineBytes.
nlohmann::json OverlongLineError();
nlohmann::json Notification(const std::string& method, nlohmann::json params);
// One line of output (without its line feed); bytes that are no UTF-8 become U+FFFD.
std::string Serialize(const nlohmann::json& message);

} // namespace serve
