// The camera simulator: its answers, and its pseudo-terminal with injected faults.
#include "platform/Text.h"
#include "support/Deadline.h"
#include "support/TempDir.h"
#include "tools/camsim/PtyServer.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::string Source(const std::string& relative) {
    return std::string(QUILLON_SOURCE_DIR) + "/" + relative;
}

class CameraSimTest : public ::testing::Test {
protected:
    CameraSimTest() {
        EXPECT_EQ(sim.Load(Source("CamDefine/XC-100.xml")), 0);
        sim.identity.model = u"XC-100";
    }
    clCameraSim sim;
};

TEST_F(CameraSimTest, AnswersInTheWireFraming) {
    EXPECT_EQ(sim.Answer("sta"), ">OK\r\n>Model=XC-100\r\n>Ver.=1.00\r\n>Serial=00000001\r\n\x04");
    EXPECT_EQ(sim.Answer("gai 12"), ">OK\r\n>gai 12\r\n\x04");
    EXPECT_EQ(sim.Answer("gai"), ">OK\r\n>gai 12\r\n\x04");
    // Two values in "SpaceAndComma"; glued value of "NoSeparate".
    EXPECT_EQ(sim.Answer("frm 30, 1000"), ">OK\r\n>frm 30,1000\r\n\x04");
    EXPECT_EQ(sim.Answer("tpn2"), ">OK\r\n>tpn2\r\n\x04");
    EXPECT_EQ(sim.Answer("tpn"), ">OK\r\n>tpn2\r\n\x04");
    // Actions without values; anything unknown.
    EXPECT_EQ(sim.Answer("sav"), ">OK\r\n\x04");
    EXPECT_EQ(sim.Answer("sav 3"), ">CMD ERR!\r\n\x04");
    EXPECT_EQ(sim.Answer("what"), ">CMD ERR!\r\n\x04");
    EXPECT_EQ(sim.Answer(""), ">CMD ERR!\r\n\x04");
    sim.echo = true;
    EXPECT_EQ(sim.Answer("gai"), "gai\r\n>OK\r\n>gai 12\r\n\x04");
    // A ceiling keeps a larger value at the ceiling, as a camera clamps what it cannot reach.
    sim.echo = false;
    sim.ceilings = {{u"Gain", 200}};
    EXPECT_EQ(sim.Answer("gai 230"), ">OK\r\n>gai 200\r\n\x04");
    EXPECT_EQ(sim.Answer("gai 150"), ">OK\r\n>gai 150\r\n\x04");
}

// A raw host side on the simulator's terminal.
struct Host {
    int fd = -1;
    explicit Host(const std::string& path) {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    ~Host() {
        if (fd >= 0)
            ::close(fd);
    }
    void Send(const std::string& s) {
        EXPECT_EQ(::write(fd, s.data(), s.size()), ssize_t(s.size()));
    }
    // Reads until EOT, a hang-up or timeoutMs; the pieces as they arrived.
    std::vector<std::string> Read(int timeoutMs, bool* hangUp = nullptr) {
        std::vector<std::string> pieces;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 20);
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                pieces.emplace_back(buf, size_t(n));
                if (pieces.back().back() == '\x04')
                    break;
            } else if ((n < 0 && errno == EIO) || (p.revents & POLLHUP)) {
                if (hangUp)
                    *hangUp = true;
                break;
            }
        }
        return pieces;
    }
    static std::string Join(const std::vector<std::string>& v) {
        std::string s;
        for (const auto& x : v)
            s += x;
        return s;
    }
};

TEST_F(CameraSimTest, PtyFaultsShapeTheAnswer) {
    TempDir dir;
    clPtyServer server(sim);
    server.faults.chunkBytes = 4;
    server.faults.chunkGapMs = 20;
    server.faults.garbageBytes = 5;
    server.faults.noiseLines = 2;
    ASSERT_TRUE(server.Open(dir.file("cam")));
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("cam").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_TRUE(server.Start());
    Host host(dir.file("cam"));
    host.Send("gai 3\r");
    const auto pieces = host.Read(3000);
    EXPECT_GT(pieces.size(), 5u); // arrived in several chunks
    EXPECT_EQ(
        Host::Join(pieces),
        std::string("\x01\x7f\xfe\x80?\r\n>(noise 0)\r\n>(noise 1)\r\n>OK\r\n>gai 3\r\n\x04"));
    server.Stop();
    server.CloseTerminal();
    EXPECT_NE(::lstat(dir.file("cam").c_str(), &st), 0); // the link went with the terminal
}

TEST_F(CameraSimTest, DelayDropAndSilence) {
    TempDir dir;
    clPtyServer server(sim);
    server.faults.answerDelayMs = 200;
    server.faults.dropMidReply = true;
    ASSERT_TRUE(server.Open(dir.file("cam")));
    ASSERT_TRUE(server.Start());
    Host host(server.DevicePath());
    const auto start = std::chrono::steady_clock::now();
    host.Send("sta\r");
    const std::string got = Host::Join(host.Read(800));
    const std::string full = ">OK\r\n>Model=XC-100\r\n>Ver.=1.00\r\n>Serial=00000001\r\n\x04";
    EXPECT_EQ(got, full.substr(0, full.size() / 2));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    server.Stop();
    server.faults = {};
    server.faults.noAnswer = true;
    ASSERT_TRUE(server.Start());
    host.Send("sta\r");
    EXPECT_EQ(Host::Join(host.Read(300)), "");
    EXPECT_EQ(server.Commands(), 2);
}

TEST_F(CameraSimTest, ClosingTheTerminalHangsUpTheHost) {
    TempDir dir;
    clPtyServer server(sim);
    server.faults.closeAfterCommands = 2;
    ASSERT_TRUE(server.Open(dir.file("cam")));
    ASSERT_TRUE(server.Start());
    Host host(server.DevicePath());
    host.Send("sta\r");
    EXPECT_FALSE(host.Read(2000).empty());
    host.Send("sta\r");
    bool hangUp = false;
    host.Read(2000, &hangUp);
    EXPECT_TRUE(hangUp);
    EXPECT_FALSE(server.IsOpen());
}

TEST(CamSimProgram, PublishesItsTerminalAndEndsOnSignal) {
    TempDir dir;
    const std::string program = std::string(QUILLON_BIN_DIR) + "/camsim";
    const std::string def = Source("CamDefine/XC-100.xml");
    const std::string link = dir.file("cam");
    const char* argv[] = {program.c_str(), "--definition", def.c_str(), "--link", link.c_str(),
                          "--echo",        "--serial",     "777",       nullptr};
    pid_t pid = 0;
    ASSERT_EQ(
        ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ),
        0);
    struct stat st {};
    WaitUntil([&] { return ::lstat(link.c_str(), &st) == 0; });
    {
        Host host(link);
        host.Send("sta\r");
        EXPECT_EQ(Host::Join(host.Read(3000)),
                  "sta\r\n>OK\r\n>Model=XC-100\r\n>Ver.=1.00\r\n>Serial=777\r\n\x04");
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(::lstat(link.c_str(), &st), 0);

    // Bad arguments and an unreadable definition are refused.
    const char* bad[] = {program.c_str(), "--definition", "/nonexistent.xml",
                         "--link",        link.c_str(),   nullptr};
    ASSERT_EQ(
        ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, const_cast<char**>(bad), environ),
        0);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

} // namespace

namespace {

// Every value a sample says comes from the camera is brought in by a reply to some button of
// the window, and no read-only value names a command the window could never send.
class SampleReplies : public ::testing::TestWithParam<const char*> {};

// Read-only values that the program itself works out: calculated, referenced or chosen by
// another property.
bool WorkedOutByTheProgram(const clCamProperty& p) {
    if (p.isCalculator || !p.valueReference.empty())
        return true;
    if (auto* i = PropertyAs<const clCamPropertyInteger>(&p))
        return !i->indexPropertyName.empty();
    if (auto* f = PropertyAs<const clCamPropertyFloat>(&p))
        return !f->indexPropertyName.empty();
    return false;
}

TEST_P(SampleReplies, ReadOnlyValuesAreRefreshedByAButton) {
    clCameraSim sim;
    ASSERT_EQ(sim.Load(Source(std::string("CamDefine/") + GetParam())), 0);
    clCamPropertyMgr program;
    program.SetSchemaPathFormat(
        platform::Utf8ToUtf16(Source("CamDefine/OrvaCamSchema_v%d_%d.xsd")));
    ASSERT_EQ(program.Load(platform::Utf8ToUtf16(Source(std::string("CamDefine/") + GetParam()))),
              0);

    // The camera's own readings differ from the definition's values.
    std::vector<std::u16string> measured;
    for (const auto& [name, record] : program.Properties()) {
        if (record->accessMode != kAccessReadOnly || WorkedOutByTheProgram(*record))
            continue;
        measured.push_back(name);
        EXPECT_TRUE(record->commandNames.empty())
            << platform::Utf16ToUtf8(name) << ": a read-only value is never sent";
        clCamProperty* mine = sim.Manager().FindProperty(name);
        if (auto* i = PropertyAs<clCamPropertyInteger>(mine))
            sim.Manager().SetIntegerValue(i, 4242);
        else if (auto* f = PropertyAs<clCamPropertyFloat>(mine))
            sim.Manager().SetFloatValue(f, 42.5);
        else if (auto* s = PropertyAs<clCamPropertyString>(mine))
            sim.Manager().SetStringValue(s, u"tag-42");
    }
    ASSERT_FALSE(measured.empty());

    // Press every button: its commands go to the camera, its replies come back.
    for (const auto& [name, record] : program.Properties()) {
        if (record->type != CamPropertyType::Execution)
            continue;
        for (const std::u16string& commandName : record->commandNames) {
            std::u16string text;
            ASSERT_EQ(program.ComposeCommand(program.FindCommand(commandName), text), 0);
            const auto lines = sim.ReplyLines(text);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines[0], u"OK") << platform::Utf16ToUtf8(text);
            for (size_t k = 1; k < lines.size(); ++k) {
                int updated = 0;
                program.ParseReplyLine(lines[k], updated);
            }
        }
    }
    for (const std::u16string& name : measured) {
        SCOPED_TRACE(platform::Utf16ToUtf8(name));
        const clCamProperty* p = program.FindProperty(name);
        if (auto* i = PropertyAs<const clCamPropertyInteger>(p)) {
            EXPECT_EQ(i->value, 4242);
        } else if (auto* f = PropertyAs<const clCamPropertyFloat>(p)) {
            EXPECT_DOUBLE_EQ(f->value, 42.5);
        } else if (auto* s = PropertyAs<const clCamPropertyString>(p)) {
            EXPECT_EQ(s->value, u"tag-42");
        } else {
            ADD_FAILURE() << "kind not checked";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleReplies, ::testing::Values("XC-100.xml", "LX-4K.xml"),
                         [](const auto& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('-')) + "_" +
                                    name.substr(name.find('-') + 1,
                                                name.find('.') - name.find('-') - 1);
                         });

} // namespace
