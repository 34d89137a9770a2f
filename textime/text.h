// Text helpers over single-byte, NUL-terminated Windows-1251 texts: the
// library's own lower-case table, a case-insensitive comparison of leading
// characters, and reading a number out of a field's text.
#pragma once

#include <cstdint>

namespace hyl {

// Lower-case forms in Windows-1251: A-Z, А-Щ and Ы-Я change (57 entries);
// Ъ (0xDA) and Ё (0xA8) stay as they are.
extern const uint8_t LVLowerTable[256];

// In place; length 0 means the text's own length.  Returns the bytes mapped.
int32_t LVToLower(char* text, int32_t length);
// 0 when equal over n characters (n = 0: the second text's length), letters
// compared without regard to case; -1 for a null or empty first text, 0 for a
// null or empty second one; otherwise the difference of the first differing
// bytes, first minus second.
int32_t LVPrefixCompare(const char* first, const char* second, int32_t n);
// The number that begins at the first minus sign or digit, or at a point
// directly before a digit when only blanks and a plus sign precede it (".5"
// is 0.5, "No.7" is 7), at full double precision; 0.0 when none.
double LVParseNumber(const char* text);
// The same over a text of known length that need not be NUL-terminated.
double LVParseNumberN(const char* text, int32_t length);

}  // namespace hyl
