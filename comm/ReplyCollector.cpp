#include "comm/ReplyCollector.h"

const char16_t* const kReplyCodeTexts[kReplyCodeCount] = {
    u"OK",          u"CMD ERR!",     u"CMD OVR ERR!",  u"VAL ERR!",  u"MEM ERR!",     u"TRIG ERR!",
    u"TIMEOUT!",    u"RANGE ERR!",   u"ADJ ERR!",      u"CMD FAIL!", u"PROTECT ERR!", u"ADR ERR!",
    u"ACCESS ERR!", u"CAN NOT READ", u"CAN NOT WRITE", u"BUSY",      u"OPCODE ERR!",  u"CRC ERR!",
};

int ReplyCodeOf(std::u16string_view resultLine) {
    if (resultLine.size() < 2)
        return kNoReplyCode;
    std::u16string_view text = resultLine.substr(1);
    for (int i = 0; i < kReplyCodeCount; ++i)
        if (text == kReplyCodeTexts[i])
            return i;
    return kNoReplyCode;
}

std::u16string_view ReplyCodeText(int code) {
    if (code < 0 || code >= kReplyCodeCount)
        return u"???";
    return kReplyCodeTexts[code];
}

clReplyCollector::Result clReplyCollector::Feed(uint8_t byte) {
    if (byte == kEot) {
        Clear();
        return Result::kEnd;
    }
    if (byte == 0x0A || byte == 0x0D) {
        Result result = Result::kNothing;
        if (m_first == u'>' && m_second != u'(') {
            m_ready = std::move(m_line);
            result = Result::kLine;
        }
        m_line.clear();
        m_first = 0;
        m_second = 0;
        return result;
    }
    if (byte == 0)
        return Result::kNothing;
    if (m_line.size() < kMaxLineChars)
        m_line.push_back(static_cast<char16_t>(byte));
    if (m_first == 0)
        m_first = static_cast<char16_t>(byte);
    else if (m_second == 0)
        m_second = static_cast<char16_t>(byte);
    return Result::kNothing;
}

void clReplyCollector::Clear() {
    m_line.clear();
    m_ready.clear();
    m_first = 0;
    m_second = 0;
}
