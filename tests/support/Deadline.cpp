#include "support/Deadline.h"

#include <cstdlib>
#include <string>
#include <thread>

namespace {

// GCC names the sanitizers with macros of its own, clang answers __has_feature.
#if defined(__SANITIZE_THREAD__)
#define QUILLON_TEST_TSAN 1
#elif defined(__SANITIZE_ADDRESS__)
#define QUILLON_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUILLON_TEST_TSAN 1
#elif __has_feature(address_sanitizer)
#define QUILLON_TEST_ASAN 1
#endif
#endif

#if defined(QUILLON_TEST_TSAN)
constexpr int kBuildFactor = 10;
#elif defined(QUILLON_TEST_ASAN)
constexpr int kBuildFactor = 4;
#else
constexpr int kBuildFactor = 1;
#endif

int ReadFactor() {
    const char* text = std::getenv("QUILLON_TEST_DEADLINE_FACTOR");
    if (!text || !*text)
        return kBuildFactor;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value >= 1 && value <= 100 ? static_cast<int>(value) : kBuildFactor;
}

} // namespace

int DeadlineFactor() {
    static const int factor = ReadFactor();
    return factor;
}

std::chrono::milliseconds Scaled(std::chrono::milliseconds plain) {
    return plain * DeadlineFactor();
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
               const std::function<void()>& between) {
    const auto end = std::chrono::steady_clock::now() + Scaled(timeout);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        if (between)
            between();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
