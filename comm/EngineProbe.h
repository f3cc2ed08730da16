// Direct access to the engine's transaction state, for tests and fuzz targets that drive one
// step of a transaction or a display without a camera. The program itself never uses it.
#pragma once

#include "comm/CommunicateModel.h"

class clCommunicateModelProbe {
public:
    static void SetPhase(clCommunicateModel& e, int32_t phase) { e.phase = phase; }
    static void SetStatus(clCommunicateModel& e, int32_t status) { e.status = status; }
    static void SetReplyCode(clCommunicateModel& e, int32_t code) { e.replyCode = code; }
    static void SetBusy(clCommunicateModel& e, int32_t busy) { e.busy = busy; }
    static platform::Event& CancelEvent(clCommunicateModel& e) { return e.cancelEvent; }
};
