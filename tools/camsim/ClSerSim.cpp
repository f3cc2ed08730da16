// A simulated vendor library with the standard Camera Link serial API: two channels, each with
// a simulated TARN camera (clCameraSim) answering every command line ended by CR.
//
// Built twice: libclsersim.so offers API version 1.1 (manufacturer information, port
// identifiers, baud rates, flush, availability); libclsersim10.so only the functions of 1.0
// (and the port count), so its users read byte by byte.
//
// The camera definition comes from CLSERSIM_DEFINITION, else CamDefine/XC-100.xml of the folder
// above this library (the program folder when the library lies in its clserial/ folder); a
// camera without a definition still answers "sta". CLSERSIM_MAX_BAUD (bits per second) limits
// the speeds the 1.1 library supports to those up to it, as a frame grabber that stops at
// 115200 does. Tests steer faults and read counters through clsersim_Control and clsersim_Stat.
#include "components/quastor/ClSerialApi.h"
#include "platform/Module.h"
#include "platform/Text.h"
#include "tools/camsim/CameraSim.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#define CLSERSIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr uint32_t kChannels = 2;
constexpr uint32_t kAllBaudRates = 0xFF;
constexpr size_t kMaxPending = 1 << 20; // bytes the host has not read; more are dropped

struct Channel {
    bool open = false;
    bool loaded = false;
    std::string toHost;  // the camera's answers not yet read
    std::string command; // the line being received
    uint32_t baudCode = CL_BAUDRATE_9600;
    clCameraSim sim;
};

// The CL_BAUDRATE codes of the speeds up to maxBaud.
uint32_t CodesUpTo(uint64_t maxBaud) {
    uint32_t mask = 0;
    for (uint32_t rate : {9600u, 19200u, 38400u, 57600u, 115200u, 230400u, 460800u, 921600u})
        if (rate <= maxBaud)
            mask |= ClBaudRateCode(rate);
    return mask;
}

// Every speed, or those up to CLSERSIM_MAX_BAUD when it holds a number.
uint32_t DefaultBaudMask() {
    const char* env = std::getenv("CLSERSIM_MAX_BAUD");
    if (!env || !*env)
        return kAllBaudRates;
    char* end = nullptr;
    const unsigned long long max = std::strtoull(env, &end, 10);
    return end && *end == '\0' ? CodesUpTo(max) : kAllBaudRates;
}

struct Library {
    std::mutex lock;
    std::condition_variable changed;
    Channel channels[kChannels];
    // Faults and counters.
    uint32_t baudMask = DefaultBaudMask();
    bool failIdentifier = false;
    bool failFlush = false;
    bool failInit = false;
    int64_t writes = 0;
    int64_t staleWrites = 0; // clSerialWrite calls on a reference that is not (or no more) open
    int64_t reads = 0;
    int64_t minReadTimeout = -1; // the shortest and longest time-out a read was given
    int64_t maxReadTimeout = -1;
    int64_t lastWriteTimeout = -1; // the time-out the last write was given
    int64_t inits = 0;
    int64_t lastBaudCode = -1;
};

Library& L() {
    static Library lib;
    return lib;
}

std::string DefaultDefinition() {
    if (const char* env = std::getenv("CLSERSIM_DEFINITION"); env && *env)
        return env;
    static const int anchor = 0;
    std::string folder = platform::ModuleFolderOf(&anchor);
    if (folder.empty())
        return {};
    // The definitions lie beside the library's folder.
    folder.pop_back();
    return folder.substr(0, folder.rfind('/') + 1) + "CamDefine/XC-100.xml";
}

// The channel behind a reference; null for anything this library did not hand out or closed.
Channel* ChannelOf(hSerRef ref) {
    Library& lib = L();
    for (Channel& c : lib.channels)
        if (ref == &c && c.open)
            return &c;
    return nullptr;
}

#if CLSERSIM_API_11
std::string Identifier(uint32_t index) {
    return "SIM-CL channel " + std::to_string(index);
}
#endif

} // namespace

CLSERSIM_EXPORT int32_t clSerialInit(uint32_t serialIndex, hSerRef* serialRef) {
    if (!serialRef)
        return CL_ERR_INVALID_REFERENCE;
    *serialRef = nullptr;
    Library& lib = L();
    std::lock_guard<std::mutex> guard(lib.lock);
    ++lib.inits;
    if (lib.failInit)
        return CL_ERR_MANU_DOES_NOT_EXIST;
    if (serialIndex >= kChannels)
        return CL_ERR_INVALID_INDEX;
    Channel& c = lib.channels[serialIndex];
    if (c.open)
        return CL_ERR_PORT_IN_USE;
    if (!c.loaded) {
        const std::string definition = DefaultDefinition();
        if (!definition.empty() && c.sim.Load(definition) == kLoadOk) {
            std::string stem = definition.substr(definition.rfind('/') + 1);
            stem = stem.substr(0, stem.rfind('.'));
            c.sim.identity.model = platform::Utf8ToUtf16(stem);
        }
        c.sim.identity.serial = serialIndex == 0 ? u"00000001" : u"00000002";
        c.loaded = true;
    }
    c.open = true;
    c.toHost.clear();
    c.command.clear();
    *serialRef = &c;
    return CL_ERR_NO_ERR;
}

CLSERSIM_EXPORT void clSerialClose(hSerRef serialRef) {
    Library& lib = L();
    std::lock_guard<std::mutex> guard(lib.lock);
    if (Channel* c = ChannelOf(serialRef)) {
        c->open = false;
        c->toHost.clear();
        c->command.clear();
    }
    lib.changed.notify_all();
}

CLSERSIM_EXPORT int32_t clSerialWrite(hSerRef serialRef, char* buffer, uint32_t* bufferSize,
                                      uint32_t serialTimeout) {
    if (!buffer || !bufferSize)
        return CL_ERR_INVALID_REFERENCE;
    Library& lib = L();
    std::lock_guard<std::mutex> guard(lib.lock);
    lib.lastWriteTimeout = serialTimeout;
    Channel* c = ChannelOf(serialRef);
    if (!c) {
        lib.staleWrites += serialRef != nullptr;
        return CL_ERR_INVALID_REFERENCE;
    }
    ++lib.writes;
    for (uint32_t i = 0; i < *bufferSize; ++i) {
        const char b = buffer[i];
        if (b == '\r') {
            std::string answer = c->sim.Answer(c->command);
            if (c->toHost.size() + answer.size() <= kMaxPending)
                c->toHost += answer;
            c->command.clear();
        } else if (b != '\n' && c->command.size() < 4096) {
            c->command.push_back(b);
        }
    }
    lib.changed.notify_all();
    return CL_ERR_NO_ERR;
}

// Reads *bufferSize bytes, waiting at most serialTimeout ms for them; fewer give
// CL_ERR_TIMEOUT with *bufferSize set to the count read.
CLSERSIM_EXPORT int32_t clSerialRead(hSerRef serialRef, char* buffer, uint32_t* bufferSize,
                                     uint32_t serialTimeout) {
    if (!buffer || !bufferSize)
        return CL_ERR_INVALID_REFERENCE;
    Library& lib = L();
    std::unique_lock<std::mutex> guard(lib.lock);
    ++lib.reads;
    const int64_t t = serialTimeout;
    lib.minReadTimeout = lib.minReadTimeout < 0 ? t : std::min(lib.minReadTimeout, t);
    lib.maxReadTimeout = std::max(lib.maxReadTimeout, t);
    const uint32_t wanted = *bufferSize;
    *bufferSize = 0;
    Channel* c = ChannelOf(serialRef);
    if (!c)
        return CL_ERR_INVALID_REFERENCE;
    lib.changed.wait_for(guard, std::chrono::milliseconds(serialTimeout),
                         [&] { return !c->open || c->toHost.size() >= wanted; });
    if (!c->open)
        return CL_ERR_INVALID_REFERENCE;
    const size_t n = std::min<size_t>(wanted, c->toHost.size());
    // Bytes of the line, not a C string: nothing is terminated.
    std::memcpy(buffer, c->toHost.data(), n); // NOLINT(bugprone-not-null-terminated-result)
    c->toHost.erase(0, n);
    *bufferSize = static_cast<uint32_t>(n);
    return n == wanted ? CL_ERR_NO_ERR : CL_ERR_TIMEOUT;
}

// CLSERSIM_NO_PORTS=1: the frame grabber is not there (yet); the count fails.
CLSERSIM_EXPORT int32_t clGetNumSerialPorts(uint32_t* numSerialPorts) {
    if (!numSerialPorts)
        return CL_ERR_INVALID_REFERENCE;
    if (const char* env = std::getenv("CLSERSIM_NO_PORTS"); env && std::string(env) == "1")
        return CL_ERR_MANU_DOES_NOT_EXIST;
    *numSerialPorts = kChannels;
    return CL_ERR_NO_ERR;
}

#if CLSERSIM_API_11

CLSERSIM_EXPORT int32_t clGetManufacturerInfo(char* manufacturerName, uint32_t* bufferSize,
                                              uint32_t* version) {
    static const char name[] = "Quillon camera simulator";
    if (!bufferSize || !version)
        return CL_ERR_INVALID_REFERENCE;
    *version = CL_DLL_VERSION_1_1;
    if (!manufacturerName || *bufferSize < sizeof name) {
        *bufferSize = sizeof name;
        return CL_ERR_BUFFER_TOO_SMALL;
    }
    std::memcpy(manufacturerName, name, sizeof name);
    *bufferSize = sizeof name;
    return CL_ERR_NO_ERR;
}

CLSERSIM_EXPORT int32_t clGetErrorText(int32_t errorCode, char* errorText,
                                       uint32_t* errorTextSize) {
    if (!errorTextSize)
        return CL_ERR_INVALID_REFERENCE;
    const std::string text = "error " + std::to_string(errorCode);
    if (!errorText || *errorTextSize <= text.size()) {
        *errorTextSize = static_cast<uint32_t>(text.size() + 1);
        return CL_ERR_BUFFER_TOO_SMALL;
    }
    std::memcpy(errorText, text.c_str(), text.size() + 1);
    return CL_ERR_NO_ERR;
}

CLSERSIM_EXPORT int32_t clGetSerialPortIdentifier(uint32_t serialIndex, char* portId,
                                                  uint32_t* bufferSize) {
    if (!bufferSize)
        return CL_ERR_INVALID_REFERENCE;
    if (serialIndex >= kChannels)
        return CL_ERR_INVALID_INDEX;
    const std::string text = Identifier(serialIndex);
    const uint32_t needed = static_cast<uint32_t>(text.size() + 1);
    if (!portId || *bufferSize < needed) {
        *bufferSize = needed;
        return CL_ERR_BUFFER_TOO_SMALL;
    }
    {
        Library& lib = L();
        std::lock_guard<std::mutex> guard(lib.lock);
        if (lib.failIdentifier)
            return CL_ERR_ERROR_NOT_FOUND;
    }
    std::memcpy(portId, text.c_str(), needed);
    *bufferSize = needed;
    return CL_ERR_NO_ERR;
}

CLSERSIM_EXPORT int32_t clFlushPort(hSerRef serialRef) {
    Library& lib = L();
    std::lock_guard<std::mutex> guard(lib.lock);
    Channel* c = ChannelOf(serialRef);
    if (!c)
        return CL_ERR_INVALID_REFERENCE;
    if (lib.failFlush)
        return CL_ERR_ERROR_NOT_FOUND;
    c->toHost.clear();
    c->command.clear();
    return CL_ERR_NO_ERR;
}

CLSERSIM_EXPORT int32_t clGetNumBytesAvail(hSerRef serialRef, uint32_t* numBytes) {
    if (!numBytes)
        return CL_ERR_INVALID_REFERENCE;
    Library& lib = L();
    std::lock_guard<std::mutex> guard(lib.lock);
    Channel* c = ChannelOf(serialRef);
    if (!c)
        return CL_ERR_INVALID_REFERENCE;
    *numBytes = static_cast<uint32_t>(c->toHost.size());
    return CL_ERR_NO_ERR;
}

CLSERSIM_EXPORT int32_t clGetSupportedBaudRates(hSerRef serialRef, uint32_t* baudRates) {
    if (!baudRates)
        return CL_ERR_INVALID_REFERENCE;
    Library& lib = L();
    std::lock_guard<std::mutex> guard(lib.lock);
    if (!ChannelOf(serialRef))
        return CL_ERR_INVALID_REFERENCE;
    *baudRates = lib.baudMask;
    return CL_ERR_NO_ERR;
}

CLSERSIM_EXPORT int32_t clSetBaudRate(hSerRef serialRef, uint32_t baudRate) {
    Library& lib = L();
    std::lock_guard<std::mutex> guard(lib.lock);
    Channel* c = ChannelOf(serialRef);
    if (!c)
        return CL_ERR_INVALID_REFERENCE;
    lib.lastBaudCode = baudRate;
    // Exactly one supported rate bit.
    if (baudRate == 0 || (baudRate & (baudRate - 1)) != 0 || (baudRate & lib.baudMask) == 0)
        return CL_ERR_BAUD_RATE_NOT_SUPPORTED;
    c->baudCode = baudRate;
    return CL_ERR_NO_ERR;
}

#endif // CLSERSIM_API_11

// ---- Test control ----------------------------------------------------------------------
// Options: "fail_identifier", "fail_flush", "fail_init" (0/1), "baud_mask" (supported codes),
// "max_baud" (supported: the speeds up to this many bits per second), "reset" (faults off,
// speeds as CLSERSIM_MAX_BAUD says, counters zero). 0, or -1 for an unknown option.
CLSERSIM_EXPORT int32_t clsersim_Control(const char* option, int64_t value) {
    if (!option)
        return -1;
    Library& lib = L();
    std::lock_guard<std::mutex> guard(lib.lock);
    const std::string o = option;
    if (o == "fail_identifier")
        lib.failIdentifier = value != 0;
    else if (o == "fail_flush")
        lib.failFlush = value != 0;
    else if (o == "fail_init")
        lib.failInit = value != 0;
    else if (o == "baud_mask")
        lib.baudMask = static_cast<uint32_t>(value);
    else if (o == "max_baud")
        lib.baudMask = CodesUpTo(value < 0 ? 0 : static_cast<uint64_t>(value));
    else if (o == "reset") {
        lib.failIdentifier = lib.failFlush = lib.failInit = false;
        lib.baudMask = DefaultBaudMask();
        lib.writes = lib.staleWrites = lib.reads = lib.inits = 0;
        lib.minReadTimeout = lib.maxReadTimeout = lib.lastWriteTimeout = -1;
        lib.lastBaudCode = -1;
    } else
        return -1;
    return 0;
}

// Counters: "writes" (clSerialWrite calls on an open channel), "stale_writes" (on a reference
// that is closed or was never handed out), "reads" (clSerialRead calls), "min_read_timeout" and
// "max_read_timeout" (-1 before any read), "last_write_timeout" (-1 before any write), "inits"
// (clSerialInit calls), "last_baud_code" (-1
// before any clSetBaudRate), "open" (channels open). -1 for an unknown name.
CLSERSIM_EXPORT int64_t clsersim_Stat(const char* name) {
    if (!name)
        return -1;
    Library& lib = L();
    std::lock_guard<std::mutex> guard(lib.lock);
    const std::string n = name;
    if (n == "writes")
        return lib.writes;
    if (n == "stale_writes")
        return lib.staleWrites;
    if (n == "reads")
        return lib.reads;
    if (n == "min_read_timeout")
        return lib.minReadTimeout;
    if (n == "max_read_timeout")
        return lib.maxReadTimeout;
    if (n == "last_write_timeout")
        return lib.lastWriteTimeout;
    if (n == "inits")
        return lib.inits;
    if (n == "last_baud_code")
        return lib.lastBaudCode;
    if (n == "open") {
        int64_t open = 0;
        for (const Channel& c : lib.channels)
            open += c.open;
        return open;
    }
    return -1;
}
