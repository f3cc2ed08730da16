// Waits of the widget tests and tools: WaitUntil with Qt's event loop running between tries.
// Header only, so the support library itself needs no Qt.
#pragma once

#include "support/Deadline.h"

#include <QCoreApplication>
#include <QEventLoop>

inline bool WaitProcessingEvents(const std::function<bool()>& done,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return WaitUntil(done, timeout,
                     [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
}
