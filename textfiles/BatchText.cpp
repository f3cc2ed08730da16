#include "textfiles/BatchText.h"

#include "base/MessageTable.h"
#include "comm/CommandCheck.h"
#include "comm/CommunicateModel.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Shift-JIS side of the guess.
class ShiftJisChecker {
public:
    bool possible = true;
    int64_t score = 0;

    void Take(uint8_t b) {
        if (!possible)
            return;
        if (m_inPair) {
            m_inPair = false;
            if ((b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC)) {
                if ((m_kanaLead && b <= 0xF1) || m_kanjiLead)
                    score += 2;
            } else {
                Fail();
            }
            return;
        }
        if (b == 0x09 || b == 0x0A || b == 0x0D || (b >= 0x20 && b <= 0x7E)) {
            ++score;
        } else if (b < 0x20 || b == 0x7F || (b >= 0xA1 && b <= 0xDF)) {
            // control characters and half-width kana count for nothing
        } else if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
            m_inPair = true;
            m_kanaLead = b == 0x82 || b == 0x83;
            m_kanjiLead =
                (b >= 0x88 && b <= 0x9F) || (b >= 0xE0 && b <= 0xE3) || b == 0xE6 || b == 0xE7;
        } else {
            Fail(); // 0x80, 0xA0, 0xFD-0xFF
        }
    }
    void End() {
        if (m_inPair)
            possible = false;
    }

private:
    void Fail() {
        possible = false;
        score = 0;
    }
    bool m_inPair = false;
    bool m_kanaLead = false;
    bool m_kanjiLead = false;
};

// UTF-8 side of the guess.
class Utf8Checker {
public:
    bool possible = true;
    int64_t score = 0;

    void Take(uint8_t b) {
        if (!possible)
            return;
        if (m_pending > 0) {
            if (b < 0x80 || b > 0xBF) {
                Fail();
                return;
            }
            if (--m_pending == 0 && m_japaneseLead)
                score += 3;
            return;
        }
        if (b == 0x09 || b == 0x0A || b == 0x0D || (b >= 0x20 && b <= 0x7E)) {
            ++score;
        } else if (b <= 0x7F) {
            // other ASCII control characters count for nothing
        } else if (b >= 0xC2 && b <= 0xDF) {
            Open(1, false);
        } else if (b >= 0xE0 && b <= 0xEF) {
            Open(2, b >= 0xE3 && b <= 0xE9);
        } else if (b >= 0xF0 && b <= 0xF3) {
            Open(3, false);
        } else {
            Fail(); // 0x80-0xC1, 0xF4-0xFF
        }
    }
    void End() {
        if (m_pending > 0)
            possible = false;
    }

private:
    void Open(int more, bool japanese) {
        m_pending = more;
        m_japaneseLead = japanese;
    }
    void Fail() {
        possible = false;
        score = 0;
    }
    int m_pending = 0;
    bool m_japaneseLead = false;
};

// Reads the whole file (at most limit bytes). False, with the reason, when it cannot be opened
// or read, is no regular file, or is larger than limit. The file is opened without waiting (a
// FIFO without writer would block the opening thread) and its type checked before any read.
bool ReadWholeFile(const std::string& path, uint64_t limit, std::string& bytes,
                   std::string& reason) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool ok = false;
    if (fstat(fd, &st) != 0)
        reason = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        reason = "not a regular file";
    else if (static_cast<uint64_t>(st.st_size) > limit)
        reason = "larger than " + std::to_string(limit) + " bytes";
    else
        ok = true;
    if (ok) {
        bytes.clear();
        bytes.reserve(static_cast<size_t>(st.st_size));
        char buf[65536];
        for (;;) {
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                reason = std::strerror(errno);
                ok = false;
                break;
            }
            if (n == 0)
                break;
            if (bytes.size() + static_cast<size_t>(n) > limit) {
                reason = "grew beyond " + std::to_string(limit) + " bytes while being read";
                ok = false;
                break;
            }
            bytes.append(buf, static_cast<size_t>(n));
        }
    }
    close(fd);
    return ok;
}

// Recognises UTF-16 without byte-order mark: text of mostly ASCII characters has one zero byte
// in every character, always on the same side, and text in a byte encoding has none.
int Utf16ByZeroPattern(const uint8_t* b, size_t n) {
    const size_t pairs = n / 2;
    size_t oddZero = 0, evenZero = 0, bothZero = 0;
    for (size_t k = 0; k < pairs; ++k) {
        const bool even = b[2 * k] == 0, odd = b[2 * k + 1] == 0;
        if (even && odd)
            ++bothZero;
        else if (odd)
            ++oddZero;
        else if (even)
            ++evenZero;
    }
    if (pairs == 0 || bothZero * 4 > pairs) // many NUL characters: UTF-32 or binary
        return -1;
    if (oddZero * 4 >= pairs && evenZero * 4 < oddZero)
        return kTextUtf16Le;
    if (evenZero * 4 >= pairs && oddZero * 4 < evenZero)
        return kTextUtf16Be;
    return -1;
}

} // namespace

const char* TextEncodingName(int encoding) {
    switch (encoding) {
    case kTextUtf16Le:
        return "UTF-16LE";
    case kTextUtf8Marked:
        return "UTF-8 (with mark)";
    case kTextUtf32Le:
        return "UTF-32LE";
    case kTextUtf8:
        return "UTF-8";
    case kTextShiftJis:
        return "Shift-JIS";
    case kTextUtf16Be:
        return "UTF-16BE";
    case kTextUtf32Be:
        return "UTF-32BE";
    default:
        return "the locale codeset";
    }
}

bool ReadBatchFileBytes(const std::string& path, std::string& bytes, std::string& reason) {
    return ReadWholeFile(path, kMaxBatchFileBytes, bytes, reason);
}

namespace {

bool HasPrefix(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

} // namespace

int DetectTextEncodingOf(const uint8_t* bytes, size_t n, bool wholeFile) {
    if (n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        return kTextUtf8Marked;
    if (n >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        if (n >= 4)
            return bytes[2] == 0 && bytes[3] == 0 ? kTextUtf32Le : kTextUtf16Le;
        return kTextUtf16Le;
    }
    if (n >= 4 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0xFE && bytes[3] == 0xFF)
        return kTextUtf32Be;
    if (n >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        return kTextUtf16Be;
    if (const int wide = Utf16ByZeroPattern(bytes, n); wide >= 0)
        return wide;
    ShiftJisChecker sjis;
    Utf8Checker utf8;
    for (size_t i = 0; i < n && (sjis.possible || utf8.possible); ++i) {
        sjis.Take(bytes[i]);
        utf8.Take(bytes[i]);
    }
    if (wholeFile) {
        sjis.End();
        utf8.End();
    }
    if (!sjis.possible && !utf8.possible)
        return kTextUnknown;
    // A checker that ruled its encoding out never wins over one that did not: text of nothing
    // but half-width kana scores 0 as Shift-JIS and cannot be UTF-8 at all, and "→→→" scores
    // as Shift-JIS until its last byte leaves a pair open.
    if (!utf8.possible)
        return kTextShiftJis;
    if (!sjis.possible)
        return kTextUtf8;
    return utf8.score >= sjis.score ? kTextUtf8 : kTextShiftJis;
}

int DetectTextEncodingOfFile(std::string_view bytes) {
    if (bytes.empty())
        return kTextUnknown;
    return DetectTextEncodingOf(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), true);
}

int DetectTextEncoding(const std::string& path) {
    std::string bytes, reason;
    if (!ReadBatchFileBytes(path, bytes, reason))
        return kTextUnknown;
    return DetectTextEncodingOfFile(bytes);
}

std::u16string DecodeBatchText(std::string_view bytes, int encoding, bool* clean) {
    // Each encoding with its byte-order mark (skipped when present) and its codeset.
    struct Reading {
        std::string_view mark;
        const char* codeset;
    };
    Reading reading{{}, nullptr};
    switch (encoding) {
    case kTextUtf16Le:
        reading = {std::string_view("\xFF\xFE", 2), "UTF-16LE"};
        break;
    case kTextUtf16Be:
        reading = {std::string_view("\xFE\xFF", 2), "UTF-16BE"};
        break;
    case kTextUtf32Le:
        reading = {std::string_view("\xFF\xFE\0\0", 4), "UTF-32LE"};
        break;
    case kTextUtf32Be:
        reading = {std::string_view("\0\0\xFE\xFF", 4), "UTF-32BE"};
        break;
    case kTextUtf8Marked:
    case kTextUtf8:
        reading = {std::string_view("\xEF\xBB\xBF", 3), "UTF-8"};
        break;
    case kTextShiftJis:
        reading = {{}, "CP932"};
        break;
    default:
        break;
    }
    if (!reading.mark.empty() && HasPrefix(bytes, reading.mark))
        bytes.remove_prefix(reading.mark.size());
    const std::u16string text =
        reading.codeset ? platform::DecodeToUtf16(bytes, reading.codeset, clean)
                        : platform::DecodeToUtf16(bytes, platform::LocaleCodeset().c_str(), clean);
    // Text mode: CR LF becomes LF.
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue;
        out.push_back(text[i]);
    }
    return out;
}

namespace {

// Calls piece(text, line) for every piece of at most kBatchPieceChars characters that reading
// the text line by line gives: a piece ends after a line feed, a surrogate pair is not cut in
// two. line counts from 1.
template <typename F>
void ForEachPiece(std::u16string_view text, F piece) {
    size_t pos = 0;
    size_t line = 1;
    while (pos < text.size()) {
        size_t end = pos;
        while (end < text.size() && end - pos < kBatchPieceChars) {
            if (text[end++] == u'\n')
                break;
        }
        if (end - pos == kBatchPieceChars && text[end - 1] != u'\n' && end < text.size() &&
            text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF && end - pos > 1)
            --end;
        piece(text.substr(pos, end - pos), line);
        if (text[end - 1] == u'\n')
            ++line;
        pos = end;
    }
}

// A piece that is kept as a batch line: neither empty nor a comment.
bool IsKeptPiece(std::u16string_view piece) {
    return !piece.empty() && piece[0] != u'/' && piece[0] != u'\n';
}

} // namespace

void SplitBatchLines(std::u16string_view text, std::vector<std::u16string>& lines,
                     std::vector<size_t>* lineNumbers) {
    ForEachPiece(text, [&](std::u16string_view piece, size_t line) {
        // A piece is a C string: a NUL ends it.
        const size_t nul = piece.find(u'\0');
        if (nul != std::u16string_view::npos)
            piece = piece.substr(0, nul);
        if (!IsKeptPiece(piece))
            return;
        lines.emplace_back(piece);
        if (lineNumbers)
            lineNumbers->push_back(line);
    });
}

BatchTextFault CheckBatchText(std::u16string_view text, bool decodedCleanly, int encoding) {
    BatchTextFault fault;
    constexpr char16_t kReplacement = 0xFFFD;
    // Only kept lines count: a comment or an empty line is never sent, whatever it holds.
    ForEachPiece(text, [&](std::u16string_view piece, size_t line) {
        if (fault.line != 0 || !IsKeptPiece(piece))
            return;
        for (size_t i = 0; i < piece.size(); ++i) {
            const char16_t c = piece[i];
            if (c == u'\n' && i + 1 == piece.size())
                break; // the line end
            if (c == kReplacement && !decodedCleanly) {
                // A byte that did not decode became U+FFFD.
                fault.line = line;
                fault.reason = std::string("does not decode as ") + TextEncodingName(encoding);
                return;
            }
            if (c == kReplacement) {
                fault.line = line;
                fault.reason = "holds the replacement character U+FFFD";
                return;
            }
            if (IsCommandControlCharacter(c)) {
                // Counted in characters: a surrogate pair before it is one.
                CommandCheck check{CommandCheck::kControlCharacter, 1, c};
                for (size_t k = 0; k < i; ++k)
                    check.position += !(piece[k] >= 0xDC00 && piece[k] <= 0xDFFF && k > 0 &&
                                        piece[k - 1] >= 0xD800 && piece[k - 1] <= 0xDBFF);
                fault.line = line;
                fault.reason = platform::Utf16ToUtf8(CommandCheckText(check));
                return;
            }
        }
        // What goes out must be what the file says: the token in the locale codeset.
        const BatchStep step = ParseBatchLine(piece);
        if (step.kind != BatchStep::kCommand)
            return;
        CommandCheck check = CheckCommandText(step.command);
        if (!check.Fit()) {
            check.position += piece.find_first_not_of(u'\t'); // counted in the line
            fault.line = line;
            fault.reason = platform::Utf16ToUtf8(CommandCheckText(check));
        }
    });
    return fault;
}

BatchTextFault ReadCheckedBatchText(const std::string& path, std::u16string& text) {
    std::string bytes;
    BatchTextFault fault;
    if (!ReadBatchFileBytes(path, bytes, fault.reason))
        return fault;
    const int code = DetectTextEncodingOfFile(bytes);
    bool clean = true;
    text = DecodeBatchText(bytes, code, &clean);
    return CheckBatchText(text, clean, code);
}

ScriptBatch SplitScriptBatch(std::u16string_view text) {
    ScriptBatch batch;
    std::vector<size_t> lineNumbers;
    SplitBatchLines(text, batch.lines, &lineNumbers);
    for (size_t i = 0; i < batch.lines.size(); ++i) {
        const BatchStep step = ParseBatchLine(batch.lines[i].substr(0, kBatchLineChars));
        if (step.kind == BatchStep::kNothing)
            continue;
        batch.stepLines.push_back(lineNumbers[i]);
        batch.commands += step.kind == BatchStep::kCommand;
    }
    return batch;
}
