// What the communication settings dialog works with, without Qt: the registered interfaces
// as the dialog sees them, the dialog's data and the rules for its time-out edits and OK.
#pragma once

#include "base/MessageTable.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace commsettings {

constexpr uint32_t kMinTimeout = 100;
constexpr uint32_t kMaxTimeout = 4294967294u;
constexpr uint32_t kDefaultTimeout = 20000;
// The port name of an interface that has no port chosen yet.
constexpr std::u16string_view kNoSettings = ::kNoSettings;

// The registered interfaces (built-in serial first, then the plug-ins), by index.
class IInterfaceList {
public:
    virtual ~IInterfaceList() = default;
    virtual int Count() const = 0;
    // The label shown in the list: the interface's name and " Ver.%d.%d.%d".
    virtual std::u16string Label(int index) const = 0;
    // The interface's current port name (GetPortName); "No settings" when none is chosen.
    virtual std::u16string PortName(int index) = 0;
    // Runs the interface's own modal port settings dialog (SettingDialog); 1 when the user
    // confirmed and the new port was stored, 0 otherwise.
    virtual int32_t SettingDialog(int index) = 0;
};

// The dialog's data: filled by the caller, read back after OK.
struct Data {
    uint32_t firstReceive = kDefaultTimeout; // milliseconds
    uint32_t nextReceive = kDefaultTimeout;
    uint32_t send = kDefaultTimeout;
    int32_t selectedInterface = -1; // -1: none
    bool operator==(const Data&) const = default;
};

// The value of a time-out edit: an unsigned decimal number (digits only, no sign or blanks)
// from kMinTimeout to kMaxTimeout. Empty, malformed or out-of-range text gives nothing.
std::optional<uint32_t> ParseTimeout(std::u16string_view text);

// Whether OK may be pressed with this interface selected: its port name is set.
bool HasPortChosen(std::u16string_view portName);

} // namespace commsettings
