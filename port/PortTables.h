// The binary contract between the host and every port interface (the built-in serial port and
// each port plug-in module): the parameter block the host hands to an interface entry, and the
// two function tables an interface presents. Little-endian, 64-bit pointers, UTF-16 strings
// terminated by NUL. Strings returned by table entries belong to the interface.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Called on the port's receive thread. The bytes lie in the port's staging buffer and are
// valid only during the call.
typedef void (*ReceiveCallback)(const uint8_t* bytes, uint32_t length, void* user);

// Filled by the host before any interface is created and kept alive until exit. Interfaces keep
// the pointer and read the block again later, so the host may change the time-outs in place.
struct PortParamBlock {
    uint8_t reserved0[44];
    int32_t firstReceiveTimeout;        // milliseconds
    int32_t nextReceiveTimeout;         // milliseconds
    int32_t sendTimeout;                // milliseconds; every Connect copies it into its port
    const char16_t* programFolder;      // ends with '/'
    const char16_t* settingsFilePath;   // the instance's settings file
    const char16_t* channelSectionName; // "CAMERA_COMM_Ch00"
    uint8_t reserved1[16];
};

// Ten operations on the single port object an interface owns.
struct PortOpTable {
    int32_t (*Init)();
    void (*Uninit)();
    int32_t (*Connect)();
    void (*Disconnect)();
    int32_t (*SendData)(const uint8_t* bytes, uint32_t length);
    int32_t (*SetReceiveCallback)(ReceiveCallback callback, void* user);
    int32_t (*SetSendTimeout)(int32_t ms);
    int32_t (*GetSendTimeout)(int32_t* ms);
    int32_t (*IsConnected)();
    uint32_t (*GetBaudRate)();
};

// Six entries describing an interface; static data of its module.
struct InterfaceTable {
    int32_t (*Check)();
    const char16_t* (*GetInterfaceName)();
    int32_t (*SettingDialog)();
    const char16_t* (*GetPortName)();
    PortOpTable* (*GetSelectedPortIF)();
    const char16_t* (*GetPortDescription)();
};

// The entry point every port plug-in module exports as "GetPivraInterfaceW". Null refuses.
typedef InterfaceTable* (*GetPivraInterfaceWFn)(PortParamBlock* params);

} // extern "C"

static_assert(sizeof(void*) == 8, "the port contract assumes 64-bit pointers");
static_assert(sizeof(PortParamBlock) == 96);
static_assert(offsetof(PortParamBlock, firstReceiveTimeout) == 44);
static_assert(offsetof(PortParamBlock, nextReceiveTimeout) == 48);
static_assert(offsetof(PortParamBlock, sendTimeout) == 52);
static_assert(offsetof(PortParamBlock, programFolder) == 56);
static_assert(offsetof(PortParamBlock, settingsFilePath) == 64);
static_assert(offsetof(PortParamBlock, channelSectionName) == 72);
static_assert(offsetof(PortParamBlock, reserved1) == 80);
static_assert(sizeof(PortOpTable) == 10 * sizeof(void*));
static_assert(offsetof(PortOpTable, GetBaudRate) == 72);
static_assert(sizeof(InterfaceTable) == 6 * sizeof(void*));
static_assert(offsetof(InterfaceTable, GetPortDescription) == 40);

// Result codes shared by every port.
enum : int32_t {
    PORT_OK = 0,
    PORT_ERROR = 1,            // Connect: already connected, or the receive thread did not start
    PORT_INVALID_ARGUMENT = 3, // a null callback or out-pointer
    PORT_SEND_FAILED = 5,      // SendData of the built-in port: not all bytes went out in time
    PORT_OPEN_FAILED = 8,
    PORT_GET_STATE_FAILED = 9,
    PORT_SET_STATE_FAILED = 10,
    PORT_QUEUE_SIZE_FAILED = 11,
    PORT_PURGE_FAILED = 12,
    PORT_TIMEOUTS_FAILED = 13,
    PORT_DTR_FAILED = 14,
};
