#include "evaluator/Builtins.h"

#include "evaluator/Errors.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace tallix {

namespace {

double Atan(double x) {
    return std::atan(x);
}
double Cos(double x) {
    return std::cos(x);
}
double Sin(double x) {
    return std::sin(x);
}
double Tan(double x) {
    return std::tan(x);
}
double Abs(double x) {
    return std::fabs(x);
}
double Exp(double x) {
    return std::exp(x);
}
double Ln(double x) {
    return std::log(x);
}
double Lg(double x) {
    return std::log10(x);
}
double Sqrt(double x) {
    return std::sqrt(x);
}
double Trunc(double x) {
    return x >= 0 ? std::floor(x) : std::ceil(x);
}
// The fractional part keeps the sign of x, also when it is zero (FRAC(-3) is -0).
double Frac(double x) {
    double whole;
    return std::modf(x, &whole);
}
double Floor(double x) {
    return std::floor(x);
}
double Ceil(double x) {
    return std::ceil(x);
}
double Asin(double x) {
    return std::asin(x);
}
double Acos(double x) {
    return std::acos(x);
}
double Sgn(double x) {
    return x > 0 ? 1.0 : (x < 0 ? -1.0 : 0.0);
}
double ConstE(double) {
    return 2.718281828459045;
}
double ConstPi(double) {
    return 3.141592653589793;
}

// Truncates toward zero to a 32-bit integer; out-of-range values saturate, NaN gives 0.
int64_t TruncateToInt32(double x) {
    if (!(x == x))
        return 0;
    if (x >= 2147483647.0)
        return 2147483647;
    if (x <= -2147483648.0)
        return -2147483648LL;
    return static_cast<int64_t>(x);
}

// Multiplies (or divides) x by c, count times. Once x is zero, infinite or NaN further steps
// cannot change it, so a huge count ends early with the same result.
double Scale(double x, double c, int64_t count, bool divide) {
    for (int64_t i = 0; i < count && x != 0 && std::isfinite(x); ++i)
        x = divide ? x / c : x * c;
    return x;
}

// ROUND(x) or ROUND(x, n): half away from zero to n decimal places.
const char* Round(int32_t count, const double* args, NameTable*, double* result) {
    if (count != 1 && count != 2)
        return kErrParamCount;
    double x = args[0];
    const int64_t n = count == 2 ? TruncateToInt32(args[1]) : 0;
    const int64_t m = n < 0 ? -n : n;
    const double c = n < 0 ? 0.1 : 10.0;
    x = Scale(x, c, m, false);
    const double sum = x >= 0 ? x + 0.5 : x + -0.5;
    x = sum >= 0 ? std::floor(sum) : std::ceil(sum);
    *result = Scale(x, c, m, true);
    return nullptr;
}

struct FunctionDef {
    const char* name;
    MathFunction function;
    CallFunction call;
};

const FunctionDef kFunctions[kBuiltinCount] = {
    {"ATAN", Atan, nullptr}, {"COS", Cos, nullptr},     {"SIN", Sin, nullptr},
    {"TAN", Tan, nullptr},   {"ABS", Abs, nullptr},     {"EXP", Exp, nullptr},
    {"LN", Ln, nullptr},     {"LG", Lg, nullptr},       {"SQRT", Sqrt, nullptr},
    {"FRAC", Frac, nullptr}, {"TRUNC", Trunc, nullptr}, {"FLOOR", Floor, nullptr},
    {"CEIL", Ceil, nullptr}, {"ROUND", nullptr, Round}, {"ASIN", Asin, nullptr},
    {"ACOS", Acos, nullptr}, {"SGN", Sgn, nullptr},     {"NEG", Neg, nullptr},
    {"E", ConstE, nullptr},  {"PI", ConstPi, nullptr},
};

} // namespace

double Neg(double x) {
    return -x;
}

Builtins::Builtins() {
    for (int32_t& c : charClass)
        c = kClassInvalid;
    for (int c = 'A'; c <= 'Z'; ++c)
        charClass[c] = kClassLetter;
    for (int c = 'a'; c <= 'z'; ++c)
        charClass[c] = kClassLetter;
    charClass[static_cast<unsigned char>('_')] = kClassLetter;
    for (int c = '0'; c <= '9'; ++c)
        charClass[c] = kClassDigit;
    for (unsigned char c : {' ', '\t', '\n', '\r'})
        charClass[c] = kClassSpace;
    for (const char* p = "+-/*^~()<>%$,?:=&|;"; *p != '\0'; ++p)
        charClass[static_cast<unsigned char>(*p)] = kClassOperator;
    charClass[static_cast<unsigned char>('\'')] = kClassQuote;
    charClass[0] = kClassEnd;

    for (const FunctionDef& def : kFunctions) {
        // The payload is the function's address; the call function of ROUND is kept the same way.
        void* address = def.call != nullptr ? reinterpret_cast<void*>(def.call)
                                            : reinterpret_cast<void*>(def.function);
        functions.Add(def.name, static_cast<int32_t>(std::strlen(def.name)), &address);
    }
}

const Builtins& GetBuiltins() {
    static const Builtins builtins;
    return builtins;
}

MathFunction FunctionAt(const Builtins& builtins, int32_t index) {
    void* address;
    std::memcpy(&address, builtins.functions.PayloadAt(index), sizeof address);
    return reinterpret_cast<MathFunction>(address);
}

CallFunction CallAt(const Builtins& builtins, int32_t index) {
    void* address;
    std::memcpy(&address, builtins.functions.PayloadAt(index), sizeof address);
    return reinterpret_cast<CallFunction>(address);
}

} // namespace tallix
