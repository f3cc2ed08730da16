// A text held in several languages, keyed by language code ("ja", "en").
#pragma once

#include <map>
#include <string>
#include <string_view>

class clMultiLangString {
public:
    // Sets the text of one language, replacing an earlier text of that language.
    void Set(std::u16string_view lang, std::u16string_view text);
    // The text of exactly that language code (case-sensitive); nullptr when none is held.
    const std::u16string* Find(std::u16string_view lang) const;
    bool Get(std::u16string_view lang, std::u16string& text) const;
    // The usual way to show the text: the text of `uiLang`; when that is missing or empty the
    // English text; when that is missing too, empty.
    std::u16string Display(std::u16string_view uiLang) const;

    bool IsEmpty() const { return m_texts.empty(); }
    void Clear() { m_texts.clear(); }
    const std::map<std::u16string, std::u16string, std::less<>>& Texts() const { return m_texts; }

    bool operator==(const clMultiLangString&) const = default;

private:
    std::map<std::u16string, std::u16string, std::less<>> m_texts;
};
