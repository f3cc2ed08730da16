// The Telnet side of an rfc2217:// port, without any I/O: option negotiation (we offer BINARY,
// SUPPRESS-GO-AHEAD and the COM-PORT-OPTION, ask for BINARY and SUPPRESS-GO-AHEAD of the server
// and refuse everything else), IAC escaping both ways, Telnet commands taken out of the data,
// and the COM-PORT-OPTION requests and the server's answers to them.
//
// Receive takes the bytes as they come, in chunks of any size (a command may be split between
// two chunks); the data bytes go on to the receive ring, the bytes to answer with go back to
// the server. Whatever a server sends, the reader ends in a known state: a subnegotiation
// longer than kMaxSubnegotiation or broken by a bare IAC is dropped and counted as garbage,
// and each received byte makes at most a few bytes of answer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class clTelnetCodec {
public:
    static constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251,
                             kSb = 250, kSe = 240;
    static constexpr uint8_t kOptBinary = 0, kOptEcho = 1, kOptSga = 3, kOptComPort = 44;
    static constexpr size_t kMaxSubnegotiation = 256;

    // COM-PORT-OPTION commands as the client sends them; the server answers with the command
    // plus kServerOffset.
    enum ComPortCommand : uint8_t {
        kSignature = 0,
        kSetBaudRate = 1,
        kSetDataSize = 2,
        kSetParity = 3,
        kSetStopSize = 4,
        kSetControl = 5,
        kNotifyLineState = 6,
        kNotifyModemState = 7,
        kFlowSuspend = 8,
        kFlowResume = 9,
        kSetLineStateMask = 10,
        kSetModemStateMask = 11,
        kPurgeData = 12,
    };
    static constexpr uint8_t kServerOffset = 100;
    static constexpr size_t kCommandCount = 13;
    // Values of SET-PARITY, SET-STOPSIZE, SET-CONTROL and PURGE-DATA.
    enum : uint8_t {
        kParityNone = 1,
        kParityOdd = 2,
        kParityEven = 3,
        kParityMark = 4,
        kParitySpace = 5,
        kStopOne = 1,
        kStopTwo = 2,
        kStopOneAndHalf = 3,
        kControlNoFlow = 1,
        kControlXonXoff = 2,
        kControlHardware = 3,
        kControlDtrOn = 8,
        kControlDtrOff = 9,
        kPurgeBoth = 3,
    };

    // Where an option of one side stands.
    enum class Option : uint8_t { Off, Asked, On, Refused };

    // The opening of the negotiation: WILL COM-PORT-OPTION, WILL and DO BINARY, WILL and DO
    // SUPPRESS-GO-AHEAD. Marks them asked.
    std::string Start();

    // Takes received bytes: data bytes are appended to data, the answers the negotiation needs
    // to reply (to be sent to the server as they are).
    void Receive(const uint8_t* bytes, size_t length, std::string& data, std::string& reply);

    // Outgoing data: every IAC doubled; with binary false (the server refused BINARY) a CR not
    // followed by LF is sent as CR NUL, as the network virtual terminal wants it.
    static void Escape(const uint8_t* bytes, size_t length, bool binary, std::string& out);
    // A COM-PORT-OPTION request (value escaped), and the usual ones.
    static std::string Request(uint8_t command, const std::string& value);
    static std::string SetBaudRate(uint32_t baud);
    static std::string SetByte(uint8_t command, uint8_t value);

    // Our COM-PORT-OPTION: On once the server said DO, Refused when it said DONT.
    Option ComPort() const { return m_local[kOptComPort]; }
    // Whether we send in binary (the server accepted our WILL BINARY).
    bool SendBinary() const { return m_local[kOptBinary] == Option::On; }

    // How many answers the server gave to a command (by the client's code), and the value of the
    // last one: the 4-byte network-order number of SET-BAUDRATE, else its first byte.
    uint32_t AnswerCount(uint8_t command) const;
    uint32_t AnswerValue(uint8_t command) const;
    // The server's signature as it told it (empty until then), and whether it asked us to stop
    // sending (FLOWCONTROL-SUSPEND not yet followed by RESUME).
    const std::string& ServerSignature() const { return m_signature; }
    bool Suspended() const { return m_suspended; }
    // Malformed sequences seen (broken or overlong subnegotiations, stray SE).
    uint32_t Garbage() const { return m_garbage; }

private:
    enum class State : uint8_t { Data, Iac, Verb, Sub, SubIac };
    void Negotiate(uint8_t verb, uint8_t option, std::string& reply);
    void Subnegotiation(std::string& reply);

    State m_state = State::Data;
    uint8_t m_verb = 0;
    bool m_lastCr = false;
    std::string m_sub;
    std::array<Option, 256> m_local{};  // what we do (DO / DONT from the server)
    std::array<Option, 256> m_remote{}; // what the server does (WILL / WONT)
    std::array<uint32_t, kCommandCount> m_answerCount{};
    std::array<uint32_t, kCommandCount> m_answerValue{};
    std::string m_signature;
    bool m_suspended = false;
    uint32_t m_garbage = 0;
};
