// Direct access to the engine's transaction state, for tests and fuzz targets that drive one
// step of a transaction or a display without a camera. The program itself never uses it.
#pragma once

#include "comm/CommunicateModel.h"

class clCommunicateModelProbe {
public:
    static void SetPhase(clCommunicateModel& e, int32_t phase) { e.m_phase = phase; }
    static void SetStatus(clCommunicateModel& e, int32_t status) { e.m_status = status; }
    static void SetReplyCode(clCommunicateModel& e, int32_t code) { e.m_replyCode = code; }
    static void SetBusy(clCommunicateModel& e, int32_t busy) { e.m_busy = busy; }
    static int32_t Status(const clCommunicateModel& e) { return e.m_status; }
    static int32_t ReplyCode(const clCommunicateModel& e) { return e.m_replyCode; }
    static int32_t LastSendResult(const clCommunicateModel& e) { return e.m_lastSendResult; }
    static uint64_t CommandLength(const clCommunicateModel& e) { return e.m_commandLength; }
    static platform::Event& CancelEvent(clCommunicateModel& e) { return e.m_cancelEvent; }
    static clJobMailbox& Mailbox(clCommunicateModel& e) { return e.m_mailbox; }
    static bool EventsOpen(clCommunicateModel& e) { return e.m_gate.IsOpen(); }

    // One transaction and its classification, as a job step runs them (no events but those
    // the transaction itself sends).
    static int32_t RunTransaction(clCommunicateModel& e, bool& stop, std::u16string_view command) {
        return e.RunTransaction(stop, command);
    }
    static void ClassifyReply(clCommunicateModel& e) { e.ClassifyReply(); }
    static void BeginTransaction(clCommunicateModel& e) { e.BeginTransaction(); }
    static void AwaitReply(clCommunicateModel& e) { e.AwaitReply(); }
    static bool TakeReplyBytes(clCommunicateModel& e) { return e.TakeReplyBytes(); }
    static int32_t ReceiveReply(clCommunicateModel& e, bool& stop) { return e.ReceiveReply(stop); }
    static void RestartReceiveTimer(clCommunicateModel& e) { e.RestartReceiveTimer(); }
    static void ReportTransactionError(clCommunicateModel& e) { e.ReportTransactionError(); }
    // The reply lines left after classification (a transaction's report takes them).
    static std::vector<std::u16string> ReplyLines(clCommunicateModel& e) {
        std::lock_guard<std::mutex> guard(e.m_replyLinesLock);
        return {e.m_replyLines.begin(), e.m_replyLines.end()};
    }
};
