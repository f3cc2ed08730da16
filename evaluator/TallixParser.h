// The evaluator's parser object: the caller's variables and the state of one evaluation.
#pragma once

#include "evaluator/Builtins.h"
#include "evaluator/NameTable.h"

#include <cstddef>
#include <cstdint>

namespace tallix {

// One entry of the operator stack.
struct OperatorRecord {
    int32_t kind;          // operator code, kFunction or kCall
    MathFunction function; // for kFunction
    CallFunction call;     // for kCall
    int8_t valueMark;      // for kCall: index of the top value when the record was pushed
    NameTable* strings;    // for kCall: the string arguments, null until the first one
};

enum class TokenKind { End, Number, Identifier, Operator, String, Error };

struct Token {
    TokenKind kind;
    int32_t code;   // operator code
    double number;  // value of a number
    char* start;    // identifier or string text (inside the parser's text copy)
    int32_t length; // its length
};

} // namespace tallix

struct TallixParser {
public:
    static constexpr int kOperatorStackSize = 64;
    static constexpr int kValueStackSize = 64;

    explicit TallixParser(const tallix::Builtins& builtins) : builtins_(builtins) {}
    ~TallixParser();
    TallixParser(const TallixParser&) = delete;
    TallixParser& operator=(const TallixParser&) = delete;

    tallix::NameTable& Variables() { return variables_; }

    // Evaluates the text; see Tallix_Parse.
    const char* Parse(const char* text, double* result);

private:
    const char* CopyText(const char* text);
    const char* RunScript(double* result);
    const char* EvaluateExpression(double& result);
    const char* CheckBrackets() const;
    tallix::Token NextToken();
    const char* ResolveIdentifier(const tallix::Token& token);
    const char* ApplyTop();
    const char* ApplyUntilOpen(const char* emptyError);
    const char* PushValue(double value);
    const char* PushRecord(int32_t kind);
    void ReleaseRecords();

    const tallix::Builtins& builtins_;
    tallix::NameTable variables_{8, 20};
    tallix::NameTable scriptVariables_{8, 20};

    char* text_ = nullptr;          // copy of the caller's text
    size_t textCapacity_ = 0;       // bytes allocated for it
    const char* textEnd_ = nullptr; // its terminating NUL
    const char* pos_ = nullptr;
    bool script_ = false;

    tallix::OperatorRecord operators_[kOperatorStackSize];
    int opTop_ = -1;
    double values_[kValueStackSize];
    int valueTop_ = -1;
};
