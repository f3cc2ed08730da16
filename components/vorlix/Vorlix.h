// Vorlix: the serial-port utility component.
//
// It lists the machine's serial ports (the tty devices of /sys/class/tty that have a driver,
// described by their /dev/serial/by-id name where there is one) and the device paths and
// serial device server addresses (tcp://HOST:PORT, rfc2217://HOST:PORT) the user added in the
// port-settings dialog (a simulator's pseudo-terminal, for example), keeps the
// parameters of every port in the settings file, turns them into termios settings and runs the
// modal port-settings dialog through a hook the user interface registers.
//
// Port names are file-name safe ("ttyUSB0", "pts-3"); the device path is kept apart
// ("/dev/ttyUSB0"). Returned strings belong to the component and stay valid until the next
// call that lists the ports again (VorlixInitW, VorlixGetIndexW, VorlixSettingDlgExW).
// All calls come from the user-interface thread; the component still guards its list, so a
// stray call from another thread does no harm.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct termios;

// Seven words stored per port. The port reads words 0, 5 and 6.
struct ComPortParams {
    uint32_t baudRate = 9600;      // 0: bits per second
    uint32_t dataBits = 8;         // 1: 5 to 8
    uint32_t parity = 0;           // 2: 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint32_t stopBits = 0;         // 3: 0 one, 1 one and a half (taken as two), 2 two
    uint32_t flowControl = 0;      // 4: 0 none, 1 RTS/CTS, 2 XON/XOFF
    uint32_t receiveQueue = 4096;  // 5: bytes
    uint32_t transmitQueue = 4096; // 6: bytes
};
static_assert(sizeof(ComPortParams) == 7 * sizeof(uint32_t));

enum : uint32_t {
    VORLIX_PARITY_NONE = 0,
    VORLIX_PARITY_ODD = 1,
    VORLIX_PARITY_EVEN = 2,
    VORLIX_PARITY_MARK = 3,
    VORLIX_PARITY_SPACE = 4,
    VORLIX_STOP_ONE = 0,
    VORLIX_STOP_ONE5 = 1,
    VORLIX_STOP_TWO = 2,
    VORLIX_FLOW_NONE = 0,
    VORLIX_FLOW_RTSCTS = 1,
    VORLIX_FLOW_XONXOFF = 2,
};

// One listed port.
struct VorlixPort {
    std::u16string name;        // "ttyUSB0", "pts-3"
    std::u16string devicePath;  // "/dev/ttyUSB0"
    std::u16string description; // by-id name, driver name, or "added device <path>"
    bool added = false;         // a device path the user added
    bool inUse = false;         // another program holds it (its lock), as seen when listed
};

// What the port-settings dialog shows and returns. The hook edits it in place.
struct VorlixDialogRequest {
    std::vector<VorlixPort> ports;     // as listed when the dialog opened
    int32_t selected = -1;             // index into ports; the current port, -1 none
    ComPortParams params;              // parameters of the selected port
    std::vector<std::u16string> added; // device paths the user added (editable)
    // Loads the stored parameters of a port name (the dialog calls it when the choice changes).
    ComPortParams (*loadParams)(const std::u16string& settingsPath,
                                const std::u16string& portName) = nullptr;
    std::u16string settingsPath;
    // Re-lists the ports after the added paths changed (fills ports; keeps selected by name).
    void (*relist)(VorlixDialogRequest& request) = nullptr;
};

// The dialog: returns 1 when the user confirmed (selected and params then hold the choice),
// 0 when cancelled. Registered by the user interface at start; none registered: no dialog.
using VorlixDialogHook = int (*)(VorlixDialogRequest& request);
void VorlixSetDialogHook(VorlixDialogHook hook);

// How an added device path and an added network address are described, "%s" standing for the
// path; the user interface sets them in its language before the ports are listed (defaults
// "added device %s" and "added address %s").
void VorlixSetAddedDeviceFormat(const std::u16string& format,
                                const std::u16string& addressFormat = {});
// Called once before any other call: remembers the settings file and lists the ports.
void VorlixInitW(const char16_t* settingsPath);
// Index of the port, -1 when it is not present (lists the ports again first).
int32_t VorlixGetIndexW(const char16_t* portName);
// The port's name, device path, description; null for an index out of range.
const char16_t* VorlixGetPortNameW(int32_t index);
const char16_t* VorlixGetFileNameW(int32_t index);
const char16_t* VorlixGetDescriptionW(int32_t index);
// The stored parameters of the port name (the defaults for an unknown or empty name and for
// values out of range). A null record is ignored.
void VorlixLoadCOMportParaW(const char16_t* settingsPath, const char16_t* portName,
                            ComPortParams* params);
// Stores the record under the port name. False when it could not be written.
bool VorlixSaveCOMportParaW(const char16_t* settingsPath, const char16_t* portName,
                            const ComPortParams* params);
// Modal dialog to choose a port and edit its parameters. Returns 0 when the dialog ran (then
// *result is 1 when the user confirmed and *params holds the new parameters), 1 when no
// dialog could be shown (no hook or bad arguments; *result unchanged).
int32_t VorlixSettingDlgExW(const char16_t* settingsPath, const char16_t* channelSection,
                            const char16_t* currentPortName, ComPortParams* params, int32_t* result,
                            int32_t reserved);
// Index of the port chosen in the last confirmed dialog (-1 before).
void VorlixGetLastSelect(int32_t* index);
// Completes the termios settings read from the device with the record's line settings: raw
// mode, receiver on, modem lines ignored, speed, character size, parity, stop bits and flow
// control; reads return at once with what is buffered. The speed is the fastest classic rate
// not above the record's (all a termios record holds); the port then sets the exact one.
void VorlixSetupDCB(const ComPortParams* params, struct termios* lineSettings);

// ---- helpers, also for tests and the dialog
// The file-name-safe port name of a device path: "/dev/ttyUSB0" -> "ttyUSB0",
// "/dev/pts/3" -> "pts-3", "/tmp/sim pty" -> "tmp-sim_pty"; of a network address:
// "tcp://10.0.0.5:4001" -> "tcp-10.0.0.5-4001".
std::u16string VorlixPortNameOfPath(const std::u16string& devicePath);
// The parameters with every word out of range replaced by its default.
ComPortParams VorlixSanitize(const ComPortParams& params);
// The device paths and network addresses the user added, as stored in the settings file
// (anything else in the stored list is skipped).
std::vector<std::u16string> VorlixLoadAddedDevices(const std::u16string& settingsPath);
bool VorlixSaveAddedDevices(const std::u16string& settingsPath,
                            const std::vector<std::u16string>& paths);
// The baud rates the dialog offers.
const std::vector<uint32_t>& VorlixStandardBaudRates();
// The folders the component scans; tests point them at their own trees ("" restores).
void VorlixSetScanRoots(const std::string& sysClassTty, const std::string& serialById);
