// clTrafficLog: the traffic log of the camera link, a UTF-8 text file with one line per event:
//
//   2026-12-09 14:03:07.125 >> sta\r
//   2026-12-09 14:03:07.180 << >OK\r\n
//   2026-12-09 14:03:07.181 << \x04
//   2026-12-09 14:03:07.181 == OK (56 ms)
//
// Local time with milliseconds, the direction (">>" sent, "<<" received, "==" the result of a
// transaction with the time from its send to its end), then the bytes with every byte outside
// the printable ASCII range escaped ("\r", "\n", "\xHH"; a backslash is written "\\"). Received
// bytes are cut into lines after each LF and each EOT, so one reply gives the same lines however
// the port delivered it; bytes still waiting for their line end are written before the result.
//
// The engine writes to it from the worker thread (sends, results) and the port's receive thread
// (received bytes); any thread may open and close it. Every line is flushed as it is written.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

class clTrafficLog {
public:
    clTrafficLog() = default;
    ~clTrafficLog() { Close(); }
    clTrafficLog(const clTrafficLog&) = delete;
    clTrafficLog& operator=(const clTrafficLog&) = delete;

    // Appends to the file at path (UTF-8), created when missing; a log already open is closed
    // first. False when the file cannot be opened (the log is then closed).
    bool Open(const std::string& path);
    // Writes what is still pending and closes the file. A second call does nothing.
    void Close();
    bool IsOpen() const;

    void Sent(const uint8_t* bytes, size_t length);
    void Received(const uint8_t* bytes, size_t length);
    // The end of a transaction: pending received bytes, then "== text (N ms)" (0 ms when
    // nothing was sent).
    void Result(std::string_view text);

    // The escaped form of bytes as it appears in the log.
    static std::string Escape(std::string_view bytes);

private:
    void WriteLine(std::string_view direction, std::string_view text);
    void FlushPendingLocked();

    mutable std::mutex m_lock;
    std::FILE* m_file = nullptr;
    std::string m_pending; // received bytes, escaped, waiting for their line end
    std::chrono::steady_clock::time_point m_sentAt{};
    bool m_sent = false; // a send since the last result (a transaction refused before its send
                         // has no time of its own)
};

// The traffic log of an instance: its settings file name with "_Traffic.txt" in place of the
// ".ini" ("Quillon_00.ini" -> "Quillon_00_Traffic.txt"), in the same folder.
std::u16string TrafficLogPathBeside(std::u16string_view settingsFilePath);

// The text of a transaction's outcome as the log and the command-line tool show it: the reply
// code's text for a complete reply, else "send failed", "receive timeout", "cancelled", or
// "stopped" when the engine was shutting down.
std::string TransactionOutcomeText(int32_t transactionResult, int32_t replyCode, bool stopped);
