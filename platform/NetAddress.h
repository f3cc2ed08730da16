// Addresses of serial device servers, beside device paths: "tcp://HOST:PORT" (a raw byte stream)
// and "rfc2217://HOST:PORT" (Telnet with the COM-PORT-OPTION). HOST is a name, an IPv4 address or
// an IPv6 address in brackets ("[::1]"); PORT is 1 to 65535. Nothing may follow the port.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

enum class NetScheme { Tcp, Rfc2217 };

struct NetAddress {
    NetScheme scheme = NetScheme::Tcp;
    std::string host; // without brackets
    uint16_t port = 0;
    // The address as the user wrote it, scheme in lower case.
    std::string Text() const;
};

enum class NetAddressError {
    None,
    NotNetwork,     // no "tcp://" or "rfc2217://" in front: a device path or anything else
    Malformed,      // the scheme is there, but no host, no ":PORT", or something after it
    PortOutOfRange, // not a number from 1 to 65535
};

// True when text starts with a network scheme (letter case ignored), well formed or not.
bool IsNetAddress(std::string_view text);
NetAddressError ParseNetAddress(std::string_view text, NetAddress& out);
// What is wrong with text, in a few words for a message after the address ("" for None).
const char* NetAddressErrorText(NetAddressError error);
// A file-name-safe port name: "tcp-HOST-PORT" or "rfc2217-HOST-PORT", any other character of
// HOST than a letter, digit, '.', '-' or '_' as '_'.
std::string NetPortName(const NetAddress& address);

} // namespace platform
