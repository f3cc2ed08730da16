// A text held in several languages, keyed by language code ("ja", "en").
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class clMultiLangString {
public:
    using Entry = std::pair<std::u16string, std::u16string>; // (language code, text)

    // Sets the text of one language, replacing an earlier text of that language.
    void Set(std::u16string_view lang, std::u16string text);
    // The text of exactly that language code (case-sensitive); nullptr when none is held.
    const std::u16string* Find(std::u16string_view lang) const;
    bool Get(std::u16string_view lang, std::u16string& text) const;
    // The usual way to show the text: the text of `uiLang`; when that is missing or empty the
    // English text; when that is missing too, empty.
    std::u16string Display(std::u16string_view uiLang) const;

    bool IsEmpty() const { return m_count == 0; }
    size_t Size() const { return m_count + m_more.size(); }
    void Clear();
    // Every language with its text, in the order the languages were first set.
    std::vector<Entry> Texts() const;

    bool operator==(const clMultiLangString& other) const;

private:
    // A definition gives one or two languages per text: they are held in place, without an
    // allocation of their own; any further language goes to m_more.
    std::array<Entry, 2> m_first;
    uint8_t m_count = 0;
    std::vector<Entry> m_more;
};
