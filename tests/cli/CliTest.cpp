// quillon-cli as a script runs it: the real binary against the camera simulator on a
// pseudo-terminal, its exit status, its output (JSON read back with the JSON library) and its
// traffic log.
#include "comm/TrafficLog.h"
#include "components/vorlix/Vorlix.h"
#include "platform/IniProfile.h"
#include "platform/Text.h"
#include "support/Deadline.h"
#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

const std::string kBin = QUILLON_BIN_DIR;
const std::string kCli = kBin + "/quillon-cli";
const std::string kDefinition = kBin + "/CamDefine/XC-100.xml";

pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const std::string& outFile, const std::string& errFile) {
    ::setenv("LANGUAGE", "en", 1); // the message table's English texts
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit status (128 + signal when killed), or -1 when the process outlived the deadline.
int WaitExit(pid_t pid, std::chrono::milliseconds deadline = std::chrono::seconds(120)) {
    int status = 0;
    if (!WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) != 0; }, deadline))
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        lines.push_back(text.substr(pos, end == std::string::npos ? end : end - pos));
        pos = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

// The camera simulator on a pseudo-terminal published as a link in the test's folder; with
// the option "@TCP" served on a TCP port of the loopback instead, link then its address.
class Camera {
public:
    Camera(const TempDir& dir, std::vector<std::string> options) : link(dir.file("cam")) {
        const auto tcp = std::find(options.begin(), options.end(), "@TCP");
        const bool onTcp = tcp != options.end();
        if (onTcp)
            options.erase(tcp);
        std::vector<std::string> args{"--definition", kDefinition};
        args.insert(args.end(), {onTcp ? "--tcp" : "--link", onTcp ? "127.0.0.1:0" : link});
        args.insert(args.end(), options.begin(), options.end());
        const std::string out = dir.file("camsim.out");
        m_pid = Spawn(kBin + "/camsim", args, out, dir.file("camsim.err"));
        struct stat st {};
        if (!onTcp) {
            WaitUntil([&] { return ::lstat(link.c_str(), &st) == 0; }, std::chrono::seconds(30));
            return;
        }
        // "camsim: tcp://127.0.0.1:PORT" once it listens.
        std::smatch m;
        WaitUntil(
            [&] {
                const std::string text = ReadFileBytes(out);
                return std::regex_search(text, m, std::regex("camsim: (tcp://\\S+)\n")) &&
                       (link = m[1].str(), true);
            },
            std::chrono::seconds(30));
    }
    ~Camera() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            WaitExit(m_pid);
        }
    }
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    std::string link;

private:
    pid_t m_pid = -1;
};

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs the tool with "@PORT", "@DEF" and "@DIR/" in the arguments replaced.
Result RunCli(const TempDir& dir, std::vector<std::string> args, const std::string& port = "",
              const std::string& program = kCli) {
    for (std::string& a : args) {
        if (a == "@PORT")
            a = port;
        else if (a == "@DEF")
            a = kDefinition;
        else if (a.rfind("@DIR/", 0) == 0)
            a = dir.file(a.substr(5));
    }
    Result r;
    const pid_t pid = Spawn(program, args, dir.file("cli.out"), dir.file("cli.err"));
    EXPECT_GT(pid, 0);
    r.status = WaitExit(pid);
    r.out = ReadFileBytes(dir.file("cli.out"));
    r.err = ReadFileBytes(dir.file("cli.err"));
    return r;
}

using Edits = std::vector<std::pair<std::string, std::string>>;

// The sample definition with the first occurrence of each text replaced.
std::string WriteEditedDefinition(const TempDir& dir, const std::string& name, const Edits& edits) {
    std::string xml = ReadFileBytes(kDefinition);
    for (const auto& [from, to] : edits) {
        const size_t at = xml.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos)
            xml.replace(at, from.size(), to);
    }
    const std::string path = dir.file(name);
    WriteFileBytes(path, xml);
    return path;
}

// A definition that loads but fails at run time: a formula that does not parse and a range
// bound naming a property that does not exist.
std::string WriteBrokenDefinition(const TempDir& dir) {
    return WriteEditedDefinition(
        dir, "broken.xml",
        {{"<Formula>LINETIME * LINES / 10</Formula>", "<Formula>LINETIME * / 10</Formula>"},
         {"<MaxReference>ExposureMax</MaxReference>",
          "<MaxReference>ExposureLimit</MaxReference>"}});
}

size_t SentLines(const std::string& log) {
    size_t n = 0;
    for (const std::string& line : Lines(log))
        n += line.find(" >> ") != std::string::npos;
    return n;
}

// ---------------------------------------------------------------------------------------------
// Every command and every exit status

struct StatusCase {
    const char* name;
    std::vector<std::string> camera; // simulator options
    std::vector<std::string> args;   // a traffic log @DIR/traffic.txt is added unless "--log"
    int status;
    const char* out; // expected in standard output ("" nothing)
    const char* err; // expected in standard error
    int sent = -1;   // commands in the traffic log; -1 not checked
};

void PrintTo(const StatusCase& c, std::ostream* os) {
    *os << c.name;
}

class CliStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(CliStatus, ExitsWithTheDocumentedStatus) {
    const StatusCase& c = GetParam();
    TempDir dir;
    WriteFileBytes(dir.file("batch.txt"), "// replay\r\ngai 230\r\n@pause 10\r\nfrm 200, 2300\r\n");
    WriteFileBytes(dir.file("fails.txt"), "what\r\ngai 3\r\n");
    WriteFileBytes(dir.file("garbled.txt"), "gai 3\r\ngai\x01 4\r\n");
    WriteBrokenDefinition(dir);
    Camera camera(dir, c.camera);
    std::vector<std::string> args = c.args;
    if (std::find(args.begin(), args.end(), "--log") == args.end()) {
        args.insert(args.begin(), "@DIR/traffic.txt");
        args.insert(args.begin(), "--log");
    }
    const Result r = RunCli(dir, args, camera.link);
    EXPECT_EQ(r.status, c.status) << "out: " << r.out << "\nerr: " << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    if (c.sent >= 0) {
        EXPECT_EQ(SentLines(ReadFileBytes(dir.file("traffic.txt"))), size_t(c.sent));
    }
}

const StatusCase kStatusCases[] = {
    {"Ports", {}, {"ports"}, 0, "interface 0: COM port(Build In)", "", 0},
    {"Identify", {}, {"--port", "@PORT", "identify"}, 0, "Model=XC-100\nType=\nVer.=1.00", "", 1},
    {"IdentifyFindsTheDefinition",
     {},
     {"identify", "--port", "@PORT", "--definition", "auto"},
     0,
     "definition XC-100.xml",
     ""},
    {"SendWithOptionsAfterTheCommand",
     {},
     {"send", "gai 12", "--port", "@PORT"},
     0,
     ">gai 12\nOK",
     "",
     1},
    {"SendStopsAtTheFirstReplyError",
     {},
     {"--port", "@PORT", "send", "what", "sta"},
     5,
     "CMD ERR!",
     "what: the camera answered CMD ERR!",
     1},
    {"SendTimesOut",
     {"--no-answer"},
     {"--port", "@PORT", "--timeout", "200", "send", "sta"},
     4,
     "",
     "sta: receive timeout",
     1},
    {"PortThatDoesNotExist",
     {},
     {"--port", "@DIR/none", "send", "sta"},
     3,
     "",
     "Can't open port.",
     0},
    {"PortThatDoesNotExistSaysWhy",
     {},
     {"--port", "@DIR/none", "send", "sta"},
     3,
     "",
     "none does not exist: the device is not plugged in.",
     0},
    {"PortNameNotListed",
     {},
     {"--port", "ttyNOPE99", "send", "sta"},
     3,
     "",
     "no port \"ttyNOPE99\"",
     0},
    {"NoCommand", {}, {}, 1, "", "subcommand", 0},
    {"UnknownOption", {}, {"--bogus", "ports"}, 1, "", "bogus", 0},
    {"BaudAnySpeed", {}, {"--port", "@PORT", "--baud", "12345", "send", "sta"}, 0, "OK", "", 1},
    {"SendOverTcp", {"@TCP"}, {"--port", "@PORT", "send", "sta"}, 0, ">Model=XC-100", "", 1},
    // The server drops the connection in the middle of the reply: the command fails within its
    // time-out and is not sent again.
    {"TcpClosedMidReply",
     {"@TCP", "--close-mid-reply"},
     {"--port", "@PORT", "--timeout", "300", "send", "sta"},
     4,
     "",
     "sta: receive timeout",
     1},
    {"TcpAddressMalformed",
     {},
     {"--port", "tcp://127.0.0.1", "send", "sta"},
     3,
     "",
     "tcp://127.0.0.1: malformed address",
     0},
    {"TcpPortOutOfRange",
     {},
     {"--port", "rfc2217://127.0.0.1:65536", "send", "sta"},
     3,
     "",
     "port out of range",
     0},
    {"TcpNothingListens",
     {},
     {"--port", "tcp://127.0.0.1:1", "send", "sta"},
     3,
     "",
     "tcp://127.0.0.1:1 refused the connection",
     0},
    {"InterfaceUnknown",
     {},
     {"--interface", "Nope", "send", "sta"},
     1,
     "",
     "no interface \"Nope\"",
     0},
    {"LogUnwritable", {}, {"--log", "@DIR/no/such/log.txt", "ports"}, 2, "", "traffic log"},
    {"SetNeedsADefinition", {}, {"--port", "@PORT", "set", "Gain=1"}, 1, "", "--definition", 0},
    {"SetOutOfRangeSendsNothing",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "Gain=300"},
     1,
     "",
     "Gain: 300 is out of range 0 to 240",
     0},
    {"SetWrongType",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "Gain=1", "Gain=abc"},
     1,
     "",
     "Gain: \"abc\" is not an integer",
     0},
    {"SetUnknownProperty",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "Nope=1"},
     1,
     "",
     "no property \"Nope\"",
     0},
    {"SetReadOnly",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "FrameRate=3"},
     1,
     "",
     "FrameRate is read only",
     0},
    {"SetNoSuchEntry",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "TestPattern=Plaid"},
     1,
     "",
     "is no entry (Off=0, Gray ramp=1",
     0},
    {"SetBoolWord",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "Binning=maybe"},
     1,
     "",
     "not 0, 1, on, off, true or false",
     0},
    {"SetTooLong",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "UserName=ABCDEFGHIJKLMNOPQ"},
     1,
     "",
     "longer than 16",
     0},
    {"SetEntryByText",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "TestPattern=Gray ramp"},
     0,
     ">tpn1\nOK\nTestPattern=Gray ramp",
     "",
     1},
    {"SetEntryByValue",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "TriggerMode=2"},
     0,
     "TriggerMode=External pulse width",
     "",
     1},
    {"SetRecalculates",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "LineTime=200"},
     0,
     "LineTime=200\nFrameRate=22\nFramePeriod=44000\nFrameLines=2200",
     "",
     1},
    {"SetExecution",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "SaveSettings"},
     0,
     "OK",
     "",
     1},
    {"SetTimesOut",
     {"--no-answer"},
     {"--port", "@PORT", "--timeout", "150", "--definition", "@DEF", "set", "Gain=5", "Gain=6"},
     4,
     "",
     "gai 5: receive timeout",
     1},
    {"DescribeUnreadableDefinition",
     {},
     {"--definition", "@DIR/none.xml", "describe"},
     2,
     "",
     "cannot use the definition",
     0},
    {"DescribeUnknownProperty",
     {},
     {"--definition", "@DEF", "describe", "Nope"},
     1,
     "",
     "no property \"Nope\"",
     0},
    {"Describe",
     {},
     {"--definition", "@DEF", "describe", "Gain"},
     0,
     "Gain (Integer, RW)\n  title: ゲイン / Gain\n  range: 0 to 240, step 1\n  unit: x0.1dB",
     "",
     0},
    {"LoadUnreadableFile",
     {},
     {"--port", "@PORT", "load", "@DIR/none.txt"},
     2,
     "",
     "Fail open batch text file",
     0},
    {"LoadRefusesAGarbledFile",
     {},
     {"--port", "@PORT", "load", "@DIR/garbled.txt"},
     2,
     "",
     "garbled.txt: line 2",
     0},
    // As in the window, a reply code other than OK does not end the batch; a failed
    // transaction does.
    {"LoadGoesOnAfterAReplyError",
     {},
     {"--port", "@PORT", "load", "@DIR/fails.txt"},
     5,
     "",
     "what: the camera answered CMD ERR!",
     2},
    {"LoadStopsAtTheFirstFailedTransaction",
     {"--no-answer"},
     {"--port", "@PORT", "--timeout", "150", "load", "@DIR/batch.txt"},
     4,
     "",
     "gai 230: receive timeout",
     1},
    {"LoadWithoutGap",
     {},
     {"--port", "@PORT", "--gap", "0", "load", "@DIR/batch.txt", "--verify"},
     0,
     "verified 2 commands, 0 mismatches",
     "",
     2},
    {"GapMustNotBeNegative",
     {},
     {"--port", "@PORT", "--gap", "-5", "load", "@DIR/batch.txt"},
     1,
     "",
     "--gap",
     0},
    {"LoadVerified",
     {},
     {"--port", "@PORT", "load", "@DIR/batch.txt", "--verify"},
     0,
     "verified 2 commands, 0 mismatches",
     "",
     2},
    {"LoadVerifyFindsTheClampedValue",
     {"--clamp", "Gain=200"},
     {"--port", "@PORT", "load", "--verify", "@DIR/batch.txt"},
     6,
     "mismatch gai 230: gai value 1 sent 230, camera has 200",
     "1 mismatches",
     2},
    {"LoadVerifyByProperty",
     {"--clamp", "Gain=200"},
     {"--port", "@PORT", "--definition", "@DEF", "load", "--verify", "@DIR/batch.txt"},
     6,
     "mismatch gai 230: Gain sent 230, camera has 200",
     "",
     2},
    {"SaveNeedsADefinition", {}, {"save", "@DIR/s.txt"}, 1, "", "--definition", 0},
    {"SaveUnwritable",
     {},
     {"--definition", "@DEF", "save", "@DIR/no/such/s.txt"},
     2,
     "",
     "cannot write",
     0},
    {"SaveWithIdentity",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "save", "@DIR/s.txt", "Gain=7"},
     0,
     "saved",
     "",
     1},
    {"CheckClean", {}, {"check", "@DEF"}, 0, "XC-100.xml: loaded (result 0)", "", 0},
    {"CheckBroken",
     {},
     {"check", "@DIR/broken.xml"},
     6,
     "  formula FramePeriod: \"LINETIME * / 10\": ",
     "",
     0},
    {"CheckUnreadable",
     {},
     {"check", "@DEF", "@DIR/none.xml"},
     2,
     "",
     "cannot use the definition",
     0},
};

INSTANTIATE_TEST_SUITE_P(Commands, CliStatus, ::testing::ValuesIn(kStatusCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// JSON, read back

std::vector<json> JsonLines(const std::string& out) {
    std::vector<json> objects;
    for (const std::string& line : Lines(out)) {
        objects.push_back(json::parse(line, nullptr, false));
        EXPECT_TRUE(objects.back().is_object()) << line;
    }
    return objects;
}

TEST(CliJson, EveryLineIsOneObject) {
    TempDir dir;
    Camera camera(dir, {});
    const std::string broken = WriteBrokenDefinition(dir);

    Result r = RunCli(dir, {"--json", "--port", "@PORT", "send", "sta", "gai 12"}, camera.link);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<json> o = JsonLines(r.out);
    ASSERT_EQ(o.size(), 2u);
    EXPECT_EQ(o[0]["command"], "sta");
    EXPECT_EQ(o[0]["result"], "OK");
    EXPECT_EQ(o[0]["replies"], json({"Model=XC-100", "Ver.=1.00", "Serial=00000001"}));
    EXPECT_EQ(o[1]["replies"], json({"gai 12"}));
    EXPECT_EQ(o[1]["ok"], true);

    r = RunCli(dir,
               {"set", "LineTime=200", "Binning=true", "--json", "--definition", "@DEF", "--port",
                "@PORT"},
               camera.link);
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, json> values;
    for (const json& x : JsonLines(r.out))
        if (x.contains("property"))
            values[x["property"]] = x["value"];
    EXPECT_EQ(values["LineTime"], 200);
    EXPECT_EQ(values["FrameRate"], 22);
    EXPECT_DOUBLE_EQ(values["FramePeriod"].get<double>(), 44000.0);
    EXPECT_EQ(values["Binning"], true);

    r = RunCli(dir, {"--json", "--definition", "@DEF", "describe", "ExposureTime", "TestPattern"});
    o = JsonLines(r.out);
    ASSERT_EQ(o.size(), 2u);
    EXPECT_EQ(o[0]["range"], json({{"min", 10}, {"max", 33000}, {"inc", 1}}));
    EXPECT_EQ(o[0]["title"]["en"], "Exposure time");
    EXPECT_EQ(o[0]["commands"], json({"exp"}));
    EXPECT_EQ(o[1]["entries"][1], json({{"text", "Gray ramp"}, {"value", 1}}));

    r = RunCli(dir, {"--json", "check", broken});
    EXPECT_EQ(r.status, 6);
    std::set<std::pair<std::string, std::string>> problems;
    for (const json& x : JsonLines(r.out))
        if (x.contains("problem"))
            problems.emplace(x["problem"], x["where"]);
    const std::set<std::pair<std::string, std::string>> expected{{"formula", "FramePeriod"},
                                                                 {"reference", "ExposureTime"}};
    EXPECT_EQ(problems, expected);

    r = RunCli(dir, {"--json", "--port", "@PORT", "--definition", "auto", "identify"}, camera.link);
    o = JsonLines(r.out);
    ASSERT_EQ(o.size(), 1u);
    EXPECT_EQ(o[0]["model"], "XC-100");
    EXPECT_EQ(o[0]["definitions"], json({"XC-100.xml"}));
}

TEST(CliSave, TheHeaderCarriesTheIdentityAndTheValuesGoFirst) {
    TempDir dir;
    Camera camera(dir, {"--serial", "4711"});
    const Result r = RunCli(
        dir,
        {"--port", "@PORT", "--definition", "@DEF", "save", "@DIR/s.txt", "Gain=7", "Binning=on"},
        camera.link);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string saved = ReadFileBytes(dir.file("s.txt"));
    EXPECT_NE(saved.find("// Camera define file = XC-100.xml\r\n// Model=XC-100\r\n// Ver.=1.00\r\n"
                         "// Serial=4711\r\n"),
              std::string::npos)
        << saved;
    EXPECT_NE(saved.find("\r\ngai 7\r\n"), std::string::npos);
    EXPECT_NE(saved.find("\r\nbin 2\r\n"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// check: what each kind of fault in a definition is reported as

struct CheckCase {
    const char* name;
    Edits edits;
    std::set<std::pair<std::string, std::string>> problems; // (kind, where)
};

void PrintTo(const CheckCase& c, std::ostream* os) {
    *os << c.name;
}

class CliCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CliCheck, ListsWhatWouldFailAtRunTime) {
    TempDir dir;
    const std::string path = WriteEditedDefinition(dir, "def.xml", GetParam().edits);
    const Result r = RunCli(dir, {"--json", "check", path});
    EXPECT_EQ(r.status, 6) << r.err;
    std::set<std::pair<std::string, std::string>> problems;
    for (const std::string& line : Lines(r.out)) {
        const json x = json::parse(line);
        if (x.contains("problem"))
            problems.emplace(x["problem"], x["where"]);
        else
            EXPECT_EQ(x["load"], 0) << line;
    }
    EXPECT_EQ(problems, GetParam().problems);
}

const CheckCase kCheckCases[] = {
    {"UnboundVariable",
     {{"<pVariable Name=\"LINES\">FrameLines</pVariable>",
       "<pVariable Name=\"LINES\">NoLines</pVariable>"}},
     {{"formula", "FramePeriod"}, {"reference", "FramePeriod"}}},
    {"CommandNameNotDefined",
     {{"<TARNCommandName>gai</TARNCommandName>", "<TARNCommandName>gain</TARNCommandName>"}},
     {{"reference", "Gain"}, {"unused-command", "gai"}}},
    {"CommandNoPropertySends",
     {{"<TARNCommandName>sav</TARNCommandName>", ""}},
     {{"unused-command", "sav"}}},
    {"EmptyRange", {{"<Min>0</Min>", "<Min>300</Min>"}}, {{"empty-range", "Gain"}}},
    {"EntryGivenTwice",
     {{"<SelectEntry><Value>1</Value><Text>Gray ramp</Text>",
       "<SelectEntry><Value>0</Value><Text>Off</Text>"}},
     {{"duplicate-entry", "TestPattern"}}},
};

INSTANTIATE_TEST_SUITE_P(Faults, CliCheck, ::testing::ValuesIn(kCheckCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Signals while the camera never answers

struct SignalCase {
    const char* name;
    int signal;
    int status;
};

class CliSignal : public ::testing::TestWithParam<SignalCase> {};

TEST_P(CliSignal, CancelsTheTransactionAndClosesThePort) {
    TempDir dir;
    Camera camera(dir, {"--no-answer"});
    const std::string log = dir.file("traffic.txt");
    const pid_t pid = Spawn(
        kCli, {"--port", camera.link, "--timeout", "60000", "--log", log, "send", "sta", "gai 1"},
        dir.file("cli.out"), dir.file("cli.err"));
    ASSERT_GT(pid, 0);
    WaitUntil([&] { return SentLines(ReadFileBytes(log)) != 0; }, std::chrono::seconds(60));
    ASSERT_EQ(SentLines(ReadFileBytes(log)), 1u);
    const auto signalled = Clock::now();
    ::kill(pid, GetParam().signal);
    // Well inside the 60 s receive time-out; the cancel itself is seen within one 50 ms poll.
    EXPECT_EQ(WaitExit(pid, std::chrono::seconds(30)), GetParam().status);
    EXPECT_LT(Clock::now() - signalled, std::chrono::seconds(10));
    const std::vector<std::string> lines = Lines(ReadFileBytes(log));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(" == cancelled ("), std::string::npos) << lines[1];
    EXPECT_NE(ReadFileBytes(dir.file("cli.err")).find("the port closed"), std::string::npos);
    // The port is free again: the next run opens it (and times out on the silent camera).
    EXPECT_EQ(
        RunCli(dir, {"--port", "@PORT", "--timeout", "100", "send", "sta"}, camera.link).status, 4);
}

INSTANTIATE_TEST_SUITE_P(Signals, CliSignal,
                         ::testing::Values(SignalCase{"Interrupt", SIGINT, 130},
                                           SignalCase{"Terminate", SIGTERM, 143}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The traffic log

class CliTraffic : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(CliTraffic, OneTransactionGivesTheseLines) {
    TempDir dir;
    Camera camera(dir, GetParam());
    const Result r =
        RunCli(dir, {"--port", "@PORT", "--log", "@DIR/t.txt", "send", "gai 12"}, camera.link);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*)$)");
    std::vector<std::string> events;
    for (const std::string& line : Lines(ReadFileBytes(dir.file("t.txt")))) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, stamp)) << line;
        events.push_back(m[1]);
    }
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0], R"(>> gai 12\r)");
    EXPECT_EQ(events[1], R"(<< >OK\r\n)");
    EXPECT_EQ(events[2], R"(<< >gai 12\r\n)");
    EXPECT_EQ(events[3], R"(<< \x04)");
    EXPECT_TRUE(std::regex_match(events[4], std::regex(R"(== OK \(\d+ ms\))"))) << events[4];
}

INSTANTIATE_TEST_SUITE_P(Delivery, CliTraffic,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"--chunk", "3", "--chunk-gap",
                                                                    "5"}));

TEST(TrafficLog, EscapesEveryByteOutsidePrintableAscii) {
    EXPECT_EQ(clTrafficLog::Escape(std::string("a\r\n\x04\\ \x7F\x80\xFF~", 10)),
              R"(a\r\n\x04\\ \x7F\x80\xFF~)");
    EXPECT_EQ(clTrafficLog::Escape(std::string("\0", 1)), R"(\x00)");
    EXPECT_EQ(TrafficLogPathBeside(u"/opt/q/Quillon_07.ini"), u"/opt/q/Quillon_07_Traffic.txt");
}

// ---------------------------------------------------------------------------------------------
// The instance's settings: the stored interface and port, read and never written

TEST(CliInstance, UsesTheStoredInterfaceAndPortAndNeverWritesTheSettings) {
    namespace fs = std::filesystem;
    TempDir dir;
    Camera camera(dir, {});
    // A program folder of its own, so the test's settings files stay out of build/bin.
    const fs::path folder = dir.path() / "program";
    fs::create_directory(folder);
    fs::copy_file(kCli, folder / "quillon-cli");
    fs::copy_file(kBin + "/libTallix.so", folder / "libTallix.so");
    fs::copy(kBin + "/CamDefine", folder / "CamDefine", fs::copy_options::recursive);
    const std::u16string ini = platform::Utf8ToUtf16((folder / "Quillon_07.ini").string());
    const std::u16string link = platform::Utf8ToUtf16(camera.link);
    ASSERT_TRUE(VorlixSaveAddedDevices(ini, {link}));
    ASSERT_TRUE(platform::WritePrivateProfileString(u"CAMERA_COMM_Ch00", u"SelectInterface",
                                                    u"COM port(Build In)", ini));
    ASSERT_TRUE(platform::WritePrivateProfileString(u"CAMERA_COMM_Ch00", u"COM Port Name",
                                                    VorlixPortNameOfPath(link), ini));
    const std::string before = ReadFileBytes(platform::Utf16ToUtf8(ini));
    const std::string program = (folder / "quillon-cli").string();

    Result r = RunCli(dir, {"-i", "7", "--definition", "auto", "identify"}, "", program);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Model=XC-100"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(platform::Utf16ToUtf8(ini)), before);
    EXPECT_FALSE(fs::exists(folder / "Quillon_07_Log.txt"));

    // Instance 3 has the Camera Link interface chosen, with a simulated serial library.
    fs::copy_file(kBin + "/Pivra02CL_64bit.so", folder / "Pivra02CL_64bit.so");
    fs::copy(kBin + "/clserial", folder / "clserial", fs::copy_options::recursive);
    const std::u16string cl = platform::Utf8ToUtf16((folder / "Quillon_03.ini").string());
    ASSERT_TRUE(platform::WritePrivateProfileString(u"CAMERA_COMM_Ch00", u"SelectInterface",
                                                    u"Camera Link API", cl));
    ASSERT_TRUE(platform::WritePrivateProfileString(u"CAMERA_COMM_Ch00", u"CameraLink DLL",
                                                    u"libclsersim.so", cl));
    r = RunCli(dir, {"-i", "3", "--json", "--definition", "auto", "set", "Gain=33"}, "", program);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(R"({"property":"Gain","type":"Integer","value":33})"), std::string::npos)
        << r.out;
    r = RunCli(dir, {"--json", "ports"}, "", program);
    EXPECT_NE(r.out.find(R"("interface":"Camera Link API")"), std::string::npos) << r.out;

    // Instance 8 has no settings file: nothing is chosen, nothing is created.
    r = RunCli(dir, {"-i8", "send", "sta"}, "", program);
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("no interface chosen for instance 8"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(folder / "Quillon_08.ini"));
}

} // namespace
