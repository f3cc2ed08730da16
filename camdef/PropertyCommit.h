// How a typed value becomes the value a property stores, the same for the window's editors and
// quillon-cli's set: the step and range of an Integer, the length of a String, the entry of a
// Selection.
#pragma once

#include "camdef/CamProperty.h"

#include <cstdint>
#include <string>
#include <string_view>

struct IntegerCommit {
    int64_t value = 0;
    bool adjusted = false; // the value differs from the typed one (step, maximum or minimum)
};

// The value an Integer property stores for the typed value v: a value that is not a multiple
// of inc becomes inc * (v / inc), the division truncated toward zero; then it is cut to max and
// raised to min. An inc of 0 makes no step adjustment (every value counts as a multiple).
IntegerCommit CommitInteger(int64_t v, int64_t min, int64_t max, int64_t inc);

// The typed text cut to `length` characters (UTF-16 units; a negative length counts as 0; a
// character of two units is not split but left out whole). Returns true when it was cut.
bool CutToLength(std::u16string& text, int64_t length);

// Index of the first entry whose text equals `text` exactly, -1 when none does.
int FindEntryByText(const clCamPropertySelection& record, std::u16string_view text);
