// Code-page conversions between DOS 866 (OEM), Windows-1251 (ANSI) and UTF-8.
//
// The 866/1251 conversions are fixed tables, byte for byte what Windows gives
// with OEM code page 866 and ANSI code page 1251, so a table reads the same
// whatever code pages the machine itself is set to.  The UTF-8 side serves the
// POSIX user interface and the command-line tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hyl {

uint8_t oem_to_ansi_byte(uint8_t b);
uint8_t ansi_to_oem_byte(uint8_t b);
// In place, up to the text's NUL, as OemToCharA and CharToOemA do.
void oem_to_ansi(char* text);
void ansi_to_oem(char* text);

std::string ansi_to_utf8(std::string_view ansi);
// Characters that Windows-1251 cannot hold become '?'.
std::string utf8_to_ansi(std::string_view utf8);

// The next character of UTF-8 text at *AT; false at bytes that are not
// UTF-8 (overlong forms and surrogates included), leaving *AT as it was.
bool Utf8_Next(std::string_view text, std::size_t* at, char32_t* c);
void Utf8_Append(std::string& out, char32_t c);

// The code page 866 byte of a Unicode character, or -1 when 866 has none.
// 866 and 1251 hold different sets: the box-drawing characters are only in
// 866, the typographic quotes and dashes only in 1251.
int unicode_to_oem866(char32_t c);

// A text written in the source as UTF-8 and stored in Windows-1251, converted
// while compiling: the library's messages are quoted byte for byte in 1251.
template <std::size_t N>
struct Ansi1251Text {
    char bytes[N] = {};
    constexpr operator const char*() const { return bytes; }
    constexpr const char* c_str() const { return bytes; }
};

namespace detail {
consteval uint8_t unicode_to_1251(char32_t c) {
    if (c < 0x80) return static_cast<uint8_t>(c);
    if (c >= 0x410 && c <= 0x44F) return static_cast<uint8_t>(c - 0x410 + 0xC0);
    if (c == 0x401) return 0xA8;  // Ё
    if (c == 0x451) return 0xB8;  // ё
    if (c == 0x2116) return 0xB9; // №
    throw "character has no Windows-1251 form";
}
}  // namespace detail

template <std::size_t N>
consteval Ansi1251Text<N> cp1251(const char8_t (&utf8)[N]) {
    Ansi1251Text<N> out{};
    std::size_t o = 0;
    for (std::size_t i = 0; i + 1 < N;) {
        char32_t c = utf8[i];
        int extra = 0;
        if (c >= 0xF0) { c &= 0x07; extra = 3; }
        else if (c >= 0xE0) { c &= 0x0F; extra = 2; }
        else if (c >= 0xC0) { c &= 0x1F; extra = 1; }
        ++i;
        for (int k = 0; k < extra; ++k, ++i) c = (c << 6) | (utf8[i] & 0x3F);
        out.bytes[o++] = static_cast<char>(detail::unicode_to_1251(c));
    }
    return out;
}

}  // namespace hyl
