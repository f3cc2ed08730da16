// The evaluator's error texts.
#pragma once

namespace tallix {

inline constexpr const char kErrBrackets[] = "#Brackets not match!";
inline constexpr const char kErrSyntax[] = "#Syntax error!";
inline constexpr const char kErrUnknownFormat[] = "# %.*s - Unknown function/variable!";
inline constexpr const char kErrExtraOperation[] = "#Extra operation!";
inline constexpr const char kErrTooBig[] = "#Value too big for operation!";
inline constexpr const char kErrInfinity[] = "#Infinity somewhere!";
inline constexpr const char kErrLogical[] = "#Logical expression error!";
inline constexpr const char kErrParamCount[] = "#Invalid parameters count for function call!";
inline constexpr const char kErrInternal[] = "#Internal error!";
inline constexpr const char kErrUnexpectedEnd[] = "#Unexpected end of script!";
inline constexpr const char kErrNameOrReturn[] = "#Variable name or return expected!";
inline constexpr const char kErrAssignment[] = "#Assignment expected!";
// An expression that needs more than the fixed operator or value stack.
inline constexpr const char kErrTooComplex[] = "#Expression too complex!";

// Longest part of a name quoted in the unknown-name text.
inline constexpr int kUnknownNameMax = 255;

} // namespace tallix
