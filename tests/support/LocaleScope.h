// Sets the process locale for the life of the object (the locale codeset decides how commands
// and settings texts are written).
#pragma once

#include <clocale>
#include <string>

class LocaleScope {
public:
    explicit LocaleScope(const char* name) : m_old(std::setlocale(LC_ALL, nullptr)) {
        ok = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~LocaleScope() { std::setlocale(LC_ALL, m_old.c_str()); }
    LocaleScope(const LocaleScope&) = delete;
    LocaleScope& operator=(const LocaleScope&) = delete;

    bool ok = false;

private:
    std::string m_old;
};
