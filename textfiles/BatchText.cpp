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

void SplitBatchLines(std::u16string_view text, std::vector<std::u16string>& lines) {
    ForEachPiece(text, [&](std::u16string_view piece, size_t) {
        // A piece is a C string: a NUL ends it.
        const size_t nul = piece.find(u'\0');
        if (nul != std::u16string_view::npos)
            piece = piece.substr(0, nul);
        if (IsKeptPiece(piece))
            lines.emplace_back(piece);
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

BatchStep ParseBatchLine(std::u16string_view line) {
    BatchStep step;
    size_t start = 0;
    while (start < line.size() && line[start] == u'\t')
        ++start;
    size_t end = start;
    while (end < line.size() && line[end] != u'\t' && line[end] != u'\n')
        ++end;
    const std::u16string_view token = line.substr(start, end - start);
    if (token.empty())
        return step;
    constexpr std::u16string_view kPause = u"@pause";
    if (token.substr(0, kPause.size()) == kPause) {
        step.kind = BatchStep::kPause;
        // The character after the six letters is skipped; the rest is a decimal number.
        std::u16string_view rest =
            token.size() > kPause.size() ? token.substr(kPause.size() + 1) : std::u16string_view{};
        size_t i = 0;
        while (i < rest.size() && (rest[i] == u' ' || (rest[i] >= 0x09 && rest[i] <= 0x0D)))
            ++i;
        bool negative = false;
        if (i < rest.size() && (rest[i] == u'+' || rest[i] == u'-'))
            negative = rest[i++] == u'-';
        int64_t ms = 0;
        for (; i < rest.size() && rest[i] >= u'0' && rest[i] <= u'9'; ++i)
            ms = std::min<int64_t>(ms * 10 + (rest[i] - u'0'), INT_MAX);
        // A negative pause waits nothing (not an endless wait).
        step.pauseMs = negative ? 0 : ms;
        return step;
    }
    step.kind = BatchStep::kCommand;
    step.command.assign(token);
    return step;
}

int64_t BatchTimeLeftMs(const BatchProgress& p) {
    if (p.commandsLeft == 0)
        return p.pauseMsLeft;
    if (p.commandsDone == 0)
        return -1;
    const double each = static_cast<double>(p.commandMs) / static_cast<double>(p.commandsDone);
    return static_cast<int64_t>(each * static_cast<double>(p.commandsLeft) + 0.5) + p.pauseMsLeft;
}

std::u16string BatchDurationText(int64_t ms) {
    if (ms < 0)
        return u"--:--";
    const int64_t seconds = (ms + 999) / 1000;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return platform::Utf8ToUtf16(text);
}

namespace {

std::u16string Count(size_t n) {
    return platform::Utf8ToUtf16(std::to_string(n));
}

} // namespace

std::u16string BatchProgressText(const BatchProgress& p) {
    return FormatMsg(MSG_BATCH_PROGRESS, {Count(p.done), Count(p.total), Count(p.current), p.text,
                                          BatchDurationText(BatchTimeLeftMs(p))});
}

std::u16string BatchOutcomeText(const BatchProgress& p) {
    switch (p.outcome) {
    case BatchProgress::kAllSent:
        return FormatMsg(MSG_BATCH_ALL_SENT, {Count(p.done)});
    case BatchProgress::kFailed:
        return FormatMsg(MSG_BATCH_STOPPED_FAILED, {Count(p.current), p.text});
    case BatchProgress::kCancelled:
        return FormatMsg(MSG_BATCH_STOPPED_CANCEL, {Count(p.current), p.text});
    default:
        return {};
    }
}

namespace {

BatchStep StepOf(const std::u16string& line) {
    return ParseBatchLine(std::u16string_view(line).substr(0, kBatchLineChars));
}

// The text a progress report shows for a step.
std::u16string ShownText(const BatchStep& step) {
    if (step.kind != BatchStep::kPause)
        return step.command;
    const std::string ms = std::to_string(step.pauseMs);
    return u"@pause " + std::u16string(ms.begin(), ms.end());
}

} // namespace

bool RunBatchJob(clCommunicateModel& engine, const BatchProgressHook& hook) {
    using Clock = std::chrono::steady_clock;
    bool stopFlag = false;
    engine.JobStartFrame();
    std::vector<std::u16string>& lines = engine.Mailbox().m_jobParam.batchLines;
    BatchProgress progress;
    if (hook) {
        for (const std::u16string& line : lines) {
            const BatchStep step = StepOf(line);
            if (step.kind == BatchStep::kNothing)
                continue;
            ++progress.total;
            if (step.kind == BatchStep::kPause)
                progress.pauseMsLeft += step.pauseMs;
            else
                ++progress.commandsLeft;
        }
    }
    BatchProgress::Outcome outcome = BatchProgress::kAllSent;
    size_t next = 0;
    for (;;) {
        if (const clCommunicateModel::Interruption seen = engine.CheckStopOrCancel(stopFlag)) {
            outcome = seen == clCommunicateModel::kStopSeen ? BatchProgress::kStopped
                                                            : BatchProgress::kCancelled;
            if (hook) {
                // Cancelled between lines: the report names the line that was not run.
                size_t at = next;
                while (at < lines.size() && StepOf(lines[at]).kind == BatchStep::kNothing)
                    ++at;
                if (at < lines.size()) {
                    ++progress.current;
                    progress.text = ShownText(StepOf(lines[at]));
                } else {
                    outcome = BatchProgress::kAllSent;
                }
            }
            break;
        }
        if (next >= lines.size())
            break;
        const std::u16string line = lines[next].substr(0, kBatchLineChars);
        ++next;
        const BatchStep step = ParseBatchLine(line);
        if (step.kind == BatchStep::kNothing)
            continue;
        const auto started = Clock::now();
        if (hook) {
            ++progress.current;
            progress.text = ShownText(step);
            hook(progress);
        }
        if (step.kind == BatchStep::kPause) {
            progress.pauseMsLeft -= step.pauseMs;
            // Only shutdown ends a pause early.
            if (engine.PauseOrStop(step.pauseMs, stopFlag)) {
                outcome = BatchProgress::kStopped;
                break;
            }
            ++progress.done;
            continue;
        }
        const int32_t result = engine.CommandStep(stopFlag, step.command);
        if (stopFlag) {
            outcome = BatchProgress::kStopped;
            break;
        }
        if (result != TRANSACTION_OK) {
            outcome = result == TRANSACTION_CANCELLED ? BatchProgress::kCancelled
                                                      : BatchProgress::kFailed;
            break;
        }
        engine.ConsolePause();
        const bool stopped = engine.CommandGapPause(stopFlag);
        ++progress.done;
        ++progress.commandsDone;
        --progress.commandsLeft;
        progress.commandMs +=
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
        if (stopped) {
            outcome = BatchProgress::kStopped;
            break;
        }
    }
    // What was not taken stays for the record; the next Text Load replaces it.
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(next));
    if (hook) {
        progress.outcome = outcome;
        hook(progress);
    }
    engine.JobEndFrame();
    return stopFlag;
}

void InstallBatchJob(clCommunicateModel& engine, BatchProgressHook progress) {
    engine.SetBatchJobRunner([progress = std::move(progress)](clCommunicateModel& e) {
        return RunBatchJob(e, progress);
    });
}
