#include "ui/MainFrameLogic.h"

#include "base/MessageTable.h"
#include "port/PortTables.h"

namespace mainframe {

int CommandOfControl(int controlId) {
    switch (controlId) {
    case barcontrol::IDC_CLOSE_DEFINE:
        return ID_CLOSE_DEFINE;
    case barcontrol::IDC_TEXT_SAVE:
        return ID_TEXT_SAVE;
    case barcontrol::IDC_TEXT_LOAD:
        return ID_TEXT_LOAD;
    case barcontrol::IDC_CONNECT:
        return ID_CONNECT;
    case barcontrol::IDC_DISCONNECT:
        return ID_DISCONNECT;
    case barcontrol::IDC_COMM_SETTINGS:
        return ID_COMM_SETTINGS;
    case barcontrol::IDC_ABOUT:
        return ID_APP_ABOUT;
    case IDC_CANCEL_RECEIVING:
    case IDC_SHOW_CONSOLE:
    case IDC_HIDE_CONSOLE:
    case ID_SELECT_FILE: // items of the file menu button's popup
    case ID_AUTO_SELECT:
        return controlId;
    default:
        return 0;
    }
}

bool IsCommandEnabled(int commandId, const EngineState& s) {
    const bool connected = s.connected != 0;
    switch (commandId) {
    case ID_SELECT_FILE:
    case ID_CLOSE_DEFINE:
        // Never while a job may still read the definition.
        return (!connected && s.busy == 0) || s.Ready();
    case ID_AUTO_SELECT:
        return connected && s.Ready();
    case ID_TEXT_SAVE:
        return s.definitionLoaded && (s.phase == -1 || s.phase == 0);
    case ID_TEXT_LOAD:
        return s.Ready();
    case ID_CONNECT:
        // Not before the worker is idle: a job still ending belongs to the old connection.
        return s.portSelected && !connected && s.busy == 0;
    case ID_DISCONNECT:
        return s.portSelected && connected;
    case ID_COMM_SETTINGS:
        return !connected && s.busy == 0;
    case IDC_CANCEL_RECEIVING:
        return connected && s.busy == 1;
    case ID_APP_ABOUT:
    case ID_APP_EXIT:
    case ID_WINDOW_SPLIT:
    case kTrafficLogCommand:
    case kMonitorCommand:
    case kScriptSocketCommand:
    case IDC_SHOW_CONSOLE:
    case IDC_HIDE_CONSOLE:
        return true;
    default:
        return false;
    }
}

namespace {

bool EndsWithNoCase(std::u16string_view name, std::u16string_view suffix) {
    if (name.size() < suffix.size())
        return false;
    name = name.substr(name.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i) {
        char16_t c = name[i];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

} // namespace

DropAction ClassifyDrop(std::u16string_view fileName, const EngineState& state) {
    int command = 0;
    DropAction action = DropAction::kIgnore;
    if (EndsWithNoCase(fileName, u".xml")) {
        command = ID_SELECT_FILE;
        action = DropAction::kOpenDefinition;
    } else if (EndsWithNoCase(fileName, u".txt")) {
        command = ID_TEXT_LOAD;
        action = DropAction::kLoadBatch;
    } else {
        return DropAction::kIgnore;
    }
    if (IsCommandEnabled(command, state))
        return action;
    const bool jobRuns = state.busy != 0 || (state.connected != 0 && state.phase > 0);
    return jobRuns ? DropAction::kRefuseBusy : DropAction::kIgnore;
}

} // namespace mainframe
