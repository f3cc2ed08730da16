#include "evaluator/NameTable.h"

#include <cstdlib>
#include <cstring>

namespace tallix {

int32_t NameTable::Add(const char* name, int32_t length, const void* payload) {
    if (length < 0)
        return -1;
    if (count_ == capacity_) {
        const int32_t grown = GrownCapacity(capacity_);
        if (grown <= capacity_)
            return -1;
        void* moved = std::realloc(entries_, sizeof(Entry) * static_cast<size_t>(grown));
        if (moved == nullptr)
            return -1;
        entries_ = static_cast<Entry*>(moved);
        capacity_ = grown;
    }
    char* copy = static_cast<char*>(std::malloc(length > 0 ? static_cast<size_t>(length) : 1));
    if (copy == nullptr)
        return -1;
    if (length > 0)
        std::memcpy(copy, name, static_cast<size_t>(length));
    Entry& entry = entries_[count_];
    entry.name = copy;
    entry.length = length;
    std::memset(entry.payload, 0, sizeof entry.payload);
    if (payload != nullptr && payloadSize_ > 0)
        std::memcpy(entry.payload, payload, static_cast<size_t>(payloadSize_));
    return count_++;
}

int32_t NameTable::IndexOf(const char* name, int32_t length) const {
    for (int32_t i = 0; i < count_; ++i) {
        const Entry& entry = entries_[i];
        if (entry.length == length &&
            std::memcmp(entry.name, name, static_cast<size_t>(length)) == 0)
            return i;
    }
    return -1;
}

double NameTable::ValueAt(int32_t index) const {
    double value;
    std::memcpy(&value, entries_[index].payload, sizeof value);
    return value;
}

void NameTable::SetValueAt(int32_t index, double value) {
    std::memcpy(entries_[index].payload, &value, sizeof value);
}

void NameTable::Clear() {
    for (int32_t i = 0; i < count_; ++i)
        std::free(entries_[i].name);
    count_ = 0;
}

void NameTable::Release() {
    Clear();
    std::free(entries_);
    entries_ = nullptr;
    capacity_ = 0;
}

} // namespace tallix
