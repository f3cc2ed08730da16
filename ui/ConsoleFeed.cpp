#include "ui/ConsoleFeed.h"

#include "base/MessageTable.h"
#include "comm/RingBuffer.h"

#include <algorithm>
#include <string>

namespace console {

namespace {

// Bytes taken between two looks at the clock.
constexpr uint64_t kTakeChunk = 50;

std::u16string Decimal(uint64_t n) {
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

// The most bytes worth showing: what the console holds.
uint64_t ViewBytes(const LineStore& store) {
    return static_cast<uint64_t>(store.RowLimit()) * static_cast<uint64_t>(store.LineWidth());
}

// The lines a command's bytes may fill after its echo, and again for its reply.
int QuarterRows(const LineStore& store) {
    return std::max(1, store.RowLimit() / 4);
}

// The marker line for bytes passed over, starting a line of its own.
std::u16string MarkerLine(const LineStore& store, uint64_t skipped, bool trafficLogged) {
    std::u16string line = store.Column() > 0 ? u"\n" : u"";
    return line + SkipMarker(skipped, trafficLogged) + u"\n";
}

// Takes up to n bytes as characters, looking at the clock every few bytes; stops once maxTime
// has passed since start.
std::u16string TakeText(IReceiveSource& source, uint64_t n, const Clock& clock,
                        std::chrono::steady_clock::duration maxTime) {
    const auto now = [&clock] { return clock ? clock() : std::chrono::steady_clock::now(); };
    const auto start = now();
    std::u16string text;
    text.reserve(static_cast<std::size_t>(n));
    uint8_t chunk[kTakeChunk];
    while (text.size() < n) {
        if (now() - start >= maxTime)
            break;
        const uint64_t piece = std::min<uint64_t>(kTakeChunk, n - text.size());
        source.Take(chunk, piece);
        text.append(chunk, chunk + piece);
    }
    return text;
}

// Everything up to n bytes, no time limit (bounded by the caller).
std::u16string TakeAll(IReceiveSource& source, uint64_t n) {
    std::u16string text(static_cast<std::size_t>(n), u'\0');
    std::string bytes(static_cast<std::size_t>(n), '\0');
    source.Take(reinterpret_cast<uint8_t*>(bytes.data()), n);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        text[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[i]));
    return text;
}

} // namespace

RingSource::RingSource(clRingBuffer& ring, std::function<bool()> trafficLogged)
    : m_ring(ring), m_trafficLogged(std::move(trafficLogged)) {}

uint64_t RingSource::Backlog() {
    return m_ring.Pending(clRingBuffer::kConsoleReader);
}
uint64_t RingSource::Position() {
    return m_ring.TakenCount(clRingBuffer::kConsoleReader);
}
uint64_t RingSource::Capacity() {
    return m_ring.Size();
}
void RingSource::Take(uint8_t* out, uint64_t n) {
    m_ring.TakeInto(clRingBuffer::kConsoleReader, out, n);
}
void RingSource::Skip(uint64_t n) {
    m_ring.Skip(clRingBuffer::kConsoleReader, n);
}

std::u16string SkipMarker(uint64_t bytes, bool trafficLogged) {
    return FormatMsg(trafficLogged ? MSG_CONSOLE_SKIPPED_LOGGED : MSG_CONSOLE_SKIPPED,
                     {Decimal(bytes)});
}

std::size_t TailForLines(std::u16string_view text, int maxLines, int columns) {
    if (maxLines <= 0)
        return text.size();
    columns = std::max(columns, 1);
    const auto rowsOf = [columns](int width) {
        return std::max(1, (width + columns - 1) / columns);
    };
    int rows = 0;  // rows of the lines after the LF last passed
    int width = 0; // display width of the line being walked, from its end
    for (std::size_t i = text.size(); i-- > 0;) {
        if (text[i] == u'\n') {
            rows += rowsOf(width);
            width = 0;
            if (rows >= maxLines)
                return i + 1;
            continue;
        }
        width += UnitWidth(text[i]);
        if (rows + (width + columns - 1) / columns > maxLines)
            return i + 1;
    }
    return 0;
}

FlushBatch BacklogReader::Flush(IReceiveSource& source, const LineStore& store, const Clock& clock,
                                const FlushLimits& limits) {
    FlushBatch batch;
    uint64_t backlog = source.Backlog();
    if (backlog == 0)
        return batch;
    uint64_t maxChars = limits.maxChars;
    uint64_t keep = source.Capacity();
    if (m_inFlight) {
        // Each character finishes at most one line.
        const uint64_t used = store.FinishedLines() - m_echoMark;
        const auto quarter = static_cast<uint64_t>(QuarterRows(store));
        maxChars = std::min(maxChars, quarter > used ? quarter - used : 0);
        if (maxChars == 0)
            return batch; // held until the reply has been shown
    } else {
        keep = std::min(keep, ViewBytes(store));
    }
    if (backlog > keep) {
        batch.skipped = backlog - keep;
        source.Skip(batch.skipped);
        backlog = keep;
    }
    const std::u16string taken =
        TakeText(source, std::min(maxChars, backlog), clock, limits.maxTime);
    if (batch.skipped > 0)
        batch.text = MarkerLine(store, batch.skipped, source.TrafficLogged());
    batch.text += CleanForDisplay(taken);
    batch.backlogLeft = backlog - taken.size();
    return Counted(std::move(batch));
}

FlushBatch BacklogReader::BeforeEcho(IReceiveSource& source, const LineStore& store,
                                     uint64_t receivedBefore) {
    FlushBatch batch;
    const uint64_t at = source.Position();
    uint64_t backlog = std::min(source.Backlog(), receivedBefore > at ? receivedBefore - at : 0);
    const uint64_t keep = std::min(source.Capacity(), ViewBytes(store));
    if (backlog > keep) {
        batch.skipped = backlog - keep;
        source.Skip(batch.skipped);
        backlog = keep;
        batch.text = MarkerLine(store, batch.skipped, source.TrafficLogged());
    }
    batch.text += CleanForDisplay(TakeAll(source, backlog));
    return Counted(std::move(batch));
}

void BacklogReader::EchoShown(const LineStore& store) {
    m_echoMark = store.FinishedLines();
    m_inFlight = true;
}

FlushBatch BacklogReader::UpTo(IReceiveSource& source, const LineStore& store, uint64_t position) {
    m_inFlight = false;
    FlushBatch batch;
    const uint64_t backlog = source.Backlog();
    const uint64_t at = source.Position();
    if (position <= at || backlog == 0) {
        batch.backlogLeft = backlog;
        return batch;
    }
    const uint64_t n = std::min(position - at, backlog);
    // What the ring no longer holds, and what a quarter of the console's rows cannot show.
    const int rows = QuarterRows(store);
    const uint64_t most = std::min(source.Capacity(), static_cast<uint64_t>(rows) *
                                                          static_cast<uint64_t>(store.LineWidth()));
    uint64_t skipped = std::max<uint64_t>(backlog, source.Capacity()) - source.Capacity();
    skipped = std::min(n, std::max(skipped, n > most ? n - most : 0));
    source.Skip(skipped);
    std::u16string text = CleanForDisplay(TakeAll(source, n - skipped));
    // Short lines: fewer bytes fill the rows.
    const std::size_t from = TailForLines(text, rows, store.LineWidth());
    skipped += from;
    if (skipped > 0)
        batch.text = MarkerLine(store, skipped, source.TrafficLogged());
    batch.text.append(text, from, std::u16string::npos);
    batch.skipped = skipped;
    batch.backlogLeft = backlog - n;
    return Counted(std::move(batch));
}

bool BacklogReader::EndCommand() {
    const bool was = m_inFlight;
    m_inFlight = false;
    return was;
}

void BacklogReader::Drop(IReceiveSource& source) {
    source.Skip(source.Backlog());
}

} // namespace console
