// The control ids of the main window's two bars. Kept free of Qt so that the window-less rules
// (ui/MainFrameLogic.h, ui/BarStatus.h) name the same controls the bars are built from
// (ui/DialogBars.h); the values are the bars' template ids.
#pragma once

namespace barcontrol {

enum Upper : int {
    IDC_FILE_MENU = 1202,
    IDC_CLOSE_DEFINE = 1201,
    IDC_TEXT_SAVE = 1042,
    IDC_TEXT_LOAD = 1020,
    IDC_CONNECT = 1012,
    IDC_DISCONNECT = 1013,
    IDC_COMM_SETTINGS = 1023,
    IDC_ABOUT = 1021,
    IDC_CAMERA_PICTURE = 1043,
    IDC_MODEL = 1028,
    IDC_VERSION = 1029,
    IDC_SERIAL_LABEL = 1031,
    IDC_SERIAL = 1030,
    IDC_PORT = 1022,
    IDC_LINE_SPEED = 1032,
};

enum Lower : int {
    IDC_SHOW_CONSOLE = 1203,
    IDC_HIDE_CONSOLE = 1204,
    IDC_CONNECTION = 1045,
    IDC_RESULT_LABEL = 1200,
    IDC_RESULT = 1076,
    IDC_ELAPSED_LABEL = 1074,
    IDC_ELAPSED = 1027,
    IDC_CANCEL_RECEIVING = 1075,
};

// The upper bar's buttons whose enable state follows a menu command.
inline constexpr int kCommandButtons[] = {IDC_CLOSE_DEFINE, IDC_TEXT_SAVE, IDC_TEXT_LOAD,
                                          IDC_COMM_SETTINGS, IDC_ABOUT};

} // namespace barcontrol
