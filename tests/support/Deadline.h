// Deadlines of the tests. A test waits on a condition until a deadline that is generous for a
// loaded two-core machine; every deadline is scaled by one factor, larger in sanitizer builds
// (their code runs several times slower). Lower bounds that check a real time-out are not
// scaled: the time-out itself is not.
#pragma once

#include <chrono>
#include <functional>

// 1 in a plain build, 4 under AddressSanitizer, 10 under ThreadSanitizer (found from the
// compiler's own macros, so every sanitizer build gets it). QUILLON_TEST_DEADLINE_FACTOR, a
// whole number from 1 to 100 in the environment, takes its place.
int DeadlineFactor();

// A deadline of `plain` in a plain build, scaled by DeadlineFactor().
std::chrono::milliseconds Scaled(std::chrono::milliseconds plain);
inline int ScaledMs(int plainMs) {
    return static_cast<int>(Scaled(std::chrono::milliseconds(plainMs)).count());
}

// Tries `done` every few milliseconds until it holds (true) or Scaled(timeout) has passed
// (false, after one last try). `between` runs between tries (a UI test processes its events).
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10),
               const std::function<void()>& between = {});
