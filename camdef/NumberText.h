// Numbers written as text in camera definitions and replies.
#pragma once

#include <cstdint>
#include <string_view>

namespace camdef {

// Integer text: leading white space skipped, one optional '+' or '-', then decimal digits (any
// Unicode decimal digit counts, full-width digits included) up to the first other character.
// Text that does not start a number reads 0. The number saturates at the bounds of a signed
// 32-bit value and is returned widened to 64 bits.
int64_t ParseIntegerText(std::u16string_view text);

// Float text: leading white space skipped, optional sign, digits, optional fraction, optional
// exponent, stopping at the first character that does not fit. Text that does not start a
// number reads 0.0; a number beyond the range of a double gives +-infinity.
double ParseFloatText(std::u16string_view text);

// Truncates toward zero; NaN and values outside the range of int64 give INT64_MIN (what the
// processor's conversion instruction yields).
int64_t TruncateToInt64(double value);

// Value of a Unicode decimal digit at `text[i]` (a surrogate pair counts as one character);
// -1 when it is not a decimal digit. `length` receives 1 or 2.
int DecimalDigitAt(std::u16string_view text, size_t i, size_t& length);

} // namespace camdef
