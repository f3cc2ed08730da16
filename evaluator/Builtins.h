// Process-wide tables of the evaluator: character classes and built-in functions.
#pragma once

#include "evaluator/NameTable.h"

#include <cstdint>

namespace tallix {

enum CharClass : int32_t {
    kClassInvalid = 0,
    kClassLetter = 1,
    kClassDigit = 2,
    kClassSpace = 4,
    kClassOperator = 8,
    kClassQuote = 16,
    kClassEnd = 127,
};

// Function of a one-argument record.
using MathFunction = double (*)(double);
// Function of a call record: the argument values, the string arguments (null when none) and the
// place of the result; returns null or an error text.
using CallFunction = const char* (*)(int32_t count, const double* args, NameTable* strings,
                                     double* result);

// Indices in the built-in function table.
enum BuiltinIndex : int32_t {
    kBuiltinRound = 13,
    kBuiltinNeg = 17,
    kBuiltinE = 18,
    kBuiltinPi = 19,
    kBuiltinCount = 20,
};

struct Builtins {
    int32_t charClass[256];
    NameTable functions{8, 20}; // payload: the function address

    Builtins();
};

// Built once, on first use (the first parser of the process); safe to reach from several threads.
const Builtins& GetBuiltins();

MathFunction FunctionAt(const Builtins& builtins, int32_t index);
CallFunction CallAt(const Builtins& builtins, int32_t index);

double Neg(double x);

} // namespace tallix
