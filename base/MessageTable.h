// The bilingual message table: every text the program sets at run time (menus, captions,
// tooltips, message boxes, file-dialog filters), in Japanese and English. The UI language is
// chosen once at start-up, before any window exists, and never changes afterwards.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// What the settings file stores and the port lines show while no interface or port is chosen:
// the same in both languages, since the settings file reads it back.
inline constexpr char16_t kNoSettings[] = u"No settings";

enum MessageId : int {
    MSG_MENU_FILE = 0,
    MSG_MENU_COMMUNICATION = 1,
    MSG_MENU_HELP = 2,
    MSG_MENU_EXIT = 3,
    MSG_CONNECT = 4,
    MSG_DISCONNECT = 5,
    MSG_COMM_SETTINGS = 6,
    MSG_OPEN_CAMERA_DEFINE = 7,
    MSG_ABOUT = 8,
    MSG_TEXT_SAVE = 9,
    MSG_SEND = 10,
    MSG_CONFIRM_DISCONNECT_EXIT = 11,
    MSG_CONNECT_FAILED = 12,
    MSG_ERROR = 13,
    MSG_RECEIVE_TIMEOUT = 14,
    MSG_CANT_OPEN_PORT = 15,
    MSG_GET_PORT_PARAM_FAILED = 16,
    MSG_SET_PORT_FAILED = 17,
    MSG_INIT_PORT_FAILED = 18,
    MSG_INIT_BUFFER_FAILED = 19,
    MSG_SET_TIMEOUT_FAILED = 20,
    MSG_SET_DTR_FAILED = 21,
    MSG_TRANSMIT_TIMEOUT = 22,
    MSG_SELECT_INTERFACE = 23,
    MSG_SETTING = 24,
    MSG_CANCEL = 25,
    MSG_DISCONNECTING = 26,
    MSG_PLEASE_WAIT = 27,
    MSG_ABOUT_CAPTION = 28,
    MSG_ABOUT_INTERFACES = 29,
    MSG_BILINGUAL_SUPPORT = 30,
    MSG_FILTER_CAMERA_DEFINE = 31,
    MSG_TIMEOUTS = 32,
    MSG_FIRST_RECEIVE = 33,
    MSG_NEXT_RECEIVE = 34,
    MSG_SEND_TIMEOUT = 35,
    MSG_DEFAULT = 36,
    MSG_PROCESSING = 37,
    MSG_TEXT_LOAD = 38,
    MSG_APPEND_CR = 39,
    MSG_CLEAR = 40,
    MSG_FILTER_TEXT_FILE = 41,
    MSG_EXIT = 42,
    MSG_ELAPSED_TIME = 43,
    MSG_CANCEL_RECEIVING = 44,
    MSG_DETAILED_SETTING = 45,
    MSG_XML_PARSE_ERROR = 46,
    MSG_XML_NO_ROOT = 47,
    MSG_XML_NOT_SUPPORTED = 48,
    MSG_UNKNOWN_ERROR = 49,
    MSG_FAIL_OPEN_DEFINE = 50,
    MSG_REOPEN_LAST_DEFINE = 51,
    MSG_MENU_VIEW = 52,
    MSG_MENU_SPLIT = 53,
    MSG_SELECT_FILE = 54,
    MSG_AUTO_SELECT_BY_STA = 55,
    MSG_SHOW_CONSOLE = 56,
    MSG_HIDE_CONSOLE = 57,
    MSG_EXPAND_ALL = 58,
    MSG_COLLAPSE_ALL = 59,
    MSG_RESULT = 60,
    MSG_MODEL_NOT_DETECTED = 61,
    MSG_DEFINE_NOT_FOUND = 62,
    MSG_FOUND_FILES = 63,
    MSG_SEARCH_RESULT = 64,
    MSG_CLOSE_CAMERA_DEFINE = 65,
    MSG_SCHEMA_NOT_FOUND = 66,
    MSG_FAIL_OPEN_DEFINE_FILE = 67,
    MSG_SCHEMA_PARSE_ERROR = 68,
    MSG_FAIL_CREATE_VALIDATOR = 69,
    MSG_XML_VALIDATION_ERROR = 70,
    MSG_FAIL_OPEN_BATCH_FILE = 71,
    // 72 belongs to other texts.
    MSG_FAIL_SAVE_SETTINGS_TEXT = 73,
    MSG_FILE_READ_ONLY = 74,
    MSG_CANNOT_WRITE_FILE = 75,
    MSG_DISK_FULL = 76,
    MSG_VALUE_NOT_IN_CODESET = 77,
    MSG_ACCESS_DENIED = 78,
    MSG_NOT_REGULAR_FILE = 79,
    MSG_TRAFFIC_LOG = 80,        // the View item that starts and stops the traffic log
    MSG_TRAFFIC_LOG_FAILED = 81, // the traffic log file cannot be opened
    // Serial devices that vanish, return, or cannot be opened (%s: device path, group, camera).
    MSG_PORT_LOST = 82,
    MSG_PORT_RECONNECTED = 83,
    MSG_PORT_OTHER_CAMERA = 84,
    MSG_PORT_NO_PERMISSION = 85,
    MSG_PORT_MISSING = 86,
    MSG_PORT_BUSY = 87,
    MSG_PORT_IN_USE = 88,
    // Why a connection failed (the second line of the connect failure), and the port line of
    // an interface whose library is missing; "%s" are filled in order.
    MSG_REASON_SPEED_REFUSED = 89,
    MSG_REASON_LIBRARY_MISSING = 90,
    MSG_REASON_FUNCTION_MISSING = 91,
    MSG_REASON_CHANNEL_MISSING = 92,
    MSG_PORT_LIBRARY_MISSING = 93,
    // Text Load progress and its outcome (console, log, status area), and files dropped on
    // the main window; "%s" are filled in order.
    MSG_BATCH_PROGRESS = 94,
    MSG_BATCH_ALL_SENT = 95,
    MSG_BATCH_STOPPED_FAILED = 96,
    MSG_BATCH_STOPPED_CANCEL = 97,
    MSG_DROP_TEXT_LOAD = 98,
    MSG_DROP_REFUSED_BUSY = 99,
    // Why a network port (tcp://, rfc2217://) could not be connected; "%s" are filled in order,
    // the address first.
    MSG_NET_HOST_UNKNOWN = 120,
    MSG_NET_REFUSED = 121,
    MSG_NET_NO_ANSWER = 122,
    MSG_NET_SERVER_FULL = 123,
    MSG_NET_MALFORMED = 124,
    MSG_NET_PORT_RANGE = 125,
    MSG_NET_NO_COM_PORT = 126,
    MSG_NET_SPEED_CHANGED = 127,
    MSG_ADDED_ADDRESS = 128, // the description of a network address the user added (%s)
    // Command texts that are not sent (CheckCommandText): "%s" are the character's position,
    // the character (U+XXXX) and, for the codeset, the codeset's name.
    MSG_COMMAND_EMPTY = 110,
    MSG_COMMAND_CONTROL_CHARACTER = 111,
    MSG_COMMAND_NOT_IN_CODESET = 112,
    // The console's marker line for received bytes it did not show (%s: how many).
    MSG_CONSOLE_SKIPPED = 130,
    MSG_CONSOLE_SKIPPED_LOGGED = 131,
    // A device only its owner may open (%s: device path, owner).
    MSG_PORT_OWNER_ONLY = 132,
    // The port-settings dialog of the built-in serial port.
    MSG_COM_PORT_SETTINGS = 133,
    MSG_PORT = 134,
    MSG_DEVICE = 135,
    MSG_BAUD_RATE = 136,
    MSG_DATA_BITS = 137,
    MSG_PARITY = 138,
    MSG_STOP_BITS = 139,
    MSG_FLOW_CONTROL = 140,
    MSG_RECEIVE_QUEUE = 141,
    MSG_TRANSMIT_QUEUE = 142,
    MSG_ADDED_DEVICES = 143,
    MSG_DEVICE_PATH_HINT = 144,
    MSG_ADD = 145,
    MSG_REMOVE = 146,
    MSG_NONE = 147,
    MSG_PARITY_ODD = 148,
    MSG_PARITY_EVEN = 149,
    MSG_PARITY_MARK = 150,
    MSG_PARITY_SPACE = 151,
    MSG_ADDED_DEVICE = 152, // the description of a device path the user added (%s: the path)
    // The Camera Link serial settings dialog.
    MSG_CAMERA_LINK_SETTINGS = 153,
    MSG_SERIAL_LIBRARY = 154,
    MSG_CHANNEL = 155,
    MSG_SPEED_NOT_SUPPORTED = 156, // marks a speed the channel does not offer
    MSG_NO_CL_LIBRARY = 157,       // %s: the folder searched
    MSG_SPEED_NOT_OFFERED = 158,
    // The Monitor panel; the crossing lines' "%s" are the value's name, low, high and the value.
    MSG_MONITOR = 160,
    MSG_MONITOR_EACH_ROUND = 161,
    MSG_MONITOR_COMMAND = 162,
    MSG_MONITOR_INTERVAL = 163,
    MSG_MONITOR_START = 164,
    MSG_MONITOR_STOP = 165,
    MSG_MONITOR_EXPORT_CSV = 166,
    MSG_MONITOR_MINUTES_SHOWN = 167,
    MSG_MONITOR_LEFT_BAND = 168,
    MSG_MONITOR_BACK_IN_BAND = 169,
    // The window's scripting socket: its View item, the status area, the log (%s: the number of
    // scripts, a script's number, or the reason the socket cannot be made).
    MSG_SCRIPT_SOCKET = 170,
    MSG_SCRIPTS_CONNECTED = 171,
    MSG_SCRIPT_CONNECTED = 172,
    MSG_SCRIPT_DISCONNECTED = 173,
    MSG_SCRIPT_SOCKET_FAILED = 174,
    MSG_MONITOR_UNREAD_VALUE =
        175, // a Monitor round's reply (%s) holds a value that cannot be read
    MSG_COUNT = 200,
};

// Whether an id below MSG_COUNT has texts (a few ids are not given out).
bool MsgExists(int id);

// Chooses the UI language index (0 Japanese, 1 English) and the language code of bilingual
// definition-file texts ("ja" or "en") from "Force English" and the user's UI language
// (1041 = Japanese).
void SetUiLanguage(unsigned forceEnglish, int userUiLanguage);

// 0 Japanese, 1 English.
int UiLanguageIndex();
// "ja" or "en".
const std::u16string& UiLanguageCode();

// The text of a message in the UI language. Ids outside the table give an empty text.
const char16_t* Msg(int id);
// The text of a message in the given language index.
const char16_t* MsgIn(int id, int languageIndex);
// The text of a message in the UI language with each "%s" replaced by the next argument.
std::u16string FormatMsg(int id, std::initializer_list<std::u16string_view> args);
