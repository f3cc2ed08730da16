#include "camdef/MultiLangString.h"

#include <algorithm>

void clMultiLangString::Set(std::u16string_view lang, std::u16string text) {
    for (uint8_t i = 0; i < m_count; ++i) {
        if (m_first[i].first == lang) {
            m_first[i].second = std::move(text);
            return;
        }
    }
    for (Entry& e : m_more) {
        if (e.first == lang) {
            e.second = std::move(text);
            return;
        }
    }
    if (m_count < m_first.size()) {
        m_first[m_count].first.assign(lang);
        m_first[m_count].second = std::move(text);
        ++m_count;
    } else {
        m_more.emplace_back(std::u16string(lang), std::move(text));
    }
}

const std::u16string* clMultiLangString::Find(std::u16string_view lang) const {
    for (uint8_t i = 0; i < m_count; ++i)
        if (m_first[i].first == lang)
            return &m_first[i].second;
    for (const Entry& e : m_more)
        if (e.first == lang)
            return &e.second;
    return nullptr;
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

void clMultiLangString::Clear() {
    for (Entry& e : m_first)
        e = Entry();
    m_count = 0;
    m_more.clear();
}

std::vector<clMultiLangString::Entry> clMultiLangString::Texts() const {
    std::vector<Entry> all(m_first.begin(), m_first.begin() + m_count);
    all.insert(all.end(), m_more.begin(), m_more.end());
    return all;
}

bool clMultiLangString::operator==(const clMultiLangString& other) const {
    if (Size() != other.Size())
        return false;
    for (const Entry& e : Texts()) {
        const std::u16string* t = other.Find(e.first);
        if (!t || *t != e.second)
            return false;
    }
    return true;
}
