// The camera-to-host side of the TARN framing: cutting reply bytes into lines, keeping the
// reply lines, ending at EOT, and turning the result line into a reply code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The reply-code table; the reply code is the index. Compared with the result line without
// its leading '>', exactly and case-sensitively.
inline constexpr int kReplyCodeCount = 18;
extern const char16_t* const kReplyCodeTexts[kReplyCodeCount];
// The camera took the command (">OK", the table's first entry).
inline constexpr int kReplyCodeOk = 0;
// No result line, or one whose text is not in the table.
inline constexpr int kNoReplyCode = -1;

// The code of a result line (">OK" gives kReplyCodeOk), or kNoReplyCode when the line is
// shorter than two characters or its text is not in the table.
int ReplyCodeOf(std::u16string_view resultLine);
// The text shown for a reply code; "???" for kNoReplyCode or anything outside the table.
std::u16string_view ReplyCodeText(int code);

constexpr uint8_t kEot = 0x04;

// Collects one reply byte by byte. Every byte is one character (0-255); CR and LF each end a
// line; a NUL adds nothing. A finished line is a reply line when its first character is '>'
// and its second is not '('; all other lines are dropped.
class clReplyCollector {
public:
    // A camera line is short; a longer one is cut here so that a babbling device cannot make
    // the host grow without bound. The characters beyond are dropped.
    static constexpr size_t kMaxLineChars = 65536;

    enum class Result { kNothing, kLine, kEnd };

    // kLine: a reply line is ready (TakeLine). kEnd: the byte was EOT; the reply is complete
    // and a line not yet ended is dropped.
    Result Feed(uint8_t byte);
    std::u16string TakeLine() { return std::move(m_ready); }
    // Back to the start of a reply.
    void Clear();

private:
    std::u16string m_line;
    std::u16string m_ready;
    char16_t m_first = 0;
    char16_t m_second = 0;
};
