// The value an item of the property grid holds, and its text forms. No Qt here: the grid and
// the tests share these rules.
//
// Integer items hold a signed 64-bit integer, Bool items a signed 32-bit integer, Float items a
// double, and every other item a text. The remaining integer kinds exist so the grid treats
// every integer width alike.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

using PropValue = std::variant<std::monostate, int16_t, uint16_t, int32_t, uint32_t, int64_t,
                               uint64_t, double, std::u16string>;

namespace propvalue {

// True for the integer kinds (16, 32 and 64 bits, signed or unsigned).
bool IsInteger(const PropValue& value);
// True for the kinds an in-place edit can change: integers, doubles and texts.
bool IsEditable(const PropValue& value);

// The integer held, converted to int64 (unsigned 64-bit values above INT64_MAX give
// INT64_MAX); 0 for the other kinds.
int64_t AsInt64(const PropValue& value);
// The double held, or the integer held as a double; 0.0 for the other kinds.
double AsDouble(const PropValue& value);

// Display text: 64-bit signed values as "%lld", unsigned as "%llu", the other integers in
// decimal, doubles as "%lf" (six decimals, always with a full stop whatever the locale), texts
// as they are, an empty value as an empty text.
std::u16string Format(const PropValue& value);

// Reads `text` into a value of the kind `value` already holds and stores it there.
//   integers: leading blanks skipped, optional sign, decimal digits up to the first other
//             character; no digits give 0; a number beyond the kind's range is held at the
//             kind's nearest bound;
//   doubles:  leading blanks skipped, the longest decimal number at the start (a full stop as
//             decimal point); none gives 0.0;
//   texts:    taken as they are.
// Returns false only for an empty value (nothing to convert to).
bool FromText(PropValue& value, std::u16string_view text);

// Stores an integer in the kind `value` holds (wrapping to that width, as a cast does).
// Nothing happens for kinds that are not integers.
void StoreInteger(PropValue& value, int64_t number);

// Reads a signed 64-bit decimal number as FromText does.
int64_t ParseInt64(std::u16string_view text);

// The 32-bit range a 64-bit range is shown with: min raised to INT32_MIN when below it, max
// lowered to INT32_MAX when above it.
int32_t ClampToInt32(int64_t v);

} // namespace propvalue
