// The code families of the communication engine (comm/CommunicateModel.h): transaction phases
// and statuses, transaction results and the submit verbs' refusals. The engine keeps and hands
// them out as int32_t (its atomics, the result display, the command-line tool's output), so
// each value stays what it is.
#pragma once

#include <cstdint>

// Transaction phases.
enum TransactionPhase : int32_t {
    PHASE_NOT_CONNECTED = -1,
    PHASE_IDLE = 0,
    PHASE_SENDING = 1,
    PHASE_WAIT_FIRST = 2,
    PHASE_RECEIVING = 3,
};

// Transaction statuses (the outcome of the last transaction).
enum TransactionStatus : int32_t {
    STATUS_SENDING = 1,
    STATUS_REPLY_COMPLETE = 4,
    STATUS_RECEIVE_TIMEOUT = 5,
    STATUS_RECEIVE_CANCELLED = 6,
    STATUS_SEND_FAILED = 7,
};

// Transaction and command-step results.
enum TransactionResult : int32_t {
    TRANSACTION_OK = 0,
    TRANSACTION_SEND_FAILED = 1,
    TRANSACTION_TIMEOUT = 5,
    TRANSACTION_CANCELLED = 10,
};

// Refusals of the submit verbs (SUBMIT_OK: the job was handed to the worker).
enum SubmitResult : int32_t {
    SUBMIT_OK = 0,
    SUBMIT_NOT_CONNECTED = 1, // no connection, or it is being closed
    SUBMIT_BUSY = 2,          // a job runs or waits for the worker
    SUBMIT_NO_WORKER = 3,     // no worker thread or no job event
    SUBMIT_STALE_RECORD = 4,  // the property record is not one of the loaded definition
    SUBMIT_DECLINED = 5,      // the user declined the confirmation
    // The user confirmed, and a job started while the question was open: the caller submits
    // again later, confirmed, so the user is not asked twice.
    SUBMIT_BUSY_CONFIRMED = 6,
};
