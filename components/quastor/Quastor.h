// Quastor: the Camera Link serial utility component.
//
// It finds the vendors' Camera Link serial libraries (shared libraries exporting at least
// clSerialInit, clSerialRead, clSerialWrite and clSerialClose) in the folder named by the
// environment variable CLSERIALPATH, else in "clserial/" of the program folder; keeps the chosen
// library and channel in the channel section of the settings file ("CameraLink DLL",
// "CameraLink Serial Index") and the serial parameters under the port name; runs the modal
// settings dialog through a hook; loads libraries and opens and closes their channels.
//
// A library is named by its file name inside the search folder, never by a path. A loaded
// library stays resident, and its CLLibraryRecord valid, until the component ends.
// All calls are meant for the user-interface thread; the component still guards its state, so
// a call from another thread does no harm. Nothing thrown leaves a Lirno function.
#pragma once

#include "components/quastor/ClSerialApi.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kClLibraryNameChars = 260;

// The chosen library and channel.
struct CLSettingRecord {
    char16_t libraryName[kClLibraryNameChars]; // file name, NUL-terminated; empty: none chosen
    uint32_t serialIndex;                      // channel index within the library
    uint32_t reserved[3];
};
static_assert(offsetof(CLSettingRecord, serialIndex) == 520);

// Serial parameters of one port. The serial link of Camera Link is 8 data bits, no parity,
// one stop bit; only the speed is a choice.
struct CLSerialParams {
    uint32_t dataBits; // 0: 8
    uint32_t baudRate; // 1: bits per second
    uint32_t parity;   // 2: 0 none
    uint32_t stopBits; // 3: 0 one
};
static_assert(offsetof(CLSerialParams, baudRate) == 4);

// A loaded library. The plug-in reads it at fixed byte offsets (checked below).
struct CLLibraryRecord {
    uint32_t recordSize;                           // 0
    uint32_t portCount;                            // 4: clGetNumSerialPorts, 1 when absent
    uint32_t manufacturerVersion;                  // 8: as clGetManufacturerInfo reported it
    uint32_t reserved0;                            // 12
    int32_t status;                                // 16: 0
    int32_t apiVersion;                            // 20: 3 (1.1) or 2 (1.0)
    uint64_t reserved1;                            // 24
    void* libraryHandle;                           // 32: null when not resident
    clSerialInitFn clSerialInit;                   // 40
    clSerialReadFn clSerialRead;                   // 48
    clSerialWriteFn clSerialWrite;                 // 56
    clSerialCloseFn clSerialClose;                 // 64
    clFlushPortFn clFlushPort;                     // 72
    clGetErrorTextFn clGetErrorText;               // 80
    clGetManufacturerInfoFn clGetManufacturerInfo; // 88
    clGetNumBytesAvailFn clGetNumBytesAvail;       // 96
    clGetNumSerialPortsFn clGetNumSerialPorts;     // 104
    clGetSerialPortIdentifierFn clGetSerialPortIdentifier; // 112
    clGetSupportedBaudRatesFn clGetSupportedBaudRates;     // 120
    clSetBaudRateFn clSetBaudRate;                         // 128
    char16_t libraryName[kClLibraryNameChars];             // 136: file name
    char manufacturer[128];                                // manufacturer name, when reported
};
static_assert(offsetof(CLLibraryRecord, apiVersion) == 20);
static_assert(offsetof(CLLibraryRecord, libraryHandle) == 32);
static_assert(offsetof(CLLibraryRecord, clSerialRead) == 48);
static_assert(offsetof(CLLibraryRecord, clSerialWrite) == 56);
static_assert(offsetof(CLLibraryRecord, clFlushPort) == 72);
static_assert(offsetof(CLLibraryRecord, clGetNumBytesAvail) == 96);
static_assert(offsetof(CLLibraryRecord, clGetSerialPortIdentifier) == 112);
static_assert(offsetof(CLLibraryRecord, clGetSupportedBaudRates) == 120);
static_assert(offsetof(CLLibraryRecord, clSetBaudRate) == 128);

// ---- The settings dialog hook -----------------------------------------------------------
// The dialog itself lives in the user interface. The request is plain C data, so a dialog in
// another module (the program, when the component runs inside a plug-in) can serve it.
extern "C" {

struct QuastorLibraryEntry {
    char16_t fileName[kClLibraryNameChars];
    char16_t manufacturer[128];
    uint32_t portCount;
    int32_t apiVersion;
};

struct QuastorChannelEntry {
    uint32_t library; // index into libraries
    uint32_t serialIndex;
    char16_t identifier[128]; // clGetSerialPortIdentifier, empty when unknown
};

struct QuastorDialogRequest {
    uint32_t structSize;    // sizeof(QuastorDialogRequest)
    const char16_t* folder; // the folder searched, for display
    uint32_t libraryCount;
    const QuastorLibraryEntry* libraries;
    uint32_t channelCount;
    const QuastorChannelEntry* channels;
    uint32_t baudRateCount;
    const uint32_t* baudRates; // offered speeds, bits per second
    // In: the current choice; out (when confirmed): the new one.
    int32_t library; // index into libraries, -1 none
    uint32_t serialIndex;
    uint32_t baudRate;
    // Appended later: a dialog reads it only when structSize covers it. Parallel to channels:
    // bit i set when the channel supports baudRates[i]; 0 when the channel did not say (every
    // speed is offered then).
    const uint32_t* channelRates;
};

// The size of a request before channelRates was appended; a dialog accepts any request at
// least this long.
constexpr uint32_t kQuastorDialogRequestBaseSize = 80;

// Shows the dialog; 1 when the user confirmed (library, serialIndex and baudRate then hold
// the choice), 0 when cancelled.
typedef int32_t (*QuastorDialogHook)(QuastorDialogRequest* request);

} // extern "C"

static_assert(offsetof(QuastorDialogRequest, channelRates) == kQuastorDialogRequestBaseSize);

// The name under which the program exports its dialog hook (looked up in the process when no
// hook was registered with QuastorSetDialogHook).
constexpr const char* kQuastorDialogHookSymbol = "QuillonQuastorSettingDialog";

// Ends the component: closes the channels still open, unloads every library and frees its
// record. For the end of the module that carries the component; a later call starts afresh.
void QuastorShutdown();

// Registers the dialog (null: look it up in the process again). Without a hook the dialog
// reports "cancelled".
void QuastorSetDialogHook(QuastorDialogHook hook);

// ---- The Lirno functions ----------------------------------------------------------------
// Called first: remembers the settings file.
void LirnoInitW(const char16_t* settingsPath);
// Reads the stored choice from the channel section (empty name and index 0 by default).
void LirnoLoadCLSettingParaW(const char16_t* settingsPath, const char16_t* channelSection,
                             CLSettingRecord* record);
// Stores the choice; false when it could not be written.
bool LirnoSaveCLSettingParaW(const char16_t* settingsPath, const char16_t* channelSection,
                             const CLSettingRecord* record);
// The parameters stored under the port name (9600 bps by default and for an empty name).
void LirnoLoadCLSerParaW(const char16_t* settingsPath, const char16_t* portName,
                         CLSerialParams* params);
// Stores the parameters under the port name; false for an empty name or a failed write.
bool LirnoSaveCLSerParaW(const char16_t* settingsPath, const char16_t* portName,
                         const CLSerialParams* params);
// The record of the library the setting names, loading it when needed; null for an empty or
// unusable name or a library that cannot be loaded.
CLLibraryRecord* LirnoGetDLLStatW(const CLSettingRecord* record);
// Writes the port name of the library and channel ("CL_<library stem>_<index>"), truncated to
// length - 1 characters and NUL-terminated. Nothing for a null buffer or length 0.
void LirnoGenerateCLPortNameW(const CLSettingRecord* record, uint32_t serialIndex, char16_t* buffer,
                              uint32_t length);
// The modal settings dialog. 0 when it ran: *result is then 1 when confirmed (both records hold
// the choice) and stays as it was when cancelled. 1 when no dialog could be shown (no hook, bad
// arguments); the records and *result are unchanged then too.
int32_t LirnoSettingDlgExW(const char16_t* settingsPath, const char16_t* channelSection,
                           CLSettingRecord* record, CLSerialParams* params, int32_t* result,
                           int32_t reserved);
// Completes the record with the choice of the last confirmed dialog. Unchanged before one.
void LirnoGetLastSelectW(CLSettingRecord* record);
// Opens a channel. 0 with *error 0 and a valid *serialRef on success; otherwise 1 with the
// reason in *error (CL_ERR_UNABLE_TO_LOAD_DLL for a null record, CL_ERR_INVALID_INDEX for an
// index beyond the library's ports, CL_ERR_PORT_IN_USE when this process has it open, or the
// library's own result) and *serialRef null. 3 for null out-pointers.
int32_t LirnoSafeSerialInit(CLLibraryRecord* record, uint32_t serialIndex, hSerRef* serialRef,
                            int32_t* error);
// Closes a channel opened by LirnoSafeSerialInit; nothing for null arguments or a reference
// this component did not hand out.
void LirnoSafeSerialClose(CLLibraryRecord* record, hSerRef serialRef);

// ---- Helpers, also for tests and the dialog ----------------------------------------------
// The folder searched for libraries, absolute, ending with "/".
std::string QuastorLibraryFolder();
// Absolute path of a library file name in that folder; empty for a name that is not a plain
// file name.
std::string QuastorLibraryPath(std::u16string_view fileName);
// Every usable library of the folder, in name order (loaded, so the records are filled).
std::vector<CLLibraryRecord*> QuastorListLibraries();
// The channel identifier via the record's clGetSerialPortIdentifier; empty when unknown.
std::u16string QuastorPortIdentifier(const CLLibraryRecord* record, uint32_t serialIndex);
// The speeds the dialog offers.
const std::vector<uint32_t>& QuastorBaudRates();
// The CL_BAUDRATE codes a channel supports: every code for a 1.0 library, else what
// clGetSupportedBaudRates reports on the channel (opened for the question when this process
// does not hold it open); 0 when the library does not say.
uint32_t QuastorSupportedBaudCodes(CLLibraryRecord* record, uint32_t serialIndex);

// Why a library cannot be had (what LirnoGetDLLStatW does not say).
enum class QuastorLibraryProblem {
    None,            // it loads
    NotChosen,       // empty name
    Missing,         // no such file in the search folder (or not a plain file name)
    NotLoadable,     // the file is there but does not load
    FunctionMissing, // it loads but lacks a function of version 1.0
};
// Loads the library as LirnoGetDLLStatW would and says why that failed; the first missing
// function's name goes to *function.
QuastorLibraryProblem QuastorDiagnoseLibrary(std::u16string_view fileName,
                                             std::string* function = nullptr);
