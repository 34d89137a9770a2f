#include "platform/codepage.h"

namespace hyl {

#include "platform/codepage_tables.inc"

uint8_t oem_to_ansi_byte(uint8_t b) { return kOem866ToAnsi1251[b]; }
uint8_t ansi_to_oem_byte(uint8_t b) { return kAnsi1251ToOem866[b]; }

void oem_to_ansi(char* text) {
    if (!text) return;
    for (; *text; ++text) *text = static_cast<char>(kOem866ToAnsi1251[static_cast<uint8_t>(*text)]);
}

void ansi_to_oem(char* text) {
    if (!text) return;
    for (; *text; ++text) *text = static_cast<char>(kAnsi1251ToOem866[static_cast<uint8_t>(*text)]);
}

std::string ansi_to_utf8(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size() * 2);
    for (char ch : ansi) {
        auto b = static_cast<uint8_t>(ch);
        Utf8_Append(out, b < 0x80 ? char32_t{b} : char32_t{kAnsi1251HighToUnicode[b - 0x80]});
    }
    return out;
}

std::string utf8_to_ansi(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t c = 0xFFFD;
        // A byte that is not UTF-8 is a character 1251 lacks.
        if (!Utf8_Next(utf8, &i, &c)) ++i;
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        char mapped = '?';
        for (int b = 0; b < 128; ++b) {
            if (kAnsi1251HighToUnicode[b] == c && c != 0xFFFD) {
                mapped = static_cast<char>(0x80 + b);
                break;
            }
        }
        out += mapped;
    }
    return out;
}

// Unicode code points of code page 866 bytes 0x80-0xFF.
static constexpr uint16_t kOem866HighToUnicode[128] = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};

int unicode_to_oem866(char32_t c) {
    if (c < 0x80) return static_cast<int>(c);
    for (int b = 0; b < 128; ++b)
        if (kOem866HighToUnicode[b] == c) return 0x80 + b;
    return -1;
}

bool Utf8_Next(std::string_view s, std::size_t* at, char32_t* c) {
    const std::size_t i = *at;
    const auto lead = static_cast<unsigned char>(s[i]);
    int extra = 0;
    char32_t least = 0, value = 0;
    if (lead < 0x80) {
        *c = lead;
        *at = i + 1;
        return true;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, value = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, value = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, value = lead & 0x07, least = 0x10000;
    } else {
        return false;
    }
    for (int k = 1; k <= extra; ++k) {
        if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        value = (value << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    *c = value;
    *at = i + static_cast<std::size_t>(extra) + 1;
    return true;
}

void Utf8_Append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace hyl
