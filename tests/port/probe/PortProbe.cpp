// A second program on a serial device, for the tests of exclusive access and permissions:
//   port_probe DEVICE [--hold]
// Connects the built-in serial port to DEVICE and prints one line: the Connect result, then
// the reason in English when the device could not be opened. With --hold a connected port stays
// open until standard input ends. Exits with the Connect result.
#include "app/PortReasonText.h"
#include "base/MessageTable.h"
#include "platform/Text.h"
#include "port/PortComm.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const bool hold = argc > 2 && std::strcmp(argv[2], "--hold") == 0;
    SetUiLanguage(1, 1033);
    clPortComm& port = BuiltInComPort();
    port.identity.devicePath = platform::Utf8ToUtf16(argv[1]);
    port.Init();
    const int32_t code = port.Connect();
    const std::string reason = platform::Utf16ToUtf8(PortReasonText(BuiltInComPortReason()));
    std::printf("%d %s\n", code, reason.c_str());
    std::fflush(stdout);
    if (hold && code == 0) {
        char c;
        while (::read(STDIN_FILENO, &c, 1) > 0) {
        }
    }
    port.Disconnect();
    port.Uninit();
    return code;
}
