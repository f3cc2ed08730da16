// Ordered table of named payloads: the variables of a parser, the built-in functions, the string
// arguments of a call and the variables of a script.
#pragma once

#include <cstdint>

namespace tallix {

class NameTable {
public:
    // Largest payload an entry holds.
    static constexpr int32_t kMaxPayload = 8;

    struct Entry {
        char* name;     // private copy of the name bytes, not terminated
        int32_t length; // name length in bytes
        alignas(8) unsigned char payload[kMaxPayload];
    };

    NameTable(int32_t payloadSize, int32_t entrySize)
        : payloadSize_(payloadSize), entrySize_(entrySize) {}
    ~NameTable() { Release(); }
    NameTable(const NameTable&) = delete;
    NameTable& operator=(const NameTable&) = delete;

    // Appends an entry with a copy of the name and of payloadSize payload bytes (zero when payload
    // is null). Returns its index, or -1 when memory is exhausted (the table is then unchanged).
    int32_t Add(const char* name, int32_t length, const void* payload);
    // Index of the first entry whose name equals the given bytes, -1 when there is none.
    int32_t IndexOf(const char* name, int32_t length) const;

    unsigned char* PayloadAt(int32_t index) { return entries_[index].payload; }
    const unsigned char* PayloadAt(int32_t index) const { return entries_[index].payload; }
    double ValueAt(int32_t index) const;
    void SetValueAt(int32_t index, double value);
    const Entry& At(int32_t index) const { return entries_[index]; }

    int32_t Count() const { return count_; }
    int32_t Capacity() const { return capacity_; }
    int32_t PayloadSize() const { return payloadSize_; }
    int32_t EntrySize() const { return entrySize_; }

    // Removes every entry and releases the names; the allocated entries are kept for reuse.
    void Clear();
    // Removes every entry and releases all memory of the table.
    void Release();

    // Capacity after growing a full table of the given capacity.
    static int32_t GrownCapacity(int32_t capacity) {
        return capacity <= 64 ? capacity + 16 : capacity + capacity / 4;
    }

private:
    int32_t count_ = 0;
    int32_t capacity_ = 0;
    int32_t payloadSize_;
    int32_t entrySize_;
    Entry* entries_ = nullptr;
};

} // namespace tallix
