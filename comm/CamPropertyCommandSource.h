// The property job's view of the loaded camera definition: a property's command names, its
// confirmation prompt, and the composition of a command's text by the property manager.
#pragma once

#include "comm/EngineContext.h"

#include <functional>

class clCamPropertyMgr;
struct clCamCommand;

class clCamPropertyCommandSource : public IPropertyCommandSource {
public:
    // Composes the text of a command from the current values; 0 on success.
    using Composer = std::function<int32_t(const clCamPropertyMgr& manager,
                                           const clCamCommand& command, std::u16string& text)>;

    explicit clCamPropertyCommandSource(const clCamPropertyMgr& manager) : m_manager(manager) {}

    // Replaces the manager's own composition (tests use it to fail or alter a command).
    void SetComposer(Composer composer) { m_composer = std::move(composer); }

    std::vector<std::u16string> CommandNames(const clCamProperty* property) override;
    int ComposeCommand(const clCamProperty* property, std::u16string_view commandName,
                       std::u16string& text) override;
    bool ConfirmationPrompt(const clCamProperty* property, std::u16string_view languageCode,
                            std::u16string& prompt) override;

private:
    const clCamPropertyMgr& m_manager;
    Composer m_composer;
};
