// What the console takes from the engine's receive ring, and when. No Qt here, so all of it is
// tested headless; CConsoleForm only appends what it is handed.
//
// The console keeps up with the port: a flush takes at most 500 characters (and 0.4 seconds),
// and the window runs the next one at the next pass of its event loop while a backlog remains.
// A backlog larger than the console can show (its rows of 78 columns), or larger than the ring
// still holds, is not replayed: its older part is passed over and one marker line says how many
// bytes were not shown. The user's own command stays in view: before its echo the console
// catches up with everything that came before it, and when its transaction ends the console
// shows the bytes up to the end of the reply at once, passing over (with a marker) what lies
// between the echo and the reply's last lines.
#pragma once

#include "ui/ConsoleText.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class clRingBuffer;

namespace console {

// The console's view of the receive ring: one writer (the port's receive thread) and the
// console as one of its readers. All calls come from the user-interface thread.
class IReceiveSource {
public:
    virtual ~IReceiveSource() = default;
    // Received bytes the console has neither taken nor passed over.
    virtual uint64_t Backlog() = 0;
    // Bytes the console has taken or passed over since the ring's last reset: where the console
    // stands in the stream of received bytes.
    virtual uint64_t Position() = 0;
    // How many of the newest bytes the ring holds; a backlog beyond it has been overwritten.
    virtual uint64_t Capacity() = 0;
    // Takes the next n bytes (n at most the backlog) into out.
    virtual void Take(uint8_t* out, uint64_t n) = 0;
    // Passes over the next n bytes (n at most the backlog).
    virtual void Skip(uint64_t n) = 0;
    // Whether the traffic log records what arrives, so bytes passed over can still be read.
    virtual bool TrafficLogged() { return false; }
};

// The console reader of the engine's receive ring.
class RingSource : public IReceiveSource {
public:
    explicit RingSource(clRingBuffer& ring, std::function<bool()> trafficLogged = {});
    uint64_t Backlog() override;
    uint64_t Position() override;
    uint64_t Capacity() override;
    void Take(uint8_t* out, uint64_t n) override;
    void Skip(uint64_t n) override;
    bool TrafficLogged() override { return m_trafficLogged && m_trafficLogged(); }

private:
    clRingBuffer& m_ring;
    std::function<bool()> m_trafficLogged;
};

using Clock = std::function<std::chrono::steady_clock::time_point()>;

struct FlushLimits {
    std::size_t maxChars = 500;
    std::chrono::steady_clock::duration maxTime = std::chrono::milliseconds(400);
};

struct FlushBatch {
    // What to append: a marker line where bytes were passed over, then the bytes taken, one
    // character per byte, cleaned for display.
    std::u16string text;
    // Bytes a later flush will take. 0 also while the console holds back for a command's
    // reply: it goes on by itself once the reply has been shown.
    uint64_t backlogLeft = 0;
    uint64_t skipped = 0; // bytes passed over
};

// The marker line of bytes passed over ("[N bytes not shown]"), on a line of its own.
std::u16string SkipMarker(uint64_t bytes, bool trafficLogged);

// The part of text (cleaned received bytes) that fills at most maxLines console lines of
// `columns` display columns, counted from its end: the index of its first character.
std::size_t TailForLines(std::u16string_view text, int maxLines, int columns);

class BacklogReader {
public:
    // One flush. Without a command in flight, a backlog beyond what the console or the ring
    // holds is passed over first (older part, one marker). With one in flight nothing is passed
    // over, and the flush stops where it would push the command's echo towards the top of the
    // console: the lines after the echo stay within a quarter of the rows.
    FlushBatch Flush(IReceiveSource& source, const LineStore& store, const Clock& clock = {},
                     const FlushLimits& limits = {});

    // Before the echo of a command: everything received before it went out (up to the stream
    // position receivedBefore; what came later is its reply and follows the echo), older part
    // beyond what the console holds passed over. The caller appends it, then the echo, then
    // calls EchoShown.
    FlushBatch BeforeEcho(IReceiveSource& source, const LineStore& store,
                          uint64_t receivedBefore = UINT64_MAX);
    // The echo is in the store: from now on the command is in flight.
    void EchoShown(const LineStore& store);

    // The command's transaction ended at `position` (the ring position after its last reply
    // byte): the bytes up to there, at most a quarter of the console's rows of them, so the
    // reply shows at once below its echo; what lies before them is passed over with a marker.
    // Ends the command.
    FlushBatch UpTo(IReceiveSource& source, const LineStore& store, uint64_t position);

    // The job ended without a result for the command: it is no longer in flight. True when one
    // was.
    bool EndCommand();
    bool CommandInFlight() const { return m_inFlight; }

    // Clear: everything received so far is dropped.
    void Drop(IReceiveSource& source);

    // Bytes passed over with a marker since the start (Drop does not count).
    uint64_t SkippedTotal() const { return m_skippedTotal; }

private:
    FlushBatch Counted(FlushBatch batch) {
        m_skippedTotal += batch.skipped;
        return batch;
    }

    uint64_t m_echoMark = 0; // the store's finished lines when the echo was shown
    bool m_inFlight = false;
    uint64_t m_skippedTotal = 0;
};

} // namespace console
