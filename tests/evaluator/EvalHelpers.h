// Helpers of the evaluator tests: everything goes through the library's C exports.
#pragma once

#include "evaluator/Tallix.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace evaltest {

struct Outcome {
    std::optional<std::string> error; // empty on success
    double value = 0.0;               // the out value after the call
};

// Creates a parser, binds the variables the way the program does, evaluates, frees.
inline Outcome Evaluate(const char* text,
                        const std::vector<std::pair<const char*, double>>& variables = {},
                        double initial = 0.0) {
    TallixParser* parser = Tallix_Alloc();
    for (const auto& [name, value] : variables) {
        void* payload = nullptr;
        if (Tallix_IndexOf(parser, name, &payload) < 0)
            Tallix_AddString(parser, name, &value);
        else
            Tallix_Replace(parser, name, &value);
    }
    Outcome outcome;
    outcome.value = initial;
    if (const char* error = Tallix_Parse(parser, text, &outcome.value))
        outcome.error = error;
    Tallix_Free(parser);
    return outcome;
}

inline uint64_t Bits(double x) {
    return std::bit_cast<uint64_t>(x);
}

// Keeps the compiler from folding library calls at compile time, so expectations come from the
// same C library the evaluator calls at run time.
inline double Opaque(double x) {
    volatile double v = x;
    return v;
}

} // namespace evaltest
