/*
 * Tallix: expression evaluator library (libTallix.so).
 *
 * Turns a formula or a small script, written in 8-bit text, into one double. The caller creates
 * a parser, registers named variables (8-byte payloads, doubles for formulas), evaluates texts and
 * frees the parser.
 *
 * Ownership: a parser belongs to the caller from Tallix_Alloc until Tallix_Free. Every text the
 * library returns (the error texts of Tallix_Parse) belongs to the library: the constant texts live
 * as long as the library is loaded; the unknown-name text ("# NAME - Unknown function/variable!")
 * lives in a buffer of the calling thread and stays valid until the next unknown-name error on
 * that thread.
 *
 * Errors: no export throws or aborts; failures are reported through the result (null parser,
 * -1 index, error text).
 *
 * Threads: the library takes no locks. Each parser is used by one thread at a time; different
 * parsers may be used on different threads at the same time.
 */
#ifndef TALLIX_H
#define TALLIX_H

#include <stdint.h>

#if defined(TALLIX_BUILDING_LIBRARY)
#define TALLIX_API __attribute__((visibility("default")))
#else
#define TALLIX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One evaluation context: the caller's variable table and the evaluation state. */
typedef struct TallixParser TallixParser;

/* Creates an empty parser; null when memory is exhausted. */
TALLIX_API TallixParser* Tallix_Alloc(void);

/* Releases the parser with its variables and text copy; a null parser is ignored. */
TALLIX_API void Tallix_Free(TallixParser* parser);

/* Appends a variable named by the NUL-terminated name with a copy of the 8 payload bytes (a
 * double for formulas). A null payload sets the payload to zero. No duplicate check: a second
 * entry of an existing name is kept, and every lookup finds the first. */
TALLIX_API void Tallix_AddString(TallixParser* parser, const char* name, const void* payload);

/* Index of the first variable of that name (compared byte for byte, case-sensitive) and the
 * address of its payload through *payload; -1 and a null address when there is none. The address
 * stays valid until the next Tallix_AddString or Tallix_Clear. */
TALLIX_API int32_t Tallix_IndexOf(TallixParser* parser, const char* name, void** payload);

/* Overwrites the payload of the first variable of that name with the 8 payload bytes and returns
 * its index; -1 when there is none (nothing is added). */
TALLIX_API int32_t Tallix_Replace(TallixParser* parser, const char* name, const void* payload);

/* Removes every variable; the parser stays usable. */
TALLIX_API void Tallix_Clear(TallixParser* parser);

/* Evaluates the text. Null or empty text: stores 0.0 and returns null. Success: stores the result
 * and returns null. Failure: returns an error text beginning with '#'; *result is then left
 * unchanged by an expression and holds the value of the last completed assignment of a script.
 * Identifiers of the text are looked up in upper case, so only variables registered in upper case
 * are ever found. */
TALLIX_API const char* Tallix_Parse(TallixParser* parser, const char* text, double* result);

#ifdef __cplusplus
}
#endif

#endif /* TALLIX_H */
