#include "camdef/MultiLangString.h"

void clMultiLangString::Set(std::u16string_view lang, std::u16string_view text) {
    auto it = m_texts.find(lang);
    if (it != m_texts.end())
        it->second.assign(text);
    else
        m_texts.emplace(std::u16string(lang), std::u16string(text));
}

const std::u16string* clMultiLangString::Find(std::u16string_view lang) const {
    auto it = m_texts.find(lang);
    return it == m_texts.end() ? nullptr : &it->second;
}

bool clMultiLangString::Get(std::u16string_view lang, std::u16string& text) const {
    const std::u16string* found = Find(lang);
    if (!found)
        return false;
    text = *found;
    return true;
}

std::u16string clMultiLangString::Display(std::u16string_view uiLang) const {
    const std::u16string* text = Find(uiLang);
    if (text && !text->empty())
        return *text;
    text = Find(u"en");
    return text ? *text : std::u16string();
}
