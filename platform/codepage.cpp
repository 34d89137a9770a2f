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

static void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string ansi_to_utf8(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size() * 2);
    for (char ch : ansi) {
        auto b = static_cast<uint8_t>(ch);
        append_utf8(out, b < 0x80 ? char32_t{b} : char32_t{kAnsi1251HighToUnicode[b - 0x80]});
    }
    return out;
}

std::string utf8_to_ansi(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        auto lead = static_cast<uint8_t>(utf8[i]);
        char32_t c = lead;
        int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        if (extra) c = lead & (0x3F >> extra);
        ++i;
        for (int k = 0; k < extra && i < utf8.size(); ++k, ++i)
            c = (c << 6) | (static_cast<uint8_t>(utf8[i]) & 0x3F);
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

}  // namespace hyl
