#include "textime/text.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

namespace hyl {
namespace {

constexpr bool folds(int b) {
    return (b >= 0x41 && b <= 0x5A) || (b >= 0xC0 && b <= 0xD9) || (b >= 0xDB && b <= 0xDF);
}

struct LowerTable {
    uint8_t bytes[256];
    constexpr LowerTable() : bytes() {
        for (int b = 0; b < 256; ++b) bytes[b] = static_cast<uint8_t>(folds(b) ? b + 0x20 : b);
    }
};
constexpr LowerTable kLower;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

const uint8_t LVLowerTable[256] = {
#define ROW(r) kLower.bytes[r + 0], kLower.bytes[r + 1], kLower.bytes[r + 2], kLower.bytes[r + 3], \
    kLower.bytes[r + 4], kLower.bytes[r + 5], kLower.bytes[r + 6], kLower.bytes[r + 7],            \
    kLower.bytes[r + 8], kLower.bytes[r + 9], kLower.bytes[r + 10], kLower.bytes[r + 11],          \
    kLower.bytes[r + 12], kLower.bytes[r + 13], kLower.bytes[r + 14], kLower.bytes[r + 15]
    ROW(0x00), ROW(0x10), ROW(0x20), ROW(0x30), ROW(0x40), ROW(0x50), ROW(0x60), ROW(0x70),
    ROW(0x80), ROW(0x90), ROW(0xA0), ROW(0xB0), ROW(0xC0), ROW(0xD0), ROW(0xE0), ROW(0xF0),
#undef ROW
};

int32_t LVToLower(char* text, int32_t length) {
    if (!text) return 0;
    if (length == 0) length = static_cast<int32_t>(std::strlen(text));
    for (int32_t i = 0; i < length; ++i)
        text[i] = static_cast<char>(LVLowerTable[static_cast<uint8_t>(text[i])]);
    return length < 0 ? 0 : length;
}

int32_t LVPrefixCompare(const char* first, const char* second, int32_t n) {
    if (!first || !*first) return -1;
    if (!second || !*second) return 0;
    const int32_t second_length = static_cast<int32_t>(std::strlen(second));
    if (n == 0) n = second_length;
    // Compared in place through the lower-case table: the same answer as
    // lowering copies of both, without taking them.
    for (int32_t i = 0; i < n; ++i) {
        uint8_t a = LVLowerTable[static_cast<uint8_t>(first[i])];
        uint8_t b = i < second_length ? LVLowerTable[static_cast<uint8_t>(second[i])] : 0;
        if (a != b) return static_cast<int32_t>(a) - static_cast<int32_t>(b);
        if (a == 0) return 0;
    }
    return 0;
}

double LVParseNumberN(const char* text, int32_t length) {
    if (!text || length <= 0) return 0.0;
    // A point begins the number only as the first thing in the text after
    // blanks and a plus sign (".5", "  +.25"): after anything else it ends an
    // abbreviation, and "No.7", "д.12" and "v.1.5" hold 7, 12 and 1.5.
    int32_t i = 0;
    bool at_front = true;  // nothing but blanks and at most one plus sign so far
    bool signed_front = false;
    for (; i < length && text[i]; ++i) {
        char c = text[i];
        if (c == '-' || is_digit(c)) break;
        if (c == '.' && at_front && i + 1 < length && is_digit(text[i + 1])) break;
        if (c == '+' && at_front && !signed_front)
            signed_front = true;
        else if (c != ' ' || signed_front)
            at_front = false;
    }
    // The number: sign, digits, point and digits, exponent.
    const int32_t start = i;
    int32_t p = i;
    auto within = [&](int32_t k) { return k < length && text[k] != '\0'; };
    bool negative = false;
    if (within(p) && text[p] == '-') {
        negative = true;
        ++p;
    }
    uint64_t whole = 0;
    int whole_digits = 0;
    int digits = 0;
    while (within(p) && is_digit(text[p])) {
        if (whole_digits < 18) whole = whole * 10 + static_cast<uint64_t>(text[p] - '0');
        ++whole_digits;
        ++p;
    }
    digits = whole_digits;
    bool simple = true;
    if (within(p) && text[p] == '.') {
        int32_t q = p + 1;
        int frac = 0;
        while (within(q) && is_digit(text[q])) {
            ++q;
            ++frac;
        }
        if (frac > 0 || digits > 0) {
            if (frac > 0) simple = false;
            digits += frac;
            p = q;
        }
    }
    if (digits == 0) return 0.0;
    if (within(p) && (text[p] == 'e' || text[p] == 'E')) {
        int32_t q = p + 1;
        if (within(q) && (text[q] == '+' || text[q] == '-')) ++q;
        if (within(q) && is_digit(text[q])) {
            while (within(q) && is_digit(text[q])) ++q;
            p = q;
            simple = false;
        }
    }
    // Whole numbers of up to 15 digits are exact as integers; anything else
    // goes through a correctly rounded conversion, the same on every platform.
    if (simple && whole_digits <= 15) {
        double v = static_cast<double>(whole);
        return negative ? -v : v;
    }
    double value = 0.0;
    auto [end, error] = std::from_chars(text + start, text + p, value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        std::string number(text + start, text + p);
        return std::strtod(number.c_str(), nullptr);
    }
    return value;
}

double LVParseNumber(const char* text) {
    if (!text) return 0.0;
    return LVParseNumberN(text, static_cast<int32_t>(std::strlen(text)));
}

}  // namespace hyl
