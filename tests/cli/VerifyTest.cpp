// load --verify's comparison of a command with the camera's reply, slot by slot, on real
// definitions: the sample and one with a Float slot and a command of an Integer and a String.
#include "app/Verify.h"

#include "camdef/CamPropertyMgr.h"
#include "platform/Text.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

const std::string kBin = QUILLON_BIN_DIR;

// The sample definition with two more commands: "ofs" of the Float SensorTemperature, and "nam"
// of Gain and UserName.
class Definition {
public:
    Definition() {
        std::string xml = ReadFileBytes(kBin + "/CamDefine/XC-100.xml");
        const std::string before = "  <!-- Queries and actions";
        xml.insert(xml.find(before),
                   "  <TARNCommand Name=\"ofs\"><MessageStyle>SpaceAndComma</MessageStyle>"
                   "<CommandValue><PropertyName>SensorTemperature</PropertyName></CommandValue>"
                   "</TARNCommand>\n"
                   "  <TARNCommand Name=\"nam\"><MessageStyle>SpaceAndComma</MessageStyle>"
                   "<CommandValue><PropertyName>Gain</PropertyName></CommandValue>"
                   "<CommandValue><PropertyName>UserName</PropertyName></CommandValue>"
                   "</TARNCommand>\n");
        WriteFileBytes(dir.file("def.xml"), xml);
        manager.SetSchemaPathFormat(
            platform::Utf8ToUtf16(kBin + "/CamDefine/OrvaCamSchema_v%d_%d.xsd"));
        loaded = manager.Load(platform::Utf8ToUtf16(dir.file("def.xml")));
    }
    TempDir dir;
    clCamPropertyMgr manager;
    int loaded = -1;
};

struct VerifyCase {
    const char* name;
    bool definition;
    std::u16string command;
    std::vector<std::u16string> replies;
    std::vector<std::string> mismatches; // "field: sent / received"
};

void PrintTo(const VerifyCase& c, std::ostream* os) {
    *os << c.name;
}

class VerifyCases : public ::testing::TestWithParam<VerifyCase> {};

TEST_P(VerifyCases, FindTheMismatchesOfEverySlot) {
    static Definition def;
    ASSERT_EQ(def.loaded, kLoadOk);
    const VerifyCase& c = GetParam();
    std::vector<VerifyMismatch> found;
    const bool verified =
        VerifyCommandReply(c.definition ? &def.manager : nullptr, c.command, c.replies, found);
    EXPECT_TRUE(verified);
    std::vector<std::string> texts;
    for (const VerifyMismatch& m : found)
        texts.push_back(m.field + ": " + m.sent + " / " + m.received);
    EXPECT_EQ(texts, c.mismatches);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VerifyCases,
    ::testing::Values(
        // The same camera, the same batch: the same verdict with and without a definition.
        VerifyCase{
            "StringByProperty", true, u"uid ALICE", {u">uid XC-100"}, {"UserName: ALICE / XC-100"}},
        VerifyCase{"StringWithoutDefinition",
                   false,
                   u"uid ALICE",
                   {u">uid XC-100"},
                   {"uid value 1: ALICE / XC-100"}},
        VerifyCase{"StringWithASpaceIsOneValue",
                   true,
                   u"uid John Smith",
                   {u">uid John Smyth"},
                   {"UserName: John Smith / John Smyth"}},
        VerifyCase{"SameString", true, u"uid John Smith", {u">OK", u">uid John Smith"}, {}},
        VerifyCase{"FloatAsNumbers", true, u"ofs 1.5", {u">ofs 1.50"}, {}},
        VerifyCase{
            "FloatDiffers", true, u"ofs 1.5", {u">ofs 1.25"}, {"SensorTemperature: 1.5 / 1.25"}},
        VerifyCase{"FloatMissingInTheReply",
                   true,
                   u"ofs 1.5",
                   {u">ofs"},
                   {"SensorTemperature: 1.5 / (none)"}},
        VerifyCase{"IntegerClamped", true, u"gai 230", {u">gai 200"}, {"Gain: 230 / 200"}},
        VerifyCase{"BoolByItsOnValue", true, u"bin 7", {u">bin 1"}, {}},
        VerifyCase{"IntegerAndStringOfOneCommand",
                   true,
                   u"nam 5,John Smith",
                   {u">nam 6,John Smith"},
                   {"Gain: 5 / 6"}},
        VerifyCase{"NoReplyLine", true, u"gai 5", {u">OK"}, {"gai: 5 / (no reply line)"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Verify, ACommandWithoutValuesIsNotVerified) {
    std::vector<VerifyMismatch> found;
    EXPECT_FALSE(VerifyCommandReply(nullptr, u"sta", {u">OK"}, found));
    EXPECT_TRUE(found.empty());
}

} // namespace
