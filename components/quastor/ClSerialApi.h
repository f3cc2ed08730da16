// The standard Camera Link serial API as a frame-grabber vendor's library exports it (C
// linkage, versions 1.0 and 1.1), with its result codes and baud-rate codes. Shared by the
// serial utility component, the Camera Link plug-in and the simulated library.
#pragma once

#include <cstdint>

extern "C" {

typedef void* hSerRef;

// Version 1.0.
typedef int32_t (*clSerialInitFn)(uint32_t serialIndex, hSerRef* serialRef);
typedef int32_t (*clSerialReadFn)(hSerRef serialRef, char* buffer, uint32_t* bufferSize,
                                  uint32_t serialTimeout);
typedef int32_t (*clSerialWriteFn)(hSerRef serialRef, char* buffer, uint32_t* bufferSize,
                                   uint32_t serialTimeout);
typedef void (*clSerialCloseFn)(hSerRef serialRef);
// Version 1.1.
typedef int32_t (*clFlushPortFn)(hSerRef serialRef);
typedef int32_t (*clGetErrorTextFn)(int32_t errorCode, char* errorText, uint32_t* errorTextSize);
typedef int32_t (*clGetManufacturerInfoFn)(char* manufacturerName, uint32_t* bufferSize,
                                           uint32_t* version);
typedef int32_t (*clGetNumBytesAvailFn)(hSerRef serialRef, uint32_t* numBytes);
typedef int32_t (*clGetNumSerialPortsFn)(uint32_t* numSerialPorts);
typedef int32_t (*clGetSerialPortIdentifierFn)(uint32_t serialIndex, char* portId,
                                               uint32_t* bufferSize);
typedef int32_t (*clGetSupportedBaudRatesFn)(hSerRef serialRef, uint32_t* baudRates);
typedef int32_t (*clSetBaudRateFn)(hSerRef serialRef, uint32_t baudRate);

} // extern "C"

enum : int32_t {
    CL_ERR_NO_ERR = 0,
    CL_ERR_BUFFER_TOO_SMALL = -10001,
    CL_ERR_MANU_DOES_NOT_EXIST = -10002,
    CL_ERR_PORT_IN_USE = -10003,
    CL_ERR_TIMEOUT = -10004,
    CL_ERR_INVALID_INDEX = -10005,
    CL_ERR_INVALID_REFERENCE = -10006,
    CL_ERR_ERROR_NOT_FOUND = -10007,
    CL_ERR_BAUD_RATE_NOT_SUPPORTED = -10008,
    CL_ERR_OUT_OF_MEMORY = -10009,
    CL_ERR_UNABLE_TO_LOAD_DLL = -10098,
    CL_ERR_FUNCTION_NOT_FOUND = -10099,
};

// Library versions reported by clGetManufacturerInfo (and kept in CLLibraryRecord).
enum : int32_t {
    CL_DLL_VERSION_NO_VERSION = 1,
    CL_DLL_VERSION_1_0 = 2,
    CL_DLL_VERSION_1_1 = 3,
};

// Baud-rate codes (bit mask of clGetSupportedBaudRates, argument of clSetBaudRate).
enum : uint32_t {
    CL_BAUDRATE_9600 = 1,
    CL_BAUDRATE_19200 = 2,
    CL_BAUDRATE_38400 = 4,
    CL_BAUDRATE_57600 = 8,
    CL_BAUDRATE_115200 = 16,
    CL_BAUDRATE_230400 = 32,
    CL_BAUDRATE_460800 = 64,
    CL_BAUDRATE_921600 = 128,
};

// The CL_BAUDRATE code of a speed in bits per second; 0xFFFFFFFF for a speed without one.
constexpr uint32_t ClBaudRateCode(uint32_t baudRate) {
    switch (baudRate) {
    case 9600:
        return CL_BAUDRATE_9600;
    case 19200:
        return CL_BAUDRATE_19200;
    case 38400:
        return CL_BAUDRATE_38400;
    case 57600:
        return CL_BAUDRATE_57600;
    case 115200:
        return CL_BAUDRATE_115200;
    case 230400:
        return CL_BAUDRATE_230400;
    case 460800:
        return CL_BAUDRATE_460800;
    case 921600:
        return CL_BAUDRATE_921600;
    default:
        return 0xFFFFFFFF;
    }
}
