// Batch text files: guessing a file's encoding, reading and checking it, and cutting its text
// into batch lines (the engine's batch job, comm/BatchJob.h, replays them).
//
// Batch file rules: a line whose first character is "/" is a comment, an empty line is skipped,
// every other line is kept in pieces of at most 499 characters. When the job runs a kept line,
// only its first token counts (leading TABs skipped, up to the next TAB or line feed). A token
// beginning with "@pause" waits: the character after the six letters is skipped and the rest is
// read as milliseconds. Every other token is sent as a command.
#pragma once

#include "comm/BatchJob.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Encoding codes of DetectTextEncoding.
enum TextEncoding : int {
    kTextUtf16Le = 0,    // byte-order mark FF FE, or no mark and zero bytes at odd offsets
    kTextUtf8Marked = 1, // byte-order mark EF BB BF
    kTextUtf32Le = 2,    // byte-order mark FF FE 00 00
    kTextUtf8 = 3,       // UTF-8 without mark (guessed)
    kTextShiftJis = 4,   // Shift-JIS (guessed), read as CP932
    kTextUnknown = 6,    // unknown, empty or unreadable: read in the locale codeset
    kTextUtf16Be = 7,    // byte-order mark FE FF, or no mark and zero bytes at even offsets
    kTextUtf32Be = 8,    // byte-order mark 00 00 FE FF
};
// The name of an encoding code for messages ("UTF-16LE", "Shift-JIS", ...).
const char* TextEncodingName(int encoding);

// Characters of one batch-line piece, and of a line the job takes.
constexpr size_t kBatchPieceChars = 499;
// Largest batch file read; a larger one counts as a file that cannot be opened.
constexpr uint64_t kMaxBatchFileBytes = 64ull << 20;

// The encoding of bytes. wholeFile: the bytes are the whole file, so a character cut at their
// end is an error rather than the border of a part. A checker that has ruled its encoding out
// never wins over one that has not, whatever the scores.
int DetectTextEncodingOf(const uint8_t* bytes, size_t count, bool wholeFile);
// The encoding of the file at path, judged on all of it (a file that is ASCII for its first
// kilobytes and Shift-JIS further on is Shift-JIS); kTextUnknown when it is empty, unreadable,
// no regular file (a FIFO or a device is never waited for) or larger than kMaxBatchFileBytes.
int DetectTextEncoding(const std::string& path);
// The encoding of the whole content of a file.
int DetectTextEncodingOfFile(std::string_view bytes);

// Reads the whole batch file. False, with the reason, when it cannot be opened or read, is no
// regular file (checked before any read, without waiting for a writer), or is larger than
// kMaxBatchFileBytes.
bool ReadBatchFileBytes(const std::string& path, std::string& bytes, std::string& reason);
// The text of file bytes read in the given encoding, as the C library's text mode gives it: a
// byte-order mark of the encoding skipped, CR LF turned into LF. clean, when given, is cleared
// when some bytes were not valid in the encoding (they became U+FFFD).
std::u16string DecodeBatchText(std::string_view bytes, int encoding, bool* clean = nullptr);
// Appends the kept pieces of text to lines (each with its line feed when it had one), and to
// lineNumbers, when given, the line of the text each came from (counted from 1).
void SplitBatchLines(std::u16string_view text, std::vector<std::u16string>& lines,
                     std::vector<size_t>* lineNumbers = nullptr);

// Why a decoded batch text must not be sent: the first kept line (counted from 1) that did not
// decode, or that holds U+FFFD or a control character other than TAB, or whose command the
// locale codeset cannot hold (CheckCommandText). Comment and empty lines are never sent and
// never count. line 0: the text is fit to be sent.
struct BatchTextFault {
    size_t line = 0;
    std::string reason;
};
BatchTextFault CheckBatchText(std::u16string_view text, bool decodedCleanly, int encoding);
// Reads the batch file at path whole, in the encoding its bytes show, and checks it: text gets
// the decoded text; the fault says why it must not be sent (its reason is empty when it may).
BatchTextFault ReadCheckedBatchText(const std::string& path, std::u16string& text);

// A batch file as a script's load replays it: its lines, the file's line of each step the batch
// runs (commands and pauses; blank and comment lines run nothing), and how many are commands.
struct ScriptBatch {
    std::vector<std::u16string> lines;
    std::vector<size_t> stepLines;
    size_t commands = 0;
    // The file's line of step (counted from 1), 0 outside the batch.
    size_t FileLine(size_t step) const {
        return step >= 1 && step <= stepLines.size() ? stepLines[step - 1] : 0;
    }
};
ScriptBatch SplitScriptBatch(std::u16string_view text);
