// The identity check after a reconnect, and the order of the reaction to a loss: the job is
// cancelled before the window hears of it.
#include "app/PortLinkGuard.h"

#include "port/PortComm.h"
#include "support/FakeDeviceSource.h"

#include <gtest/gtest.h>

namespace {

struct IdentityCase {
    const char* name;
    CameraIdentity before, now;
    bool warns;
};

class IdentityCheck : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(IdentityCheck, WarnsOnlyWhenBothAreKnownAndDiffer) {
    clPortComm port;
    clPortLinkGuard guard(port, nullptr);
    const IdentityCase& c = GetParam();
    CameraIdentity before;
    EXPECT_FALSE(guard.EndIdentityCheck(c.now, before)); // none begun
    guard.BeginIdentityCheck(c.before);
    EXPECT_TRUE(guard.IdentityCheckPending());
    EXPECT_EQ(guard.EndIdentityCheck(c.now, before), c.warns);
    EXPECT_EQ(before, c.before);
    EXPECT_FALSE(guard.IdentityCheckPending());
    EXPECT_FALSE(guard.EndIdentityCheck(c.now, before)); // once
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IdentityCheck,
    ::testing::Values(
        IdentityCase{"Same", {u"XC-100", u"1.00", u"12345"}, {u"XC-100", u"1.00", u"12345"}, false},
        IdentityCase{
            "OtherSerial", {u"XC-100", u"1.00", u"12345"}, {u"XC-100", u"1.00", u"777"}, true},
        IdentityCase{"OtherModel", {u"XC-100", u"", u""}, {u"XC-200", u"", u""}, true},
        // Never asked before the loss: nothing to compare with.
        IdentityCase{"UnknownBefore", {}, {u"XC-100", u"1.00", u"12345"}, false},
        // "sta" gave nothing after the reconnect: nothing to say.
        IdentityCase{"UnknownNow", {u"XC-100", u"1.00", u"12345"}, {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PortLinkGuard, IdentityTextJoinsTheKnownParts) {
    EXPECT_EQ((CameraIdentity{u"XC-100", u"", u"12345"}).Text(), u"XC-100 12345");
    EXPECT_EQ(CameraIdentity{}.Text(), u"");
}

} // namespace
