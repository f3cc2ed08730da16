// Command texts sent to the camera and the reading of its reply lines back into the values.
#include "camdef/CamPropertyMgr.h"
#include "camdef/NumberText.h"
#include "camdef/ReplyScan.h"

#include <charconv>
#include <limits>

namespace {

// Only this much of a reply line is looked at for a command echo.
constexpr size_t kReplyWindow = 256;
// Longest command word split off a number glued to it.
constexpr size_t kGluedWordMax = 20;

std::u16string Widen(const char* begin, const char* end) {
    return std::u16string(begin, end); // the digits, signs and letters of to_chars are ASCII
}

std::u16string DecimalText(int64_t value) {
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<int32_t>(value)); // low 32 bits
    return Widen(buf, r.ptr);
}

std::u16string FloatText(double value) {
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    return Widen(buf, r.ptr);
}

bool IsWordDelimiter(char16_t c) {
    return c == u' ' || c == u',' || c == u'\r';
}

bool IsTokenDelimiter(char16_t c) {
    return c == u' ' || c == u',';
}

bool StartsNumber(char16_t c) {
    return (c >= u'0' && c <= u'9') || c == u'+' || c == u'-';
}

// The template with every backslash + 'r' turned into a carriage return.
std::u16string ExpandTemplate(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t k = 0; k < text.size(); ++k) {
        if (text[k] == u'\\' && k + 1 < text.size() && text[k + 1] == u'r') {
            out.push_back(u'\r');
            ++k;
        } else {
            out.push_back(text[k]);
        }
    }
    return out;
}

} // namespace

int clCamPropertyMgr::GetValueText(std::u16string_view name, std::u16string& text) const {
    const clCamProperty* P = FindProperty(name);
    if (!P)
        return 1;
    switch (P->type) {
    case CamPropertyType::Integer: {
        int64_t v = 0;
        GetIntegerValue(static_cast<const clCamPropertyInteger*>(P), v);
        text = DecimalText(v);
        break;
    }
    case CamPropertyType::Bool: {
        auto* b = static_cast<const clCamPropertyBool*>(P);
        text = DecimalText(b->state ? b->onValue : b->offValue);
        break;
    }
    case CamPropertyType::Selection:
        text = DecimalText(static_cast<const clCamPropertySelection*>(P)->value);
        break;
    case CamPropertyType::String:
        text = static_cast<const clCamPropertyString*>(P)->value;
        break;
    case CamPropertyType::Float: {
        // A Float in a command slot sends its own value, never the value of another slot.
        double v = 0.0;
        GetFloatValue(static_cast<const clCamPropertyFloat*>(P), v);
        text = FloatText(v);
        break;
    }
    default:
        text.clear(); // an Execution has no value
        break;
    }
    return 0;
}

int clCamPropertyMgr::ComposeCommand(const clCamCommand* c, std::u16string& text) const {
    if (!c)
        return 1;
    text = c->name;
    if (c->style == kMessageStyleCommandOnly || c->slots.empty())
        return 0;
    std::u16string value;
    for (size_t k = 0; k < c->slots.size(); ++k) {
        if (GetValueText(c->slots[k], value) != 0)
            break; // a slot naming no property ends the text
        if (c->style == kMessageStyleSpaceAndComma) {
            text.push_back(k == 0 ? u' ' : u',');
            text += value;
            continue;
        }
        if (c->style == kMessageStyleNoSeparate)
            text += value; // only the first slot counts
        break;
    }
    return 0;
}

void clCamPropertyMgr::SplitReplyLine(std::u16string_view line, int mode, std::u16string& word,
                                      std::u16string& rest) {
    word.clear();
    rest.clear();
    line = line.substr(0, kReplyWindow);
    if (mode == 2) {
        size_t start = 0;
        while (start < line.size() && IsWordDelimiter(line[start]))
            ++start;
        size_t end = start;
        while (end < line.size() && !IsWordDelimiter(line[end]))
            ++end;
        word.assign(line.substr(start, end - start));
        if (end < line.size())
            rest.assign(line.substr(end + 1));
    } else if (mode == 1) {
        size_t end = 0;
        while (end < line.size() && end < kGluedWordMax && !StartsNumber(line[end]))
            ++end;
        if (end == 0)
            return;
        word.assign(line.substr(0, end));
        rest.assign(line.substr(end));
    }
}

int clCamPropertyMgr::ApplyCommandReply(const clCamCommand* c, std::u16string_view rest) {
    if (!c)
        return 1;
    const size_t count = std::min(c->style == kMessageStyleNoSeparate ? size_t{1} : c->slots.size(),
                                  c->slots.size());
    size_t pos = 0;
    bool ended = false;
    for (size_t k = 0; k < count; ++k) {
        clCamProperty* P = FindProperty(c->slots[k]);
        if (!P || P->type == CamPropertyType::String)
            continue; // nothing consumed
        if (ended)
            break;
        while (pos < rest.size() && IsTokenDelimiter(rest[pos]))
            ++pos;
        // The end of the text reads as one empty token; the slots after it stay as they are.
        ended = pos == rest.size();
        const size_t start = pos;
        while (pos < rest.size() && !IsTokenDelimiter(rest[pos]))
            ++pos;
        const std::u16string_view token = rest.substr(start, pos - start);
        if (pos < rest.size())
            ++pos; // the character that ends the token
        switch (P->type) {
        case CamPropertyType::Integer:
            SetIntegerValue(static_cast<clCamPropertyInteger*>(P), camdef::ParseIntegerText(token));
            break;
        case CamPropertyType::Bool: {
            auto* b = static_cast<clCamPropertyBool*>(P);
            SetBoolValue(b, camdef::ParseIntegerText(token) == b->onValue ? 1 : 0);
            break;
        }
        case CamPropertyType::Selection:
            SetSelectionValue(static_cast<clCamPropertySelection*>(P),
                              camdef::ParseIntegerText(token));
            break;
        default:
            break; // Float and Execution: the token is passed over
        }
    }
    return 0;
}

int clCamPropertyMgr::ApplyInformationReply(const clCamInformation* i,
                                            std::u16string_view payload) {
    if (!i)
        return 1;
    const std::u16string format = ExpandTemplate(i->templateText);
    clCamProperty* P = i->propertyNames.empty() ? nullptr : FindProperty(i->propertyNames[0]);
    constexpr size_t kUnbounded = std::numeric_limits<size_t>::max();
    camdef::ScanValue v;

    switch (i->style) {
    case kInformationStyleSingleInteger: {
        if (format.find(u"%d") == std::u16string::npos)
            return 1;
        if (camdef::ScanText(payload, format, kUnbounded, v) != 1 ||
            v.kind != camdef::ScanKind::Integer || !P)
            return 1;
        switch (P->type) {
        case CamPropertyType::Integer:
            SetIntegerValue(static_cast<clCamPropertyInteger*>(P), v.integer);
            return 0;
        case CamPropertyType::Bool: {
            auto* b = static_cast<clCamPropertyBool*>(P);
            SetBoolValue(b, v.integer == b->onValue ? 1 : 0);
            return 0;
        }
        case CamPropertyType::Float:
            SetFloatValue(static_cast<clCamPropertyFloat*>(P), v.integer);
            return 0;
        case CamPropertyType::Selection:
            SetSelectionValue(static_cast<clCamPropertySelection*>(P), v.integer);
            return 0;
        default:
            return 1;
        }
    }
    case kInformationStyleSingleFloat: {
        if (format.find(u"%f") == std::u16string::npos)
            return 1;
        auto* f = PropertyAs<clCamPropertyFloat>(P);
        if (camdef::ScanText(payload, format, kUnbounded, v) != 1 ||
            v.kind != camdef::ScanKind::Float || !f)
            return 1;
        SetFloatValue(f, v.number);
        return 0;
    }
    case kInformationStyleSingleString: {
        // The most characters taken: the width after the first '%' of the template; 100 when
        // it has none; the property's length when the width is 0 or less ("%s"). Whatever the
        // template's conversions say, no more than that is stored.
        const size_t percent = format.find(u'%');
        int64_t most =
            percent == std::u16string::npos
                ? 100
                : camdef::ParseIntegerText(std::u16string_view(format).substr(percent + 1));
        auto* s = PropertyAs<clCamPropertyString>(P);
        if (!s)
            return 1;
        if (most <= 0)
            most = s->length;
        if (camdef::ScanText(payload, format, most > 0 ? static_cast<size_t>(most) : 0, v) != 1 ||
            v.kind != camdef::ScanKind::String)
            return 1;
        SetStringValue(s, std::move(v.text));
        return 0;
    }
    default:
        return 1; // TwoIntegers and unknown styles read nothing
    }
}

bool clCamPropertyMgr::ParseReplyLine(std::u16string_view line, int& updated, bool* unreadValue) {
    // Information replies first: the line must start with the keyword's first character and
    // hold the keyword somewhere; the value is read from the text after its first occurrence.
    for (const auto& info : m_informationList) {
        const std::u16string& keyword = info->keyword;
        if (keyword.empty())
            continue; // would match every line, the empty one too
        const char16_t lineFirst = line.empty() ? u'\0' : line[0];
        const char16_t keywordFirst = keyword.empty() ? u'\0' : keyword[0];
        if (lineFirst != keywordFirst)
            continue;
        const size_t at = line.find(keyword);
        if (at == std::u16string_view::npos)
            continue;
        if (ApplyInformationReply(info.get(), line.substr(at + keyword.size())) == 0)
            updated = 1;
        else if (unreadValue)
            *unreadValue = true;
        return true;
    }

    // An echoed command: the word split off by delimiters, else the word glued to a number.
    std::u16string word, rest;
    SplitReplyLine(line, 2, word, rest);
    clCamCommand* c = FindCommand(word);
    if (!c) {
        SplitReplyLine(line, 1, word, rest);
        c = FindCommand(word);
        if (!c)
            return false;
    }
    if (c->style != kMessageStyleCommandOnly && !c->slots.empty()) {
        ApplyCommandReply(c, rest);
        updated = 1;
    }
    return true;
}
