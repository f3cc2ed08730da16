// The console's text logic without any window: the line store with its fixed-column wrap and
// row limit, the cleaning of received bytes and echoed commands for display, and the layout of
// the console form. No Qt here, so all of it is tested headless; CConsoleEdit only mirrors the
// store into its widget. What a flush takes from the receive ring is in ConsoleFeed.h.
#pragma once

#include "ui/DialogUnits.h"

#include <cstddef>
#include <cstdint>
#include <deque>
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
    // Lines finished since set-up, counting on across Clear and the row limit.
    uint64_t FinishedLines() const { return m_finished; }

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
    uint64_t m_finished = 0;
};

// The console form's movable controls, in pixels of the form's client area.
struct FormLayout {
    DlgRect output;
    DlgRect input;
    DlgRect send;
    DlgRect check;
};

// Where the controls go when the form becomes cx x cy pixels, worked out from their initial
// rectangles: the output keeps its top-left corner and fills the form to its right edge and
// down to the input row; the input row (the input growing, Send at its right) and the check box
// follow below it. The Clear button never moves.
FormLayout ResizeForm(const FormLayout& initial, int cx, int cy);

} // namespace console
