#include "tools/camsim/CameraSim.h"

#include "platform/Text.h"

#include <algorithm>
#include <cstdio>

namespace {

std::u16string Trim(std::u16string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'\t' || s[b] == u'\r' || s[b] == u'\n'))
        ++b;
    while (e > b &&
           (s[e - 1] == u' ' || s[e - 1] == u'\t' || s[e - 1] == u'\r' || s[e - 1] == u'\n'))
        --e;
    return std::u16string(s.substr(b, e - b));
}

// A template's escapes as the reply parser reads them.
std::u16string Unescape(std::u16string_view t) {
    std::u16string out;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == u'\\' && i + 1 < t.size()) {
            const char16_t c = t[++i];
            out.push_back(c == u'r' ? u'\r' : c == u'n' ? u'\n' : c == u't' ? u'\t' : c);
        } else {
            out.push_back(t[i]);
        }
    }
    return out;
}

} // namespace

bool clCameraSim::InformationLine(std::u16string_view command, std::u16string& line) {
    for (const auto& info : m_mgr.InformationList()) {
        std::u16string_view key = info->keyword;
        if (!key.empty() && key.back() == u'=')
            key.remove_suffix(1);
        if (key.empty() || !platform::EqualsIgnoreAsciiCase(key, command))
            continue;
        // Each conversion of the template takes the next property's current value.
        const std::u16string format = Unescape(info->templateText);
        line = info->keyword;
        size_t next = 0;
        for (size_t i = 0; i < format.size(); ++i) {
            if (format[i] != u'%' || i + 1 >= format.size()) {
                line.push_back(format[i]);
                continue;
            }
            size_t j = i + 1;
            while (j < format.size() && format[j] >= u'0' && format[j] <= u'9')
                ++j;
            if (j >= format.size() ||
                (format[j] != u'd' && format[j] != u'f' && format[j] != u's')) {
                line.push_back(format[i]);
                continue;
            }
            const std::u16string name =
                next < info->propertyNames.size() ? info->propertyNames[next] : std::u16string();
            ++next;
            std::string value;
            CamPropertyType type;
            if (std::find(unreadable.begin(), unreadable.end(), name) != unreadable.end()) {
                line += u"n/a";
            } else if (auto* s = PropertyAs<clCamPropertyString>(m_mgr.FindProperty(name))) {
                line += s->value.empty() ? identity.version : s->value;
            } else if (format[j] == u'f') {
                double v = 0;
                m_mgr.GetValueAsFloat(name, v, type);
                for (const auto& [drifting, step] : drifts)
                    if (drifting == name)
                        if (auto* f = PropertyAs<clCamPropertyFloat>(m_mgr.FindProperty(name)))
                            m_mgr.SetFloatValue(f, v += step);
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.1f", v);
                value = buf;
            } else {
                int64_t v = 0;
                m_mgr.GetValueAsInteger(name, v, type);
                value = std::to_string(v);
            }
            line += platform::Utf8ToUtf16(value);
            i = j;
        }
        while (!line.empty() && (line.back() == u'\r' || line.back() == u'\n'))
            line.pop_back(); // the line end is the framing's
        return true;
    }
    return false;
}

int clCameraSim::Load(const std::string& definitionPath, const std::string& schemaFolder) {
    std::string folder = schemaFolder;
    if (folder.empty()) {
        const size_t slash = definitionPath.rfind('/');
        folder = slash == std::string::npos ? "." : definitionPath.substr(0, slash);
    }
    m_mgr.SetSchemaPathFormat(platform::Utf8ToUtf16(folder + "/OrvaCamSchema_v%d_%d.xsd"));
    return m_mgr.Load(platform::Utf8ToUtf16(definitionPath));
}

std::vector<std::u16string> clCameraSim::ReplyLines(std::u16string_view commandText) {
    const std::u16string command = Trim(commandText);
    if (command == u"sta")
        return {u"OK", u"Model=" + identity.model, u"Ver.=" + identity.version,
                u"Serial=" + identity.serial};
    std::u16string word, rest;
    clCamPropertyMgr::SplitReplyLine(command, 2, word, rest);
    const clCamCommand* c = m_mgr.FindCommand(word);
    if (!c) {
        clCamPropertyMgr::SplitReplyLine(command, 1, word, rest);
        c = m_mgr.FindCommand(word);
    }
    if (!c || command.empty())
        return {u"CMD ERR!"};
    const bool takesValues = c->style != kMessageStyleCommandOnly && !c->slots.empty();
    if (!takesValues) {
        if (!Trim(rest).empty())
            return {u"CMD ERR!"};
        std::u16string reading;
        if (InformationLine(word, reading))
            return {u"OK", reading}; // a query of what the camera measures
        return {u"OK"};              // an action: done
    }
    if (!Trim(rest).empty()) {
        m_mgr.ApplyCommandReply(c, rest);
        for (const auto& [name, ceiling] : ceilings) {
            auto* p = PropertyAs<clCamPropertyInteger>(m_mgr.FindProperty(name));
            if (p && p->value > ceiling)
                m_mgr.SetIntegerValue(p, ceiling);
        }
    }
    // Written or asked for: the current values in the command's own style.
    std::u16string text;
    m_mgr.ComposeCommand(c, text);
    return {u"OK", text};
}

std::string clCameraSim::Answer(const std::string& commandLine) {
    std::string out;
    if (echo)
        out += commandLine + "\r\n";
    for (const std::u16string& line : ReplyLines(platform::LocaleToUtf16(commandLine))) {
        out.push_back('>');
        out += platform::Utf16ToLocale(line);
        out += "\r\n";
    }
    out.push_back('\x04');
    return out;
}
