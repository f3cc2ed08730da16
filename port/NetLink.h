// The connection of a network port of the built-in interface: a TCP socket to a serial device
// server, either a raw byte stream (tcp://) or Telnet with the COM-PORT-OPTION (rfc2217://),
// whose line the port sets from its stored parameters. The port's receive thread polls Fd and
// calls Read; sends come from the communication worker. Open, LowerDtr and Close come from the
// thread that connects and disconnects the port, never while the receive thread reads.
#pragma once

#include "platform/NetAddress.h"
#include "port/PortReason.h"
#include "port/TelnetCodec.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct ComPortParams;

class clNetLink {
public:
    using Log = std::function<void(const std::string& line)>;

    explicit clNetLink(platform::NetAddress address);
    ~clNetLink();
    clNetLink(const clNetLink&) = delete;
    clNetLink& operator=(const clNetLink&) = delete;

    // Connects within timeoutMs. The connection must not be closed by the server at once (a
    // server that serves one client at a time does that to the next). rfc2217: the option is
    // negotiated, DTR set as dtr says, both directions purged, then speed, data bits, parity,
    // stop bits and flow control set from params, all within the same time; the server's
    // answers are read back. Returns PORT_OK; PORT_OPEN_FAILED when no connection came about
    // (reason: host unknown, refused, no answer, server full, another error); or
    // PORT_SET_STATE_FAILED when the server does not offer the option, does not answer the line
    // settings in time or set other ones (the log names asked and set). A control request the
    // server does not acknowledge is logged only. Every failure is logged naming the address.
    int32_t Open(const ComPortParams& params, bool dtr, int timeoutMs, const Log& log,
                 PortReasonInfo& reason);

    // Whether something is connected (also after the connection ended, until Close).
    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    const platform::NetAddress& Address() const { return m_address; }

    // The receive thread: reads what is waiting and appends its data bytes to data (Telnet
    // taken out). False when the connection has ended (end of stream, reset, keep-alive
    // failure); error then holds the errno (0 for an orderly end).
    bool Read(std::string& data, int& error);
    // Data bytes that came in while Open negotiated, for the receive thread to deliver first.
    std::string TakePending();

    // Sends all bytes within timeoutMs (IAC doubled on rfc2217). False when they did not all go
    // out in time or the connection failed; the connection is then dropped at once (what it
    // still held is discarded, never sent later) and the receive thread sees its end.
    bool Send(const uint8_t* bytes, uint32_t length, int timeoutMs);
    // rfc2217: asks the server to lower DTR (before closing); nothing for tcp.
    void LowerDtr();
    // Closes the socket; a second call does nothing.
    void Close();

    // A short connection to see whether the server takes a client now (used to notice its
    // return): connects within timeoutMs and is not closed by the server at once. A cancelFd
    // that polls readable ends it early (false).
    static bool Probe(const platform::NetAddress& address, int timeoutMs, int cancelFd = -1);

private:
    enum class Wait { Done, Ended, TimedOut };
    // Reads into the codec (rfc2217) or pending until done() or the deadline.
    template <class Done>
    Wait ReadUntil(Done done, int64_t deadlineMs);
    bool WriteAll(const std::string& bytes, int timeoutMs);
    int32_t Negotiate(const ComPortParams& params, bool dtr, int timeoutMs, const Log& log,
                      PortReasonInfo& reason);
    // The connection ended while Open ran: the server takes no further client now.
    int32_t ServerFull(const Log& log, PortReasonInfo& reason);
    void Drop();

    platform::NetAddress m_address;
    std::string m_text; // the address as text, for the log and the reasons
    int m_fd = -1;
    clTelnetCodec m_codec;
    std::atomic<bool> m_binary{false}; // the codec's SendBinary, for the sending thread
    std::string m_pending;
    std::mutex m_writeLock; // one writer at a time: sends and the negotiation's answers
};
