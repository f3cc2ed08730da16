#include "app/Verify.h"

#include "camdef/CamPropertyMgr.h"
#include "camdef/NumberText.h"
#include "platform/Text.h"

#include <algorithm>
#include <charconv>

namespace {

std::string Utf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

bool IsTokenDelimiter(char16_t c) {
    return c == u' ' || c == u',';
}

std::vector<std::string> Values(std::u16string_view rest) {
    std::vector<std::string> out;
    std::string current;
    for (char c : Utf8(rest)) {
        if (c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n') {
            if (!current.empty())
                out.push_back(std::move(current));
            current.clear();
        } else
            current.push_back(c);
    }
    if (!current.empty())
        out.push_back(current);
    return out;
}

// A whole text read as a number; a leading '+' is taken as cameras write it.
bool WholeNumber(std::string_view text, double& value) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '+' && text[1] != '-')
        text.remove_prefix(1);
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

// Equal as numbers when both are numbers, else as texts.
bool SameValue(const std::string& a, const std::string& b) {
    double x = 0, y = 0;
    if (WholeNumber(a, x) && WholeNumber(b, y))
        return x == y;
    return a == b;
}

// Whether a slot's sent and received texts hold the same value for the property's type.
bool SameSlotValue(const clCamProperty* p, std::u16string_view sent, std::u16string_view received) {
    switch (p->type) {
    case CamPropertyType::Integer:
    case CamPropertyType::Selection:
        return camdef::ParseIntegerText(sent) == camdef::ParseIntegerText(received);
    case CamPropertyType::Bool: {
        const int64_t on = static_cast<const clCamPropertyBool*>(p)->onValue;
        return (camdef::ParseIntegerText(sent) == on) == (camdef::ParseIntegerText(received) == on);
    }
    case CamPropertyType::Float:
        return SameValue(Utf8(sent), Utf8(received));
    default:
        return sent == received;
    }
}

} // namespace

std::u16string_view ReplyText(std::u16string_view line) {
    return !line.empty() && line.front() == u'>' ? line.substr(1) : line;
}

void SplitCommandWord(const clCamPropertyMgr* m, std::u16string_view text, std::u16string& word,
                      std::u16string& rest) {
    clCamPropertyMgr::SplitReplyLine(text, 2, word, rest);
    const bool known = m && m->FindCommand(word);
    std::u16string word1, rest1;
    clCamPropertyMgr::SplitReplyLine(text, 1, word1, rest1);
    if (!known && ((m && m->FindCommand(word1)) || (!m && rest.empty() && !rest1.empty()))) {
        word = word1;
        rest = rest1;
    }
}

std::vector<std::optional<std::u16string>>
SlotTexts(const clCamPropertyMgr& m, const clCamCommand& c, std::u16string_view rest) {
    std::vector<std::optional<std::u16string>> out(c.slots.size());
    if (c.style == kMessageStyleCommandOnly)
        return out;
    const size_t count =
        c.style == kMessageStyleNoSeparate ? std::min<size_t>(1, c.slots.size()) : c.slots.size();
    size_t pos = 0;
    for (size_t k = 0; k < count; ++k) {
        const clCamProperty* p = m.FindProperty(c.slots[k]);
        if (!p)
            break; // the composition ends at a slot without a property
        if (p->type == CamPropertyType::String && k + 1 == count) {
            // The last value may hold spaces and commas of its own: the rest of the text.
            if (k > 0)
                while (pos < rest.size() && IsTokenDelimiter(rest[pos]))
                    ++pos;
            out[k] = std::u16string(rest.substr(std::min(pos, rest.size())));
            break;
        }
        while (pos < rest.size() && IsTokenDelimiter(rest[pos]))
            ++pos;
        if (pos >= rest.size())
            break;
        const size_t start = pos;
        while (pos < rest.size() && !IsTokenDelimiter(rest[pos]))
            ++pos;
        out[k] = std::u16string(rest.substr(start, pos - start));
        if (pos < rest.size())
            ++pos;
    }
    return out;
}

bool VerifyCommandReply(const clCamPropertyMgr* m, std::u16string_view command,
                        const std::vector<std::u16string>& replyLines,
                        std::vector<VerifyMismatch>& out) {
    std::u16string word, rest;
    SplitCommandWord(m, command, word, rest);
    if (Values(rest).empty())
        return false;
    const std::u16string* reply = nullptr;
    std::u16string replyWord, replyRest;
    for (const std::u16string& line : replyLines) {
        SplitCommandWord(m, ReplyText(line), replyWord, replyRest);
        if (replyWord == word) {
            reply = &line;
            break;
        }
    }
    if (!reply) {
        out.push_back({Utf8(word), Utf8(rest), "(no reply line)"});
        return true;
    }
    const clCamCommand* c = m ? m->FindCommand(word) : nullptr;
    if (c && !c->slots.empty() && c->style != kMessageStyleCommandOnly) {
        // By property: every slot, read as its type reads.
        const auto sent = SlotTexts(*m, *c, rest);
        const auto received = SlotTexts(*m, *c, replyRest);
        for (size_t i = 0; i < c->slots.size(); ++i) {
            const clCamProperty* p = m->FindProperty(c->slots[i]);
            if (!p || p->type == CamPropertyType::Execution || (!sent[i] && !received[i]))
                continue;
            const std::u16string a = sent[i].value_or(u"");
            const std::u16string b = received[i].value_or(u"");
            if (!sent[i] || !received[i] || !SameSlotValue(p, a, b))
                out.push_back({Utf8(c->slots[i]), sent[i] ? Utf8(a) : "(none)",
                               received[i] ? Utf8(b) : "(none)"});
        }
        return true;
    }
    const std::vector<std::string> sent = Values(rest);
    const std::vector<std::string> received = Values(replyRest);
    for (size_t i = 0; i < std::max(sent.size(), received.size()); ++i) {
        const std::string a = i < sent.size() ? sent[i] : "(none)";
        const std::string b = i < received.size() ? received[i] : "(none)";
        if (!SameValue(a, b))
            out.push_back({Utf8(word) + " value " + std::to_string(i + 1), a, b});
    }
    return true;
}
