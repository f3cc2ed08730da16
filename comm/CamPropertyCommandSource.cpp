#include "comm/CamPropertyCommandSource.h"

#include "camdef/CamProperty.h"
#include "camdef/CamPropertyMgr.h"

std::vector<std::u16string>
clCamPropertyCommandSource::CommandNames(const clCamProperty* property) {
    return property ? property->commandNames : std::vector<std::u16string>{};
}

int clCamPropertyCommandSource::ComposeCommand(const clCamProperty*,
                                               std::u16string_view commandName,
                                               std::u16string& text) {
    const clCamCommand* command = m_manager.FindCommand(commandName);
    if (!command)
        return kUnknownCommand;
    const int32_t result = m_composer ? m_composer(m_manager, *command, text)
                                      : m_manager.ComposeCommand(command, text);
    if (result != 0)
        return kComposeFailed;
    return kComposed;
}

bool clCamPropertyCommandSource::ConfirmationPrompt(const clCamProperty* property,
                                                    std::u16string_view languageCode,
                                                    std::u16string& prompt) {
    if (!property || !property->hasPrompt)
        return false;
    prompt = property->prompt.Display(languageCode);
    return true;
}
