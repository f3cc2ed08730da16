// Fuzzes Tallix_Parse through the exports. The input is split at the first byte 0x01: the part
// before it gives the values of the variables A, B, C, X (8 bytes each, zero-filled, so every bit
// pattern including NaN, infinities and the rejected value is reached); the rest is the text. An
// input without 0x01 is all text with fixed variables.
//
// Checked beyond the sanitizers: an error text begins with '#', an expression's failure leaves the
// out value unchanged, and a second evaluation of the same text on the same parser gives the same
// outcome bit for bit.
#include "evaluator/Tallix.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    double values[4] = {3.0, -2.5, 0.0, 1e10};
    const char* text = reinterpret_cast<const char*>(data);
    const void* split = size > 0 ? std::memchr(data, 0x01, size) : nullptr;
    if (split != nullptr) {
        const size_t head = static_cast<size_t>(static_cast<const uint8_t*>(split) - data);
        unsigned char bytes[sizeof values] = {};
        std::memcpy(bytes, data, head < sizeof bytes ? head : sizeof bytes);
        std::memcpy(values, bytes, sizeof values);
        text += head + 1;
        size -= head + 1;
    }
    const std::string formula(text, size); // stops at an embedded NUL like any caller's text

    TallixParser* parser = Tallix_Alloc();
    Check(parser != nullptr);
    const char* names[4] = {"A", "B", "C", "X"};
    for (int i = 0; i < 4; ++i) {
        void* payload = nullptr;
        if (Tallix_IndexOf(parser, names[i], &payload) < 0)
            Tallix_AddString(parser, names[i], &values[i]);
        else
            Tallix_Replace(parser, names[i], &values[i]);
    }

    const bool script = formula.rfind("#!", 0) == 0;
    double first = 12345.0;
    const char* error = Tallix_Parse(parser, formula.c_str(), &first);
    std::string firstError;
    if (error != nullptr) {
        Check(error[0] == '#');
        firstError = error;
        if (!script)
            Check(first == 12345.0);
    }

    double second = 12345.0;
    error = Tallix_Parse(parser, formula.c_str(), &second);
    Check((error == nullptr) == firstError.empty());
    if (error != nullptr)
        Check(firstError == error);
    Check(std::memcmp(&first, &second, sizeof first) == 0);

    Tallix_Free(parser);
    return 0;
}
