// Serial device server addresses as the user writes them, and the port names made of them.
#include "platform/NetAddress.h"

#include <gtest/gtest.h>

namespace {

using platform::NetAddressError;
using platform::NetScheme;

struct AddressCase {
    const char* name;
    const char* text;
    NetAddressError error;
    NetScheme scheme;
    const char* host;
    uint16_t port;
    const char* portName;
};

class NetAddressParse : public ::testing::TestWithParam<AddressCase> {};

TEST_P(NetAddressParse, TakesWellFormedAddressesAndSaysWhatIsWrongWithOthers) {
    const AddressCase& c = GetParam();
    platform::NetAddress a;
    ASSERT_EQ(platform::ParseNetAddress(c.text, a), c.error);
    EXPECT_EQ(platform::IsNetAddress(c.text), c.error != NetAddressError::NotNetwork);
    if (c.error != NetAddressError::None)
        return;
    EXPECT_EQ(a.scheme, c.scheme);
    EXPECT_EQ(a.host, c.host);
    EXPECT_EQ(a.port, c.port);
    EXPECT_EQ(platform::NetPortName(a), c.portName);
    platform::NetAddress again;
    ASSERT_EQ(platform::ParseNetAddress(a.Text(), again), NetAddressError::None);
    EXPECT_EQ(again.Text(), a.Text());
}

constexpr auto kTcp = NetScheme::Tcp;
constexpr auto kRfc = NetScheme::Rfc2217;
constexpr auto kOk = NetAddressError::None;
constexpr auto kBad = NetAddressError::Malformed;
constexpr auto kRange = NetAddressError::PortOutOfRange;

INSTANTIATE_TEST_SUITE_P(
    Cases, NetAddressParse,
    ::testing::Values(
        AddressCase{"Tcp", "tcp://10.0.0.5:4001", kOk, kTcp, "10.0.0.5", 4001, "tcp-10.0.0.5-4001"},
        AddressCase{"Rfc2217Name", "RFC2217://line-3.plant:2217", kOk, kRfc, "line-3.plant", 2217,
                    "rfc2217-line-3.plant-2217"},
        AddressCase{"Ipv6", "tcp://[fe80::1]:23", kOk, kTcp, "fe80::1", 23, "tcp-fe80__1-23"},
        AddressCase{"DevicePath", "/dev/ttyUSB0", NetAddressError::NotNetwork, kTcp, "", 0, ""},
        AddressCase{"OtherScheme", "socket://h:1", NetAddressError::NotNetwork, kTcp, "", 0, ""},
        AddressCase{"NoPort", "tcp://host", kBad, kTcp, "", 0, ""},
        AddressCase{"EmptyPort", "tcp://host:", kBad, kTcp, "", 0, ""},
        AddressCase{"NoHost", "rfc2217://:4001", kBad, kTcp, "", 0, ""},
        AddressCase{"PathAfterPort", "tcp://host:4001/x", kBad, kTcp, "", 0, ""},
        AddressCase{"BlankInHost", "tcp://my host:4001", kBad, kTcp, "", 0, ""},
        AddressCase{"UnclosedBracket", "tcp://[::1:23", kBad, kTcp, "", 0, ""},
        AddressCase{"PortZero", "tcp://host:0", kRange, kTcp, "", 0, ""},
        AddressCase{"PortTooLarge", "tcp://host:65536", kRange, kTcp, "", 0, ""},
        AddressCase{"PortHuge", "tcp://host:99999999999999999999", kRange, kTcp, "", 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
