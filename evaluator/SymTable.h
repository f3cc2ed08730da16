// Operator tables: one list of operator entries per first character, built from a definition
// string.
#pragma once

#include <cstdint>

namespace tallix {

struct SymEntry {
    char text[4];   // the operator's characters (up to three used)
    int32_t length; // 1 to 3
    int32_t code;   // operator code, numbered from 0 in the order of the definition string
    bool more;      // another entry of the same list follows
};

// Builds its lists from a definition string: the escape byte 27 followed by a decimal number
// sets the length of the entries that follow; every following group of that many characters is
// one operator. Within a list the entries keep the order of the string, so defining the longer
// operators first makes the longest operator win.
class CSymTable {
public:
    static constexpr char kEscape = 27;

    explicit CSymTable(const char* definition);
    virtual ~CSymTable();
    CSymTable(const CSymTable&) = delete;
    CSymTable& operator=(const CSymTable&) = delete;

    // The first entry whose characters all match the text at p, or null.
    const SymEntry* Match(const char* p) const;

private:
    SymEntry* lists_[256] = {};
};

// The evaluator's operators with their codes.
class CMathSymTable : public CSymTable {
public:
    CMathSymTable();
    ~CMathSymTable() override = default;
};

// Operator codes; 29 and 30 are the record kinds of one-argument functions and calls.
enum OperatorCode : int32_t {
    kShiftLeft = 0,
    kShiftRight,
    kPower,
    kNotEqual,
    kGreaterEqual,
    kLessEqual,
    kLogicalAnd,
    kLogicalOr,
    kCommentStart,
    kAssign,
    kOpen,
    kPlus,
    kMinus,
    kMultiply,
    kDivide,
    kRemainder,
    kCeilDivide,
    kBitXor,
    kComplement,
    kBitAnd,
    kBitOr,
    kEqual,
    kGreater,
    kLess,
    kQuestion,
    kColon,
    kClose,
    kComma,
    kStatementEnd,
    kFunction,
    kCall,
    kOperatorCodeCount
};

// Binding priority of each operator code and record kind; higher binds tighter.
inline constexpr uint8_t kPriority[kOperatorCodeCount] = {5, 5, 5, 2, 2, 2, 2,   2, 255, 255, 0,
                                                          3, 3, 4, 4, 4, 4, 5,   5, 5,   5,   2,
                                                          2, 2, 1, 2, 0, 2, 255, 6, 6};

// The table built when the library is loaded.
const CMathSymTable& MathSymbols();

} // namespace tallix
