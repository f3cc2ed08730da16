#include "evaluator/TallixParser.h"

#include "evaluator/Errors.h"
#include "evaluator/SymTable.h"

#include <bit>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>

using namespace tallix;

namespace {

// Value pushed for a string literal (the argument value a call function sees for it):
// -1.68376462823243e+308.
constexpr double kStringMarker = std::bit_cast<double>(0xFFEDF8D55649E2BBull);
// A variable holding exactly this value cannot be used: -1.68736462823243e+308.
constexpr double kRejectedValue = std::bit_cast<double>(0xFFEE093D05FA254Cull);

// One unknown-name text per thread, valid until that thread's next unknown-name error.
thread_local char tUnknownName[kUnknownNameMax + sizeof kErrUnknownFormat];

bool InInt32Range(double x) {
    return x >= -2147483648.0 && x <= 2147483647.0;
}
// Truncates toward zero; only for values within the 32-bit range.
int32_t ToInt32(double x) {
    return static_cast<int32_t>(x);
}

// Decimal numbers out of the double range: the same result as strtod in the "C" locale.
double ConvertOutOfRange(const char* start) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (cLocale == static_cast<locale_t>(nullptr))
        return std::strtod(start, nullptr);
    return strtod_l(start, nullptr, cLocale);
}

} // namespace

TallixParser::~TallixParser() {
    ReleaseRecords();
    std::free(text_);
}

void TallixParser::ReleaseRecords() {
    for (int i = 0; i <= opTop_; ++i) {
        delete operators_[i].strings;
        operators_[i].strings = nullptr;
    }
    opTop_ = -1;
}

const char* TallixParser::CopyText(const char* text) {
    const size_t size = std::strlen(text) + 1;
    if (size > textCapacity_) {
        std::free(text_);
        text_ = static_cast<char*>(std::malloc(size));
        textCapacity_ = text_ != nullptr ? size : 0;
        if (text_ == nullptr)
            return kErrInternal;
    }
    std::memcpy(text_, text, size);
    textEnd_ = text_ + (size - 1);
    return nullptr;
}

const char* TallixParser::Parse(const char* text, double* result) {
    double ignored = 0.0;
    if (result == nullptr)
        result = &ignored;
    if (text == nullptr || text[0] == '\0') {
        *result = 0.0;
        return nullptr;
    }
    if (const char* error = CopyText(text))
        return error;
    const int32_t* cls = builtins_.charClass;
    script_ = text_[0] == '#' && text_[1] == '!' &&
              cls[static_cast<unsigned char>(text_[2])] == kClassSpace;
    const char* error;
    if (script_) {
        pos_ = text_ + 3;
        error = RunScript(result);
        scriptVariables_.Release();
    } else {
        pos_ = text_;
        double value;
        error = EvaluateExpression(value);
        if (error == nullptr)
            *result = value;
    }
    ReleaseRecords();
    return error;
}

const char* TallixParser::RunScript(double* result) {
    for (;;) {
        Token token = NextToken();
        if (token.kind == TokenKind::End)
            return kErrUnexpectedEnd;
        if (token.kind == TokenKind::Operator)
            return kErrAssignment;
        if (token.kind != TokenKind::Identifier)
            return kErrSyntax;
        for (int32_t i = 0; i < token.length; ++i)
            if (token.start[i] >= 'a' && token.start[i] <= 'z')
                token.start[i] = static_cast<char>(token.start[i] - 'a' + 'A');
        double value;
        if (token.length == 6 && std::memcmp(token.start, "RETURN", 6) == 0) {
            const char* error = EvaluateExpression(value);
            if (error == nullptr)
                *result = value;
            return error;
        }
        const Token name = token;
        token = NextToken();
        if (token.kind == TokenKind::End)
            return kErrUnexpectedEnd;
        if (token.kind == TokenKind::Identifier)
            return kErrNameOrReturn;
        if (token.kind == TokenKind::Operator && token.code != kAssign)
            return kErrAssignment;
        if (token.kind != TokenKind::Operator)
            return kErrSyntax;
        if (const char* error = EvaluateExpression(value))
            return error;
        const int32_t index = scriptVariables_.IndexOf(name.start, name.length);
        if (index >= 0)
            scriptVariables_.SetValueAt(index, value);
        else if (scriptVariables_.Add(name.start, name.length, &value) < 0)
            return kErrInternal;
        *result = value;
    }
}

const char* TallixParser::CheckBrackets() const {
    int depth = 0;
    for (const char* p = pos_; *p != '\0'; ++p) {
        if (*p == ';' && script_)
            break;
        if (*p == '(') {
            ++depth;
        } else if (*p == ')') {
            if (--depth < 0)
                return kErrBrackets;
        }
    }
    return depth == 0 ? nullptr : kErrBrackets;
}

Token TallixParser::NextToken() {
    const int32_t* cls = builtins_.charClass;
    for (;;) {
        while (cls[static_cast<unsigned char>(*pos_)] == kClassSpace)
            ++pos_;
        const char* start = pos_;
        switch (cls[static_cast<unsigned char>(*start)]) {
        case kClassLetter: {
            const char* p = start + 1;
            while (cls[static_cast<unsigned char>(*p)] == kClassLetter ||
                   cls[static_cast<unsigned char>(*p)] == kClassDigit)
                ++p;
            pos_ = p;
            return {TokenKind::Identifier, 0, 0.0, text_ + (start - text_),
                    static_cast<int32_t>(p - start)};
        }
        case kClassDigit: {
            if (start[0] == '0' && start[1] == 'x') {
                const char* p = start + 2;
                int64_t value = 0;
                bool any = false;
                for (;; ++p) {
                    int digit;
                    if (*p >= '0' && *p <= '9')
                        digit = *p - '0';
                    else if (*p >= 'a' && *p <= 'f')
                        digit = *p - 'a' + 10;
                    else if (*p >= 'A' && *p <= 'F')
                        digit = *p - 'A' + 10;
                    else
                        break;
                    any = true;
                    value = value * 16 + digit;
                    if (value > 2147483647)
                        value = 2147483647;
                }
                if (any) {
                    pos_ = p;
                    return {TokenKind::Number, 0, static_cast<double>(value), nullptr, 0};
                }
                pos_ = start + 1; // a lone "0"; the "x" starts the next token
                return {TokenKind::Number, 0, 0.0, nullptr, 0};
            }
            double value = 0.0;
            const std::from_chars_result read =
                std::from_chars(start, textEnd_, value, std::chars_format::general);
            if (read.ec == std::errc::result_out_of_range)
                value = ConvertOutOfRange(start);
            pos_ = read.ptr;
            return {TokenKind::Number, 0, value, nullptr, 0};
        }
        case kClassOperator: {
            const SymEntry* entry = MathSymbols().Match(start);
            if (entry == nullptr)
                return {TokenKind::Error, 0, 0.0, nullptr, 0};
            if (entry->code == kCommentStart) {
                const char* close = std::strstr(start + 2, "*/");
                if (close == nullptr) {
                    pos_ = textEnd_;
                    return {TokenKind::Error, 0, 0.0, nullptr, 0};
                }
                pos_ = close + 2;
                continue;
            }
            pos_ = start + entry->length;
            return {TokenKind::Operator, entry->code, 0.0, nullptr, 0};
        }
        case kClassQuote: {
            const char* close = std::strchr(start + 1, '\'');
            if (close == nullptr) {
                pos_ = textEnd_;
                return {TokenKind::Error, 0, 0.0, nullptr, 0};
            }
            pos_ = close + 1;
            return {TokenKind::String, 0, 0.0, text_ + (start + 1 - text_),
                    static_cast<int32_t>(close - start - 1)};
        }
        case kClassEnd:
            return {TokenKind::End, 0, 0.0, nullptr, 0};
        default:
            return {TokenKind::Error, 0, 0.0, nullptr, 0};
        }
    }
}

const char* TallixParser::PushValue(double value) {
    if (valueTop_ + 1 >= kValueStackSize)
        return kErrTooComplex;
    values_[++valueTop_] = value;
    return nullptr;
}

const char* TallixParser::PushRecord(int32_t kind) {
    if (opTop_ + 1 >= kOperatorStackSize)
        return kErrTooComplex;
    OperatorRecord& record = operators_[++opTop_];
    record.kind = kind;
    record.function = nullptr;
    record.call = nullptr;
    record.valueMark = 0;
    record.strings = nullptr;
    return nullptr;
}

const char* TallixParser::ResolveIdentifier(const Token& token) {
    char* name = token.start;
    for (int32_t i = 0; i < token.length; ++i)
        if (name[i] >= 'a' && name[i] <= 'z')
            name[i] = static_cast<char>(name[i] - 'a' + 'A');

    const int32_t builtin = builtins_.functions.IndexOf(name, token.length);
    if (builtin >= 0) {
        if (builtin == kBuiltinE || builtin == kBuiltinPi)
            return PushValue(FunctionAt(builtins_, builtin)(0.0));
        if (builtin == kBuiltinRound) {
            if (const char* error = PushRecord(kCall))
                return error;
            operators_[opTop_].call = CallAt(builtins_, builtin);
            operators_[opTop_].valueMark = static_cast<int8_t>(valueTop_);
            return nullptr;
        }
        if (const char* error = PushRecord(kFunction))
            return error;
        operators_[opTop_].function = FunctionAt(builtins_, builtin);
        return nullptr;
    }

    const NameTable* table = &variables_;
    int32_t index = variables_.IndexOf(name, token.length);
    if (index < 0 && script_) {
        table = &scriptVariables_;
        index = scriptVariables_.IndexOf(name, token.length);
    }
    if (index >= 0) {
        const double value = table->ValueAt(index);
        if (value == kRejectedValue)
            return kErrInternal;
        return PushValue(value);
    }

    const int shown = token.length < kUnknownNameMax ? token.length : kUnknownNameMax;
    std::snprintf(tUnknownName, sizeof tUnknownName, kErrUnknownFormat, shown, name);
    return tUnknownName;
}

const char* TallixParser::ApplyTop() {
    const OperatorRecord record = operators_[opTop_--];
    double result;
    if (record.kind == kCall) {
        // An operator inside the call may have taken values from below the mark: then there are
        // no arguments at all, and no call accepts a negative count.
        const int count = valueTop_ - record.valueMark;
        const char* error = count < 0 ? kErrParamCount
                                      : record.call(count, values_ + (record.valueMark + 1),
                                                    record.strings, &result);
        delete record.strings;
        if (error != nullptr)
            return error;
        valueTop_ = record.valueMark;
        return PushValue(result);
    }
    if (record.kind == kQuestion)
        return nullptr;

    if (valueTop_ < 0)
        return kErrExtraOperation;
    const double b = values_[valueTop_--];
    if (record.kind == kComplement) {
        if (!InInt32Range(b))
            return kErrTooBig;
        return PushValue(static_cast<double>(~ToInt32(b)));
    }
    if (record.kind == kFunction)
        return PushValue(record.function(b));

    if (valueTop_ < 0)
        return kErrExtraOperation;
    const double a = values_[valueTop_--];
    switch (record.kind) {
    case kShiftLeft:
    case kShiftRight:
    case kBitXor:
    case kBitAnd:
    case kBitOr: {
        if (!InInt32Range(a) || !InInt32Range(b))
            return kErrTooBig;
        const int32_t x = ToInt32(a);
        const int32_t y = ToInt32(b);
        const unsigned shift = static_cast<uint32_t>(y) & 31u;
        switch (record.kind) {
        case kShiftLeft:
            result = static_cast<int32_t>(static_cast<uint32_t>(x) << shift);
            break;
        case kShiftRight:
            result = x >> shift;
            break;
        case kBitXor:
            result = x ^ y;
            break;
        case kBitAnd:
            result = x & y;
            break;
        default:
            result = x | y;
            break;
        }
        break;
    }
    case kPower:
        result = std::pow(a, b);
        break;
    case kNotEqual:
        result = a != b ? 1.0 : 0.0;
        break;
    case kGreaterEqual:
        result = a >= b ? 1.0 : 0.0;
        break;
    case kLessEqual:
        result = a <= b ? 1.0 : 0.0;
        break;
    case kGreater:
        result = a > b ? 1.0 : 0.0;
        break;
    case kLess:
        result = a < b ? 1.0 : 0.0;
        break;
    case kEqual:
        result = a == b ? 1.0 : 0.0;
        break;
    case kLogicalAnd:
        result = a == 0 ? 0.0 : (b != 0 ? 1.0 : 0.0);
        break;
    case kLogicalOr:
        result = (a != 0 || b != 0) ? 1.0 : 0.0;
        break;
    case kPlus:
        result = a + b;
        break;
    case kMinus:
        result = a - b;
        break;
    case kMultiply:
        result = a * b;
        break;
    case kDivide:
        if (b == 0)
            return kErrInfinity;
        result = a / b;
        break;
    case kRemainder:
        result = std::fmod(a, b);
        break;
    case kCeilDivide:
        if (!(a > 0)) {
            result = 0.0;
        } else {
            if (b == 0)
                return kErrInfinity;
            result = std::ceil(a / b);
        }
        break;
    case kColon: {
        if (opTop_ < 0 || operators_[opTop_].kind != kQuestion)
            return kErrLogical;
        --opTop_;
        if (valueTop_ < 0)
            return kErrExtraOperation;
        const double condition = values_[valueTop_--];
        result = condition != 0 ? a : b;
        break;
    }
    default:
        return kErrInternal;
    }
    return PushValue(result);
}

const char* TallixParser::ApplyUntilOpen(const char* emptyError) {
    while (opTop_ >= 0 && operators_[opTop_].kind != kOpen)
        if (const char* error = ApplyTop())
            return error;
    if (opTop_ < 0)
        return emptyError;
    --opTop_;
    return nullptr;
}

const char* TallixParser::EvaluateExpression(double& result) {
    if (const char* error = CheckBrackets())
        return error;
    ReleaseRecords();
    valueTop_ = -1;
    PushRecord(kOpen);
    int sign = 2;
    for (;;) {
        const Token token = NextToken();
        if (sign > 0)
            --sign;
        const char* error = nullptr;
        switch (token.kind) {
        case TokenKind::Number:
            error = PushValue(token.number);
            break;
        case TokenKind::Identifier:
            error = ResolveIdentifier(token);
            break;
        case TokenKind::String: {
            if (opTop_ < 1 || operators_[opTop_ - 1].kind != kCall)
                return kErrSyntax;
            OperatorRecord& call = operators_[opTop_ - 1];
            if (call.strings == nullptr) {
                call.strings = new (std::nothrow) NameTable(0, 12);
                if (call.strings == nullptr)
                    return kErrInternal;
            }
            if (call.strings->Add(token.start, token.length, nullptr) < 0)
                return kErrInternal;
            error = PushValue(kStringMarker);
            break;
        }
        case TokenKind::Operator:
            switch (token.code) {
            case kOpen:
                error = PushRecord(kOpen);
                sign = 2;
                break;
            case kClose:
                error = ApplyUntilOpen(kErrBrackets);
                break;
            case kComma:
                if ((error = ApplyUntilOpen(kErrBrackets)) != nullptr)
                    break;
                if (opTop_ < 0 || operators_[opTop_].kind != kCall)
                    return kErrSyntax;
                error = PushRecord(kOpen);
                sign = 2;
                break;
            case kStatementEnd:
                if (!script_)
                    return kErrSyntax;
                goto finish;
            default:
                if ((token.code == kPlus || token.code == kMinus) && sign >= 1) {
                    if (token.code == kMinus) {
                        error = PushRecord(kFunction);
                        if (error == nullptr)
                            operators_[opTop_].function = FunctionAt(builtins_, kBuiltinNeg);
                    }
                    break;
                }
                if (token.code == kQuestion || token.code == kColon)
                    sign = 2;
                while (opTop_ >= 0 && kPriority[operators_[opTop_].kind] >= kPriority[token.code])
                    if ((error = ApplyTop()) != nullptr)
                        return error;
                error = PushRecord(token.code);
                break;
            }
            break;
        case TokenKind::End:
            goto finish;
        default:
            return kErrSyntax;
        }
        if (error != nullptr)
            return error;
    }

finish:
    if (const char* error = ApplyUntilOpen(kErrInternal))
        return error;
    if (opTop_ >= 0 || valueTop_ != 0)
        return kErrInternal;
    result = values_[0];
    return nullptr;
}
