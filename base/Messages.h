// Application window messages and refresh flags. The window brings the engine's events
// (comm/EngineEvents.h) onto its thread as these messages; the property view posts
// UM_RUN_PROPERTY_JOB and the elapsed-time watch UM_REFRESH_VIEWS through base/UiTarget.h.
// Worker threads never touch a window.
#pragma once

#include <cstdint>

enum : uint32_t {
    UM_STARTUP = 0x8000,
    UM_REFRESH_VIEWS = 0x8001,
    UM_MESSAGE_BOX = 0x8002,
    UM_ACTIVATE_CONSOLE = 0x8003,
    UM_CONSOLE_ECHO = 0x8004,
    UM_DRAIN_REPLIES = 0x8005,
    UM_SHOW_RESULT = 0x8006,
    UM_CLOSE_WAIT_DIALOG = 0x8007,
    UM_CONSOLE_FLUSH = 0x8008,
    UM_RUN_PROPERTY_JOB = 0x8009,
};

// Refresh flags of UM_REFRESH_VIEWS.
enum : uint32_t {
    REFRESH_STATUS = 1,
    REFRESH_CONSOLE = 2,
    REFRESH_PROPERTIES = 4,
    REFRESH_RELOAD_VALUES = 8,
};

// Message-box styles and button results, with their classic numeric values so stored
// results and callers agree.
enum : uint32_t {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum : int32_t {
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};
