// The main window's decisions that need no window: which command may run in which engine
// state and which bar control runs which command (the text of a failed connect:
// app/PortReasonText.h).
#pragma once

#include "ui/BarControls.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace mainframe {

// Menu command ids.
enum CommandId : int {
    ID_OPEN_DEFINE = 32771, // the cascade holding the two items below
    ID_SELECT_FILE = 32780,
    ID_AUTO_SELECT = 32781,
    ID_CLOSE_DEFINE = 32782,
    ID_TEXT_SAVE = 32772,
    ID_TEXT_LOAD = 32773,
    ID_CONNECT = 32775,
    ID_DISCONNECT = 32776,
    ID_COMM_SETTINGS = 32777,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_WINDOW_SPLIT = 57653,
    kTrafficLogCommand = 32790, // checkable: the traffic log is being written
    kMonitorCommand = 32795,
    kScriptSocketCommand = 32796, // checkable: scripts may connect to the window's socket
};

// Bar controls that are commands of their own (no menu item).
enum BarCommandId : int {
    IDC_CANCEL_RECEIVING = barcontrol::IDC_CANCEL_RECEIVING,
    IDC_SHOW_CONSOLE = barcontrol::IDC_SHOW_CONSOLE,
    IDC_HIDE_CONSOLE = barcontrol::IDC_HIDE_CONSOLE,
};

// What the enable rules look at, read from the engine and the application at the moment the
// rule is evaluated; never stored.
struct EngineState {
    bool portSelected = false;     // the application has a current port
    int32_t connected = 0;         // engine's connected flag
    int32_t busy = 0;              // engine's busy flag
    int32_t phase = -1;            // engine's transaction phase
    bool definitionLoaded = false; // the property manager holds a definition

    // A job may be submitted: not busy and no transaction running.
    bool Ready() const { return busy == 0 && phase == 0; }
};

// The command a bar control runs: the menu id for buttons that share a menu command, the
// control's own id for bar-only commands; 0 for a control without a command (the camera
// picture).
int CommandOfControl(int controlId);

// Whether the command (a menu id or a bar-only control id) may run in this state. Unknown ids
// are disabled.
bool IsCommandEnabled(int commandId, const EngineState& state);

// Every command the window offers, for tests and the enable pass.
inline constexpr int kAllCommands[] = {
    ID_SELECT_FILE,  ID_AUTO_SELECT,       ID_CLOSE_DEFINE,  ID_TEXT_SAVE,     ID_TEXT_LOAD,
    ID_CONNECT,      ID_DISCONNECT,        ID_COMM_SETTINGS, ID_APP_ABOUT,     ID_APP_EXIT,
    ID_WINDOW_SPLIT, IDC_CANCEL_RECEIVING, IDC_SHOW_CONSOLE, IDC_HIDE_CONSOLE, kTrafficLogCommand,
    kMonitorCommand, kScriptSocketCommand,
};

// What a file dropped on the main window does: a definition (".xml") opens as Select file
// does, a text file (".txt") is replayed as Text Load does; each only while its command is
// enabled. A drop of either kind while a job runs is refused (the window says so); anything
// else, or a kind whose command is off for another reason, is ignored.
enum class DropAction { kIgnore, kOpenDefinition, kLoadBatch, kRefuseBusy };
DropAction ClassifyDrop(std::u16string_view fileName, const EngineState& state);

} // namespace mainframe
