#include "plugins/camera_link/PortCameraLink.h"

#include "platform/IniProfile.h"
#include "platform/Text.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <thread>

namespace {

std::u16string Format(const char* format, int64_t a, int64_t b) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b);
    return platform::Utf8ToUtf16(text);
}

std::u16string Format(const char* format, int64_t a) {
    char text[160];
    std::snprintf(text, sizeof text, format, a);
    return platform::Utf8ToUtf16(text);
}

// The speeds of the dialog's list whose codes are in a clGetSupportedBaudRates mask.
std::u16string SpeedList(uint32_t codes) {
    std::string text;
    for (uint32_t rate : QuastorBaudRates()) {
        const uint32_t code = ClBaudRateCode(rate);
        if (code == clPortCameraLink::kNoBaudRateCode || (codes & code) == 0)
            continue;
        if (!text.empty())
            text += ", ";
        text += std::to_string(rate);
    }
    return platform::Utf8ToUtf16(text);
}

} // namespace

clPortCameraLink::clPortCameraLink(clCamCtrl* ownerContext) : clCamPort(ownerContext) {}

clPortCameraLink::~clPortCameraLink() {
    Disconnect();
    UninitReceive();
}

int32_t clPortCameraLink::Reset() {
    clCamPort::Reset();
    library = nullptr;
    serialRef = nullptr;
    m_channelLibrary = nullptr;
    serialParams.dataBits = 0;
    serialParams.baudRate = 0;
    return 0;
}

void clPortCameraLink::LoadSettings() {
    const std::u16string path = owner ? owner->settingsPath : std::u16string();
    readTimeout = std::clamp<uint32_t>(
        platform::ReadSettingInt(settingsSection, u"Timeout one Read", kDefaultTimeout, path),
        kMinTimeout, kMaxTimeout);
    writeTimeout =
        platform::ReadSettingInt(settingsSection, u"Timeout one Write", kDefaultTimeout, path);
}

int32_t clPortCameraLink::Init() {
    LoadSettings();
    const std::u16string path = owner ? owner->settingsPath : std::u16string();
    LirnoLoadCLSerParaW(path.c_str(), identity.portName.c_str(), &serialParams);
    return InitReceive() == PORT_OK ? 0 : PORT_ERROR;
}

void clPortCameraLink::Uninit() {
    UninitReceive();
}

PortReasonInfo clPortCameraLink::OpenFailureReason(int32_t error) const {
    if (!library) {
        if (unavailable.kind != PORT_REASON_NONE)
            return unavailable;
        PortReasonInfo missing;
        if (!identity.devicePath.empty()) {
            missing.kind = PORT_REASON_LIBRARY_MISSING;
            missing.name = identity.devicePath;
        }
        return missing;
    }
    PortReasonInfo out;
    if (error == CL_ERR_INVALID_INDEX) {
        out.kind = PORT_REASON_CHANNEL_MISSING;
        out.number = static_cast<uint32_t>(identity.index);
        out.count = library->portCount;
        out.name = identity.devicePath;
    }
    return out;
}

int32_t clPortCameraLink::Connect() {
    if (openFlag)
        return PORT_ERROR;
    reason = {};
    hSerRef ref = nullptr;
    int32_t error = 0;
    const int32_t r =
        LirnoSafeSerialInit(library, static_cast<uint32_t>(identity.index), &ref, &error);
    if (r != 0 || error != 0) {
        WriteLog(Format("SafeSerialInit = %" PRId64 ", %" PRId64, error, r));
        reason = OpenFailureReason(error);
        return PORT_OPEN_FAILED;
    }
    serialRef = ref;
    m_channelLibrary = library;
    m_disconnecting = false;
    openFlag = 1;

    CLLibraryRecord* lib = m_channelLibrary;
    const bool v11 = lib->apiVersion >= CL_DLL_VERSION_1_1;
    if (v11) {
        // What the channel supports only words a refusal: the library has the last say.
        uint32_t supported = 0;
        if (lib->clGetSupportedBaudRates(serialRef, &supported) != CL_ERR_NO_ERR)
            supported = 0;
        const uint32_t code = ClBaudRateCode(serialParams.baudRate);
        int32_t rr = lib->clSetBaudRate(serialRef, code);
        if (rr != 0) {
            WriteLog(Format("clSetBaudRate = %" PRId64 ", %" PRId64, rr, PORT_SET_STATE_FAILED));
            reason.kind = PORT_REASON_SPEED_REFUSED;
            reason.number = serialParams.baudRate;
            reason.detail = SpeedList(supported);
            return PORT_SET_STATE_FAILED;
        }
        rr = lib->clFlushPort(serialRef);
        if (rr != 0) {
            WriteLog(
                Format("clFlushPort in Connect = %" PRId64 ", %" PRId64, rr, PORT_PURGE_FAILED));
            return PORT_PURGE_FAILED;
        }
    }
    const int32_t started = StartReceiveThread([this, v11] {
        if (v11)
            AvailabilityReader();
        else
            ByteReader();
    });
    return started == PORT_OK ? PORT_OK : PORT_ERROR;
}

void clPortCameraLink::Disconnect() {
    if (!openFlag)
        return;
    // A send under way stops after its current byte; the wait for it is bounded, whatever
    // write time-out the user stored. A send that does not end keeps the channel open.
    m_disconnecting = true;
    StopReceiveThread();
    std::unique_lock<ChannelLock> sending(channelLock, std::defer_lock);
    if (!sending.try_lock_for(std::chrono::milliseconds(kWriteWaitMs))) {
        WriteLog(u"Channel left open: a write still runs");
        openFlag = 0;
        return;
    }
    CLLibraryRecord* lib = m_channelLibrary;
    if (receiveThread.Running()) {
        WriteLog(u"Channel left open: its receive thread still runs");
        lib = nullptr;
    }
    if (lib && serialRef) {
        if (lib->apiVersion >= CL_DLL_VERSION_1_1) {
            const int32_t r = lib->clFlushPort(serialRef);
            if (r != 0)
                WriteLog(Format("clFlushPort in Disconnect = %" PRId64, r));
        }
        LirnoSafeSerialClose(lib, serialRef);
    }
    serialRef = nullptr;
    m_channelLibrary = nullptr;
    openFlag = 0;
}

int32_t clPortCameraLink::SendData(const uint8_t* bytes, uint32_t length) {
    std::lock_guard<ChannelLock> sending(channelLock);
    CLLibraryRecord* lib = m_channelLibrary;
    const hSerRef ref = serialRef;
    // An empty send, or one without an open channel, reports failure without calling the
    // library.
    if (length == 0 || !bytes || !lib || !ref)
        return 1;
    int32_t r = CL_ERR_ERROR_NOT_FOUND;
    for (uint32_t i = 0; i < length; ++i) {
        if (m_disconnecting) {
            r = CL_ERR_ERROR_NOT_FOUND;
            break;
        }
        char byte = static_cast<char>(bytes[i]);
        uint32_t size = 1;
        r = lib->clSerialWrite(ref, &byte, &size, writeTimeout);
        if (r != 0) {
            WriteLog(Format("clPortCameraLink::SendData = %" PRId64, r));
            break;
        }
        if (i + 1 < length)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return r != 0 ? 1 : 0;
}

bool clPortCameraLink::StopRequested() const {
    return !stopEvent || stopEvent->IsSignalled();
}

void clPortCameraLink::ByteReader() {
    CLLibraryRecord* lib = m_channelLibrary;
    while (!StopRequested()) {
        char byte = 0;
        uint32_t size = 1;
        const int32_t r = lib->clSerialRead(serialRef, &byte, &size, readTimeout);
        if (r != 0 || size == 0) {
            // The read itself waited up to the read time-out; a library that fails at once
            // (other than by its time-out) is asked again after a millisecond, not in a spin.
            // A library that returns before its time-out must not make this a spin either.
            platform::WaitForAny({stopEvent.get()}, 1);
            continue;
        }
        const uint8_t b = static_cast<uint8_t>(byte);
        DeliverReceived(&b, 1);
    }
}

void clPortCameraLink::AvailabilityReader() {
    CLLibraryRecord* lib = m_channelLibrary;
    const uint64_t bytesPerSecond = std::max<uint64_t>(serialParams.baudRate / 10, 1);
    while (!StopRequested()) {
        uint32_t avail = 0;
        const int32_t r = lib->clGetNumBytesAvail(serialRef, &avail);
        if (r != 0 || avail == 0) {
            // Nothing to read: wait a millisecond on the stop event rather than spinning.
            platform::WaitForAny({stopEvent.get()}, 1);
            continue;
        }
        while (avail != 0 && !StopRequested()) {
            uint32_t room = 0;
            uint8_t* space = ReceiveSpace(room);
            if (!space || room == 0)
                return;
            // At most one second of bytes per read keeps every read within the bound above.
            const uint32_t n =
                static_cast<uint32_t>(std::min<uint64_t>(std::min(avail, room), bytesPerSecond));
            uint32_t size = n;
            const uint64_t t = (n / bytesPerSecond + 1) * 1000 + readTimeout;
            (void)lib->clSerialRead(serialRef, reinterpret_cast<char*>(space), &size,
                                    static_cast<uint32_t>(std::min<uint64_t>(t, UINT32_MAX)));
            size = std::min(size, n);
            if (size >= 1)
                CommitReceived(size);
            avail -= size;
            if (size == 0)
                break; // the library reported bytes it then did not give: ask again
        }
    }
}

std::u16string clPortCameraLink::SerialPortIdentifier(int32_t index,
                                                      const CLLibraryRecord* record) {
    const CLLibraryRecord* rec = record ? record : library;
    if (!rec || rec->apiVersion <= 2 || index < 0)
        return {};
    if (rec->libraryHandle)
        return QuastorPortIdentifier(rec, static_cast<uint32_t>(index));
    // The library is not resident: load it for this one question. The address found is used
    // here only and never kept, since the library is unloaded again afterwards.
    const std::string path = QuastorLibraryPath(identity.devicePath);
    if (path.empty())
        return {};
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return {};
    CLLibraryRecord probe{};
    probe.clGetSerialPortIdentifier =
        reinterpret_cast<clGetSerialPortIdentifierFn>(dlsym(handle, "clGetSerialPortIdentifier"));
    std::u16string out = QuastorPortIdentifier(&probe, static_cast<uint32_t>(index));
    dlclose(handle);
    return out;
}
