#include "port/CamPort.h"

#include "base/SimpleLog.h"

#include <algorithm>
#include <cstring>
#include <new>

clCamPort::clCamPort(clCamCtrl* ownerContext) : owner(ownerContext) {}

clCamPort::~clCamPort() {
    if (receiveThread.Exists())
        StopReceiveThread();
    KeepForRunningThread();
}

void clCamPort::KeepForRunningThread() {
    // A receive thread left running by a join that gave up still polls the stop event and
    // writes into the staging buffer: they are never freed under it.
    if (!receiveThread.Running())
        return;
    (void)stopEvent.release();
    (void)staging.release();
    stagingRing.SetCapacity(0);
}

int32_t clCamPort::Reset() {
    if (receiveThread.Exists())
        StopReceiveThread();
    KeepForRunningThread();
    openFlag = 0;
    sendTimeout = kDefaultSendTimeout;
    settingsSection.clear();
    stopEvent.reset();
    staging.reset();
    stagingSize = kStagingSize;
    stagingRing.SetCapacity(0);
    stagingRing.SetPosition(0);
    totalReceived = 0;
    std::lock_guard<std::mutex> guard(callbackLock);
    callback = nullptr;
    callbackUser = nullptr;
    return 0;
}

int32_t clCamPort::SetReceiveCallback(ReceiveCallback cb, void* user) {
    if (!cb && user)
        return PORT_INVALID_ARGUMENT;
    std::lock_guard<std::mutex> guard(callbackLock);
    callback = cb;
    callbackUser = user;
    return PORT_OK;
}

int32_t clCamPort::SetSendTimeout(int32_t ms) {
    sendTimeout = ms;
    return PORT_OK;
}

int32_t clCamPort::GetSendTimeout(int32_t* out) {
    if (!out)
        return PORT_INVALID_ARGUMENT;
    *out = sendTimeout;
    return PORT_OK;
}

int32_t clCamPort::IsConnected() {
    return openFlag;
}

uint32_t clCamPort::GetBaudRate() {
    return 0;
}

int32_t clCamPort::InitReceive() {
    if (!stopEvent) {
        try {
            stopEvent = std::make_unique<platform::Event>(platform::Event::Reset::Manual);
        } catch (const std::exception&) {
            return PORT_ERROR;
        }
    }
    if (!staging) {
        staging.reset(new (std::nothrow) uint8_t[kStagingSize]);
        if (!staging)
            return PORT_ERROR;
    }
    stagingSize = kStagingSize;
    stagingRing.SetCapacity(kStagingSize);
    stagingRing.SetPosition(0);
    return PORT_OK;
}

void clCamPort::UninitReceive() {
    if (receiveThread.Exists())
        StopReceiveThread();
    KeepForRunningThread();
    stopEvent.reset();
    staging.reset();
}

int32_t clCamPort::StartReceiveThread(std::function<void()> body) {
    if (!stopEvent || !staging || receiveThread.Exists() || receiveThread.Running())
        return PORT_ERROR;
    stopEvent->ResetEvent();
    std::memset(staging.get(), 0, static_cast<size_t>(stagingSize));
    stagingRing.SetPosition(0);
    totalReceived = 0;
    return receiveThread.Start(std::move(body)) ? PORT_OK : PORT_ERROR;
}

void clCamPort::StopReceiveThread() {
    if (!receiveThread.Exists())
        return;
    if (stopEvent)
        stopEvent->Set();
    if (!receiveThread.JoinFor(threadStopTimeoutMs)) {
        // The stop event stays signalled, so the thread ends as soon as it can.
        WriteLog(u"Receive thread did not end in time; left running");
        return;
    }
    if (stopEvent)
        stopEvent->ResetEvent();
}

void clCamPort::DeliverReceived(const uint8_t* bytes, size_t length) {
    while (length > 0) {
        uint32_t room = 0;
        uint8_t* space = ReceiveSpace(room);
        if (!space || room == 0)
            return;
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(room, length));
        std::memcpy(space, bytes, n);
        CommitReceived(n);
        bytes += n;
        length -= n;
    }
}

uint8_t* clCamPort::ReceiveSpace(uint32_t& room) {
    const uint64_t capacity = stagingRing.Capacity();
    if (!staging || capacity == 0) {
        room = 0;
        return nullptr;
    }
    const uint64_t pos = stagingRing.Position();
    room = static_cast<uint32_t>(capacity - pos);
    return staging.get() + pos;
}

void clCamPort::CommitReceived(uint32_t n) {
    const uint64_t capacity = stagingRing.Capacity();
    if (n == 0 || !staging || capacity == 0)
        return;
    const uint64_t pos = stagingRing.Position();
    if (n > capacity - pos)
        n = static_cast<uint32_t>(capacity - pos);
    stagingRing.SetPosition((pos + n) % capacity);
    totalReceived += n;
    std::lock_guard<std::mutex> guard(callbackLock);
    if (callback)
        callback(staging.get() + pos, n, callbackUser);
}

void clCamPort::WriteLog(std::u16string_view text) const {
    if (owner && owner->log)
        owner->log->Write(text);
}

// ---------------------------------------------------------------------------------------

int32_t clPortPlugIn::Init() {
    return opTable && opTable->Init ? opTable->Init() : PORT_ERROR;
}

void clPortPlugIn::Uninit() {
    if (opTable && opTable->Uninit)
        opTable->Uninit();
}

int32_t clPortPlugIn::Connect() {
    return opTable && opTable->Connect ? opTable->Connect() : PORT_ERROR;
}

void clPortPlugIn::Disconnect() {
    if (opTable && opTable->Disconnect)
        opTable->Disconnect();
}

int32_t clPortPlugIn::SendData(const uint8_t* bytes, uint32_t length) {
    return opTable && opTable->SendData ? opTable->SendData(bytes, length) : PORT_ERROR;
}

int32_t clPortPlugIn::SetReceiveCallback(ReceiveCallback cb, void* user) {
    if (opTable && opTable->SetReceiveCallback)
        return opTable->SetReceiveCallback(cb, user);
    if (!cb && !user)
        return PORT_OK; // nothing selected: nothing can deliver
    return cb ? PORT_ERROR : PORT_INVALID_ARGUMENT;
}

int32_t clPortPlugIn::SetSendTimeout(int32_t ms) {
    return opTable && opTable->SetSendTimeout ? opTable->SetSendTimeout(ms) : PORT_ERROR;
}

int32_t clPortPlugIn::GetSendTimeout(int32_t* out) {
    if (opTable && opTable->GetSendTimeout)
        return opTable->GetSendTimeout(out);
    return out ? PORT_ERROR : PORT_INVALID_ARGUMENT;
}

int32_t clPortPlugIn::IsConnected() {
    return opTable && opTable->IsConnected ? opTable->IsConnected() : 0;
}

uint32_t clPortPlugIn::GetBaudRate() {
    return opTable && opTable->GetBaudRate ? opTable->GetBaudRate() : 0;
}
