#include "tools/camsim/CameraSim.h"

#include "platform/Text.h"

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

} // namespace

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
        return {u"OK"}; // an action: done
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
