// The words of a port's reason in both languages, as the connect failure and the port line
// show them.
#include "app/PortReasonText.h"

#include "base/MessageTable.h"

#include <gtest/gtest.h>

namespace {

struct ReasonCase {
    const char* name;
    PortReasonInfo reason;
    std::u16string english;
    std::u16string japanese;
    std::u16string portLine; // English
};

void PrintTo(const ReasonCase& c, std::ostream* os) {
    *os << c.name;
}

class PortReasonTextTest : public ::testing::TestWithParam<ReasonCase> {
protected:
    ~PortReasonTextTest() override { SetUiLanguage(1, 1033); }
};

TEST_P(PortReasonTextTest, WordsTheReasonInTheUiLanguage) {
    const ReasonCase& c = GetParam();
    SetUiLanguage(1, 1033);
    EXPECT_EQ(PortReasonText(c.reason), c.english);
    EXPECT_EQ(PortLineReasonText(c.reason), c.portLine);
    EXPECT_EQ(PortLibraryUnavailable(c.reason), !c.portLine.empty());
    SetUiLanguage(0, 1041);
    EXPECT_EQ(PortReasonText(c.reason), c.japanese);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PortReasonTextTest,
    ::testing::Values(
        ReasonCase{"None", {}, u"", u"", u""},
        ReasonCase{"UnknownKind", {99, 1, 2, u"x", u"y"}, u"", u"", u""},
        ReasonCase{"SpeedRefused",
                   {PORT_REASON_SPEED_REFUSED, 230400, 0, u"", u"9600, 115200"},
                   u"The library refused 230400 bps (it supports 9600, 115200 bps).",
                   u"ライブラリが 230400 bps を受け付けません (対応: 9600, 115200 bps)。",
                   u""},
        ReasonCase{"SpeedRefusedSupportUnknown",
                   {PORT_REASON_SPEED_REFUSED, 14400, 0, u"", u""},
                   u"The library refused 14400 bps (it supports ? bps).",
                   u"ライブラリが 14400 bps を受け付けません (対応: ? bps)。",
                   u""},
        ReasonCase{"LibraryMissing",
                   {PORT_REASON_LIBRARY_MISSING, 0, 0, u"libgone.so", u""},
                   u"The Camera Link serial library libgone.so is missing or cannot be loaded.",
                   u"Camera Link シリアルライブラリ libgone.so が見つからないか、読み込めません。",
                   u"Library missing: libgone.so"},
        ReasonCase{"FunctionMissing",
                   {PORT_REASON_FUNCTION_MISSING, 0, 0, u"libold.so", u"clSerialWrite"},
                   u"The Camera Link serial library libold.so lacks the function clSerialWrite.",
                   u"Camera Link シリアルライブラリ libold.so に関数 clSerialWrite がありません。",
                   u"The Camera Link serial library libold.so lacks the function clSerialWrite."},
        ReasonCase{
            "GroupMayOpen",
            {PORT_REASON_NO_PERMISSION, PORT_PERMISSION_GROUP, 0, u"/dev/ttyUSB0", u"dialout"},
            u"No permission to open /dev/ttyUSB0 (group dialout). Add your user to the "
            u"group dialout and log in again.",
            u"/dev/ttyUSB0 を開く権限がありません（グループ dialout）。ユーザーをグループ "
            u"dialout に加え、ログインし直してください。",
            u""},
        ReasonCase{
            "OnlyTheOwnerMayOpen",
            {PORT_REASON_NO_PERMISSION, PORT_PERMISSION_OWNER, 0, u"/dev/ttyS0", u"root"},
            u"No permission to open /dev/ttyS0: only its owner root may open it. Give the "
            u"device to a group (dialout, for example) with a udev rule, add your user to "
            u"that group and log in again.",
            u"/dev/ttyS0 を開く権限がありません。開けるのは所有者 root だけです。udev "
            u"ルールでデバイスをグループ (dialout など) に与え、ユーザーをそのグループに加えて、"
            u"ログインし直してください。",
            u""},
        ReasonCase{"ChannelMissing",
                   {PORT_REASON_CHANNEL_MISSING, 5, 2, u"libclsersim.so", u""},
                   u"Channel 5 no longer exists (libclsersim.so has 2 channels).",
                   u"チャンネル 5 はありません (libclsersim.so のチャンネル数: 2)。",
                   u""}),
    [](const auto& info) { return std::string(info.param.name); });

// A text holding "%s" itself is put in as it is, not filled again.
TEST(PortReasonText, ArgumentsAreNotScannedForPlaceholders) {
    SetUiLanguage(1, 1033);
    EXPECT_EQ(PortReasonText({PORT_REASON_FUNCTION_MISSING, 0, 0, u"lib%s.so", u"%s"}),
              u"The Camera Link serial library lib%s.so lacks the function %s.");
}

} // namespace
