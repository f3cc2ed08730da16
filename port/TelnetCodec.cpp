#include "port/TelnetCodec.h"

namespace {

constexpr char kOurSignature[] = "Quillon";

bool LocalSupported(uint8_t option) {
    return option == clTelnetCodec::kOptBinary || option == clTelnetCodec::kOptSga ||
           option == clTelnetCodec::kOptComPort;
}

bool RemoteSupported(uint8_t option) {
    return option == clTelnetCodec::kOptBinary || option == clTelnetCodec::kOptSga;
}

void Command(std::string& out, uint8_t verb, uint8_t option) {
    out.push_back(static_cast<char>(clTelnetCodec::kIac));
    out.push_back(static_cast<char>(verb));
    out.push_back(static_cast<char>(option));
}

} // namespace

std::string clTelnetCodec::Start() {
    std::string out;
    for (uint8_t option : {kOptComPort, kOptBinary, kOptSga}) {
        m_local[option] = Option::Asked;
        Command(out, kWill, option);
    }
    for (uint8_t option : {kOptBinary, kOptSga}) {
        m_remote[option] = Option::Asked;
        Command(out, kDo, option);
    }
    return out;
}

void clTelnetCodec::Receive(const uint8_t* bytes, size_t length, std::string& data,
                            std::string& reply) {
    size_t i = 0;
    while (i < length) {
        const uint8_t b = bytes[i++];
        switch (m_state) {
        case State::Data:
            if (b == kIac) {
                m_state = State::Iac;
            } else {
                // Without BINARY from the server a CR comes as CR NUL; the NUL is no data.
                const bool padding = b == 0 && m_lastCr && m_remote[kOptBinary] != Option::On;
                if (!padding)
                    data.push_back(static_cast<char>(b));
                m_lastCr = b == '\r';
            }
            break;
        case State::Iac:
            m_lastCr = false;
            if (b == kIac) {
                data.push_back(static_cast<char>(kIac));
                m_state = State::Data;
            } else if (b >= kWill && b <= kDont) {
                m_verb = b;
                m_state = State::Verb;
            } else if (b == kSb) {
                m_sub.clear();
                m_state = State::Sub;
            } else {
                // NOP, DM, BRK, GA and the others carry nothing for us; a stray SE is garbage.
                if (b == kSe)
                    ++m_garbage;
                m_state = State::Data;
            }
            break;
        case State::Verb:
            Negotiate(m_verb, b, reply);
            m_state = State::Data;
            break;
        case State::Sub:
            if (b == kIac) {
                m_state = State::SubIac;
            } else if (m_sub.size() < kMaxSubnegotiation) {
                m_sub.push_back(static_cast<char>(b));
            } else {
                // Overlong: no server of ours sends that. Dropped; what follows is data again.
                ++m_garbage;
                m_sub.clear();
                m_state = State::Data;
            }
            break;
        case State::SubIac:
            if (b == kIac && m_sub.size() < kMaxSubnegotiation) {
                m_sub.push_back(static_cast<char>(kIac));
                m_state = State::Sub;
            } else if (b == kIac) {
                ++m_garbage;
                m_sub.clear();
                m_state = State::Data;
            } else if (b == kSe) {
                Subnegotiation(reply);
                m_sub.clear();
                m_state = State::Data;
            } else {
                // IAC and a command inside a subnegotiation: it was never closed. Dropped, and
                // the command taken as one.
                ++m_garbage;
                m_sub.clear();
                m_state = State::Iac;
                --i; // read again, as the command after an IAC
            }
            break;
        }
    }
}

void clTelnetCodec::Negotiate(uint8_t verb, uint8_t option, std::string& reply) {
    Option& local = m_local[option];
    Option& remote = m_remote[option];
    switch (verb) {
    case kDo:
        if (!LocalSupported(option)) {
            Command(reply, kWont, option);
        } else if (local != Option::On) {
            if (local != Option::Asked)
                Command(reply, kWill, option);
            local = Option::On;
        }
        break;
    case kDont:
        if (local == Option::On)
            Command(reply, kWont, option);
        local = local == Option::Asked ? Option::Refused : Option::Off;
        if (local == Option::Off && option == kOptComPort)
            local = Option::Refused;
        break;
    case kWill:
        if (!RemoteSupported(option)) {
            Command(reply, kDont, option);
        } else if (remote != Option::On) {
            if (remote != Option::Asked)
                Command(reply, kDo, option);
            remote = Option::On;
        }
        break;
    case kWont:
        if (remote == Option::On)
            Command(reply, kDont, option);
        remote = remote == Option::Asked ? Option::Refused : Option::Off;
        break;
    default:
        break;
    }
}

void clTelnetCodec::Subnegotiation(std::string& reply) {
    if (m_sub.size() < 2 || static_cast<uint8_t>(m_sub[0]) != kOptComPort)
        return; // another option's: nothing we take part in
    const uint8_t code = static_cast<uint8_t>(m_sub[1]);
    const std::string value = m_sub.substr(2);
    if (code == kServerOffset + kSignature) {
        // Empty: the server asks for ours; else it is the server's.
        if (value.empty())
            reply += Request(kSignature, kOurSignature);
        else
            m_signature = value;
        return;
    }
    if (code == kServerOffset + kFlowSuspend) {
        m_suspended = true;
        return;
    }
    if (code == kServerOffset + kFlowResume) {
        m_suspended = false;
        return;
    }
    if (code < kServerOffset || code >= kServerOffset + kCommandCount)
        return;
    const size_t command = code - kServerOffset;
    uint32_t v = 0;
    if (command == kSetBaudRate) {
        if (value.size() != 4) {
            ++m_garbage;
            return;
        }
        for (char c : value)
            v = (v << 8) | static_cast<uint8_t>(c);
    } else if (!value.empty()) {
        v = static_cast<uint8_t>(value[0]);
    }
    ++m_answerCount[command];
    m_answerValue[command] = v;
}

void clTelnetCodec::Escape(const uint8_t* bytes, size_t length, bool binary, std::string& out) {
    out.reserve(out.size() + length + 2);
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = bytes[i];
        out.push_back(static_cast<char>(b));
        if (b == kIac)
            out.push_back(static_cast<char>(kIac));
        else if (b == '\r' && !binary && (i + 1 == length || bytes[i + 1] != '\n'))
            out.push_back('\0');
    }
}

std::string clTelnetCodec::Request(uint8_t command, const std::string& value) {
    std::string out = {static_cast<char>(kIac), static_cast<char>(kSb),
                       static_cast<char>(kOptComPort), static_cast<char>(command)};
    Escape(reinterpret_cast<const uint8_t*>(value.data()), value.size(), true, out);
    out.push_back(static_cast<char>(kIac));
    out.push_back(static_cast<char>(kSe));
    return out;
}

std::string clTelnetCodec::SetBaudRate(uint32_t baud) {
    const std::string value = {static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
                               static_cast<char>(baud >> 8), static_cast<char>(baud)};
    return Request(kSetBaudRate, value);
}

std::string clTelnetCodec::SetByte(uint8_t command, uint8_t value) {
    return Request(command, std::string(1, static_cast<char>(value)));
}

uint32_t clTelnetCodec::AnswerCount(uint8_t command) const {
    return command < kCommandCount ? m_answerCount[command] : 0;
}

uint32_t clTelnetCodec::AnswerValue(uint8_t command) const {
    return command < kCommandCount ? m_answerValue[command] : 0;
}
