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
// the port delivered it. A received line carries the time its first byte arrived. Bytes still
// waiting for their line end are written before the next send or result, after a pause of
// kPendingPause without further bytes, and whenever kMaxPendingBytes of them have gathered.
//
// The engine writes to it from the worker thread (sends, results) and the port's receive thread
// (received bytes); any thread may open and close it. Every line is flushed as it is written.
// While open, a thread of its own writes out what a pause left pending.
//
// A listener (SetListener) is given every line as well, whether a file is open or not: the
// scripting service streams the traffic from it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

class clTrafficLog {
public:
    using WallClock = std::function<std::chrono::system_clock::time_point()>;
    // direction (">>", "<<" or "=="), the escaped text, the time stamped on the line. Called
    // with the log's lock held, on the thread that wrote the line: it must return promptly and
    // must not call back into the log.
    using Listener = std::function<void(std::string_view direction, std::string_view text,
                                        std::chrono::system_clock::time_point at)>;
    // A partial received line is written out after this long without a byte ...
    static constexpr std::chrono::milliseconds kPendingPause{100};
    // ... or once it holds this many bytes.
    static constexpr size_t kMaxPendingBytes = 4096;

    // clock: the time stamped on each line (the system clock when empty).
    explicit clTrafficLog(WallClock clock = {});
    ~clTrafficLog();
    clTrafficLog(const clTrafficLog&) = delete;
    clTrafficLog& operator=(const clTrafficLog&) = delete;

    // Appends to the file at path (UTF-8), created when missing; a log already open is closed
    // first. False when the file cannot be opened (the log is then closed).
    bool Open(const std::string& path);
    // Writes what is still pending and closes the file. A second call does nothing.
    void Close();
    bool IsOpen() const;
    // Sets (or, with an empty one, removes) the listener; the pause flush runs while one is set.
    void SetListener(Listener listener);

    void Sent(const uint8_t* bytes, size_t length);
    void Received(const uint8_t* bytes, size_t length);
    // The end of a transaction: pending received bytes, then "== text (N ms)" (0 ms when
    // nothing was sent).
    void Result(std::string_view text);

    // The escaped form of bytes as it appears in the log.
    static std::string Escape(std::string_view bytes);
    // Local time with milliseconds as the log stamps it, date and time separated by between:
    // "2026-12-09 14:03:07.125".
    static std::string LocalStamp(std::chrono::system_clock::time_point at, char between = ' ');

private:
    using Stamp = std::chrono::system_clock::time_point;
    void WriteLine(std::string_view direction, std::string_view text, Stamp at);
    void FlushPendingLocked();
    void StopFlusher();
    void FlusherLoop();

    WallClock m_clock;
    std::mutex m_openLock; // Open and Close one at a time (they start and join the flusher)
    mutable std::mutex m_lock;
    bool Active() const { return m_file || m_listener; }
    void StartFlusherLocked();

    std::FILE* m_file = nullptr;
    Listener m_listener;
    std::string m_pending; // received bytes, escaped, waiting for their line end
    size_t m_pendingBytes = 0;
    Stamp m_pendingSince{};                             // arrival of the first pending byte
    std::chrono::steady_clock::time_point m_lastByte{}; // arrival of the last one
    std::thread m_flusher;
    std::condition_variable m_wake;
    bool m_stopFlusher = false;
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
