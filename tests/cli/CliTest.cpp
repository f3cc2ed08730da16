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
#include <optional>
#include <regex>
#include <set>
#include <spawn.h>
#include <sys/ioctl.h>
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

// A program folder of its own (the tool, the evaluator library, the definitions), so the
// settings files of a test stay out of build/bin. Gives the folder.
std::filesystem::path CopyProgramFolder(const TempDir& dir) {
    namespace fs = std::filesystem;
    const fs::path folder = dir.path() / "program";
    fs::create_directory(folder);
    fs::copy_file(kCli, folder / "quillon-cli");
    fs::copy_file(kBin + "/libTallix.so", folder / "libTallix.so");
    fs::copy(kBin + "/CamDefine", folder / "CamDefine", fs::copy_options::recursive);
    return folder;
}

std::u16string Ini(const std::filesystem::path& folder, const char* name = "Quillon_00.ini") {
    return platform::Utf8ToUtf16((folder / name).string());
}

constexpr int64_t kDayMs = 24 * 3600 * 1000;

// The moments of the ">>" lines of a traffic log, as milliseconds of the day.
std::vector<int64_t> SendTimes(const std::string& log) {
    std::vector<int64_t> times;
    const std::regex sent(R"(^\d{4}-\d\d-\d\d (\d\d):(\d\d):(\d\d)\.(\d{3}) >> .*$)");
    for (const std::string& line : Lines(log)) {
        std::smatch m;
        if (std::regex_match(line, m, sent))
            times.push_back(((std::stoll(m[1]) * 60 + std::stoll(m[2])) * 60 + std::stoll(m[3])) *
                                1000 +
                            std::stoll(m[4]));
    }
    return times;
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
    // The numbers the camera writes back, spelled otherwise.
    WriteFileBytes(dir.file("spellings.txt"), "gai 010\r\ngai +10\r\nexp 10.0\r\n");
    WriteFileBytes(dir.file("name.txt"), "uid ALICE\r\n");
    std::string sjis;
    while (sjis.size() <= 10240)
        sjis += "// padding line of a long header\r\n";
    WriteFileBytes(dir.file("sjis.txt"), sjis + "gai 3\t\x98\x49\x8C\xF5\r\n"); // note "露光"
    WriteBrokenDefinition(dir);
    WriteEditedDefinition(
        dir, "renamed.xml",
        {{"<TARNCommand Name=\"gai\">", "<TARNCommand Name=\"gan\">"},
         {"<TARNCommandName>gai</TARNCommandName>", "<TARNCommandName>gan</TARNCommandName>"}});
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
    // The simulated camera understands only 19200 bit/s; the stored rate is 9600.
    {"BaudReachesTheLine",
     {"--baud", "19200"},
     {"--port", "@PORT", "--baud", "19200", "--timeout", "2000", "send", "sta"},
     0,
     "Model=XC-100",
     "",
     1},
    {"StoredBaudMissesACameraAtAnotherRate",
     {"--baud", "19200"},
     {"--port", "@PORT", "--timeout", "300", "send", "sta"},
     4,
     "",
     "sta: receive timeout",
     1},
    {"BaudAnySpeed", {}, {"--port", "@PORT", "--baud", "12345", "send", "sta"}, 0, "OK", "", 1},
    {"SendOverTcp", {"@TCP"}, {"--port", "@PORT", "send", "sta"}, 0, ">Model=XC-100", "", 1},
    // The server drops the connection in the middle of the reply: the command fails at once,
    // naming the lost connection, and is not sent again.
    {"TcpClosedMidReply",
     {"@TCP", "--close-mid-reply"},
     {"--port", "@PORT", "--timeout", "20000", "send", "sta"},
     4,
     "",
     "was lost",
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
    {"SetAtTheMaximum",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "Gain=240"},
     0,
     ">gai 240\nOK\nGain=240",
     "",
     1},
    {"SetAtTheMinimum",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "Gain=0"},
     0,
     ">gai 0\nOK\nGain=0",
     "",
     1},
    {"SetOneAboveTheMaximum",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "Gain=241"},
     1,
     "",
     "Gain: 241 is out of range 0 to 240",
     0},
    {"SetOneBelowTheMinimum",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "Gain=-1"},
     1,
     "",
     "Gain: -1 is out of range 0 to 240",
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
    {"SetNoEntryOfThatValue",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "TestPattern=7"},
     1,
     "",
     "TestPattern: \"7\" is no entry (Off=0, Gray ramp=1, Vertical stripes=2, Moving diagonal=3)",
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
    {"LoadVerifyTakesOtherSpellingsOfTheSameValue",
     {},
     {"--port", "@PORT", "load", "@DIR/spellings.txt", "--verify"},
     0,
     "verified 3 commands, 0 mismatches",
     "",
     3},
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
    // A String value and a Float are compared too, so a definition does not change the verdict.
    {"LoadVerifyComparesAStringWithoutADefinition",
     {},
     {"--port", "@PORT", "load", "--verify", "@DIR/name.txt"},
     6,
     "mismatch uid ALICE: uid value 1 sent ALICE, camera has XC-100",
     "1 mismatches",
     1},
    {"LoadVerifyComparesAStringByProperty",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "load", "--verify", "@DIR/name.txt"},
     6,
     "mismatch uid ALICE: UserName sent ALICE, camera has XC-100",
     "1 mismatches",
     1},
    // The encoding is judged on the whole file: Shift-JIS after 10 KB of ASCII.
    {"LoadShiftJisAfterTenKilobytes",
     {},
     {"--port", "@PORT", "load", "@DIR/sjis.txt"},
     0,
     "",
     "",
     1},
    // Nothing goes out that was not asked for: a CR would split the command in two.
    {"SendRefusesAControlCharacter",
     {},
     {"--port", "@PORT", "send", "sta", "uid AB\rtpn1"},
     1,
     "",
     "send \"uid AB\\x0dtpn1\": Character 7 is the control character U+000D; nothing was sent.",
     0},
    {"SendRefusesAnEmptyCommand",
     {},
     {"--port", "@PORT", "send", ""},
     1,
     "",
     "The command is empty",
     0},
    {"SetRefusesAControlCharacterInAString",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "UserName=AB\rtpn1"},
     1,
     "",
     "UserName: Character 3 is the control character U+000D",
     0},
    // The camera keeps its own name: set shows the reply's value, and what was sent.
    {"SetShowsTheValueTheCameraAnswered",
     {},
     {"--port", "@PORT", "--definition", "@DEF", "set", "UserName=ALICE"},
     0,
     "UserName=XC-100 (the camera's reply; sent ALICE)",
     "",
     1},
    // The camera does not know the renamed command: no reply carries the value.
    {"SetShowsAValueNoReplyCarriedAsSent",
     {},
     {"--port", "@PORT", "--definition", "@DIR/renamed.xml", "set", "Gain=5"},
     5,
     "CMD ERR!\nGain=5 (sent; no reply carried it)",
     "",
     1},
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
    // A file that cannot be used wins over a problem found, whichever comes first.
    {"CheckUnreadableBeforeProblems",
     {},
     {"check", "@DIR/none.xml", "@DIR/broken.xml"},
     2,
     "  formula FramePeriod",
     "cannot use the definition",
     0},
    {"CheckProblemsBeforeUnreadable",
     {},
     {"check", "@DIR/broken.xml", "@DIR/none.xml"},
     2,
     "  formula FramePeriod",
     "cannot use the definition",
     0},
};

INSTANTIATE_TEST_SUITE_P(Commands, CliStatus, ::testing::ValuesIn(kStatusCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Without a UTF-8 locale (cron, services): file names are bytes, and a command text the codeset
// cannot hold is refused rather than sent with "?" in its place

// Sets environment variables for the life of the object; the programs spawned inherit them.
class EnvScope {
public:
    EnvScope(std::initializer_list<std::pair<const char*, const char*>> vars) {
        for (const auto& [name, value] : vars) {
            const char* old = ::getenv(name);
            m_old.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            ::setenv(name, value, 1);
        }
    }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;
    ~EnvScope() {
        for (const auto& [name, old] : m_old)
            old ? ::setenv(name.c_str(), old->c_str(), 1) : ::unsetenv(name.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_old;
};

TEST(CliLocale, FileNamesReachTheFileSystemAsGiven) {
    namespace fs = std::filesystem;
    EnvScope ascii({{"LC_ALL", "C"}, {"LANG", "C"}});
    TempDir dir;
    // UTF-8, and a byte that is no UTF-8 at all (Latin-1 "é").
    for (const std::string name : {"Einstellung-\xC3\xBC", "caf\xE9"}) {
        SCOPED_TRACE(name);
        const std::string saved = dir.file(name + ".txt");
        Result r = RunCli(dir, {"--definition", "@DEF", "save", saved});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(fs::is_regular_file(saved));
        EXPECT_NE(r.out.find("saved " + saved), std::string::npos) << r.out;
        // A definition in a folder of that name.
        fs::create_directory(dir.file(name));
        fs::copy_file(kDefinition, dir.file(name + "/XC-100.xml"));
        r = RunCli(dir, {"--definition", dir.file(name + "/XC-100.xml"), "describe", "Gain"});
        EXPECT_EQ(r.status, 0) << r.err;
    }
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"Einstellung-\xC3\xBC.txt", "Einstellung-\xC3\xBC",
                                            "caf\xE9.txt", "caf\xE9", "cli.out", "cli.err"}));
}

TEST(CliLocale, TextTheCodesetCannotHoldIsNeverSent) {
    EnvScope ascii({{"LC_ALL", "C"}, {"LANG", "C"}});
    TempDir dir;
    Camera camera(dir, {});
    WriteFileBytes(dir.file("batch.txt"), "gai 3\r\nuid M\xC3\xBCller\r\n");
    const struct {
        std::vector<std::string> args;
        int status;
        const char* err;
    } cases[] = {
        {{"send", "uid M\xC3\xBCller"},
         1,
         "character 6 is no text of the current codeset (ANSI_X3.4-1968)"},
        {{"--definition", "@DEF", "set", "UserName=M\xC3\xBCller"},
         1,
         "UserName: character 2 is no text of the current codeset"},
        {{"load", "@DIR/batch.txt"},
         2,
         "line 2: Character 6 (U+00FC) cannot be written in the current codeset (ANSI_X3.4-1968)"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--port", "@PORT", "--log", "@DIR/traffic.txt"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = RunCli(dir, args, camera.link);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    EXPECT_EQ(SentLines(ReadFileBytes(dir.file("traffic.txt"))), 0u);
}

// Text for people shows the camera's control characters escaped; JSON carries them as they are.
TEST(CliOutput, ControlCharactersReachNoTerminalButJsonKeepsThem) {
    TempDir dir;
    // The camera sends the bytes of the model as they are; the tool takes each byte as one
    // character, so the UTF-8 of U+009B arrives as U+00C2 U+009B, a C1 control.
    const std::string model = "X\x1b]0;owned\x07\x1b[2J\xC2\x9B";
    std::unique_ptr<Camera> camera;
    {
        EnvScope utf8({{"LC_ALL", "C.UTF-8"}});
        camera = std::make_unique<Camera>(dir, std::vector<std::string>{"--model", model});
    }
    Result r = RunCli(dir, {"--port", "@PORT", "identify"}, camera->link);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char control : {'\x1b', '\x07'})
        EXPECT_EQ(r.out.find(control), std::string::npos);
    EXPECT_EQ(r.out.find("\xC2\x9B"), std::string::npos);
    EXPECT_NE(r.out.find("Model=X\\x1b]0;owned\\x07\\x1b[2J\xC3\x82\\x9b\n"), std::string::npos)
        << r.out;
    r = RunCli(dir, {"--json", "--port", "@PORT", "identify"}, camera->link);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["model"], "X\x1b]0;owned\x07\x1b[2J\xC3\x82\xC2\x9B");
}

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

TEST(CliDescribe, WithoutNamesListsEveryPropertyInTheOrderOfTheTree) {
    TempDir dir;
    // A property after the nested "Frame" group, so the group has a place inside its parent.
    const std::string def =
        WriteEditedDefinition(dir, "def.xml",
                              {{"      <PropertyName>ReadExposureRange</PropertyName>\n", ""},
                               {"<PropertyName>FrameRate</PropertyName>\n      </Grouping>",
                                "<PropertyName>FrameRate</PropertyName>\n      </Grouping>\n"
                                "      <PropertyName>ReadExposureRange</PropertyName>"}});
    const Result r = RunCli(dir, {"--json", "--definition", def, "describe"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string names;
    for (const json& o : JsonLines(r.out))
        names += o.value("property", "?") + " ";
    EXPECT_EQ(names, "Gain BlackLevel TestPattern TriggerMode ExposureTime ExposureMin ExposureMax "
                     "LineTime FrameLines FramePeriod FrameRate ReadExposureRange Binning "
                     "ImageWidth ImageHeight SensorTemperature ReadTemperature UserName "
                     "SaveSettings ");
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
    {"ValueUnderTwoTexts",
     {{"<SelectEntry><Value>1</Value><Text>Gray ramp</Text>",
       "<SelectEntry><Value>0</Value><Text>Gray ramp</Text>"}},
     {{"duplicate-entry", "TestPattern"}}},
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

// watch: the header, then one line per round with the value the camera moved, a round that
// fails as a gap, and a signal as its end.
TEST(CliWatch, PrintsARoundAtATimeUntilASignal) {
    TempDir dir;
    Camera camera(dir, {"--drift", "SensorTemperature=0.5"});
    const std::string out = dir.file("cli.out");
    const pid_t pid =
        Spawn(kCli,
              {"--port", camera.link, "--definition", kDefinition, "watch", "--every", "100ms",
               "--run", "ReadTemperature", "SensorTemperature", "TriggerMode"},
              out, dir.file("cli.err"));
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(
        WaitUntil([&] { return Lines(ReadFileBytes(out)).size() >= 4; }, std::chrono::seconds(60)));
    ::kill(pid, SIGINT);
    EXPECT_EQ(WaitExit(pid), 130);
    const std::vector<std::string> lines = Lines(ReadFileBytes(out));
    EXPECT_EQ(lines[0], "time,SensorTemperature,TriggerMode");
    const std::regex round(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3},([0-9.]+),Free run$)");
    std::vector<double> values;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, round)) << lines[i];
        values.push_back(std::stod(m[1]));
    }
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_DOUBLE_EQ(values[i], 0.5 * static_cast<double>(i + 1));

    // A camera that does not answer: each round is a gap with its reason, and the watch goes on.
    TempDir other;
    Camera silent(other, {"--no-answer"});
    const pid_t gaps =
        Spawn(kCli,
              {"--port", silent.link, "--timeout", "100", "--definition", kDefinition, "watch",
               "--every", "100ms", "--send", "tmp", "SensorTemperature"},
              out, dir.file("cli.err"));
    ASSERT_TRUE(
        WaitUntil([&] { return Lines(ReadFileBytes(out)).size() >= 3; }, std::chrono::seconds(60)));
    ::kill(gaps, SIGTERM);
    EXPECT_EQ(WaitExit(gaps), 143);
    EXPECT_TRUE(std::regex_match(Lines(ReadFileBytes(out))[1], std::regex(R"(^\S+,$)")));
    EXPECT_NE(ReadFileBytes(dir.file("cli.err")).find("tmp: receive timeout"), std::string::npos);
}

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

// Opening appends: what an earlier run logged stays.
TEST(CliTrafficLog, AppendsToAnExistingFile) {
    TempDir dir;
    Camera camera(dir, {});
    WriteFileBytes(dir.file("t.txt"), "an earlier line\n");
    ASSERT_EQ(
        RunCli(dir, {"--port", "@PORT", "--log", "@DIR/t.txt", "send", "sta"}, camera.link).status,
        0);
    const std::string log = ReadFileBytes(dir.file("t.txt"));
    EXPECT_EQ(log.rfind("an earlier line\n", 0), 0u) << log;
    EXPECT_EQ(SentLines(log), 1u) << log;
}

// A transaction ends when its reply is in, not at the next look at the ring: against a camera
// that answers at once, most of 40 transactions take less than one 50 ms poll period.
TEST(CliTrafficLog, TransactionsEndWhenTheReplyArrives) {
    TempDir dir;
    Camera camera(dir, {});
    std::vector<std::string> args{"--port", "@PORT", "--log", "@DIR/t.txt", "send"};
    for (int i = 0; i < 40; ++i)
        args.push_back("gai " + std::to_string(i));
    ASSERT_EQ(RunCli(dir, args, camera.link).status, 0);
    const std::regex result(R"(.* == OK \((\d+) ms\)$)");
    int ended = 0, quick = 0;
    for (const std::string& line : Lines(ReadFileBytes(dir.file("t.txt")))) {
        std::smatch m;
        if (!std::regex_match(line, m, result))
            continue;
        ++ended;
        quick += std::stoi(m[1]) < 50;
    }
    EXPECT_EQ(ended, 40);
    EXPECT_GT(quick, 20) << "transactions under 50 ms";
}

// ---------------------------------------------------------------------------------------------
// The instance's settings: time-outs and the command gap, when no option overrides them

struct TimeoutCase {
    const char* name;
    std::vector<std::string> camera;
    const char16_t* firstRecv;
    const char16_t* nextRecv;
    int status;
};

class CliReceiveTimeouts : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(CliReceiveTimeouts, FirstRecvWaitsForTheFirstByteNextRecvBetweenBytes) {
    const TimeoutCase& c = GetParam();
    TempDir dir;
    Camera camera(dir, c.camera);
    const std::filesystem::path folder = CopyProgramFolder(dir);
    ASSERT_TRUE(platform::WriteSetting(u"TARN_Timeouts", u"First Recv", c.firstRecv, Ini(folder)));
    ASSERT_TRUE(platform::WriteSetting(u"TARN_Timeouts", u"Next Recv", c.nextRecv, Ini(folder)));
    const Result r = RunCli(dir, {"--port", "@PORT", "send", "sta"}, camera.link,
                            (folder / "quillon-cli").string());
    EXPECT_EQ(r.status, c.status) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Settings, CliReceiveTimeouts,
    ::testing::Values(
        TimeoutCase{"LateFirstByteWithinFirstRecv", {"--delay", "500"}, u"2000", u"100", 0},
        TimeoutCase{"LateFirstByteBeyondFirstRecv", {"--delay", "500"}, u"100", u"2000", 4},
        TimeoutCase{"GapBetweenBytesBeyondNextRecv",
                    {"--chunk", "4", "--chunk-gap", "500"},
                    u"2000",
                    u"100",
                    4}),
    [](const auto& info) { return std::string(info.param.name); });

struct GapCase {
    const char* name;
    bool fromSettings; // else --gap
    std::vector<std::string> job;
    size_t commands;
};

class CliCommandGap : public ::testing::TestWithParam<GapCase> {};

TEST_P(CliCommandGap, CommandsOfAJobGoOutTheGapApart) {
    const GapCase& c = GetParam();
    TempDir dir;
    Camera camera(dir, {});
    WriteFileBytes(dir.file("batch.txt"), "gai 1\r\ngai 2\r\ngai 3\r\n");
    const std::filesystem::path folder = CopyProgramFolder(dir);
    std::vector<std::string> args{"--port", "@PORT", "--definition", "@DEF", "--log", "@DIR/t.txt"};
    if (c.fromSettings)
        ASSERT_TRUE(platform::WriteSetting(u"TARN_Timeouts", u"Command Gap", u"300", Ini(folder)));
    else
        args.insert(args.end(), {"--gap", "300"});
    args.insert(args.end(), c.job.begin(), c.job.end());
    const Result r = RunCli(dir, args, camera.link, (folder / "quillon-cli").string());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<int64_t> sent = SendTimes(ReadFileBytes(dir.file("t.txt")));
    ASSERT_EQ(sent.size(), c.commands);
    for (size_t i = 1; i < sent.size(); ++i)
        EXPECT_GE((sent[i] - sent[i - 1] + kDayMs) % kDayMs, 290)
            << "between command " << i << " and " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(
    Gaps, CliCommandGap,
    ::testing::Values(GapCase{"PropertyJobFromSettings", true, {"set", "ReadExposureRange"}, 2},
                      GapCase{"PropertyJobFromOption", false, {"set", "ReadExposureRange"}, 2},
                      GapCase{"BatchFromSettings", true, {"load", "@DIR/batch.txt"}, 3},
                      GapCase{"BatchFromOption", false, {"load", "@DIR/batch.txt"}, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The instance's settings: the stored interface and port, read and never written

TEST(CliInstance, UsesTheStoredInterfaceAndPortAndNeverWritesTheSettings) {
    namespace fs = std::filesystem;
    TempDir dir;
    Camera camera(dir, {});
    const fs::path folder = CopyProgramFolder(dir);
    const std::u16string ini = Ini(folder, "Quillon_07.ini");
    const std::u16string link = platform::Utf8ToUtf16(camera.link);
    ASSERT_TRUE(VorlixSaveAddedDevices(ini, {link}));
    ASSERT_TRUE(platform::WriteSetting(u"CAMERA_COMM_Ch00", u"SelectInterface",
                                       u"COM port(Build In)", ini));
    ASSERT_TRUE(platform::WriteSetting(u"CAMERA_COMM_Ch00", u"COM Port Name",
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
    const std::u16string cl = Ini(folder, "Quillon_03.ini");
    ASSERT_TRUE(
        platform::WriteSetting(u"CAMERA_COMM_Ch00", u"SelectInterface", u"Camera Link API", cl));
    ASSERT_TRUE(
        platform::WriteSetting(u"CAMERA_COMM_Ch00", u"CameraLink DLL", u"libclsersim.so", cl));
    r = RunCli(dir, {"-i", "3", "--json", "--definition", "auto", "set", "Gain=33"}, "", program);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(R"({"property":"Gain","source":"reply","type":"Integer","value":33})"),
              std::string::npos)
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

// ---------------------------------------------------------------------------------------------
// The session core under quillon-cli: a device that goes, a send that cannot go out, the most
// severe outcome, and a signal that comes as the work ends

namespace {

TEST(CliSession, DeviceLostMidCommandEndsItAtOnceNamingTheDevice) {
    TempDir dir;
    Camera camera(dir, {"--close-mid-reply"});
    const auto start = Clock::now();
    const Result r =
        RunCli(dir, {"--port", "@PORT", "--timeout", "60000", "send", "sta"}, camera.link);
    // Far inside the 60 s receive time-out it would otherwise wait out.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_NE(r.err.find("The connection to " + camera.link + " was lost."), std::string::npos)
        << r.err;
}

TEST(CliSession, SignalEndsASendThatCannotGoOut) {
    TempDir dir;
    Camera camera(dir, {"--read-nothing"});
    const std::string log = dir.file("traffic.txt");
    // More than the terminal takes while nobody reads it.
    const std::string big(120000, 'x'); // one argument holds at most 128 KiB
    const pid_t pid = Spawn(kCli, {"--port", camera.link, "--log", log, "send", big},
                            dir.file("cli.out"), dir.file("cli.err"));
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitUntil([&] { return SentLines(ReadFileBytes(log)) != 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the send waits for room
    const auto signalled = Clock::now();
    ::kill(pid, SIGTERM);
    // The send's own time-out (20 s) is not waited out.
    EXPECT_EQ(WaitExit(pid, std::chrono::seconds(60)), 143);
    EXPECT_LT(Clock::now() - signalled, std::chrono::seconds(15));
    EXPECT_NE(ReadFileBytes(dir.file("cli.err")).find("the port closed"), std::string::npos);
}

struct SeverityCase {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* says;
};

class CliSeverity : public ::testing::TestWithParam<SeverityCase> {};

// "zzz" is answered "CMD ERR!" (5); then the camera goes (4): the failure is what counts, and a
// verification that could not compare says so.
TEST_P(CliSeverity, TheMostSevereOutcomeIsTheExitStatus) {
    TempDir dir;
    Camera camera(dir, {"--close-after", "2"});
    WriteFileBytes(dir.file("batch.txt"), "zzz\r\ngai 3\r\nblk 2\r\n");
    const Result r = RunCli(dir, GetParam().args, camera.link);
    EXPECT_EQ(r.status, GetParam().status) << r.err;
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Runs, CliSeverity,
                         ::testing::Values(
                             SeverityCase{
                                 "Load", {"--port", "@PORT", "load", "@DIR/batch.txt"}, 4, "lost"},
                             SeverityCase{"LoadVerify",
                                          {"--port", "@PORT", "load", "@DIR/batch.txt", "--verify"},
                                          4,
                                          "not verified: the batch stopped"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A SIGINT that comes while the tool writes its last output (the job has ended) still ends the
// tool as SIGINT does. Its output is a pipe nobody reads until then, so the tool waits in that
// write when the signal comes.
TEST(CliSession, SignalAsTheLastJobEndsIsNotSwallowed) {
    TempDir dir;
    Camera camera(dir, {"--clamp", "Gain=5"});
    std::string batch;
    for (int i = 0; i < 1500; ++i)
        batch += "gai 100\r\n"; // each a mismatch: the camera keeps 5
    WriteFileBytes(dir.file("batch.txt"), batch);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, dir.file("cli.err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string file = dir.file("batch.txt");
    std::vector<std::string> args{kCli,           "--port",    camera.link, "--gap", "0",
                                  "--definition", kDefinition, "load",      file,    "--verify"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, kCli.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    // The pipe is full: the tool waits in a write of the verification, after the batch.
    const bool full = WaitUntil(
        [&] {
            int waiting = 0;
            return ::ioctl(out[0], FIONREAD, &waiting) == 0 && waiting >= 60000;
        },
        std::chrono::seconds(120));
    EXPECT_TRUE(full);
    ::kill(pid, SIGINT);
    char buf[65536];
    while (::read(out[0], buf, sizeof buf) > 0) {
    }
    ::close(out[0]);
    EXPECT_EQ(WaitExit(pid), 130) << ReadFileBytes(dir.file("cli.err"));
}

} // namespace
