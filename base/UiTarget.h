// The core's window onto the user interface. The main window implements it with Qt; tests
// implement it with a recorder so the order of the messages of a job can be asserted.
#pragma once

#include <cstdint>

class IUiTarget {
public:
    virtual ~IUiTarget() = default;

    // Runs the main window's handler of msg and returns when it has finished: a direct call on
    // the user-interface thread, a blocking queued call from any other thread. Never issue it
    // from a thread the user-interface thread is waiting for.
    virtual intptr_t SendUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) = 0;

    // Queues msg for the main window and returns at once.
    virtual void PostUiMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) = 0;
};
