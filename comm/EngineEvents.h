// What the communication engine tells its client (the window, quillon-cli, the scripting
// service): one typed call per event, each carrying its data, so no client has to read the
// engine's state back to learn what happened. The engine calls them on its own threads; a
// client brings them onto its own thread as it likes (the window through its message queue).
//
// Every call must return promptly, with two exceptions the engine waits for on purpose:
// TransactionEnded, whose reply lines a client applies to the property values before the next
// command is composed, and Ask, which needs the user's answer.
#pragma once

#include "comm/BatchJob.h"
#include "comm/ReplyCollector.h"
#include "comm/TransactionCodes.h"

#include <cstdint>
#include <string>
#include <vector>

// Job kinds of the worker thread.
enum JobKind : int32_t {
    JOB_NONE = 0,
    JOB_SINGLE_COMMAND = 1,
    JOB_PROPERTY = 2,
    JOB_BATCH = 3,
};

// The camera's identity lines as the "sta" query gives them.
struct CameraIdentity {
    std::u16string model; // "Model=", or "Type=" when there is no "Model="
    std::u16string version;
    std::u16string serial;
    bool Empty() const { return model.empty() && version.empty() && serial.empty(); }
    bool operator==(const CameraIdentity&) const = default;
    // "Model Ver. Serial", blanks between the parts that are there.
    std::u16string Text() const;
};

// One command transaction as it ended.
struct TransactionReport {
    std::u16string command;                 // as it went out, without the CR
    int32_t result = TRANSACTION_CANCELLED; // TRANSACTION_*
    int32_t status = 0;                     // STATUS_*
    int32_t replyCode = kNoReplyCode;       // kNoReplyCode, or the index of the reply-code table
    // The reply lines after the result line, each with its '>' (only of a complete reply).
    std::vector<std::u16string> replyLines;
    int64_t elapsedMs = 0; // from the send to the end
    // How many received bytes the transaction had read from the receive ring when it ended:
    // the console shows the traffic up to there together with the result.
    uint64_t receivedUpTo = 0;
    // Why the command was not sent at all (it would not have gone out as itself), or empty.
    std::u16string refusal;
    // The device the port lost during the transaction (it then ended as cancelled).
    std::u16string lostDevice;

    bool Ok() const { return result == TRANSACTION_OK && replyCode == kReplyCodeOk; }
    bool Lost() const { return !lostDevice.empty(); }
};

// How a job ended.
enum class JobOutcome {
    kDone,      // every command ran (a reply code other than OK included)
    kFailed,    // a transaction failed (send failed or receive time-out) and ended the job
    kCancelled, // Cancel receiving or Disconnect ended it
    kLost,      // the port's device went away
    kStopped,   // shutdown ended it
};

struct JobReport {
    JobKind kind = JOB_NONE;
    JobOutcome outcome = JobOutcome::kDone;
    size_t transactions = 0; // transactions run
    std::u16string lostDevice;
};

// A question only the user can answer: a message box. style holds the MB_* bits of
// base/Messages.h; the answer is IDOK, IDCANCEL, IDYES or IDNO, 0 when nobody could answer.
struct EngineQuestion {
    std::u16string text;
    std::u16string caption; // empty: the application's own
    uint32_t style = 0;
};

class IEngineEvents {
public:
    virtual ~IEngineEvents() = default;

    // ---- worker thread, in this order for each job
    // A job starts (the engine is busy from now on).
    virtual void JobStarted(JobKind) {}
    // A command goes out: the text as sent, its CR included, and how many bytes the receive
    // ring had been given before it (what arrives from then on came after the command).
    virtual void CommandSent(const std::u16string& /*text*/, uint64_t /*receivedBefore*/) {}
    // A transaction has ended (not called for one ended by shutdown). The engine composes the
    // next command of the job only after this returns.
    virtual void TransactionEnded(const TransactionReport&) {}
    // Between two commands of a job: received bytes should reach the console now.
    virtual void ConsoleFlushWanted() {}
    // Before each batch line, and once when the batch has ended (outcome other than kRunning).
    virtual void BatchProgressed(const BatchProgress&) {}
    // The job has ended and the engine is ready again.
    virtual void JobEnded(const JobReport&) {}

    // ---- the session: loss and return of the port's device (the client's thread, see
    // app/Session.h)
    // The connection was closed because its device went away.
    virtual void PortLost(const std::u16string& /*device*/) {}
    // The device came back and was connected again; identity is what "sta" answered then (empty
    // when it did not answer), before what it answered before the loss.
    virtual void PortReturned(const std::u16string& /*device*/, const CameraIdentity& /*identity*/,
                              const CameraIdentity& /*before*/) {}

    // ---- any thread
    // Bytes have arrived (the port's receive thread); the state the enable rules read has
    // changed (worker or client thread).
    virtual void BytesReceived() {}
    virtual void StateChanged() {}
    // Waits for the answer (worker or client thread).
    virtual int32_t Ask(const EngineQuestion&) { return 0; }
};
