// The "WindowPlace" keys in the instance's settings file.
#pragma once

#include "ui/WindowPlaceLogic.h"

#include <string>

namespace placement {

class IniStore : public IStore {
public:
    explicit IniStore(std::u16string settingsPath) : m_path(std::move(settingsPath)) {}
    int32_t ReadInt(std::u16string_view key, int32_t defaultValue) override;
    bool WriteInt(std::u16string_view key, int32_t value) override;

private:
    std::u16string m_path;
};

} // namespace placement
