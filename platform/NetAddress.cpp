#include "platform/NetAddress.h"

#include <cctype>

namespace platform {

namespace {

struct SchemeName {
    NetScheme scheme;
    std::string_view prefix;
};
constexpr SchemeName kSchemes[] = {{NetScheme::Tcp, "tcp://"}, {NetScheme::Rfc2217, "rfc2217://"}};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

const SchemeName* SchemeOf(std::string_view text) {
    for (const SchemeName& s : kSchemes)
        if (StartsWithNoCase(text, s.prefix))
            return &s;
    return nullptr;
}

bool HostCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

} // namespace

std::string NetAddress::Text() const {
    std::string text = scheme == NetScheme::Tcp ? "tcp://" : "rfc2217://";
    if (host.find(':') != std::string::npos)
        text += "[" + host + "]";
    else
        text += host;
    return text + ":" + std::to_string(port);
}

bool IsNetAddress(std::string_view text) {
    return SchemeOf(text) != nullptr;
}

NetAddressError ParseNetAddress(std::string_view text, NetAddress& out) {
    const SchemeName* scheme = SchemeOf(text);
    if (!scheme)
        return NetAddressError::NotNetwork;
    std::string_view rest = text.substr(scheme->prefix.size());
    std::string_view host;
    if (!rest.empty() && rest.front() == '[') {
        // An IPv6 address: hex digits, colons, dots (a v4 tail), and nothing else.
        const size_t close = rest.find(']');
        if (close == std::string_view::npos || close == 1)
            return NetAddressError::Malformed;
        host = rest.substr(1, close - 1);
        for (char c : host)
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
                return NetAddressError::Malformed;
        rest = rest.substr(close + 1);
    } else {
        const size_t colon = rest.find(':');
        if (colon == std::string_view::npos)
            return NetAddressError::Malformed;
        host = rest.substr(0, colon);
        if (host.empty())
            return NetAddressError::Malformed;
        for (char c : host)
            if (!HostCharacter(c))
                return NetAddressError::Malformed;
        rest = rest.substr(colon);
    }
    if (rest.size() < 2 || rest.front() != ':')
        return NetAddressError::Malformed;
    rest = rest.substr(1);
    unsigned long port = 0;
    for (char c : rest) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return NetAddressError::Malformed;
        port = port * 10 + static_cast<unsigned long>(c - '0');
        if (port > 65535)
            return NetAddressError::PortOutOfRange;
    }
    if (port == 0)
        return NetAddressError::PortOutOfRange;
    out.scheme = scheme->scheme;
    out.host = std::string(host);
    out.port = static_cast<uint16_t>(port);
    return NetAddressError::None;
}

const char* NetAddressErrorText(NetAddressError error) {
    switch (error) {
    case NetAddressError::None:
        return "";
    case NetAddressError::NotNetwork:
        return "not a tcp:// or rfc2217:// address";
    case NetAddressError::Malformed:
        return "malformed address (tcp://HOST:PORT or rfc2217://HOST:PORT)";
    case NetAddressError::PortOutOfRange:
        return "port out of range (1 to 65535)";
    }
    return "";
}

std::string NetPortName(const NetAddress& address) {
    std::string name = address.scheme == NetScheme::Tcp ? "tcp-" : "rfc2217-";
    for (char c : address.host)
        name.push_back(HostCharacter(c) ? c : '_');
    return name + "-" + std::to_string(address.port);
}

} // namespace platform
