// The library's exported C interface. Nothing thrown inside the library leaves it: every export
// runs its body through Guarded, which turns an exception into the export's failure result.
#include "evaluator/Tallix.h"

#include "evaluator/Builtins.h"
#include "evaluator/Errors.h"
#include "evaluator/TallixParser.h"

#include <atomic>
#include <cstring>
#include <new>

namespace {

// Parsers created in this process; never decreases.
std::atomic<long> gParsersCreated{0};

template <typename Result, typename Body>
Result Guarded(Result onFailure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return onFailure;
    }
}

template <typename Body>
void Guarded(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

int32_t NameLength(const char* name) {
    const size_t length = std::strlen(name);
    return length > 0x7fffffff ? -1 : static_cast<int32_t>(length);
}

} // namespace

extern "C" {

TallixParser* Tallix_Alloc(void) {
    return Guarded<TallixParser*>(nullptr, []() -> TallixParser* {
        // The first parser builds the process-wide tables (thread-safe static initialisation).
        const tallix::Builtins& builtins = tallix::GetBuiltins();
        TallixParser* parser = new (std::nothrow) TallixParser(builtins);
        if (parser != nullptr)
            gParsersCreated.fetch_add(1, std::memory_order_relaxed);
        return parser;
    });
}

void Tallix_Free(TallixParser* parser) {
    Guarded([parser] { delete parser; });
}

void Tallix_AddString(TallixParser* parser, const char* name, const void* payload) {
    if (parser == nullptr || name == nullptr)
        return;
    Guarded([&] { parser->Variables().Add(name, NameLength(name), payload); });
}

int32_t Tallix_IndexOf(TallixParser* parser, const char* name, void** payload) {
    return Guarded<int32_t>(-1, [&]() -> int32_t {
        if (payload != nullptr)
            *payload = nullptr;
        if (parser == nullptr || name == nullptr)
            return -1;
        tallix::NameTable& variables = parser->Variables();
        const int32_t index = variables.IndexOf(name, NameLength(name));
        if (index >= 0 && payload != nullptr)
            *payload = variables.PayloadAt(index);
        return index;
    });
}

int32_t Tallix_Replace(TallixParser* parser, const char* name, const void* payload) {
    return Guarded<int32_t>(-1, [&]() -> int32_t {
        if (parser == nullptr || name == nullptr)
            return -1;
        tallix::NameTable& variables = parser->Variables();
        const int32_t index = variables.IndexOf(name, NameLength(name));
        if (index >= 0 && payload != nullptr)
            std::memcpy(variables.PayloadAt(index), payload,
                        static_cast<size_t>(variables.PayloadSize()));
        return index;
    });
}

void Tallix_Clear(TallixParser* parser) {
    if (parser == nullptr)
        return;
    Guarded([parser] { parser->Variables().Clear(); });
}

const char* Tallix_Parse(TallixParser* parser, const char* text, double* result) {
    if (parser == nullptr)
        return tallix::kErrInternal;
    return Guarded<const char*>(tallix::kErrInternal, [&] { return parser->Parse(text, result); });
}

} // extern "C"
