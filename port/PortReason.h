// Why an interface's port cannot be used, or why its last Connect failed, as a port plug-in
// module reports it through the optional export "GetPivraPortReasonW" beside
// GetPivraInterfaceW.
//
// The reason travels outside the two function tables on purpose: their layouts are published
// and a host reads them from modules of any age, so no entry can be appended. A module without
// the export (or a host that never asks) simply has no reason to give; the result codes of
// Connect stay what they are. The module reports facts (kind, numbers, names); the host words
// them in its user-interface language.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {

enum : int32_t {
    PORT_REASON_NONE = 0,
    // The line speed was refused. number: the speed in bits per second; detail: the speeds the
    // port offers ("9600, 19200"), empty when it did not say.
    PORT_REASON_SPEED_REFUSED = 1,
    // The library the port needs is not there or does not load. name: its file name.
    PORT_REASON_LIBRARY_MISSING = 2,
    // The library loads but lacks a function. name: its file name; detail: the function.
    PORT_REASON_FUNCTION_MISSING = 3,
    // The chosen channel does not exist. number: its index; count: the channels the library
    // has; name: the library's file name.
    PORT_REASON_CHANNEL_MISSING = 4,
    // The serial device is not there (unplugged, never there). name: its path.
    PORT_REASON_DEVICE_MISSING = 5,
    // Another program holds the serial device. name: its path.
    PORT_REASON_DEVICE_BUSY = 6,
    // The user may not open the serial device. name: its path. number PORT_PERMISSION_GROUP:
    // its group may open it, detail: that group; number PORT_PERMISSION_OWNER: only its owner
    // may, detail: the owner.
    PORT_REASON_NO_PERMISSION = 7,
    // The serial device refused to open for another reason. name: its path; detail: the
    // system's text of the error.
    PORT_REASON_DEVICE_REFUSED = 8,
    // Network ports (tcp://, rfc2217://). name: the address as written.
    // The host name resolves to nothing. detail: the name service's text.
    PORT_REASON_HOST_UNKNOWN = 9,
    // Nothing listens on the port.
    PORT_REASON_CONNECTION_REFUSED = 10,
    // No answer in time (name resolution, connect, or the server's side of the negotiation).
    PORT_REASON_NO_ANSWER = 11,
    // The server closed the connection at once: it serves another client. detail: what it said.
    PORT_REASON_SERVER_FULL = 12,
    // Not a usable address. number: 1 malformed, 2 port out of range.
    PORT_REASON_BAD_ADDRESS = 13,
    // The Telnet server refused the COM-PORT-OPTION.
    PORT_REASON_NO_COM_PORT_OPTION = 14,
    // The server set another line speed. number: the speed asked; count: the one it set.
    PORT_REASON_SPEED_CHANGED = 15,
};

// What blocks a device the user may not open (PORT_REASON_NO_PERMISSION, number).
enum : uint32_t {
    PORT_PERMISSION_GROUP = 0,
    PORT_PERMISSION_OWNER = 1,
};

struct PortReason {
    uint32_t structSize; // set by the caller: sizeof(PortReason)
    int32_t kind;        // PORT_REASON_*; a kind the host does not know reads as none
    uint32_t number;
    uint32_t count;
    const char16_t* name;   // never null; owned by the module, valid until its next call
    const char16_t* detail; // never null; as name
};

// The reason for the state the port is in after the last GetSelectedPortIF or Connect; Connect
// returning 0 clears it. Fills *reason and returns 0; 3 for a null or too small reason.
typedef int32_t (*GetPivraPortReasonWFn)(PortReason* reason);

} // extern "C"

constexpr char kPivraPortReasonSymbol[] = "GetPivraPortReasonW";

static_assert(sizeof(PortReason) == 32);
static_assert(offsetof(PortReason, name) == 16);
static_assert(offsetof(PortReason, detail) == 24);

// The same with texts of its own, for either side of the boundary.
struct PortReasonInfo {
    int32_t kind = PORT_REASON_NONE;
    uint32_t number = 0;
    uint32_t count = 0;
    std::u16string name;
    std::u16string detail;
    bool operator==(const PortReasonInfo&) const = default;
};

// The module's side: *out describes info, whose texts must outlive the caller's use of them.
inline void FillPortReason(const PortReasonInfo& info, PortReason* out) {
    out->kind = info.kind;
    out->number = info.number;
    out->count = info.count;
    out->name = info.name.c_str();
    out->detail = info.detail.c_str();
}

// Asks a module; no reason for a null function or a refused call.
inline PortReasonInfo QueryPortReason(GetPivraPortReasonWFn get) {
    PortReasonInfo info;
    if (!get)
        return info;
    PortReason r{};
    r.structSize = sizeof r;
    if (get(&r) != 0)
        return info;
    info.kind = r.kind;
    info.number = r.number;
    info.count = r.count;
    info.name = r.name ? r.name : u"";
    info.detail = r.detail ? r.detail : u"";
    return info;
}
