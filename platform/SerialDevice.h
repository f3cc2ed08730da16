// Serial terminal devices: exclusive opening with the reason of a refusal, whether another
// program holds a device, its stable /dev/serial/by-id names, exact line speeds (termios2) and
// the modem lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Why a device could not be opened.
enum class DeviceRefusal {
    None,
    Missing,    // no such device (unplugged, never there)
    Permission, // the user may not open it (not in the device's group, or only its owner may)
    Busy,       // another program holds it (advisory lock or TIOCEXCL)
    Other,      // anything else; error holds errno
};

struct DeviceProblem {
    DeviceRefusal kind = DeviceRefusal::None;
    std::string device;        // the path that was opened
    std::string group;         // the group owning the device node (Permission), empty when unknown
    std::string owner;         // the user owning it (Permission), empty when unknown
    bool groupMayOpen = false; // its group may read and write it (Permission)
    int error = 0;             // errno of the refusal
};

// Opens a terminal device for this program alone: read and write, never as controlling
// terminal, non-blocking; then an advisory lock (flock, as serial terminals take it) and
// TIOCEXCL, so further opens by other programs fail with EBUSY. Returns the descriptor, or -1
// with problem filled (nothing stays open then).
int OpenSerialExclusive(const std::string& path, DeviceProblem& problem);

// True when another program (or another descriptor of this one) holds the device: an advisory
// lock on it (/proc/locks), or a UUCP lock file with a live process in /run/lock or /var/lock.
// Opens nothing (opening a terminal raises its DTR line).
bool SerialDeviceInUse(const std::string& path);

// The links of byIdRoot (default /dev/serial/by-id) that lead to the same device as path.
std::vector<std::string> SerialDeviceLinks(const std::string& path,
                                           const std::string& byIdRoot = "/dev/serial/by-id");

// Line speeds through termios2 (BOTHER): any speed the driver accepts, not only the classic
// table (a classic rate keeps its classic form). SetExactSpeed sets both directions and reads
// them back. 0: both are as asked;
// 1: the driver set another speed (actual* tell which); -1: refused (errno kept).
int SetExactSpeed(int fd, uint32_t baud, uint32_t& actualIn, uint32_t& actualOut);
// Both speeds as the driver keeps them. False when the descriptor cannot tell.
bool ReadExactSpeed(int fd, uint32_t& in, uint32_t& out);

} // namespace platform
