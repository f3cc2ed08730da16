#include "evaluator/SymTable.h"

#include <cstring>
#include <new>

namespace tallix {

namespace {

// Two-character operators first, so that they are tried before their one-character prefixes.
constexpr char kMathDefinition[] = "\x1b"
                                   "2"
                                   "<<>>**<>>=<=&&||/*:="
                                   "\x1b"
                                   "1"
                                   "(+-*/%$^~&|=><?:),;";

} // namespace

CSymTable::CSymTable(const char* definition) {
    // First pass: count the entries of every list; second pass: fill them.
    int32_t counts[256] = {};
    for (int pass = 0; pass < 2; ++pass) {
        int32_t filled[256] = {};
        int32_t length = 1;
        int32_t code = 0;
        const char* p = definition;
        while (*p != '\0') {
            if (*p == kEscape) {
                ++p;
                length = 0;
                while (*p >= '0' && *p <= '9')
                    length = length * 10 + (*p++ - '0');
                if (length < 1 || length > 3)
                    break; // a broken definition ends the table here
                continue;
            }
            if (std::strlen(p) < static_cast<size_t>(length))
                break;
            const auto first = static_cast<unsigned char>(*p);
            if (pass == 0) {
                ++counts[first];
            } else {
                SymEntry& entry = lists_[first][filled[first]++];
                std::memset(entry.text, 0, sizeof entry.text);
                std::memcpy(entry.text, p, static_cast<size_t>(length));
                entry.length = length;
                entry.code = code;
                entry.more = filled[first] < counts[first];
            }
            ++code;
            p += length;
        }
        if (pass == 0) {
            for (int c = 0; c < 256; ++c)
                if (counts[c] > 0)
                    lists_[c] = new (std::nothrow) SymEntry[static_cast<size_t>(counts[c])];
            for (int c = 0; c < 256; ++c) {
                if (counts[c] > 0 && lists_[c] == nullptr) {
                    // Out of memory at load time: no operator is known rather than a broken list.
                    for (SymEntry*& list : lists_) {
                        delete[] list;
                        list = nullptr;
                    }
                    return;
                }
            }
        }
    }
}

CSymTable::~CSymTable() {
    for (SymEntry*& list : lists_) {
        delete[] list;
        list = nullptr;
    }
}

const SymEntry* CSymTable::Match(const char* p) const {
    const SymEntry* entry = lists_[static_cast<unsigned char>(*p)];
    if (entry == nullptr)
        return nullptr;
    for (;; ++entry) {
        int32_t i = 0;
        while (i < entry->length && p[i] == entry->text[i])
            ++i;
        if (i == entry->length)
            return entry;
        if (!entry->more)
            return nullptr;
    }
}

CMathSymTable::CMathSymTable() : CSymTable(kMathDefinition) {}

namespace {
const CMathSymTable gMathSymbols; // built when the library is loaded, released when unloaded
} // namespace

const CMathSymTable& MathSymbols() {
    return gMathSymbols;
}

} // namespace tallix
