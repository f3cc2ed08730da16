// The console's text logic without any window: the line store with its fixed-column wrap and
// row limit, the cleaning of received bytes and echoed commands for display, and the
// collection of received bytes for one console flush. No Qt here, so all of it is tested
// headless; CConsoleEdit only mirrors the store into its widget.
#pragma once

#include "ui/DialogUnits.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace console {

// Display columns of one console line and the default row limit ("Console Rows").
constexpr int kLineColumns = 78;
constexpr int kDefaultRows = 2000;
// The symbol shown for a received NAK (0x15).
constexpr char16_t kNakSymbol = u'\u2415';
// A console echo shows at most this many characters of the last command text.
constexpr std::size_t kEchoMaxChars = 501;

// Display width (1 or 2 columns) of a UTF-16 unit that is not part of a surrogate pair:
// 2 for 0x0080-0xFF60, 0xFFDD-0xFFE7 and 0xFFEF-0xFFFF, 1 for everything else (ASCII,
// half-width katakana 0xFF61-0xFFDC, 0xFFE8-0xFFEE). A surrogate pair is always 2.
int UnitWidth(char16_t unit);

// A copy of text fit for the console: CR and the control characters 0x00-0x08, 0x0B-0x14
// and 0x16-0x1F become LF, NAK (0x15) becomes U+2415; TAB and LF stay.
std::u16string CleanForDisplay(std::u16string_view text);

// The echo of a sent command: the first kEchoMaxChars characters, cleaned for display.
std::u16string MakeEchoText(std::u16string_view command);

// What one append changed, so a widget can mirror the store without rebuilding everything:
// `removedFront` lines left the front of the store; the first `unchangedPrefix` lines of the
// store are the old lines that followed them, untouched; every line from there on is new or
// changed.
struct AppendChange {
    std::size_t removedFront = 0;
    std::size_t unchangedPrefix = 0;
};

// The console's line store. Every finished line ends with CR LF; the last line is the current
// (unfinished) one. Lines wrap at the line width counted in display columns, and the store
// never holds more than the row limit of lines (the oldest go first).
class LineStore {
public:
    // Prepares the store for lines of `columns` display columns and at most `rows` lines.
    // Values below 1 count as 1.
    void SetUp(int columns, int rows);
    bool IsSetUp() const { return m_setUp; }

    // Appends at most maxUnits UTF-16 units of text, stopping early at a zero unit. LF
    // finishes the line. Does nothing before SetUp.
    AppendChange Append(std::u16string_view text, std::size_t maxUnits = SIZE_MAX);

    // One empty line, column and line index 0.
    void Clear();

    const std::deque<std::u16string>& Lines() const { return m_lines; }
    // Display columns used in the current line.
    int Column() const { return m_column; }
    // Index of the current (last) line.
    int LineIndex() const { return m_lineIndex; }
    int LineWidth() const { return m_lineWidth; }
    int RowLimit() const { return m_rowLimit; }

    // All lines joined: the text the output control shows.
    std::u16string Text() const;

private:
    void FinishLine(AppendChange& change);

    bool m_setUp = false;
    std::deque<std::u16string> m_lines{std::u16string()};
    int m_column = 0;
    int m_lineIndex = 0;
    int m_lineWidth = kLineColumns;
    int m_rowLimit = kDefaultRows;
};

// The console's view of the engine's receive buffer: one writer (the port's receive thread)
// and the console as one of its readers.
class IReceiveSource {
public:
    virtual ~IReceiveSource() = default;
    // Bytes written to the receive buffer minus bytes the console has read, taken under the
    // buffer's lock.
    virtual uint64_t ConsoleBacklog() = 0;
    // The byte at the console's read position; advances that position (modulo the buffer's
    // capacity) and the console's read total by one. Only called while backlog remains.
    virtual uint8_t TakeConsoleByte() = 0;
};

// The console reader of a receive ring with Pending(reader) and Take(reader) and a
// kConsoleReader constant (the engine's clRingBuffer).
template <typename Ring>
class RingSource : public IReceiveSource {
public:
    explicit RingSource(Ring& ring) : m_ring(ring) {}
    uint64_t ConsoleBacklog() override { return m_ring.Pending(Ring::kConsoleReader); }
    uint8_t TakeConsoleByte() override { return m_ring.Take(Ring::kConsoleReader); }

private:
    Ring& m_ring;
};

using Clock = std::function<std::chrono::steady_clock::time_point()>;

struct FlushLimits {
    std::size_t maxChars = 500;
    std::chrono::steady_clock::duration maxTime = std::chrono::milliseconds(400);
};

struct FlushBatch {
    std::u16string text;      // collected bytes, one character per byte, cleaned for display
    uint64_t backlogLeft = 0; // bytes still waiting for a later flush
};

// Collects the bytes of one console flush: at most limits.maxChars characters, stopping when
// limits.maxTime has passed since the start or the backlog is used up. `clock` defaults to
// the steady clock.
FlushBatch CollectFlush(IReceiveSource& source, const Clock& clock = {},
                        const FlushLimits& limits = {});

// The console form's movable controls, in pixels of the form's client area.
struct FormLayout {
    DlgRect output;
    DlgRect input;
    DlgRect send;
    DlgRect check;
};

// Where the controls go when the form becomes cx x cy pixels, worked out from their initial
// rectangles: the output keeps its top-left corner and grows down to the input row (never
// wider than at first), the input row and the check box follow below it. The Clear button
// never moves.
FormLayout ResizeForm(const FormLayout& initial, int cx, int cy);

} // namespace console
