// The scripting service's request reader: what each kind of line is answered with, and the
// framing of a client's bytes into lines.
#include "app/ServeRequest.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

constexpr int kSilent = 1; // a notification that cannot run: nothing is answered

// The code each entry of a line is answered with (0: a request to run).
std::vector<int> Codes(std::string_view text) {
    std::vector<int> codes;
    for (const serve::Entry& e : serve::ReadLine(text).entries)
        codes.push_back(e.request           ? 0
                        : e.error.is_null() ? kSilent
                                            : e.error["error"]["code"].get<int>());
    return codes;
}

TEST(ServeRequest, EachKindOfLineGetsItsAnswer) {
    const struct {
        std::string line;
        std::vector<int> codes;
    } cases[] = {
        {R"({"jsonrpc":"2.0","id":1,"method":"identify"})", {0}},
        {R"({"jsonrpc":"2.0","method":"close"})", {0}}, // a notification
        {R"({"jsonrpc":"2.0","method":"reboot"})", {kSilent}},
        {R"({"jsonrpc":"2.0","method":"send","params":{"commands":5}})", {kSilent}},
        {R"({"jsonrpc":"1.0","method":"close"})", {serve::kInvalidRequest}},
        {"not json", {serve::kParseError}},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"send\",\"params\":{\"commands\":[\"\xff\"]}}",
         {serve::kParseError}},
        {R"([1,2])", {serve::kInvalidRequest, serve::kInvalidRequest}},
        {R"([])", {serve::kInvalidRequest}},
        {R"({"jsonrpc":"1.0","id":1,"method":"identify"})", {serve::kInvalidRequest}},
        {R"({"jsonrpc":"2.0","id":[1],"method":"identify"})", {serve::kInvalidRequest}},
        {R"({"jsonrpc":"2.0","id":1,"method":"identify","extra":1})", {serve::kInvalidRequest}},
        {R"({"jsonrpc":"2.0","id":1,"method":"reboot"})", {serve::kMethodNotFound}},
        {R"({"jsonrpc":"2.0","id":1,"method":"send","params":["sta"]})", {serve::kInvalidParams}},
        {R"({"jsonrpc":"2.0","id":1,"method":"send"})", {serve::kInvalidParams}},
        {R"({"jsonrpc":"2.0","id":1,"method":"send","params":{"commands":"sta"}})",
         {serve::kInvalidParams}},
        {R"({"jsonrpc":"2.0","id":1,"method":"open","params":{"baud":0}})",
         {serve::kInvalidParams}},
        {R"({"jsonrpc":"2.0","id":1,"method":"open","params":{"timeout_ms":1.5}})",
         {serve::kInvalidParams}},
        {R"({"jsonrpc":"2.0","id":1,"method":"open","params":{"gap_ms":18446744073709551615}})",
         {serve::kInvalidParams}},
        {R"({"jsonrpc":"2.0","id":1,"method":"open","params":{"timeout_ms":500.0,"baud":9600}})",
         {0}},
        {R"({"jsonrpc":"2.0","id":1,"method":"load","params":{"path":"a","verify":1}})",
         {serve::kInvalidParams}},
        {R"({"jsonrpc":"2.0","id":1,"method":"load","params":{"path":"a\u0000b"}})",
         {serve::kInvalidParams}},
        {R"({"jsonrpc":"2.0","id":1,"method":"subscribe","params":{"events":["pixels"]}})",
         {serve::kInvalidParams}},
        {R"({"jsonrpc":"2.0","id":1,"method":"get","params":{"name":["Gain"]}})",
         {serve::kInvalidParams}},
        {R"([{"jsonrpc":"2.0","id":1,"method":"get"},{"jsonrpc":"2.0","id":2,"method":"x"}])",
         {0, serve::kMethodNotFound}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Codes(c.line), c.codes) << c.line;
}

TEST(ServeRequest, TheIdIsAnsweredWheneverItCanBeRead) {
    const serve::Line line = serve::ReadLine(R"({"jsonrpc":"2.0","id":"x7","method":"nope"})");
    EXPECT_EQ(line.entries.at(0).error["id"], "x7");
    const serve::Line notJson = serve::ReadLine("{");
    EXPECT_TRUE(notJson.entries.at(0).error["id"].is_null());
    const serve::Line notification = serve::ReadLine(R"({"jsonrpc":"2.0","method":"get"})");
    EXPECT_TRUE(notification.entries.at(0).request->notification);
}

TEST(ServeRequest, LinesAreTheSameInAnyPiecesAndAnOverlongOneIsSkippedOnce) {
    const std::string big(serve::kMaxLineBytes + 10, 'x');
    const std::string bytes = "a\r\nb\n" + big + "\nc";
    for (const size_t piece : {size_t{3}, size_t{4096}, bytes.size()}) {
        serve::LineFramer framer;
        std::vector<std::string> lines;
        int overlong = 0;
        const auto onLine = [&](std::string_view l) { lines.emplace_back(l); };
        for (size_t at = 0; at < bytes.size(); at += piece)
            framer.Feed(std::string_view(bytes).substr(at, piece), onLine, [&] { ++overlong; });
        framer.End(onLine);
        EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c"})) << piece;
        EXPECT_EQ(overlong, 1) << piece;
    }
}

} // namespace
