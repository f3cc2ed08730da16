#include "camdef/PropertyCommit.h"

#include <algorithm>

IntegerCommit CommitInteger(int64_t v, int64_t min, int64_t max, int64_t inc) {
    IntegerCommit result{v, false};
    // Steps of 1 and -1 hold every value; leaving them out also keeps INT64_MIN / -1 (which
    // does not fit) from being computed.
    if (inc != 0 && inc != 1 && inc != -1 && v % inc != 0)
        result.value = inc * (v / inc);
    result.value = std::min(result.value, max);
    if (result.value < min)
        result.value = min;
    result.adjusted = result.value != v;
    return result;
}

bool CutToLength(std::u16string& text, int64_t length) {
    const uint64_t limit = length < 0 ? 0 : static_cast<uint64_t>(length);
    if (text.size() <= limit)
        return false;
    size_t keep = static_cast<size_t>(limit);
    // Never keep half of a surrogate pair.
    if (keep > 0 && text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF)
        --keep;
    text.resize(keep);
    return true;
}

int FindEntryByText(const clCamPropertySelection& record, std::u16string_view text) {
    const size_t count = std::min(record.entryTexts.size(), record.entryValues.size());
    for (size_t i = 0; i < count; ++i)
        if (record.entryTexts[i] == text)
            return static_cast<int>(i);
    return -1;
}
